#pragma once
// The one way into <windows.h>: only .cpp files of the Windows backends
// (platform/win32, ui/win32) include it, and always through this header.
// It keeps the system's headers from renaming the program's own names: the
// A/W macros (LoadLibrary, CreateEvent, MessageBox, ...), min/max, and the
// dialog result ids. A backend that needs more of the system's headers adds
// them here, before the #undefs.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif

#include <windows.h>
#include <winioctl.h>

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
