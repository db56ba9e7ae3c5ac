#pragma once
// One record for everything the guard engine has to tell: what happened, why the program is
// restarted, how it ended, and a text. The engine publishes each record once; the outputs (the
// run log, the event command, tray notifications, the metrics file) are sinks that each take
// what concerns them and keep their own state.

#include <cstdint>
#include <optional>
#include <string>

#include "guard/Metrics.h"
#include "platform/System.h"

// Why a launch follows an end of the program. The one vocabulary of restarts: counters, event
// names, log texts and notifications all derive from it.
enum class RestartReason {
    None,  // the first launch since guarding started with this program
    Crash,  // the program ended by itself (or was ended by someone else)
    Daily,  // a daily restart time
    Probe,  // a health probe failed often enough in a row
    Gateway,  // a gateway dialog asked for it
    LoginTimeout,  // the gateway's login window stayed up too long
};

// The name the event command is given for a restart on purpose ("daily_restart" …).
const char* RestartEventName(RestartReason reason);

enum class GuardEventKind {
    Started,  // guarding started; bFlag: by start-on-launch
    Stopped,  // guarding stopped; number: a StopCause
    Launching,  // a launch is about to be made; reason: what it is for
    Launched,  // the launch was made (or handed to the interpreter); detail: the program's path
    LaunchFailed,  // bFlag: the interpreter could not run the file; else number: the system's code
    Died,  // the program that was up is gone; exit; bFlag: the launch was known; number: quick
           // exits in a row before this one; detail: the back-off's wait that follows, if any
    BackoffEnded,  // a run of quick exits is over
    BackoffGrew,  // the back-off's wait grew; detail: the wait; number: MIN_UPTIME_SEC; exit;
                  // bFlag: it reached its cap
    Restart,  // the program is ended on purpose; reason; number: the restart time's minute
              // (daily); detail: the log's text; notice: the notification's
    CloseAsked,  // the program was asked to close; number: the seconds it is given
    CloseForced,  // it did not close in time and was ended
    DialogConfirmed,  // a gateway dialog got its space key; detail: its title
    DialogAlert,  // a gateway dialog waits for the user; detail: its title
    DialogStuck,  // a gateway dialog a space key does not close is left alone; detail: its title;
                  // notice: the status text
    ProbesChecked,  // a check's probes were read; number: how many failed
    CountdownArmed,  // a restart time lies minutes ahead; number: its minute of the day
    CommandLineUnreadable,  // a process was matched by name alone; detail: the image name
    Note,  // a line for the run log alone; detail: the whole line
    TrayStatus,  // what the tray icon's tooltip says now; detail: the text
    CheckDone,  // a guarded check is over: what waits for it may be written out
    TickDone,  // a tick of any of the guard's timers is over: its events may be told
};

enum class StopCause : int64_t { Other = 0, User = 1, LaunchFailed = 2 };

// The guard's state as the sinks see it at an event.
struct GuardStatus {
    bool guarding = false;
    bool programUp = false;
    int64_t backoffWaitMs = 0;  // the wait the back-off put before the next launch; 0: none
    GuardCounters counters;
};

struct GuardEvent {
    GuardEvent(GuardEventKind eventKind, RestartReason restartReason = RestartReason::None)
        : kind(eventKind)
        , reason(restartReason)
    {
    }
    GuardEventKind kind = GuardEventKind::Note;
    RestartReason reason = RestartReason::None;
    std::optional<ProcessExit> exit;
    std::u16string detail;
    std::u16string notice;
    int64_t number = 0;
    bool bFlag = false;
    GuardStatus status;  // filled in by the engine as it publishes
};

// An output of the guard engine.
class GuardSink {
public:
    virtual ~GuardSink() = default;
    virtual void OnEvent(const GuardEvent& event) = 0;
};

// How an exit reads in the log and the notifications: the code, or the signal's name and number.
std::u16string ExitText(const ProcessExit& exit);

// Counts the event into counters: launches, restarts by reason, failed probe checks.
void CountEvent(GuardCounters& counters, const GuardEvent& event, int64_t unixSecNow);
