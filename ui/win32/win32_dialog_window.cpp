#include "ui/win32/win32_dialog_window.h"

#include "platform/win32/windows_shim.h"

#include <algorithm>
#include <set>
#include <string>

#include "platform/files.h"
#include "ui/text_order.h"
#include "ui/win32/dialog_template_ex.h"
#include "ui/win32/native_text.h"

namespace orvel::ui {
namespace {

constexpr int kDirectoryFailed = CB_ERR;
constexpr std::uint16_t kPositionMask = 0xFFF0;  // WM_SYSCOMMAND: the command without its bits

HWND H(void* hwnd) { return static_cast<HWND>(hwnd); }

// Shown by Windows Vista and later beside the program's name when a shutdown
// or logoff waits for it.
constexpr const wchar_t* kShutdownBlockReason =
    L"A drive's firmware is being rewritten. Turning the computer off now can leave the drive unusable.";

// Resolved at run time: Windows before Vista does not have them.
using ShutdownBlockReasonCreateEntry = BOOL(WINAPI*)(HWND, LPCWSTR);
using ShutdownBlockReasonDestroyEntry = BOOL(WINAPI*)(HWND);

template <typename Entry>
Entry UserEntry(const char* name) {
  const HMODULE user = ::GetModuleHandleA("USER32.DLL");
  if (user == nullptr) return nullptr;
  // Through the generic function type, which converts to any other.
  return reinterpret_cast<Entry>(reinterpret_cast<void (*)()>(::GetProcAddress(user, name)));
}

// The wide calls on the NT family, the narrow ones (text in code page 932) on 95/98/Me.
class Calls {
 public:
  explicit Calls(bool wide) : wide_(wide) {}

  LRESULT Send(HWND h, UINT message, WPARAM w = 0, LPARAM l = 0) const {
    return wide_ ? ::SendMessageW(h, message, w, l) : ::SendMessageA(h, message, w, l);
  }
  LRESULT SendText(HWND h, UINT message, WPARAM w, std::string_view text) const {
    if (wide_) {
      const std::wstring t = Utf16FromUtf8(text);
      return ::SendMessageW(h, message, w, reinterpret_cast<LPARAM>(t.c_str()));
    }
    const std::string t = Cp932FromUtf8(text);
    return ::SendMessageA(h, message, w, reinterpret_cast<LPARAM>(t.c_str()));
  }
  void SetText(HWND h, std::string_view text) const {
    if (wide_) {
      ::SetWindowTextW(h, Utf16FromUtf8(text).c_str());
    } else {
      ::SetWindowTextA(h, Cp932FromUtf8(text).c_str());
    }
  }
  std::string GetText(HWND h) const {
    if (wide_) {
      std::wstring buffer(static_cast<std::size_t>(::GetWindowTextLengthW(h)) + 1, L'\0');
      const int n = ::GetWindowTextW(h, buffer.data(), static_cast<int>(buffer.size()));
      buffer.resize(static_cast<std::size_t>(std::max(n, 0)));
      return Utf8FromUtf16(buffer);
    }
    std::string buffer(static_cast<std::size_t>(::GetWindowTextLengthA(h)) + 1, '\0');
    const int n = ::GetWindowTextA(h, buffer.data(), static_cast<int>(buffer.size()));
    buffer.resize(static_cast<std::size_t>(std::max(n, 0)));
    return Utf8FromCp932(buffer);
  }
  // An item of a combo box's list.
  std::string ComboItem(HWND h, int index) const {
    const LRESULT length = Send(h, CB_GETLBTEXTLEN, static_cast<WPARAM>(index));
    if (length == CB_ERR) return {};
    if (wide_) {
      std::wstring buffer(static_cast<std::size_t>(length) + 1, L'\0');
      const LRESULT n = ::SendMessageW(h, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(buffer.data()));
      buffer.resize(static_cast<std::size_t>(std::max<LRESULT>(n, 0)));
      return Utf8FromUtf16(buffer);
    }
    std::string buffer(static_cast<std::size_t>(length) + 1, '\0');
    const LRESULT n = ::SendMessageA(h, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(buffer.data()));
    buffer.resize(static_cast<std::size_t>(std::max<LRESULT>(n, 0)));
    return Utf8FromCp932(buffer);
  }
  BOOL Peek(MSG* msg) const {
    return wide_ ? ::PeekMessageW(msg, nullptr, 0, 0, PM_REMOVE) : ::PeekMessageA(msg, nullptr, 0, 0, PM_REMOVE);
  }
  BOOL Get(MSG* msg) const { return wide_ ? ::GetMessageW(msg, nullptr, 0, 0) : ::GetMessageA(msg, nullptr, 0, 0); }
  BOOL IsDialogMessage(HWND dialog, MSG* msg) const {
    return wide_ ? ::IsDialogMessageW(dialog, msg) : ::IsDialogMessageA(dialog, msg);
  }
  void Dispatch(const MSG* msg) const {
    if (wide_) {
      ::DispatchMessageW(msg);
    } else {
      ::DispatchMessageA(msg);
    }
  }
  void Post(HWND h, UINT message) const {
    if (wide_) {
      ::PostMessageW(h, message, 0, 0);
    } else {
      ::PostMessageA(h, message, 0, 0);
    }
  }

 private:
  bool wide_;
};

bool InRange(UINT message, UINT first, UINT last) { return message >= first && message <= last; }

// The operator's input: keys, the mouse in the client area, the input method.
bool IsInput(UINT message) {
  return InRange(message, WM_KEYFIRST, WM_KEYLAST) || InRange(message, WM_MOUSEFIRST, WM_MOUSELAST) ||
         InRange(message, WM_IME_STARTCOMPOSITION, WM_IME_KEYLAST) || message == WM_IME_CHAR ||
         message == WM_IME_KEYDOWN || message == WM_IME_KEYUP;
}

bool IsNonClientMouse(UINT message) {
  return InRange(message, WM_NCMOUSEMOVE, WM_NCMBUTTONDBLCLK) || InRange(message, WM_NCXBUTTONDOWN, WM_NCXBUTTONDBLCLK);
}

}  // namespace

// The dialog procedure: finds the window object and lets it answer.
struct DialogProcedure {
  static INT_PTR CALLBACK Run(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
      auto* self = reinterpret_cast<Win32DialogWindow*>(lParam);
      ::SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
      self->hwnd_ = hwnd;
      return FALSE;  // the dialog layer puts the focus where it belongs
    }
    auto* self = reinterpret_cast<Win32DialogWindow*>(::GetWindowLongPtrA(hwnd, DWLP_USER));
    if (self == nullptr) return FALSE;
    if (message == WM_NCDESTROY) {
      ::SetWindowLongPtrA(hwnd, DWLP_USER, 0);
      self->hwnd_ = nullptr;
      return FALSE;
    }
    std::intptr_t result = 0;
    if (!self->OnMessage(message, wParam, lParam, &result)) return FALSE;
    return static_cast<INT_PTR>(result);
  }
};

// The paint handler's view of one WM_PAINT. The dialog's own painting (its
// background, and validating the region) comes first, then the handler: a
// dialog does not clip its controls out of its own painting, so a logo copied
// into the frame before it would be painted over at once.
class Win32DialogWindow::Painter final : public PaintContext {
 public:
  explicit Painter(Win32DialogWindow& w) : w_(w), hwnd_(H(w.hwnd_)) { dc_ = ::BeginPaint(hwnd_, &ps_); }
  ~Painter() override {
    if (dc_ != nullptr) ::EndPaint(hwnd_, &ps_);
  }
  Painter(const Painter&) = delete;
  Painter& operator=(const Painter&) = delete;

  bool Minimized() override { return ::IsIconic(hwnd_) != FALSE; }
  int ClientWidth() override { return Client().right; }
  int ClientHeight() override { return Client().bottom; }
  void EraseIconBackground() override {
    Calls(w_.system_.Wide()).Send(hwnd_, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(Open()));
  }
  void DrawIcon(int x, int y, const Bitmap& icon) override {
    if (void* h = w_.IconHandle(icon)) ::DrawIcon(Open(), x, y, static_cast<HICON>(h));
  }
  void BlitToControl(int controlId, const Bitmap& bitmap, int width, int height) override {
    const HWND control = ::GetDlgItem(hwnd_, controlId);
    if (control == nullptr || bitmap.resourceId == 0) return;
    const HBITMAP picture = ::LoadBitmapA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(bitmap.resourceId));
    if (picture == nullptr) return;  // no such resource: nothing is drawn
    const HDC target = ::GetDC(control);
    const HDC memory = ::CreateCompatibleDC(target);
    const HGDIOBJ previous = ::SelectObject(memory, picture);
    ::BitBlt(target, 0, 0, width, height, memory, 0, 0, SRCCOPY);
    ::SelectObject(memory, previous);
    ::DeleteObject(picture);
    ::DeleteDC(memory);
    ::ReleaseDC(control, target);
  }

 private:
  HDC Open() const { return dc_; }
  RECT Client() const {
    RECT r{};
    ::GetClientRect(hwnd_, &r);
    return r;
  }
  Win32DialogWindow& w_;
  HWND hwnd_;
  PAINTSTRUCT ps_{};
  HDC dc_ = nullptr;
};

Win32DialogWindow::Win32DialogWindow(Win32WindowSystem& system, const DialogTemplate& tmpl, DialogEvents& events,
                                     void* owner)
    : system_(system), tmpl_(tmpl), events_(events), owner_(owner) {
  const std::vector<std::uint16_t> bytes = BuildDialogTemplateEx(tmpl_);
  const HINSTANCE module = ::GetModuleHandleA(nullptr);
  const LPARAM self = reinterpret_cast<LPARAM>(this);
  // hwnd_ is set by WM_INITDIALOG, before the call returns.
  if (system_.Wide()) {
    ::CreateDialogIndirectParamW(module, reinterpret_cast<LPCDLGTEMPLATEW>(bytes.data()), H(owner_),
                                 &DialogProcedure::Run, self);
  } else {
    ::CreateDialogIndirectParamA(module, reinterpret_cast<LPCDLGTEMPLATEA>(bytes.data()), H(owner_),
                                 &DialogProcedure::Run, self);
  }
}

Win32DialogWindow::~Win32DialogWindow() {
  DropShutdownReason();
  if (ownerDisabled_) ::EnableWindow(H(owner_), TRUE);
  if (hwnd_ != nullptr) ::DestroyWindow(H(hwnd_));
}

void* Win32DialogWindow::ControlHandle(int id) const {
  return hwnd_ != nullptr ? ::GetDlgItem(H(hwnd_), id) : nullptr;
}

const ControlTemplate* Win32DialogWindow::Find(int id) const {
  for (const ControlTemplate& c : tmpl_.controls) {
    if (c.id == id && id >= 0) return &c;
  }
  return nullptr;
}

void* Win32DialogWindow::IconHandle(const Bitmap& icon) const {
  if (icon.resourceId == 0) return nullptr;
  // Standard icon loading: the system's icon size; shared, so never destroyed.
  return ::LoadIconA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(icon.resourceId));
}

// ---- messages -------------------------------------------------------------

bool Win32DialogWindow::OnMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam,
                                  std::intptr_t* result) {
  switch (message) {
    case WM_COMMAND:
      OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<void*>(lParam));
      *result = TRUE;
      return true;
    case WM_CLOSE:
      // The close box and Alt+F4: the cancel path, unless busy.
      if (busy_) {
        ++discarded_;
      } else {
        CancelPath();
      }
      *result = TRUE;
      return true;
    case WM_SYSCOMMAND:
      if (busy_ && (wParam & kPositionMask) == SC_CLOSE) {
        ++discarded_;
        *result = TRUE;
        return true;
      }
      return false;
    case WM_PAINT: {
      ++paintCount_;
      Painter painter(*this);
      events_.OnPaintRequest(painter);
      *result = TRUE;
      return true;
    }
    case WM_CTLCOLORSTATIC:
      // A picture frame paints no background of its own: the dialog draws into it.
      if (const ControlTemplate* c = Find(::GetDlgCtrlID(reinterpret_cast<HWND>(lParam)));
          c != nullptr && (c->style & PictureFrame) != 0) {
        *result = reinterpret_cast<std::intptr_t>(::GetStockObject(NULL_BRUSH));
        return true;
      }
      return false;
    case WM_QUERYENDSESSION:
      // A logoff or shutdown asked for while busy is refused: ending the
      // program now would cut a rewrite short.
      if (!busy_) return false;
      ::SetWindowLongPtrA(H(hwnd_), DWLP_MSGRESULT, FALSE);
      *result = TRUE;
      return true;
    case WM_QUERYDRAGICON:
      *result = reinterpret_cast<std::intptr_t>(bigIcon_);
      return true;
    default:
      return false;
  }
}

void Win32DialogWindow::OnCommand(int id, int code, void* control) {
  if (ended_) return;
  if (control == nullptr) {
    // Not from a control: Enter and Escape as the dialog manager sends them.
    if (id == IDOK) {
      events_.OnOkCommand();
    } else if (id == IDCANCEL) {
      CancelPath();
    }
    return;
  }
  const ControlTemplate* c = Find(id);
  if (c == nullptr) return;
  switch (c->kind) {
    case ControlKind::PushButton:
    case ControlKind::CheckBox:
    case ControlKind::RadioButton:
      if (code != BN_CLICKED) return;
      if (id == IDCANCEL) {
        CancelPath();  // also Escape, which comes as the Close button's click
      } else {
        events_.OnButtonClicked(id);
      }
      return;
    case ControlKind::ComboBox:
      if (code == CBN_SELCHANGE) events_.OnSelectionChanged(id);
      return;
    default:
      return;
  }
}

void Win32DialogWindow::CancelPath() {
  if (ended_ || busy_) return;
  // A disabled Close button cannot be clicked; Escape and the close box respect it.
  if (const HWND cancel = ::GetDlgItem(H(hwnd_), IDCANCEL); cancel != nullptr && !::IsWindowEnabled(cancel)) return;
  events_.OnCancelCommand();
}

// ---- texts and states -------------------------------------------------------

void Win32DialogWindow::SetCaption(std::string_view text) { Calls(system_.Wide()).SetText(H(hwnd_), text); }

std::string Win32DialogWindow::Caption() { return Calls(system_.Wide()).GetText(H(hwnd_)); }

void Win32DialogWindow::SetText(int id, std::string_view text) {
  const HWND control = H(ControlHandle(id));
  const ControlTemplate* c = Find(id);
  if (control == nullptr || c == nullptr) return;
  const Calls calls(system_.Wide());
  if (c->kind == ControlKind::ComboBox) {
    // A drop-down list has no text of its own: the text picks an item, silently.
    const LRESULT index = calls.SendText(control, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), text);
    if (index != CB_ERR) calls.Send(control, CB_SETCURSEL, static_cast<WPARAM>(index));
    return;
  }
  calls.SetText(control, text);
}

std::string Win32DialogWindow::Text(int id) {
  const HWND control = H(ControlHandle(id));
  const ControlTemplate* c = Find(id);
  if (control == nullptr || c == nullptr) return {};
  if (c->kind == ControlKind::ComboBox) {
    const int selected = ComboSelection(id);
    return selected >= 0 ? ComboItem(id, selected) : std::string();
  }
  return Calls(system_.Wide()).GetText(control);
}

void Win32DialogWindow::SetCheck(int id, int state) {
  if (const HWND control = H(ControlHandle(id))) {
    Calls(system_.Wide()).Send(control, BM_SETCHECK, static_cast<WPARAM>(NormalizeCheckState(state)));
  }
}

int Win32DialogWindow::Check(int id) {
  const HWND control = H(ControlHandle(id));
  return control != nullptr ? static_cast<int>(Calls(system_.Wide()).Send(control, BM_GETCHECK)) : 0;
}

void Win32DialogWindow::Enable(int id, bool enabled) {
  if (const HWND control = H(ControlHandle(id))) ::EnableWindow(control, enabled ? TRUE : FALSE);
}

bool Win32DialogWindow::IsEnabled(int id) {
  const HWND control = H(ControlHandle(id));
  return control != nullptr && ::IsWindowEnabled(control) != FALSE;
}

void Win32DialogWindow::Show(int id, bool visible) {
  if (const HWND control = H(ControlHandle(id))) ::ShowWindow(control, visible ? SW_SHOWNA : SW_HIDE);
}

// The control's own visibility, whether or not the dialog is shown yet.
bool Win32DialogWindow::IsVisible(int id) {
  const HWND control = H(ControlHandle(id));
  return control != nullptr && (::GetWindowLongA(control, GWL_STYLE) & WS_VISIBLE) != 0;
}

void Win32DialogWindow::SetFocus(int id) {
  const HWND control = H(ControlHandle(id));
  if (control == nullptr || !IsEnabled(id) || !IsVisible(id)) return;
  // As the dialog manager moves the focus, so that the default button follows.
  Calls(system_.Wide()).Send(H(hwnd_), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE);
}

int Win32DialogWindow::Focus() {
  HWND focused = ::GetFocus();
  // A combo box's edit or list is a child of the control.
  while (focused != nullptr && ::GetParent(focused) != H(hwnd_)) focused = ::GetParent(focused);
  if (focused == nullptr) return -1;
  const int id = ::GetDlgCtrlID(focused);
  return Find(id) != nullptr ? id : -1;
}

// ---- combo boxes ----------------------------------------------------------

void Win32DialogWindow::ComboReset(int id) {
  if (const HWND control = H(ControlHandle(id))) Calls(system_.Wide()).Send(control, CB_RESETCONTENT);
}

// The system's listing (FindFirstFile under CB_DIR) also matches a name by its
// short 8.3 alias: "CW7240.KVFX" (alias CW7240~1.KVF) would be listed as
// "*.kvf" and then read as a plain image, its extension being neither. Such
// entries are taken out again, so the list holds what the file system's own
// matching (FileSystem::ListRegularFiles, the command line) would list.
int Win32DialogWindow::ComboDir(int id, unsigned attributes, std::string_view pattern, FileSystem& files) {
  static_cast<void>(files);  // the system lists the directory itself
  const HWND control = H(ControlHandle(id));
  if (control == nullptr) return -1;
  const Calls calls(system_.Wide());
  std::multiset<std::string> before;
  const int countBefore = ComboCount(id);
  for (int i = 0; i < countBefore; ++i) before.insert(ComboItem(id, i));

  std::string searchPath = system_.WorkingDirectory();
  if (searchPath.empty() || searchPath == ".") {
    searchPath = std::string(pattern);
  } else {
    if (searchPath.back() != '\\' && searchPath.back() != '/') searchPath += '\\';
    searchPath += pattern;
  }
  if (calls.SendText(control, CB_DIR, attributes, searchPath) == kDirectoryFailed) return -1;

  int lastAdded = -1;
  for (int i = ComboCount(id) - 1; i >= 0; --i) {
    const std::string name = ComboItem(id, i);
    if (const auto old = before.find(name); old != before.end()) {
      before.erase(old);
      continue;
    }
    if (!MatchesPattern(name, pattern)) {
      calls.Send(control, CB_DELETESTRING, static_cast<WPARAM>(i));
      continue;
    }
    if (lastAdded < 0) lastAdded = i;
  }
  // Items below a deleted one moved up by one each.
  if (lastAdded >= 0) {
    const std::string name = ComboItem(id, std::min(lastAdded, ComboCount(id) - 1));
    for (int i = ComboCount(id) - 1; i >= 0; --i) {
      if (ComboItem(id, i) == name) return i;
    }
  }
  return lastAdded;
}

int Win32DialogWindow::ComboAdd(int id, std::string_view item) {
  const HWND control = H(ControlHandle(id));
  if (control == nullptr) return -1;
  const LRESULT index = Calls(system_.Wide()).SendText(control, CB_ADDSTRING, 0, item);
  return index < 0 ? -1 : static_cast<int>(index);
}

void Win32DialogWindow::ComboSetSelection(int id, int index) {
  const HWND control = H(ControlHandle(id));
  if (control == nullptr) return;
  const int target = index >= 0 && index < ComboCount(id) ? index : -1;
  Calls(system_.Wide()).Send(control, CB_SETCURSEL, static_cast<WPARAM>(target));
}

int Win32DialogWindow::ComboSelection(int id) {
  const HWND control = H(ControlHandle(id));
  if (control == nullptr) return -1;
  const LRESULT selected = Calls(system_.Wide()).Send(control, CB_GETCURSEL);
  return selected == CB_ERR ? -1 : static_cast<int>(selected);
}

int Win32DialogWindow::ComboCount(int id) {
  const HWND control = H(ControlHandle(id));
  if (control == nullptr) return 0;
  const LRESULT count = Calls(system_.Wide()).Send(control, CB_GETCOUNT);
  return count == CB_ERR ? 0 : static_cast<int>(count);
}

std::string Win32DialogWindow::ComboItem(int id, int index) {
  const HWND control = H(ControlHandle(id));
  if (control == nullptr || index < 0) return {};
  return Calls(system_.Wide()).ComboItem(control, index);
}

// ---- edits, progress bars, icon -----------------------------------------------

void Win32DialogWindow::LimitText(int id, int chars) {
  if (const HWND control = H(ControlHandle(id))) {
    Calls(system_.Wide()).Send(control, EM_LIMITTEXT, static_cast<WPARAM>(std::max(chars, 0)));
  }
}

Win32DialogWindow::Progress& Win32DialogWindow::ProgressOf(int id) {
  for (Progress& p : progress_) {
    if (p.id == id) return p;
  }
  progress_.push_back(Progress{id});
  return progress_.back();
}

void Win32DialogWindow::SetProgressRange(int id, int low, int high) {
  const HWND control = H(ControlHandle(id));
  if (control == nullptr) return;
  Progress& p = ProgressOf(id);
  p.low = low;
  p.high = high;
  Calls(system_.Wide()).Send(control, PBM_SETRANGE, 0, MAKELPARAM(low, high));
  p.position = std::clamp(p.position, std::min(low, high), std::max(low, high));
}

// The bar redraws itself at once (the update holds the thread meanwhile).
void Win32DialogWindow::SetProgressPosition(int id, int position) {
  const HWND control = H(ControlHandle(id));
  if (control == nullptr) return;
  Progress& p = ProgressOf(id);
  p.position = std::clamp(position, std::min(p.low, p.high), std::max(p.low, p.high));
  Calls(system_.Wide()).Send(control, PBM_SETPOS, static_cast<WPARAM>(p.position));
}

// As set (PBM_GETPOS needs a newer comctl32 than Windows 95's first).
int Win32DialogWindow::ProgressPosition(int id) { return ControlHandle(id) != nullptr ? ProgressOf(id).position : 0; }

void Win32DialogWindow::SetIcon(const Bitmap& icon, bool big) {
  void* handle = IconHandle(icon);
  if (handle == nullptr || hwnd_ == nullptr) return;
  if (big) bigIcon_ = handle;
  Calls(system_.Wide()).Send(H(hwnd_), WM_SETICON, big ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(handle));
}

void Win32DialogWindow::UpdateWindow() {
  if (hwnd_ != nullptr) ::UpdateWindow(H(hwnd_));
}

// ---- liveness ---------------------------------------------------------------

void Win32DialogWindow::SetBusy(bool busy) {
  if (busy == busy_) return;
  if (busy) {
    busy_ = true;
    const auto create = UserEntry<ShutdownBlockReasonCreateEntry>("ShutdownBlockReasonCreate");
    shutdownReasonSet_ = create != nullptr && hwnd_ != nullptr && create(H(hwnd_), kShutdownBlockReason) != FALSE;
    return;
  }
  KeepAlive();  // what arrived since the last call is discarded, not acted on now
  busy_ = false;
  DropShutdownReason();
}

void Win32DialogWindow::DropShutdownReason() {
  if (!shutdownReasonSet_) return;
  shutdownReasonSet_ = false;
  if (const auto destroy = UserEntry<ShutdownBlockReasonDestroyEntry>("ShutdownBlockReasonDestroy");
      destroy != nullptr && hwnd_ != nullptr) {
    destroy(H(hwnd_));
  }
}

// Input to this dialog and its controls, and its close requests. A press on
// the title bar is let through: it moves the window (the system's own loop),
// and the window is meant to stay movable.
bool Win32DialogWindow::DiscardWhileBusy(const void* m) const {
  const MSG& msg = *static_cast<const MSG*>(m);
  if (msg.hwnd == nullptr || (msg.hwnd != H(hwnd_) && !::IsChild(H(hwnd_), msg.hwnd))) return false;
  if (IsInput(msg.message) || msg.message == WM_CLOSE) return true;
  if (msg.message == WM_SYSCOMMAND) return (msg.wParam & kPositionMask) == SC_CLOSE;
  if (IsNonClientMouse(msg.message)) return !(msg.message == WM_NCLBUTTONDOWN && msg.wParam == HTCAPTION);
  return false;
}

void Win32DialogWindow::KeepAlive() {
  if (!busy_ || hwnd_ == nullptr) return;
  ++keepAliveCount_;
  const Calls calls(system_.Wide());
  MSG msg{};
  while (calls.Peek(&msg)) {
    if (msg.message == WM_QUIT) {
      ::PostQuitMessage(static_cast<int>(msg.wParam));  // for the modal loop to see
      return;
    }
    if (DiscardWhileBusy(&msg)) {
      ++discarded_;
      continue;
    }
    ::TranslateMessage(&msg);
    calls.Dispatch(&msg);
  }
}

// ---- the modal run ------------------------------------------------------------

int Win32DialogWindow::RunModal() {
  if (ended_ || hwnd_ == nullptr) return result_;  // ended during OnInitDialog: never shown
  const HWND dialog = H(hwnd_);
  if (owner_ != nullptr && ::IsWindowEnabled(H(owner_))) {
    ::EnableWindow(H(owner_), FALSE);
    ownerDisabled_ = true;
  }
  system_.modal_.push_back(hwnd_);
  ::ShowWindow(dialog, SW_SHOWNORMAL);
  running_ = true;
  const Calls calls(system_.Wide());
  MSG msg{};
  while (!ended_) {
    const BOOL got = calls.Get(&msg);
    if (got == 0) {  // WM_QUIT: end, and leave it for any loop outside
      ::PostQuitMessage(static_cast<int>(msg.wParam));
      ended_ = true;
      result_ = IDCANCEL;
      break;
    }
    if (got < 0) break;
    if (!calls.IsDialogMessage(dialog, &msg)) {
      ::TranslateMessage(&msg);
      calls.Dispatch(&msg);
    }
  }
  running_ = false;
  system_.modal_.erase(std::remove(system_.modal_.begin(), system_.modal_.end(), hwnd_), system_.modal_.end());
  // The owner first, so that the system activates it rather than another program.
  if (ownerDisabled_) {
    ::EnableWindow(H(owner_), TRUE);
    ownerDisabled_ = false;
  }
  if (hwnd_ != nullptr) ::ShowWindow(H(hwnd_), SW_HIDE);
  return result_;
}

void Win32DialogWindow::EndModal(int result) {
  ended_ = true;
  result_ = result;
  if (running_ && hwnd_ != nullptr) Calls(system_.Wide()).Post(H(hwnd_), WM_NULL);  // wakes the loop
}

void* NativeHandle(DialogWindow& window) {
  auto* native = dynamic_cast<Win32DialogWindow*>(&window);
  return native != nullptr ? native->Handle() : nullptr;
}

}  // namespace orvel::ui
