#include "ui/win32/dialog_template_ex.h"

#include "platform/win32/windows_shim.h"

#include <string>

#include "ui/win32/native_text.h"

namespace orvel::ui {
namespace {

// Predefined control classes by atom, as a template names them.
constexpr std::uint16_t kClassOrdinal = 0xFFFF;
constexpr std::uint16_t kButtonAtom = 0x0080;
constexpr std::uint16_t kEditAtom = 0x0081;
constexpr std::uint16_t kStaticAtom = 0x0082;
constexpr std::uint16_t kComboBoxAtom = 0x0085;

constexpr std::uint16_t kTemplateVersion = 1;
constexpr std::uint16_t kExtendedSignature = 0xFFFF;
constexpr int kFontWeight = FW_NORMAL;
constexpr std::uint8_t kJapaneseCharset = SHIFTJIS_CHARSET;

class Writer {
 public:
  void Word(std::uint32_t v) { words_.push_back(static_cast<std::uint16_t>(v)); }
  void DoubleWord(std::uint32_t v) {
    Word(v & 0xFFFF);
    Word(v >> 16);
  }
  void Short(int v) { Word(static_cast<std::uint16_t>(static_cast<std::int16_t>(v))); }
  void Text(const std::string& utf8) {
    for (const wchar_t c : Utf16FromUtf8(utf8)) Word(static_cast<std::uint16_t>(c));
    Word(0);
  }
  void Wide(const wchar_t* text) {
    for (; *text != 0; ++text) Word(static_cast<std::uint16_t>(*text));
    Word(0);
  }
  void AlignDoubleWord() {
    if (words_.size() % 2 != 0) Word(0);
  }
  std::vector<std::uint16_t> Take() { return std::move(words_); }

 private:
  std::vector<std::uint16_t> words_;
};

std::uint32_t Common(const ControlTemplate& c) {
  std::uint32_t style = WS_CHILD | WS_VISIBLE;
  if ((c.style & TabStop) != 0) style |= WS_TABSTOP;
  if ((c.style & Group) != 0) style |= WS_GROUP;
  if ((c.style & Border) != 0) style |= WS_BORDER;
  if ((c.style & VScroll) != 0) style |= WS_VSCROLL;
  return style;
}

std::uint32_t Extended(const ControlTemplate& c) {
  std::uint32_t ex = 0;
  if ((c.style & ClientEdge) != 0) ex |= WS_EX_CLIENTEDGE;
  if ((c.style & StaticEdge) != 0) ex |= WS_EX_STATICEDGE;
  return ex;
}

std::uint32_t ButtonStyle(const ControlTemplate& c) {
  std::uint32_t style = 0;
  const bool autoCheck = (c.style & AutoCheck) != 0;
  switch (c.kind) {
    case ControlKind::PushButton: style = (c.style & DefaultButton) != 0 ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON; break;
    case ControlKind::CheckBox: style = autoCheck ? BS_AUTOCHECKBOX : BS_CHECKBOX; break;
    case ControlKind::RadioButton: style = autoCheck ? BS_AUTORADIOBUTTON : BS_RADIOBUTTON; break;
    case ControlKind::GroupBox: style = BS_GROUPBOX; break;
    default: break;
  }
  if ((c.style & CenterText) != 0) style |= BS_CENTER;
  if ((c.style & CenterVertically) != 0) style |= BS_VCENTER;
  return style;
}

std::uint32_t StaticStyle(const ControlTemplate& c) {
  if ((c.style & PictureFrame) != 0) {
    // A frame the dialog paints the logo into; it has no image of its own.
    return SS_BITMAP | ((c.style & Sunken) != 0 ? SS_SUNKEN : 0u);
  }
  std::uint32_t style = (c.style & CenterText) != 0 ? SS_CENTER : SS_LEFT;
  if ((c.style & CenterVertically) != 0) style |= SS_CENTERIMAGE;
  if ((c.style & Sunken) != 0) style |= SS_SUNKEN;
  return style | SS_NOPREFIX;
}

std::uint32_t EditStyle(const ControlTemplate& c) {
  std::uint32_t style = (c.style & CenterText) != 0 ? ES_CENTER : ES_LEFT;
  if ((c.style & MultiLine) != 0) style |= ES_MULTILINE;
  if ((c.style & AutoHScroll) != 0) style |= ES_AUTOHSCROLL;
  if ((c.style & ReadOnly) != 0) style |= ES_READONLY;
  if ((c.style & Password) != 0) style |= ES_PASSWORD;
  return style;
}

std::uint32_t ComboStyle(const ControlTemplate& c) {
  std::uint32_t style = (c.style & DropDownList) != 0 ? CBS_DROPDOWNLIST : CBS_DROPDOWN;
  if ((c.style & Sorted) != 0) style |= CBS_SORT;
  return style;
}

}  // namespace

NativeStyle DialogStyle(const DialogTemplate& tmpl) {
  NativeStyle s;
  // Hidden: the modal run shows it once OnInitDialog has filled it.
  s.style = WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_SETFONT | DS_3DLOOK | DS_CENTER;
  if (tmpl.systemMenu) s.style |= WS_SYSMENU;
  if (tmpl.appWindow) s.exStyle |= WS_EX_APPWINDOW;
  return s;
}

NativeStyle ControlStyle(const ControlTemplate& c) {
  NativeStyle s;
  s.style = Common(c);
  s.exStyle = Extended(c);
  switch (c.kind) {
    case ControlKind::PushButton:
    case ControlKind::CheckBox:
    case ControlKind::RadioButton:
    case ControlKind::GroupBox: s.style |= ButtonStyle(c); break;
    case ControlKind::Static: s.style |= StaticStyle(c); break;
    case ControlKind::Edit: s.style |= EditStyle(c); break;
    case ControlKind::ComboBox: s.style |= ComboStyle(c); break;
    case ControlKind::ProgressBar: break;
  }
  return s;
}

std::vector<std::uint16_t> BuildDialogTemplateEx(const DialogTemplate& tmpl) {
  Writer w;
  const NativeStyle dialog = DialogStyle(tmpl);
  w.Word(kTemplateVersion);
  w.Word(kExtendedSignature);
  w.DoubleWord(0);  // help id
  w.DoubleWord(dialog.exStyle);
  w.DoubleWord(dialog.style);
  w.Word(static_cast<std::uint32_t>(tmpl.controls.size()));
  w.Short(0);
  w.Short(0);
  w.Short(tmpl.cx);
  w.Short(tmpl.cy);
  w.Word(0);  // no menu
  w.Word(0);  // the dialog class
  w.Text(tmpl.caption);
  w.Word(static_cast<std::uint32_t>(tmpl.fontPoints));
  w.Word(kFontWeight);
  w.Word(static_cast<std::uint32_t>(kJapaneseCharset) << 8);  // italic 0, then the character set
  w.Text(tmpl.fontFace);

  for (const ControlTemplate& c : tmpl.controls) {
    w.AlignDoubleWord();
    const NativeStyle s = ControlStyle(c);
    w.DoubleWord(0);  // help id
    w.DoubleWord(s.exStyle);
    w.DoubleWord(s.style);
    w.Short(c.x);
    w.Short(c.y);
    w.Short(c.cx);
    w.Short(c.cy);
    w.DoubleWord(static_cast<std::uint32_t>(c.id));  // -1: a control without an id
    switch (c.kind) {
      case ControlKind::PushButton:
      case ControlKind::CheckBox:
      case ControlKind::RadioButton:
      case ControlKind::GroupBox:
        w.Word(kClassOrdinal);
        w.Word(kButtonAtom);
        break;
      case ControlKind::Static:
        w.Word(kClassOrdinal);
        w.Word(kStaticAtom);
        break;
      case ControlKind::Edit:
        w.Word(kClassOrdinal);
        w.Word(kEditAtom);
        break;
      case ControlKind::ComboBox:
        w.Word(kClassOrdinal);
        w.Word(kComboBoxAtom);
        break;
      case ControlKind::ProgressBar: w.Wide(kProgressClass); break;
    }
    w.Text(c.text);
    w.Word(0);  // no creation data
  }
  return w.Take();
}

}  // namespace orvel::ui
