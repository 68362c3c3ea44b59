#include "ScanFixture.h"

#include <stdexcept>

namespace {

using ScanRunTest = ScanFixture;

const QString Gone = QStringLiteral("c:\\gone\\tool.exe");
const QString Plural = QStringLiteral(" Broken Shortcuts   (double click to explore)");

TEST_F(ScanRunTest, ScanOfAnEmptyDriveSetsBusyStateThenIdleStateInOrder)
{
    scan.ScanShortcuts();
    const QStringList expected = {
        QStringLiteral("cursor wait"),
        QStringLiteral("busy 199"),
        QStringLiteral("Label1 Scanning...."),
        QStringLiteral("Btdelete off"),
        QStringLiteral("Btscan off"),
        QStringLiteral("clear ListBox1"),
        QStringLiteral("clear CheckListBox1"),
        QStringLiteral("Label1 0") + Plural,
        QStringLiteral("ListBox1 extent 313"),
        QStringLiteral("cursor default"),
        QStringLiteral("Btdelete on"),
        QStringLiteral("Btscan on"),
        QStringLiteral("busy 881"),
        QStringLiteral("CheckListBox1 extent 2"),
    };
    EXPECT_EQ(host.changes(), expected);
    EXPECT_EQ(results.BrokenCountText, QStringLiteral("0"));
    ASSERT_TRUE(results.ShortcutPaths);
    EXPECT_TRUE(results.ShortcutPaths->isEmpty());
}

TEST_F(ScanRunTest, CountLineListsAndTicksAfterZeroOneAndTwoBrokenShortcuts)
{
    drives.writeFile(QStringLiteral("tool.exe"), "x");
    shortcut(QStringLiteral("fine.lnk"), QStringLiteral("c:\\tool.exe"));
    scan.ScanShortcuts();
    EXPECT_EQ(host.label1, QStringLiteral("0") + Plural);
    QStringList *const paths = results.ShortcutPaths.get();

    const QString first = shortcut(QStringLiteral("first.lnk"), Gone);
    scan.ScanShortcuts();
    EXPECT_EQ(host.label1, QStringLiteral("1 Broken Shortcut   (double click to explore)"));
    EXPECT_EQ(results.BrokenCountText, QStringLiteral("1"));

    // Same file name in another folder: a second entry with its own full path.
    const QString second = shortcut(QStringLiteral("sub/first.lnk"), Gone);
    scan.ScanShortcuts();
    EXPECT_EQ(host.label1, QStringLiteral("2") + Plural);
    EXPECT_EQ(results.BrokenCount, 2);
    // Files of a folder come before its subfolders, so the order is known.
    const QStringList expected = {first, second};
    EXPECT_EQ(host.listBox, expected);
    EXPECT_EQ(host.checkList, expected);
    EXPECT_EQ(*results.ShortcutPaths, expected);
    EXPECT_EQ(host.ticks, (QList<bool>{true, true}));
    // Every scan empties and refills the one list the first scan made.
    EXPECT_EQ(results.ShortcutPaths.get(), paths);
    EXPECT_TRUE(host.btdeleteEnabled);
}

TEST_F(ScanRunTest, SecondScanListsOnlyWhatIsStillBroken)
{
    const QString repaired = shortcut(QStringLiteral("a.lnk"), Gone);
    const QString still = shortcut(QStringLiteral("b/b.lnk"), Gone);
    scan.ScanShortcuts();
    ASSERT_EQ(results.BrokenCount, 2);
    QStringList *const paths = results.ShortcutPaths.get();

    drives.writeFile(QStringLiteral("gone/tool.exe"), "x");
    links.links[still].target = QStringLiteral("c:\\gone\\other.exe");
    scan.ScanShortcuts();
    EXPECT_EQ(host.listBox, QStringList{still});
    EXPECT_EQ(host.checkList, QStringList{still});
    EXPECT_EQ(*results.ShortcutPaths, QStringList{still});
    EXPECT_EQ(results.ShortcutPaths.get(), paths);
    EXPECT_EQ(results.BrokenCount, 1);
    Q_UNUSED(repaired);
}

TEST_F(ScanRunTest, CheckListExtentFollowsTheWidestEntryNotTheLast)
{
    // Files of the root come before those of its subfolders.
    const QString wide = shortcut(QStringLiteral("a-rather-long-shortcut-name.lnk"), Gone);
    shortcut(QStringLiteral("b/s.lnk"), Gone);
    host.listBoxWidthValue = 120;
    scan.ScanShortcuts();
    ASSERT_EQ(host.checkList.size(), 2);
    ASSERT_EQ(host.checkList.first(), wide);
    EXPECT_EQ(host.checkListExtent, 7 * int(wide.size()) + 2);
    EXPECT_EQ(host.listBoxExtent, 320);
}

TEST_F(ScanRunTest, ErrorEscapingTheCheckRestoresTheWindowAndGoesOn)
{
    const QString first = shortcut(QStringLiteral("a.lnk"), Gone);
    shortcut(QStringLiteral("one/two/three/b.lnk"), Gone,
             linkTo(QString(), [] { throw std::runtime_error("Out of memory"); }));
    shortcut(QStringLiteral("one/two/three/four/c.lnk"), Gone);
    const int descriptors = openDescriptors();

    EXPECT_THROW(scan.ScanShortcuts(), std::runtime_error);

    EXPECT_EQ(host.label1, QStringLiteral("Scanning...."));
    EXPECT_EQ(host.checkList, QStringList{first});
    EXPECT_EQ(host.ticks, QList<bool>{false});
    EXPECT_FALSE(host.waitCursor);
    EXPECT_TRUE(host.btdeleteEnabled);
    EXPECT_TRUE(host.btscanEnabled);
    EXPECT_EQ(host.busyLeft, 881);
    EXPECT_EQ(host.listBoxExtent, 313);
    EXPECT_EQ(host.checkListExtent, 7 * int(first.size()) + 2);
    // Every folder search on the way down was closed.
    EXPECT_EQ(openDescriptors(), descriptors);
    EXPECT_FALSE(links.loaded.contains(drives.win(QStringLiteral("one/two/three/four/c.lnk"))));
    EXPECT_FALSE(scan.isScanning());

    // The next scan runs normally.
    links.links.remove(drives.win(QStringLiteral("one/two/three/b.lnk")));
    scan.ScanShortcuts();
    EXPECT_EQ(results.BrokenCount, 2);
}

TEST_F(ScanRunTest, ClosingTheWindowStopsTheWalkAtTheNextEntry)
{
    const QString first = shortcut(QStringLiteral("a.lnk"), Gone);
    shortcut(QStringLiteral("sub/b.lnk"), Gone);
    shortcut(QStringLiteral("sub/c.lnk"), Gone);
    const int descriptors = openDescriptors();
    host.dispatches = 0;
    // FormClose runs inside the first dispatch and releases ShortcutPaths.
    host.onDispatch = [this] {
        host.isClosing = true;
        results.ShortcutPaths.reset();
    };
    scan.ScanShortcuts();

    EXPECT_EQ(links.loaded, QStringList{first});
    EXPECT_EQ(host.dispatches, 1);
    EXPECT_FALSE(results.ShortcutPaths);
    EXPECT_EQ(host.label1, QStringLiteral("Scanning...."));
    EXPECT_FALSE(host.waitCursor);
    EXPECT_EQ(openDescriptors(), descriptors);
    EXPECT_FALSE(scan.isScanning());
}

TEST_F(ScanRunTest, ClosingDuringADeepFolderUnwindsEveryLevel)
{
    shortcut(QStringLiteral("a/b/c/d/deep.lnk"), Gone);
    shortcut(QStringLiteral("z.lnk"), Gone);
    shortcut(QStringLiteral("a/b/c/d/deeper/more.lnk"), Gone);
    shortcut(QStringLiteral("a/b/later.lnk"), Gone);
    shortcut(QStringLiteral("a2/later.lnk"), Gone);
    const QString deep = drives.win(QStringLiteral("a/b/c/d/deep.lnk"));
    int dispatchesAtClose = -1;
    host.onDispatch = [&] {
        if (!host.isClosing && links.loaded.contains(deep)) {
            host.isClosing = true;
            dispatchesAtClose = host.dispatches;
        }
    };
    scan.ScanShortcuts();
    EXPECT_EQ(links.loaded.last(), deep);
    EXPECT_EQ(host.dispatches, dispatchesAtClose) << "no dispatch after the window began to close";
    EXPECT_FALSE(host.waitCursor);
}

TEST_F(ScanRunTest, ChangeOfTheBoxMidScanAppliesFromTheNextShortcut)
{
    const QString before = shortcut(QStringLiteral("a.lnk"), QStringLiteral("d:\\gone.exe"));
    shortcut(QStringLiteral("sub/b.lnk"), QStringLiteral("d:\\gone.exe"));
    const QString local = shortcut(QStringLiteral("sub/c.lnk"), QStringLiteral("C:\\gone.exe"));
    host.onDispatch = [this] { host.ignoreRemote = true; };
    scan.ScanShortcuts();
    EXPECT_EQ(host.checkList, (QStringList{before, local}));
    EXPECT_EQ(host.listBox, host.checkList);
    EXPECT_EQ(*results.ShortcutPaths, host.checkList);
}

TEST_F(ScanRunTest, ScanOfNoDriveFindsNothing)
{
    results.SelectedDrive.clear();
    shortcut(QStringLiteral("a.lnk"), Gone);
    scan.ScanShortcuts();
    EXPECT_TRUE(links.loaded.isEmpty());
    EXPECT_EQ(host.label1, QStringLiteral("0") + Plural);
}

// The link service hears of the scan before its first link and of its end
// after the last; in between its progress hook keeps the window alive and
// the walk shares the listings it offers.
TEST_F(ScanRunTest, LinkServiceIsToldWhenTheWalkStartsAndEnds)
{
    int dispatchesInHook = -1;
    shortcut(QStringLiteral("a.lnk"), Gone, linkTo(QString(), [&] {
                 if (!links.progress)
                     return; // no scan: no hook
                 const int before = host.dispatches;
                 links.progress();
                 dispatchesInHook = host.dispatches - before;
             }));
    shortcut(QStringLiteral("sub/b.lnk"), Gone);
    scan.ScanShortcuts();

    EXPECT_EQ(links.scanSteps, (QStringList{QStringLiteral("begin"), QStringLiteral("judge"),
                                            QStringLiteral("judge"), QStringLiteral("end")}));
    EXPECT_EQ(dispatchesInHook, 1);
    EXPECT_FALSE(links.progress);
    EXPECT_EQ(links.listings.starts, 1); // the walk of the root took the offered listings
    EXPECT_EQ(results.BrokenCount, 2);

    // A walk outside a scan run shares nothing.
    links.scanSteps.clear();
    scan.ScanFolder(QStringLiteral("c:\\"), ShortcutScan::ShortcutPattern, true);
    EXPECT_EQ(links.listings.starts, 1);
    EXPECT_EQ(links.scanSteps, (QStringList{QStringLiteral("judge"), QStringLiteral("judge")}));
}

TEST_F(ScanRunTest, LinkServiceHearsTheEndOfAFailedOrStoppedScan)
{
    shortcut(QStringLiteral("a.lnk"), Gone, linkTo(QString(), [] { throw std::runtime_error("disk gone"); }));
    EXPECT_THROW(scan.ScanShortcuts(), std::runtime_error);
    EXPECT_EQ(links.scanSteps,
              (QStringList{QStringLiteral("begin"), QStringLiteral("judge"), QStringLiteral("end")}));
    EXPECT_FALSE(links.progress);

    links.links.clear();
    links.scanSteps.clear();
    shortcut(QStringLiteral("b.lnk"), Gone);
    shortcut(QStringLiteral("c.lnk"), Gone);
    host.onDispatch = [this] { host.isClosing = true; };
    scan.ScanShortcuts();
    EXPECT_EQ(links.scanSteps,
              (QStringList{QStringLiteral("begin"), QStringLiteral("judge"), QStringLiteral("end")}));
    EXPECT_FALSE(links.progress);
}

} // namespace
