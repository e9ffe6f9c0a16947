#pragma once
// A small dialog exercising every kind of control, shared by the suites.

#include <string>
#include <vector>

#include "ui/dialog.h"

namespace orvel::ui::testing {

inline constexpr int kTestTemplate = 500;
inline constexpr int kPromptTemplate = 501;

enum TestId {
  kNameEdit = 10,
  kAgreeCheck = 11,
  kRadioA = 12,
  kRadioB = 13,
  kRadioC = 14,
  kRadioD = 15,
  kSortedCombo = 16,
  kPlainCombo = 17,
  kProgress = 18,
  kPicture = 19,
  kApplyButton = 20,
  kSecretEdit = 21,
  kNameLabel = 22,
  kManualCheck = 23,
};

inline DialogTemplate MakeTestTemplate() {
  DialogTemplate t;
  t.resourceId = kTestTemplate;
  t.caption = "Test";
  t.cx = 200;
  t.cy = 150;
  t.fontFace = "ＭＳ Ｐゴシック";
  t.fontPoints = 9;
  t.controls = {
      {kNameLabel, ControlKind::Static, "名前", 7, 7, 40, 8, 0},
      {kNameEdit, ControlKind::Edit, "", 50, 7, 80, 12, TabStop | Border | AutoHScroll},
      {kAgreeCheck, ControlKind::CheckBox, "Agree", 7, 24, 60, 10, TabStop | AutoCheck},
      {kManualCheck, ControlKind::CheckBox, "Manual", 70, 24, 60, 10, TabStop},
      {-1, ControlKind::GroupBox, "Language", 5, 36, 90, 34, 0},
      {kRadioA, ControlKind::RadioButton, "English", 10, 44, 40, 10, AutoCheck | Group | TabStop},
      {kRadioB, ControlKind::RadioButton, "日本語", 10, 56, 40, 10, AutoCheck},
      {kRadioC, ControlKind::RadioButton, "Fast", 100, 44, 40, 10, AutoCheck | Group | TabStop},
      {kRadioD, ControlKind::RadioButton, "Slow", 100, 56, 40, 10, AutoCheck},
      {kSortedCombo, ControlKind::ComboBox, "", 7, 74, 80, 60, DropDownList | Sorted | VScroll | TabStop | Group},
      {kPlainCombo, ControlKind::ComboBox, "", 100, 74, 80, 60, DropDownList | VScroll | TabStop},
      {kSecretEdit, ControlKind::Edit, "", 7, 92, 80, 12, Password | Border | TabStop},
      {kProgress, ControlKind::ProgressBar, "", 7, 110, 180, 9, Border},
      {kPicture, ControlKind::Static, "", 140, 7, 50, 20, PictureFrame | Sunken},
      {IDOK, ControlKind::PushButton, "OK", 40, 126, 40, 14, TabStop | DefaultButton},
      {IDCANCEL, ControlKind::PushButton, "キャンセル", 90, 126, 40, 14, TabStop},
      {kApplyButton, ControlKind::PushButton, "Apply", 140, 126, 40, 14, TabStop},
  };
  return t;
}

// A prompt without buttons: only an edit, as a password prompt is.
inline DialogTemplate MakePromptTemplate() {
  DialogTemplate t;
  t.resourceId = kPromptTemplate;
  t.caption = "Password";
  t.cx = 75;
  t.cy = 33;
  t.fontFace = "ＭＳ Ｐゴシック";
  t.controls = {{kSecretEdit, ControlKind::Edit, "", 7, 7, 61, 14, Password | Border | TabStop}};
  return t;
}

class TestDialog : public CDialog {
 public:
  TestDialog(const DialogTemplate& t, WindowSystem& ws, CDialog* parent = nullptr) : CDialog(t, ws, parent) {}

  bool OnInitDialog() override {
    ++initCount;
    CDialog::OnInitDialog();
    if (endInInit) {
      EndDialog(0);
      return false;
    }
    return focusFirstTabStop;
  }
  void DoDataExchange(DataExchange& dx) override {
    dx.Control(kNameEdit, nameEdit);
    dx.Control(kAgreeCheck, agreeCheck);
    dx.Control(kSortedCombo, sortedCombo);
    dx.Control(kPlainCombo, plainCombo);
    dx.Control(kProgress, progress);
    dx.Control(kPicture, picture);
    dx.Text(kNameEdit, name);
    dx.Text(kNameLabel, label);
    dx.Check(kAgreeCheck, agree);
    dx.Check(kManualCheck, manual);
  }
  void OnPaint(PaintContext& pc) override {
    ++paints;
    if (pc.Minimized()) {
      pc.EraseIconBackground();
      pc.DrawIcon((pc.ClientWidth() - icon.width + 1) / 2, (pc.ClientHeight() - icon.height + 1) / 2, icon);
      return;
    }
    pc.BlitToControl(kPicture, logo, logo.width, logo.height);
  }
  void DestroyWindow() override {
    ++destroyCount;
    CDialog::DestroyWindow();
  }

  CEdit nameEdit;
  CButton agreeCheck;
  CComboBox sortedCombo, plainCombo;
  CProgressCtrl progress;
  CStatic picture;
  std::string name, label;
  int agree = 0, manual = 0;
  int initCount = 0, destroyCount = 0, paints = 0;
  bool endInInit = false;
  bool focusFirstTabStop = true;
  Bitmap logo{2, 1, {0xFF112233u, 0xFF445566u}};
  Bitmap icon{4, 4, std::vector<std::uint32_t>(16, 0xFF0000FFu)};
};

}  // namespace orvel::ui::testing
