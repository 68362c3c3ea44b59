#include "platform/PosixPath.h"

#include "platform/AsciiCase.h"

#include <QByteArrayView>
#include <QList>
#include <QStringDecoder>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace posix {

void DirCloser::operator()(DIR *dir) const noexcept
{
    if (dir)
        ::closedir(dir);
}

void UniqueFd::reset(int fd)
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = fd;
}

int UniqueFd::close()
{
    const int result = m_fd >= 0 ? ::close(m_fd) : 0;
    m_fd = -1;
    return result;
}

DirHandle openFolder(const QByteArray &path)
{
    if (path.isEmpty()) {
        errno = ENOENT;
        return {};
    }
    UniqueFd fd(::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.isValid())
        return {};
    DIR *dir = ::fdopendir(fd.get());
    if (!dir)
        return {};
    fd.release(); // the stream owns it now
    return DirHandle(dir);
}

QByteArray cleanPath(const QByteArray &path)
{
    QByteArray absolute = path;
    if (!absolute.startsWith('/')) {
        char buffer[PATH_MAX];
        if (::getcwd(buffer, sizeof buffer))
            absolute = join(QByteArray(buffer), path);
        else
            absolute.prepend('/');
    }
    QList<QByteArray> parts;
    for (const QByteArray &part : absolute.split('/')) {
        if (part.isEmpty() || part == ".")
            continue;
        if (part == "..") {
            if (!parts.isEmpty())
                parts.removeLast();
            continue;
        }
        parts.append(part);
    }
    QByteArray result;
    for (const QByteArray &part : parts)
        result += '/' + part;
    return result.isEmpty() ? QByteArray("/") : result;
}

std::optional<QByteArray> realPath(const QByteArray &path)
{
    if (path.isEmpty())
        return std::nullopt;
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.constData(), nullptr), &std::free);
    if (!resolved)
        return std::nullopt;
    return QByteArray(resolved.get());
}

QByteArray canonicalPath(const QByteArray &path)
{
    if (std::optional<QByteArray> real = realPath(path))
        return *real;
    const QByteArray clean = cleanPath(path);
    // Strip components from the end until what is left exists.
    qsizetype cut = clean.size();
    while (cut > 0) {
        cut = clean.lastIndexOf('/', cut - 1);
        if (cut < 0)
            break;
        const QByteArray head = cut == 0 ? QByteArray("/") : clean.left(cut);
        if (std::optional<QByteArray> real = realPath(head))
            return join(*real, clean.mid(cut + 1));
    }
    return clean;
}

bool isWithin(const QByteArray &folder, const QByteArray &path)
{
    if (folder == "/")
        return path.startsWith('/');
    if (!path.startsWith(folder))
        return false;
    return path.size() == folder.size() || path.at(folder.size()) == '/';
}

bool isWithin(QStringView folder, QStringView path, Qt::CaseSensitivity cs)
{
    if (folder == u"/")
        return path.startsWith(u'/');
    if (!path.startsWith(folder, cs))
        return false;
    return path.size() == folder.size() || path.at(folder.size()) == u'/';
}

bool isFolder(const QByteArray &path)
{
    struct stat st;
    return !path.isEmpty() && !path.contains('\0') && ::stat(path.constData(), &st) == 0 &&
           S_ISDIR(st.st_mode);
}

QByteArray join(const QByteArray &folder, const QByteArray &name)
{
    if (name.isEmpty())
        return folder;
    // One allocation: a walk joins a path for every folder it enters.
    const bool slash = !folder.endsWith('/');
    QByteArray path;
    path.reserve(folder.size() + (slash ? 1 : 0) + name.size());
    path.append(folder.constData(), folder.size());
    if (slash)
        path.append('/');
    path.append(name.constData(), name.size());
    return path;
}

QByteArray baseName(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0)
        return path;
    if (slash == path.size() - 1)
        return path == "/" ? path : baseName(path.chopped(1));
    return path.mid(slash + 1);
}

QByteArray parentPath(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0)
        return QByteArray(".");
    if (slash == 0)
        return QByteArray("/");
    return path.left(slash);
}

QString decodeName(const char *name, qsizetype size)
{
    // Only a leading byte-order mark is dropped by the plain decoder; a
    // name that does not start with one decodes the same either way, and
    // the plain decoder costs a fraction of a decoder of its own.
    if (size < 3 || static_cast<unsigned char>(name[0]) != 0xEF ||
        static_cast<unsigned char>(name[1]) != 0xBB || static_cast<unsigned char>(name[2]) != 0xBF)
        return QString::fromUtf8(name, size);
    QStringDecoder decoder(QStringDecoder::Utf8,
                           QStringDecoder::Flag::ConvertInitialBom | QStringDecoder::Flag::Stateless);
    return decoder.decode(QByteArrayView(name, size));
}

std::optional<QByteArray> findEntryNoCase(const QByteArray &folder, const QString &foldedName)
{
    DirHandle dir = openFolder(folder);
    if (!dir)
        return std::nullopt;
    // Plain ASCII names fold by lowering their letters and are compared as
    // they are; only the others are decoded and folded (some of those fold
    // to ASCII: the Kelvin sign to k).
    bool wantedAscii = true;
    for (const QChar c : foldedName)
        wantedAscii = wantedAscii && c.unicode() < 0x80;
    while (const dirent *entry = ::readdir(dir.get())) {
        const char *name = entry->d_name;
        qsizetype length = 0;
        bool ascii = true;
        for (; name[length] != '\0'; ++length)
            ascii = ascii && static_cast<unsigned char>(name[length]) < 0x80;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
            continue;
        if (ascii) {
            if (!wantedAscii || length != foldedName.size())
                continue;
            qsizetype i = 0;
            while (i < length) {
                if (AsciiCase::lower(name[i]) != char(foldedName.at(i).unicode()))
                    break;
                ++i;
            }
            if (i == length)
                return QByteArray(name, length);
            continue;
        }
        if (!QByteArrayView(name, length).isValidUtf8())
            continue;
        if (decodeName(name, length).toCaseFolded() == foldedName)
            return QByteArray(name, length);
    }
    return std::nullopt;
}

QString shownPath(const QByteArray &bytes)
{
    QString shown;
    qsizetype at = 0;
    while (at < bytes.size()) {
        const auto lead = quint8(bytes.at(at));
        const qsizetype length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
        const bool control = lead < 0x20 || lead == 0x7F;
        if (!control && length > 0 && at + length <= bytes.size() &&
            QByteArrayView(bytes).sliced(at, length).isValidUtf8()) {
            shown += QString::fromUtf8(bytes.constData() + at, length);
            at += length;
        } else {
            shown += QStringLiteral("\\x") +
                     QString::number(lead, 16).toUpper().rightJustified(2, QLatin1Char('0'));
            ++at;
        }
    }
    return shown;
}

std::optional<QByteArray> readUpTo(int fd, qint64 maxBytes, qint64 sizeHint, int *error)
{
    // One byte more than allowed tells the caller the file is too large.
    QByteArray bytes(std::clamp<qint64>(sizeHint + 1, 1, maxBytes + 1), Qt::Uninitialized);
    qsizetype got = 0;
    for (;;) {
        if (got == bytes.size()) {
            if (bytes.size() > maxBytes)
                break;
            bytes.resize(std::min<qsizetype>(bytes.size() * 2, maxBytes + 1));
        }
        const ssize_t n = ::read(fd, bytes.data() + got, size_t(bytes.size() - got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            if (error)
                *error = errno;
            return std::nullopt;
        }
        if (n == 0)
            break;
        got += n;
    }
    bytes.truncate(got);
    return bytes;
}

std::optional<QByteArray> readSmallFile(const QByteArray &path, qint64 maxBytes)
{
    UniqueFd fd(::open(path.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat st;
    if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > maxBytes)
        return std::nullopt;
    std::optional<QByteArray> bytes = readUpTo(fd.get(), maxBytes, st.st_size);
    if (bytes && bytes->size() > maxBytes)
        return std::nullopt;
    return bytes;
}

} // namespace posix
