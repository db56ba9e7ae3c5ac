#pragma once
// The health probes' policy, apart from the system: a probe fails a check when what it saw is
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

// The guard's health state between ticks.
struct HealthState {
    FailStreaks streaks;
    int64_t graceEndsMs = 0;  // by the steady clock: nothing is judged before this
    std::optional<ProbeRound> round;  // the probes sent at a check, read when TIMER_PROBE ticks
    std::optional<int64_t> stopDeadlineMs;  // a stop that asked first is under way until this
};
