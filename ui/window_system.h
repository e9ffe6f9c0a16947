#pragma once
// What a window-system backend provides to the dialog layer: a dialog window
// built from a template, its controls by id, painting, message boxes, modal
// runs, and keeping a window alive while a long operation holds the thread.
// Backends: ui/qt (Qt 6 Widgets, real windows), ui/win32 (native Win32
// controls) and ui/headless (in memory, for tests). The Windows backend
// includes <windows.h> only through platform/win32/windows_shim.h, so
// MessageBox here stays ours.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ui/dialog_template.h"

namespace orvel {
class FileSystem;
}

namespace orvel::ui {

// A picture of the program's resources: 32-bit 0xAARRGGBB pixels, rows top down.
// A backend whose programs carry the pictures as resources of their own (the
// Windows programs: icon 128, bitmaps 133 and 136) loads them by `resourceId`.
struct Bitmap {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> pixels;
  int resourceId = 0;  // 0: not a resource of the program
  bool empty() const { return pixels.empty(); }
};

enum class MessageBoxIcon { Stop, Exclamation, Information };

// What the backend tells the dialog (the framework's message routing).
class DialogEvents {
 public:
  virtual ~DialogEvents() = default;
  virtual void OnButtonClicked(int id) = 0;      // push button, check box, radio button
  virtual void OnSelectionChanged(int id) = 0;   // combo box, by the operator only
  virtual void OnOkCommand() = 0;                // Enter on a non-button, or the default path
  virtual void OnCancelCommand() = 0;            // Escape, the close box, the IDCANCEL button
  virtual void OnPaintRequest(class PaintContext& pc) = 0;
};

// Handed to the paint handler while the dialog paints.
class PaintContext {
 public:
  virtual ~PaintContext() = default;
  virtual bool Minimized() = 0;
  virtual int ClientWidth() = 0;
  virtual int ClientHeight() = 0;
  virtual void EraseIconBackground() = 0;
  virtual void DrawIcon(int x, int y, const Bitmap& icon) = 0;
  // Copies w x h pixels of `bitmap` from its origin to the origin of control `controlId`.
  virtual void BlitToControl(int controlId, const Bitmap& bitmap, int w, int h) = 0;
};

class DialogWindow {
 public:
  virtual ~DialogWindow() = default;

  virtual int TemplateId() const = 0;

  // Window texts (UTF-8).
  virtual void SetCaption(std::string_view text) = 0;
  virtual std::string Caption() = 0;
  virtual void SetText(int id, std::string_view text) = 0;
  virtual std::string Text(int id) = 0;   // combo box: the selected item's text, or empty

  // Buttons.
  virtual void SetCheck(int id, int state) = 0;
  virtual int Check(int id) = 0;

  // Any control.
  virtual void Enable(int id, bool enabled) = 0;
  virtual bool IsEnabled(int id) = 0;
  virtual void Show(int id, bool visible) = 0;
  virtual bool IsVisible(int id) = 0;
  virtual void SetFocus(int id) = 0;
  virtual int Focus() = 0;   // id of the control with the focus, -1 none

  // Combo boxes (a sorted one keeps its items ordered without regard to case).
  virtual void ComboReset(int id) = 0;
  // Adds the names of the working directory's regular files that match
  // `pattern` (attributes 0: ordinary files). Returns the index of the last
  // item added, -1 when none. The base lists through `files` and adds the
  // names in order; a backend with the system's own listing uses that.
  virtual int ComboDir(int id, unsigned attributes, std::string_view pattern, FileSystem& files);
  virtual int ComboAdd(int id, std::string_view item) = 0;  // index where it went
  virtual void ComboSetSelection(int id, int index) = 0;    // -1 or out of range: none
  virtual int ComboSelection(int id) = 0;                   // -1 none
  virtual int ComboCount(int id) = 0;
  virtual std::string ComboItem(int id, int index) = 0;

  // Edit controls: at most `chars` characters may be typed.
  virtual void LimitText(int id, int chars) = 0;

  // Progress bars.
  virtual void SetProgressRange(int id, int low, int high) = 0;
  virtual void SetProgressPosition(int id, int position) = 0;
  virtual int ProgressPosition(int id) = 0;

  // The window's icon (big and small).
  virtual void SetIcon(const Bitmap& icon, bool big) = 0;

  // Repaints at once (the paint handler runs before this returns).
  virtual void UpdateWindow() = 0;
  // While true, the close box is ignored (a long operation holds the thread),
  // and so is a logoff or shutdown where the window system lets a window
  // refuse one (Win32: WM_QUERYENDSESSION).
  // Ending a busy stretch first runs KeepAlive once more, so input that
  // arrived during it is discarded rather than acted on afterwards.
  virtual void SetBusy(bool busy) = 0;
  // The liveness operation, called by a long operation that holds the thread
  // (every pause and every progress move of an update attempt): while busy,
  // handles what the window system has pending except input - painting and
  // exposure, the desktop's liveness ping, moving the window - and discards
  // the operator's input and close requests (discards: they are never acted
  // on later). Returns without waiting. Outside a busy stretch it does nothing.
  virtual void KeepAlive() = 0;

  // Shows the window and runs until EndModal; returns its result.
  virtual int RunModal() = 0;
  virtual void EndModal(int result) = 0;
  virtual bool IsModalEnded() = 0;
};

class WindowSystem {
 public:
  virtual ~WindowSystem() = default;
  // Builds the window of `tmpl` (not yet shown); events go to `events`.
  virtual std::unique_ptr<DialogWindow> CreateDialogWindow(const DialogTemplate& tmpl, DialogEvents& events,
                                                           DialogWindow* owner) = 0;
  // OK-only message box; returns when the operator closed it.
  virtual void MessageBox(DialogWindow* owner, std::string_view text, std::string_view caption,
                          MessageBoxIcon icon) = 0;
  // The system's icon size (SM_CXICON, SM_CYICON).
  virtual int IconWidth() = 0;
  virtual int IconHeight() = 0;
};

}  // namespace orvel::ui
