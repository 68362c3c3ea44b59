#include "shell/SearchBudget.h"

SearchBudget::SearchBudget(qint64 limitMs, std::function<void()> hook, int hookIntervalMs)
    : m_limitMs(limitMs), m_nextHookMs(hookIntervalMs), m_hookIntervalMs(hookIntervalMs),
      m_hook(std::move(hook))
{
    m_clock.start();
}

bool SearchBudget::tick()
{
    if (m_expired)
        return false;
    const qint64 now = m_clock.elapsed();
    if (m_hook && now >= m_nextHookMs) {
        m_hook();
        m_nextHookMs = m_clock.elapsed() + m_hookIntervalMs;
    }
    if (m_clock.elapsed() >= m_limitMs)
        m_expired = true;
    return !m_expired;
}
