#include "ui/CSettingsDlg.h"

#include <optional>

#include "platform/System.h"
#include "resources/Resource.h"

CSettingsDlg::CSettingsDlg(CDialogEx* parent)
    : CDialogEx(IDD_SETTINGS, parent)
{
}

bool CSettingsDlg::OnInitDialog()
{
    CDialogEx::OnInitDialog();
    LoadStartAtLogin();
    return true;
}

void CSettingsDlg::OnOK()
{
    // Every row is applied; a row the system refused keeps the dialog open with its state as
    // the system now has it, so what it shows stays true.
    bool applied = true;
    applied = ApplyStartAtLogin() && applied;
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
