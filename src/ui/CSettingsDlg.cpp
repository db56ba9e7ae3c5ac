#include "ui/CSettingsDlg.h"

#include <optional>
#include <utility>

#include "base/DecimalText.h"

#include "platform/System.h"
#include "resources/Resource.h"

CSettingsDlg::CSettingsDlg(CDialogEx* parent, std::u16string iniPath, GuardConfig& config)
    : CDialogEx(IDD_SETTINGS, parent)
    , m_strIniPath(std::move(iniPath))
    , m_config(config)
{
}

bool CSettingsDlg::OnInitDialog()
{
    CDialogEx::OnInitDialog();
    LoadStartAtLogin();
    LoadAlertSettings();
    return true;
}

void CSettingsDlg::OnOK()
{
    // Every row is applied; a row the system refused keeps the dialog open with its state as
    // the system now has it, so what it shows stays true.
    bool applied = true;
    applied = ApplyStartAtLogin() && applied;
    applied = ApplyAlertSettings() && applied;
    if (applied)
        EndDialog(IDOK);
}

void CSettingsDlg::LoadStartAtLogin()
{
    const std::optional<bool> state = GetSystem().IsStartAtLogin();
    m_bStartAtLoginShown = state.value_or(false);
    m_pWnd->CheckDlgButton(IDC_STARTATLOGIN, m_bStartAtLoginShown);
    // A record that cannot be read cannot be changed either.
    m_pWnd->EnableDlgItem(IDC_STARTATLOGIN, state.has_value());
}

bool CSettingsDlg::ApplyStartAtLogin()
{
    const bool wanted = m_pWnd->IsDlgButtonChecked(IDC_STARTATLOGIN);
    // Untouched, the row leaves the record alone: what another tool wrote since the dialog
    // opened is not undone.
    if (wanted == m_bStartAtLoginShown)
        return true;
    if (GetSystem().SetStartAtLogin(wanted))
        return true;
    MessageBox(wanted ? u"无法设置登录时自动启动。" : u"无法取消登录时自动启动。", std::nullopt, MB_ICONWARNING);
    LoadStartAtLogin();
    return false;
}

void CSettingsDlg::LoadAlertSettings()
{
    m_pWnd->CheckDlgButton(IDC_BACKOFF, m_config.bBackoff);
    m_pWnd->SetDlgItemText(IDC_BACKOFFMAX, px::IToW(m_config.nBackoffMaxSec));
    m_pWnd->SetDlgItemText(IDC_MINUPTIME, px::IToW(m_config.nMinUptimeSec));
    m_pWnd->CheckDlgButton(IDC_NOTIFY, m_config.bNotify);
    m_pWnd->SetDlgItemText(IDC_EVENTCMD, m_config.strEventCmd);
    m_pWnd->SetDlgItemText(IDC_METRICSFILE, m_config.strMetricsFile);
}

bool CSettingsDlg::ApplyAlertSettings()
{
    GuardConfig wanted = m_config;
    wanted.bBackoff = m_pWnd->IsDlgButtonChecked(IDC_BACKOFF);
    wanted.nBackoffMaxSec = px::WToI(m_pWnd->GetDlgItemText(IDC_BACKOFFMAX));
    wanted.nMinUptimeSec = px::WToI(m_pWnd->GetDlgItemText(IDC_MINUPTIME));
    wanted.bNotify = m_pWnd->IsDlgButtonChecked(IDC_NOTIFY);
    wanted.strEventCmd = m_pWnd->GetDlgItemText(IDC_EVENTCMD);
    wanted.strMetricsFile = m_pWnd->GetDlgItemText(IDC_METRICSFILE);
    if (!WriteAlertSettings(m_strIniPath, wanted)) {
        MessageBox(u"无法保存设置。", std::nullopt, MB_ICONWARNING);
        return false;
    }
    m_config = std::move(wanted);
    return true;
}
