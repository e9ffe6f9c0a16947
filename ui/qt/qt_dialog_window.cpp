#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialog>
#include <QFrame>
#include <QGroupBox>
#include <QIcon>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextEdit>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <functional>
#include <utility>

#include "ui/qt/qt_accessible.h"
#include "ui/qt/qt_window_system.h"
#include "ui/text_order.h"

namespace orvel::ui {

namespace {

constexpr int kEditMargin = 2;  // pixels between an edit's frame and its text

// Child widgets belong to their Qt parent, which deletes them.
template <class T, class... Args>
T* MakeChild(QWidget* parent, Args&&... args) {
  auto widget = std::make_unique<T>(std::forward<Args>(args)...);
  widget->setParent(parent);
  return widget.release();
}

QString ToQString(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

std::string ToUtf8(const QString& s) { return s.toUtf8().toStdString(); }

// A combo box item keeps the program's bytes as its data: a file name that is
// not UTF-8 is shown with replacement characters but given back unchanged.
constexpr int kItemBytesRole = Qt::UserRole;
std::string ItemBytes(const QComboBox& combo, int index) {
  const QByteArray bytes = combo.itemData(index, kItemBytesRole).toByteArray();
  return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

// Multi-line edits break only at "\r\n"; Qt's documents break at '\n'.
QString ToDocumentText(std::string_view s) {
  QString text = ToQString(s);
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return text;
}

QImage ToImage(const Bitmap& bitmap, int width, int height) {
  const int w = std::clamp(width, 0, bitmap.width);
  const int h = std::clamp(height, 0, bitmap.height);
  if (bitmap.pixels.size() < static_cast<std::size_t>(bitmap.width) * static_cast<std::size_t>(bitmap.height) ||
      w == 0 || h == 0) {
    return {};
  }
  QImage image(w, h, QImage::Format_ARGB32);
  for (int y = 0; y < h; ++y) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    const std::size_t row = static_cast<std::size_t>(y) * static_cast<std::size_t>(bitmap.width);
    for (int x = 0; x < w; ++x) {
      line[x] = bitmap.pixels[row + static_cast<std::size_t>(x)];
    }
  }
  return image;
}

// Check boxes and radio buttons whose state changes only by the dialog's rule.
template <class Base>
class RuledButton final : public Base {
 public:
  explicit RuledButton(std::function<void()> rule) : rule_(std::move(rule)) {}

 protected:
  void nextCheckState() override { rule_(); }
  // As a Win32 button: the whole control takes the click, not only its box and text.
  bool hitButton(const QPoint& pos) const override { return this->rect().contains(pos); }

 private:
  std::function<void()> rule_;
};

bool IsInputOrClose(QEvent::Type type) {
  switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::NonClientAreaMouseButtonPress:
    case QEvent::NonClientAreaMouseButtonRelease:
    case QEvent::NonClientAreaMouseButtonDblClick:
    case QEvent::NonClientAreaMouseMove:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::InputMethod:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TouchCancel:
    case QEvent::TabletPress:
    case QEvent::TabletRelease:
    case QEvent::TabletMove:
    case QEvent::Close:
      return true;
    default:
      return false;
  }
}

// A static holding a bitmap: shows what the paint handler last blitted into it.
class PictureWidget final : public QFrame {
 public:
  void SetImage(QImage image) {
    if (image == image_) return;  // unchanged: no repaint, no paint loop
    image_ = std::move(image);
    update();
  }

 protected:
  void paintEvent(QPaintEvent* event) override {
    QFrame::paintEvent(event);
    if (image_.isNull()) return;
    QPainter painter(this);
    painter.drawImage(contentsRect().topLeft(), image_);
  }

 private:
  QImage image_;
};

// One factory per kind of control: the widget as the template's style asks.

QPushButton* MakePushButton(QWidget& parent, const ControlTemplate& ct) {
  auto* b = MakeChild<QPushButton>(&parent);
  MarkButtonKind(*b, ct.kind);
  b->setText(ToQString(ct.text));
  b->setAutoDefault(false);  // Enter goes to the dialog's own rule
  b->setDefault(false);
  return b;
}

QCheckBox* MakeCheckBox(QWidget& parent, const ControlTemplate& ct, std::function<void()> rule) {
  auto* b = MakeChild<RuledButton<QCheckBox>>(&parent, std::move(rule));
  MarkButtonKind(*b, ct.kind);
  b->setText(ToQString(ct.text));
  return b;
}

QRadioButton* MakeRadioButton(QWidget& parent, const ControlTemplate& ct, std::function<void()> rule) {
  auto* b = MakeChild<RuledButton<QRadioButton>>(&parent, std::move(rule));
  MarkButtonKind(*b, ct.kind);
  b->setText(ToQString(ct.text));
  b->setAutoExclusive(false);  // groups follow the template's Group marks
  return b;
}

QGroupBox* MakeGroupBox(QWidget& parent, const ControlTemplate& ct) {
  auto* g = MakeChild<QGroupBox>(&parent);
  g->setTitle(ToQString(ct.text));
  // A Win32 group box only frames: clicks go to the controls inside it.
  g->setAttribute(Qt::WA_TransparentForMouseEvents);
  return g;
}

PictureWidget* MakePicture(QWidget& parent, const ControlTemplate& ct) {
  auto* p = MakeChild<PictureWidget>(&parent);
  p->setFrameStyle((ct.style & (Sunken | ClientEdge)) != 0 ? (QFrame::Panel | QFrame::Sunken) : QFrame::NoFrame);
  p->setAttribute(Qt::WA_OpaquePaintEvent, false);
  return p;
}

QLabel* MakeLabel(QWidget& parent, const ControlTemplate& ct) {
  auto* l = MakeChild<QLabel>(&parent);
  l->setText(ToQString(ct.text));
  l->setTextFormat(Qt::PlainText);
  Qt::Alignment align = (ct.style & CenterText) != 0 ? Qt::AlignHCenter : Qt::AlignLeft;
  align |= (ct.style & CenterVertically) != 0 ? Qt::AlignVCenter : Qt::AlignTop;
  l->setAlignment(align);
  l->setWordWrap((ct.style & CenterVertically) == 0);
  if ((ct.style & (Sunken | ClientEdge | StaticEdge | Border)) != 0) l->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  return l;
}

// The text is set after the control is in place (SetText keeps "\r\n").
QTextEdit* MakeMultiLineEdit(QWidget& parent, const ControlTemplate& ct) {
  auto* e = MakeChild<QTextEdit>(&parent);
  e->setAcceptRichText(false);
  e->setReadOnly((ct.style & ReadOnly) != 0);
  e->setLineWrapMode((ct.style & AutoHScroll) != 0 ? QTextEdit::NoWrap : QTextEdit::WidgetWidth);
  // Scroll bars only where the template asks for them; an edit scrolls without one.
  e->setVerticalScrollBarPolicy((ct.style & VScroll) != 0 ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
  e->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  e->document()->setDocumentMargin(kEditMargin);
  if ((ct.style & StaticEdge) != 0) e->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  if ((ct.style & (Border | ClientEdge | StaticEdge)) == 0) e->setFrameStyle(QFrame::NoFrame);
  return e;
}

QLineEdit* MakeLineEdit(QWidget& parent, const ControlTemplate& ct) {
  auto* e = MakeChild<QLineEdit>(&parent);
  e->setReadOnly((ct.style & ReadOnly) != 0);
  if ((ct.style & Password) != 0) e->setEchoMode(QLineEdit::Password);
  if ((ct.style & CenterText) != 0) e->setAlignment(Qt::AlignHCenter);
  e->setFrame((ct.style & (Border | ClientEdge | StaticEdge)) != 0);
  return e;
}

QComboBox* MakeComboBox(QWidget& parent) {
  auto* cb = MakeChild<QComboBox>(&parent);
  cb->setEditable(false);  // a drop-down list
  return cb;
}

QProgressBar* MakeProgressBar(QWidget& parent, int low, int high) {
  auto* p = MakeChild<QProgressBar>(&parent);
  p->setTextVisible(false);
  p->setRange(low, high);
  p->setValue(low);
  return p;
}

}  // namespace

struct QtDialogWindow::Control {
  ControlTemplate tmpl;
  QWidget* widget = nullptr;
  QAbstractButton* button = nullptr;
  QComboBox* combo = nullptr;
  QLineEdit* line = nullptr;
  QTextEdit* multi = nullptr;
  QLabel* label = nullptr;
  QProgressBar* progress = nullptr;
  PictureWidget* picture = nullptr;
  std::string rawText;  // multi-line edits: the text as the program set it
  int low = 0, high = 100, position = 0;
};

class QtDialogWindow::DialogWidget final : public QDialog {
 public:
  explicit DialogWidget(QtDialogWindow& owner) : owner_(owner) {}

 protected:
  void paintEvent(QPaintEvent* event) override {
    QDialog::paintEvent(event);
    owner_.Paint(*this);
  }
  void closeEvent(QCloseEvent* event) override {
    if (owner_.ending_) {
      event->accept();
      return;
    }
    event->ignore();  // the dialog decides through its cancel path
    owner_.CancelPath();
  }
  void keyPressEvent(QKeyEvent* event) override {
    switch (event->key()) {
      case Qt::Key_Escape:
        event->accept();
        owner_.CancelPath();
        return;
      case Qt::Key_Return:
      case Qt::Key_Enter:
        event->accept();
        owner_.EnterPath();
        return;
      default:
        QWidget::keyPressEvent(event);  // not QDialog's: it would accept or reject on its own
    }
  }

 private:
  QtDialogWindow& owner_;
};

// Installed on the application while the dialog is busy: drops the operator's
// input and close requests aimed at the dialog, so that KeepAlive can handle
// everything else. (QEventLoop::ExcludeUserInputEvents would only defer them
// until the update has ended.) Other windows, a message box shown meanwhile,
// get theirs.
class QtDialogWindow::InputDiscarder final : public QObject {
 public:
  explicit InputDiscarder(QWidget& dialog) : dialog_(dialog) {}

 protected:
  bool eventFilter(QObject* target, QEvent* event) override {
    if (!IsInputOrClose(event->type()) || !Targets(target)) return false;
    event->ignore();
    return true;
  }

 private:
  bool Targets(QObject* target) const {
    if (target == dialog_.windowHandle()) return true;
    if (!target->isWidgetType()) return false;
    const auto* widget = static_cast<const QWidget*>(target);
    return widget == &dialog_ || dialog_.isAncestorOf(widget);
  }
  QWidget& dialog_;
};

class QtDialogWindow::Painter final : public PaintContext {
 public:
  Painter(QtDialogWindow& w, QWidget& target) : w_(w), target_(target), painter_(&target) {}
  bool Minimized() override { return target_.isMinimized(); }
  int ClientWidth() override { return target_.width(); }
  int ClientHeight() override { return target_.height(); }
  void EraseIconBackground() override { painter_.fillRect(target_.rect(), target_.palette().window()); }
  void DrawIcon(int x, int y, const Bitmap& icon) override {
    const QImage image = ToImage(icon, icon.width, icon.height);
    if (!image.isNull()) painter_.drawImage(x, y, image);
  }
  void BlitToControl(int controlId, const Bitmap& bitmap, int width, int height) override {
    Control* c = w_.Find(controlId);
    if (c == nullptr) return;
    const QImage image = ToImage(bitmap, width, height);
    if (c->picture != nullptr) {
      c->picture->SetImage(image);
    }
  }

 private:
  QtDialogWindow& w_;
  QWidget& target_;
  QPainter painter_;
};

QtDialogWindow::QtDialogWindow(QtWindowSystem& system, const DialogTemplate& tmpl, DialogEvents& events)
    : system_(system), tmpl_(tmpl), events_(events) {
  font_ = QFont(ResolveFontFamily(tmpl_.fontFace));
  font_.setPointSize(tmpl_.fontPoints > 0 ? tmpl_.fontPoints : QApplication::font().pointSize());
  units_ = BaseUnitsOf(font_);
  dialog_ = std::make_unique<DialogWidget>(*this);
  InstallButtonAccessibleFactory();
  Build();
  discarder_ = std::make_unique<InputDiscarder>(*dialog_);
}

QtDialogWindow::~QtDialogWindow() {
  if (busy_) QCoreApplication::instance()->removeEventFilter(discarder_.get());
  ending_ = true;
  controls_.clear();
  dialog_.reset();
}

void QtDialogWindow::Build() {
  QDialog& d = *dialog_;
  d.setFont(font_);
  d.setWindowTitle(ToQString(tmpl_.caption));
  Qt::WindowFlags flags = Qt::Dialog | Qt::WindowTitleHint | Qt::CustomizeWindowHint;
  if (tmpl_.systemMenu) flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint | Qt::WindowMinimizeButtonHint;
  d.setWindowFlags(flags);
  const QRect size = DialogUnitsToPixels(units_, 0, 0, tmpl_.cx, tmpl_.cy);
  d.setFixedSize(size.width(), size.height());

  controls_.reserve(tmpl_.controls.size());
  QWidget* previousTabStop = nullptr;
  for (std::size_t index = 0; index < tmpl_.controls.size(); ++index) {
    const ControlTemplate& ct = tmpl_.controls[index];
    Control c = MakeControl(index);
    Place(c, previousTabStop);
    // Win32 stacks a dialog's controls in template order, the first on top;
    // Qt puts each new child on top of the earlier ones.
    c.widget->lower();
    c.widget->setProperty("orvelControlId", ct.id);
    controls_.push_back(std::move(c));
    if (ct.kind == ControlKind::Edit && !ct.text.empty()) SetText(ct.id, ct.text);
  }
}

QtDialogWindow::Control QtDialogWindow::MakeControl(std::size_t index) {
  QDialog& d = *dialog_;
  const ControlTemplate& ct = tmpl_.controls[index];
  Control c;
  c.tmpl = ct;
  const auto autoCheck = [this, index] { ApplyAutoCheck(index); };
  switch (ct.kind) {
    case ControlKind::PushButton:
      c.widget = c.button = MakePushButton(d, ct);
      break;
    case ControlKind::CheckBox:
      c.widget = c.button = MakeCheckBox(d, ct, autoCheck);
      break;
    case ControlKind::RadioButton:
      c.widget = c.button = MakeRadioButton(d, ct, autoCheck);
      break;
    case ControlKind::GroupBox:
      c.widget = MakeGroupBox(d, ct);
      break;
    case ControlKind::Static:
      if ((ct.style & PictureFrame) != 0) {
        c.widget = c.picture = MakePicture(d, ct);
      } else {
        c.widget = c.label = MakeLabel(d, ct);
      }
      break;
    case ControlKind::Edit:
      if ((ct.style & MultiLine) != 0) {
        c.widget = c.multi = MakeMultiLineEdit(d, ct);
      } else {
        c.widget = c.line = MakeLineEdit(d, ct);
      }
      break;
    case ControlKind::ComboBox:
      c.widget = c.combo = MakeComboBox(d);
      QObject::connect(c.combo, &QComboBox::activated, &d, [this, id = ct.id](int) { events_.OnSelectionChanged(id); });
      break;
    case ControlKind::ProgressBar:
      c.widget = c.progress = MakeProgressBar(d, c.low, c.high);
      break;
  }
  if (c.button != nullptr) {
    QObject::connect(c.button, &QAbstractButton::clicked, &d, [this, id = ct.id] { events_.OnButtonClicked(id); });
  }
  return c;
}

void QtDialogWindow::Place(Control& c, QWidget*& previousTabStop) {
  const ControlTemplate& ct = c.tmpl;
  c.widget->setGeometry(DialogUnitsToPixels(units_, ct.x, ct.y, ct.cx, ct.cy));
  if (ct.kind == ControlKind::ComboBox) {
    // A combo box template's height includes its open list.
    c.widget->resize(c.widget->width(), c.widget->sizeHint().height());
  }
  const bool focusable = ct.kind == ControlKind::PushButton || ct.kind == ControlKind::CheckBox ||
                         ct.kind == ControlKind::RadioButton || ct.kind == ControlKind::Edit ||
                         ct.kind == ControlKind::ComboBox;
  if ((ct.style & TabStop) != 0 && focusable) {
    c.widget->setFocusPolicy(Qt::StrongFocus);
    if (previousTabStop != nullptr) QWidget::setTabOrder(previousTabStop, c.widget);
    previousTabStop = c.widget;
  } else {
    c.widget->setFocusPolicy(focusable ? Qt::ClickFocus : Qt::NoFocus);
  }
}

QtDialogWindow::Control* QtDialogWindow::Find(int id) {
  if (id < 0) return nullptr;
  for (Control& c : controls_) {
    if (c.tmpl.id == id) return &c;
  }
  return nullptr;
}

QDialog& QtDialogWindow::Widget() { return *dialog_; }

QWidget* QtDialogWindow::ControlWidget(int id) {
  Control* c = Find(id);
  return c != nullptr ? c->widget : nullptr;
}

bool QtDialogWindow::SaveScreenshot(const std::string& path) { return ui::SaveScreenshot(*dialog_, path); }

void QtDialogWindow::ApplyAutoCheck(std::size_t index) {
  Control& c = controls_[index];
  if ((c.tmpl.style & AutoCheck) == 0 || c.button == nullptr) return;
  if (c.tmpl.kind == ControlKind::CheckBox) {
    SetCheck(c.tmpl.id, Check(c.tmpl.id) == 0 ? 1 : 0);
    return;
  }
  std::size_t first = index;
  while (first > 0 && (controls_[first].tmpl.style & Group) == 0) --first;
  std::size_t last = index + 1;
  while (last < controls_.size() && (controls_[last].tmpl.style & Group) == 0) ++last;
  for (std::size_t i = first; i < last; ++i) {
    Control& other = controls_[i];
    if (i != index && other.tmpl.kind == ControlKind::RadioButton && (other.tmpl.style & AutoCheck) != 0) {
      other.button->setChecked(false);
    }
  }
  c.button->setChecked(true);
}

void QtDialogWindow::CancelPath() {
  if (ended_ || busy_) return;
  Control* cancel = Find(IDCANCEL);
  if (cancel != nullptr && !cancel->widget->isEnabled()) return;
  events_.OnCancelCommand();
}

void QtDialogWindow::EnterPath() {
  if (ended_) return;
  const int focused = Focus();
  if (Control* c = Find(focused);
      c != nullptr && c->tmpl.kind == ControlKind::PushButton && c->widget->isEnabled() && !c->widget->isHidden()) {
    c->button->click();
    return;
  }
  for (Control& c : controls_) {
    if (c.tmpl.kind == ControlKind::PushButton && (c.tmpl.style & DefaultButton) != 0) {
      if (c.widget->isEnabled() && !c.widget->isHidden()) c.button->click();
      return;  // a disabled default button swallows Enter
    }
  }
  events_.OnOkCommand();
}

void QtDialogWindow::Paint(QWidget& target) {
  ++paintCount_;
  {
    Painter painter(*this, target);
    events_.OnPaintRequest(painter);
  }
  if (startHook_ && running_) {
    // From the loop, not from inside the paint: the hook may paint, click or end the run.
    QtWindowSystem::DialogHook run = std::move(startHook_);
    startHook_ = nullptr;
    QTimer::singleShot(0, dialog_.get(), [this, run] { run(*this); });
  }
}

void QtDialogWindow::SetCaption(std::string_view text) { dialog_->setWindowTitle(ToQString(text)); }

std::string QtDialogWindow::Caption() { return ToUtf8(dialog_->windowTitle()); }

void QtDialogWindow::SetText(int id, std::string_view text) {
  Control* c = Find(id);
  if (c == nullptr) return;
  const QString q = ToQString(text);
  if (c->button != nullptr) {
    c->button->setText(q);
  } else if (c->label != nullptr) {
    c->label->setText(q);
  } else if (c->line != nullptr) {
    c->line->setText(q);
  } else if (c->multi != nullptr) {
    c->rawText = text;
    c->multi->setPlainText(ToDocumentText(text));
    if ((c->tmpl.style & CenterText) != 0) {
      QTextCursor cursor(c->multi->document());
      cursor.select(QTextCursor::Document);
      QTextBlockFormat format;
      format.setAlignment(Qt::AlignHCenter);
      cursor.mergeBlockFormat(format);
    }
  } else if (c->combo != nullptr) {
    // A drop-down list has no text of its own: the text picks an item, silently.
    for (int i = 0; i < c->combo->count(); ++i) {
      if (CompareNoCase(ItemBytes(*c->combo, i), text) == 0) {
        c->combo->setCurrentIndex(i);
        break;
      }
    }
  } else if (auto* g = qobject_cast<QGroupBox*>(c->widget)) {
    g->setTitle(q);
  }
}

std::string QtDialogWindow::Text(int id) {
  Control* c = Find(id);
  if (c == nullptr) return {};
  if (c->button != nullptr) return ToUtf8(c->button->text());
  if (c->label != nullptr) return ToUtf8(c->label->text());
  if (c->line != nullptr) return ToUtf8(c->line->text());
  if (c->multi != nullptr) {
    if (c->multi->isReadOnly()) return c->rawText;
    QString text = c->multi->toPlainText();
    text.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
    return ToUtf8(text);
  }
  if (c->combo != nullptr) {
    return c->combo->currentIndex() >= 0 ? ItemBytes(*c->combo, c->combo->currentIndex()) : std::string();
  }
  if (auto* g = qobject_cast<QGroupBox*>(c->widget)) return ToUtf8(g->title());
  return {};
}

void QtDialogWindow::SetCheck(int id, int state) {
  Control* c = Find(id);
  if (c == nullptr || c->button == nullptr) return;
  const int s = NormalizeCheckState(state);
  constexpr int kIndeterminate = 2;
  if (auto* box = qobject_cast<QCheckBox*>(c->button)) {
    if (s == kIndeterminate) box->setTristate(true);
    box->setCheckState(s == 0 ? Qt::Unchecked : s == 1 ? Qt::Checked : Qt::PartiallyChecked);
  } else if (c->tmpl.kind == ControlKind::RadioButton) {
    c->button->setChecked(s != 0);
  }
}

int QtDialogWindow::Check(int id) {
  Control* c = Find(id);
  if (c == nullptr || c->button == nullptr) return 0;
  constexpr int kIndeterminate = 2;
  if (auto* box = qobject_cast<QCheckBox*>(c->button)) {
    switch (box->checkState()) {
      case Qt::Checked:
        return 1;
      case Qt::PartiallyChecked:
        return kIndeterminate;
      case Qt::Unchecked:
        return 0;
    }
  }
  return c->tmpl.kind == ControlKind::RadioButton && c->button->isChecked() ? 1 : 0;
}

void QtDialogWindow::Enable(int id, bool enabled) {
  if (Control* c = Find(id)) c->widget->setEnabled(enabled);
}

bool QtDialogWindow::IsEnabled(int id) {
  Control* c = Find(id);
  return c != nullptr && c->widget->isEnabled();
}

void QtDialogWindow::Show(int id, bool visible) {
  if (Control* c = Find(id)) c->widget->setVisible(visible);
}

bool QtDialogWindow::IsVisible(int id) {
  Control* c = Find(id);
  return c != nullptr && !c->widget->isHidden();
}

void QtDialogWindow::SetFocus(int id) {
  Control* c = Find(id);
  if (c != nullptr && c->widget->isEnabled() && !c->widget->isHidden()) c->widget->setFocus(Qt::OtherFocusReason);
}

int QtDialogWindow::Focus() {
  const QWidget* focused = dialog_->focusWidget();
  if (focused == nullptr) return -1;
  for (const Control& c : controls_) {
    if (c.widget == focused || c.widget->isAncestorOf(focused)) return c.tmpl.id;
  }
  return -1;
}

void QtDialogWindow::ComboReset(int id) {
  Control* c = Find(id);
  if (c != nullptr && c->combo != nullptr) c->combo->clear();
}

int QtDialogWindow::ComboAdd(int id, std::string_view item) {
  Control* c = Find(id);
  if (c == nullptr || c->combo == nullptr) return -1;
  int index = c->combo->count();
  if ((c->tmpl.style & Sorted) != 0) {
    std::vector<std::string> items;
    items.reserve(static_cast<std::size_t>(index));
    for (int i = 0; i < c->combo->count(); ++i) items.push_back(ItemBytes(*c->combo, i));
    index = SortedInsertIndex(items, item);
  }
  const QSignalBlocker quiet(c->combo);  // the program's change notifies nobody
  const int selected = c->combo->currentIndex();
  c->combo->insertItem(index, ToQString(item),
                       QByteArray(item.data(), static_cast<qsizetype>(item.size())));
  // Qt selects the first item put into an empty list; a drop-down list selects nothing.
  c->combo->setCurrentIndex(selected >= index ? selected + 1 : selected);
  return index;
}

void QtDialogWindow::ComboSetSelection(int id, int index) {
  Control* c = Find(id);
  if (c == nullptr || c->combo == nullptr) return;
  const QSignalBlocker quiet(c->combo);
  c->combo->setCurrentIndex(index >= 0 && index < c->combo->count() ? index : -1);
}

int QtDialogWindow::ComboSelection(int id) {
  Control* c = Find(id);
  return c != nullptr && c->combo != nullptr ? c->combo->currentIndex() : -1;
}

int QtDialogWindow::ComboCount(int id) {
  Control* c = Find(id);
  return c != nullptr && c->combo != nullptr ? c->combo->count() : 0;
}

std::string QtDialogWindow::ComboItem(int id, int index) {
  Control* c = Find(id);
  if (c == nullptr || c->combo == nullptr || index < 0 || index >= c->combo->count()) return {};
  return ItemBytes(*c->combo, index);
}

// Typing stops at the limit; note that QLineEdit also cuts a longer text the
// program sets afterwards (the program sets only shorter ones).
void QtDialogWindow::LimitText(int id, int chars) {
  constexpr int kNoLimit = 32767;  // QLineEdit's own default
  Control* c = Find(id);
  if (c != nullptr && c->line != nullptr) c->line->setMaxLength(chars > 0 ? chars : kNoLimit);
}

void QtDialogWindow::SetProgressRange(int id, int low, int high) {
  Control* c = Find(id);
  if (c == nullptr || c->progress == nullptr) return;
  c->low = low;
  c->high = high;
  c->progress->setRange(std::min(low, high), std::max(low, high));
  SetProgressPosition(id, c->position);
}

void QtDialogWindow::SetProgressPosition(int id, int position) {
  Control* c = Find(id);
  if (c == nullptr || c->progress == nullptr) return;
  // QProgressBar ignores a value outside its range; the control clamps instead.
  c->position = std::clamp(position, std::min(c->low, c->high), std::max(c->low, c->high));
  c->progress->setValue(c->position);
  // The native control redraws at once; the update holds the thread, so paint now.
  if (c->progress->isVisible()) c->progress->repaint();
}

int QtDialogWindow::ProgressPosition(int id) {
  Control* c = Find(id);
  return c != nullptr && c->progress != nullptr ? c->position : 0;
}

void QtDialogWindow::SetIcon(const Bitmap& icon, bool big) {
  static_cast<void>(big);  // Qt picks the size it needs from one icon
  const QImage image = ToImage(icon, icon.width, icon.height);
  if (image.isNull()) return;
  QIcon windowIcon = dialog_->windowIcon();
  windowIcon.addPixmap(QPixmap::fromImage(image));
  dialog_->setWindowIcon(windowIcon);
}

void QtDialogWindow::UpdateWindow() {
  ++updateWindowCount_;
  if (dialog_->isHidden()) return;
  // Paint now, and deliver pending paints only: input waits until the handler returns.
  dialog_->repaint();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateRequest);
}

void QtDialogWindow::SetBusy(bool busy) {
  if (busy == busy_) return;
  QCoreApplication* app = QCoreApplication::instance();
  if (busy) {
    busy_ = true;
    app->installEventFilter(discarder_.get());
    return;
  }
  KeepAlive();  // what arrived since the last call is discarded, not acted on now
  app->removeEventFilter(discarder_.get());
  busy_ = false;
}

void QtDialogWindow::KeepAlive() {
  if (!busy_) return;
  ++keepAliveCount_;
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

int QtDialogWindow::RunModal() {
  if (ended_) return result_;  // ended during OnInitDialog: never shown
  if (auto hook = system_.hooks_.find(tmpl_.resourceId); hook != system_.hooks_.end()) {
    startHook_ = hook->second;  // runs once the window has painted (Paint)
  }
  running_ = true;
  const int result = dialog_->exec();
  running_ = false;
  if (!ended_) {  // the loop ended without EndModal (application quit)
    ended_ = true;
    result_ = result == QDialog::Accepted ? IDOK : IDCANCEL;
  }
  return result_;
}

void QtDialogWindow::EndModal(int result) {
  ended_ = true;
  result_ = result;
  if (running_) {
    ending_ = true;
    dialog_->done(result);
    ending_ = false;
  }
}

}  // namespace orvel::ui
