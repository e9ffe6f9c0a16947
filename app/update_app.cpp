#include "app/update_app.h"

#include <memory>

namespace orvel {

CUpdateApp::CUpdateApp(ui::WindowSystem& ws, Platform& platform, const Variant& variant)
    : ws_(ws), platform_(platform), variant_(variant) {}

bool CUpdateApp::InitInstance() {
  auto dialog = std::make_unique<CUpdateDlg>(ws_, platform_, variant_);
  mainWindow_ = dialog.get();
  modalResult_ = dialog->DoModal();
  if (beforeDestroy_) beforeDestroy_(*dialog);
  mainWindow_ = nullptr;
  dialog.reset();
  return false;
}

}  // namespace orvel
