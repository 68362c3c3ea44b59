#include "shell/LinkWriter.h"

#include "platform/BoundedCall.h"
#include "platform/FileAttributes.h"
#include "platform/FileClock.h"
#include "platform/PosixPath.h"
#include "platform/ReplaceFile.h"
#include "shell/ChangeJournal.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

// Copies the extended attributes of one file to another. Only a failure to
// copy a POSIX ACL counts: without it the permissions would not be kept.
int copyExtendedAttributes(int from, int to)
{
    const ssize_t listSize = ::flistxattr(from, nullptr, 0);
    if (listSize <= 0)
        return 0;
    std::vector<char> names(size_t(listSize) + 1, 0);
    const ssize_t got = ::flistxattr(from, names.data(), names.size() - 1);
    if (got < 0)
        return 0;
    for (ssize_t at = 0; at < got;) {
        const char *name = names.data() + at;
        at += ssize_t(std::strlen(name)) + 1;
        const bool essential = std::strncmp(name, "system.posix_acl_", 17) == 0;
        const ssize_t valueSize = ::fgetxattr(from, name, nullptr, 0);
        if (valueSize < 0) {
            if (essential)
                return errno;
            continue;
        }
        std::vector<char> value(size_t(valueSize) + 1);
        const ssize_t valueGot = ::fgetxattr(from, name, value.data(), size_t(valueSize));
        if (valueGot < 0 || ::fsetxattr(to, name, value.data(), size_t(valueGot), 0) != 0) {
            if (essential)
                return errno ? errno : EIO;
        }
    }
    return 0;
}

} // namespace

FileStamp FileStamp::of(const struct stat &st)
{
    return FileStamp{st.st_dev, st.st_ino, qint64(st.st_size), timespecNs(st.st_mtim),
                     timespecNs(st.st_ctim)};
}

int LinkWriter::sync(int fd) const
{
    const auto flush = [fd] { return ::fsync(fd) == 0 ? 0 : errno; };
    if (!m_waitHook)
        return flush();
    // The flush runs on a worker thread while the hook runs here, and is
    // never given up: the descriptor stays open until it has returned.
    const std::optional<int> error =
        BoundedCall::run<int>(std::make_shared<BoundedCall::HungPlaces>(), QByteArray(), flush, [this] {
            m_waitHook();
            return true;
        });
    return error ? *error : flush(); // no thread to flush with: flush here
}

std::variant<LinkWriter::Prepared, LinkWriter::Result>
LinkWriter::prepare(const QByteArray &posixPath, const FileStamp &loaded, const QByteArray &within) const
{
    Result result;
    const auto failed = [&](int error) {
        result.outcome = Outcome::Failed;
        result.error = error ? error : EIO;
        return result;
    };

    // A shortcut that is itself a symbolic link is another name of a file
    // that lies elsewhere: it keeps its bytes, like one with hard links.
    struct stat named;
    if (::lstat(posixPath.constData(), &named) != 0)
        return failed(errno);
    if (S_ISLNK(named.st_mode)) {
        result.outcome = Outcome::Shared;
        return result;
    }
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(posixPath.constData(), nullptr), &std::free);
    if (!real)
        return failed(errno);
    Prepared p;
    p.realPath = QByteArray(real.get());
    const qsizetype slash = p.realPath.lastIndexOf('/');
    p.folder = slash == 0 ? QByteArray("/") : p.realPath.left(slash);
    p.baseName = p.realPath.mid(slash + 1);

    p.original = posix::UniqueFd(
        ::open(p.realPath.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (p.original.get() < 0)
        return failed(errno);
    if (::fstat(p.original.get(), &p.st) != 0)
        return failed(errno);
    if (!S_ISREG(p.st.st_mode) || !(FileStamp::of(p.st) == loaded)) {
        result.outcome = Outcome::Changed;
        return result;
    }
    // A new file renamed over one name would split it from its other hard
    // links; a folder linked from elsewhere must not carry a change off the
    // drive (`within` is the drive's folder, or one its prefix links in).
    if (p.st.st_nlink > 1 || within.isEmpty() || !posix::isWithin(within, p.realPath)) {
        result.outcome = Outcome::Shared;
        return result;
    }
    // A file without any write permission is read-only in the Windows
    // sense even for a user whom the system would let write it; rename()
    // would otherwise replace it regardless of its own bits.
    if (FileAttributes::isReadOnly(p.st.st_mode) ||
        ::faccessat(AT_FDCWD, p.realPath.constData(), W_OK, AT_EACCESS) != 0) {
        result.outcome = Outcome::ReadOnly;
        result.error = EACCES;
        return result;
    }

    p.dir = posix::UniqueFd(::open(p.folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (p.dir.get() < 0)
        return failed(errno);
    // An append-only folder takes a new file but lets it neither replace the
    // shortcut nor be removed again; an immutable one takes nothing. Neither
    // is begun, so nothing is left behind in it. An immutable or append-only
    // shortcut cannot be replaced either.
    int inodeFlags = 0;
    if (::ioctl(p.dir.get(), FS_IOC_GETFLAGS, &inodeFlags) == 0 &&
        (inodeFlags & (FS_APPEND_FL | FS_IMMUTABLE_FL)))
        return failed(EPERM);
    inodeFlags = 0;
    if (::ioctl(p.original.get(), FS_IOC_GETFLAGS, &inodeFlags) == 0 &&
        (inodeFlags & (FS_APPEND_FL | FS_IMMUTABLE_FL)))
        return failed(EPERM);
    return p;
}

LinkWriter::Result LinkWriter::wouldReplace(const QByteArray &posixPath, const FileStamp &loaded,
                                            const QByteArray &within) const
{
    std::variant<Prepared, Result> prepared = prepare(posixPath, loaded, within);
    if (Result *refused = std::get_if<Result>(&prepared))
        return *refused;
    const Prepared &p = std::get<Prepared>(prepared);
    Result result;
    // The new file is made in the shortcut's folder.
    if (::faccessat(AT_FDCWD, p.folder.constData(), W_OK | X_OK, AT_EACCESS) != 0) {
        result.outcome = Outcome::Failed;
        result.error = errno ? errno : EACCES;
        return result;
    }
    result.outcome = Outcome::Written;
    return result;
}

LinkWriter::Result LinkWriter::replace(const QByteArray &posixPath, const QByteArray &bytes,
                                       const FileStamp &loaded, const QByteArray &within,
                                       const Note &note) const
{
    std::variant<Prepared, Result> prepared = prepare(posixPath, loaded, within);
    if (Result *refused = std::get_if<Result>(&prepared))
        return *refused;
    Prepared &p = std::get<Prepared>(prepared);
    const QByteArray &baseName = p.baseName;
    const posix::UniqueFd &original = p.original;
    const posix::UniqueFd &dir = p.dir;
    const struct stat &st = p.st;
    Result result;
    const auto failed = [&](int error) {
        result.outcome = Outcome::Failed;
        result.error = error ? error : EIO;
        return result;
    };

    if (const int error = fault(Step::CreateTemp))
        return failed(error);
    posix::TempFile temp(dir.get());
    if (const int error = temp.create(baseName))
        return failed(error);

    // Owner and group first (changing them clears set-id bits), then the
    // permission bits, then the extended attributes.
    struct stat tempSt;
    if (::fstat(temp.fd(), &tempSt) != 0)
        return failed(errno);
    if ((tempSt.st_uid != st.st_uid || tempSt.st_gid != st.st_gid) &&
        ::fchown(temp.fd(), st.st_uid, st.st_gid) != 0)
        return failed(errno);
    if (::fchmod(temp.fd(), st.st_mode & 07777) != 0)
        return failed(errno);
    if (const int error = copyExtendedAttributes(original.get(), temp.fd()))
        return failed(error);

    if (const int error = fault(Step::Write))
        return failed(error);
    if (const int error = posix::writeAll(temp.fd(), bytes))
        return failed(error);
    if (const int error = fault(Step::Sync))
        return failed(error);
    if (const int error = sync(temp.fd()))
        return failed(error);
    if (temp.close() != 0)
        return failed(errno);

    // Last look before the switch: still the loaded file, still at its path.
    struct stat now, atPath;
    if (::fstat(original.get(), &now) != 0 || !(FileStamp::of(now) == loaded) ||
        ::fstatat(dir.get(), baseName.constData(), &atPath, AT_SYMLINK_NOFOLLOW) != 0 ||
        atPath.st_dev != now.st_dev || atPath.st_ino != now.st_ino) {
        result.outcome = Outcome::Changed;
        return result;
    }

    // The journal holds the change, flushed, before it is made: the old
    // bytes as the file holds them now, read through the open descriptor.
    if (m_journal) {
        int error = fault(Step::Journal);
        std::optional<QByteArray> old;
        if (!error && ::lseek(original.get(), 0, SEEK_SET) == 0)
            old = posix::readUpTo(original.get(), now.st_size, now.st_size, &error);
        if (!error && (!old || old->size() != now.st_size))
            error = EIO;
        if (!error) {
            JournalChange change;
            change.path = p.realPath;
            change.winPath = note.winPath;
            change.device = quint64(now.st_dev);
            change.inode = quint64(now.st_ino);
            change.oldBytes = *old;
            change.newSha256 = JournalChange::digest(bytes);
            change.newSize = bytes.size();
            change.oldTarget = note.oldTarget;
            change.newTarget = note.newTarget;
            error = m_journal->record(change, [this](int fd) { return sync(fd); });
        }
        if (error) {
            result.outcome = Outcome::NotJournalled;
            result.error = error;
            return result;
        }
    }

    if (const int error = fault(Step::Rename))
        return failed(error);
    if (::renameat(dir.get(), temp.name().constData(), dir.get(), baseName.constData()) != 0)
        return failed(errno);
    // The folder is not flushed: after a crash the rename may be undone,
    // which leaves the old, complete shortcut; the new contents were flushed
    // before the rename, so it can never appear half written.
    temp.release();

    struct stat written;
    if (::fstatat(dir.get(), baseName.constData(), &written, AT_SYMLINK_NOFOLLOW) == 0)
        result.stamp = FileStamp::of(written);
    result.outcome = Outcome::Written;
    return result;
}
