#include "ScanFixture.h"
#include "platform/FolderSearch.h"
#include "support/UnprivilegedFiles.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using WalkTest = ScanFixture;

// Where in the order of examined shortcuts a path stands (-1 when it was not examined).
qsizetype position(const QStringList &loaded, const QString &path)
{
    return loaded.indexOf(path);
}

TEST_F(WalkTest, FilesComeBeforeSubfoldersAndEachSubfolderIsWalkedWhole)
{
    // Names chosen so that name order would put the folders first.
    const QString rootB = shortcut(QStringLiteral("b.lnk"));
    const QString rootZ = shortcut(QStringLiteral("z.lnk"));
    const QString a1 = shortcut(QStringLiteral("a/a1.lnk"));
    const QString a2 = shortcut(QStringLiteral("a/aa/a2.lnk"));
    const QString a3 = shortcut(QStringLiteral("a/aa/aaa/a3.lnk"));
    const QString a4 = shortcut(QStringLiteral("a/ab/a4.lnk"));
    const QString m1 = shortcut(QStringLiteral("m/m1.lnk"));
    const QString m2 = shortcut(QStringLiteral("m/mm/m2.lnk"));
    scan.ScanFolder(QStringLiteral("c:\\"), QStringLiteral("*.lnk"), true);

    const QStringList &loaded = links.loaded;
    ASSERT_EQ(loaded.size(), 8) << loaded.join(QLatin1Char(' ')).toStdString();
    EXPECT_LT(std::max(position(loaded, rootB), position(loaded, rootZ)), 2);
    // Depth first: one top-level folder's shortcuts stand together.
    const qsizetype aFirst =
        std::min({position(loaded, a1), position(loaded, a2), position(loaded, a3), position(loaded, a4)});
    const qsizetype mFirst = std::min(position(loaded, m1), position(loaded, m2));
    EXPECT_TRUE(aFirst == 2 ? mFirst == 6 : (mFirst == 2 && aFirst == 4));
    // Within a: its own file before its subfolders, aa whole before or after ab.
    EXPECT_EQ(position(loaded, a1), aFirst);
    EXPECT_EQ(std::abs(position(loaded, a3) - position(loaded, a2)), 1);
    EXPECT_LT(position(loaded, a2), position(loaded, a3));
}

TEST_F(WalkTest, SkipsHiddenAndSystemFoldersButChecksHiddenShortcuts)
{
    const QString visible = shortcut(QStringLiteral("Desktop/Old.lnk"));
    const QString hiddenFile = shortcut(QStringLiteral("Desktop/.Hidden.lnk"));
    const QString upper = shortcut(QStringLiteral("Desktop/UPPER.LNK"));
    shortcut(QStringLiteral(".config/a.lnk"));
    shortcut(QStringLiteral("Users/me/.local/share/deep/b.lnk"));
    shortcut(QStringLiteral("Users/me/.cache/c.lnk"));
    const QString userFile = shortcut(QStringLiteral("Users/me/d.lnk"));
    // The root folder of another drive is a system folder.
    shortcut(QStringLiteral("mnt/stick/e.lnk"));
    drives.mapLetter(QLatin1Char('e'), drives.posix(QStringLiteral("mnt/stick")));
    drives.writeFile(QStringLiteral("notes.lnkx"), "not matched");

    scan.ScanFolder(QStringLiteral("c:\\"), QStringLiteral("*.lnk"), true);
    QStringList loaded = links.loaded;
    loaded.sort();
    QStringList expected = {visible, hiddenFile, upper, userFile};
    expected.sort();
    EXPECT_EQ(loaded, expected);

    // The root is walked whatever it is: here a system folder of c:.
    links.loaded.clear();
    results.SelectedDrive = QStringLiteral("e");
    scan.ScanShortcuts();
    EXPECT_EQ(links.loaded, QStringList{QStringLiteral("e:\\e.lnk")});
}

TEST_F(WalkTest, FolderNamedLikeAShortcutIsWalkedNotChecked)
{
    const QString inner = shortcut(QStringLiteral("Old.lnk/inner.lnk"));
    scan.ScanFolder(QStringLiteral("c:\\"), QStringLiteral("*.lnk"), true);
    EXPECT_EQ(links.loaded, QStringList{inner});
    EXPECT_FALSE(host.log.contains(QStringLiteral("Load c:\\Old.lnk 0")));
}

TEST_F(WalkTest, FifoNamedLikeAShortcutIsNotOpened)
{
    drives.makeFolder(QStringLiteral("pipes"));
    ASSERT_EQ(::mkfifo(drives.posix(QStringLiteral("pipes/pipe.lnk")).constData(), 0600), 0);
    ASSERT_EQ(::symlink("pipe.lnk", drives.posix(QStringLiteral("pipes/link-to-pipe.lnk")).constData()), 0);
    const QString real = shortcut(QStringLiteral("pipes/real.lnk"));
    ASSERT_EQ(::symlink("real.lnk", drives.posix(QStringLiteral("pipes/link-to-real.lnk")).constData()), 0);
    const QString viaLink = drives.win(QStringLiteral("pipes/link-to-real.lnk"));
    links.links.insert(viaLink, FakeLink{});
    scan.ScanFolder(QStringLiteral("c:\\"), QStringLiteral("*.lnk"), true);
    // The real shortcut is checked once, by whichever of its names the walk
    // meets first.
    ASSERT_EQ(links.loaded.size(), 1);
    EXPECT_TRUE(links.loaded.first() == viaLink || links.loaded.first() == real);
}

TEST_F(WalkTest, SymbolicLinkLoopsEndAndLinkedFoldersAreWalkedOnce)
{
    const QString top = shortcut(QStringLiteral("top.lnk"));
    const QString inA = shortcut(QStringLiteral("a/in-a.lnk"));
    const QString inB = shortcut(QStringLiteral("b/in-b.lnk"));
    const QString deep = shortcut(QStringLiteral("a/deep/in-deep.lnk"));
    // Links back to the folder itself and to an ancestor (the link to the
    // drive's root is a system folder anyway).
    ASSERT_EQ(::symlink(".", drives.posix(QStringLiteral("a/self")).constData()), 0);
    ASSERT_EQ(::symlink("..", drives.posix(QStringLiteral("a/deep/back")).constData()), 0);
    ASSERT_EQ(::symlink("..", drives.posix(QStringLiteral("a/up")).constData()), 0);
    ASSERT_EQ(::symlink("../b", drives.posix(QStringLiteral("a/to-b")).constData()), 0);
    const QString inBViaLink = drives.win(QStringLiteral("a/to-b/in-b.lnk"));
    links.links.insert(inBViaLink, FakeLink{});

    scan.ScanFolder(QStringLiteral("c:\\"), QStringLiteral("*.lnk"), true);
    // b is walked once, through the link or on its own, whichever comes first.
    QStringList loaded = links.loaded;
    loaded.sort();
    QStringList throughLink = {top, inA, deep, inBViaLink}, direct = {top, inA, deep, inB};
    throughLink.sort();
    direct.sort();
    EXPECT_TRUE(loaded == throughLink || loaded == direct) << loaded.join(QLatin1Char(' ')).toStdString();
}

TEST_F(WalkTest, EveryEntryTheWalkTakesIsFollowedByADispatch)
{
    drives.makeFolder(QStringLiteral("t"));
    const auto dispatchesOfWalk = [this] {
        host.dispatches = 0;
        scan.ScanFolder(QStringLiteral("c:\\t"), QStringLiteral("*.lnk"), true);
        return host.dispatches;
    };
    const int base = dispatchesOfWalk();
    for (const char *name : {"t/1.txt", "t/2.txt", "t/3"})
        drives.writeFile(QString::fromLatin1(name), "x");
    EXPECT_EQ(dispatchesOfWalk(), base) << "the folder pass asks only for what may be a folder";
    for (const char *name : {"t/.1.txt", "t/.2"})
        drives.writeFile(QString::fromLatin1(name), "x");
    EXPECT_EQ(dispatchesOfWalk(), base) << "hidden entries are skipped without a dispatch";
    shortcut(QStringLiteral("t/.hidden.lnk"));
    EXPECT_EQ(dispatchesOfWalk(), base + 1) << "the file pass yields a hidden shortcut";
    shortcut(QStringLiteral("t/plain.lnk"));
    EXPECT_EQ(dispatchesOfWalk(), base + 2) << "and a visible one, which the folder pass leaves out";
    drives.makeFolder(QStringLiteral("t/sub"));
    EXPECT_EQ(dispatchesOfWalk(), base + 2 + 1 + base) << "a sub-folder, then its own walk";

    // A dispatch stands between any two checks.
    QStringList steps;
    for (const QString &line : host.log)
        if (line == QLatin1String("create") || line == QLatin1String("dispatch"))
            steps << line;
    for (qsizetype i = 1; i < steps.size(); ++i)
        EXPECT_FALSE(steps[i] == QLatin1String("create") && steps[i - 1] == QLatin1String("create"));
}

// Passing over a folder's many plain files (no shortcut among them, nothing
// for the folder pass) still leaves room for the window, in both passes.
TEST_F(WalkTest, TheWindowIsServedWhileManyFilesArePassedOver)
{
    constexpr int kFiles = 3 * FolderSearch::kPassedOverPerWait;
    const QByteArray folder = drives.posix(QStringLiteral("many"));
    ASSERT_EQ(::mkdir(folder.constData(), 0755), 0);
    // Names of one file (quick to make: no inode for each).
    const QByteArray first = folder + "/file0.txt";
    const int fd = ::open(first.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    ::close(fd);
    for (int i = 1; i < kFiles; ++i)
        ASSERT_EQ(::link(first.constData(), (folder + "/file" + QByteArray::number(i) + ".txt").constData()),
                  0);
    host.dispatches = 0;
    scan.ScanFolder(QStringLiteral("c:\\many"), QStringLiteral("*.lnk"), true);
    EXPECT_GE(host.dispatches, 2 * (kFiles / FolderSearch::kPassedOverPerWait));
    EXPECT_TRUE(links.loaded.isEmpty());
}

TEST_F(WalkTest, WithoutRecursionOnlyTheFolderItselfIsChecked)
{
    const QString here = shortcut(QStringLiteral("here/x.lnk"));
    shortcut(QStringLiteral("here/below/y.lnk"));
    scan.ScanFolder(QStringLiteral("c:\\HERE"), QStringLiteral("*.lnk"), false);
    // The path is built from the folder as given, not normalised.
    EXPECT_EQ(links.loaded, QStringList{QStringLiteral("c:\\HERE\\x.lnk")});
    Q_UNUSED(here);
}

TEST_F(WalkTest, UnreadableFolderIsPassedOver)
{
    shortcut(QStringLiteral("locked/x.lnk"));
    const QString after = shortcut(QStringLiteral("open/y.lnk"));
    ASSERT_EQ(::chmod(drives.posix(QStringLiteral("locked")).constData(), 0), 0);
    UnprivilegedFiles::letEveryoneThrough(drives.root());
    const UnprivilegedFiles unprivileged;
    if (!unprivileged.binding())
        GTEST_SKIP() << "permissions cannot be made to bind here";
    scan.ScanFolder(QStringLiteral("c:\\"), QStringLiteral("*.lnk"), true);
    EXPECT_EQ(links.loaded, QStringList{after});
}

} // namespace
