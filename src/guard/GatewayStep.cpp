// The gateway step: at each check that finds the gateway running, the dialogs of the table
// get their actions (a space key, a restart, an alert), a dialog that a space key does not
// close is left alone after a few tries, and a login window still up too long after the
// launch restarts the program.

#include <string>

#include "base/DecimalText.h"
#include "guard/GatewayDialog.h"
#include "guard/GatewayRules.h"
#include "guard/GuardEngine.h"
#include "log/LogEntry.h"
#include "platform/System.h"

namespace {

// A program up this long since its launch has shown that it logs in: the restarts its dialogs
// asked for no longer count as a run.
constexpr int64_t kGatewayCalmMs = 10 * 60 * 1000;

}  // namespace

bool GuardEngine::RunGatewayStep(std::u16string& status)
{
    System& system = GetSystem();
    const std::u16string running = status;
    if (system.GetSteadyMs() - m_launchedAtMs >= kGatewayCalmMs)
        m_gateway.restartsInRow = 0;
    if (CheckLoginTimeout())
        return true;
    for (const GatewayRule& rule : m_gatewayRules.rules) {
        const std::optional<ForeignWindow> dialog
            = FindGatewayDialog(system, rule.title, &m_program, &m_gateway.givenUp);
        if (!dialog)
            continue;
        switch (rule.action) {
        case GatewayAction::Alert:
            // Never a key: the dialog waits for the user (a second factor is theirs to give).
            // The next rules are still looked at.
            status = u"网关对话框需要您处理：" + rule.title;
            if (m_gateway.alerted.insert(*dialog).second) {
                WriteLogText(u"->网关对话框需要用户处理（未按键）：" + rule.title);
                RaiseEvent("gateway_alert");
                Notice(NoticeKind::GatewayDialog, u"网关对话框需要您处理：" + rule.title);
            }
            continue;
        case GatewayAction::Restart:
            RestartForGateway(u"->网关对话框要求重启程序：" + rule.title,
                u"网关对话框要求重启（" + rule.title + u"），正在重启程序。。。", "gateway_restart");
            return true;
        case GatewayAction::Confirm:
            if (ConfirmGatewayDialog(*dialog, rule.title, status))
                return false;
            continue;  // given up on now: the next rules are looked at
        }
    }
    // A dialog given up on that is still up keeps the status line saying so.
    if (status == running) {
        for (const GatewayRule& rule : m_gatewayRules.rules)
            if (rule.action == GatewayAction::Confirm && !m_gateway.givenUp.empty()) {
                const std::optional<ForeignWindow> stuck = FindGatewayDialog(system, rule.title, &m_program);
                if (stuck && m_gateway.givenUp.count(*stuck)) {
                    status = u"网关对话框按空格键无效，已不再按键：" + rule.title;
                    break;
                }
            }
    }
    return false;
}

bool GuardEngine::ConfirmGatewayDialog(ForeignWindow dialog, const std::u16string& title, std::u16string& status)
{
    // The same window still up after its keys: the key does not close it. Pressing on would
    // take the focus from the user at every check.
    if (dialog == m_gateway.pressed && m_gateway.presses >= kGatewayPressesBeforeGivingUp) {
        m_gateway.givenUp.insert(dialog);
        status = u"网关对话框按空格键无效，已不再按键：" + title;
        WriteLogText(
            u"->网关对话框按空格键 " + px::IToW(kGatewayPressesBeforeGivingUp) + u" 次后仍未关闭，不再按键：" + title);
        RaiseEvent("gateway_stuck");
        Notice(NoticeKind::GatewayDialog, status);
        return false;
    }
    System& system = GetSystem();
    // The key goes to whatever holds the focus: press it only when the dialog does, so a
    // refused activation never types into the user's own window. The next check retries.
    if (system.BringToFront(dialog)) {
        system.PressSpaceKey();
        WriteLogEntry(logtext::kGatewayConfirmed, title);
        m_gateway.presses = dialog == m_gateway.pressed ? m_gateway.presses + 1 : 1;
        m_gateway.pressed = dialog;
    }
    return true;
}

bool GuardEngine::CheckLoginTimeout()
{
    const int32_t loginSec = m_config.gateway.nLoginSec;
    if (loginSec <= 0 || m_gateway.loginJudged)
        return false;
    System& system = GetSystem();
    if (system.GetSteadyMs() - m_launchedAtMs < int64_t{loginSec} * 1000)
        return false;
    // Judged once a launch: a login window the user opens later is theirs.
    m_gateway.loginJudged = true;
    for (const std::u16string& title : m_gatewayRules.loginTitles) {
        if (!FindProgramWindow(system, title, m_program))
            continue;
        RestartForGateway(u"->登录窗口在启动 " + px::IToW(loginSec) + u" 秒后仍未关闭，重启程序：" + title,
            u"登录超时（" + title + u"），正在重启程序。。。", "login_timeout");
        return true;
    }
    return false;
}

void GuardEngine::RestartForGateway(const std::u16string& logText, const std::u16string& status, const char* event)
{
    WriteLogText(logText);
    ShowStatus(status);
    ++m_counters.nGatewayRestarts;
    RaiseEvent(event);
    Notice(NoticeKind::GatewayRestart, status);
    // Ended on purpose, as a health restart ends it: no exit to report. A dialog that comes
    // back launch after launch (a session held elsewhere, a refused password) is answered with
    // ever longer waits, as quick exits are.
    m_bProgramUp = false;
    EndBackoffRun();
    m_bRestartLaunch = true;
    ++m_gateway.restartsInRow;
    if (m_config.bBackoff && m_gateway.restartsInRow > 1) {
        m_nQuickExits = m_gateway.restartsInRow - 1;
        m_backoffWaitMs = BackoffWaitMs(m_nQuickExits);
        m_backoffUntilMs = GetSystem().GetSteadyMs() + m_backoffWaitMs;
        WriteLogText(u"->网关连续第 " + px::IToW(m_gateway.restartsInRow) + u" 次重启，等待 "
            + px::IToW(static_cast<int32_t>(m_backoffWaitMs / 1000)) + u" 秒后启动");
    }
    EndProgramForRestart();
}

void GuardEngine::NoteUnreadableCommandLine()
{
    if (!m_program.commandLineUnreadable || m_bCommandLineNoteLogged)
        return;
    m_bCommandLineNoteLogged = true;
    WriteLogText(u"->无法读取进程的命令行，此类进程仅按进程名匹配：" + m_program.imageName);
}
