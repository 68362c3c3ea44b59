#include "platform/PosixPath.h"

#include <QList>
#include <QStringDecoder>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
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

bool isValidUtf8(const char *data, qsizetype size)
{
    const auto *bytes = reinterpret_cast<const unsigned char *>(data);
    qsizetype i = 0;
    while (i < size) {
        const unsigned char lead = bytes[i];
        if (lead < 0x80) {
            ++i;
            continue;
        }
        int extra = 0;
        char32_t code = 0;
        char32_t minimum = 0;
        if (lead >= 0xC2 && lead <= 0xDF) {
            extra = 1;
            code = lead & 0x1F;
            minimum = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            extra = 2;
            code = lead & 0x0F;
            minimum = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            extra = 3;
            code = lead & 0x07;
            minimum = 0x10000;
        } else {
            return false;
        }
        if (size - i <= extra)
            return false;
        for (int k = 1; k <= extra; ++k) {
            const unsigned char next = bytes[i + k];
            if ((next & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (next & 0x3F);
        }
        if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
        i += extra + 1;
    }
    return true;
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
                const char c = name[i];
                const char lower = (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
                if (lower != char(foldedName.at(i).unicode()))
                    break;
                ++i;
            }
            if (i == length)
                return QByteArray(name, length);
            continue;
        }
        if (!isValidUtf8(name, length))
            continue;
        if (decodeName(name, length).toCaseFolded() == foldedName)
            return QByteArray(name, length);
    }
    return std::nullopt;
}

} // namespace posix
