#pragma once
// 高级设置: the settings beyond the main window's, one row of the IDD_SETTINGS template each.
// Each row shows its setting as it stands when the dialog opens and applies it on "确定";
// "取消" and Esc change nothing.

#include "platform/Window.h"
#include "settings/ProbeSettings.h"

class CSettingsDlg : public CDialogEx {
public:
    // probes: the health probes' settings, shown at opening and changed on "确定" (they are
    // written to config.ini with the rest on "保存" and "开始").
    explicit CSettingsDlg(ProbeSettings& probes, CDialogEx* parent = nullptr);

    bool OnInitDialog() override;

protected:
    void OnOK() override;

private:
    // Start at login: the system's own record (the Run key, the autostart entry), read afresh
    // at every opening, since another tool may have changed it.
    void LoadStartAtLogin();
    bool ApplyStartAtLogin();

    void LoadProbes();
    // Takes the probes' rows; false, after saying why, when a value is refused.
    bool ApplyProbes();

    ProbeSettings& m_probes;
    bool m_bStartAtLoginShown = false;
};
