#include "app/password_dlg.h"

#include "resources/resources.h"

namespace orvel {

CPasswordDlg::CPasswordDlg(ui::WindowSystem& ws, ui::CDialog* parent)
    : ui::CDialog(PasswordDialogTemplate(), ws, parent) {}

void CPasswordDlg::DoDataExchange(ui::DataExchange& dx) {
  dx.Control(kIdPasswordEdit, passwordEdit);
  dx.Text(kIdPasswordEdit, passwordText);
}

bool CPasswordDlg::OnInitDialog() {
  ui::CDialog::OnInitDialog();
  passwordEdit.LimitText(kPasswordMaxChars);
  passwordText.clear();
  UpdateData(false);
  passwordEdit.SetFocus();
  return false;  // the focus is already where it belongs
}

}  // namespace orvel
