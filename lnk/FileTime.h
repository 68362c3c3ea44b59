#pragma once

// FILETIME, the time stamps a shortcut records: 100-nanosecond intervals
// since 1601-01-01 UTC, 0 meaning "not recorded".

#include <QtGlobal>

#include <optional>

namespace FileTime {

constexpr qint64 kTicksPerSecond = 10000000;
// 1970-01-01 00:00:00 UTC as a FILETIME.
constexpr qint64 kUnixEpoch = 116444736000000000LL;

// The FILETIME of a POSIX time; 0 for a time FILETIME cannot hold (before
// 1601, or too far ahead).
quint64 fromUnix(qint64 seconds, qint64 nanoseconds);

// The POSIX seconds of a FILETIME (its fraction of a second dropped);
// nothing for 0, which records no time.
std::optional<qint64> toUnixSeconds(quint64 fileTime);

// The FILETIME of a FAT date and time (two-second steps), as a shell item
// records them, read as UTC; 0 for no date or an impossible one.
quint64 fromFat(quint16 date, quint16 time);

} // namespace FileTime
