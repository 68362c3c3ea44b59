#include "platform/ReplaceFile.h"

#include "platform/PosixPath.h"

#include <QRandomGenerator>

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace posix {

namespace {

int writeAll(int fd, const QByteArray &bytes)
{
    const char *data = bytes.constData();
    qint64 left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, static_cast<size_t>(left));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        data += written;
        left -= written;
    }
    return 0;
}

// ".<name>.<random>" beside path.
QByteArray temporaryName(const QByteArray &path)
{
    const QByteArray folder = parentPath(path);
    const QByteArray name =
        '.' + baseName(path) + '.' + QByteArray::number(QRandomGenerator::system()->generate64(), 36);
    return join(folder, name);
}

} // namespace

int replaceFile(const QByteArray &givenPath, const QByteArray &bytes, mode_t mode)
{
    if (givenPath.isEmpty() || givenPath.endsWith('/'))
        return EISDIR;
    const QByteArray path = cleanPath(givenPath);
    QByteArray temporary;
    UniqueFd fd;
    for (int attempt = 0; attempt < 100 && !fd.isValid(); ++attempt) {
        temporary = temporaryName(path);
        fd.reset(::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
        if (!fd.isValid() && errno != EEXIST)
            return errno;
    }
    if (!fd.isValid())
        return EEXIST;

    int error = writeAll(fd.get(), bytes);
    if (error == 0 && ::fsync(fd.get()) != 0)
        error = errno;
    if (error == 0 && ::close(fd.release()) != 0)
        error = errno;
    // rename() replaces whatever stands at path, a symbolic link included,
    // without following it.
    if (error == 0 && ::rename(temporary.constData(), path.constData()) != 0)
        error = errno;
    if (error != 0) {
        ::unlink(temporary.constData());
        return error;
    }
    // Make the rename itself durable.
    UniqueFd folder(::open(parentPath(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.isValid())
        ::fsync(folder.get());
    return 0;
}

int makeOwnFolder(const QByteArray &path, mode_t mode)
{
    if (::mkdir(path.constData(), mode) == 0)
        return 0;
    if (errno != EEXIST)
        return errno;
    // The entry itself: a symbolic link standing at the name is not this
    // user's folder, wherever it leads (whoever planted it chose where the
    // files would go).
    struct stat info;
    if (::lstat(path.constData(), &info) != 0)
        return errno;
    if (S_ISLNK(info.st_mode))
        return ELOOP;
    if (!S_ISDIR(info.st_mode))
        return ENOTDIR;
    if (info.st_uid != ::geteuid())
        return EPERM;
    return 0;
}

} // namespace posix
