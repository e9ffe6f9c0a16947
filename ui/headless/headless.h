#pragma once
// The window system in memory, for tests: every control of a template kept as
// data, scripted operator input, scripted answers to message boxes and nested
// modal dialogs, and a record of what the program painted.
//
// Running a dialog in a test:
//
//   HeadlessWindowSystem ws;
//   ws.SetModalScript(102, [&](HeadlessWindow& w) {
//     w.Click(1003);                       // as the operator would
//     EXPECT_EQ(w.Text(1006), "...");
//     w.PressEscape();                     // ends it through the cancel path
//   });
//   int result = dlg.DoModal();
//
// RunModal shows the window (one paint), then runs the script given for its
// template. If the script leaves the dialog running, RunModal takes the
// cancel path as the close box would; if that does not end it either (busy,
// Close disabled, or a dialog that refuses), it ends with IDCANCEL. A
// dialog without a script therefore returns at once, cancelled - which is how
// a nested prompt nobody answers behaves.
//
// Step by step instead: call CDialog::Create(), then drive ws.Window(id).
//
// Input methods return false when the window ignored the input (a disabled or
// hidden control, no such control, an ended dialog, or a busy window, whose
// KeepAlive discards input), as a real window would. UpdateWindow calls the
// paint handler at once, whether or not the window has been shown yet; so does
// Paint, except while busy, when the paint waits for the next KeepAlive.

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ui/window_system.h"

namespace orvel::ui {

struct MessageBoxRecord {
  std::string text;
  std::string caption;
  MessageBoxIcon icon = MessageBoxIcon::Information;
  int ownerTemplateId = 0;   // 0: no owner
};

struct PaintOp {
  enum class Kind { EraseIconBackground, DrawIcon, Blit };
  Kind kind = Kind::Blit;
  int controlId = -1;        // Blit: the target control
  int x = 0, y = 0;          // DrawIcon: position in the client area
  int width = 0, height = 0; // Blit: pixels copied; DrawIcon: icon size
  Bitmap bitmap;             // what was drawn (Blit: the source bitmap)
};

class HeadlessWindowSystem;

class HeadlessWindow final : public DialogWindow {
 public:
  HeadlessWindow(HeadlessWindowSystem& system, const DialogTemplate& tmpl, DialogEvents& events,
                 DialogWindow* owner);
  ~HeadlessWindow() override;
  HeadlessWindow(const HeadlessWindow&) = delete;
  HeadlessWindow& operator=(const HeadlessWindow&) = delete;

  // ---- operator input ----
  // Clicks a button: focuses it, applies the automatic check box / radio
  // button rule, then notifies the dialog.
  bool Click(int id);
  // Selects item `index` of a combo box as the operator does (notifies).
  bool Select(int id, int index);
  // Selects the first item whose text equals `item` (notifies).
  bool SelectItem(int id, std::string_view item);
  // Focuses an edit and appends `text`; characters beyond the text limit are
  // dropped. Returns false when nothing could be typed at all.
  bool Type(int id, std::string_view text);
  // Enter: clicks the focused push button, else the default push button,
  // else takes the OK path.
  bool PressEnter();
  // Escape and the close box: the cancel path, ignored while busy or while
  // an IDCANCEL button exists and is disabled.
  bool PressEscape();
  bool PressCloseBox();
  // Minimises or restores the window; either repaints it (as Paint does).
  void SetMinimized(bool minimized);
  // A paint the system asks for (window uncovered), as opposed to UpdateWindow.
  // While busy it is pending until KeepAlive handles it.
  void Paint();
  bool PaintPending() const { return paintPending_; }

  // ---- what the operator sees ----
  bool HasControl(int id) const;
  std::vector<std::string> ComboItems(int id) const;
  int TextLimit(int id) const;              // 0: none
  int ProgressLow(int id) const;
  int ProgressHigh(int id) const;
  // The text as shown: masked with '*' for a password edit.
  std::string DisplayedText(int id) const;
  const Bitmap& Icon(bool big) const { return big ? bigIcon_ : smallIcon_; }
  bool Busy() const { return busy_; }
  bool Minimized() const { return minimized_; }
  bool Shown() const { return shown_; }
  int ModalResult() const { return result_; }
  DialogWindow* Owner() const { return owner_; }
  const DialogTemplate& Template() const { return tmpl_; }

  // The client area in pixels: the template size at fixed base units
  // (kBaseUnitX x kBaseUnitY, a 9-point font at 96 dpi); the same when minimised.
  static constexpr int kBaseUnitX = 6;
  static constexpr int kBaseUnitY = 12;
  int ClientWidth() const;
  int ClientHeight() const;

  // ---- what the program drew ----
  int UpdateWindowCount() const { return updateWindowCount_; }
  int PaintCount() const { return paintCount_; }   // every paint, UpdateWindow's included
  int KeepAliveCount() const { return keepAliveCount_; }  // calls made while busy
  const std::vector<PaintOp>& PaintLog() const { return paintLog_; }   // all paints
  const std::vector<PaintOp>& LastPaint() const { return lastPaint_; } // the latest paint only
  // The bitmap last blitted into `controlId` (empty when none).
  const Bitmap& PictureOf(int controlId) const;
  void ClearPaintRecord();

  // ---- DialogWindow ----
  int TemplateId() const override { return tmpl_.resourceId; }
  void SetCaption(std::string_view text) override { caption_ = text; }
  std::string Caption() override { return caption_; }
  void SetText(int id, std::string_view text) override;
  std::string Text(int id) override;
  void SetCheck(int id, int state) override;
  int Check(int id) override;
  void Enable(int id, bool enabled) override;
  bool IsEnabled(int id) override;
  void Show(int id, bool visible) override;
  bool IsVisible(int id) override;
  void SetFocus(int id) override;
  int Focus() override { return focus_; }
  void ComboReset(int id) override;
  int ComboAdd(int id, std::string_view item) override;
  void ComboSetSelection(int id, int index) override;
  int ComboSelection(int id) override;
  int ComboCount(int id) override;
  std::string ComboItem(int id, int index) override;
  void LimitText(int id, int chars) override;
  void SetProgressRange(int id, int low, int high) override;
  void SetProgressPosition(int id, int position) override;
  int ProgressPosition(int id) override;
  void SetIcon(const Bitmap& icon, bool big) override;
  void UpdateWindow() override;
  void SetBusy(bool busy) override;
  void KeepAlive() override;
  int RunModal() override;
  void EndModal(int result) override;
  bool IsModalEnded() override { return ended_; }

 private:
  struct Control {
    ControlTemplate tmpl;
    std::string text;
    int check = 0;
    bool enabled = true;
    bool visible = true;
    std::vector<std::string> items;
    int selection = -1;
    int limit = 0;
    int low = 0, high = 100, position = 0;
  };
  class Painter;
  friend class Painter;

  Control* Find(int id);
  const Control* Find(int id) const;
  bool Usable(const Control* c) const;
  void ApplyAutoCheck(Control& c);
  bool CancelPath();
  void DoPaint();

  HeadlessWindowSystem& system_;
  DialogTemplate tmpl_;
  DialogEvents& events_;
  DialogWindow* owner_;
  std::vector<Control> controls_;
  std::string caption_;
  Bitmap bigIcon_, smallIcon_;
  int focus_ = -1;
  bool busy_ = false;
  bool paintPending_ = false;
  int keepAliveCount_ = 0;
  bool minimized_ = false;
  bool shown_ = false;
  bool ended_ = false;
  int result_ = 0;
  int updateWindowCount_ = 0;
  int paintCount_ = 0;
  std::vector<PaintOp> paintLog_;
  std::vector<PaintOp> lastPaint_;
  std::map<int, Bitmap> pictures_;
};

// Must outlive every window it created.
class HeadlessWindowSystem final : public WindowSystem {
 public:
  using ModalScript = std::function<void(HeadlessWindow&)>;
  using MessageBoxScript = std::function<void(const MessageBoxRecord&)>;

  // Run whenever a dialog of `templateId` starts its modal run (replaces any earlier one).
  void SetModalScript(int templateId, ModalScript script);
  // Run once, at the next modal run of `templateId`, before any SetModalScript
  // script; several queue up in order.
  void QueueModalScript(int templateId, ModalScript script);
  // Called while a message box is shown (it has no choice but OK).
  void SetMessageBoxScript(MessageBoxScript script) { messageBoxScript_ = std::move(script); }

  const std::vector<MessageBoxRecord>& MessageBoxes() const { return messageBoxes_; }
  void ClearMessageBoxes() { messageBoxes_.clear(); }

  // The newest live window of a template, or nullptr.
  HeadlessWindow* Window(int templateId);
  // How many windows of a template were created, and how many destroyed.
  int CreatedCount(int templateId) const;
  int DestroyedCount(int templateId) const;
  int ModalRunCount(int templateId) const;

  void SetIconSize(int width, int height) { iconWidth_ = width; iconHeight_ = height; }

  // ---- WindowSystem ----
  std::unique_ptr<DialogWindow> CreateDialogWindow(const DialogTemplate& tmpl, DialogEvents& events,
                                                   DialogWindow* owner) override;
  void MessageBox(DialogWindow* owner, std::string_view text, std::string_view caption,
                  MessageBoxIcon icon) override;
  int IconWidth() override { return iconWidth_; }
  int IconHeight() override { return iconHeight_; }

 private:
  friend class HeadlessWindow;
  static constexpr int kDefaultIconSize = 32;
  void Unregister(HeadlessWindow* w);
  void RunScriptFor(HeadlessWindow& w);

  std::vector<HeadlessWindow*> live_;
  std::map<int, ModalScript> scripts_;
  std::map<int, std::deque<ModalScript>> queued_;
  std::map<int, int> created_, destroyed_, modalRuns_;
  std::vector<MessageBoxRecord> messageBoxes_;
  MessageBoxScript messageBoxScript_;
  int iconWidth_ = kDefaultIconSize;
  int iconHeight_ = kDefaultIconSize;
};

}  // namespace orvel::ui
