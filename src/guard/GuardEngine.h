#pragma once
// The guard engine: the guarding state and every decision of a check (launch, relaunch, the
// gateway step, the daily restart, the stop after a failed launch). It reaches the window
// that shows it only through GuardView and the system only through System, so it runs the
// same under every window host and on the tests' fakes.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "guard/GatewayRules.h"
#include "guard/HealthProbes.h"
#include "guard/Metrics.h"
#include "guard/Notifications.h"
#include "guard/ProcessMatch.h"
#include "guard/RestartSchedule.h"
#include "platform/System.h"
#include "settings/GuardConfig.h"

// What the engine needs of the window that shows it.
class GuardView {
public:
    virtual ~GuardView() = default;

    // The status line.
    virtual std::u16string StatusText() = 0;
    virtual void SetStatusText(const std::u16string& text) = 0;
    // The caption of the button that starts and stops guarding.
    virtual void SetStartCaption(const std::u16string& text) = 0;
    // Unlocks (true) or locks the controls of the settings guarding runs with.
    virtual void EnableSettingsControls(bool enable) = 0;
    // An OK/Cancel question titled "提示"; true when the user chose OK.
    virtual bool Ask(const std::u16string& question) = 0;
    // Takes the settings from the window and saves them; the settings to guard with, or none
    // when the save refused them (the window has told the user why).
    virtual std::optional<GuardConfig> SaveSettingsForStart() = 0;
    // The window's guard timers: armed (re-arming restarts the count), cancelled, and a tick
    // queued to arrive as soon as the current handler has returned.
    virtual void ArmTimer(unsigned id, uint32_t elapseMs) = 0;
    virtual void CancelTimer(unsigned id) = 0;
    virtual void PostTimerTick(unsigned id) = 0;
    // What the tray icon's tooltip says after "Perennix - ": the back-off's wait while it runs
    // ("等待 8 秒后重启（第 3 次）"), else the health the probes found ("健康", "探测失败 2/3");
    // empty when there is nothing to say.
    virtual void ShowTrayStatus(const std::u16string& text) = 0;
    // A notification from the tray icon: a title and a text. The engine has decided it is due
    // (one a minute at most); the window shows it where its icon is.
    virtual void Notify(const std::u16string& title, const std::u16string& text) = 0;
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
    // The countdown's tick: in a restart's minute, ends the program for the next check to
    // launch it again.
    void FireDueRestart();
    // At least one process of the image name runs.
    bool IsProcessRunning(const std::u16string& imageName);
    // Ends every process of the image name; true when at least one could be told to end.
    bool TerminateProcessesByName(const std::u16string& imageName);

    bool IsGuarding() const { return m_bGuarding; }
    bool IsRestartPending() const { return m_bRestartPending; }
    // A stop that asked the program to close waits for it.
    bool IsStopping() const { return m_health.stopDeadlineMs.has_value(); }
    const RestartSchedule& Schedule() const { return m_schedule; }
    // The settings guarding runs with (those of the last start).
    const GuardConfig& Config() const { return m_config; }
    // Quick exits in a row (the back-off's count); 0 when the program last stayed up.
    int32_t QuickExits() const { return m_nQuickExits; }
    // The wait the back-off put before the next launch, in ms; 0 when none.
    int64_t BackoffWaitMs() const { return m_backoffWaitMs; }
    const GuardCounters& Counters() const { return m_counters; }
    // The gateway's dialog table guarding runs with.
    const GatewayRules& GatewayTable() const { return m_gatewayRules; }

private:
    void GuardedCheck(uintptr_t id);
    void ShowStatus(const std::u16string& text);
    // Launches the program; false when that failed and guarding has stopped.
    bool LaunchProgram();
    void StopLaunchFailed();
    void ForgetLaunchedProcess();
    // The gateway step (GatewayStep.cpp): each table rule whose dialog is up gets its action;
    // status gets what the status line should say instead of "running". True when it ended
    // the program for a restart.
    bool RunGatewayStep(std::u16string& status);
    // True when the login window outlived GW_LOGIN_SEC after the launch and the program is
    // being restarted.
    bool CheckLoginTimeout();
    bool ConfirmGatewayDialog(ForeignWindow dialog, const std::u16string& title, std::u16string& status);
    void RestartForGateway(const std::u16string& logText, const std::u16string& status, const char* event);
    // The wait before the launch after the n-th quick exit (or dialog restart) in a row.
    int64_t BackoffWaitMs(int32_t n) const;
    // Logs, once a start, that a command line could not be read.
    void NoteUnreadableCommandLine();
    // Fires the restarts whose times the wall clock jumped over since jumpedFrom (none: it did
    // not jump); true when one fired.
    bool FireJumpedOverRestarts(
        std::optional<int32_t> jumpedFrom, int32_t minuteNow, int32_t dayNow, int32_t weekdayNow);
    void FireRestart(RestartEntry& entry, int32_t dayNow);

    // Health probes and the stop that asks first (HealthProbes.cpp).
    void StartGrace();
    void CheckHealth();
    void FinishProbeRound();
    void RestartForHealth(const ProbeOutcome& failed);
    // Ends the program for the next check to launch it again: at once, or, with a stop
    // timeout, after asking it to close and waiting up to the timeout.
    void EndProgramForRestart();
    void EndProgramNow();
    void OnStopTick();
    void EndHealthWork();
    // After a crash: the program that was up has gone. Logs how it ended and decides the
    // back-off's wait.
    void NoteProgramEnded();
    // The program has stayed up past the minimum uptime: the back-off run is over.
    void NoteProgramStaysUp();
    // True while the back-off's wait runs; shows it in the status line.
    bool WaitingAfterQuickExit();
    void LogExit(const std::optional<ProcessExit>& exit);
    // Writes how often the last exit repeated in the run that ends now.
    void EndBackoffRun();
    // Runs the event command (when set) for event, and logs how earlier runs ended.
    void RaiseEvent(const char* event);
    void CollectEventCommands();
    // Writes the metrics file when something changed or a minute has passed (force: now).
    void UpdateMetrics(bool force);

    // Tray notifications and the tooltip (Notifications.cpp). Notice takes an event to tell;
    // FlushNotices, after each tick, shows the weightiest of the tick's events, or holds it
    // for the summary when a notification was shown less than a minute ago.
    void Notice(NoticeKind kind, const std::u16string& text);
    void FlushNotices();
    void ShowNotice(const std::u16string& text);
    // The minute after a notification is over: the summary of what was held, if anything.
    void ShowHeldNotice();
    void ShowHealth(const std::u16string& text);
    void UpdateTrayStatus();

    GuardView& m_view;
    GuardConfig m_config;
    RestartSchedule m_schedule;
    bool m_bGuarding = false;
    bool m_bRestartPending = false;
    std::optional<LaunchedProcess> m_launched;  // what the last launch started, when the system knows it
    std::optional<ClockReading> m_lastClockLook;  // the clocks at the schedule's last look
    HealthState m_health;
    GuardedProgram m_program{u""};  // what makes a process the program's, from the settings
    GatewayRules m_gatewayRules;
    GatewayState m_gateway;
    bool m_bCommandLineNoteLogged = false;

    // The program this engine launched is taken as up until a check finds it gone.
    bool m_bProgramUp = false;
    bool m_bRestartLaunch = false;  // the next launch is the daily restart's
    int64_t m_launchedAtMs = 0;  // steady clock at the last launch
    int32_t m_nQuickExits = 0;
    int64_t m_backoffWaitMs = 0;
    int64_t m_backoffUntilMs = 0;  // steady clock at the end of the wait
    std::optional<ProcessExit> m_lastExit;  // the exit the back-off run logged
    bool m_bLastExitLogged = false;
    int32_t m_nRepeatedExits = 0;  // identical exits since, not logged one by one
    std::optional<ProcessExit> m_lastExitForEvent;
    std::vector<uint64_t> m_eventRuns;  // event commands not yet known to have ended
    GuardCounters m_counters;
    std::string m_lastMetrics;  // the text last written
    int64_t m_lastMetricsMs = 0;
    bool m_bMetricsFailureLogged = false;
    NoticeState m_notices;
    std::u16string m_strHealth;  // the probes' word for the tooltip
    std::u16string m_strBackoffTip;  // the back-off's wait, while it runs
    std::u16string m_strTrayStatus;  // what the tooltip was last given
};
