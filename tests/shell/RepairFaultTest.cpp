// Repairs that cannot be written, with real causes where the system lets a
// test make them (ResolveTest injects one fault into each step of the
// writer; these make the system refuse): a folder nobody may write into, a
// file size limit reached halfway through the new file, shortcuts the file
// system marks immutable or append-only, and shortcuts that change, vanish
// or turn into links while the repair is being written. After each the
// shortcut holds exactly what it held (or what its new owner put there), no
// temporary file is left beside it, and Resolve still reports the target it
// found.

#include "ResolveKit.h"
#include "shell/LinkWriter.h"
#include "support/UnprivilegedFiles.h"

#include <gtest/gtest.h>

#include <csignal>
#include <functional>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Sets or clears inode flags (FS_IMMUTABLE_FL, FS_APPEND_FL); only root may,
// and only on file systems that keep them.
bool setInodeFlag(const QByteArray &path, int flag, bool on)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    int flags = 0;
    bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (ok) {
        flags = on ? (flags | flag) : (flags & ~flag);
        ok = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ::close(fd);
    return ok;
}

// An inode flag for the length of a scope.
class InodeFlag
{
public:
    InodeFlag(QByteArray path, int flag) : m_path(std::move(path)), m_flag(flag)
    {
        m_set = ::geteuid() == 0 && setInodeFlag(m_path, m_flag, true);
    }
    ~InodeFlag()
    {
        if (m_set)
            setInodeFlag(m_path, m_flag, false);
    }
    InodeFlag(const InodeFlag &) = delete;
    InodeFlag &operator=(const InodeFlag &) = delete;
    bool isSet() const { return m_set; }

private:
    QByteArray m_path;
    int m_flag;
    bool m_set = false;
};

class RepairFaultTest : public ::testing::Test
{
protected:
    // links/a.lnk points at docs/a.txt, which has since moved to
    // docs/moved/a.txt: Resolve finds it there and wants to write the link.
    void SetUp() override
    {
        m_drives.writeFile(QStringLiteral("docs/a.txt"), "a");
        makeShortcut(m_drives, QStringLiteral("links/a.lnk"), QStringLiteral("docs/a.txt"));
        ASSERT_TRUE(moveFile(m_drives, QStringLiteral("docs/a.txt"), QStringLiteral("docs/moved/a.txt")));
        m_before = fileState(shortcut());
    }

    QByteArray shortcut() const { return m_drives.posix(QStringLiteral("links/a.lnk")); }
    QByteArray folder() const { return m_drives.posix(QStringLiteral("links")); }
    QString found() const { return linkForm(m_drives.win(QStringLiteral("docs/moved/a.txt"))); }

    // Resolves the shortcut as the scan does: S_OK, and the link object
    // holds the found target whether or not the file could be written.
    void resolveExpectingNoWrite(const std::function<void(LinkSession &)> &betweenLoadAndResolve = {})
    {
        LinkSession session(m_service, m_drives.win(QStringLiteral("links/a.lnk")));
        ASSERT_EQ(session.loaded, win::S_OK);
        if (betweenLoadAndResolve)
            betweenLoadAndResolve(session);
        EXPECT_EQ(session.resolve(), win::S_OK);
        EXPECT_EQ(session.path(), found());
    }

    void expectUntouched() const
    {
        EXPECT_EQ(fileState(shortcut()), m_before);
        EXPECT_EQ(folderNames(folder()), QStringList{QStringLiteral("a.lnk")});
    }

    TempDrives m_drives;
    ShellLinkService m_service{m_drives.context()};
    FileState m_before;
};

TEST_F(RepairFaultTest, FolderNobodyMayWriteInto)
{
    // The shortcut itself may be written by anyone; its folder may not.
    ASSERT_EQ(::chmod(shortcut().constData(), 0666), 0);
    ASSERT_EQ(::chmod(folder().constData(), 0555), 0);
    UnprivilegedFiles::letEveryoneThrough(m_drives.root());
    m_before = fileState(shortcut());
    {
        const UnprivilegedFiles unprivileged;
        if (!unprivileged.binding())
            GTEST_SKIP() << "permissions cannot be made to bind here";
        resolveExpectingNoWrite();
    }
    expectUntouched();
}

TEST_F(RepairFaultTest, NoRoomHalfwayThroughTheNewFile)
{
    // A file size limit smaller than the link: the kernel takes the first
    // part of the new file, then refuses the rest (EFBIG), as a full disk
    // refuses with ENOSPC.
    ASSERT_GT(m_before.bytes.size(), 64);
    struct rlimit old = {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldSignal = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 64;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    resolveExpectingNoWrite();
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldSignal);
    expectUntouched();
}

TEST_F(RepairFaultTest, ImmutableShortcut)
{
    const InodeFlag immutable(shortcut(), FS_IMMUTABLE_FL);
    if (!immutable.isSet())
        GTEST_SKIP() << "needs root and a file system with inode flags";
    resolveExpectingNoWrite();
    expectUntouched();
}

TEST_F(RepairFaultTest, AppendOnlyShortcutRefusesTheRename)
{
    // Open for writing it is, so only the rename over it fails.
    const InodeFlag appendOnly(shortcut(), FS_APPEND_FL);
    if (!appendOnly.isSet())
        GTEST_SKIP() << "needs root and a file system with inode flags";
    resolveExpectingNoWrite();
    expectUntouched();
}

TEST_F(RepairFaultTest, AppendOnlyOrImmutableFolder)
{
    // In an append-only folder a new file can be made but never renamed over
    // the shortcut or removed again; the writer must not begin.
    for (const int flag : {FS_APPEND_FL, FS_IMMUTABLE_FL}) {
        const InodeFlag locked(folder(), flag);
        if (!locked.isSet())
            GTEST_SKIP() << "needs root and a file system with inode flags";
        resolveExpectingNoWrite();
        EXPECT_EQ(fileState(shortcut()), m_before);
        EXPECT_EQ(folderNames(folder()), QStringList{QStringLiteral("a.lnk")}) << flag;
    }
}

TEST_F(RepairFaultTest, ShortcutChangedWhileTheRepairIsWritten)
{
    // Someone else changes the shortcut after the writer has made its new
    // file and before it is renamed into place: theirs stays.
    const QByteArray theirs = "their own new contents";
    struct Change
    {
        const char *what;
        std::function<void(const QByteArray &)> apply;
    };
    const Change changes[] = {
        {"appended to",
         [](const QByteArray &path) {
             QFile file(QFile::decodeName(path));
             ASSERT_TRUE(file.open(QIODevice::Append));
             file.write("x");
         }},
        {"rewritten with the same size and time",
         [](const QByteArray &path) {
             struct stat st;
             ASSERT_EQ(::stat(path.constData(), &st), 0);
             QByteArray bytes = readWholeFile(path);
             bytes[bytes.size() - 1] = char(bytes.back() ^ 0x5A);
             QFile file(QFile::decodeName(path));
             ASSERT_TRUE(file.open(QIODevice::ReadWrite));
             file.write(bytes);
             file.close();
             const struct timespec times[2] = {st.st_atim, st.st_mtim};
             ASSERT_EQ(::utimensat(AT_FDCWD, path.constData(), times, 0), 0);
         }},
        {"replaced by another file",
         [&theirs](const QByteArray &path) {
             const QByteArray other = path + ".theirs";
             QFile file(QFile::decodeName(other));
             ASSERT_TRUE(file.open(QIODevice::WriteOnly));
             file.write(theirs);
             file.close();
             ASSERT_EQ(::rename(other.constData(), path.constData()), 0);
         }},
        {"deleted", [](const QByteArray &path) { ASSERT_EQ(::unlink(path.constData()), 0); }},
    };
    for (const Change &change : changes) {
        m_drives.writeFile(QStringLiteral("links/a.lnk"), m_before.bytes);
        std::optional<FileState> after;
        m_service.linkWriter().setFaultHook([&](LinkWriter::Step step) {
            if (step == LinkWriter::Step::Sync) {
                change.apply(shortcut());
                after = fileState(shortcut());
            }
            return 0;
        });
        resolveExpectingNoWrite();
        ASSERT_TRUE(after) << change.what;
        EXPECT_EQ(fileState(shortcut()), *after) << change.what;
        const QStringList left = folderNames(folder());
        EXPECT_EQ(left, after->bytes.isEmpty() ? QStringList() : QStringList{QStringLiteral("a.lnk")})
            << change.what;
    }
}

TEST_F(RepairFaultTest, ShortcutGoneOrTurnedIntoALinkBeforeTheRepair)
{
    // Deleted after it was loaded: the repair does not bring it back.
    resolveExpectingNoWrite([&](LinkSession &) { ASSERT_EQ(::unlink(shortcut().constData()), 0); });
    EXPECT_TRUE(folderNames(folder()).isEmpty());

    // Replaced by a symbolic link to someone else's file: that file is not
    // written through the link.
    m_drives.writeFile(QStringLiteral("links/a.lnk"), m_before.bytes);
    m_drives.writeFile(QStringLiteral("elsewhere/other.lnk"), m_before.bytes);
    const QByteArray other = m_drives.posix(QStringLiteral("elsewhere/other.lnk"));
    const FileState otherBefore = fileState(other);
    resolveExpectingNoWrite([&](LinkSession &) {
        ASSERT_EQ(::unlink(shortcut().constData()), 0);
        ASSERT_EQ(::symlink(other.constData(), shortcut().constData()), 0);
    });
    EXPECT_EQ(fileState(other), otherBefore);
    EXPECT_EQ(folderNames(m_drives.posix(QStringLiteral("elsewhere"))),
              QStringList{QStringLiteral("other.lnk")});
    EXPECT_EQ(folderNames(folder()), QStringList{QStringLiteral("a.lnk")});
}

} // namespace
