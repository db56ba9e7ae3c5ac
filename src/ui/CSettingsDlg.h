#pragma once
// 高级设置: the settings beyond the main window's, one row of the IDD_SETTINGS template each.
// Each row shows its setting as it stands when the dialog opens and applies it on "确定";
// "取消" and Esc change nothing.

#include <cstdint>
#include <optional>
#include <string>

#include "platform/Window.h"
#include "settings/GuardConfig.h"

class CSettingsDlg : public CDialogEx {
public:
    // config: the main window's settings, whose rows of this dialog are shown and, on "确定",
    // saved to iniPath and taken into it (guarding uses them from its next start).
    CSettingsDlg(CDialogEx* parent, std::u16string iniPath, GuardConfig& config);

    bool OnInitDialog() override;

protected:
    void OnOK() override;

private:
    // Start at login: the system's own record (the Run key, the autostart entry), read afresh
    // at every opening, since another tool may have changed it.
    void LoadStartAtLogin();
    bool ApplyStartAtLogin();

    // What happens when the guarded program dies: the keys beside the main window's in config.ini.
    void LoadAlertSettings();
    bool ApplyAlertSettings();

    void LoadProbes();
    // Takes the probes' rows; false, after saying why, when a value is refused.
    bool ApplyProbes();

    void LoadGateway();
    // Reads the gateway's rows into gateway; false, after saying why, when a value is refused.
    bool ReadGatewayRows(GatewaySettings& gateway);
    // The number typed in a row, when it is a whole number from low to high; otherwise says
    // so, naming the row, and gives none.
    std::optional<int32_t> NumberRow(int id, int32_t low, int32_t high, const char16_t* name);

    bool m_bStartAtLoginShown = false;
    std::u16string m_strIniPath;
    GuardConfig& m_config;
    // The health probes' rows change the main window's settings, written with the rest on
    // "保存" and "开始".
    ProbeSettings& m_probes;
    // The gateway's rows, likewise.
    GatewaySettings& m_gateway;
};
