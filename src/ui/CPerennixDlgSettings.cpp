// The main dialog's settings handlers: moving settings between config.ini, the record and
// the controls, the start-on-launch box and the scramble switch.

#include <algorithm>

#include "base/DecimalText.h"
#include "guard/RestartSchedule.h"
#include "platform/System.h"
#include "resources/Resource.h"
#include "settings/CDialogPasswd.h"
#include "settings/SettingsSave.h"
#include "ui/CPerennixDlg.h"

namespace {
constexpr char16_t kMaskChar = u'*';
}  // namespace

void CPerennixDlg::LoadSettings()
{
    m_strIniPath
        = m_dataFolder ? m_dataFolder->path + u"config.ini" : IniPathForModule(GetSystem().GetModuleFileName());
    const StoredSettings stored = ReadStoredSettings(m_strIniPath);
    m_record = MainWindowPart(stored.config);
    m_editArgs.SetPasswordChar(m_record.bArgsCrypt ? kMaskChar : 0);

    // The path goes in before the image name: setting the path derives a name from it, and
    // the stored name must win.
    m_pWnd->SetDlgItemText(IDC_ARGS, m_record.strArgs);
    m_chkArgsCrypt.SetCheck(m_record.bArgsCrypt ? 1 : 0);
    m_pWnd->SetDlgItemText(IDC_FULLPATH, m_record.strFullPath);
    m_pWnd->SetDlgItemText(IDC_EXENAME, m_record.strExeName);
    m_pWnd->SetDlgItemText(IDC_LOOPSEC, px::IToW(m_record.nLoopSec));
    m_chkTimedClose.SetCheck(m_record.bTimedClose ? 1 : 0);
    const bool noTimes = m_record.strRebTime.empty() || m_record.strRebTime == u"0";
    m_pWnd->SetDlgItemText(IDC_REBTIME, noTimes ? std::u16string(u"00:00") : m_record.strRebTime);
    // The empty field stands for arguments that are kept, not for none.
    if (m_record.strUnreadableArgs)
        SetStatusText(u"参数无法解密，已保留原值");

    m_bAutoStart = stored.bAutoStart;
    m_pWnd->CheckDlgButton(IDC_AUTOSTART, m_bAutoStart);
    if (m_bAutoStart) {
        m_bStartAtLaunchPending = true;
        m_pWnd->PostMessage(WM_COMMAND, IDC_START, 0);
    }
}

namespace {

// The restart times that are not "HH:MM" (with a day of the week or without), one a line, with
// what each does.
std::u16string MalformedRestartTimesText(const std::vector<MalformedRestartTime>& malformed)
{
    std::u16string text = u"以下重启时间不是有效的时间（HH:MM）：";
    for (const MalformedRestartTime& entry : malformed) {
        text += u"\n" + entry.text;
        if (entry.badWeekday)
            text += u"（星期无法识别，请写 Sun、Mon… 或 周日、周一…）";
        else if (!entry.firesAt)
            text += u"（永远不会执行）";
        else
            text += u"（将在 " + FormatMinuteOfDay(*entry.firesAt) + u" 执行）";
    }
    return text;
}

}  // namespace

SavedSettings CPerennixDlg::SaveSettingsToFile()
{
    m_record.strFullPath = GetDlgItemText(IDC_FULLPATH);
    m_record.strExeName = LowerImageName(GetDlgItemText(IDC_EXENAME));
    m_record.nLoopSec = px::WToI(GetDlgItemText(IDC_LOOPSEC));
    m_record.bTimedClose = m_chkTimedClose.GetCheck() == 1;
    m_record.strRebTime = GetDlgItemText(IDC_REBTIME);
    m_record.bArgsCrypt = m_chkArgsCrypt.GetCheck() == 1;
    m_record.strArgs = GetDlgItemText(IDC_ARGS);

    if (!CanOpenForReading(m_record.strFullPath)) {
        MessageBox(u"未设置路径，或者设置路径不对，请检查！", std::u16string(u"提示"), MB_OK);
        return {};
    }
    if (!IsImageName(m_record.strExeName)) {
        // Processes are found by the bare name of their image: a path or nothing would never
        // match, and every check would launch another copy.
        MessageBox(u"进程名无效，请填写程序的映像名（不含路径）！", std::u16string(u"提示"), MB_OK);
        return {};
    }
    if (m_record.bTimedClose) {
        // A day of the week misspelt ("Sux 13:00") is refused: saved, it would never fire.
        const std::vector<MalformedRestartTime> malformed = FindMalformedRestartTimes(m_record.strRebTime);
        if (std::any_of(malformed.begin(), malformed.end(), [](const auto& m) { return m.badWeekday; })) {
            MessageBox(MalformedRestartTimesText(malformed), std::u16string(u"提示"), MB_OK);
            return {};
        }
    }
    // The rest as 高级设置 (or a hand edit) last saved it: the window never holds a copy that
    // could be stale.
    SavedSettings saved{SaveOutcome::Written, ConfigToGuard(m_strIniPath, m_record)};
    if (!saved.config.probes.strTcp.empty() && !ParseTcpTarget(saved.config.probes.strTcp)) {
        // A hand-edited address the probe could not use: said before guarding runs without it.
        MessageBox(kTcpTargetRefused, std::u16string(u"提示"), MB_OK);
        return {};
    }
    if (!WriteMainWindowSettings(m_strIniPath, saved.config))
        saved.outcome = SaveOutcome::WriteFailed;
    // Once a save has replaced the unreadable arguments, a later one must not bring them back.
    else if (!KeepsUnreadableArgs(saved.config))
        m_record.strUnreadableArgs.reset();
    return saved;
}

bool CPerennixDlg::SaveSettings()
{
    // A file that cannot be written does not stop guarding: the values in the controls are
    // the ones in use. Only a program path that cannot be opened, or no image name, refuses.
    return SaveSettingsToFile().outcome != SaveOutcome::Refused;
}

void CPerennixDlg::OnBnClickedSave()
{
    switch (SaveSettingsToFile().outcome) {
    case SaveOutcome::Written:
        MessageBox(u"保存成功！", std::u16string(u"提示"), MB_OK);
        break;
    case SaveOutcome::WriteFailed:
        MessageBox(u"保存失败，无法写入配置文件！", std::u16string(u"提示"), MB_OK);
        break;
    case SaveOutcome::Refused:
        return;
    }
    WarnOfMalformedRestartTimes();
}

void CPerennixDlg::WarnOfMalformedRestartTimes()
{
    // What the user typed is saved as typed; a time that is not "HH:MM" would fire at another
    // time than written, or never, without a word.
    if (!m_record.bTimedClose)
        return;
    const std::vector<MalformedRestartTime> malformed = FindMalformedRestartTimes(m_record.strRebTime);
    if (malformed.empty())
        return;
    MessageBox(MalformedRestartTimesText(malformed), std::u16string(u"提示"), MB_OK);
}

void CPerennixDlg::OnBnClickedAutoStart()
{
    // Written at once and alone; m_bAutoStart keeps the value this run was started with.
    WriteAutoStart(m_strIniPath, m_pWnd->IsDlgButtonChecked(IDC_AUTOSTART));
}

void CPerennixDlg::OnBnClickedArgsCrypt()
{
    CDialogPasswd dlgPasswd;
    // The box has already toggled itself: its state is the one asked for.
    if (m_chkArgsCrypt.GetCheck() == 1) {
        dlgPasswd.m_bVerify = false;
        if (dlgPasswd.DoModal() == IDOK) {
            m_record.strPassword = dlgPasswd.m_strPassword;
            m_editArgs.SetPasswordChar(kMaskChar);
            m_record.bArgsCrypt = true;
        } else {
            m_chkArgsCrypt.SetCheck(0);
        }
    } else {
        dlgPasswd.m_bVerify = true;
        if (dlgPasswd.DoModal() == IDOK) {
            if (dlgPasswd.m_strPassword != m_record.strPassword) {
                MessageBox(u"密码验证错误！", std::nullopt, MB_OK);
                m_chkArgsCrypt.SetCheck(1);
                return;
            }
            m_record.bArgsCrypt = false;
            m_editArgs.SetPasswordChar(0);
        } else {
            m_chkArgsCrypt.SetCheck(1);
        }
    }
    // Repainted in full so the text shows with its new masking.
    m_editArgs.RedrawWindow();
}
