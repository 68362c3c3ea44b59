#pragma once

#include <QByteArray>

#include <sys/types.h>

// Writing whole small files safely into a folder of the user's own.
namespace posix {

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
