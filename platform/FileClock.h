#pragma once

#include <QtGlobal>

#include <time.h>

// A file time as nanoseconds since the epoch.
inline qint64 timespecNs(const struct timespec &t)
{
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// The wall clock now, on the scale of file times.
inline qint64 wallClockNs()
{
    struct timespec now;
    ::clock_gettime(CLOCK_REALTIME, &now);
    return timespecNs(now);
}
