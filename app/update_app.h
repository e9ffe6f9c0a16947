#pragma once
// The application object: runs the one dialog modally and then lets the
// program end. The window system and the platform are handed in by main()
// (real or simulated), so it is constructed there rather than statically.

#include <functional>

#include "app/update_dlg.h"

namespace orvel {

class CUpdateApp {
 public:
  CUpdateApp(ui::WindowSystem& ws, Platform& platform, const Variant& variant);

  // Constructs the dialog, runs it modally, destroys it. Always false: there
  // is no message loop of the application's own after the dialog.
  bool InitInstance();

  // The main window while InitInstance runs it (nullptr otherwise).
  CUpdateDlg* MainWindow() { return mainWindow_; }
  // What the modal run returned (not acted upon; for tests and the exit code).
  int ModalResult() const { return modalResult_; }
  // Called with the dialog just before it is destroyed (tests look at its members).
  void SetBeforeDestroy(std::function<void(CUpdateDlg&)> hook) { beforeDestroy_ = std::move(hook); }

 private:
  ui::WindowSystem& ws_;
  Platform& platform_;
  Variant variant_;
  CUpdateDlg* mainWindow_ = nullptr;
  int modalResult_ = 0;
  std::function<void(CUpdateDlg&)> beforeDestroy_;
};

}  // namespace orvel
