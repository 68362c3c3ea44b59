// Scans of drives that someone filled to break the program: loops, depth,
// sheer size, names Windows cannot have, files that are not files, files that
// change under the walk, targets on places that never answer. Each scan must
// finish, list exactly the broken shortcuts it can name and judge, and keep
// dispatching the window's events.

#include "FakeScanHost.h"
#include "RealScanFixture.h"

#include "app/WindowScan.h"
#include "lnk/LnkFile.h"
#include "platform/FolderSearch.h"
#include "platform/WinPath.h"
#include "platform/WinTypes.h"
#include "scan/ShortcutScan.h"
#include "shell/ShellLinkService.h"
#include "shell/TargetLook.h"
#include "support/BlockingFuse.h"
#include "support/TempDrives.h"
#include "support/UnprivilegedFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <variant>

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// A link made by our own writer; where it lies does not matter to it (its
// target is on another drive, so it holds no relative path).
QByteArray linkTo(const QString &target, quint32 attributes = 0x20)
{
    LnkTargetInfo info;
    info.winPath = target;
    info.attributes = attributes;
    auto made = LnkFile::create(info, QStringLiteral("c:\\x.lnk"));
    EXPECT_TRUE(std::holds_alternative<LnkFile>(made)) << target.toStdString();
    return std::holds_alternative<LnkFile>(made) ? std::get<LnkFile>(made).serialize() : QByteArray();
}

// A link that records its target's size and times, as Windows writes them:
// with those, a missing target is searched for through the whole drive.
QByteArray linkWithFacts(const QString &target)
{
    LnkTargetInfo info;
    info.winPath = target;
    info.attributes = 0x20;
    info.size = 1234;
    info.creationTime = info.writeTime = 132000000000000000ULL;
    auto made = LnkFile::create(info, QStringLiteral("c:\\x.lnk"));
    EXPECT_TRUE(std::holds_alternative<LnkFile>(made)) << target.toStdString();
    return std::holds_alternative<LnkFile>(made) ? std::get<LnkFile>(made).serialize() : QByteArray();
}

// Drive d: is empty, so the search for a missing target there ends at once.
const QString kGone = QStringLiteral("D:\\Gone\\missing.exe");

bool writeRaw(const QByteArray &posixPath, const QByteArray &bytes)
{
    const int fd = ::open(posixPath.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    return ::close(fd) == 0 && ok;
}

// The names opened in a watched folder while a watch is active.
class OpenWatch
{
public:
    explicit OpenWatch(const QByteArray &folder) : m_fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
    {
        if (m_fd >= 0)
            ::inotify_add_watch(m_fd, folder.constData(), IN_OPEN | IN_ACCESS);
    }
    ~OpenWatch()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    OpenWatch(const OpenWatch &) = delete;
    OpenWatch &operator=(const OpenWatch &) = delete;

    bool usable() const { return m_fd >= 0; }
    // Entries (not the folder itself) opened or read since the watch began.
    QStringList touched()
    {
        QStringList names;
        alignas(inotify_event) char buffer[64 * 1024];
        for (;;) {
            const ssize_t got = ::read(m_fd, buffer, sizeof buffer);
            if (got <= 0)
                break;
            for (ssize_t at = 0; at < got;) {
                const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
                if (event->len > 0 && !(event->mask & IN_ISDIR)) {
                    const QString name = QFile::decodeName(event->name);
                    if (!names.contains(name))
                        names << name;
                }
                at += ssize_t(sizeof(inotify_event)) + event->len;
            }
        }
        names.sort();
        return names;
    }

private:
    int m_fd;
};

class HostileTreeTest : public RealScanFixture
{
protected:
    QString broken(const QString &relative)
    {
        drives.writeFile(relative, m_broken);
        return drives.win(relative);
    }

    // Scans c: and gives what was listed, sorted, after checking that the
    // scan ended as a scan ends and that the three lists agree.
    QStringList scanned()
    {
        host.dispatches = 0;
        scan.ScanShortcuts();
        EXPECT_FALSE(host.waitCursor);
        EXPECT_TRUE(host.btscanEnabled);
        EXPECT_EQ(host.busyLeft, WindowScan::BusyIndicatorHiddenLeft);
        EXPECT_EQ(host.listBox, host.checkList);
        EXPECT_TRUE(results.ShortcutPaths && *results.ShortcutPaths == host.checkList);
        EXPECT_EQ(results.BrokenCount, host.checkList.size());
        EXPECT_TRUE(host.label1.startsWith(QString::number(host.checkList.size()) + QLatin1Char(' ')))
            << host.label1.toStdString();
        QStringList listed = host.checkList;
        listed.sort();
        return listed;
    }

    static QStringList sorted(QStringList list)
    {
        list.sort();
        return list;
    }

    // The files that shortcut paths name, whatever links lead to them.
    QStringList realFiles(const QStringList &winPaths) const
    {
        QStringList files;
        for (const QString &winPath : winPaths) {
            const std::optional<QByteArray> posix = WinPath::toPosix(winPath, *drives.context());
            files.append(posix ? QFileInfo(QFile::decodeName(*posix)).canonicalFilePath() : winPath);
        }
        files.sort();
        return files;
    }

    const QByteArray m_broken = linkTo(kGone);
};

TEST_F(HostileTreeTest, SymbolicLinkLoopsEnd)
{
    const QStringList plain = {
        broken(QStringLiteral("loops/a/a.lnk")), broken(QStringLiteral("loops/a/deep/d.lnk")),
        broken(QStringLiteral("loops/x/x.lnk")), broken(QStringLiteral("loops/y/y.lnk"))};
    const auto link = [&](const char *target, const char *at) {
        ASSERT_EQ(::symlink(target, drives.posix(QString::fromLatin1(at)).constData()), 0) << at;
    };
    link(".", "loops/a/self");                                                   // to itself
    link("..", "loops/a/deep/up");                                               // to its parent
    link("../y", "loops/x/toY");                                                 // between two folders
    link("../x", "loops/y/toX");                                                 //   and back
    link(drives.posix(QStringLiteral("loops")).constData(), "loops/a/deep/abs"); // absolute, to an ancestor
    link(drives.root().constData(), "loops/root");                               // to the drive's root
    link("nowhere", "loops/dangling");                                           // to nothing
    link("a.lnk", "loops/a/alias.lnk");                                          // a shortcut's second name

    // Each folder is walked once and each shortcut file checked once, by
    // whichever way the walk meets it first.
    EXPECT_EQ(realFiles(scanned()), realFiles(plain));
    EXPECT_GT(host.dispatches, 0);
}

// Levels that each hold two links to the next level (and a hard link of a
// shortcut in every level) make 2^levels paths through the tree: each
// folder is still walked once and each shortcut file listed once.
TEST_F(HostileTreeTest, SymbolicLinksThatFanOutAreWalkedOnce)
{
    constexpr int kLevels = 30;
    const QString deepest = broken(QStringLiteral("fan/%1/deepest.lnk").arg(kLevels));
    const QString shared = broken(QStringLiteral("fan/shared.lnk"));
    for (int level = 0; level < kLevels; ++level) {
        const QByteArray folder = drives.posix(QStringLiteral("fan/%1").arg(level));
        ASSERT_TRUE(QDir().mkpath(QFile::decodeName(folder)));
        const QByteArray next = "../" + QByteArray::number(level + 1);
        ASSERT_EQ(::symlink(next.constData(), (folder + "/left").constData()), 0);
        ASSERT_EQ(::symlink(next.constData(), (folder + "/right").constData()), 0);
        ASSERT_EQ(::link(drives.posix(QStringLiteral("fan/shared.lnk")).constData(),
                         (folder + "/same" + QByteArray::number(level) + ".lnk").constData()),
                  0);
    }
    const QStringList listed = scanned();
    EXPECT_EQ(listed.size(), 2) << listed.join(QLatin1Char(' ')).toStdString();
    EXPECT_EQ(realFiles(listed), realFiles({deepest, shared}));
    // Each folder's entries were gone through once: two passes over about
    // four entries in each of the levels.
    EXPECT_LT(host.dispatches, 20 * (kLevels + 2));
}
// Nested folders named "d" below `top`, made and removed one level at a time
// through open folders, since the deepest lie beyond the longest path the
// system takes.
class FolderChain
{
public:
    FolderChain(const QByteArray &top, int levels, const QList<int> &shortcutLevels,
                const QByteArray &shortcut)
        : m_top(top)
    {
        int fd = ::open(top.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        for (int level = 1; level <= levels && fd >= 0; ++level) {
            if (::mkdirat(fd, "d", 0755) != 0)
                break;
            const int next = ::openat(fd, "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            ::close(fd);
            fd = next;
            m_levels = level;
            if (fd >= 0 && shortcutLevels.contains(level)) {
                const int file = ::openat(fd, "s.lnk", O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
                if (file >= 0) {
                    m_madeShortcuts +=
                        ::write(file, shortcut.constData(), size_t(shortcut.size())) == shortcut.size();
                    ::close(file);
                }
            }
        }
        if (fd >= 0)
            ::close(fd);
    }
    ~FolderChain()
    {
        int fd = ::open(m_top.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        int depth = 0;
        while (fd >= 0) {
            const int next = ::openat(fd, "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (next < 0)
                break;
            ::close(fd);
            fd = next;
            ++depth;
        }
        while (fd >= 0) {
            ::unlinkat(fd, "s.lnk", 0);
            if (depth == 0)
                break;
            const int up = ::openat(fd, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            ::close(fd);
            fd = up;
            if (fd >= 0)
                ::unlinkat(fd, "d", AT_REMOVEDIR);
            --depth;
        }
        if (fd >= 0)
            ::close(fd);
    }
    FolderChain(const FolderChain &) = delete;
    FolderChain &operator=(const FolderChain &) = delete;

    int levels() const { return m_levels; }
    int madeShortcuts() const { return m_madeShortcuts; }

private:
    QByteArray m_top;
    int m_levels = 0;
    int m_madeShortcuts = 0;
};

TEST_F(HostileTreeTest, NestingDeeperThanAnyPathReaches)
{
    // Folders go on below the longest path the system accepts; the walk
    // follows them as far as paths reach and lists what lies there.
    drives.makeFolder(QStringLiteral("deep"));
    const QByteArray top = drives.posix(QStringLiteral("deep"));
    const auto shortcutPathLength = [&](int level) { return top.size() + 2 * level + int(strlen("/s.lnk")); };
    const int levels = (PATH_MAX + 400 - top.size()) / 2;
    QList<int> at = {1, 2, 100, 1000};
    for (int level = 1; level <= levels; ++level) {
        const int length = shortcutPathLength(level);
        if ((length >= PATH_MAX - 60 && length <= PATH_MAX + 60) || level == levels)
            at << level;
    }
    const FolderChain chain(top, levels, at, m_broken);
    ASSERT_EQ(chain.levels(), levels);
    ASSERT_EQ(chain.madeShortcuts(), at.size());

    const QStringList listed = scanned();
    for (int level : at) {
        QString path = QStringLiteral("c:\\deep");
        for (int i = 0; i < level; ++i)
            path += QStringLiteral("\\d");
        path += QStringLiteral("\\s.lnk");
        const int length = shortcutPathLength(level);
        if (length < PATH_MAX - 40) {
            EXPECT_TRUE(listed.contains(path)) << "level " << level;
        } else if (length >= PATH_MAX) {
            EXPECT_FALSE(listed.contains(path)) << "level " << level; // no path can name it
        }
    }
    EXPECT_GE(listed.size(), 4);
    EXPECT_GT(host.dispatches, levels);
}

TEST_F(HostileTreeTest, FiftyThousandEntriesInOneFolder)
{
    drives.makeFolder(QStringLiteral("big"));
    const QByteArray folder = drives.posix(QStringLiteral("big"));
    drives.writeFile(QStringLiteral("present.txt"), "here", QLatin1Char('d'));
    const QByteArray working = linkTo(QStringLiteral("D:\\present.txt"));
    QStringList expected;
    int entries = 0;
    for (int i = 0; i < 100; ++i, ++entries) {
        const QByteArray name = "broken" + QByteArray::number(i) + ".lnk";
        ASSERT_TRUE(writeRaw(folder + '/' + name, m_broken));
        expected << drives.win(QStringLiteral("big/") + QString::fromLatin1(name));
    }
    for (int i = 0; i < 100; ++i, ++entries)
        ASSERT_TRUE(writeRaw(folder + "/fine" + QByteArray::number(i) + ".lnk", working));
    for (int i = 0; i < 100; ++i, ++entries)
        ASSERT_TRUE(
            writeRaw(folder + "/notalink" + QByteArray::number(i) + ".lnk", "[InternetShortcut]\r\n"));
    for (; entries < 50000; ++entries) {
        const QByteArray name = folder + "/file" + QByteArray::number(entries) + ".txt";
        const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        ::close(fd);
    }

    EXPECT_EQ(scanned(), sorted(expected));
    EXPECT_EQ(host.label1, QStringLiteral("100 Broken Shortcuts   (double click to explore)"));
    // The window was served while both passes went over the folder's entries.
    EXPECT_GE(host.dispatches, 2 * (50000 / FolderSearch::kPassedOverPerWait));
}

// A folder of 200,000 entries is read a piece at a time, by the walk and by
// the search for a moved target alike, with the window served in between.
TEST_F(HostileTreeTest, TwoHundredThousandEntriesInOneFolder)
{
    drives.makeFolder(QStringLiteral("huge"));
    const QByteArray folder = drives.posix(QStringLiteral("huge"));
    // Names of a few files (made quickly: no inode to find for each, and
    // within the file system's count of names a file may have).
    constexpr int kNamesPerFile = 50000;
    for (int i = 0; i < 200000; ++i) {
        const QByteArray name = folder + "/entry" + QByteArray::number(i) + ".dat";
        if (i % kNamesPerFile == 0) {
            const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
            ASSERT_GE(fd, 0);
            ::close(fd);
        } else {
            const QByteArray first = folder + "/entry" + QByteArray::number(i - i % kNamesPerFile) + ".dat";
            ASSERT_EQ(::link(first.constData(), name.constData()), 0) << i;
        }
    }
    // Its target's folder is gone: the search goes through the whole drive.
    drives.writeFile(QStringLiteral("links/gone.lnk"), linkWithFacts(QStringLiteral("C:\\Old\\gone.exe")));

    host.sinceDispatch.invalidate();
    host.longestGapMs = 0;
    EXPECT_EQ(scanned(), QStringList{drives.win(QStringLiteral("links/gone.lnk"))});
    EXPECT_GE(host.dispatches, 200000 / FolderSearch::kPassedOverPerWait);
    EXPECT_LT(host.longestGapMs, 1000);
}

// File systems that do not answer, mounted where the walk goes and inside a
// hidden folder, where neither the walk nor the search for a moved target
// goes: the scan waits for the first only until it has given no answer for
// the bound (shortened here), never for the second, and serves the window
// all the while; a later scan does not wait for them again while they still
// hang.
TEST_F(HostileTreeTest, MountsThatNeverAnswer)
{
    drives.context()->setNoAnswer(std::chrono::milliseconds(1500));
    drives.makeFolder(QStringLiteral(".hidden/remote"));
    drives.makeFolder(QStringLiteral("share"));
    BlockingFuse hidden(drives.posix(QStringLiteral(".hidden/remote")));
    if (!hidden.mounted())
        GTEST_SKIP() << "no FUSE mount here: " << hidden.whyNot().toStdString();
    BlockingFuse shared(drives.posix(QStringLiteral("share")));
    ASSERT_TRUE(shared.mounted()) << shared.whyNot().toStdString();

    drives.writeFile(QStringLiteral("tools/present.exe"), "x");
    drives.writeFile(QStringLiteral("links/fine.lnk"), linkTo(QStringLiteral("C:\\tools\\present.exe")));
    drives.writeFile(QStringLiteral("links/gone.lnk"), linkWithFacts(QStringLiteral("C:\\Old\\gone.exe")));
    const QStringList expected = {drives.win(QStringLiteral("links/gone.lnk"))};

    host.sinceDispatch.invalidate();
    host.longestGapMs = 0;
    EXPECT_EQ(scanned(), expected);
    EXPECT_GE(shared.opens(), 1); // the walk tried it, with a bound
    EXPECT_EQ(hidden.opens(), 0); // no candidate could lie there
    EXPECT_LT(host.longestGapMs, 1000);

    const int opensBefore = shared.opens() + hidden.opens();
    EXPECT_EQ(scanned(), expected);
    EXPECT_EQ(shared.opens() + hidden.opens(), opensBefore);
    EXPECT_LT(host.longestGapMs, 1000);
}

TEST_F(HostileTreeTest, NamesWindowsCannotHave)
{
    drives.makeFolder(QStringLiteral("odd"));
    const QByteArray odd = drives.posix(QStringLiteral("odd"));
    // Names a Windows path can carry are checked like any other.
    const QStringList named = {broken(QStringLiteral("odd/-rf.lnk")),
                               broken(QStringLiteral("odd/--help.lnk")),
                               broken(QStringLiteral("odd/-dash/inner.lnk")),
                               broken(QStringLiteral("odd/100%off%.lnk")),
                               broken(QStringLiteral("odd/%windir%.lnk")),
                               broken(QStringLiteral("odd/\u00e9t\u00e9 \u65e5\u672c \U0001F370.lnk"))};
    // Names it cannot carry are never yielded: no Windows path could name
    // them for the check, the list or the trash. Neither are folders of
    // such names walked.
    const QList<QByteArray> files = {"new\nline.lnk", "back\\slash.lnk", "co:lon.lnk",
                                     "latin\xe9.lnk", "bad\xff\xfe.lnk", "tab\t.lnk"};
    const QList<QByteArray> folders = {"dir\nx", "caf\xe9", "a:b", "a\\b"};
    // Qt cannot name some of these to remove them; they go first.
    struct RawCleanUp
    {
        const QByteArray &odd;
        const QList<QByteArray> &files, &folders;
        ~RawCleanUp()
        {
            for (const QByteArray &name : files)
                ::unlink((odd + '/' + name).constData());
            for (const QByteArray &name : folders) {
                ::unlink((odd + '/' + name + "/inner.lnk").constData());
                ::rmdir((odd + '/' + name).constData());
            }
        }
    } cleanUp{odd, files, folders};
    for (const QByteArray &name : files)
        ASSERT_TRUE(writeRaw(odd + '/' + name, m_broken)) << name.constData();
    for (const QByteArray &folder : folders) {
        ASSERT_EQ(::mkdir((odd + '/' + folder).constData(), 0755), 0);
        ASSERT_TRUE(writeRaw(odd + '/' + folder + "/inner.lnk", m_broken));
    }
    // Targets whose names hold percent signs exist as written: they are
    // names, not variables, and these shortcuts are not broken.
    drives.writeFile(QStringLiteral("sale/50%off%/price list.txt"), "x");
    drives.writeFile(QStringLiteral("sale/%windir%/notes.txt"), "x");
    drives.writeFile(QStringLiteral("odd/percent1.lnk"),
                     linkTo(QStringLiteral("C:\\sale\\50%off%\\price list.txt")));
    drives.writeFile(QStringLiteral("odd/percent2.lnk"),
                     linkTo(QStringLiteral("C:\\sale\\%windir%\\notes.txt")));

    EXPECT_EQ(scanned(), sorted(named));
}

TEST_F(HostileTreeTest, UnreadableFoldersAndFiles)
{
    const QString visible = broken(QStringLiteral("open/visible.lnk"));
    broken(QStringLiteral("open/secret.lnk"));
    broken(QStringLiteral("locked/inner.lnk"));
    broken(QStringLiteral("unsearchable/inner.lnk"));
    broken(QStringLiteral("open/deeper/locked/inner.lnk"));
    const QString after = broken(QStringLiteral("zz-after/after.lnk"));
    ASSERT_EQ(::chmod(drives.posix(QStringLiteral("open/secret.lnk")).constData(), 0), 0);
    ASSERT_EQ(::chmod(drives.posix(QStringLiteral("locked")).constData(), 0), 0);
    ASSERT_EQ(::chmod(drives.posix(QStringLiteral("unsearchable")).constData(), 0444), 0);
    ASSERT_EQ(::chmod(drives.posix(QStringLiteral("open/deeper/locked")).constData(), 0111), 0);
    UnprivilegedFiles::letEveryoneThrough(drives.root());

    // Run as root, the scan meets these permissions as an ordinary user would.
    const UnprivilegedFiles unprivileged;
    if (!unprivileged.binding())
        GTEST_SKIP() << "permissions cannot be made to bind here";
    // What cannot be read cannot be judged, and is not listed; the walk goes
    // on past it.
    EXPECT_EQ(scanned(), sorted({visible, after}));
}

TEST_F(HostileTreeTest, PipesSocketsDevicesAndHugeFilesNamedLikeShortcutsAreNotOpened)
{
    drives.makeFolder(QStringLiteral("special"));
    const QByteArray special = drives.posix(QStringLiteral("special"));
    const QString real = broken(QStringLiteral("special/real.lnk"));
    ASSERT_EQ(::mkfifo((special + "/fifo.lnk").constData(), 0644), 0);
    ASSERT_EQ(::symlink("fifo.lnk", (special + "/to-fifo.lnk").constData()), 0);
    ASSERT_EQ(::symlink("/dev/zero", (special + "/to-zero.lnk").constData()), 0);

    const int sock = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(sock, 0);
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    const QByteArray socketPath = special + "/socket.lnk";
    ASSERT_LT(size_t(socketPath.size()), sizeof address.sun_path);
    std::memcpy(address.sun_path, socketPath.constData(), size_t(socketPath.size()));
    ASSERT_EQ(::bind(sock, reinterpret_cast<const sockaddr *>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(sock, 1), 0);
    if (::geteuid() == 0) {
        // A device node of its own (like /dev/null); making one needs root.
        ASSERT_EQ(::mknod((special + "/device.lnk").constData(), S_IFCHR | 0644, makedev(1, 3)), 0);
    }

    // A 100 MB file, a shortcut at its start, the rest a hole: refused by
    // its size before anything of it is read.
    const QByteArray huge = special + "/huge.lnk";
    ASSERT_TRUE(writeRaw(huge, m_broken));
    ASSERT_EQ(::truncate(huge.constData(), 100LL << 20), 0);
    // Just over the limit: refused too.
    ASSERT_TRUE(writeRaw(special + "/limit.lnk", m_broken));
    ASSERT_EQ(::truncate((special + "/limit.lnk").constData(), ShellLinkService::kMaxLinkFileSize + 1), 0);

    OpenWatch watch(special);
    ASSERT_TRUE(watch.usable());
    EXPECT_EQ(scanned(), QStringList{real});
    EXPECT_EQ(watch.touched(), QStringList{QStringLiteral("real.lnk")});
    // Nobody connected to the socket.
    const int flags = ::fcntl(sock, F_GETFL);
    ::fcntl(sock, F_SETFL, flags | O_NONBLOCK);
    EXPECT_LT(::accept(sock, nullptr, nullptr), 0);
    ::close(sock);
}

TEST_F(HostileTreeTest, ShortcutsChangedBetweenTheWalkAndTheCheck)
{
    // Once the walk has read the folder and checked its first shortcut,
    // every other one is deleted or replaced before its turn comes.
    drives.writeFile(QStringLiteral("present.txt"), "here", QLatin1Char('d'));
    const QByteArray fixed = linkTo(QStringLiteral("D:\\present.txt"));
    const QByteArray otherBroken = linkTo(QStringLiteral("D:\\Gone\\other.exe"));
    QStringList all;
    for (int i = 0; i < 8; ++i)
        all << broken(QStringLiteral("race/r%1.lnk").arg(i));
    const QByteArray race = drives.posix(QStringLiteral("race"));

    enum class Change { Deleted, Fifo, Folder, NowFine, StillBroken, ToDevice, ToMissing };
    QStringList expected;
    bool changed = false;
    host.onDispatch = [&] {
        if (changed || host.checkList.size() != 1)
            return;
        changed = true;
        const QString first = host.checkList.first();
        expected << first;
        int next = 0;
        for (const QString &path : all) {
            if (path == first)
                continue;
            const QByteArray posix = race + '/' + QFile::encodeName(path.mid(path.lastIndexOf('\\') + 1));
            ASSERT_EQ(::unlink(posix.constData()), 0);
            switch (Change(next++)) {
            case Change::Deleted:
                break;
            case Change::Fifo:
                ASSERT_EQ(::mkfifo(posix.constData(), 0644), 0);
                break;
            case Change::Folder:
                ASSERT_EQ(::mkdir(posix.constData(), 0755), 0);
                break;
            case Change::NowFine:
                ASSERT_TRUE(writeRaw(posix, fixed));
                break;
            case Change::StillBroken:
                ASSERT_TRUE(writeRaw(posix, otherBroken));
                expected << path;
                break;
            case Change::ToDevice:
                ASSERT_EQ(::symlink("/dev/zero", posix.constData()), 0);
                break;
            case Change::ToMissing:
                ASSERT_EQ(::symlink("nowhere.lnk", posix.constData()), 0);
                break;
            }
        }
    };
    const QStringList listed = scanned();
    EXPECT_TRUE(changed);
    EXPECT_EQ(expected.size(), 2);
    EXPECT_EQ(listed, sorted(expected));
}

// A place whose calls never return until the test lets them: stands in for a
// network share whose server went away.
class HangingPlace
{
public:
    HangingPlace() : m_state(std::make_shared<State>()) {}
    ~HangingPlace() { releaseAndWait(); }
    HangingPlace(const HangingPlace &) = delete;
    HangingPlace &operator=(const HangingPlace &) = delete;

    // Installs the place on a service: targets below `winFolder` hang.
    void install(ShellLinkService &service, const QString &winFolder,
                 std::shared_ptr<const DriveContext> drives)
    {
        const QString prefix = winFolder.toLower() + QLatin1Char('\\');
        auto state = m_state;
        service.targetLook().setHooks(
            [state, prefix, drives](const QString &winPath, FileFacts &facts) {
                if (winPath.toLower().startsWith(prefix)) {
                    std::unique_lock lock(state->mutex);
                    if (!state->released) {
                        ++state->blocked;
                        state->changed.wait(lock, [&] { return state->released; });
                        --state->blocked;
                        state->changed.notify_all();
                    }
                }
                return TargetLook::lookDirectly(*drives, winPath, facts);
            },
            [prefix](const QString &winPath) -> std::optional<QByteArray> {
                if (winPath.toLower().startsWith(prefix))
                    return prefix.toUtf8();
                return std::nullopt;
            });
    }
    int blocked() const
    {
        const std::lock_guard lock(m_state->mutex);
        return m_state->blocked;
    }
    void releaseAndWait()
    {
        std::unique_lock lock(m_state->mutex);
        m_state->released = true;
        m_state->changed.notify_all();
        m_state->changed.wait(lock, [&] { return m_state->blocked == 0; });
    }

private:
    struct State
    {
        mutable std::mutex mutex;
        std::condition_variable changed;
        int blocked = 0;
        bool released = false;
    };
    std::shared_ptr<State> m_state;
};

TEST_F(HostileTreeTest, TargetsOnAPlaceThatNeverAnswers)
{
    HangingPlace share;
    share.install(service, QStringLiteral("c:\\net"), drives.context());
    drives.makeFolder(QStringLiteral("net"));
    // Two shortcuts into the hanging place, one broken shortcut elsewhere.
    drives.writeFile(QStringLiteral("links/a-hung.lnk"), linkTo(QStringLiteral("C:\\net\\share\\tool.exe")));
    drives.writeFile(QStringLiteral("links/b-hung.lnk"), linkTo(QStringLiteral("C:\\net\\share\\other.exe")));
    const QString elsewhere = broken(QStringLiteral("links/c-broken.lnk"));

    // The scan finishes. A target whose place did not answer cannot be
    // judged and is not listed; the second look at the same place gives up
    // at once instead of leaving another call blocked.
    EXPECT_EQ(scanned(), QStringList{elsewhere});
    EXPECT_EQ(share.blocked(), 1);
    EXPECT_EQ(service.targetLook().hangingLooks(), 1);
    // The window was served while the look waited.
    EXPECT_GT(host.dispatches, 2);

    // Once the blocked call returns, the place is looked at again.
    drives.writeFile(QStringLiteral("net/share/tool.exe"), "x");
    drives.writeFile(QStringLiteral("net/share/other.exe"), "x");
    share.releaseAndWait();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (service.targetLook().hangingLooks() != 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_EQ(service.targetLook().hangingLooks(), 0);
    host.onDispatch = {};
    EXPECT_EQ(scanned(), QStringList{elsewhere});
    EXPECT_EQ(share.blocked(), 0);
}

} // namespace
