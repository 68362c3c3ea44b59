#include "platform/TickClock.h"

#include <time.h>

namespace {

clockid_t chooseClock()
{
    struct timespec tick;
    if (::clock_getres(CLOCK_MONOTONIC_COARSE, &tick) == 0 && tick.tv_sec == 0 &&
        tick.tv_nsec <= TickClock::kCoarsestTickMs * 1000000)
        return CLOCK_MONOTONIC_COARSE;
    return CLOCK_MONOTONIC;
}

} // namespace

qint64 TickClock::nowMs()
{
    static const clockid_t clock = chooseClock();
    struct timespec now;
    ::clock_gettime(clock, &now);
    return qint64(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}
