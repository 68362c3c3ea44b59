#include "platform/WinPath.h"

#include "platform/MountTable.h"
#include "platform/PosixPath.h"
#include "platform/WinTypes.h"
#include "winpath/WinPathText.h"

#include <QByteArrayView>
#include <QStringList>

#include <cerrno>

#include <sys/stat.h>

namespace WinPath {

namespace {

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

// The entry of `folder` that a name written in a Windows path stands for,
// once the name is not there exactly as written: the name as Windows uses
// it (trailing dots and spaces dropped), then either of the two without
// regard to case. Nothing when none is there; errno tells why the last look
// failed.
std::optional<QByteArray> findEntry(const QByteArray &folder, const QString &written,
                                    const QString &normalized)
{
    const bool trimmed = normalized != written;
    if (trimmed) {
        const QByteArray name = normalized.toUtf8();
        if (exists(posix::join(folder, name)))
            return name;
        if (errno != ENOENT)
            return std::nullopt;
    }
    if (std::optional<QByteArray> found = posix::findEntryNoCase(folder, WinPathText::foldedName(written)))
        return found;
    if (trimmed)
        return posix::findEntryNoCase(folder, WinPathText::foldedName(normalized));
    return std::nullopt;
}

// The names below a folder ("." and ".." already applied): each exactly as
// written or, failing that, as findEntry finds it; from the first one that
// is missing on, as Windows uses them. Without `probe`, nothing is looked
// at: every name as written.
std::optional<QByteArray> resolveBelow(const QByteArray &base, const QStringList &written, quint32 *error,
                                       bool probe)
{
    QList<QByteArray> names;
    names.reserve(written.size());
    for (const QString &name : written) {
        if (!QStringView(name).isValidUtf16())
            return fail(error, win::ERROR_INVALID_NAME);
        const QByteArray bytes = name.toUtf8();
        if (!isRepresentable(bytes))
            return fail(error, win::ERROR_INVALID_NAME);
        names.append(bytes);
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
        if (!exact.endsWith('/'))
            exact.append('/');
        exact.append(name.constData(), name.size());
    }
    if (!probe || exists(exact))
        return exact;

    QByteArray current = base;
    bool lookUp = true;
    for (qsizetype i = 0; i < names.size(); ++i) {
        const QString normalized = WinPathText::normalizedName(written.at(i));
        if (lookUp) {
            const QByteArray candidate = posix::join(current, names.at(i));
            if (exists(candidate)) {
                current = candidate;
                continue;
            }
            if (errno == ENOENT) {
                if (std::optional<QByteArray> found = findEntry(current, written.at(i), normalized)) {
                    current = posix::join(current, *found);
                    continue;
                }
            }
            lookUp = false;
        }
        current = posix::join(current, normalized.toUtf8());
    }
    return current;
}

// A UNC path: the mounted network share whose source ("//server/share",
// possibly with folders) is the longest match of its leading names. The
// table is taken from `source` only when none is given: only UNC paths need
// one.
std::optional<QByteArray> resolveUnc(const WinPathText::Parts &parts, const DriveMap &map,
                                     const MountTable *mounts, const MountSource *source, quint32 *error,
                                     bool lookUp)
{
    const QStringList names = parts.root.mid(2).split(QLatin1Char('\\')) + parts.names;
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
        if (remote.size() < 2 || remote.size() > names.size() || remote.size() < bestLength)
            continue;
        bool matches = true;
        for (qsizetype i = 0; i < remote.size() && matches; ++i)
            matches = WinPathText::sameName(remote.at(i), names.at(i));
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
    return resolveBelow(best->mountPoint, names.mid(bestLength), error, lookUp);
}

std::optional<QByteArray> translate(const QString &winPath, const DriveMap &map, const MountTable *mounts,
                                    const MountSource *source, quint32 *error, bool lookUp = true)
{
    const std::optional<WinPathText::Parts> parts = WinPathText::split(winPath);
    if (!parts) {
        // A device path, a server without a share or a drive-relative path
        // is malformed here; any other path without a root names nothing.
        const bool twoSeparators = winPath.size() >= 2 && WinPathText::isSeparator(winPath.at(0)) &&
                                   WinPathText::isSeparator(winPath.at(1));
        const bool driveRelative = WinPathText::drivePart(winPath).size() == 2;
        return fail(error,
                    twoSeparators || driveRelative ? win::ERROR_INVALID_NAME : win::ERROR_PATH_NOT_FOUND);
    }
    if (parts->isUnc())
        return resolveUnc(*parts, map, mounts, source, error, lookUp);
    const std::optional<QByteArray> folder = map.folder(parts->root.at(0));
    if (!folder)
        return fail(error, win::ERROR_PATH_NOT_FOUND);
    return resolveBelow(*folder, parts->names, error, lookUp);
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
