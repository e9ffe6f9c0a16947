#pragma once
// The operator of a Qt dialog in tests, through the window system's real
// input path: presses and keys are delivered to the dialog's QWindow at a
// point of the window, so stacking, visibility and enabled state decide who
// gets them, as with a real mouse. And the same operator through Qt's
// accessibility interface, as a screen reader drives the dialog.

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QCoreApplication>
#include <QDialog>
#include <QTest>
#include <QWidget>
#include <QWindow>

#include <gtest/gtest.h>

#include <string>

#include "ui/qt/qt_window_system.h"

namespace orvel::ui::testing {

// The dialog's window; shows the dialog first if it is not shown yet.
inline QWindow* WindowOf(QtDialogWindow& w) {
  if (!w.Widget().isVisible()) w.Widget().show();
  return w.Widget().windowHandle();
}

// A left click at the centre of `control`, delivered to its top-level window
// at that point in window coordinates.
inline void ClickWidgetAt(QWidget& control) {
  QWidget* top = control.window();
  if (!top->isVisible()) top->show();
  QWindow* window = top->windowHandle();
  ASSERT_NE(window, nullptr);
  QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, control.mapTo(top, control.rect().center()));
}

// A left click at the centre of control `id`.
inline void ClickAt(QtDialogWindow& w, int id) {
  QWidget* control = w.ControlWidget(id);
  ASSERT_NE(control, nullptr) << id;
  ClickWidgetAt(*control);
}

inline void PressKey(QtDialogWindow& w, Qt::Key key) { QTest::keyClick(WindowOf(w), key); }

// Tab until control `id` has the focus (at most once round the dialog).
inline void TabTo(QtDialogWindow& w, int id) {
  const int controls = static_cast<int>(w.Widget().findChildren<QWidget*>().size());
  for (int i = 0; i <= controls && w.Focus() != id; ++i) PressKey(w, Qt::Key_Tab);
  ASSERT_EQ(w.Focus(), id);
}

// Picks `item` of a drop-down list with the arrow keys, as an operator does.
inline void ChooseWithKeys(QtDialogWindow& w, int id, const std::string& item) {
  TabTo(w, id);
  const int count = w.ComboCount(id);
  for (int i = 0; i < count && w.Text(id) != item; ++i) PressKey(w, Qt::Key_Down);
  for (int i = 0; i < count && w.Text(id) != item; ++i) PressKey(w, Qt::Key_Up);
  ASSERT_EQ(w.Text(id), item);
}

// The accessible object of the dialog with this role and name, as a screen
// reader finds it among the window's children; nullptr when none.
inline QAccessibleInterface* FindAccessible(QtDialogWindow& w, QAccessible::Role role, const std::string& name) {
  QAccessibleInterface* dialog = QAccessible::queryAccessibleInterface(&w.Widget());
  if (dialog == nullptr) return nullptr;
  const QString wanted = QString::fromStdString(name);
  for (int i = 0; i < dialog->childCount(); ++i) {
    QAccessibleInterface* child = dialog->child(i);
    if (child != nullptr && child->role() == role && child->text(QAccessible::Name) == wanted) return child;
  }
  return nullptr;
}

// Runs the default (first) action of the control named `name`, as an
// assistive tool does, then lets the loop take what it queued; false when no
// such control or it offers no action.
inline bool DoDefaultAction(QtDialogWindow& w, QAccessible::Role role, const std::string& name) {
  QAccessibleInterface* control = FindAccessible(w, role, name);
  if (control == nullptr || control->actionInterface() == nullptr) return false;
  const QStringList actions = control->actionInterface()->actionNames();
  if (actions.isEmpty()) return false;
  control->actionInterface()->doAction(actions.front());
  QCoreApplication::processEvents();
  return true;
}

}  // namespace orvel::ui::testing
