#pragma once
// The Qt 6 Widgets window system: real windows built from dialog templates.
//
// The program creates its QApplication first, then a QtWindowSystem, and runs
// its dialogs as usual (CDialog::DoModal runs QDialog::exec). The dialog font
// face "ＭＳ Ｐゴシック" is mapped to an installed Japanese gothic font;
// dialog units become pixels from that font's metrics.
//
// Tests and screenshots: SetModalStartHook runs a function once the modal
// run of a template has started and its window has painted, from the event
// loop; the hook may click through the widgets, save a screenshot and end
// the dialog. SetMessageBoxHook does the same for message boxes.

#include <QFont>
#include <QRect>
#include <QString>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ui/window_system.h"

class QApplication;
class QDialog;
class QMessageBox;
class QWidget;

namespace orvel::ui {

// Dialog base units of a font: the average width of the Latin letters and the
// character height, in pixels.
struct BaseUnits {
  int x = 0;
  int y = 0;
};

BaseUnits BaseUnitsOf(const QFont& font);
// x * baseX / 4, y * baseY / 8 (rounded as the classic conversion does).
QRect DialogUnitsToPixels(const BaseUnits& units, int x, int y, int cx, int cy);
// The installed family to use for a template's face name: the Japanese gothic
// faces map to IPAPGothic (or any family with Japanese glyphs); any other face
// is used when installed, else the application font's family.
QString ResolveFontFamily(std::string_view face);

// Grabs `widget` (with its children) into a PNG file; false when it cannot be written.
bool SaveScreenshot(QWidget& widget, const std::string& path);

class QtDialogWindow;

class QtWindowSystem final : public WindowSystem {
 public:
  using DialogHook = std::function<void(QtDialogWindow&)>;
  using MessageBoxHook = std::function<void(QMessageBox&)>;
  struct MessageBoxRecord {
    std::string text;
    std::string caption;
    MessageBoxIcon icon = MessageBoxIcon::Information;
  };

  explicit QtWindowSystem(QApplication& app);
  ~QtWindowSystem() override;

  void SetModalStartHook(int templateId, DialogHook hook);
  void SetMessageBoxHook(MessageBoxHook hook) { messageBoxHook_ = std::move(hook); }
  const std::vector<MessageBoxRecord>& MessageBoxes() const { return messageBoxes_; }

  std::unique_ptr<DialogWindow> CreateDialogWindow(const DialogTemplate& tmpl, DialogEvents& events,
                                                   DialogWindow* owner) override;
  void MessageBox(DialogWindow* owner, std::string_view text, std::string_view caption,
                  MessageBoxIcon icon) override;
  int IconWidth() override;
  int IconHeight() override;

 private:
  friend class QtDialogWindow;
  QApplication& app_;
  std::map<int, DialogHook> hooks_;
  MessageBoxHook messageBoxHook_;
  std::vector<MessageBoxRecord> messageBoxes_;
};

class QtDialogWindow final : public DialogWindow {
 public:
  QtDialogWindow(QtWindowSystem& system, const DialogTemplate& tmpl, DialogEvents& events);
  ~QtDialogWindow() override;
  QtDialogWindow(const QtDialogWindow&) = delete;
  QtDialogWindow& operator=(const QtDialogWindow&) = delete;

  // For tests and screenshots.
  QDialog& Widget();
  QWidget* ControlWidget(int id);
  BaseUnits Units() const { return units_; }
  const QFont& DialogFont() const { return font_; }
  int PaintCount() const { return paintCount_; }
  int UpdateWindowCount() const { return updateWindowCount_; }
  int KeepAliveCount() const { return keepAliveCount_; }  // calls made while busy
  bool SaveScreenshot(const std::string& path);

  // ---- DialogWindow ----
  int TemplateId() const override { return tmpl_.resourceId; }
  void SetCaption(std::string_view text) override;
  std::string Caption() override;
  void SetText(int id, std::string_view text) override;
  std::string Text(int id) override;
  void SetCheck(int id, int state) override;
  int Check(int id) override;
  void Enable(int id, bool enabled) override;
  bool IsEnabled(int id) override;
  void Show(int id, bool visible) override;
  bool IsVisible(int id) override;
  void SetFocus(int id) override;
  int Focus() override;
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
  // Busy: the operator's input and close requests to this dialog are
  // discarded (an application event filter) and KeepAlive handles the rest.
  void SetBusy(bool busy) override;
  void KeepAlive() override;
  int RunModal() override;
  void EndModal(int result) override;
  bool IsModalEnded() override { return ended_; }

 private:
  struct Control;
  class DialogWidget;
  class Painter;
  class InputDiscarder;
  friend class DialogWidget;
  friend class Painter;

  void Build();
  Control MakeControl(std::size_t index);
  void Place(Control& c, QWidget*& previousTabStop);
  Control* Find(int id);
  void ApplyAutoCheck(std::size_t index);
  void CancelPath();
  void EnterPath();
  void Paint(QWidget& target);

  QtWindowSystem& system_;
  DialogTemplate tmpl_;
  DialogEvents& events_;
  QFont font_;
  BaseUnits units_;
  std::unique_ptr<DialogWidget> dialog_;
  std::unique_ptr<InputDiscarder> discarder_;
  std::vector<Control> controls_;
  std::function<void(QtDialogWindow&)> startHook_;
  bool busy_ = false;
  bool ended_ = false;
  bool ending_ = false;
  bool running_ = false;
  int result_ = 0;
  int paintCount_ = 0;
  int updateWindowCount_ = 0;
  int keepAliveCount_ = 0;
};

}  // namespace orvel::ui
