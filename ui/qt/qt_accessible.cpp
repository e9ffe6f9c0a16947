#include "ui/qt/qt_accessible.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QCheckBox>
#include <QCoreApplication>
#include <QMouseEvent>
#include <QVariant>

#include <memory>

namespace orvel::ui {
namespace {

constexpr const char* kButtonKindProperty = "orvelButtonKind";

// A button of a dialog (see the header): its role, its check state, and a
// press or toggle action that clicks it.
class ButtonAccessible final : public QAccessibleWidget {
 public:
  ButtonAccessible(QAbstractButton* button, QAccessible::Role role) : QAccessibleWidget(button, role) {}

  QString text(QAccessible::Text t) const override {
    if (t == QAccessible::Name && widget()->accessibleName().isEmpty()) return Button()->text();
    return QAccessibleWidget::text(t);
  }
  QAccessible::State state() const override {
    QAccessible::State s = QAccessibleWidget::state();
    const QAbstractButton* b = Button();
    s.pressed = b->isDown();
    if (role() == QAccessible::Button) return s;
    s.checkable = true;
    s.checked = b->isChecked();
    if (const auto* box = qobject_cast<const QCheckBox*>(b); box != nullptr) {
      s.checkStateMixed = box->checkState() == Qt::PartiallyChecked;
    }
    return s;
  }
  QStringList actionNames() const override {
    QStringList names;
    if (widget()->isEnabled()) names << (role() == QAccessible::Button ? pressAction() : toggleAction());
    names << QAccessibleWidget::actionNames();
    return names;
  }
  void doAction(const QString& action) override {
    if (action != pressAction() && action != toggleAction()) {
      QAccessibleWidget::doAction(action);
      return;
    }
    // A press and release at the control's centre, queued as the window
    // system queues input: the tool's call returns at once (a click may start
    // a whole update), and a busy dialog discards them as it does all input.
    if (!widget()->isEnabled() || widget()->isHidden()) return;
    const QPointF centre = QRectF(widget()->rect()).center();
    const QPointF global = widget()->mapToGlobal(centre);
    for (const QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
      const Qt::MouseButtons held = type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton;
      QCoreApplication::postEvent(
          widget(), std::make_unique<QMouseEvent>(type, centre, global, Qt::LeftButton, held, Qt::NoModifier).release());
    }
  }

 private:
  QAbstractButton* Button() const { return static_cast<QAbstractButton*>(widget()); }
};

QAccessibleInterface* ButtonAccessibleFactory(const QString&, QObject* object) {
  auto* button = qobject_cast<QAbstractButton*>(object);
  if (button == nullptr) return nullptr;
  const QVariant kind = button->property(kButtonKindProperty);
  if (!kind.isValid()) return nullptr;
  QAccessible::Role role = QAccessible::Button;
  switch (static_cast<ControlKind>(kind.toInt())) {
    case ControlKind::CheckBox:
      role = QAccessible::CheckBox;
      break;
    case ControlKind::RadioButton:
      role = QAccessible::RadioButton;
      break;
    default:
      break;
  }
  // Qt's accessibility cache owns the interface.
  return std::make_unique<ButtonAccessible>(button, role).release();
}


}  // namespace

void InstallButtonAccessibleFactory() {
  static const bool installed = [] {
    QAccessible::installFactory(&ButtonAccessibleFactory);
    return true;
  }();
  static_cast<void>(installed);
}

void MarkButtonKind(QAbstractButton& button, ControlKind kind) {
  button.setProperty(kButtonKindProperty, static_cast<int>(kind));
}

}  // namespace orvel::ui
