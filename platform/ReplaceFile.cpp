#include "platform/ReplaceFile.h"

#include <QRandomGenerator>

#include <cerrno>
#include <climits>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace posix {

int writeAll(int fd, const QByteArray &bytes)
{
    const char *data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, size_t(left));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (written == 0)
            return EIO;
        data += written;
        left -= written;
    }
    return 0;
}

TempFile::~TempFile()
{
    m_fd.reset();
    if (!m_name.isEmpty())
        ::unlinkat(m_dirFd, m_name.constData(), 0);
}

int TempFile::create(const QByteArray &baseName, mode_t mode)
{
    // Room for the dot, the random part and the suffix within NAME_MAX.
    const QByteArray stem = baseName.left(NAME_MAX - 20);
    for (int attempt = 0; attempt < 32; ++attempt) {
        const QByteArray name =
            '.' + stem + '.' + QByteArray::number(QRandomGenerator::global()->generate(), 16) + ".tmp";
        const int fd =
            ::openat(m_dirFd, name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd >= 0) {
            m_fd.reset(fd);
            m_name = name;
            return 0;
        }
        if (errno != EEXIST)
            return errno;
    }
    return EEXIST;
}

int replaceFile(const QByteArray &givenPath, const QByteArray &bytes, mode_t mode)
{
    if (givenPath.isEmpty() || givenPath.endsWith('/'))
        return EISDIR;
    const QByteArray path = cleanPath(givenPath);
    const QByteArray name = baseName(path);
    UniqueFd folder(::open(parentPath(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder.isValid())
        return errno;
    TempFile temp(folder.get());
    if (const int error = temp.create(name, mode))
        return error;
    if (const int error = writeAll(temp.fd(), bytes))
        return error;
    if (::fsync(temp.fd()) != 0 || temp.close() != 0)
        return errno;
    // rename() replaces whatever stands at path, a symbolic link included,
    // without following it.
    if (::renameat(folder.get(), temp.name().constData(), folder.get(), name.constData()) != 0)
        return errno;
    temp.release();
    // Make the rename itself durable.
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
