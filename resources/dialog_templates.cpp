#include "resources/resources.h"

namespace orvel {
namespace {

using ui::ControlKind;

constexpr const char* kDialogFont = "ＭＳ Ｐゴシック";
constexpr int kDialogFontPoints = 9;

constexpr int kUpdateDialogWidth = 291;
constexpr int kUpdateDialogHeight = 259;
constexpr int kPasswordDialogWidth = 75;
constexpr int kPasswordDialogHeight = 33;

constexpr std::uint32_t kCentredBoth = ui::CenterText | ui::CenterVertically;

ui::DialogTemplate BuildUpdateDialog() {
  ui::DialogTemplate t;
  t.resourceId = kUpdateDialogId;
  t.caption = "Orvel";
  t.cx = kUpdateDialogWidth;
  t.cy = kUpdateDialogHeight;
  t.fontFace = kDialogFont;
  t.fontPoints = kDialogFontPoints;
  t.systemMenu = true;
  t.appWindow = true;
  // Template order is the tab order: Close comes first and takes the focus.
  t.controls = {
      {kIdCloseButton, ControlKind::PushButton, "クローズ", 226, 145, 40, 19, ui::DefaultButton | ui::TabStop},
      {kIdNextButton, ControlKind::PushButton, "実行", 226, 198, 40, 18, ui::TabStop},
      {kIdDriveCaption, ControlKind::Static, "ターゲットドライブ", 7, 41, 61, 8, 0},
      {kIdDriveList, ControlKind::ComboBox, "", 7, 53, 195, 162, ui::DropDownList | ui::VScroll | ui::TabStop},
      {kIdSourceCaption, ControlKind::Static, "ソースファイル", 7, 73, 74, 10, 0},
      {kIdSourceList, ControlKind::ComboBox, "", 7, 85, 69, 130,
       ui::DropDownList | ui::Sorted | ui::VScroll | ui::TabStop},
      {kIdBackupCheck, ControlKind::CheckBox, "現在のF/Wをバックアップ", 7, 111, 90, 10, ui::AutoCheck | ui::TabStop},
      {kIdInfoText, ControlKind::Edit, "", 7, 142, 194, 74,
       ui::MultiLine | ui::AutoHScroll | ui::ReadOnly | ui::Border},
      {kIdProgressBar, ControlKind::ProgressBar, "", 7, 233, 276, 9, ui::Border},
      {kIdProgressCaption, ControlKind::Static, "進行状況", 7, 222, 41, 8, 0},
      {kIdInfoCaption, ControlKind::Static, "インフォメーション", 7, 129, 62, 10, 0},
      {kIdEnglishRadio, ControlKind::RadioButton, "English", 228, 82, 37, 10, ui::AutoCheck | ui::Group},
      {kIdJapaneseRadio, ControlKind::RadioButton, "Japanese", 228, 94, 44, 10, ui::AutoCheck},
      {-1, ControlKind::GroupBox, "", 224, 74, 50, 34, ui::Group},
      {kIdSourceDescription, ControlKind::Static, "", 78, 85, 122, 13, kCentredBoth | ui::Sunken},
      {kIdBackupFileName, ControlKind::Static, "", 101, 111, 99, 13, kCentredBoth | ui::Sunken},
      {kIdLogoPicture, ControlKind::Static, "", 215, 25, 69, 25, ui::PictureFrame | ui::Sunken | ui::ClientEdge},
      // The maker name below the logo: the dialog attaches it, and one variant hides it.
      {kIdMakerText, ControlKind::Static, "Tessaro Co. ,Ltd.", 215, 52, 69, 10, ui::CenterText},
      {kIdPassTypeCheck, ControlKind::CheckBox, "Pass Type", 228, 111, 47, 10, ui::AutoCheck},
      {kIdUpdateLoaderCheck, ControlKind::CheckBox, "Update Loader", 228, 123, 58, 10, ui::AutoCheck | ui::TabStop},
      {kIdBackButton, ControlKind::PushButton, "戻る", 226, 171, 40, 19, kCentredBoth | ui::TabStop},
      {kIdTitleEdit, ControlKind::Edit, "", 7, 7, 194, 19,
       ui::CenterText | ui::MultiLine | ui::ReadOnly | ui::StaticEdge | ui::TabStop},
  };
  return t;
}

ui::DialogTemplate BuildPasswordDialog() {
  ui::DialogTemplate t;
  t.resourceId = kPasswordDialogId;
  t.caption = "Password";
  t.cx = kPasswordDialogWidth;
  t.cy = kPasswordDialogHeight;
  t.fontFace = kDialogFont;
  t.fontPoints = kDialogFontPoints;
  t.systemMenu = true;
  t.appWindow = false;
  t.controls = {
      {kIdPasswordEdit, ControlKind::Edit, "", 7, 7, 61, 14, ui::Password | ui::Border | ui::TabStop},
  };
  return t;
}

}  // namespace

const ui::DialogTemplate& UpdateDialogTemplate() {
  static const ui::DialogTemplate tmpl = BuildUpdateDialog();
  return tmpl;
}

const ui::DialogTemplate& PasswordDialogTemplate() {
  static const ui::DialogTemplate tmpl = BuildPasswordDialog();
  return tmpl;
}

}  // namespace orvel
