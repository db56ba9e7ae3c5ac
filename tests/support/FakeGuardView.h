#pragma once
// A scripted window for the guard engine alone: it records what the engine shows, answers its
// questions from a script, hands it the settings to guard with, and runs its timers on the
// virtual clock, one tick at a time in time order, as a window's timers arrive.

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "FakeSystem.h"
#include "guard/GuardEngine.h"

namespace fake {

class FakeGuardView : public GuardView {
public:
    explicit FakeGuardView(VirtualClock& clock)
        : m_clock(clock)
    {
    }

    // What the engine showed, in order, and what it asked.
    std::vector<std::u16string> statusHistory;
    std::u16string caption = u"开始";
    bool settingsEnabled = true;
    std::vector<std::u16string> questions;
    std::deque<bool> answers;  // the next questions' answers; none left: OK
    // The settings the next start guards with; none: the save refuses.
    std::optional<GuardConfig> settings;

    std::u16string StatusText() override { return statusHistory.empty() ? std::u16string() : statusHistory.back(); }
    void SetStatusText(const std::u16string& text) override { statusHistory.push_back(text); }
    void SetStartCaption(const std::u16string& text) override { caption = text; }
    void EnableSettingsControls(bool enable) override { settingsEnabled = enable; }
    bool Ask(const std::u16string& question) override
    {
        questions.push_back(question);
        if (answers.empty())
            return true;
        const bool answer = answers.front();
        answers.pop_front();
        return answer;
    }
    std::optional<GuardConfig> SaveSettingsForStart() override { return settings; }
    void ArmTimer(unsigned id, uint32_t elapseMs) override
    {
        m_timers[id] = Timer{elapseMs, m_clock.NowMs() + elapseMs, m_nextOrder++};
    }
    void CancelTimer(unsigned id) override { m_timers.erase(id); }
    void PostTimerTick(unsigned id) override { m_posted.push_back(id); }
    void ShowTrayStatus(const std::u16string& text) override
    {
        if (trayHistory.empty() || trayHistory.back() != text)
            trayHistory.push_back(text);
    }
    void Notify(const std::u16string& title, const std::u16string& text) override
    {
        notifications.push_back({m_clock.NowMs(), title, text});
    }
    // What the tray icon's tooltip said, each change once.
    std::vector<std::u16string> trayHistory;
    // The notifications asked for, with the virtual time of each.
    struct Notification {
        int64_t atMs = 0;
        std::u16string title;
        std::u16string text;
    };
    std::vector<Notification> notifications;

    bool HasTimer(unsigned id) const { return m_timers.count(id) != 0; }
    std::optional<uint32_t> TimerInterval(unsigned id) const
    {
        const auto it = m_timers.find(id);
        return it == m_timers.end() ? std::nullopt : std::optional<uint32_t>(it->second.elapseMs);
    }

    // Delivers the posted ticks, then lets ms of virtual time pass, delivering every tick
    // that falls due to engine, in time order.
    void AdvanceBy(GuardEngine& engine, int64_t ms)
    {
        DeliverPosted(engine);
        const int64_t end = m_clock.NowMs() + ms;
        for (;;) {
            auto next = m_timers.end();
            for (auto it = m_timers.begin(); it != m_timers.end(); ++it)
                if (next == m_timers.end() || it->second.dueMs < next->second.dueMs
                    || (it->second.dueMs == next->second.dueMs && it->second.order < next->second.order))
                    next = it;
            if (next == m_timers.end() || next->second.dueMs > end)
                break;
            m_clock.SetMs(next->second.dueMs);
            next->second.dueMs += next->second.elapseMs;
            engine.OnTimer(next->first);
            DeliverPosted(engine);
        }
        m_clock.SetMs(end);
    }

private:
    struct Timer {
        uint32_t elapseMs = 0;
        int64_t dueMs = 0;
        uint64_t order = 0;
    };
    void DeliverPosted(GuardEngine& engine)
    {
        while (!m_posted.empty()) {
            const unsigned id = m_posted.front();
            m_posted.pop_front();
            engine.OnTimer(id);
        }
    }

    VirtualClock& m_clock;
    std::map<unsigned, Timer> m_timers;
    std::deque<unsigned> m_posted;
    uint64_t m_nextOrder = 0;
};

}  // namespace fake
