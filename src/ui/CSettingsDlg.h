#pragma once
// 高级设置: the settings beyond the main window's, one row of the IDD_SETTINGS template each
// (the rows of SettingsTable whose owner is SettingOwner::Advanced), and start at login.
// Each row shows its setting as config.ini holds it when the dialog opens. "确定" checks every
// row first, then writes them all in one save and applies start at login; guarding uses them
// from its next start. "取消" and Esc change nothing.

#include <string>

#include "platform/Window.h"
#include "settings/GuardConfig.h"

class CSettingsDlg : public CDialogEx {
public:
    // iniPath: the config.ini the rows are read from and written to. guarding: guarding runs,
    // which goes on with the values it started with; the dialog says so.
    CSettingsDlg(CDialogEx* parent, std::u16string iniPath, bool guarding);

    bool OnInitDialog() override;

protected:
    void OnOK() override;

private:
    // Start at login: the system's own record (the Run key, the autostart entry), read afresh
    // at every opening, since another tool may have changed it.
    void LoadStartAtLogin();
    bool ApplyStartAtLogin();

    // Shows each row's setting.
    void LoadRows(StoredSettings settings);
    // Takes every row into settings. The first row that refuses its value says why, gets the
    // keyboard focus, and the result is false.
    bool ReadRows(StoredSettings& settings);

    bool m_bStartAtLoginShown = false;
    std::u16string m_strIniPath;
    bool m_bGuarding;
};
