#pragma once
// The small prompt behind the "Pass Type" option: one masked edit field; Enter
// keeps the entry, Escape leaves it empty.

#include <string>

#include "ui/dialog.h"

namespace orvel {

inline constexpr int kPasswordMaxChars = 16;

class CPasswordDlg : public ui::CDialog {
 public:
  explicit CPasswordDlg(ui::WindowSystem& ws, ui::CDialog* parent = nullptr);

  bool OnInitDialog() override;
  void DoDataExchange(ui::DataExchange& dx) override;

  ui::CEdit passwordEdit;
  std::string passwordText;
};

}  // namespace orvel
