#pragma once
// The one way <windows.h> enters the program. Only .cpp files of the Windows
// backends (platform/win32, ui/win32) include it, and only through this
// header; no header of ours includes it.
//
// Our headers keep the system's own names: Platform::LoadLibrary and
// Platform::CreateEvent (platform.h), ui::IDOK and ui::IDCANCEL
// (ui/dialog_template.h), CWnd::SetWindowText and GetWindowText and
// CDialog::MessageBox (ui/dialog.h), WindowSystem::MessageBox
// (ui/window_system.h). <windows.h> defines each of them as a macro that would
// rewrite ours, so they are undefined right after it. A backend then calls the
// system by the explicit wide name (LoadLibraryW, CreateEventW, MessageBoxW,
// SetWindowTextW, GetWindowTextW) and uses ui::IDOK and ui::IDCANCEL, which
// carry the system's values. Our headers may come before or after this one.
//
// When a header of ours gains a name that <windows.h> defines as a macro, add
// it below; none of our names is renamed to dodge one.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif

#include <windows.h>

#undef IDOK
#undef IDCANCEL
#undef LoadLibrary
#undef CreateEvent
#undef MessageBox
#undef SetWindowText
#undef GetWindowText
