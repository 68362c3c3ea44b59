#include "platform/VolumeServices.h"

#include "platform/AsciiCase.h"
#include "platform/BoundedCall.h"
#include "platform/PosixPath.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <chrono>
#include <memory>

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>

namespace {

// Folders with a call that outlived its time limit and is still blocked in
// the kernel.
std::shared_ptr<BoundedCall::HungPlaces> hungCalls()
{
    static const auto instance = std::make_shared<BoundedCall::HungPlaces>();
    return instance;
}

// Runs call() on a worker thread and waits for it at most `timeout`.
// Nothing when it does not finish in time (the worker is left to finish on
// its own and marks the folder free again when it does), when an earlier call
// on the same folder still hangs, or when no thread can be started.
template <typename Result>
std::optional<Result> runBounded(const QByteArray &folder, std::chrono::milliseconds timeout,
                                 std::function<Result()> call)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    return BoundedCall::run<Result>(hungCalls(), folder, std::move(call),
                                    [deadline] { return std::chrono::steady_clock::now() < deadline; });
}

std::optional<DiskSpace> statFsOf(const QByteArray &folder)
{
    struct statvfs info = {};
    if (::statvfs(folder.constData(), &info) != 0)
        return std::nullopt;
    const quint64 unit = info.f_frsize != 0 ? info.f_frsize : info.f_bsize;
    DiskSpace space;
    space.freeBytesAvailable = quint64(info.f_bavail) * unit;
    space.totalBytes = quint64(info.f_blocks) * unit;
    space.totalFreeBytes = quint64(info.f_bfree) * unit;
    return space;
}

// A device path of the mount table ("/dev/sdb1") inside the given /dev root.
QString devicePath(const QByteArray &source, const QByteArray &devRoot)
{
    return QFile::decodeName(devRoot + source.mid(4));
}

// udev writes unsafe characters of a label as \xHH.
QString decodeUdevName(const QByteArray &name)
{
    QByteArray bytes;
    bytes.reserve(name.size());
    for (qsizetype i = 0; i < name.size(); ++i) {
        if (name[i] == '\\' && i + 3 < name.size() && name[i + 1] == 'x') {
            bool ok = false;
            const int value = name.mid(i + 2, 2).toInt(&ok, 16);
            if (ok) {
                bytes.append(char(value));
                i += 3;
                continue;
            }
        }
        bytes.append(name[i]);
    }
    return QString::fromUtf8(bytes);
}

} // namespace

std::optional<QChar> VolumeServices::letterOfRoot(const QString &rootPath)
{
    if (rootPath.size() < 2 || rootPath.size() > 3 || rootPath[1] != QLatin1Char(':'))
        return std::nullopt;
    if (rootPath.size() == 3 && rootPath[2] != QLatin1Char('\\') && rootPath[2] != QLatin1Char('/'))
        return std::nullopt;
    const char16_t c = rootPath[0].unicode();
    if ((c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'))
        return AsciiCase::lower(rootPath[0]);
    return std::nullopt;
}

struct SystemVolumeServices::Drive
{
    QByteArray folder;
    std::optional<MountEntry> mount;
};

namespace {

SystemVolumeServices::Config configOver(std::shared_ptr<const DriveContext> drives)
{
    SystemVolumeServices::Config config;
    config.drives = std::move(drives);
    return config;
}

} // namespace

SystemVolumeServices::SystemVolumeServices(std::shared_ptr<const DriveContext> drives)
    : SystemVolumeServices(configOver(std::move(drives)))
{}

SystemVolumeServices::SystemVolumeServices(Config config) : m_config(std::move(config))
{
    if (!m_config.statFs)
        m_config.statFs = statFsOf;
}

std::optional<SystemVolumeServices::Drive> SystemVolumeServices::drive(const QString &rootPath) const
{
    const std::optional<QChar> letter = letterOfRoot(rootPath);
    if (!letter)
        return std::nullopt;
    const std::optional<QByteArray> folder = m_config.drives->map()->folder(*letter);
    if (!folder)
        return std::nullopt;

    Drive result;
    result.folder = *folder;
    if (const MountEntry *mount = m_config.drives->mounts()->mountOf(*folder))
        result.mount = *mount;
    return result;
}

std::optional<bool> SystemVolumeServices::folderExists(const Drive &drive) const
{
    const QByteArray folder = drive.folder;
    return runBounded<bool>(folder, m_config.timeout, [folder] { return posix::isFolder(folder); });
}

quint32 SystemVolumeServices::logicalDrives() const
{
    quint32 mask = 0;
    for (QChar letter : m_config.drives->map()->letters()) {
        const int bit = letter.unicode() - u'a';
        if (bit >= 0 && bit < 26)
            mask |= quint32(1) << bit;
    }
    return mask;
}

quint32 SystemVolumeServices::driveType(const QString &rootPath) const
{
    const std::optional<Drive> found = drive(rootPath);
    if (!found)
        return win::DRIVE_NO_ROOT_DIR;
    const std::optional<bool> exists = folderExists(*found);
    if (exists && !*exists)
        return win::DRIVE_NO_ROOT_DIR;
    if (!found->mount)
        return exists ? win::DRIVE_FIXED : win::DRIVE_UNKNOWN;
    // When the folder did not answer in time the mount still tells what the
    // drive is; the disk check will then find no disk in it.
    return driveTypeOfMount(*found->mount, m_config.sysRoot, m_config.devRoot);
}

std::optional<QString> SystemVolumeServices::volumeLabel(const QString &rootPath) const
{
    const std::optional<Drive> found = drive(rootPath);
    if (!found)
        return std::nullopt;
    const std::optional<bool> exists = folderExists(*found);
    if (!exists || !*exists)
        return std::nullopt;
    if (!found->mount || MountTable::isNetworkFileSystem(found->mount->fsType))
        return QString();
    return labelOfMount(*found->mount, m_config.devRoot);
}

std::optional<QString> SystemVolumeServices::networkName(const QString &localName) const
{
    const std::optional<Drive> found = drive(localName);
    if (!found || !found->mount)
        return std::nullopt;
    return networkNameOfMount(*found->mount, found->folder);
}

std::optional<DiskSpace> SystemVolumeServices::diskFreeSpace(const QString &rootPath) const
{
    const std::optional<Drive> found = drive(rootPath);
    if (!found)
        return std::nullopt;
    const QByteArray folder = found->folder;
    const auto statFs = m_config.statFs;
    const std::optional<std::optional<DiskSpace>> space = runBounded<std::optional<DiskSpace>>(
        folder, m_config.timeout, [statFs, folder] { return statFs(folder); });
    if (!space)
        return std::nullopt;
    return *space;
}

quint32 driveTypeOfMount(const MountEntry &mount, const QByteArray &sysRoot, const QByteArray &devRoot)
{
    const QByteArray &type = mount.fsType;
    if (MountTable::isNetworkFileSystem(type))
        return win::DRIVE_REMOTE;
    if (type == "iso9660" || type == "udf")
        return win::DRIVE_CDROM;
    if (type == "tmpfs" || type == "ramfs")
        return win::DRIVE_RAMDISK;
    if (posix::isWithin("/media", mount.mountPoint) || posix::isWithin("/run/media", mount.mountPoint) ||
        isRemovableBlockDevice(mount, sysRoot, devRoot))
        return win::DRIVE_REMOVABLE;
    return win::DRIVE_FIXED;
}

bool isRemovableBlockDevice(const MountEntry &mount, const QByteArray &sysRoot, const QByteArray &devRoot)
{
    // The device numbers lead to the device's folder in sysfs; file systems
    // with anonymous device numbers (btrfs, for one) are found by the name of
    // their source device instead.
    QString folder;
    if (major(mount.device) != 0) {
        const QString byNumber =
            QFile::decodeName(sysRoot) +
            QStringLiteral("/dev/block/%1:%2").arg(major(mount.device)).arg(minor(mount.device));
        folder = QFileInfo(byNumber).canonicalFilePath();
    }
    if (folder.isEmpty() && mount.source.startsWith("/dev/")) {
        QString device = QFileInfo(devicePath(mount.source, devRoot)).canonicalFilePath();
        if (device.isEmpty())
            device = QFile::decodeName(mount.source);
        const QString name = QFileInfo(device).fileName();
        if (!name.isEmpty())
            folder = QFileInfo(QFile::decodeName(sysRoot) + QStringLiteral("/class/block/") + name)
                         .canonicalFilePath();
    }
    if (folder.isEmpty())
        return false;
    // A partition's folder lies inside its disk's folder.
    if (QFileInfo::exists(folder + QStringLiteral("/partition")))
        folder = QFileInfo(folder).path();
    QFile removable(folder + QStringLiteral("/removable"));
    if (!removable.open(QIODevice::ReadOnly))
        return false;
    return removable.read(16).trimmed() == "1";
}

QString labelOfMount(const MountEntry &mount, const QByteArray &devRoot)
{
    if (!mount.source.startsWith("/dev/"))
        return QString();
    const QString device = QFileInfo(devicePath(mount.source, devRoot)).canonicalFilePath();
    if (device.isEmpty())
        return QString();
    const QDir labels(QFile::decodeName(devRoot) + QStringLiteral("/disk/by-label"));
    const QFileInfoList entries =
        labels.entryInfoList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QFileInfo &entry : entries) {
        if (entry.canonicalFilePath() == device)
            return decodeUdevName(QFile::encodeName(entry.fileName()));
    }
    return QString();
}

std::optional<QString> networkNameOfMount(const MountEntry &mount, const QByteArray &folder)
{
    if (!MountTable::isNetworkFileSystem(mount.fsType))
        return std::nullopt;

    // server and path of the share
    QByteArray share;
    const QByteArray &source = mount.source;
    if (source.startsWith("//")) {
        share = source.mid(2);
    } else {
        // host:/path, user@host:path, [v6 address]:/path
        qsizetype colon = -1;
        if (source.startsWith('[')) {
            const qsizetype close = source.indexOf(']');
            if (close > 0 && close + 1 < source.size() && source[close + 1] == ':')
                colon = close + 1;
        } else {
            colon = source.indexOf(':');
        }
        if (colon <= 0)
            return std::nullopt;
        QByteArray host = source.left(colon);
        host = host.mid(host.lastIndexOf('@') + 1);
        if (host.isEmpty())
            return std::nullopt;
        share = host + '/' + source.mid(colon + 1);
    }
    if (mount.root.size() > 1)
        share += '/' + mount.root;
    if (mount.mountPoint == "/")
        share += folder;
    else if (posix::isWithin(mount.mountPoint, folder))
        share += folder.mid(mount.mountPoint.size());

    const QList<QByteArray> parts = share.split('/');
    QStringList kept;
    for (const QByteArray &part : parts) {
        if (!part.isEmpty())
            kept.append(QString::fromUtf8(part));
    }
    if (kept.isEmpty() || kept.front().isEmpty())
        return std::nullopt;
    return QStringLiteral("\\\\") + kept.join(QLatin1Char('\\'));
}
