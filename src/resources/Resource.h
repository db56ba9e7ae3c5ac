#pragma once
// Resource, control, command, timer and message numbers of the program.

#include <cstdint>

#include "platform/WinConst.h"

// Dialog templates
inline constexpr int IDD_ABOUTBOX = 100;
inline constexpr int IDD_MAIN = 102;
inline constexpr int IDD_PASSWD = 129;
inline constexpr int IDD_SETTINGS = 130;  // 高级设置

// Icons and strings
inline constexpr int IDR_MAINFRAME = 128;
inline constexpr int IDS_ABOUTBOX = 101;
inline constexpr int IDS_SETTINGS = 103;  // the menus' entry of 高级设置

// Controls of IDD_MAIN
inline constexpr int IDC_LOOPSEC = 1001;
inline constexpr int IDC_START = 1002;
inline constexpr int IDC_STATUS = 1003;
inline constexpr int IDC_HIDE = 1004;
inline constexpr int IDC_STATUS_LABEL = 1005;
inline constexpr int IDC_TIMEDCLOSE = 1006;
inline constexpr int IDC_EXENAME = 1007;
inline constexpr int IDC_AUTOSTART = 1008;
inline constexpr int IDC_ARGS = 1009;
inline constexpr int IDC_ARGSCRYPT = 1010;
inline constexpr int IDC_SAVE = 1011;
inline constexpr int IDC_REBTIME = 1014;
inline constexpr int IDC_FULLPATH = 1015;

// Controls of IDD_PASSWD
inline constexpr int IDC_PASSWD = 1012;
inline constexpr int IDC_PASSWD_PROMPT = 1013;

// Controls of IDD_ABOUTBOX
inline constexpr int IDC_ABOUT_FOLDER = 1017;  // where config.ini and log.txt are kept

// Controls of IDD_SETTINGS, one row of the dialog each
inline constexpr int IDC_STARTATLOGIN = 1016;
inline constexpr int IDC_BACKOFF = 1017;
inline constexpr int IDC_BACKOFFMAX = 1018;
inline constexpr int IDC_MINUPTIME = 1019;
inline constexpr int IDC_NOTIFY = 1020;
inline constexpr int IDC_EVENTCMD = 1021;
inline constexpr int IDC_METRICSFILE = 1022;
inline constexpr int IDC_PROBE_TCP = 1030;
inline constexpr int IDC_PROBE_WINDOW = 1031;
inline constexpr int IDC_PROBE_FILE = 1032;
inline constexpr int IDC_PROBE_FILE_SEC = 1033;
inline constexpr int IDC_PROBE_FAILS = 1034;
inline constexpr int IDC_PROBE_GRACE_SEC = 1035;
inline constexpr int IDC_STOP_TIMEOUT_SEC = 1036;
inline constexpr int IDC_GATEWAY = 1037;
inline constexpr int IDC_MATCH_CMDLINE = 1038;
inline constexpr int IDC_GW_LOGIN_SEC = 1039;
// Below the rows: while guarding runs, that new values wait for its next start.
inline constexpr int IDC_SETTINGS_NOTE = 1040;

// Controls nobody addresses
inline constexpr int IDC_STATIC = -1;

// System-menu and tray commands
inline constexpr unsigned IDM_ABOUTBOX = 0x0010;
inline constexpr unsigned IDM_SETTINGS = 0x0020;
inline constexpr unsigned ID_TRAY_EXIT = 10005;
inline constexpr unsigned ID_TRAY_SHOWHIDE = 10008;
inline constexpr unsigned ID_TRAY_SETTINGS = 10009;

// The tray icon's callback message
inline constexpr unsigned WM_TRAYNOTIFY = WM_USER + 101;  // 1125
// A later start in the same folder asks this one to show its window.
inline constexpr unsigned WM_SHOWINSTANCE = WM_USER + 102;
// The system asks the program to end: wParam says why (an EndCause), lParam the signal's
// number for a signal.
inline constexpr unsigned WM_ENDREQUEST = WM_USER + 103;
enum EndCause : uintptr_t {
    END_CAUSE_SIGNAL = 1,  // a termination signal (Linux: SIGTERM, SIGINT, SIGHUP)
    END_CAUSE_SESSION = 2,  // the user's session ends (logoff, shutdown)
    END_CAUSE_DISPLAY_LOST = 3,  // the connection to the display server is gone
};

// Guard timers
inline constexpr unsigned TIMER_LOOP = 30;
inline constexpr unsigned TIMER_RESTART = 31;
inline constexpr unsigned TIMER_LAUNCHED = 32;
inline constexpr unsigned TIMER_PROBE = 33;  // a check's probes are read
inline constexpr unsigned TIMER_STOP = 34;  // a stop that asked first looks whether the program closed
inline constexpr unsigned TIMER_NOTIFY = 35;  // the minute after a notification is over
