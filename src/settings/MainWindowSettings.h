#pragma once
// The main window's record: the keys its fields show (SettingOwner::MainWindow), with the
// password and the unreadable arguments that go with ARGS. The window keeps this and nothing
// else of the settings: the config to guard with is the stored settings with these in place
// of the file's, built afresh at each start of guarding.

#include <cstdint>
#include <optional>
#include <string>

#include "settings/GuardConfig.h"

struct MainWindowSettings {
    std::u16string strFullPath;  // FULLPATH
    std::u16string strArgs;  // ARGS, always plain text here
    std::u16string strPassword;  // inside ARGS when scrambled
    bool bArgsCrypt = false;  // ARGSCRYPT
    std::u16string strExeName;  // EXE_NAME, always lower case
    int32_t nLoopSec = 0;  // LOOPSEC
    bool bTimedClose = false;  // ISTIMEDCLOSE
    std::u16string strRebTime;  // REB_TIME
    // ARGS as stored when they do not unscramble: see GuardConfig::strUnreadableArgs.
    std::optional<std::u16string> strUnreadableArgs;
    bool operator==(const MainWindowSettings&) const = default;
};

// The main window's part of config.
MainWindowSettings MainWindowPart(const GuardConfig& config);
// config with the main window's part replaced by window's.
GuardConfig WithMainWindow(GuardConfig config, const MainWindowSettings& window);
// The config to guard with: config.ini's settings as they are now (高级设置's as its last
// "确定" or a hand edit left them), with the main window's in place of the file's.
GuardConfig ConfigToGuard(const std::u16string& iniPath, const MainWindowSettings& window);
