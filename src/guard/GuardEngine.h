#pragma once
// The guard engine: the guarded program's life cycle as one state, changed in one place, and
// every decision of a check (launch, relaunch, the restarts on purpose, the stop after a
// failed launch). Its parts (back-off, health probes, gateway step, daily restart) keep their
// own memory and answer with decisions; what happened is published once as a GuardEvent to the
// sinks (run log, event command, notifications, metrics). It reaches the window only through
// GuardView and the system only through System, so it runs the same under every window host
// and on the tests' fakes.

#include <cstdint>
#include <optional>
#include <string>

#include "guard/Backoff.h"
#include "guard/DailyRestart.h"
#include "guard/EventCommandSink.h"
#include "guard/GatewayWatcher.h"
#include "guard/GuardEvent.h"
#include "guard/GuardView.h"
#include "guard/HealthMonitor.h"
#include "guard/MetricsSink.h"
#include "guard/NotificationSink.h"
#include "guard/ProcessMatch.h"
#include "guard/RunLogSink.h"
#include "platform/System.h"
#include "settings/GuardConfig.h"

// The guarded program's life cycle while guarding.
enum class GuardState {
    Idle,  // not guarding
    Down,  // guarding; the program is not seen running: a check launches it
    Up,  // launched or found running; taken as up until a check finds it gone
    BackingOff,  // it died soon after its launch: the next launch waits
    Closing,  // ended on purpose: asked to close by itself, waited for
    Ending,  // ended on purpose: the next check launches it again
};

class GuardEngine {
public:
    explicit GuardEngine(GuardView& view);
    ~GuardEngine();
    GuardEngine(const GuardEngine&) = delete;
    GuardEngine& operator=(const GuardEngine&) = delete;

    // Starts guarding: asks first when askFirst, saves the settings through the window, locks
    // them, arms the loop and checks at once. atLaunch: the start that start-on-launch made.
    void Start(bool askFirst, bool atLaunch);
    // The user's stop: asks first, then stops.
    void StopAfterAsking();
    // Stops guarding: timers and countdown gone, controls unlocked, statusText shown.
    void Stop(const std::u16string& statusText);
    // A tick of one of the window's timers.
    void OnTimer(uintptr_t id);
    // The window is going: lets go of what the system keeps for the launched process.
    void Shutdown();
    // Arms the countdown when a restart time lies one to four minutes ahead.
    void CheckRestartSoon();

    GuardState State() const { return m_state; }
    bool IsGuarding() const { return m_state != GuardState::Idle; }
    bool IsRestartPending() const { return m_daily.IsCountdownArmed(); }
    // A stop that asked the program to close waits for it.
    bool IsStopping() const { return m_state == GuardState::Closing; }
    const RestartSchedule& Schedule() const { return m_daily.Schedule(); }
    // The settings guarding runs with (those of the last start).
    const GuardConfig& Config() const { return m_config; }
    // Quick exits in a row (the back-off's count); 0 when the program last stayed up.
    int32_t QuickExits() const { return m_backoff.Failures(); }
    // The wait the back-off put before the next launch, in ms; 0 when none.
    int64_t BackoffWaitMs() const { return m_backoff.WaitMs(); }
    // What guarding has done for the program guarded now (another program starts from zero).
    const GuardCounters& Counters() const { return m_counters; }
    // The gateway's dialog table guarding runs with.
    const GatewayRules& GatewayTable() const { return m_gateway.Rules(); }
    // The health probes' word now ("健康", "探测失败 2/3"); empty when none runs.
    const std::u16string& HealthText() const { return m_health.Text(); }

private:
    void StopWith(const std::u16string& statusText, StopCause cause);
    // The one place the life cycle changes: entering a state cancels the timers it does not use.
    void SetState(GuardState next);
    // Counts the event, stamps it with the state and hands it to every sink, in order.
    void Publish(GuardEvent event);
    void PublishNote(std::u16string line);
    // The tooltip after a change of the back-off's wait or of the health.
    void PublishTrayStatus();

    // The check (GuardCycle.cpp).
    void GuardedCheck(uintptr_t id);
    void CheckWhileUp();
    // Launches the program; false when that failed and guarding has stopped.
    bool LaunchProgram();
    void StopLaunchFailed();
    void ForgetLaunchedProcess();
    void ShowStatus(const std::u16string& text);
    // The program that was up has gone: the back-off decides, and its end is told.
    void NoteProgramEnded();
    // The program is up: a run of quick exits is over once it has stayed up long enough.
    void NoteProgramStaysUp();
    // True while the back-off's wait runs; shows it in the status line and the tooltip.
    bool WaitingAfterQuickExit();
    void EndBackoffRun();
    bool IsProcessRunning();
    void NoteUnreadableCommandLine();
    void OnProbeTimer();
    void OnDailyAnswer(const DailyRestart::Answer& answer);

    // A restart on purpose, whatever asked for it: told once and counted once, then the
    // program is ended for the next check to launch it again. One already under way takes it in.
    void RestartOnPurpose(const RestartRequest& request, int32_t minuteOfDay = 0);
    // Ends the program: at once, or, with a stop timeout, after asking it to close and
    // waiting up to the timeout.
    void EndProgramForRestart();
    void EndProgramNow();
    void OnCloseTick();

    GuardView& m_view;
    GuardConfig m_config;
    GuardState m_state = GuardState::Idle;
    GuardedProgram m_program{u""};  // what makes a process the program's, from the settings
    std::optional<LaunchedProcess> m_launched;  // what the last launch started, when the system knows it
    int64_t m_launchedAtMs = 0;  // steady clock at the last launch
    int64_t m_closeDeadlineMs = 0;  // Closing: the program is ended at this time at the latest
    // What the next launch is for, once a restart on purpose has ended the program.
    RestartReason m_nextLaunch = RestartReason::None;
    GuardCounters m_counters;

    // The parts.
    Backoff m_backoff;
    HealthMonitor m_health{m_config.probes};
    GatewayWatcher m_gateway;
    DailyRestart m_daily;

    // The sinks, in the order each event reaches them.
    struct Sinks {
        Sinks(GuardView& view, const GuardConfig& config);
        RunLogSink log;
        EventCommandSink command;
        NotificationSink notices;
        MetricsSink metrics;
    } m_sinks{m_view, m_config};
};
