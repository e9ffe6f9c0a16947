#pragma once
// A dialog template as Windows takes it: the DLGTEMPLATEEX layout in memory,
// built from the same template data the other backends use (positions in
// dialog units, ids, styles, texts), for CreateDialogIndirectParam.

#include <cstdint>
#include <vector>

#include "ui/dialog_template.h"

namespace orvel::ui {

// The window class name of a progress bar (comctl32's PROGRESS_CLASS).
inline constexpr const wchar_t* kProgressClass = L"msctls_progress32";

// Window style and extended style of a dialog and of each kind of control.
struct NativeStyle {
  std::uint32_t style = 0;
  std::uint32_t exStyle = 0;
};
NativeStyle DialogStyle(const DialogTemplate& tmpl);
NativeStyle ControlStyle(const ControlTemplate& control);

// The template in the DLGTEMPLATEEX layout, in 16-bit units (the items are
// aligned on 32 bits from the start, as the layout asks). The dialog is built
// hidden; its font is the template's face and size with the Japanese
// character set.
std::vector<std::uint16_t> BuildDialogTemplateEx(const DialogTemplate& tmpl);

}  // namespace orvel::ui
