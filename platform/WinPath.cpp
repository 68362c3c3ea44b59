#include "platform/WinPath.h"

#include "platform/MountTable.h"
#include "platform/PosixPath.h"
#include "platform/WinTypes.h"

#include <QByteArrayView>
#include <QStringList>

#include <cerrno>

#include <sys/stat.h>

namespace WinPath {

namespace {

bool isSeparator(QChar c)
{
    return c == QLatin1Char('\\') || c == QLatin1Char('/');
}

bool isAsciiLetter(QChar c)
{
    return (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
           (c >= QLatin1Char('A') && c <= QLatin1Char('Z'));
}

QStringList components(QStringView rest)
{
    QStringList result;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= rest.size(); ++i) {
        if (i == rest.size() || isSeparator(rest.at(i))) {
            if (i > start)
                result.append(rest.mid(start, i - start).toString());
            start = i + 1;
        }
    }
    return result;
}

bool exists(const QByteArray &path)
{
    struct stat st;
    return ::lstat(path.constData(), &st) == 0;
}

std::optional<QByteArray> fail(quint32 *error, quint32 code)
{
    if (error)
        *error = code;
    return std::nullopt;
}

// The components below a folder: "." and ".." textually (never above the
// folder), then each component exactly or, failing that, without regard to
// case; from the first one that is missing on, as written. Without `probe`,
// nothing is looked at: every component as written.
std::optional<QByteArray> resolveBelow(const QByteArray &base, const QStringList &parts, quint32 *error,
                                       bool probe)
{
    QList<QByteArray> names;
    QStringList written;
    for (const QString &part : parts) {
        if (part == QLatin1String("."))
            continue;
        if (part == QLatin1String("..")) {
            if (!names.isEmpty()) {
                names.removeLast();
                written.removeLast();
            }
            continue;
        }
        if (!QStringView(part).isValidUtf16())
            return fail(error, win::ERROR_INVALID_NAME);
        const QByteArray bytes = part.toUtf8();
        if (!isRepresentable(bytes))
            return fail(error, win::ERROR_INVALID_NAME);
        names.append(bytes);
        written.append(part);
    }
    if (error)
        *error = win::ERROR_SUCCESS;
    if (names.isEmpty())
        return base;

    // Most paths exist as written: one check for the whole path, built in
    // one piece.
    qsizetype length = base.size();
    for (const QByteArray &name : std::as_const(names))
        length += 1 + name.size();
    QByteArray exact;
    exact.reserve(length);
    exact.append(base.constData(), base.size());
    for (const QByteArray &name : std::as_const(names)) {
        if (name.isEmpty())
            continue;
        if (!exact.endsWith('/'))
            exact.append('/');
        exact.append(name.constData(), name.size());
    }
    if (!probe || exists(exact))
        return exact;

    QByteArray current = base;
    bool lookUp = true;
    for (qsizetype i = 0; i < names.size(); ++i) {
        const QByteArray candidate = posix::join(current, names.at(i));
        if (lookUp) {
            if (exists(candidate)) {
                current = candidate;
                continue;
            }
            if (errno == ENOENT) {
                if (std::optional<QByteArray> found =
                        posix::findEntryNoCase(current, written.at(i).toCaseFolded())) {
                    current = posix::join(current, *found);
                    continue;
                }
            }
            lookUp = false;
        }
        current = candidate;
    }
    return current;
}

bool sameFolded(const QString &a, const QString &b)
{
    return a.toCaseFolded() == b.toCaseFolded();
}

// A UNC path: the mounted network share whose source ("//server/share",
// possibly with folders) is the longest match of its leading components.
// The table is taken from `source` only when none is given: only UNC paths
// need one.
std::optional<QByteArray> resolveUnc(const QStringList &parts, const DriveMap &map, const MountTable *mounts,
                                     const MountSource *source, quint32 *error, bool lookUp)
{
    if (parts.size() < 2 || parts.at(0) == QLatin1String(".") || parts.at(0) == QLatin1String("?"))
        return fail(error, win::ERROR_INVALID_NAME);
    std::shared_ptr<const MountTable> asked;
    if (!mounts) {
        if (!source)
            return fail(error, win::ERROR_PATH_NOT_FOUND);
        asked = source->table();
        mounts = asked.get();
    }
    const QList<QChar> letters = map.letters();
    const MountEntry *best = nullptr;
    qsizetype bestLength = 0;
    for (const MountEntry &mount : mounts->entries()) {
        if (!mount.source.startsWith("//") || !QByteArrayView(mount.source).isValidUtf8())
            continue;
        QStringList remote =
            QString::fromUtf8(mount.source.mid(2)).split(QLatin1Char('/'), Qt::SkipEmptyParts);
        if (mount.root != "/")
            remote += QString::fromUtf8(mount.root).split(QLatin1Char('/'), Qt::SkipEmptyParts);
        if (remote.size() < 2 || remote.size() > parts.size() || remote.size() < bestLength)
            continue;
        bool matches = true;
        for (qsizetype i = 0; i < remote.size() && matches; ++i)
            matches = sameFolded(remote.at(i), parts.at(i));
        if (!matches)
            continue;
        bool inMap = false;
        for (QChar letter : letters)
            inMap = inMap || posix::isWithin(*map.folder(letter), mount.mountPoint);
        if (!inMap)
            continue;
        best = &mount;
        bestLength = remote.size();
    }
    if (!best)
        return fail(error, win::ERROR_PATH_NOT_FOUND);
    return resolveBelow(best->mountPoint, parts.mid(bestLength), error, lookUp);
}

std::optional<QByteArray> translate(const QString &winPath, const DriveMap &map, const MountTable *mounts,
                                    const MountSource *source, quint32 *error, bool lookUp = true)
{
    QStringView path(winPath);
    const auto startsWithTwoSeparators = [](QStringView p) {
        return p.size() >= 2 && isSeparator(p.at(0)) && isSeparator(p.at(1));
    };
    if (startsWithTwoSeparators(path) && path.size() >= 4 && path.at(2) == QLatin1Char('?') &&
        isSeparator(path.at(3))) {
        // "\\?\c:\..." and "\\?\UNC\server\share\...".
        path = path.mid(4);
        if (path.size() >= 4 && path.left(3).compare(QLatin1String("UNC"), Qt::CaseInsensitive) == 0 &&
            isSeparator(path.at(3)))
            return resolveUnc(components(path.mid(4)), map, mounts, source, error, lookUp);
    } else if (startsWithTwoSeparators(path)) {
        return resolveUnc(components(path.mid(2)), map, mounts, source, error, lookUp);
    }

    if (path.size() >= 2 && path.at(1) == QLatin1Char(':') && isAsciiLetter(path.at(0))) {
        if (path.size() > 2 && !isSeparator(path.at(2)))
            return fail(error, win::ERROR_INVALID_NAME); // drive-relative
        const std::optional<QByteArray> folder = map.folder(path.at(0));
        if (!folder)
            return fail(error, win::ERROR_PATH_NOT_FOUND);
        return resolveBelow(*folder, components(path.mid(2)), error, lookUp);
    }
    return fail(error, win::ERROR_PATH_NOT_FOUND);
}

} // namespace

std::optional<QByteArray> toPosix(const QString &winPath, const DriveMap &map, const MountTable &mounts,
                                  quint32 *error)
{
    return translate(winPath, map, &mounts, nullptr, error);
}

std::optional<QByteArray> toPosix(const QString &winPath, const DriveContext &drives, quint32 *error)
{
    const std::shared_ptr<const DriveMap> map = drives.map();
    return translate(winPath, *map, nullptr, drives.mountSource().get(), error);
}

std::optional<QByteArray> toPosixAsWritten(const QString &winPath, const DriveMap &map,
                                           const MountTable &mounts)
{
    return translate(winPath, map, &mounts, nullptr, nullptr, false);
}

std::optional<QByteArray> toPosixAsWritten(const QString &winPath, const DriveContext &drives)
{
    const std::shared_ptr<const DriveMap> map = drives.map();
    return translate(winPath, *map, nullptr, drives.mountSource().get(), nullptr, false);
}

std::optional<QString> toWindows(const QByteArray &posixPath, const DriveContext &drives)
{
    return toWindows(posixPath, *drives.map());
}

std::optional<QString> toWindows(const QByteArray &posixPath, const DriveMap &map)
{
    const std::optional<DriveMap::Placement> placement = map.place(posixPath);
    if (!placement)
        return std::nullopt;
    const QByteArray folder = *map.folder(placement->letter);
    QString result = driveRoot(placement->letter);
    bool first = true;
    for (const QByteArray &name : placement->path.mid(folder.size()).split('/')) {
        if (name.isEmpty())
            continue;
        if (!isRepresentable(name))
            return std::nullopt;
        if (!first)
            result += QLatin1Char('\\');
        result += posix::decodeName(name.constData(), name.size());
        first = false;
    }
    return result;
}

bool isRepresentable(const QByteArray &name)
{
    if (name.isEmpty())
        return false;
    bool ascii = true;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F || c == '\\' || c == ':')
            return false;
        ascii = ascii && byte < 0x80;
    }
    return ascii || QByteArrayView(name).isValidUtf8();
}

QString driveRoot(QChar letter)
{
    return QString(letter.toLower()) + QStringLiteral(":\\");
}

} // namespace WinPath
