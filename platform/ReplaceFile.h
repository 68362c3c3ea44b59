#pragma once

#include <QByteArray>

#include <sys/types.h>

#include "platform/PosixPath.h"

// Writing whole small files safely: a new file beside the old one, written
// and flushed, then renamed over it.
namespace posix {

// Writes all of bytes to fd, going on after short writes and interruptions.
// Returns 0, or the errno of the write that failed (EIO for one that wrote
// nothing).
int writeAll(int fd, const QByteArray &bytes);

// A new file in an open folder under a hidden temporary name,
// ".<name>.<random>.tmp" (never matched by "*.lnk"), created exclusively and
// never through a symbolic link. It is closed and removed again on
// destruction unless release() says it was renamed into place.
class TempFile
{
public:
    // dirFd must stay open as long as the temporary file is kept.
    explicit TempFile(int dirFd) : m_dirFd(dirFd) {}
    ~TempFile();
    TempFile(const TempFile &) = delete;
    TempFile &operator=(const TempFile &) = delete;

    // Creates the file for the name it is to replace, with the permission
    // bits mode less the umask. Returns 0 or an errno.
    int create(const QByteArray &baseName, mode_t mode = 0600);
    int fd() const { return m_fd.get(); }
    const QByteArray &name() const { return m_name; }
    // Closes the file, reporting what close() said; it is still removed on
    // destruction unless released.
    int close() { return m_fd.close(); }
    // The file now stands under another name: it is not removed.
    void release() { m_name.clear(); }

private:
    int m_dirFd;
    UniqueFd m_fd;
    QByteArray m_name;
};

// Replaces the file at path by one holding bytes: writes a new file beside
// it (created exclusively under a fresh name, never through a symbolic
// link), flushes it to disk and renames it over path. A symbolic link
// standing at path is replaced itself; its target is never written. The
// new file's permissions are mode less the umask. Returns 0, or the errno
// of the step that failed (nothing is left behind then, and path is
// untouched).
int replaceFile(const QByteArray &path, const QByteArray &bytes, mode_t mode = 0666);

// Makes the folder path (its parent must exist) with the given mode, or
// accepts a folder of this user that already stands there. Returns 0, or
// an errno (ENOTDIR for a non-folder, ELOOP for a symbolic link, whatever it
// leads to, EPERM for a folder of another user).
int makeOwnFolder(const QByteArray &path, mode_t mode = 0700);

} // namespace posix
