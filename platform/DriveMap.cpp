#include "platform/DriveMap.h"

#include "platform/AsciiCase.h"
#include "platform/MountTable.h"
#include "platform/PosixPath.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QMap>
#include <QSet>

#include <cstring>
#include <sys/stat.h>

namespace {

int indexOf(QChar letter)
{
    const char16_t c = AsciiCase::upper(letter);
    return (c >= u'A' && c <= u'Z') ? c - u'A' : -1;
}

// Mount points that belong to the system rather than to a drive a user
// would name. Removable media under /run/media are drives all the same.
bool isSystemMountPoint(const QByteArray &mountPoint)
{
    if (posix::isWithin("/run/media", mountPoint) && mountPoint != "/run/media")
        return false;
    static const char *const system[] = {"/boot", "/efi", "/proc", "/sys", "/dev", "/run",
                                         "/snap", "/usr", "/var",  "/nix", "/gnu"};
    for (const char *folder : system) {
        if (posix::isWithin(folder, mountPoint))
            return true;
    }
    return false;
}

bool isUnderMediaFolder(const QByteArray &mountPoint)
{
    return posix::isWithin("/media", mountPoint) || posix::isWithin("/run/media", mountPoint) ||
           posix::isWithin("/mnt", mountPoint);
}

// Removable media, network shares, optical discs, other disks and the
// folders a virtual machine shares from its host.
bool isDriveLike(const MountEntry &mount)
{
    if (MountTable::isNetworkFileSystem(mount.fsType))
        return true;
    static const QSet<QByteArray> shared = {"iso9660", "udf", "drvfs", "virtiofs", "vboxsf"};
    if (shared.contains(mount.fsType))
        return true;
    // Package images (snaps, live systems) are loop-mounted squashfs.
    if (mount.fsType == "squashfs")
        return false;
    if (mount.source.startsWith("/dev/"))
        return true;
    return (mount.fsType == "fuseblk" || mount.fsType.startsWith("fuse.")) &&
           isUnderMediaFolder(mount.mountPoint);
}

// A Windows installation: Windows/System32 at the root, in any case.
bool holdsWindows(const QByteArray &mountPoint)
{
    const std::optional<QByteArray> windows = posix::findEntryNoCase(mountPoint, QStringLiteral("windows"));
    if (!windows)
        return false;
    const QByteArray windowsPath = posix::join(mountPoint, *windows);
    const std::optional<QByteArray> system32 =
        posix::findEntryNoCase(windowsPath, QStringLiteral("system32"));
    return system32 && posix::isFolder(posix::join(windowsPath, *system32));
}

} // namespace

std::optional<DriveMap> DriveMap::fromPrefix(const QByteArray &prefix)
{
    const QByteArray devices = posix::join(prefix, "dosdevices");
    posix::DirHandle dir = posix::openFolder(devices);
    if (!dir)
        return std::nullopt;
    DriveMap map;
    map.m_prefix = posix::canonicalPath(prefix);
    while (const dirent *entry = ::readdir(dir.get())) {
        const char *name = entry->d_name;
        if (std::strlen(name) != 2 || name[1] != ':')
            continue;
        const QChar letter = QLatin1Char(name[0]);
        if (indexOf(letter) < 0)
            continue;
        const std::optional<QByteArray> folder = posix::realPath(posix::join(devices, name));
        if (folder && posix::isFolder(*folder))
            map.insert(letter, *folder);
    }
    return map;
}

DriveMap DriveMap::fromMounts(const MountTable &mounts)
{
    DriveMap map;
    map.insert(QLatin1Char('z'), "/");

    // In mount point order; of several mounts on one point the last is the
    // one visible there.
    QMap<QByteArray, const MountEntry *> visible;
    for (const MountEntry &entry : mounts.entries())
        visible.insert(entry.mountPoint, &entry);

    // A file system already reachable under a letter is not a drive again
    // (bind mounts, further subvolumes of one file system).
    QSet<quint64> seen;
    if (const auto root = visible.constFind("/"); root != visible.cend())
        seen.insert(quint64(root.value()->device));

    for (const MountEntry *mount : std::as_const(visible)) {
        if (MountTable::isPseudoFileSystem(mount->fsType) || isSystemMountPoint(mount->mountPoint) ||
            MountTable::isNetworkFileSystem(mount->fsType))
            continue;
        if (mount->mountPoint != "/" && !isDriveLike(*mount))
            continue;
        if (holdsWindows(mount->mountPoint)) {
            map.insert(QLatin1Char('c'), mount->mountPoint);
            seen.insert(quint64(mount->device));
            break;
        }
    }

    QList<const MountEntry *> drives;
    for (const MountEntry *mount : std::as_const(visible)) {
        if (mount->mountPoint != "/" && !MountTable::isPseudoFileSystem(mount->fsType) &&
            !isSystemMountPoint(mount->mountPoint) && isDriveLike(*mount))
            drives.append(mount);
    }
    // Of several mounts of one file system the one showing its whole root
    // stands for it, else the first.
    QHash<quint64, const MountEntry *> standing;
    for (const MountEntry *mount : std::as_const(drives)) {
        const MountEntry *&chosen = standing[quint64(mount->device)];
        if (!chosen || (chosen->root != "/" && mount->root == "/"))
            chosen = mount;
    }
    char next = 'd';
    for (const MountEntry *mount : std::as_const(drives)) {
        if (next > 'y')
            break;
        if (seen.contains(quint64(mount->device)) || standing.value(quint64(mount->device)) != mount)
            continue;
        seen.insert(quint64(mount->device));
        map.insert(QLatin1Char(next++), mount->mountPoint);
    }
    return map;
}

DriveMap DriveMap::load(const MountSource &mounts)
{
    QByteArray prefix = qgetenv("WINEPREFIX");
    if (prefix.isEmpty())
        prefix = posix::join(QFile::encodeName(QDir::homePath()), ".wine");
    if (posix::isFolder(posix::join(prefix, "dosdevices"))) {
        if (std::optional<DriveMap> map = fromPrefix(prefix))
            return *map;
    }
    return fromMounts(*mounts.table());
}

void DriveMap::insert(QChar letter, const QByteArray &folder)
{
    const int index = indexOf(letter);
    if (index < 0 || folder.isEmpty())
        return;
    m_folders[index] = posix::canonicalPath(folder);
}

std::optional<QByteArray> DriveMap::folder(QChar letter) const
{
    const int index = indexOf(letter);
    if (index < 0 || m_folders[index].isEmpty())
        return std::nullopt;
    return m_folders[index];
}

QList<QChar> DriveMap::letters() const
{
    QList<QChar> result;
    for (int i = 0; i < 26; ++i) {
        if (!m_folders[i].isEmpty())
            result.append(QLatin1Char(char('a' + i)));
    }
    return result;
}

bool DriveMap::isEmpty() const
{
    for (const QByteArray &folder : m_folders) {
        if (!folder.isEmpty())
            return false;
    }
    return true;
}

std::optional<DriveMap::Placement> DriveMap::place(const QByteArray &posixPath) const
{
    if (posixPath.isEmpty())
        return std::nullopt;
    // Longest folder holding path; the first letter on ties.
    const auto bestFor = [this](const QByteArray &path) {
        int best = -1;
        for (int i = 0; i < 26; ++i) {
            const QByteArray &folder = m_folders[i];
            if (folder.isEmpty() || !posix::isWithin(folder, path))
                continue;
            if (best < 0 || folder.size() > m_folders[best].size())
                best = i;
        }
        return best;
    };
    const QByteArray written = posix::cleanPath(posixPath);
    const QByteArray canonical = posix::canonicalPath(posixPath);
    const int byWritten = bestFor(written);
    const int byCanonical = bestFor(canonical);
    if (byWritten < 0 && byCanonical < 0)
        return std::nullopt;
    if (byCanonical < 0 || (byWritten >= 0 && m_folders[byWritten].size() >= m_folders[byCanonical].size()))
        return Placement{QLatin1Char(char('a' + byWritten)), written};
    return Placement{QLatin1Char(char('a' + byCanonical)), canonical};
}

QChar DriveMap::driveOf(const QByteArray &posixPath) const
{
    const std::optional<Placement> placement = place(posixPath);
    return placement ? placement->letter : QChar();
}
