#include "platform/VolumeServices.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

// A made-up machine: a folder per drive, a mount table naming those folders,
// and sysfs and /dev trees of its own, so nothing depends on the real disks.
//   a: a USB stick (vfat on a partition of a removable disk)
//   c: a fixed disk partition labelled "System"
//   d: an optical disc without a label
//   r: a tmpfs
//   z: a Windows share
//   e: a drive whose folder is gone
class FakeMachine
{
public:
    FakeMachine()
    {
        EXPECT_TRUE(m_dir.isValid());
        for (const char *letter : {"a", "c", "d", "r", "z", "e"})
            makeFolder(QStringLiteral("drive_") + QLatin1String(letter));
        m_base = QFile::encodeName(QFileInfo(m_dir.path()).canonicalFilePath());

        // sysfs: sdb is removable, sda is not; sr0 (the optical drive) says
        // removable too, and must still be a CD-ROM drive.
        writeFile("sys/devices/usb/block/sdb/removable", "1\n");
        writeFile("sys/devices/usb/block/sdb/sdb1/partition", "1\n");
        writeFile("sys/devices/pci/block/sda/removable", "0\n");
        writeFile("sys/devices/pci/block/sda/sda2/partition", "2\n");
        writeFile("sys/devices/ata/block/sr0/removable", "1\n");
        makeFolder(QStringLiteral("sys/dev/block"));
        link("../../devices/usb/block/sdb/sdb1", "sys/dev/block/8:17");
        link("../../devices/pci/block/sda/sda2", "sys/dev/block/8:2");
        link("../../devices/ata/block/sr0", "sys/dev/block/11:0");

        // /dev with a label for sda2 only.
        writeFile("dev/sda2", "");
        writeFile("dev/sdb1", "");
        writeFile("dev/sr0", "");
        makeFolder(QStringLiteral("dev/disk/by-label"));
        link("../../sda2", "dev/disk/by-label/System");

        QByteArray info = "1 0 8:1 / / rw - ext4 /dev/sda1 rw\n";
        info += "2 1 8:17 / " + folder('a') + " rw - vfat /dev/sdb1 rw\n";
        info += "3 1 8:2 / " + folder('c') + " rw - ext4 /dev/sda2 rw\n";
        info += "4 1 11:0 / " + folder('d') + " ro - iso9660 /dev/sr0 ro\n";
        info += "5 1 0:40 / " + folder('r') + " rw - tmpfs tmpfs rw\n";
        info += "6 1 0:50 / " + folder('z') + " rw - cifs //FileServer/Public rw\n";
        m_mountinfo = info;

        for (char letter : {'a', 'c', 'd', 'r', 'z', 'e'})
            m_map.insert(QLatin1Char(letter), folder(letter));
        QDir(QFile::decodeName(folder('e'))).removeRecursively();
    }

    QByteArray folder(char letter) const { return m_base + "/drive_" + letter; }
    QByteArray path(const char *relative) const { return m_base + '/' + relative; }

    SystemVolumeServices::Config config() const
    {
        SystemVolumeServices::Config config;
        config.drives = std::make_shared<const DriveContext>(
            m_map, std::make_shared<const MountSource>(MountTable::parse(m_mountinfo)));
        config.sysRoot = path("sys");
        config.devRoot = path("dev");
        return config;
    }

    void writeFile(const char *relative, const QByteArray &bytes)
    {
        const QString file = m_dir.filePath(QLatin1String(relative));
        QDir().mkpath(QFileInfo(file).path());
        QFile out(file);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(bytes);
    }
    void link(const char *target, const char *relative)
    {
        const QByteArray at = QFile::encodeName(m_dir.filePath(QLatin1String(relative)));
        ASSERT_EQ(::symlink(target, at.constData()), 0);
    }
    void makeFolder(const QString &relative) { ASSERT_TRUE(QDir().mkpath(m_dir.filePath(relative))); }

    DriveMap m_map;

private:
    QTemporaryDir m_dir;
    QByteArray m_base;
    QByteArray m_mountinfo;
};

MountEntry mountAt(const QByteArray &point, const QByteArray &type, const QByteArray &source)
{
    MountEntry entry;
    entry.root = "/";
    entry.mountPoint = point;
    entry.fsType = type;
    entry.source = source;
    return entry;
}

} // namespace

TEST(VolumeServices, RootPathsNameLettersInEitherCase)
{
    EXPECT_EQ(VolumeServices::letterOfRoot(QStringLiteral("C:\\")), QLatin1Char('c'));
    EXPECT_EQ(VolumeServices::letterOfRoot(QStringLiteral("c:")), QLatin1Char('c'));
    EXPECT_EQ(VolumeServices::letterOfRoot(QStringLiteral("z:/")), QLatin1Char('z'));
    EXPECT_FALSE(VolumeServices::letterOfRoot(QStringLiteral(":\\")));
    EXPECT_FALSE(VolumeServices::letterOfRoot(QString(QChar()) + QStringLiteral(":\\")));
    EXPECT_FALSE(VolumeServices::letterOfRoot(QStringLiteral("c:\\x")));
    EXPECT_FALSE(VolumeServices::letterOfRoot(QStringLiteral("1:\\")));
    EXPECT_FALSE(VolumeServices::letterOfRoot(QStringLiteral("\\\\s\\x")));
}

TEST(VolumeServices, DriveListAndTypesOfAMachine)
{
    FakeMachine machine;
    const SystemVolumeServices volumes(machine.config());

    const quint32 expected = (1u << 0) | (1u << 2) | (1u << 3) | (1u << 4) | (1u << 17) | (1u << 25);
    EXPECT_EQ(volumes.logicalDrives(), expected);

    EXPECT_EQ(volumes.driveType(QStringLiteral("a:\\")), win::DRIVE_REMOVABLE);
    EXPECT_EQ(volumes.driveType(QStringLiteral("C:\\")), win::DRIVE_FIXED);
    EXPECT_EQ(volumes.driveType(QStringLiteral("d:\\")), win::DRIVE_CDROM);
    EXPECT_EQ(volumes.driveType(QStringLiteral("r:\\")), win::DRIVE_RAMDISK);
    EXPECT_EQ(volumes.driveType(QStringLiteral("z:\\")), win::DRIVE_REMOTE);
    // A folder that is gone, a letter the map lacks, a root that names no drive.
    EXPECT_EQ(volumes.driveType(QStringLiteral("e:\\")), win::DRIVE_NO_ROOT_DIR);
    EXPECT_EQ(volumes.driveType(QStringLiteral("q:\\")), win::DRIVE_NO_ROOT_DIR);
    EXPECT_EQ(volumes.driveType(QStringLiteral(":\\")), win::DRIVE_NO_ROOT_DIR);
}

TEST(VolumeServices, LabelsNetworkNamesAndSizes)
{
    FakeMachine machine;
    const SystemVolumeServices volumes(machine.config());

    EXPECT_EQ(volumes.volumeLabel(QStringLiteral("c:\\")), QStringLiteral("System"));
    EXPECT_EQ(volumes.volumeLabel(QStringLiteral("d:\\")), QString());
    EXPECT_EQ(volumes.volumeLabel(QStringLiteral("z:\\")), QString());
    EXPECT_FALSE(volumes.volumeLabel(QStringLiteral("e:\\")));
    EXPECT_FALSE(volumes.volumeLabel(QStringLiteral("q:\\")));

    EXPECT_EQ(volumes.networkName(QStringLiteral("Z:")), QStringLiteral("\\\\FileServer\\Public"));
    EXPECT_FALSE(volumes.networkName(QStringLiteral("C:")));
    EXPECT_FALSE(volumes.networkName(QStringLiteral("Q:")));

    const std::optional<DiskSpace> space = volumes.diskFreeSpace(QStringLiteral("c:\\"));
    ASSERT_TRUE(space);
    EXPECT_GT(space->totalBytes, 0u);
    EXPECT_LE(space->totalFreeBytes, space->totalBytes);
    EXPECT_FALSE(volumes.diskFreeSpace(QStringLiteral("e:\\")));
    EXPECT_FALSE(volumes.diskFreeSpace(QStringLiteral("q:\\")));
    EXPECT_FALSE(volumes.diskFreeSpace(QString(QChar()) + QStringLiteral(":\\")));
}

TEST(VolumeServices, EscapedLabelsAreDecoded)
{
    FakeMachine machine;
    machine.link("../../sdb1", "dev/disk/by-label/Holiday\\x20Stick");
    MountEntry stick = mountAt(machine.folder('a'), "vfat", "/dev/sdb1");
    EXPECT_EQ(labelOfMount(stick, machine.path("dev")), QStringLiteral("Holiday Stick"));
    EXPECT_EQ(labelOfMount(mountAt("/x", "vfat", "/dev/nothing"), machine.path("dev")), QString());
    EXPECT_EQ(labelOfMount(mountAt("/x", "cifs", "//s/x"), machine.path("dev")), QString());
}

TEST(VolumeServices, RemovableByMountPlaceOrByItsDisk)
{
    FakeMachine machine;
    const QByteArray sys = machine.path("sys");
    const QByteArray dev = machine.path("dev");
    EXPECT_EQ(driveTypeOfMount(mountAt("/media/ann/STICK", "ext4", "/dev/sdz1"), sys, dev),
              win::DRIVE_REMOVABLE);
    EXPECT_EQ(driveTypeOfMount(mountAt("/run/media/ann/x", "ext4", "/dev/sdz1"), sys, dev),
              win::DRIVE_REMOVABLE);
    EXPECT_EQ(driveTypeOfMount(mountAt("/mediadata", "ext4", "/dev/sdz1"), sys, dev), win::DRIVE_FIXED);
    // An optical disc under /media stays a CD-ROM, a share a network drive.
    EXPECT_EQ(driveTypeOfMount(mountAt("/media/ann/DISC", "udf", "/dev/sr0"), sys, dev), win::DRIVE_CDROM);
    EXPECT_EQ(driveTypeOfMount(mountAt("/media/share", "nfs4", "nas:/x"), sys, dev), win::DRIVE_REMOTE);

    // A file system without device numbers of its own is found by its source.
    MountEntry byName = mountAt("/srv/stick", "btrfs", "/dev/sdb1");
    byName.device = makedev(0, 45);
    EXPECT_FALSE(isRemovableBlockDevice(byName, sys, dev));
    machine.makeFolder(QStringLiteral("sys/class/block"));
    machine.link("../../devices/usb/block/sdb/sdb1", "sys/class/block/sdb1");
    EXPECT_TRUE(isRemovableBlockDevice(byName, sys, dev));
    EXPECT_EQ(driveTypeOfMount(byName, sys, dev), win::DRIVE_REMOVABLE);
}

TEST(VolumeServices, NetworkNamesInWindowsForm)
{
    EXPECT_EQ(networkNameOfMount(mountAt("/mnt/p", "cifs", "//srv/Public"), "/mnt/p"),
              QStringLiteral("\\\\srv\\Public"));
    EXPECT_EQ(networkNameOfMount(mountAt("/mnt/p", "smb3", "//srv/Public/"), "/mnt/p/Sub/Dir"),
              QStringLiteral("\\\\srv\\Public\\Sub\\Dir"));
    EXPECT_EQ(networkNameOfMount(mountAt("/mnt/n", "nfs4", "nas:/export/home"), "/mnt/n"),
              QStringLiteral("\\\\nas\\export\\home"));
    EXPECT_EQ(networkNameOfMount(mountAt("/mnt/s", "fuse.sshfs", "ann@box:/data"), "/mnt/s"),
              QStringLiteral("\\\\box\\data"));
    EXPECT_EQ(networkNameOfMount(mountAt("/mnt/v", "nfs", "[fe80::1]:/x"), "/mnt/v"),
              QStringLiteral("\\\\[fe80::1]\\x"));
    // A 9p tag or a local file system has no network name.
    EXPECT_FALSE(networkNameOfMount(mountAt("/mnt/t", "9p", "hostshare"), "/mnt/t"));
    EXPECT_FALSE(networkNameOfMount(mountAt("/mnt/l", "ext4", "//not/a/share"), "/mnt/l"));
}

TEST(VolumeServices, AHangingVolumeFailsInsteadOfBlocking)
{
    FakeMachine machine;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    auto calls = std::make_shared<std::atomic<int>>(0);
    auto hang = std::make_shared<std::atomic<bool>>(true);

    SystemVolumeServices::Config config = machine.config();
    // Long enough that a drive that answers is never taken for a hung one,
    // even on a loaded machine; only the hung call waits it out.
    config.timeout = std::chrono::seconds(2);
    config.statFs = [released, calls, hang](const QByteArray &) -> std::optional<DiskSpace> {
        ++*calls;
        if (*hang)
            released.wait();
        return DiskSpace{1, 2, 1};
    };
    const SystemVolumeServices volumes(config);

    EXPECT_FALSE(volumes.diskFreeSpace(QStringLiteral("z:\\")));
    // While the first call hangs, the folder is not asked again.
    EXPECT_FALSE(volumes.diskFreeSpace(QStringLiteral("z:\\")));
    EXPECT_EQ(calls->load(), 1);
    // Other drives do not wait for it.
    *hang = false;
    EXPECT_TRUE(volumes.diskFreeSpace(QStringLiteral("c:\\")));

    release.set_value();
    // Once the hung call has returned, the drive answers again.
    std::optional<DiskSpace> space;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!space && std::chrono::steady_clock::now() < deadline) {
        space = volumes.diskFreeSpace(QStringLiteral("z:\\"));
        if (!space)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_TRUE(space);
    EXPECT_EQ(space->totalBytes, 2u);
}
