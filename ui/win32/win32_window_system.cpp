#include "ui/win32/win32_window_system.h"

#include "platform/win32/windows_shim.h"

#include <utility>

#include "ui/win32/native_text.h"
#include "ui/win32/win32_dialog_window.h"

namespace orvel::ui {
namespace {

// The NT family takes the wide calls; 95/98/Me export most of them only as stubs.
bool IsNtFamily() {
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof(info);
  return ::GetVersionExA(&info) != FALSE && info.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

UINT IconFlag(MessageBoxIcon icon) {
  switch (icon) {
    case MessageBoxIcon::Stop: return MB_ICONSTOP;
    case MessageBoxIcon::Exclamation: return MB_ICONEXCLAMATION;
    case MessageBoxIcon::Information: return MB_ICONINFORMATION;
  }
  return MB_ICONSTOP;
}

int ShowBox(bool wide, HWND owner, std::string_view text, std::string_view caption, UINT flags) {
  if (wide) return ::MessageBoxW(owner, Utf16FromUtf8(text).c_str(), Utf16FromUtf8(caption).c_str(), flags);
  return ::MessageBoxA(owner, Cp932FromUtf8(text).c_str(), Cp932FromUtf8(caption).c_str(), flags);
}

}  // namespace

Win32WindowSystem::Win32WindowSystem(std::string workingDirectory)
    : workingDirectory_(std::move(workingDirectory)), wide_(IsNtFamily()) {
  // The progress bar's window class (comctl32); any version has it.
  ::InitCommonControls();
}

Win32WindowSystem::~Win32WindowSystem() = default;

std::unique_ptr<DialogWindow> Win32WindowSystem::CreateDialogWindow(const DialogTemplate& tmpl, DialogEvents& events,
                                                                    DialogWindow* owner) {
  void* ownerHandle = owner != nullptr ? NativeHandle(*owner) : nullptr;
  if (ownerHandle == nullptr && !modal_.empty()) ownerHandle = modal_.back();
  auto window = std::make_unique<Win32DialogWindow>(*this, tmpl, events, ownerHandle);
  if (window->Handle() == nullptr) return nullptr;
  return window;
}

void Win32WindowSystem::MessageBox(DialogWindow* owner, std::string_view text, std::string_view caption,
                                   MessageBoxIcon icon) {
  void* ownerHandle = owner != nullptr ? NativeHandle(*owner) : nullptr;
  if (ownerHandle == nullptr && !modal_.empty()) ownerHandle = modal_.back();
  ShowBox(wide_, static_cast<HWND>(ownerHandle), text, caption, MB_OK | IconFlag(icon));
}

int Win32WindowSystem::IconWidth() { return ::GetSystemMetrics(SM_CXICON); }
int Win32WindowSystem::IconHeight() { return ::GetSystemMetrics(SM_CYICON); }

void ShowProgramText(std::string_view caption, std::string_view text, bool error) {
  const HANDLE out = ::GetStdHandle(error ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
  if (out != nullptr && out != INVALID_HANDLE_VALUE && ::GetFileType(out) != FILE_TYPE_UNKNOWN) {
    DWORD written = 0;
    ::WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    return;
  }
  ShowBox(IsNtFamily(), nullptr, text, caption, MB_OK | (error ? MB_ICONEXCLAMATION : MB_ICONINFORMATION));
}

}  // namespace orvel::ui
