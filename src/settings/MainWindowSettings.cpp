#include "settings/MainWindowSettings.h"

MainWindowSettings MainWindowPart(const GuardConfig& config) { return config; }

GuardConfig WithMainWindow(GuardConfig config, const MainWindowSettings& window)
{
    static_cast<MainWindowSettings&>(config) = window;
    return config;
}

GuardConfig ConfigToGuard(const std::u16string& iniPath, const MainWindowSettings& window)
{
    return WithMainWindow(ReadStoredSettings(iniPath).config, window);
}
