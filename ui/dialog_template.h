#pragma once
// Dialog templates as data: controls by id, kind, style and position in dialog
// units, in tab order. IDOK and IDCANCEL carry the system's names and values;
// <windows.h> comes in only through platform/win32/windows_shim.h, which
// undefines its macros of them.

#include <cstdint>
#include <string>
#include <vector>

namespace orvel::ui {

inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;

enum class ControlKind { PushButton, CheckBox, RadioButton, GroupBox, Static, Edit, ComboBox, ProgressBar };

// Styles a control may carry (bit set).
enum Style : std::uint32_t {
  TabStop = 1u << 0,
  DefaultButton = 1u << 1,   // push button: Enter presses it when it has the focus chain
  Sorted = 1u << 2,          // combo box: keeps its items ordered
  DropDownList = 1u << 3,
  VScroll = 1u << 4,
  ReadOnly = 1u << 5,        // edit
  MultiLine = 1u << 6,       // edit: lines break only at "\r\n"
  AutoHScroll = 1u << 7,
  Password = 1u << 8,        // edit: typed characters masked
  Border = 1u << 9,
  CenterText = 1u << 10,     // horizontally centred text
  CenterVertically = 1u << 11,
  Sunken = 1u << 12,
  ClientEdge = 1u << 13,
  StaticEdge = 1u << 14,
  PictureFrame = 1u << 15,   // static holding a bitmap drawn by the dialog
  AutoCheck = 1u << 16,      // check box / radio button toggles itself
  Group = 1u << 17,          // first control of a group
};

struct ControlTemplate {
  int id = -1;               // -1 for controls without an id (group box)
  ControlKind kind = ControlKind::Static;
  std::string text;          // UTF-8
  int x = 0, y = 0, cx = 0, cy = 0;  // dialog units
  std::uint32_t style = 0;
};

struct DialogTemplate {
  int resourceId = 0;
  std::string caption;       // UTF-8
  int cx = 0, cy = 0;        // dialog units
  std::string fontFace;      // "ＭＳ Ｐゴシック"
  int fontPoints = 9;
  bool systemMenu = true;
  bool appWindow = false;    // shown in the task bar
  std::vector<ControlTemplate> controls;  // template order = tab order
};

}  // namespace orvel::ui
