#pragma once
// The settings record and its place in config.ini.

#include <cstdint>
#include <optional>
#include <string>

#include "settings/ProbeSettings.h"

// The gateway step's settings, keys of their own beside the others. A file without them runs
// the step for the image name ibgateway.exe alone, with its four titles, as before.
struct GatewaySettings {
    bool bGateway = false;  // GATEWAY: the guarded program is the gateway, whatever its image name
    // MATCH_CMDLINE: a process counts as the program's only when its command line contains
    // this text; empty: any.
    std::u16string strMatchCmdline;
    // Title lists, "title1;title2", in config.ini only: further dialogs confirmed with space,
    // dialogs that restart the program, dialogs the user is alerted to and nothing touches.
    std::u16string strConfirm;  // GW_CONFIRM
    std::u16string strRestart;  // GW_RESTART
    std::u16string strAlert;  // GW_ALERT
    // GW_LOGIN_SEC: a login window still up this long after a launch restarts the program; 0: off.
    int32_t nLoginSec = 0;
    std::u16string strLoginTitle = u"IBKR Gateway;IB Gateway";  // GW_LOGIN_TITLE: the login windows' titles
    bool operator==(const GatewaySettings&) const = default;
};

// GW_LOGIN_SEC's range: up to a day.
inline constexpr int32_t kMaxLoginSec = 86400;

// The main window's record: the keys its fields show, with the password and the unreadable
// arguments that go with ARGS. The window keeps this and nothing else of the settings.
struct MainWindowSettings {
    std::u16string strFullPath;  // FULLPATH
    std::u16string strArgs;  // ARGS, always plain text here
    std::u16string strPassword;  // inside ARGS when scrambled
    bool bArgsCrypt = false;  // ARGSCRYPT
    std::u16string strExeName;  // EXE_NAME, always lower case
    int32_t nLoopSec = 0;  // LOOPSEC
    bool bTimedClose = false;  // ISTIMEDCLOSE
    std::u16string strRebTime;  // REB_TIME
    // ARGS as stored when ARGSCRYPT is set and the arguments do not unscramble (strArgs is
    // then empty): written back as it is while the arguments stay empty and scrambled, so that
    // a save never destroys what it could not read.
    std::optional<std::u16string> strUnreadableArgs;
    bool operator==(const MainWindowSettings&) const = default;
};

// Every setting: the main window's, then the keys of 高级设置 and those typed into the file.
struct GuardConfig : MainWindowSettings {
    // The health probes and the stop's wait (keys of their own, after the others).
    ProbeSettings probes;

    // Keys beside the ones above, for what happens when the program dies. A file without them
    // gets these defaults; an older copy of the program ignores them.
    bool bBackoff = true;  // BACKOFF: wait longer after each quick exit
    int32_t nBackoffMaxSec = 300;  // BACKOFF_MAX_SEC: the longest wait
    int32_t nMinUptimeSec = 10;  // MIN_UPTIME_SEC: an exit before this is a quick exit
    bool bNotify = true;  // NOTIFY: tray notifications
    std::u16string strEventCmd;  // EVENT_CMD: a program run on each event; empty: none
    std::u16string strMetricsFile;  // METRICS_FILE: the metrics file's path; empty: none
    // The gateway step (keys of their own, written after the probes').
    GatewaySettings gateway;
};

inline constexpr char16_t SETTINGS_SECTION[] = u"PX_SETTING";

// The record as stored, with every key's default, and AUTOSTART beside it.
struct StoredSettings {
    GuardConfig config;
    bool bAutoStart = false;
};

// config.ini beside the executable: modulePath cut after its last path separator (nothing
// kept when it has none), then "config.ini".
std::u16string IniPathForModule(const std::u16string& modulePath);
// Lower-cases the ASCII letters A to Z; every other unit stays as it is.
std::u16string LowerImageName(std::u16string name);
// Every key of the section (SettingsTable) with its default, from one read of the file; EXE_NAME
// lower-cased; ARGS unscrambled (split at exactly PASSWORD_FIELD_LENGTH) when ARGSCRYPT is
// non-zero, and kept in strUnreadableArgs when the arguments do not read whole. The numbers of
// 高级设置 are moved into their ranges, and one that is no number reads as its default.
StoredSettings ReadStoredSettings(const std::u16string& iniPath);
// The unreadable ARGS are written back as stored: the arguments are still empty and scrambled.
bool KeepsUnreadableArgs(const GuardConfig& config);
// Each writes in one replacement of the file and gives false when the write failed. The
// main window's keys are written always: REB_TIME, FULLPATH, EXE_NAME, ARGS (scrambled when
// bArgsCrypt, or the unreadable ARGS as stored while KeepsUnreadableArgs), ARGSCRYPT, LOOPSEC,
// ISTIMEDCLOSE, in that order. The keys of 高级设置 are written where they differ from their
// default or are in the file already (a file that never had them keeps exactly the keys it
// had). The gateway's title lists are never written: they live in the file as the user wrote them.
//
// The whole record: the main window's keys, then 高级设置's.
bool WriteGuardConfig(const std::u16string& iniPath, const GuardConfig& config);
// The main window's keys alone ("保存", "开始").
bool WriteMainWindowSettings(const std::u16string& iniPath, const GuardConfig& config);
// 高级设置's keys alone (its "确定").
bool WriteAdvancedSettings(const std::u16string& iniPath, const GuardConfig& config);
// Writes AUTOSTART alone ("1" or "0"). False when the write failed.
bool WriteAutoStart(const std::u16string& iniPath, bool autoStart);
// name can be a process's image name: not empty, and no path (no separator in it).
bool IsImageName(const std::u16string& name);
// path names a file that can be opened for reading; never a path with a NUL inside.
bool CanOpenForReading(const std::u16string& path);
