#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <memory>
#include <optional>

#include <dirent.h>

// Small POSIX helpers shared by the platform layer: handles that close
// themselves, lexical and canonical path forms, and the case-insensitive
// lookup of one name in a folder.
namespace posix {

struct DirCloser
{
    void operator()(DIR *dir) const noexcept;
};
// An open folder stream, closed on destruction.
using DirHandle = std::unique_ptr<DIR, DirCloser>;

// A file descriptor, closed on destruction.
class UniqueFd
{
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd &&other) noexcept : m_fd(other.release()) {}
    UniqueFd &operator=(UniqueFd &&other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    UniqueFd(const UniqueFd &) = delete;
    UniqueFd &operator=(const UniqueFd &) = delete;

    int get() const { return m_fd; }
    bool isValid() const { return m_fd >= 0; }
    int release()
    {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    void reset(int fd = -1);
    // Closes now and reports what close() said (0 when nothing was open).
    int close();

private:
    int m_fd = -1;
};

// Opens a folder for reading its entries; a null handle (errno set) when it
// cannot be opened.
DirHandle openFolder(const QByteArray &path);

// The absolute form of a path (relative paths are taken from the current
// folder) with empty and "." components dropped and ".." applied lexically,
// never above "/". No symbolic link is followed.
QByteArray cleanPath(const QByteArray &path);

// realpath(3); nothing when the path does not exist or cannot be resolved.
std::optional<QByteArray> realPath(const QByteArray &path);

// The canonical form of a path that need not exist: the longest existing
// prefix resolved with realpath(3), the rest appended as written (cleaned).
QByteArray canonicalPath(const QByteArray &path);

// Whether path is folder itself or lies below it, at a component boundary.
// Both must be absolute and clean.
bool isWithin(const QByteArray &folder, const QByteArray &path);
// The same for paths as text, compared with the given case sensitivity.
bool isWithin(QStringView folder, QStringView path, Qt::CaseSensitivity cs = Qt::CaseSensitive);

// Whether path names a folder, symbolic links followed.
bool isFolder(const QByteArray &path);

// folder + '/' + name, without doubling the slash of "/".
QByteArray join(const QByteArray &folder, const QByteArray &name);

// The last component of a clean path ("/" for the root).
QByteArray baseName(const QByteArray &path);
// Everything before the last component of a clean path ("/" for "/x").
QByteArray parentPath(const QByteArray &path);

// A file name's bytes (valid UTF-8) as text, every character kept: unlike
// QString::fromUtf8 and QFile::decodeName, which drop a leading byte-order
// mark, this keeps U+FEFF at the start of a name, so that the text gives
// back the name's own bytes and "\uFEFFa.lnk" stays another name than "a.lnk".
QString decodeName(const char *name, qsizetype size);

// What an open file holds from where it stands, read to its end but never
// more than maxBytes + 1 bytes (one more than allowed: too large); sizeHint
// is what it is expected to hold. Nothing, with *error set, when reading
// fails.
std::optional<QByteArray> readUpTo(int fd, qint64 maxBytes, qint64 sizeHint, int *error = nullptr);

// The whole of a regular file of at most maxBytes; nothing when it cannot be
// read, is no regular file or is larger.
std::optional<QByteArray> readSmallFile(const QByteArray &path, qint64 maxBytes);

// A path as text to show on one line: its bytes read as UTF-8, each byte
// that is not part of valid UTF-8 (a name in another encoding) or is a
// control character written as \xNN.
QString shownPath(const QByteArray &bytes);

// The name of an entry of folder whose name, decoded from UTF-8 and case
// folded, equals foldedName; the first such in the folder's order. Names that
// are not valid UTF-8 never match.
std::optional<QByteArray> findEntryNoCase(const QByteArray &folder, const QString &foldedName);

} // namespace posix
