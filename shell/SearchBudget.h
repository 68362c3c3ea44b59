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
    // `hookIntervalMs` while work goes on. `stop` (may be empty), asked as
    // often, ends the work at once when it says so (a scan being stopped).
    SearchBudget(qint64 limitMs, std::function<void()> hook = {}, int hookIntervalMs = kHookIntervalMs,
                 std::function<bool()> stop = {});

    // Call after every unit of work (one folder read, a few dozen stat
    // calls). Runs the hook when it is due. False once the time is up, or
    // once the work was stopped.
    bool tick();
    bool expired() const { return m_expired || m_clock.elapsed() - m_sinceMs >= m_limitMs; }
    bool stopped() const { return m_stopped; }
    // Work that moved on (a folder of the drive read into the index): the
    // limit counts from here. Reading a drive is shared by every search of a
    // scan and takes as long as the disk or share takes; only a search that
    // makes no headway for the whole limit runs out of time.
    void progressed() { m_sinceMs = m_clock.elapsed(); }

private:
    QElapsedTimer m_clock;
    qint64 m_limitMs;
    qint64 m_sinceMs = 0;
    qint64 m_nextHookMs;
    int m_hookIntervalMs;
    std::function<void()> m_hook;
    std::function<bool()> m_stop;
    bool m_expired = false;
    bool m_stopped = false;
};
