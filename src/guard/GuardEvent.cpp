#include "guard/GuardEvent.h"

#include <string>

#include "base/Unicode.h"

const char* RestartEventName(RestartReason reason)
{
    switch (reason) {
    case RestartReason::Daily:
        return "daily_restart";
    case RestartReason::Probe:
        return "probe_restart";
    case RestartReason::Gateway:
        return "gateway_restart";
    case RestartReason::LoginTimeout:
        return "login_timeout";
    case RestartReason::None:
    case RestartReason::Crash:
        break;
    }
    return "died";
}

void CountEvent(GuardCounters& counters, const GuardEvent& event, int64_t unixSecNow)
{
    switch (event.kind) {
    case GuardEventKind::Launching:
        // A relaunch after the program ended by itself is counted here; a restart on purpose
        // was counted when it was decided, and its launch is not counted again.
        if (event.reason == RestartReason::Crash)
            ++counters.nCrashRestarts;
        ++counters.nLaunches;
        counters.lastLaunchUnixSec = unixSecNow;
        break;
    case GuardEventKind::Restart:
        if (event.reason == RestartReason::Daily)
            ++counters.nDailyRestarts;
        else if (event.reason == RestartReason::Probe)
            ++counters.nProbeRestarts;
        else if (event.reason == RestartReason::Gateway || event.reason == RestartReason::LoginTimeout)
            ++counters.nGatewayRestarts;
        break;
    case GuardEventKind::ProbesChecked:
        counters.nProbeFailures += static_cast<uint64_t>(event.number);
        break;
    default:
        break;
    }
}

std::u16string ExitText(const ProcessExit& exit)
{
    const std::u16string code = px::FromUtf8(std::to_string(exit.code));
    if (exit.bySignal)
        return exit.signalName.empty() ? code : exit.signalName + u" (" + code + u")";
    return code;
}
