// The gateway step: the table's dialogs get their actions, a dialog that a space key does not
// close is left alone after a few tries, and a login window still up too long after the launch
// asks for a restart.

#include "guard/GatewayWatcher.h"

#include <string>

#include "base/DecimalText.h"
#include "guard/GatewayDialog.h"
#include "guard/ProcessMatch.h"
#include "platform/System.h"

namespace {

// A program up this long since its launch has shown that it logs in: the restarts its dialogs
// asked for no longer count as a run.
constexpr int64_t kGatewayCalmMs = 10 * 60 * 1000;

GuardEvent TitleEvent(GuardEventKind kind, const std::u16string& title, std::u16string notice = {})
{
    GuardEvent event(kind);
    event.detail = title;
    event.notice = std::move(notice);
    return event;
}

}  // namespace

void GatewayWatcher::Begin(const GatewaySettings& settings)
{
    m_rules = BuildGatewayRules(settings);
    m_state = GatewayState();
    m_nLoginSec = settings.nLoginSec;
}

GatewayAnswer GatewayWatcher::Check(System& system, const GuardedProgram& program, int64_t upMs)
{
    GatewayAnswer answer;
    if (upMs >= kGatewayCalmMs)
        m_state.restartsInRow = 0;
    if ((answer.restart = LoginTimeout(system, program, upMs)))
        return answer;
    for (const GatewayRule& rule : m_rules.rules) {
        const std::optional<ForeignWindow> dialog = FindGatewayDialog(system, rule.title, &program, &m_state.givenUp);
        if (!dialog)
            continue;
        switch (rule.action) {
        case GatewayAction::Alert:
            // Never a key: the dialog waits for the user (a second factor is theirs to give).
            // The next rules are still looked at.
            answer.status = u"网关对话框需要您处理：" + rule.title;
            if (m_state.alerted.insert(*dialog).second)
                answer.events.push_back(
                    TitleEvent(GuardEventKind::DialogAlert, rule.title, u"网关对话框需要您处理：" + rule.title));
            continue;
        case GatewayAction::Restart: {
            const std::u16string status = u"网关对话框要求重启（" + rule.title + u"），正在重启程序。。。";
            answer.restart = RestartRequest{RestartReason::Gateway, u"->网关对话框要求重启程序：" + rule.title, status,
                status, ++m_state.restartsInRow};
            return answer;
        }
        case GatewayAction::Confirm:
            if (Confirm(system, *dialog, rule.title, answer))
                return answer;
            continue;  // given up on now: the next rules are looked at
        }
    }
    // A dialog given up on that is still up keeps the status line saying so.
    if (answer.status.empty() && !m_state.givenUp.empty()) {
        for (const GatewayRule& rule : m_rules.rules)
            if (rule.action == GatewayAction::Confirm) {
                const std::optional<ForeignWindow> stuck = FindGatewayDialog(system, rule.title, &program);
                if (stuck && m_state.givenUp.count(*stuck)) {
                    answer.status = u"网关对话框按空格键无效，已不再按键：" + rule.title;
                    break;
                }
            }
    }
    return answer;
}

bool GatewayWatcher::Confirm(System& system, ForeignWindow dialog, const std::u16string& title, GatewayAnswer& answer)
{
    // The same window still up after its keys: the key does not close it. Pressing on would
    // take the focus from the user at every check.
    if (dialog == m_state.pressed && m_state.presses >= kGatewayPressesBeforeGivingUp) {
        m_state.givenUp.insert(dialog);
        answer.status = u"网关对话框按空格键无效，已不再按键：" + title;
        answer.events.push_back(TitleEvent(GuardEventKind::DialogStuck, title, answer.status));
        return false;
    }
    // The key goes to whatever holds the focus: press it only when the dialog does, so a
    // refused activation never types into the user's own window. The next check retries.
    if (system.BringToFront(dialog)) {
        system.PressSpaceKey();
        answer.events.push_back(TitleEvent(GuardEventKind::DialogConfirmed, title));
        m_state.presses = dialog == m_state.pressed ? m_state.presses + 1 : 1;
        m_state.pressed = dialog;
    }
    return true;
}

std::optional<RestartRequest> GatewayWatcher::LoginTimeout(System& system, const GuardedProgram& program, int64_t upMs)
{
    if (m_nLoginSec <= 0 || m_state.loginJudged || upMs < int64_t{m_nLoginSec} * 1000)
        return std::nullopt;
    // Judged once a launch: a login window the user opens later is theirs.
    m_state.loginJudged = true;
    for (const std::u16string& title : m_rules.loginTitles) {
        if (!FindProgramWindow(system, title, program))
            continue;
        const std::u16string status = u"登录超时（" + title + u"），正在重启程序。。。";
        return RestartRequest{RestartReason::LoginTimeout,
            u"->登录窗口在启动 " + px::IToW(m_nLoginSec) + u" 秒后仍未关闭，重启程序：" + title, status, status,
            ++m_state.restartsInRow};
    }
    return std::nullopt;
}
