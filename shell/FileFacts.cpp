#include "shell/FileFacts.h"

#include "platform/WinTypes.h"

#include <cerrno>
#include <cstring>
#include <limits>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {

// Seconds from 1601-01-01 to 1970-01-01, in FILETIME units.
constexpr qint64 kUnixEpochAsFileTime = 116444736000000000LL;

FactsStatus fill(int dirFd, const char *path, FileFacts &facts)
{
    struct statx sx;
    std::memset(&sx, 0, sizeof sx);
    if (::statx(dirFd, path, AT_STATX_SYNC_AS_STAT, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return FactsStatus::Missing;
        return errno == ENAMETOOLONG ? FactsStatus::TooLong : FactsStatus::Unreadable;
    }

    facts = FileFacts{};
    facts.isDirectory = S_ISDIR(sx.stx_mode);
    facts.isRegular = S_ISREG(sx.stx_mode);
    facts.size = facts.isDirectory ? 0 : sx.stx_size;
    if (sx.stx_mask & STATX_BTIME)
        facts.creationTime = fileTimeFromUnix(sx.stx_btime.tv_sec, sx.stx_btime.tv_nsec);
    facts.accessTime = fileTimeFromUnix(sx.stx_atime.tv_sec, sx.stx_atime.tv_nsec);
    facts.writeTime = fileTimeFromUnix(sx.stx_mtime.tv_sec, sx.stx_mtime.tv_nsec);
    facts.device = makedev(sx.stx_dev_major, sx.stx_dev_minor);
    facts.inode = sx.stx_ino;

    // The bits Windows would show: a folder or an archive-ready file, read
    // only when nobody may write it, hidden for dot names.
    quint32 attributes = facts.isDirectory ? win::FILE_ATTRIBUTE_DIRECTORY : win::FILE_ATTRIBUTE_ARCHIVE;
    if ((sx.stx_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
        attributes |= win::FILE_ATTRIBUTE_READONLY;
    const char *slash = std::strrchr(path, '/');
    const char *name = slash ? slash + 1 : path;
    if (name[0] == '.' && std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0)
        attributes |= win::FILE_ATTRIBUTE_HIDDEN;
    facts.attributes = attributes;
    return FactsStatus::Found;
}

} // namespace

quint64 fileTimeFromUnix(qint64 seconds, qint64 nanoseconds)
{
    // Times beyond what FILETIME can hold are treated as unknown.
    constexpr qint64 kMinSeconds = -kUnixEpochAsFileTime / 10000000;
    constexpr qint64 kMaxSeconds = (std::numeric_limits<qint64>::max() - kUnixEpochAsFileTime) / 10000000 - 1;
    if (seconds < kMinSeconds || seconds > kMaxSeconds)
        return 0;
    const qint64 value = seconds * 10000000 + nanoseconds / 100 + kUnixEpochAsFileTime;
    return value > 0 ? quint64(value) : 0;
}

FactsStatus readFacts(const QByteArray &posixPath, FileFacts &facts)
{
    if (posixPath.isEmpty() || posixPath.contains('\0'))
        return FactsStatus::Missing;
    return fill(AT_FDCWD, posixPath.constData(), facts);
}

FactsStatus readFactsAt(int dirFd, const char *name, FileFacts &facts)
{
    return fill(dirFd, name, facts);
}
