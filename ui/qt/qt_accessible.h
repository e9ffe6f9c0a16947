#pragma once
// The dialogs' push buttons, check boxes and radio buttons as assistive tools
// (screen readers, the accessibility bus) see them: each announced in its own
// role, and its action acting as a click does - a press and release queued
// at the control, so the check rule and the dialog's click handler run when
// the loop takes them - as with a Win32 control, whose default action is a
// click. Qt's own interface would toggle the check mark without a click,
// and announce a radio button outside a Qt exclusive group as a check box.

#include <QAbstractButton>

#include "ui/dialog_template.h"

namespace orvel::ui {

// Once per process, before the first dialog is built.
void InstallButtonAccessibleFactory();
// Marks `button` as a control of `kind` of a dialog. Before anything else is
// set on it: setting a text already makes Qt build and cache its interface.
void MarkButtonKind(QAbstractButton& button, ControlKind kind);

}  // namespace orvel::ui
