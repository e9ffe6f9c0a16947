#pragma once
// The programs' resources as data: dialog templates 102 and 134, icon 128 and
// the logo bitmaps 133 and 136.

#include "resources/resource_ids.h"
#include "ui/dialog_template.h"
#include "ui/window_system.h"

namespace orvel {

const ui::DialogTemplate& UpdateDialogTemplate();    // 102
const ui::DialogTemplate& PasswordDialogTemplate();  // 134

// The bitmap or icon of a resource id; an empty bitmap when there is none.
const ui::Bitmap& LoadResourceBitmap(int resourceId);

}  // namespace orvel
