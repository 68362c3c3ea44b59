#include "shell/LinkWriter.h"
#include "shell/ResolveKit.h"

#include <QFile>

#include <gtest/gtest.h>

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

class ResolveTest : public ::testing::Test
{
protected:
    QString win(const QString &relative) const { return m_drives.win(relative); }
    // A target as GetPath gives it: links store the drive letter in upper case.
    QString target(const QString &relative) const { return linkForm(m_drives.win(relative)); }
    QByteArray posix(const QString &relative) const { return m_drives.posix(relative); }

    TempDrives m_drives;
    ShellLinkService m_service{m_drives.context()};
};

TEST_F(ResolveTest, ExistingTargetsAreLeftAlone)
{
    m_drives.writeFile(QStringLiteral("docs/report.txt"), "contents");
    m_drives.makeFolder(QStringLiteral("docs/photos"));
    makeShortcut(m_drives, QStringLiteral("links/file.lnk"), QStringLiteral("docs/report.txt"));
    makeShortcut(m_drives, QStringLiteral("links/folder.lnk"), QStringLiteral("docs/photos"));
    const FileState fileBefore = fileState(posix(QStringLiteral("links/file.lnk")));
    const FileState folderBefore = fileState(posix(QStringLiteral("links/folder.lnk")));

    win::HRESULT hr = win::E_FAIL;
    EXPECT_EQ(resolvedTarget(m_service, win(QStringLiteral("links\\file.lnk")), &hr),
              target(QStringLiteral("docs\\report.txt")));
    EXPECT_EQ(hr, win::S_OK);
    EXPECT_EQ(resolvedTarget(m_service, win(QStringLiteral("links\\folder.lnk")), &hr),
              target(QStringLiteral("docs\\photos")));
    EXPECT_EQ(hr, win::S_OK);

    EXPECT_EQ(fileState(posix(QStringLiteral("links/file.lnk"))), fileBefore);
    EXPECT_EQ(fileState(posix(QStringLiteral("links/folder.lnk"))), folderBefore);
}

TEST_F(ResolveTest, FindsTargetsThatMoved)
{
    struct Case
    {
        const char *from;
        const char *to;
    };
    const Case cases[] = {
        {"work/a/notes.txt", "work/b/notes.txt"},               // to a sibling folder
        {"work/c/draft.txt", "work/c/final.txt"},               // renamed in place
        {"work/d/data.csv", "work/d/2024/q1/data.csv"},         // moved deeper
        {"work/e/Old Folder", "work/f/Old Folder"},             // a folder moved
        {"work/g/Ünïcødé 名前.txt", "work/h/Ünïcødé 名前.txt"}, // non-ASCII name
    };
    int n = 0;
    for (const Case &c : cases) {
        const QString from = QString::fromUtf8(c.from), to = QString::fromUtf8(c.to);
        const QString shortcut = QStringLiteral("links/%1.lnk").arg(++n);
        if (from.endsWith(QStringLiteral("Folder")))
            m_drives.makeFolder(from);
        else
            m_drives.writeFile(from, "payload of " + from.toUtf8());
        makeShortcut(m_drives, shortcut, from);
        ASSERT_TRUE(moveFile(m_drives, from, to)) << c.from;

        win::HRESULT hr = win::E_FAIL;
        EXPECT_EQ(resolvedTarget(m_service, win(shortcut), &hr), target(to)) << c.from;
        EXPECT_EQ(hr, win::S_OK);
        // Written back: a fresh service reads the new target from the file.
        EXPECT_EQ(storedTarget(m_drives, win(shortcut)), target(to)) << c.from;
    }
    EXPECT_EQ(folderNames(posix(QStringLiteral("links"))).size(), n); // no temporary files left
}

TEST_F(ResolveTest, RelativePathToTheSameNameIsTheTargetAndKeepsTheBytes)
{
    // The shortcut and its target moved together (a portable drive, a
    // copied project): the relative path leads to the target, which is
    // there, so the shortcut is not broken and nothing is rewritten, even
    // with a file of the same name, size and times nearer the drive's root.
    m_drives.writeFile(QStringLiteral("proj/data/a.txt"), "same");
    makeShortcut(m_drives, QStringLiteral("proj/link.lnk"), QStringLiteral("proj/data/a.txt"));
    ASSERT_TRUE(moveFile(m_drives, QStringLiteral("proj"), QStringLiteral("proj2")));
    m_drives.writeFile(QStringLiteral("a.txt"), "same");
    struct stat st;
    ASSERT_EQ(::stat(posix(QStringLiteral("proj2/data/a.txt")).constData(), &st), 0);
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, posix(QStringLiteral("a.txt")).constData(), times, 0), 0);
    const FileState before = fileState(posix(QStringLiteral("proj2/link.lnk")));

    win::HRESULT hr = win::E_FAIL;
    EXPECT_EQ(resolvedTarget(m_service, win(QStringLiteral("proj2\\link.lnk")), &hr),
              win(QStringLiteral("proj2\\data\\a.txt")));
    EXPECT_EQ(hr, win::S_OK);
    EXPECT_EQ(fileState(posix(QStringLiteral("proj2/link.lnk"))), before);
}

TEST_F(ResolveTest, NothingToFindLeavesTheFileUntouched)
{
    m_drives.writeFile(QStringLiteral("docs/gone.txt"), "soon gone");
    makeShortcut(m_drives, QStringLiteral("links/gone.lnk"), QStringLiteral("docs/gone.txt"));
    ASSERT_EQ(::unlink(posix(QStringLiteral("docs/gone.txt")).constData()), 0);
    m_drives.writeFile(QStringLiteral("docs/other.txt"), "something else");
    const FileState before = fileState(posix(QStringLiteral("links/gone.lnk")));

    win::HRESULT hr = win::E_FAIL;
    EXPECT_EQ(resolvedTarget(m_service, win(QStringLiteral("links\\gone.lnk")), &hr),
              target(QStringLiteral("docs\\gone.txt")));
    EXPECT_EQ(hr, win::S_FALSE);
    EXPECT_EQ(fileState(posix(QStringLiteral("links/gone.lnk"))), before);
}

TEST_F(ResolveTest, NameAloneIsNeverEnough)
{
    // A different file that merely shares a common name is not taken for
    // the target, far from where it was or near.
    m_drives.writeFile(QStringLiteral("a/b/c/d/e/setup.exe"), "the real one");
    makeShortcut(m_drives, QStringLiteral("links/setup.lnk"), QStringLiteral("a/b/c/d/e/setup.exe"));
    ASSERT_EQ(::unlink(posix(QStringLiteral("a/b/c/d/e/setup.exe")).constData()), 0);
    m_drives.writeFile(QStringLiteral("other/vendor/setup.exe"), "another program, another size");
    m_drives.writeFile(QStringLiteral("a/b/c/d/setup.exe"), "nearby, different size");
    struct timeval old[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(::utimes(posix(QStringLiteral("other/vendor/setup.exe")).constData(), old), 0);
    const FileState before = fileState(posix(QStringLiteral("links/setup.lnk")));

    win::HRESULT hr = win::E_FAIL;
    EXPECT_EQ(resolvedTarget(m_service, win(QStringLiteral("links\\setup.lnk")), &hr),
              target(QStringLiteral("a\\b\\c\\d\\e\\setup.exe")));
    EXPECT_EQ(hr, win::S_FALSE);
    EXPECT_EQ(fileState(posix(QStringLiteral("links/setup.lnk"))), before);
}

TEST_F(ResolveTest, PrefersTheCandidateThatMatchesTheHeader)
{
    m_drives.writeFile(QStringLiteral("music/song.mp3"), "the song itself");
    makeShortcut(m_drives, QStringLiteral("links/song.lnk"), QStringLiteral("music/song.mp3"));
    ASSERT_TRUE(
        moveFile(m_drives, QStringLiteral("music/song.mp3"), QStringLiteral("music/z/deep/song.mp3")));
    m_drives.writeFile(QStringLiteral("music/a/song.mp3"), "a cover, other size");
    struct timeval old[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(::utimes(posix(QStringLiteral("music/a/song.mp3")).constData(), old), 0);

    EXPECT_EQ(resolvedTarget(m_service, win(QStringLiteral("links\\song.lnk"))),
              target(QStringLiteral("music\\z\\deep\\song.mp3")));
}

TEST_F(ResolveTest, AmbiguousRenameIsNotGuessed)
{
    // Two files of the same size and time in the old folder: the renamed
    // one cannot be told apart, so the in-place step takes neither.
    m_drives.writeFile(QStringLiteral("box/one.bin"), "12345678");
    makeShortcut(m_drives, QStringLiteral("links/one.lnk"), QStringLiteral("box/one.bin"));
    ASSERT_TRUE(moveFile(m_drives, QStringLiteral("box/one.bin"), QStringLiteral("box/two.bin")));
    m_drives.writeFile(QStringLiteral("box/three.bin"), "87654321");
    struct stat st;
    ASSERT_EQ(::stat(posix(QStringLiteral("box/two.bin")).constData(), &st), 0);
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, posix(QStringLiteral("box/three.bin")).constData(), times, 0), 0);
    // Birth times differ, but the write time matches both.

    LinkSession session(m_service, win(QStringLiteral("links\\one.lnk")));
    ASSERT_EQ(session.loaded, win::S_OK);
    const win::HRESULT hr = session.resolve();
    FileFacts two, three;
    readFacts(posix(QStringLiteral("box/two.bin")), two);
    readFacts(posix(QStringLiteral("box/three.bin")), three);
    if (two.creationTime != 0 && two.creationTime != three.creationTime) {
        // With birth times the file system tells them apart after all.
        EXPECT_EQ(hr, win::S_OK);
        EXPECT_EQ(session.path(), target(QStringLiteral("box\\two.bin")));
    } else {
        EXPECT_EQ(hr, win::S_FALSE);
    }
}

TEST_F(ResolveTest, RenamedInPlaceNeedsItsSizeAndCreationTime)
{
    m_drives.writeFile(QStringLiteral("notes/draft.txt"), "first words");
    FileFacts facts;
    ASSERT_EQ(readFacts(posix(QStringLiteral("notes/draft.txt")), facts), FactsStatus::Found);
    if (facts.creationTime == 0)
        GTEST_SKIP() << "this file system keeps no birth times";
    makeShortcut(m_drives, QStringLiteral("links/draft.lnk"), QStringLiteral("notes/draft.txt"));
    ASSERT_TRUE(
        moveFile(m_drives, QStringLiteral("notes/draft.txt"), QStringLiteral("notes/chapter one.txt")));
    QFile file(QFile::decodeName(posix(QStringLiteral("notes/chapter one.txt"))));
    ASSERT_TRUE(file.open(QIODevice::Append));
    file.write(" and many more");
    file.close();
    m_drives.writeFile(QStringLiteral("notes/other.txt"), "other words, more of them");
    struct stat st;
    ASSERT_EQ(::stat(posix(QStringLiteral("notes/chapter one.txt")).constData(), &st), 0);
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, posix(QStringLiteral("notes/other.txt")).constData(), times, 0), 0);

    // Renamed and edited, it is no longer what was recorded: another name
    // and another size is too little to go by.
    win::HRESULT resolved = win::E_FAIL;
    resolvedTarget(m_service, win(QStringLiteral("links\\draft.lnk")), &resolved);
    EXPECT_EQ(resolved, win::S_FALSE);
    // Renamed alone, its size and creation time single it out; the other
    // file of the folder has its write time, not its size.
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("first words");
    file.close();
    EXPECT_EQ(resolvedTarget(m_service, win(QStringLiteral("links\\draft.lnk"))),
              target(QStringLiteral("notes\\chapter one.txt")));
}

TEST_F(ResolveTest, ReadOnlyShortcutIsResolvedButNotWritten)
{
    m_drives.writeFile(QStringLiteral("docs/a.txt"), "a");
    makeShortcut(m_drives, QStringLiteral("links/ro.lnk"), QStringLiteral("docs/a.txt"));
    ASSERT_TRUE(moveFile(m_drives, QStringLiteral("docs/a.txt"), QStringLiteral("docs/new/a.txt")));
    ASSERT_EQ(::chmod(posix(QStringLiteral("links/ro.lnk")).constData(), 0444), 0);
    const FileState before = fileState(posix(QStringLiteral("links/ro.lnk")));

    win::HRESULT hr = win::E_FAIL;
    EXPECT_EQ(resolvedTarget(m_service, win(QStringLiteral("links\\ro.lnk")), &hr),
              target(QStringLiteral("docs\\new\\a.txt")));
    EXPECT_EQ(hr, win::S_OK);
    EXPECT_EQ(fileState(posix(QStringLiteral("links/ro.lnk"))), before);
    EXPECT_EQ(folderNames(posix(QStringLiteral("links"))), QStringList{QStringLiteral("ro.lnk")});
}

TEST_F(ResolveTest, FailedWritesKeepTheOldBytes)
{
    struct Fault
    {
        LinkWriter::Step step;
        int error;
    };
    const Fault faults[] = {
        {LinkWriter::Step::CreateTemp, EACCES}, // folder not writable
        {LinkWriter::Step::Write, ENOSPC},      // no room
        {LinkWriter::Step::Sync, EIO},
        {LinkWriter::Step::Rename, EBUSY}, // rename refused
    };
    m_drives.writeFile(QStringLiteral("docs/a.txt"), "a");
    makeShortcut(m_drives, QStringLiteral("links/a.lnk"), QStringLiteral("docs/a.txt"));
    ASSERT_TRUE(moveFile(m_drives, QStringLiteral("docs/a.txt"), QStringLiteral("docs/moved/a.txt")));
    const FileState before = fileState(posix(QStringLiteral("links/a.lnk")));

    for (const Fault &fault : faults) {
        m_service.linkWriter().setFaultHook(
            [&](LinkWriter::Step step) { return step == fault.step ? fault.error : 0; });
        win::HRESULT hr = win::E_FAIL;
        EXPECT_EQ(resolvedTarget(m_service, win(QStringLiteral("links\\a.lnk")), &hr),
                  target(QStringLiteral("docs\\moved\\a.txt")));
        EXPECT_EQ(hr, win::S_OK) << int(fault.step);
        EXPECT_EQ(fileState(posix(QStringLiteral("links/a.lnk"))), before) << int(fault.step);
        EXPECT_EQ(folderNames(posix(QStringLiteral("links"))), QStringList{QStringLiteral("a.lnk")})
            << int(fault.step);
    }

    // Without a fault the same link is written.
    m_service.linkWriter().setFaultHook({});
    EXPECT_EQ(resolvedTarget(m_service, win(QStringLiteral("links\\a.lnk"))),
              target(QStringLiteral("docs\\moved\\a.txt")));
    EXPECT_EQ(storedTarget(m_drives, win(QStringLiteral("links\\a.lnk"))),
              target(QStringLiteral("docs\\moved\\a.txt")));
}

TEST_F(ResolveTest, ShortcutChangedSinceLoadIsNotOverwritten)
{
    m_drives.writeFile(QStringLiteral("docs/a.txt"), "a");
    makeShortcut(m_drives, QStringLiteral("links/a.lnk"), QStringLiteral("docs/a.txt"));
    ASSERT_TRUE(moveFile(m_drives, QStringLiteral("docs/a.txt"), QStringLiteral("docs/moved/a.txt")));

    LinkSession session(m_service, win(QStringLiteral("links\\a.lnk")));
    ASSERT_EQ(session.loaded, win::S_OK);
    // Someone else saves the shortcut between our load and our write.
    m_drives.writeFile(QStringLiteral("docs/b.txt"), "b");
    makeShortcut(m_drives, QStringLiteral("links/a.lnk"), QStringLiteral("docs/b.txt"));
    const FileState theirs = fileState(posix(QStringLiteral("links/a.lnk")));

    EXPECT_EQ(session.resolve(), win::S_OK);
    EXPECT_EQ(session.path(), target(QStringLiteral("docs\\moved\\a.txt")));
    EXPECT_EQ(fileState(posix(QStringLiteral("links/a.lnk"))), theirs);
}

TEST_F(ResolveTest, SymbolicLinkShortcutKeepsItsBytesAndItsFileIsRepairedByItsOwnName)
{
    m_drives.writeFile(QStringLiteral("docs/a.txt"), "a");
    makeShortcut(m_drives, QStringLiteral("store/real.lnk"), QStringLiteral("docs/a.txt"));
    ASSERT_EQ(::chmod(posix(QStringLiteral("store/real.lnk")).constData(), 0640), 0);
    m_drives.makeFolder(QStringLiteral("desk"));
    ASSERT_EQ(::symlink("../store/real.lnk", posix(QStringLiteral("desk/alias.lnk")).constData()), 0);
    ASSERT_TRUE(moveFile(m_drives, QStringLiteral("docs/a.txt"), QStringLiteral("docs/moved/a.txt")));
    const FileState before = fileState(posix(QStringLiteral("store/real.lnk")));

    // Through the link: found, not written.
    EXPECT_EQ(resolvedTarget(m_service, win(QStringLiteral("desk\\alias.lnk"))),
              target(QStringLiteral("docs\\moved\\a.txt")));
    EXPECT_EQ(fileState(posix(QStringLiteral("store/real.lnk"))), before);

    // By its own name: written in place, permissions kept.
    EXPECT_EQ(resolvedTarget(m_service, win(QStringLiteral("store\\real.lnk"))),
              target(QStringLiteral("docs\\moved\\a.txt")));
    struct stat st;
    ASSERT_EQ(::lstat(posix(QStringLiteral("desk/alias.lnk")).constData(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(::stat(posix(QStringLiteral("store/real.lnk")).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(storedTarget(m_drives, win(QStringLiteral("store\\real.lnk"))),
              target(QStringLiteral("docs\\moved\\a.txt")));
    EXPECT_EQ(folderNames(posix(QStringLiteral("store"))), QStringList{QStringLiteral("real.lnk")});
}

TEST_F(ResolveTest, ShortcutsSharedWithOtherPlacesAreJudgedButNeverWritten)
{
    // A hard-linked shortcut: a new file renamed over one name would split
    // it from the other. One reached through a symbolic link from a file off
    // the drive: the change would land outside the drive being checked.
    // Both are resolved (so not listed) and keep their bytes and inode.
    m_drives.writeFile(QStringLiteral("docs/a.txt"), "a");
    makeShortcut(m_drives, QStringLiteral("links/a.lnk"), QStringLiteral("docs/a.txt"));
    m_drives.makeFolder(QStringLiteral("other"));
    ASSERT_EQ(::link(posix(QStringLiteral("links/a.lnk")).constData(),
                     posix(QStringLiteral("other/a-too.lnk")).constData()),
              0);
    QTemporaryDir offDrive;
    ASSERT_TRUE(offDrive.isValid());
    const QByteArray outside = QFile::encodeName(offDrive.path()) + "/outside.lnk";
    makeShortcut(m_drives, QStringLiteral("made-here.lnk"), QStringLiteral("docs/a.txt"));
    ASSERT_EQ(::rename(posix(QStringLiteral("made-here.lnk")).constData(), outside.constData()), 0);
    ASSERT_EQ(::symlink(outside.constData(), posix(QStringLiteral("links/alias.lnk")).constData()), 0);
    ASSERT_TRUE(moveFile(m_drives, QStringLiteral("docs/a.txt"), QStringLiteral("docs/moved/a.txt")));

    const FileState hardBefore = fileState(posix(QStringLiteral("links/a.lnk")));
    const FileState outsideBefore = fileState(outside);
    for (const QString &shortcut : {QStringLiteral("links\\a.lnk"), QStringLiteral("links\\alias.lnk")}) {
        win::HRESULT hr = win::E_FAIL;
        EXPECT_EQ(resolvedTarget(m_service, win(shortcut), &hr), target(QStringLiteral("docs\\moved\\a.txt")))
            << shortcut.toStdString();
        EXPECT_EQ(hr, win::S_OK);
    }
    EXPECT_EQ(fileState(posix(QStringLiteral("links/a.lnk"))), hardBefore);
    EXPECT_EQ(fileState(posix(QStringLiteral("other/a-too.lnk"))), hardBefore);
    EXPECT_EQ(fileState(outside), outsideBefore);
}

TEST_F(ResolveTest, WithoutUpdateNothingIsWritten)
{
    m_drives.writeFile(QStringLiteral("docs/a.txt"), "a");
    makeShortcut(m_drives, QStringLiteral("links/a.lnk"), QStringLiteral("docs/a.txt"));
    ASSERT_TRUE(moveFile(m_drives, QStringLiteral("docs/a.txt"), QStringLiteral("docs/moved/a.txt")));
    const FileState before = fileState(posix(QStringLiteral("links/a.lnk")));

    LinkSession session(m_service, win(QStringLiteral("links\\a.lnk")));
    EXPECT_EQ(session.resolve(win::SLR_NO_UI), win::S_OK);
    EXPECT_EQ(session.path(), target(QStringLiteral("docs\\moved\\a.txt")));
    EXPECT_EQ(fileState(posix(QStringLiteral("links/a.lnk"))), before);

    LinkSession noSearch(m_service, win(QStringLiteral("links\\a.lnk")));
    EXPECT_EQ(noSearch.resolve(win::SLR_NO_UI | win::SLR_UPDATE | win::SLR_NOSEARCH), win::S_FALSE);
    EXPECT_EQ(noSearch.path(), target(QStringLiteral("docs\\a.txt")));
}

TEST_F(ResolveTest, CachedListingsFollowChanges)
{
    // One service for several links, as in a scan: what the first search
    // read must not hide what changed afterwards.
    for (int i = 0; i < 20; ++i)
        m_drives.writeFile(QStringLiteral("tree/f%1/g/file%1.txt").arg(i), "x");
    m_drives.writeFile(QStringLiteral("docs/wanted.txt"), "wanted");
    makeShortcut(m_drives, QStringLiteral("links/1.lnk"), QStringLiteral("docs/wanted.txt"));
    makeShortcut(m_drives, QStringLiteral("links/2.lnk"), QStringLiteral("docs/wanted.txt"));
    makeShortcut(m_drives, QStringLiteral("links/3.lnk"), QStringLiteral("docs/wanted.txt"));
    ASSERT_TRUE(moveFile(m_drives, QStringLiteral("docs/wanted.txt"), QStringLiteral("aside/wanted.txt")));
    ASSERT_TRUE(moveFile(m_drives, QStringLiteral("aside"), QStringLiteral("../aside")));

    win::HRESULT hr = win::E_FAIL;
    resolvedTarget(m_service, win(QStringLiteral("links\\1.lnk")), &hr);
    EXPECT_EQ(hr, win::S_FALSE); // the whole drive was read: nothing there

    // It comes back deep in a folder the first search read.
    ASSERT_TRUE(
        moveFile(m_drives, QStringLiteral("../aside/wanted.txt"), QStringLiteral("tree/f7/g/wanted.txt")));
    EXPECT_EQ(resolvedTarget(m_service, win(QStringLiteral("links\\2.lnk")), &hr),
              target(QStringLiteral("tree\\f7\\g\\wanted.txt")));
    EXPECT_EQ(hr, win::S_OK);

    // Its folder is renamed: found at the new place, not at the cached one.
    ASSERT_TRUE(moveFile(m_drives, QStringLiteral("tree/f7"), QStringLiteral("tree/renamed")));
    EXPECT_EQ(resolvedTarget(m_service, win(QStringLiteral("links\\3.lnk")), &hr),
              target(QStringLiteral("tree\\renamed\\g\\wanted.txt")));

    // And deleted: the cached entry is not trusted.
    ASSERT_EQ(::unlink(posix(QStringLiteral("tree/renamed/g/wanted.txt")).constData()), 0);
    makeShortcut(m_drives, QStringLiteral("links/4.lnk"), QStringLiteral("tree/f3/g/file3.txt"));
    ASSERT_EQ(::unlink(posix(QStringLiteral("tree/f3/g/file3.txt")).constData()), 0);
    EXPECT_EQ(resolvedTarget(m_service, win(QStringLiteral("links\\3.lnk")), &hr),
              target(QStringLiteral("tree\\renamed\\g\\wanted.txt")));
    EXPECT_EQ(hr, win::S_FALSE);
    resolvedTarget(m_service, win(QStringLiteral("links\\4.lnk")), &hr);
    EXPECT_EQ(hr, win::S_FALSE);
}

TEST_F(ResolveTest, TimeLimitIsHonoured)
{
    // A big tree and a limit of 1 ms: the search gives up instead of
    // reading it all; with the default limit the same service finds it.
    std::unique_ptr<QTemporaryDir> memory;
    const QChar d = quickDrive(m_drives, memory);
    makeFolderGrid(m_drives, QStringLiteral("big"), 50, d);
    m_drives.writeFile(QStringLiteral("old/sub/target.txt"), "t", d);
    makeShortcut(m_drives, QStringLiteral("links/t.lnk"), QStringLiteral("old/sub/target.txt"), d);
    ASSERT_TRUE(moveFile(m_drives, QStringLiteral("old/sub/target.txt"),
                         QStringLiteral("big/d49/e49/target.txt"), d));
    const FileState before = fileState(m_drives.posix(QStringLiteral("links/t.lnk"), d));

    // The hook takes its time: the first look at the clock finds it is up.
    m_service.setProgressHook([] { ::usleep(2000); }, 0);
    LinkSession hurried(m_service, m_drives.win(QStringLiteral("links\\t.lnk"), d));
    EXPECT_EQ(hurried.resolve(win::SLR_NO_UI | win::SLR_UPDATE | (1u << 16)), win::S_FALSE);
    EXPECT_EQ(fileState(m_drives.posix(QStringLiteral("links/t.lnk"), d)), before);

    m_service.setProgressHook({});
    EXPECT_EQ(resolvedTarget(m_service, m_drives.win(QStringLiteral("links\\t.lnk"), d)),
              linkForm(m_drives.win(QStringLiteral("big\\d49\\e49\\target.txt"), d)));
}

TEST_F(ResolveTest, ProgressHookMayNotSearchAgain)
{
    // A hook that resolves another missing link while a search runs gets a
    // failure for it (never "broken"), and the outer search goes on.
    std::unique_ptr<QTemporaryDir> memory;
    const QChar d = quickDrive(m_drives, memory);
    makeFolderGrid(m_drives, QStringLiteral("big"), 50, d);
    m_drives.writeFile(QStringLiteral("old/x.txt"), "x", d);
    makeShortcut(m_drives, QStringLiteral("links/x.lnk"), QStringLiteral("old/x.txt"), d);
    makeShortcut(m_drives, QStringLiteral("links/y.lnk"), QStringLiteral("old/x.txt"), d);
    ASSERT_TRUE(moveFile(m_drives, QStringLiteral("old/x.txt"), QStringLiteral("big/d49/e49/x.txt"), d));

    int calls = 0;
    std::vector<win::HRESULT> inner;
    m_service.setProgressHook(
        [&] {
            ++calls;
            LinkSession nested(m_service, m_drives.win(QStringLiteral("links\\y.lnk"), d));
            inner.push_back(nested.resolve());
        },
        0);
    EXPECT_EQ(resolvedTarget(m_service, m_drives.win(QStringLiteral("links\\x.lnk"), d)),
              linkForm(m_drives.win(QStringLiteral("big\\d49\\e49\\x.txt"), d)));
    for (win::HRESULT hr : inner)
        EXPECT_EQ(hr, win::E_UNEXPECTED);
    EXPECT_GT(calls, 0);
    EXPECT_EQ(int(inner.size()), calls);
}

TEST_F(ResolveTest, AnUnknownVariableLeavesTheJudgementToTheOtherForms)
{
    LnkTargetInfo info;
    info.winPath = QStringLiteral("c:\\somewhere\\app.exe");
    info.attributes = 0x20;
    LnkCreateOptions options;
    options.environmentTarget = QStringLiteral("%NOSUCHVARIABLE%\\app.exe");
    const auto write = [&](const QString &name) {
        auto made = LnkFile::create(info, win(name), options);
        ASSERT_TRUE(std::holds_alternative<LnkFile>(made));
        m_drives.writeFile(name, std::get<LnkFile>(made).serialize());
    };
    write(QStringLiteral("with-others.lnk"));
    options.idList = options.linkInfo = options.relativePath = false;
    write(QStringLiteral("variable-only.lnk"));

    // Beside the variable, a LinkInfo path that is missing: broken.
    win::HRESULT hr = win::E_FAIL;
    EXPECT_EQ(resolvedTarget(m_service, win(QStringLiteral("with-others.lnk")), &hr),
              QStringLiteral("C:\\somewhere\\app.exe"));
    EXPECT_EQ(hr, win::S_FALSE);
    // And that exists: healthy.
    m_drives.writeFile(QStringLiteral("somewhere/app.exe"), "x");
    EXPECT_EQ(resolvedTarget(m_service, win(QStringLiteral("with-others.lnk")), &hr),
              QStringLiteral("C:\\somewhere\\app.exe"));
    EXPECT_EQ(hr, win::S_OK);

    // The variable alone: the target cannot be judged at all.
    LinkSession session(m_service, win(QStringLiteral("variable-only.lnk")));
    ASSERT_EQ(session.loaded, win::S_OK);
    EXPECT_LT(session.resolve(), 0);
}

} // namespace
