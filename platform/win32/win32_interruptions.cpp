// Holding the console's Ctrl-C, Ctrl-Break and close while a drive is in its
// update mode. The system runs a console control handler on a thread of its
// own, so the thread that talks to the drive is never interrupted. Ctrl-C and
// Ctrl-Break are taken and remembered. A close, logoff or shutdown ends the
// process as soon as its handler returns (or when the system's time-out for
// it passes), so that handler does not return: the program goes on until the
// system's time-out (a few seconds), or until it has finished the attempt and
// acts on the close itself.

#include "platform/win32/windows_shim.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstddef>
#include <string_view>

#include "platform/platform.h"

namespace orvel {
namespace {

constexpr std::size_t kNoticeCapacity = 512;
// CTRL_C_EVENT is 0, which would read as "none": interruptions carry the event plus one.
constexpr Interruption kEventBase = 1;

std::array<char, kNoticeCapacity> noticeText{};
std::atomic<std::size_t> noticeLength{0};
std::atomic<bool> noticeWritten{false};
std::atomic<Interruption> firstHeld{0};
int depth = 0;  // the program's thread only

void WriteNoticeOnce() {
  if (noticeWritten.exchange(true)) return;
  const HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
  if (err == nullptr || err == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  ::WriteFile(err, noticeText.data(), static_cast<DWORD>(noticeLength.load()), &written, nullptr);
}

BOOL WINAPI OnConsoleControl(DWORD event) {
  Interruption expected = 0;
  firstHeld.compare_exchange_strong(expected, static_cast<Interruption>(event) + kEventBase);
  WriteNoticeOnce();
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) return TRUE;
  ::Sleep(INFINITE);
  return FALSE;
}

}  // namespace

void SetInterruptionNotice(std::string_view line) {
  const std::size_t length = std::min(line.size(), noticeText.size());
  std::copy_n(line.begin(), length, noticeText.begin());
  noticeLength.store(length);
}

void HoldInterruptions() {
  if (depth++ > 0) return;
  firstHeld.store(0);
  noticeWritten.store(false);
  ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

Interruption ReleaseInterruptions() {
  if (depth == 0) return 0;
  if (--depth > 0) return 0;
  ::SetConsoleCtrlHandler(OnConsoleControl, FALSE);
  return firstHeld.exchange(0);
}

void RaiseInterruption(Interruption interruption) {
  if (interruption <= 0) return;
  // What the system's own handler does with every console control event.
  ::ExitProcess(STATUS_CONTROL_C_EXIT);
}

}  // namespace orvel
