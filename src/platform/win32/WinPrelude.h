#pragma once
// The one way into <windows.h> for the Windows back end: wide (W) functions, no min/max
// macros, the lean header set. The A/W macros whose names the window and system layers use
// for their own members are undone, so those names mean the same after this header as
// before it; Windows' own functions are called by their W names.

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef UNICODE
#define UNICODE
#endif
#ifndef _UNICODE
#define _UNICODE
#endif

#include <windows.h>

#undef GetDlgItemText
#undef SetDlgItemText
#undef PostMessage
#undef MessageBox
#undef GetWindowText
#undef DefWindowProc
#undef GetModuleFileName
