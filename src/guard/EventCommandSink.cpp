#include "guard/EventCommandSink.h"

#include <algorithm>
#include <string>
#include <string_view>

#include "base/Unicode.h"
#include "log/LogEntry.h"
#include "platform/System.h"
#include "settings/GuardConfig.h"

const char* EventCommandName(const GuardEvent& event)
{
    switch (event.kind) {
    case GuardEventKind::Died:
        return "died";
    case GuardEventKind::LaunchFailed:
        return "launch_failed";
    case GuardEventKind::BackoffGrew:
        return "backoff";
    case GuardEventKind::Restart:
        return RestartEventName(event.reason);
    case GuardEventKind::DialogAlert:
        return "gateway_alert";
    case GuardEventKind::DialogStuck:
        return "gateway_stuck";
    case GuardEventKind::Stopped:
        return "stopped";
    default:
        return nullptr;
    }
}

void EventCommandSink::OnEvent(const GuardEvent& event)
{
    if (const char* name = EventCommandName(event))
        Run(name, event);
    else if (event.kind == GuardEventKind::CheckDone)
        Collect();
}

void EventCommandSink::Run(const char* name, const GuardEvent& event)
{
    Collect();
    if (m_config.strEventCmd.empty())
        return;
    std::u16string exitCode;
    if (event.exit && std::string_view(name) == "died")
        exitCode = event.exit->bySignal && !event.exit->signalName.empty()
            ? event.exit->signalName
            : px::FromUtf8(std::to_string(event.exit->code));
    const std::vector<EnvironmentVariable> environment = {
        {u"PERENNIX_EVENT", px::FromUtf8(name)},
        {u"PERENNIX_IMAGE", m_config.strExeName},
        {u"PERENNIX_EXIT_CODE", exitCode},
        {u"PERENNIX_RESTARTS", px::FromUtf8(std::to_string(event.status.counters.Restarts()))},
    };
    if (const std::optional<uint64_t> run = GetSystem().RunCommand(m_config.strEventCmd, environment))
        m_runs.push_back(*run);
    else
        WriteLogText(u"->事件命令无法启动：" + m_config.strEventCmd);
}

void EventCommandSink::Collect()
{
    // A command that has not ended stays on the list and holds nothing else up.
    std::erase_if(m_runs, [](uint64_t run) {
        const std::optional<ProcessExit> exit = GetSystem().CommandExit(run);
        if (!exit)
            return false;
        if (exit->bySignal || exit->code != 0)
            WriteLogText(
                u"->事件命令失败，" + std::u16string(exit->bySignal ? u"被信号结束：" : u"退出码：") + ExitText(*exit));
        return true;
    });
}
