#pragma once
// The health probes: their policy, apart from the system: a probe fails a check when what it saw is
// wrong, and counts as failed only after so many failed checks in a row; nothing is judged
// during the grace period after a launch.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

enum class ProbeKind : size_t { Tcp, Window, File };
inline constexpr size_t kProbeKinds = 3;

// What one probe saw at one check.
struct ProbeOutcome {
    ProbeKind kind = ProbeKind::Tcp;
    bool failed = false;
    std::u16string probe;  // the probe as the log names it ("tcp 127.0.0.1:4001")
    std::u16string seen;  // what it saw, when it failed
};

// Each probe's failed checks in a row.
class FailStreaks {
public:
    // Counts one check's outcomes; the first outcome whose probe has now failed needed checks
    // in a row, or none. A probe that passed starts again from 0.
    std::optional<ProbeOutcome> Record(const std::vector<ProbeOutcome>& outcomes, int32_t needed);
    void Reset() { m_streaks = {}; }
    // The longest streak now.
    int32_t Longest() const;

private:
    std::array<int32_t, kProbeKinds> m_streaks{};
};

// The tray's words for the health: "健康", or "探测失败 k/N" while a probe fails.
std::u16string HealthText(int32_t longestStreak, int32_t needed);

// A check's probes under way: the connection attempt, whether the windows were asked.
struct ProbeRound {
    std::optional<uint64_t> connect;
    bool windowsAsked = false;
};

class System;
struct GuardedProgram;
struct ProbeSettings;

// The health probes as a part of the guard: the grace after a launch, the probes sent at a
// check and read on a later tick, each probe's failed checks in a row. It answers with what a
// round found and which probe, if any, now asks for a restart; the engine acts on it.
class HealthMonitor {
public:
    // The settings the probes run with; they live in the engine's config.
    explicit HealthMonitor(const ProbeSettings& settings)
        : m_settings(settings)
    {
    }

    // A launch (or a start of guarding) begins the grace period afresh: the program needs time
    // to come up before anything it answers means anything.
    void BeginGrace(int64_t nowMs);
    // Sends a check's probes when any is set, none is under way and the grace is over; true
    // when a round was sent (its answers are read kProbeAnswerMs later).
    bool StartRound(System& system, const GuardedProgram& program, int64_t nowMs);
    struct RoundResult {
        int32_t failed = 0;  // probes that failed this check
        std::optional<ProbeOutcome> due;  // the probe that has now failed often enough in a row
    };
    // Reads the round under way; none when there was none.
    std::optional<RoundResult> FinishRound(System& system);
    // Drops a round under way and ends what it started.
    void Abandon(System& system);
    // The tray's word for the health: "启动宽限期", "健康", "探测失败 k/N"; empty when no probe
    // runs or guarding has stopped.
    const std::u16string& Text() const { return m_text; }
    void ClearText() { m_text.clear(); }
    // The longest run of failed checks now, and how many restart the program.
    int32_t Failing() const { return m_streaks.Longest(); }
    int32_t Needed() const;

private:
    const ProbeSettings& m_settings;
    FailStreaks m_streaks;
    int64_t m_graceEndsMs = 0;  // by the steady clock: nothing is judged before this
    std::optional<ProbeRound> m_round;
    std::u16string m_text;
};

// How long a probe may take to answer: a connection not accepted by then failed, and the
// windows' answers are read then.
inline constexpr uint32_t kProbeAnswerMs = 3000;
