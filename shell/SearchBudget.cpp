#include "shell/SearchBudget.h"

SearchBudget::SearchBudget(qint64 limitMs, std::function<void()> hook, int hookIntervalMs,
                           std::function<bool()> stop)
    : m_limitMs(limitMs), m_nextHookMs(hookIntervalMs), m_hookIntervalMs(hookIntervalMs),
      m_hook(std::move(hook)), m_stop(std::move(stop))
{
    m_clock.start();
}

bool SearchBudget::tick()
{
    if (m_expired)
        return false;
    const qint64 now = m_clock.elapsed();
    if (now >= m_nextHookMs) {
        if (m_hook)
            m_hook();
        m_nextHookMs = m_clock.elapsed() + m_hookIntervalMs;
        if (m_stop && m_stop()) {
            m_stopped = true;
            m_expired = true;
        }
    }
    if (m_clock.elapsed() - m_sinceMs >= m_limitMs)
        m_expired = true;
    return !m_expired;
}
