#pragma once
// The Win32 window system: the dialog templates run as real Win32 dialogs.
//
// A template becomes an in-memory DLGTEMPLATEEX (dialog_template_ex.h) and
// the dialog is created from it with CreateDialogIndirectParam, hidden; the
// dialog layer then runs OnInitDialog, and RunModal shows the window and runs
// the modal loop (IsDialogMessage: Tab, Enter and Escape as in any dialog)
// until EndModal. This is how the classic framework runs a modal dialog, and
// it lets OnInitDialog run before the window is seen.
//
// Text: the dialog layer speaks UTF-8. On the NT family the backend calls the
// wide functions, so Japanese reads right whatever the system's locale; on
// Windows 95/98/Me it calls the narrow ones with the text in code page 932
// (Shift-JIS), converted with a table made at build time (native_text.h).
//
// The icon (128) and the logos (133, 136) are the program's own resources:
// a Bitmap is loaded by its resourceId (LoadIcon, LoadBitmap), so a missing
// resource shows nothing, as the program expects.
//
// Liveness: while busy, KeepAlive is a PeekMessage loop that dispatches what
// is not input (painting, timers, the system's own messages, a drag of the
// title bar) and drops the operator's mouse and keyboard input to the dialog
// and its close requests, so that none of it is acted on afterwards. A busy
// dialog answers WM_QUERYENDSESSION with FALSE, and on Vista and later gives
// Windows the reason to show meanwhile (ShutdownBlockReasonCreate, looked up
// at run time).
//
// This header does not include <windows.h>: window handles are void* here.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ui/window_system.h"

namespace orvel::ui {

class Win32WindowSystem final : public WindowSystem {
 public:
  // `workingDirectory`: where the combo boxes' directory listings look
  // (CB_DIR); "." for the process's current directory.
  explicit Win32WindowSystem(std::string workingDirectory = ".");
  ~Win32WindowSystem() override;
  Win32WindowSystem(const Win32WindowSystem&) = delete;
  Win32WindowSystem& operator=(const Win32WindowSystem&) = delete;

  // Whether the backend calls the wide (NT family) or the narrow (95/98/Me) functions.
  bool Wide() const { return wide_; }
  const std::string& WorkingDirectory() const { return workingDirectory_; }

  std::unique_ptr<DialogWindow> CreateDialogWindow(const DialogTemplate& tmpl, DialogEvents& events,
                                                   DialogWindow* owner) override;
  // MessageBox with an OK button and the icon's MB_ICON* flag, owned by `owner`.
  void MessageBox(DialogWindow* owner, std::string_view text, std::string_view caption,
                  MessageBoxIcon icon) override;
  int IconWidth() override;
  int IconHeight() override;

 private:
  friend class Win32DialogWindow;
  std::string workingDirectory_;
  bool wide_;
  // Dialogs in their modal run, innermost last: a dialog made without an
  // owner is owned by the innermost, as the framework gives such a dialog the
  // main window (so that the main dialog takes no clicks meanwhile).
  std::vector<void*> modal_;
};

class Win32DialogWindow;

// The window handle (HWND) of a dialog window of this backend, nullptr for another's.
void* NativeHandle(DialogWindow& window);

// Text for the person who started the program: written to its standard
// output (or error) when it has one (a console, a pipe, Wine started from a
// shell), otherwise shown in a message box.
void ShowProgramText(std::string_view caption, std::string_view text, bool error);

}  // namespace orvel::ui
