#include "guard/Backoff.h"

#include <algorithm>

#include "base/DecimalText.h"

bool Backoff::Reset()
{
    const bool wasRun = m_nFailures > 0;
    m_nFailures = 0;
    m_waitMs = 0;
    m_releaseMs = 0;
    return wasRun;
}

BackoffVerdict Backoff::InformOfExit(int64_t nowMs, bool launchKnown, int64_t upMs)
{
    // Only the time a check noticed the exit is known: a program seen up at one check and gone
    // at the next lived at least until the first.
    BackoffVerdict verdict;
    verdict.quick = m_policy.enabled && launchKnown && upMs < m_policy.minUptimeMs;
    if (!verdict.quick)
        return verdict;
    ++m_nFailures;
    verdict.attempt = m_nFailures;
    verdict.waitMs = WaitAfter(m_nFailures);
    verdict.grew = verdict.waitMs != m_waitMs;
    verdict.atCap = verdict.grew && verdict.waitMs == WaitAfter(30) && m_nFailures > 1;
    m_waitMs = verdict.waitMs;
    m_releaseMs = nowMs + verdict.waitMs;
    return verdict;
}

int64_t Backoff::HoldForRestartsInRow(int64_t nowMs, int32_t restartsInRow)
{
    if (!m_policy.enabled || restartsInRow <= 1)
        return 0;
    m_nFailures = restartsInRow - 1;
    m_waitMs = WaitAfter(m_nFailures);
    m_releaseMs = nowMs + m_waitMs;
    return m_waitMs;
}

bool Backoff::InformOfUptime(int64_t upMs)
{
    if (m_nFailures == 0 || upMs < m_policy.minUptimeMs)
        return false;
    return Reset();
}

int64_t Backoff::RemainingMs(int64_t nowMs) const
{
    const int64_t remainingMs = m_releaseMs - nowMs;
    return m_waitMs != 0 && remainingMs > m_policy.loopMs / 2 ? remainingMs : 0;
}

int64_t Backoff::WaitAfter(int32_t n) const
{
    const int64_t capMs = std::max(m_policy.capMs, m_policy.loopMs);
    const int shift = std::clamp(n, 0, 30);  // 30 and more: the cap
    return std::min(capMs, m_policy.loopMs << shift);
}

std::u16string BackoffStatusText(int64_t seconds, int32_t attempt)
{
    return u"等待 " + px::IToW(static_cast<int32_t>(std::min<int64_t>(seconds, INT32_MAX))) + u" 秒后重启（第 "
        + px::IToW(attempt) + u" 次）";
}
