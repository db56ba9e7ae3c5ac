#pragma once
// 高级设置: the settings beyond the main window's, one row of the IDD_SETTINGS template each.
// Each row shows its setting as it stands when the dialog opens and applies it on "确定";
// "取消" and Esc change nothing.

#include "platform/Window.h"

class CSettingsDlg : public CDialogEx {
public:
    explicit CSettingsDlg(CDialogEx* parent = nullptr);

    bool OnInitDialog() override;

protected:
    void OnOK() override;

private:
    // Start at login: the system's own record (the Run key, the autostart entry), read afresh
    // at every opening, since another tool may have changed it.
    void LoadStartAtLogin();
    bool ApplyStartAtLogin();

    bool m_bStartAtLoginShown = false;
};
