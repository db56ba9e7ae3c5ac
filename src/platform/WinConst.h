#pragma once
// The Win32 message, command and message-box numbers the program speaks in. They are
// defined only where <windows.h> has not already defined them, so the Windows back end
// and the portable code agree on every value.

#ifndef WM_COMMAND
#define WM_COMMAND 0x0111
#endif
#ifndef WM_SYSCOMMAND
#define WM_SYSCOMMAND 0x0112
#endif
#ifndef WM_TIMER
#define WM_TIMER 0x0113
#endif
#ifndef WM_DESTROY
#define WM_DESTROY 0x0002
#endif
#ifndef WM_PAINT
#define WM_PAINT 0x000F
#endif
#ifndef WM_QUERYDRAGICON
#define WM_QUERYDRAGICON 0x0037
#endif
#ifndef WM_USER
#define WM_USER 0x0400
#endif
#ifndef WM_LBUTTONDOWN
#define WM_LBUTTONDOWN 0x0201
#endif
#ifndef WM_LBUTTONUP
#define WM_LBUTTONUP 0x0202
#endif
#ifndef WM_LBUTTONDBLCLK
#define WM_LBUTTONDBLCLK 0x0203
#endif
#ifndef WM_RBUTTONDOWN
#define WM_RBUTTONDOWN 0x0204
#endif
#ifndef WM_RBUTTONUP
#define WM_RBUTTONUP 0x0205
#endif
#ifndef WM_MOUSEMOVE
#define WM_MOUSEMOVE 0x0200
#endif

#ifndef BN_CLICKED
#define BN_CLICKED 0
#endif
#ifndef EN_CHANGE
#define EN_CHANGE 0x0300
#endif

#ifndef IDOK
#define IDOK 1
#endif
#ifndef IDCANCEL
#define IDCANCEL 2
#endif

#ifndef MB_OK
#define MB_OK 0x00000000U
#endif
#ifndef MB_OKCANCEL
#define MB_OKCANCEL 0x00000001U
#endif
#ifndef MB_TYPEMASK
#define MB_TYPEMASK 0x0000000FU
#endif
#ifndef MB_ICONHAND
#define MB_ICONHAND 0x00000010U
#endif
#ifndef MB_ICONQUESTION
#define MB_ICONQUESTION 0x00000020U
#endif
#ifndef MB_ICONEXCLAMATION
#define MB_ICONEXCLAMATION 0x00000030U
#endif
#ifndef MB_ICONASTERISK
#define MB_ICONASTERISK 0x00000040U
#endif
#ifndef MB_ICONERROR
#define MB_ICONERROR MB_ICONHAND
#endif
#ifndef MB_ICONWARNING
#define MB_ICONWARNING MB_ICONEXCLAMATION
#endif
#ifndef MB_ICONINFORMATION
#define MB_ICONINFORMATION MB_ICONASTERISK
#endif
#ifndef MB_ICONMASK
#define MB_ICONMASK 0x000000F0U
#endif

#ifndef NIF_MESSAGE
#define NIF_MESSAGE 0x00000001U
#endif
#ifndef NIF_ICON
#define NIF_ICON 0x00000002U
#endif
#ifndef NIF_TIP
#define NIF_TIP 0x00000004U
#endif
#ifndef NIF_INFO
#define NIF_INFO 0x00000010U
#endif

#ifndef SW_HIDE
#define SW_HIDE 0
#endif
#ifndef SW_SHOWNORMAL
#define SW_SHOWNORMAL 1
#endif
#ifndef SW_SHOW
#define SW_SHOW 5
#endif
#ifndef SW_MINIMIZE
#define SW_MINIMIZE 6
#endif
#ifndef SW_RESTORE
#define SW_RESTORE 9
#endif

#ifndef VK_SPACE
#define VK_SPACE 0x20
#endif
