#include "settings/MainWindowSettings.h"

MainWindowSettings MainWindowPart(const GuardConfig& config)
{
    return {config.strFullPath, config.strArgs, config.strPassword, config.bArgsCrypt, config.strExeName,
        config.nLoopSec, config.bTimedClose, config.strRebTime, config.strUnreadableArgs};
}

GuardConfig WithMainWindow(GuardConfig config, const MainWindowSettings& window)
{
    config.strFullPath = window.strFullPath;
    config.strArgs = window.strArgs;
    config.strPassword = window.strPassword;
    config.bArgsCrypt = window.bArgsCrypt;
    config.strExeName = window.strExeName;
    config.nLoopSec = window.nLoopSec;
    config.bTimedClose = window.bTimedClose;
    config.strRebTime = window.strRebTime;
    config.strUnreadableArgs = window.strUnreadableArgs;
    return config;
}

GuardConfig ConfigToGuard(const std::u16string& iniPath, const MainWindowSettings& window)
{
    return WithMainWindow(ReadStoredSettings(iniPath).config, window);
}
