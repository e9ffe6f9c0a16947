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
//
// A backend that needs more of the system's headers adds them here, before
// the #undefs.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif

#include <windows.h>
#include <winioctl.h>
// The common controls (the progress bar of the dialogs, ui/win32).
#include <commctrl.h>

// The system's calls are written out with their A or W suffix here; the
// plain names stay free for the program's own members and functions.
#undef CreateEvent
#undef CreateFile
#undef CreateDirectory
#undef DeleteFile
#undef FindFirstFile
#undef FindNextFile
#undef GetFileAttributes
#undef GetMessage
#undef GetObject
#undef GetWindowText
#undef LoadBitmap
#undef LoadIcon
#undef LoadLibrary
#undef MessageBox
#undef MoveFile
#undef PostMessage
#undef SendMessage
#undef SetWindowText
#undef Yield

// Dialog result ids are the program's own constants (ui/dialog_template.h).
#undef IDOK
#undef IDCANCEL
