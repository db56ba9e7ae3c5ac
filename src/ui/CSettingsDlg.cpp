#include "ui/CSettingsDlg.h"

#include <optional>
#include <utility>

#include "base/DecimalText.h"
#include "platform/System.h"
#include "resources/Resource.h"

namespace {

// Digits only, at most nine of them: a number of seconds or checks as typed; none otherwise.
std::optional<int32_t> WholeNumber(std::u16string_view text)
{
    if (text.empty() || text.size() > 9)
        return std::nullopt;
    for (const char16_t c : text)
        if (c < u'0' || c > u'9')
            return std::nullopt;
    return px::WToI(text);
}

}  // namespace

CSettingsDlg::CSettingsDlg(CDialogEx* parent, std::u16string iniPath, GuardConfig& config)
    : CDialogEx(IDD_SETTINGS, parent)
    , m_strIniPath(std::move(iniPath))
    , m_config(config)
    , m_probes(config.probes)
    , m_gateway(config.gateway)
{
}

bool CSettingsDlg::OnInitDialog()
{
    CDialogEx::OnInitDialog();
    LoadStartAtLogin();
    LoadAlertSettings();
    LoadProbes();
    LoadGateway();
    return true;
}

void CSettingsDlg::OnOK()
{
    // Every row is applied; a row the system refused keeps the dialog open with its state as
    // the system now has it, so what it shows stays true.
    // The probes first: a value refused keeps the dialog open before anything is changed.
    GatewaySettings gateway = m_gateway;
    if (!ReadGatewayRows(gateway) || !ApplyProbes())
        return;
    m_gateway = gateway;
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

void CSettingsDlg::LoadProbes()
{
    m_pWnd->SetDlgItemText(IDC_PROBE_TCP, m_probes.strTcp);
    m_pWnd->CheckDlgButton(IDC_PROBE_WINDOW, m_probes.bWindow);
    m_pWnd->SetDlgItemText(IDC_PROBE_FILE, m_probes.strFile);
    m_pWnd->SetDlgItemText(IDC_PROBE_FILE_SEC, px::IToW(m_probes.nFileSec));
    m_pWnd->SetDlgItemText(IDC_PROBE_FAILS, px::IToW(m_probes.nFails));
    m_pWnd->SetDlgItemText(IDC_PROBE_GRACE_SEC, px::IToW(m_probes.nGraceSec));
    m_pWnd->SetDlgItemText(IDC_STOP_TIMEOUT_SEC, px::IToW(m_probes.nStopTimeoutSec));
}

bool CSettingsDlg::ApplyProbes()
{
    ProbeSettings probes;
    probes.strTcp = GetDlgItemText(IDC_PROBE_TCP);
    if (!probes.strTcp.empty() && !ParseTcpTarget(probes.strTcp)) {
        MessageBox(kTcpTargetRefused, std::u16string(u"提示"), MB_OK);
        return false;
    }
    probes.bWindow = m_pWnd->IsDlgButtonChecked(IDC_PROBE_WINDOW);
    probes.strFile = GetDlgItemText(IDC_PROBE_FILE);
    const struct {
        int id;
        int32_t ProbeSettings::*field;
        int32_t low;
        int32_t high;
        const char16_t* name;
    } numbers[] = {
        {IDC_PROBE_FILE_SEC, &ProbeSettings::nFileSec, kMinFileSec, kMaxFileSec, u"心跳最长间隔"},
        {IDC_PROBE_FAILS, &ProbeSettings::nFails, kMinFails, kMaxFails, u"连续失败次数"},
        {IDC_PROBE_GRACE_SEC, &ProbeSettings::nGraceSec, 0, kMaxGraceSec, u"启动宽限期"},
        {IDC_STOP_TIMEOUT_SEC, &ProbeSettings::nStopTimeoutSec, 0, kMaxStopTimeoutSec, u"关闭等待时间"},
    };
    for (const auto& number : numbers) {
        const std::optional<int32_t> value = NumberRow(number.id, number.low, number.high, number.name);
        if (!value)
            return false;
        probes.*number.field = *value;
    }
    m_probes = probes;
    return true;
}

std::optional<int32_t> CSettingsDlg::NumberRow(int id, int32_t low, int32_t high, const char16_t* name)
{
    const std::optional<int32_t> value = WholeNumber(GetDlgItemText(id));
    if (value && *value >= low && *value <= high)
        return value;
    MessageBox(std::u16string(name) + u"应为 " + px::IToW(low) + u" 到 " + px::IToW(high) + u" 之间的整数！",
        std::u16string(u"提示"), MB_OK);
    return std::nullopt;
}

void CSettingsDlg::LoadGateway()
{
    m_pWnd->CheckDlgButton(IDC_GATEWAY, m_gateway.bGateway);
    m_pWnd->SetDlgItemText(IDC_MATCH_CMDLINE, m_gateway.strMatchCmdline);
    m_pWnd->SetDlgItemText(IDC_GW_LOGIN_SEC, px::IToW(m_gateway.nLoginSec));
}

bool CSettingsDlg::ReadGatewayRows(GatewaySettings& gateway)
{
    const std::optional<int32_t> loginSec = NumberRow(IDC_GW_LOGIN_SEC, 0, kMaxLoginSec, u"登录超时");
    if (!loginSec)
        return false;
    gateway.bGateway = m_pWnd->IsDlgButtonChecked(IDC_GATEWAY);
    gateway.strMatchCmdline = GetDlgItemText(IDC_MATCH_CMDLINE);
    gateway.nLoginSec = *loginSec;
    return true;
}
