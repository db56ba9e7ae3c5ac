#pragma once
// The main window's record (MainWindowSettings, the keys of SettingOwner::MainWindow) against
// the whole config: the config to guard with is the stored settings with the window's in place
// of the file's, built afresh at each start of guarding.

#include <cstdint>
#include <optional>
#include <string>

#include "settings/GuardConfig.h"

// The main window's part of config.
MainWindowSettings MainWindowPart(const GuardConfig& config);
// config with the main window's part replaced by window's.
GuardConfig WithMainWindow(GuardConfig config, const MainWindowSettings& window);
// The config to guard with: config.ini's settings as they are now (高级设置's as its last
// "确定" or a hand edit left them), with the main window's in place of the file's.
GuardConfig ConfigToGuard(const std::u16string& iniPath, const MainWindowSettings& window);
