#include "lnk/FileTime.h"

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

} // namespace FileTime
