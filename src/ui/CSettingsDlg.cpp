#include "ui/CSettingsDlg.h"

#include <optional>
#include <utility>

#include "platform/System.h"
#include "resources/Resource.h"
#include "settings/SettingsTable.h"

namespace {

bool IsRow(const SettingKey& key) { return key.owner == SettingOwner::Advanced && key.row.nControlId != 0; }

}  // namespace

CSettingsDlg::CSettingsDlg(CDialogEx* parent, std::u16string iniPath, bool guarding)
    : CDialogEx(IDD_SETTINGS, parent)
    , m_strIniPath(std::move(iniPath))
    , m_bGuarding(guarding)
{
}

bool CSettingsDlg::OnInitDialog()
{
    CDialogEx::OnInitDialog();
    LoadStartAtLogin();
    LoadRows(ReadStoredSettings(m_strIniPath));
    if (m_bGuarding)
        m_pWnd->SetDlgItemText(IDC_SETTINGS_NOTE, u"守护中：新设置将在下次开始守护时生效。");
    return true;
}

void CSettingsDlg::OnOK()
{
    // Every row is checked before anything changes: a refused value leaves the file, start at
    // login and the main window as they were.
    StoredSettings wanted;
    if (!ReadRows(wanted))
        return;
    // The rows in one save, before start at login: a write that fails changes nothing else.
    if (!WriteAdvancedSettings(m_strIniPath, wanted.config)) {
        MessageBox(u"无法保存设置。", std::nullopt, MB_ICONWARNING);
        return;
    }
    // A record the system refused keeps the dialog open showing it as the system now has it,
    // so what the dialog shows stays true.
    if (ApplyStartAtLogin())
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

void CSettingsDlg::LoadRows(StoredSettings settings)
{
    for (const SettingKey& key : SettingsTable()) {
        if (!IsRow(key))
            continue;
        if (key.type == SettingType::Flag)
            m_pWnd->CheckDlgButton(key.row.nControlId, key.field.flag(settings));
        else
            m_pWnd->SetDlgItemText(key.row.nControlId, StoredValue(key, settings));
    }
}

bool CSettingsDlg::ReadRows(StoredSettings& settings)
{
    for (const SettingKey& key : SettingsTable()) {
        if (!IsRow(key))
            continue;
        const int id = key.row.nControlId;
        if (key.type == SettingType::Flag) {
            key.field.flag(settings) = m_pWnd->IsDlgButtonChecked(id);
            continue;
        }
        const std::u16string typed = GetDlgItemText(id);
        if (const std::optional<std::u16string> refusal = RowRefusal(key, typed)) {
            MessageBox(*refusal, std::u16string(u"提示"), MB_OK);
            GotoDlgCtrl(id);
            return false;
        }
        TakeRowText(key, typed, settings);
    }
    return true;
}
