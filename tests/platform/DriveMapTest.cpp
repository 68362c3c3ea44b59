// The drive map, the mount table and the translation of Windows-form paths.

#include "support/TempDrives.h"

#include "platform/DriveContext.h"
#include "platform/DriveMap.h"
#include "platform/MountTable.h"
#include "platform/PosixPath.h"
#include "platform/WinPath.h"
#include "platform/WinTypes.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

QByteArray canonical(const QTemporaryDir &dir)
{
    return posix::realPath(QFile::encodeName(dir.path())).value();
}

void makeFolders(const QByteArray &path)
{
    ASSERT_TRUE(QDir().mkpath(QFile::decodeName(path))) << path.constData();
}

void touch(const QByteArray &path)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0) << path.constData();
    ::close(fd);
}

void makeLink(const QByteArray &target, const QByteArray &at)
{
    ASSERT_EQ(::symlink(target.constData(), at.constData()), 0) << at.constData();
}

} // namespace

TEST(DriveMap, PrefixMapsOnlyLetterEntriesThatResolveToFolders)
{
    QTemporaryDir dir;
    const QByteArray base = canonical(dir);
    const QByteArray devices = base + "/prefix/dosdevices";
    makeFolders(devices);
    makeFolders(base + "/prefix/drive_c");
    makeFolders(base + "/other");
    touch(base + "/file");
    makeLink("../drive_c", devices + "/c:");     // relative, the way Wine writes it
    makeLink(base + "/other", devices + "/D:");  // upper case
    makeLink(base + "/other", devices + "/x::"); // raw device entry
    makeLink(base + "/gone", devices + "/e:");   // dangling
    makeLink(base + "/file", devices + "/f:");   // a file, not a folder
    makeLink(base + "/other", devices + "/gh:"); // not one letter
    makeLink(base + "/other", devices + "/1:");  // not a letter
    makeFolders(devices + "/g:");                // a plain folder counts too
    touch(devices + "/h:");                      // a plain file does not

    const std::optional<DriveMap> map = DriveMap::fromPrefix(base + "/prefix");
    ASSERT_TRUE(map.has_value());
    EXPECT_EQ(map->letters(), (QList<QChar>{u'c', u'd', u'g'}));
    EXPECT_EQ(map->folder(u'c'), base + "/prefix/drive_c");
    EXPECT_EQ(map->folder(u'D'), base + "/other");
    EXPECT_EQ(map->folder(u'g'), devices + "/g:");
    EXPECT_FALSE(map->folder(u'x').has_value());

    EXPECT_FALSE(DriveMap::fromPrefix(base + "/other").has_value()); // no dosdevices/
}

TEST(DriveMap, LoadReadsThePrefixFromTheEnvironment)
{
    TempDrives drives(QStringLiteral("cd"));
    const DriveMap map = *drives.context()->map();
    EXPECT_EQ(map.letters(), (QList<QChar>{u'c', u'd'}));
    EXPECT_EQ(map.folder(u'c'), drives.root(u'c'));
    EXPECT_EQ(map.folder(u'd'), drives.root(u'd'));
}

TEST(DriveMap, DriveOfPicksTheLongestFolderAtAComponentBoundary)
{
    TempDrives drives(QStringLiteral("c"));
    drives.makeFolder(QStringLiteral("sub/deeper"));
    drives.makeFolder(QStringLiteral("subway"));
    drives.mapLetter(u'e', drives.posix(QStringLiteral("sub")));
    drives.mapLetter(u'z', "/");
    const DriveMap map = *drives.context()->map();

    EXPECT_EQ(map.driveOf(drives.posix(QStringLiteral("sub/deeper"))), QChar(u'e'));
    EXPECT_EQ(map.driveOf(drives.posix(QStringLiteral("sub/missing/more"))), QChar(u'e'));
    EXPECT_EQ(map.driveOf(drives.posix(QStringLiteral("subway"))), QChar(u'c'));
    EXPECT_EQ(map.driveOf(drives.root(u'c')), QChar(u'c'));
    EXPECT_EQ(map.driveOf(drives.posix(QStringLiteral("sub/../subway/./x"))), QChar(u'c'));
    EXPECT_EQ(map.driveOf("/"), QChar(u'z'));

    // Through the prefix's own links the canonical form decides...
    EXPECT_EQ(map.driveOf(drives.prefix() + "/dosdevices/c:/subway"), QChar(u'c'));
    EXPECT_EQ(WinPath::toWindows(drives.prefix() + "/dosdevices/c:/subway", *drives.context()),
              QStringLiteral("c:\\subway"));
    // ...while a linked folder inside a drive keeps its files on that drive.
    makeLink(drives.posix(QStringLiteral("subway")), drives.posix(QStringLiteral("sub/deeper/back")));
    EXPECT_EQ(map.driveOf(drives.posix(QStringLiteral("sub/deeper/back/x.lnk"))), QChar(u'e'));

    DriveMap empty;
    EXPECT_TRUE(empty.isEmpty());
    EXPECT_TRUE(empty.driveOf("/anything").isNull());
}

TEST(MountTable, ParsesMountinfoLines)
{
    const MountTable table =
        MountTable::parse("26 1 8:2 / / rw,relatime shared:1 - ext4 /dev/sda2 rw\n"
                          "90 26 8:17 / /media/user/My\\040Disk rw shared:40 master:2 - vfat /dev/sdb1 rw\n"
                          "91 26 0:50 /sub /srv/back\\134slash rw - cifs //Server/Share\\040Name rw\n"
                          "garbage line\n"
                          "92 26 8:18 / /mnt rw - ext4\n" // no source: skipped
                          "93 26 8:19 / /mnt rw - xfs /dev/sdb3 rw\n"
                          "94 93 8:20 / /mnt/inner rw - xfs /dev/sdb4 rw\n"
                          "95 26 8:21 / /mnt rw - btrfs /dev/sdb5 rw\n"); // hides 93
    ASSERT_EQ(table.entries().size(), 6);
    const MountEntry &disk = table.entries().at(1);
    EXPECT_EQ(disk.device, makedev(8, 17));
    EXPECT_EQ(disk.mountPoint, "/media/user/My Disk");
    EXPECT_EQ(disk.fsType, "vfat");
    EXPECT_EQ(disk.source, "/dev/sdb1");
    const MountEntry &share = table.entries().at(2);
    EXPECT_EQ(share.root, "/sub");
    EXPECT_EQ(share.mountPoint, "/srv/back\\slash");
    EXPECT_EQ(share.source, "//Server/Share Name");

    EXPECT_EQ(table.mountOf("/media/user/My Disk/file")->source, "/dev/sdb1");
    EXPECT_EQ(table.mountOf("/media/user/My Diskette")->source, "/dev/sda2");
    EXPECT_EQ(table.mountOf("/mnt/inner/x")->source, "/dev/sdb4");
    EXPECT_EQ(table.mountOf("/mnt/x")->fsType, "btrfs");
    EXPECT_EQ(MountTable::parse("").mountOf("/"), nullptr);
}

// Which mounted file systems the machine's drive list offers: disks, memory
// disks the user mounted and network shares do; the kernel's own views of
// processes, devices and the like never do.
TEST(DriveMap, MountsOfWhichFileSystemsBecomeDrives)
{
    QTemporaryDir dir;
    const QByteArray base = canonical(dir);
    makeFolders(base + "/m");
    const struct
    {
        const char *device, *type, *source;
        bool drive;
    } rows[] = {
        {"0:20", "proc", "proc", false},
        {"0:21", "sysfs", "sysfs", false},
        {"0:22", "cgroup2", "cgroup2", false},
        {"0:23", "devpts", "devpts", false},
        {"0:24", "tracefs", "tracefs", false},
        {"0:25", "binfmt_misc", "binfmt_misc", false},
        {"0:26", "autofs", "systemd-1", false},
        {"0:50", "nfs4", "server:/export", true},
        {"0:51", "cifs", "//server/share", true},
        {"0:52", "smb3", "//server/share", true},
        {"0:53", "fuse.sshfs", "user@host:/home", true},
        {"0:54", "9p", "hostshare", true},
        {"8:17", "ext4", "/dev/sdb1", true},
        {"8:33", "vfat", "/dev/sdc1", true},
        {"8:49", "fuseblk", "/dev/sdd1", true},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.type);
        const DriveMap map = DriveMap::fromMounts(
            MountTable::parse("1 0 8:2 / / rw - ext4 /dev/sda2 rw\n2 1 " + QByteArray(row.device) + " / " +
                              base + "/m rw - " + row.type + " " + row.source + " rw\n"));
        EXPECT_EQ(map.folder(u'd') == base + "/m", row.drive);
    }
}

TEST(DriveMap, BuiltInRulesOnAMountTable)
{
    QTemporaryDir dir;
    const QByteArray base = canonical(dir);
    makeFolders(base + "/a_data");
    makeFolders(base + "/b_win/WINDOWS/system32");
    makeFolders(base + "/c_win2/Windows/System32");
    makeFolders(base + "/d_fake/Windows");
    touch(base + "/d_fake/Windows/System32"); // a file, not a folder
    const QByteArray text = "1 0 8:2 / / rw - ext4 /dev/sda2 rw\n"
                            "2 1 0:20 / /proc rw - proc proc rw\n"
                            "3 1 8:1 / /boot/efi rw - vfat /dev/sda1 rw\n"
                            "4 1 0:22 / /dev/shm rw - tmpfs tmpfs rw\n"
                            "5 1 8:33 / /run/media/user/STICK rw - vfat /dev/sdc1 rw\n"
                            "6 1 0:40 / /run/user/1000/gvfs rw - fuse.gvfsd-fuse gvfsd-fuse rw\n"
                            "7 1 7:0 / /snap/core/17 ro - squashfs /dev/loop0 ro\n"
                            "8 1 0:50 / /mnt/share rw - cifs //srv/docs rw\n"
                            "9 1 8:2 /home /mnt/bind rw - ext4 /dev/sda2 rw\n" // same file system as /
                            "10 1 8:18 /sub " +
                            base +
                            "/a_data rw - ext4 /dev/sdb2 rw\n"
                            "11 1 8:17 / " +
                            base +
                            "/b_win rw - ntfs3 /dev/sdb1 rw\n"
                            "12 1 8:19 / " +
                            base +
                            "/c_win2 rw - ntfs3 /dev/sdb3 rw\n"
                            "13 1 8:20 / " +
                            base +
                            "/d_fake rw - ntfs3 /dev/sdb4 rw\n"
                            "14 1 8:18 / " +
                            base +
                            "/e_whole rw - ext4 /dev/sdb2 rw\n"
                            "15 1 0:60 / " +
                            base + "/f_tmp rw - tmpfs tmpfs rw\n";
    const DriveMap map = DriveMap::fromMounts(MountTable::parse(text));

    EXPECT_EQ(map.folder(u'z'), "/");
    EXPECT_EQ(map.folder(u'c'), base + "/b_win"); // first Windows installation
    // Mount point order from d: on; c_win2 is just another disk; of the two
    // mounts of sdb2 the one showing its whole root stands for it.
    EXPECT_EQ(map.folder(u'd'), "/mnt/share");
    EXPECT_EQ(map.folder(u'e'), "/run/media/user/STICK");
    EXPECT_EQ(map.folder(u'f'), base + "/c_win2");
    EXPECT_EQ(map.folder(u'g'), base + "/d_fake");
    EXPECT_EQ(map.folder(u'h'), base + "/e_whole");
    EXPECT_EQ(map.letters(), (QList<QChar>{u'c', u'd', u'e', u'f', u'g', u'h', u'z'}));

    const DriveMap bare = DriveMap::fromMounts(MountTable::parse("1 0 8:2 / / rw - ext4 /dev/sda2 rw\n"));
    EXPECT_EQ(bare.letters(), QList<QChar>{u'z'});
}

TEST(WinPath, TranslatesExactlyThenWithoutRegardToCase)
{
    TempDrives drives(QStringLiteral("c"));
    drives.writeFile(QStringLiteral("Program Files/App/App.exe"), "x");
    drives.writeFile(QStringLiteral("Ärger/Straße.txt"), "x");
    const QByteArray root = drives.root(u'c');

    EXPECT_EQ(WinPath::toPosix(QStringLiteral("c:\\Program Files\\App\\App.exe"), *drives.context()),
              root + "/Program Files/App/App.exe");
    EXPECT_EQ(WinPath::toPosix(QStringLiteral("C:\\PROGRAM FILES\\app\\APP.EXE"), *drives.context()),
              root + "/Program Files/App/App.exe");
    EXPECT_EQ(WinPath::toPosix(QStringLiteral("c:/program files/APP/app.exe"), *drives.context()),
              root + "/Program Files/App/App.exe");
    EXPECT_EQ(WinPath::toPosix(QStringLiteral("c:\\äRGER\\STRASSE.txt"), *drives.context()),
              root + "/Ärger/STRASSE.txt");
    EXPECT_EQ(WinPath::toPosix(QStringLiteral("c:\\ärger\\straße.TXT"), *drives.context()),
              QByteArray(root + "/Ärger/Straße.txt"));
    // Missing components are kept as written, also those after a missing one.
    EXPECT_EQ(WinPath::toPosix(QStringLiteral("c:\\program files\\Gone\\APP\\x.lnk"), *drives.context()),
              root + "/Program Files/Gone/APP/x.lnk");
    // Roots, "." and "..", never above the drive's folder.
    EXPECT_EQ(WinPath::toPosix(QStringLiteral("c:\\"), *drives.context()), root);
    EXPECT_EQ(WinPath::toPosix(QStringLiteral("C:"), *drives.context()), root);
    EXPECT_EQ(WinPath::toPosix(QStringLiteral("c:\\..\\..\\program files"), *drives.context()),
              root + "/Program Files");
    EXPECT_EQ(WinPath::toPosix(QStringLiteral("c:\\a\\.\\b\\..\\c\\\\d\\"), *drives.context()),
              root + "/a/c/d");
    EXPECT_EQ(WinPath::toPosix(QStringLiteral("\\\\?\\C:\\Program Files"), *drives.context()),
              root + "/Program Files");
}

TEST(WinPath, NamesAreFoundAsWindowsUsesThemUnlessTheyExistAsWritten)
{
    TempDrives drives(QStringLiteral("c"));
    drives.writeFile(QStringLiteral("dir/setup.exe"), "x");
    // Names a Windows path cannot reach unless written as they are here.
    drives.writeFile(QStringLiteral("Acme Inc./a.lnk"), "x");
    drives.writeFile(QStringLiteral("Acme Inc/a.lnk"), "x");
    const QByteArray setup = drives.posix(QStringLiteral("dir/setup.exe"));
    const DriveContext &context = *drives.context();

    for (const char *path :
         {"C:\\dir\\setup.exe.", "c:\\DIR \\setup.exe", "c:\\dir. \\Setup.EXE . ",
          "\\\\?\\C:\\dir\\setup.exe", "//?/c:/dir/setup.exe", "c:\\dir\\x\\..\\setup.exe"})
        EXPECT_EQ(WinPath::toPosix(QString::fromUtf8(path), context), setup) << path;
    EXPECT_EQ(WinPath::toPosixAsWritten(QStringLiteral("\\\\?\\C:\\dir\\setup.exe"), context),
              WinPath::toPosixAsWritten(QStringLiteral("C:\\dir\\setup.exe"), context));
    // A name that exists as written is taken as it is, never another entry.
    EXPECT_EQ(WinPath::toPosix(QStringLiteral("c:\\Acme Inc.\\a.lnk"), context),
              drives.posix(QStringLiteral("Acme Inc./a.lnk")));
    EXPECT_EQ(WinPath::toPosix(QStringLiteral("c:\\Acme Inc\\a.lnk"), context),
              drives.posix(QStringLiteral("Acme Inc/a.lnk")));
    // A missing name is named as Windows would create it.
    EXPECT_EQ(WinPath::toPosix(QStringLiteral("c:\\dir\\gone.exe. "), context),
              drives.posix(QStringLiteral("dir/gone.exe")));
}

TEST(WinPath, NamesNothingForUnmappedRelativeOrMalformedPaths)
{
    TempDrives drives(QStringLiteral("c"));
    const DriveMap map = *drives.context()->map();
    const auto errorOf = [&](const QString &path) {
        quint32 error = 0;
        EXPECT_FALSE(WinPath::toPosix(path, map, *drives.context()->mounts(), &error).has_value())
            << path.toStdString();
        return error;
    };
    EXPECT_EQ(errorOf(QStringLiteral("q:\\x")), win::ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(errorOf(QStringLiteral("folder\\x.lnk")), win::ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(errorOf(QString()), win::ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(errorOf(QStringLiteral("c:x.lnk")), win::ERROR_INVALID_NAME);
    EXPECT_EQ(errorOf(QStringLiteral("c:\\a:b")), win::ERROR_INVALID_NAME);
    EXPECT_EQ(errorOf(QStringLiteral("c:\\a") + QChar(u'\t')), win::ERROR_INVALID_NAME);
    EXPECT_EQ(errorOf(QStringLiteral("c:\\a") + QChar(u'\0') + QStringLiteral("b")), win::ERROR_INVALID_NAME);
    EXPECT_EQ(errorOf(QStringLiteral("c:\\") + QChar(0xD800)), win::ERROR_INVALID_NAME);
    EXPECT_EQ(errorOf(QStringLiteral("\\\\.\\PhysicalDrive0")), win::ERROR_INVALID_NAME);
    EXPECT_EQ(errorOf(QStringLiteral("\\\\server")), win::ERROR_INVALID_NAME);
    EXPECT_EQ(errorOf(QStringLiteral("\\\\server\\share\\x")), win::ERROR_PATH_NOT_FOUND);
}

TEST(WinPath, UncPathsNameMountedSharesInTheMap)
{
    TempDrives drives(QStringLiteral("c"));
    drives.writeFile(QStringLiteral("net/docs/Reports/Q1.txt"), "x");
    drives.makeFolder(QStringLiteral("net/deep"));
    const QByteArray share = drives.posix(QStringLiteral("net/docs"));
    const QByteArray deep = drives.posix(QStringLiteral("net/deep"));
    const MountTable mounts =
        MountTable::parse("1 0 8:2 / / rw - ext4 /dev/sda2 rw\n"
                          "2 1 0:50 / " +
                          share +
                          " rw - cifs //FileServer/Docs rw\n"
                          "3 1 0:51 / " +
                          deep +
                          " rw - cifs //fileserver/docs/Reports/Old rw\n"
                          "4 1 0:52 / /elsewhere rw - cifs //other/share rw\n"); // outside every drive
    const DriveMap map = *drives.context()->map();
    quint32 error = 1;
    EXPECT_EQ(WinPath::toPosix(QStringLiteral("\\\\fileserver\\DOCS\\reports\\q1.TXT"), map, mounts, &error),
              share + "/Reports/Q1.txt");
    EXPECT_EQ(error, win::ERROR_SUCCESS);
    EXPECT_EQ(WinPath::toPosix(QStringLiteral("\\\\?\\UNC\\FileServer\\Docs"), map, mounts, &error), share);
    // The longest matching source wins.
    EXPECT_EQ(WinPath::toPosix(QStringLiteral("\\\\fileserver\\docs\\reports\\OLD\\x"), map, mounts, &error),
              deep + "/x");
    // ".." stays inside the share.
    EXPECT_EQ(WinPath::toPosix(QStringLiteral("\\\\fileserver\\docs\\..\\..\\x"), map, mounts, &error),
              share + "/x");
    // ".." is applied before the share is matched: this is docs\x, not Old\x.
    EXPECT_EQ(WinPath::toPosix(QStringLiteral("\\\\fileserver\\docs\\reports\\old\\..\\..\\x"), map, mounts,
                               &error),
              share + "/x");
    EXPECT_FALSE(WinPath::toPosix(QStringLiteral("\\\\other\\share\\x"), map, mounts, &error).has_value());
    EXPECT_EQ(error, win::ERROR_PATH_NOT_FOUND);
    EXPECT_FALSE(
        WinPath::toPosix(QStringLiteral("\\\\fileserver\\public\\x"), map, mounts, &error).has_value());
}

TEST(WinPath, ToWindowsIsTheInverse)
{
    TempDrives drives(QStringLiteral("cd"));
    drives.writeFile(QStringLiteral("Users/Public/Desktop/Old.lnk"), "x");
    EXPECT_EQ(
        WinPath::toWindows(drives.posix(QStringLiteral("Users/Public/Desktop/Old.lnk")), *drives.context()),
        QStringLiteral("c:\\Users\\Public\\Desktop\\Old.lnk"));
    EXPECT_EQ(WinPath::toWindows(drives.root(u'd'), *drives.context()), QStringLiteral("d:\\"));
    EXPECT_EQ(WinPath::toWindows(drives.root(u'd') + "/new/", *drives.context()), QStringLiteral("d:\\new"));
    EXPECT_EQ(
        WinPath::toPosix(*WinPath::toWindows(drives.posix(QStringLiteral("Users/Public")), *drives.context()),
                         *drives.context()),
        drives.posix(QStringLiteral("Users/Public")));
    EXPECT_FALSE(WinPath::toWindows(drives.root(u'c') + "/a:b", *drives.context()).has_value());
    EXPECT_FALSE(WinPath::toWindows(drives.root(u'c') + "/bad\xff", *drives.context()).has_value());
    EXPECT_FALSE(WinPath::toWindows("/definitely/not/in/a/drive", *drives.context()).has_value());
    EXPECT_EQ(WinPath::driveRoot(u'C'), QStringLiteral("c:\\"));
}

TEST(WinPath, RepresentableNames)
{
    for (const QByteArray &name :
         {QByteArray("old.lnk"), QByteArray("what?*.lnk"), QByteArray("\xc3\x84rger"),
          QByteArray("\xf0\x9f\x98\x80"), QByteArray(".")})
        EXPECT_TRUE(WinPath::isRepresentable(name)) << name.constData();
    for (const QByteArray &name :
         {QByteArray(), QByteArray("back\\slash"), QByteArray("co:lon"), QByteArray("tab\t"),
          QByteArray("del\x7f"), QByteArray("\xff"), QByteArray("\xc3"), QByteArray("\xc0\xaf"),
          QByteArray("\xed\xa0\x80"), QByteArray("\xf4\x90\x80\x80"), QByteArray("\xe0\x80\xaf")})
        EXPECT_FALSE(WinPath::isRepresentable(name)) << name.toHex().constData();
}
