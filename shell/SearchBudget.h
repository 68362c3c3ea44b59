#pragma once

// The time a resolve may spend searching, and the regular call-outs that let
// the caller keep its window alive while it does.

#include <QElapsedTimer>

#include <functional>

class SearchBudget
{
public:
    // Interval between two calls of the progress hook: with the work of one
    // unit and the hook's own time, a window that the hook keeps alive still
    // gets a turn within every frame (16 ms).
    static constexpr int kHookIntervalMs = 5;

    // `limitMs` from now; `hook` (may be empty) is called about every
    // `hookIntervalMs` while work goes on.
    SearchBudget(qint64 limitMs, std::function<void()> hook = {}, int hookIntervalMs = kHookIntervalMs);

    // Call after every unit of work (one folder read, a few dozen stat
    // calls). Runs the hook when it is due. False once the time is up.
    bool tick();
    bool expired() const { return m_expired || m_clock.elapsed() >= m_limitMs; }

private:
    QElapsedTimer m_clock;
    qint64 m_limitMs;
    qint64 m_nextHookMs;
    int m_hookIntervalMs;
    std::function<void()> m_hook;
    bool m_expired = false;
};
