#include "guard/RunLogSink.h"

#include <string>

#include "base/DecimalText.h"
#include "base/Unicode.h"
#include "guard/GatewayRules.h"
#include "log/LogEntry.h"

void RunLogSink::OnEvent(const GuardEvent& event)
{
    switch (event.kind) {
    case GuardEventKind::Started:
        m_bCommandLineNoteLogged = false;
        WriteLogEntry(event.bFlag ? logtext::kGuardStartedAtLaunch : logtext::kGuardStartedByUser);
        break;
    case GuardEventKind::Stopped:
        if (event.number == static_cast<int64_t>(StopCause::User))
            WriteLogEntry(logtext::kGuardStoppedByUser);
        else if (event.number == static_cast<int64_t>(StopCause::LaunchFailed))
            WriteLogEntry(logtext::kGuardStoppedLaunchFailed);
        break;
    case GuardEventKind::Launched:
        // The path only: the arguments may be scrambled secrets and never reach the log.
        WriteLogEntry(logtext::kProgramLaunched, event.detail);
        break;
    case GuardEventKind::LaunchFailed:
        if (event.bFlag)
            WriteLogEntry(logtext::kScriptNotRun);
        else
            WriteLogEntry(logtext::kLaunchFailed, event.number);
        break;
    case GuardEventKind::Died:
        if (event.bFlag)
            LogExit(event);
        break;
    case GuardEventKind::BackoffEnded:
        WriteRepeats();
        m_lastExit.reset();
        m_bLastExitLogged = false;
        break;
    case GuardEventKind::BackoffGrew:
        // Each new length of the wait is logged once: at the cap, a crash loop adds only the
        // launch lines, one per wait.
        WriteLogText(
            u"->程序启动后不到 " + px::IToW(static_cast<int32_t>(event.number)) + u" 秒即退出，" + event.detail);
        break;
    case GuardEventKind::Restart:
        if (event.reason == RestartReason::Daily)
            WriteRestartLogEntry(static_cast<int32_t>(event.number), logtext::kRestartFired);
        else if (event.reason == RestartReason::Probe)
            WriteLogEntry(logtext::kHealthRestart, event.detail);
        else
            WriteLogText(event.detail);
        break;
    case GuardEventKind::CloseAsked:
        WriteLogEntry(logtext::kStopAsked, event.number);
        break;
    case GuardEventKind::CloseForced:
        WriteLogEntry(logtext::kStopForced);
        break;
    case GuardEventKind::DialogConfirmed:
        WriteLogEntry(logtext::kGatewayConfirmed, event.detail);
        break;
    case GuardEventKind::DialogAlert:
        WriteLogText(u"->网关对话框需要用户处理（未按键）：" + event.detail);
        break;
    case GuardEventKind::DialogStuck:
        WriteLogText(u"->网关对话框按空格键 " + px::IToW(kGatewayPressesBeforeGivingUp) + u" 次后仍未关闭，不再按键："
            + event.detail);
        break;
    case GuardEventKind::CountdownArmed:
        WriteRestartLogEntry(static_cast<int32_t>(event.number), logtext::kCountdownArmed);
        break;
    case GuardEventKind::CommandLineUnreadable:
        if (!m_bCommandLineNoteLogged)
            WriteLogText(u"->无法读取进程的命令行，此类进程仅按进程名匹配：" + event.detail);
        m_bCommandLineNoteLogged = true;
        break;
    case GuardEventKind::Note:
        WriteLogText(event.detail);
        break;
    case GuardEventKind::Launching:
    case GuardEventKind::ProbesChecked:
    case GuardEventKind::TrayStatus:
    case GuardEventKind::CheckDone:
    case GuardEventKind::TickDone:
        break;
    }
}

void RunLogSink::LogExit(const GuardEvent& died)
{
    // Within a run of quick exits, an exit like the one logged last is only counted.
    if (died.number > 0 && m_bLastExitLogged && m_lastExit == died.exit) {
        ++m_nRepeatedExits;
        return;
    }
    WriteRepeats();
    if (!died.exit)
        return;  // the system cannot tell (another reaper took it): nothing to say
    if (died.exit->bySignal)
        WriteLogText(u"->程序已退出，被信号结束：" + ExitText(*died.exit));
    else
        WriteLogText(u"->程序已退出，退出码：" + ExitText(*died.exit));
    m_lastExit = died.exit;
    m_bLastExitLogged = true;
}

void RunLogSink::WriteRepeats()
{
    if (m_nRepeatedExits > 0)
        WriteLogText(u"->同样的退出又重复了 " + px::IToW(m_nRepeatedExits) + u" 次");
    m_nRepeatedExits = 0;
}
