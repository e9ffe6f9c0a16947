#include <QApplication>
#include <QMessageBox>
#include <QStyle>
#include <QTimer>

#include "ui/qt/qt_window_system.h"

namespace orvel::ui {

QtWindowSystem::QtWindowSystem(QApplication& app) : app_(app) {}

QtWindowSystem::~QtWindowSystem() = default;

void QtWindowSystem::SetModalStartHook(int templateId, DialogHook hook) {
  if (hook) {
    hooks_[templateId] = std::move(hook);
  } else {
    hooks_.erase(templateId);
  }
}

std::unique_ptr<DialogWindow> QtWindowSystem::CreateDialogWindow(const DialogTemplate& tmpl, DialogEvents& events,
                                                                DialogWindow* owner) {
  // No Qt parent: the dialog object owns its window, and exec makes it modal
  // over every other window anyway.
  static_cast<void>(owner);
  return std::make_unique<QtDialogWindow>(*this, tmpl, events);
}

void QtWindowSystem::MessageBox(DialogWindow* owner, std::string_view text, std::string_view caption,
                                MessageBoxIcon icon) {
  messageBoxes_.push_back(MessageBoxRecord{std::string(text), std::string(caption), icon});
  QMessageBox::Icon qicon = QMessageBox::Information;
  switch (icon) {
    case MessageBoxIcon::Stop:
      qicon = QMessageBox::Critical;
      break;
    case MessageBoxIcon::Exclamation:
      qicon = QMessageBox::Warning;
      break;
    case MessageBoxIcon::Information:
      qicon = QMessageBox::Information;
      break;
  }
  QWidget* parent = nullptr;
  if (auto* window = dynamic_cast<QtDialogWindow*>(owner); window != nullptr) parent = &window->Widget();
  QString body = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  body.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  QMessageBox box(qicon, QString::fromUtf8(caption.data(), static_cast<qsizetype>(caption.size())), body,
                  QMessageBox::Ok, parent);
  if (messageBoxHook_) {
    MessageBoxHook hook = messageBoxHook_;
    QTimer::singleShot(0, &box, [&box, hook] { hook(box); });
  }
  box.exec();
}

int QtWindowSystem::IconWidth() { return app_.style()->pixelMetric(QStyle::PM_LargeIconSize); }

int QtWindowSystem::IconHeight() { return app_.style()->pixelMetric(QStyle::PM_LargeIconSize); }

}  // namespace orvel::ui
