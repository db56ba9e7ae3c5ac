#pragma once
// The one way Windows code includes <windows.h>. The neutral window and system layers use
// the framework's names (MessageBox, GetDlgItemText, DefWindowProc, ...), which <windows.h>
// turns into macros for their A/W functions; undefining them here keeps every neutral name
// meaning the program's own function. Windows code calls the W functions by their W names.

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
#undef LoadString
