#pragma once

#include "platform/DriveContext.h"
#include "platform/DriveMap.h"
#include "platform/MountTable.h"

#include <QByteArray>
#include <QChar>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace win {

// Drive types as GetDriveTypeW reports them.
constexpr quint32 DRIVE_UNKNOWN = 0;
constexpr quint32 DRIVE_NO_ROOT_DIR = 1;
constexpr quint32 DRIVE_REMOVABLE = 2;
constexpr quint32 DRIVE_FIXED = 3;
constexpr quint32 DRIVE_REMOTE = 4;
constexpr quint32 DRIVE_CDROM = 5;
constexpr quint32 DRIVE_RAMDISK = 6;

} // namespace win

// The sizes GetDiskFreeSpaceExW reports for a volume, in bytes.
struct DiskSpace
{
    quint64 freeBytesAvailable = 0; // free to this user
    quint64 totalBytes = 0;
    quint64 totalFreeBytes = 0;
};

// The volume services the drive selection relies on (GetLogicalDrives,
// GetDriveTypeW, GetVolumeInformationW, WNetGetConnectionW,
// GetDiskFreeSpaceExW). Root paths are "c:\" in either case; "c:" is taken
// as well. Anything that names no drive letter names no volume.
class VolumeServices
{
public:
    virtual ~VolumeServices() = default;

    // Bit i is set when the letter 'a' + i names a drive.
    virtual quint32 logicalDrives() const = 0;
    // One of the win::DRIVE_* values.
    virtual quint32 driveType(const QString &rootPath) const = 0;
    // The volume's label, empty when it has none; nothing when the query
    // fails (no such drive, its folder is missing, the volume does not answer).
    virtual std::optional<QString> volumeLabel(const QString &rootPath) const = 0;
    // The remote name of a network drive in Windows form ("\\server\share")
    // for a local name such as "Z:"; nothing when the drive is not a network
    // drive or its source has no such form.
    virtual std::optional<QString> networkName(const QString &localName) const = 0;
    // The volume's sizes; nothing when the query fails, which the program
    // takes as "no disk in the drive".
    virtual std::optional<DiskSpace> diskFreeSpace(const QString &rootPath) const = 0;

    // The lower-case letter of a root path ("C:\" -> 'c'), or nothing.
    static std::optional<QChar> letterOfRoot(const QString &rootPath);
};

// The volume services of this machine: drive letters from the drive map, what
// lies behind them from the mount table, removable disks from sysfs and
// labels from /dev/disk/by-label.
//
// Every call that touches a drive's folder (stat, statvfs) runs on a worker
// thread and is given up after a time limit, so a hung network file system
// cannot freeze the window: a call that does not finish in time fails. While
// such a call is still hanging, further calls on the same folder fail at once
// instead of stacking up more blocked threads.
class SystemVolumeServices : public VolumeServices
{
public:
    struct Config
    {
        // The drive letters and the mount table (read again after every
        // mount or unmount, so media that come and go are seen as they
        // are), asked at each call. Required.
        std::shared_ptr<const DriveContext> drives;
        QByteArray sysRoot = "/sys";
        QByteArray devRoot = "/dev";
        std::chrono::milliseconds timeout{1500};
        // The statvfs of a folder; tests replace it with one that hangs.
        std::function<std::optional<DiskSpace>(const QByteArray &folder)> statFs;
    };

    explicit SystemVolumeServices(std::shared_ptr<const DriveContext> drives);
    explicit SystemVolumeServices(Config config);

    quint32 logicalDrives() const override;
    quint32 driveType(const QString &rootPath) const override;
    std::optional<QString> volumeLabel(const QString &rootPath) const override;
    std::optional<QString> networkName(const QString &localName) const override;
    std::optional<DiskSpace> diskFreeSpace(const QString &rootPath) const override;

private:
    struct Drive;
    std::optional<Drive> drive(const QString &rootPath) const;
    // Whether the drive's folder is an existing folder; nothing when the
    // question could not be answered in time.
    std::optional<bool> folderExists(const Drive &drive) const;

    Config m_config;
};

// The drive type that a mount gives its drive (the folder itself exists):
// remote for network file systems, CD-ROM for iso9660 and udf, RAM disk for
// tmpfs and ramfs, removable when the block device says so in sysfs or the
// mount lies under /media or /run/media, fixed otherwise.
quint32 driveTypeOfMount(const MountEntry &mount, const QByteArray &sysRoot = "/sys",
                         const QByteArray &devRoot = "/dev");

// Whether sysfs reports the block device of a mount as removable. A partition
// answers for its disk.
bool isRemovableBlockDevice(const MountEntry &mount, const QByteArray &sysRoot = "/sys",
                            const QByteArray &devRoot = "/dev");

// The label of a mount's block device from <devRoot>/disk/by-label, or empty.
QString labelOfMount(const MountEntry &mount, const QByteArray &devRoot = "/dev");

// The Windows form of a network mount's source for a folder inside it:
// "//server/share" -> "\\server\share", "host:/export" -> "\\host\export",
// with the folder's place below the mount point appended. Nothing for a mount
// that is not a network file system or a source of another form.
std::optional<QString> networkNameOfMount(const MountEntry &mount, const QByteArray &folder);
