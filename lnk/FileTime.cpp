#include "lnk/FileTime.h"

#include <chrono>
#include <limits>

namespace FileTime {

quint64 fromUnix(qint64 seconds, qint64 nanoseconds)
{
    constexpr qint64 kMinSeconds = -kUnixEpoch / kTicksPerSecond;
    constexpr qint64 kMaxSeconds = (std::numeric_limits<qint64>::max() - kUnixEpoch) / kTicksPerSecond - 1;
    if (seconds < kMinSeconds || seconds > kMaxSeconds)
        return 0;
    const qint64 value = seconds * kTicksPerSecond + nanoseconds / 100 + kUnixEpoch;
    return value > 0 ? quint64(value) : 0;
}

std::optional<qint64> toUnixSeconds(quint64 fileTime)
{
    if (fileTime == 0)
        return std::nullopt;
    return qint64(fileTime / quint64(kTicksPerSecond)) - kUnixEpoch / kTicksPerSecond;
}

quint64 fromFat(quint16 date, quint16 time)
{
    using namespace std::chrono;
    const year_month_day day{year(1980 + (date >> 9)), month((date >> 5) & 0x0F),
                             std::chrono::day(date & 0x1F)};
    const unsigned hours = time >> 11, minutes = (time >> 5) & 0x3F, seconds = (time & 0x1F) * 2u;
    if (date == 0 || !day.ok() || hours > 23 || minutes > 59 || seconds > 59)
        return 0;
    const qint64 unixSeconds =
        sys_days(day).time_since_epoch().count() * 86400LL + hours * 3600 + minutes * 60 + seconds;
    return fromUnix(unixSeconds, 0);
}

} // namespace FileTime
