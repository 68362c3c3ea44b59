#include "shell/FileFacts.h"

#include "lnk/FileTime.h"
#include "platform/FileAttributes.h"

#include <cerrno>
#include <cstring>
#include <limits>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {

FactsStatus fill(const char *path, FileFacts &facts)
{
    struct statx sx;
    std::memset(&sx, 0, sizeof sx);
    if (::statx(AT_FDCWD, path, AT_STATX_SYNC_AS_STAT, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return FactsStatus::Missing;
        return errno == ENAMETOOLONG ? FactsStatus::TooLong : FactsStatus::Unreadable;
    }

    facts = FileFacts{};
    facts.isDirectory = S_ISDIR(sx.stx_mode);
    facts.isRegular = S_ISREG(sx.stx_mode);
    facts.size = facts.isDirectory ? 0 : sx.stx_size;
    if (sx.stx_mask & STATX_BTIME)
        facts.creationTime = FileTime::fromUnix(sx.stx_btime.tv_sec, sx.stx_btime.tv_nsec);
    facts.accessTime = FileTime::fromUnix(sx.stx_atime.tv_sec, sx.stx_atime.tv_nsec);
    facts.writeTime = FileTime::fromUnix(sx.stx_mtime.tv_sec, sx.stx_mtime.tv_nsec);
    facts.device = makedev(sx.stx_dev_major, sx.stx_dev_minor);
    facts.inode = sx.stx_ino;

    // The bits Windows would show; the final component decides HIDDEN.
    const char *slash = std::strrchr(path, '/');
    facts.attributes = FileAttributes::of(sx.stx_mode, slash ? slash + 1 : path);
    return FactsStatus::Found;
}

} // namespace

FactsStatus readFacts(const QByteArray &posixPath, FileFacts &facts)
{
    if (posixPath.isEmpty() || posixPath.contains('\0'))
        return FactsStatus::Missing;
    return fill(posixPath.constData(), facts);
}
