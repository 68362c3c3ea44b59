#include "FakeLinks.h"
#include "FakeScanHost.h"

#include "platform/WinTypes.h"
#include "scan/ShortcutScan.h"
#include "scan/TargetRules.h"
#include "support/TempDrives.h"
#include "support/UnprivilegedFiles.h"

#include <QFile>

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

const QString Shortcut = QStringLiteral("c:\\Tools\\Old\\Editor.lnk");

// One checked shortcut against a fake link service, on temporary drives c:
// and d: where targets can exist or not.
class CheckShortcutTest : public ::testing::Test
{
protected:
    CheckShortcutTest()
    {
        results.ShortcutPaths = std::make_unique<QStringList>();
        drives.writeFile(QStringLiteral("Tools/app.exe"), "x");
        drives.makeFolder(QStringLiteral("Docs"));
    }

    // Checks a shortcut whose link holds `target`; true when it was recorded.
    bool broken(const QString &target, const QString &shortcut = Shortcut)
    {
        links.links.insert(shortcut, linkTo(target));
        const qint32 before = results.BrokenCount;
        QString targetPath;
        scan.CheckShortcut(shortcut, targetPath);
        EXPECT_EQ(targetPath, target);
        return results.BrokenCount == before + 1;
    }

    TempDrives drives{QStringLiteral("cd")};
    FakeScanHost host;
    FakeLinks links{host.log};
    ScanResults results;
    ShortcutScan scan{host, results, links, drives.context()};
};

TEST_F(CheckShortcutTest, ListsOnlyTargetsThatAreNeitherFileNorFolder)
{
    EXPECT_FALSE(broken(QStringLiteral("C:\\Tools\\app.exe")));
    EXPECT_FALSE(broken(QStringLiteral("c:\\TOOLS\\APP.EXE"))); // looked up without regard to case
    EXPECT_FALSE(broken(QStringLiteral("c:\\Docs")));
    EXPECT_FALSE(broken(QStringLiteral("c:\\Docs\\")));
    EXPECT_FALSE(broken(QString())); // no file-system target
    EXPECT_TRUE(host.listBox.isEmpty());
    EXPECT_EQ(results.BrokenCount, 0);

    EXPECT_TRUE(broken(QStringLiteral("c:\\Tools\\gone.exe")));
    EXPECT_TRUE(broken(QStringLiteral("c:\\Tools\\app.exe\\inner"))); // a file is no folder
    EXPECT_TRUE(broken(QStringLiteral("q:\\on\\unmapped\\drive.exe")));
    EXPECT_EQ(links.liveObjects, 0);
}

TEST_F(CheckShortcutTest, StepsRunInOrderWithTheirArgumentsAndReleaseFileInterfaceFirst)
{
    ASSERT_TRUE(broken(QStringLiteral("c:\\gone.exe")));
    const QStringList expected = {
        QStringLiteral("create"),
        QStringLiteral("query"),
        QStringLiteral("Load ") + Shortcut + QStringLiteral(" 0"),
        QStringLiteral("Resolve 0 5"),
        QStringLiteral("GetPath 260 2"),
        QStringLiteral("ListBox1 += ") + Shortcut,
        QStringLiteral("CheckListBox1 += ") + Shortcut,
        QStringLiteral("release PersistFile"),
        QStringLiteral("release ShellLink"),
    };
    EXPECT_EQ(host.log, expected);
    EXPECT_EQ(*results.ShortcutPaths, QStringList{Shortcut});
    EXPECT_EQ(host.ticks, QList<bool>{false});
    EXPECT_TRUE(links.buffersZeroed);
}

TEST_F(CheckShortcutTest, TargetIsCutToTheBufferTheServiceIsTold)
{
    const QString longTarget = QStringLiteral("c:\\") + QString(300, QLatin1Char('x'));
    links.links.insert(Shortcut, linkTo(longTarget));
    QString targetPath;
    scan.CheckShortcut(Shortcut, targetPath);
    EXPECT_EQ(targetPath, longTarget.left(259));
    EXPECT_EQ(results.BrokenCount, 1);
}

TEST_F(CheckShortcutTest, FailedStepsRecordNothingAndHandBackTheTargetAsDescribed)
{
    const QString missing = QStringLiteral("c:\\gone.exe");
    const QString before = QStringLiteral("previous");
    struct Case
    {
        const char *what;
        win::HRESULT create, query;
        FakeLink link;
        QString expectedTarget;
        QStringList expectedLog;
        ScanHost::Verdict verdict;
    };
    using V = ScanHost::Verdict;
    const QStringList allSteps = {QStringLiteral("create"),
                                  QStringLiteral("query"),
                                  QStringLiteral("Load ") + Shortcut + QStringLiteral(" 0"),
                                  QStringLiteral("Resolve 0 5"),
                                  QStringLiteral("GetPath 260 2"),
                                  QStringLiteral("release PersistFile"),
                                  QStringLiteral("release ShellLink")};
    const Case cases[] = {
        {"no link object",
         win::E_OUTOFMEMORY,
         win::S_OK,
         linkTo(missing),
         before,
         {QStringLiteral("create")},
         V::NotLoaded},
        {"file interface not exactly S_OK",
         win::S_OK,
         win::S_FALSE,
         linkTo(missing),
         before,
         {QStringLiteral("create"), QStringLiteral("query"), QStringLiteral("release ShellLink")},
         V::NotLoaded},
        {"not a link", win::S_OK, win::S_OK, linkTo(missing, win::E_FAIL), QString(),
         QStringList{allSteps[0], allSteps[1], allSteps[2], allSteps[5], allSteps[6]}, V::NotLoaded},
        {"service cannot resolve", win::S_OK, win::S_OK, linkTo(missing, win::S_OK, win::E_FAIL), QString(),
         QStringList{allSteps[0], allSteps[1], allSteps[2], allSteps[3], allSteps[5], allSteps[6]},
         V::NotResolved},
        {"path unreadable", win::S_OK, win::S_OK,
         linkTo(QStringLiteral("c:\\part"), win::S_OK, win::S_OK, win::E_FAIL), QStringLiteral("c:\\part"),
         allSteps, V::NoPath},
        // Any non-negative result is success: S_FALSE from Resolve is a search that found nothing.
        {"resolve found nothing", win::S_OK, win::S_OK, linkTo(missing, win::S_OK, win::S_FALSE), missing,
         QStringList{allSteps[0], allSteps[1], allSteps[2], allSteps[3], allSteps[4],
                     QStringLiteral("ListBox1 += ") + Shortcut,
                     QStringLiteral("CheckListBox1 += ") + Shortcut, allSteps[5], allSteps[6]},
         V::Broken},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        host.log.clear();
        host.listBox.clear();
        host.checkList.clear();
        results.ShortcutPaths->clear();
        results.BrokenCount = 0;
        host.verdicts.clear();
        links.createResult = c.create;
        links.queryResult = c.query;
        links.links.insert(Shortcut, c.link);
        QString targetPath = before;
        scan.CheckShortcut(Shortcut, targetPath);
        EXPECT_EQ(targetPath, c.expectedTarget);
        EXPECT_EQ(host.log, c.expectedLog);
        const bool recorded = c.expectedLog.contains(QStringLiteral("ListBox1 += ") + Shortcut);
        EXPECT_EQ(results.BrokenCount, recorded ? 1 : 0);
        EXPECT_EQ(results.ShortcutPaths->size(), recorded ? 1 : 0);
        EXPECT_EQ(links.liveObjects, 0);
        EXPECT_EQ(host.verdicts, QList<ScanHost::Verdict>{c.verdict});
    }
}

TEST_F(CheckShortcutTest, IgnoreRemoteKeepsOnlyTargetsOnTheShortcutsOwnDrive)
{
    struct Case
    {
        QString target;
        bool keptWhenTicked;
    };
    const Case cases[] = {
        {QStringLiteral("C:\\Old\\tool.exe"), true},
        {QStringLiteral("c:\\Old\\tool.exe"), true},
        {QStringLiteral("d:\\Old\\tool.exe"), false},
        {QStringLiteral("D:\\Old\\tool.exe"), false},
        {QStringLiteral("\\\\server\\share\\tool.exe"), false},
        {QStringLiteral("Old\\tool.exe"), false},
        {QStringLiteral("\\Old\\tool.exe"), false},
    };
    for (const bool ticked : {false, true}) {
        for (const Case &c : cases) {
            SCOPED_TRACE(c.target.toStdString() + (ticked ? " ticked" : " unticked"));
            host.ignoreRemote = ticked;
            EXPECT_EQ(broken(c.target), !ticked || c.keptWhenTicked);
        }
    }
    // The shortcut's drive part is compared as it is, the target's in lower case.
    host.ignoreRemote = true;
    EXPECT_FALSE(broken(QStringLiteral("c:\\gone.exe"), QStringLiteral("C:\\Upper.lnk")));
    // Passed over, but the host hears why.
    EXPECT_EQ(host.verdicts.last(), ScanHost::Verdict::BrokenRemote);
}

TEST_F(CheckShortcutTest, TheHostHearsEveryVerdictAndResolveTakesTheFlagsItIsGiven)
{
    EXPECT_FALSE(broken(QStringLiteral("c:\\Tools\\app.exe")));
    EXPECT_FALSE(broken(QString()));
    EXPECT_TRUE(broken(QStringLiteral("c:\\gone.exe")));
    EXPECT_EQ(host.verdicts,
              (QList<ScanHost::Verdict>{ScanHost::Verdict::TargetExists, ScanHost::Verdict::NoTarget,
                                        ScanHost::Verdict::Broken}));
    EXPECT_TRUE(host.log.contains(QStringLiteral("Resolve 0 5")));

    host.log.clear();
    scan.setResolveFlags(win::SLR_NO_UI);
    broken(QStringLiteral("c:\\gone.exe"));
    EXPECT_TRUE(host.log.contains(QStringLiteral("Resolve 0 1")));
}

TEST_F(CheckShortcutTest, RecordsNothingOnceTheWindowIsClosing)
{
    // The window closes while the service searches (its progress hook
    // dispatches events) and releases the list.
    links.links.insert(Shortcut,
                       linkTo(QStringLiteral("c:\\gone.exe"), win::S_OK, win::S_OK, win::S_OK, [this] {
                           host.isClosing = true;
                           results.ShortcutPaths.reset();
                       }));
    QString targetPath;
    scan.CheckShortcut(Shortcut, targetPath);
    EXPECT_EQ(results.BrokenCount, 0);
    EXPECT_TRUE(host.listBox.isEmpty());
    EXPECT_TRUE(host.checkList.isEmpty());
    EXPECT_EQ(links.liveObjects, 0);
}

TEST_F(CheckShortcutTest, UnreadableAttributesFallBackToSearchingTheFolder)
{
    // A folder that may be listed but not entered: its files' attributes
    // cannot be read, yet a search of the folder shows them.
    drives.writeFile(QStringLiteral("Listed/app.exe"), "x");
    drives.makeFolder(QStringLiteral("Listed/sub"));
    QFile::setPermissions(QFile::decodeName(drives.posix(QStringLiteral("Listed"))),
                          QFile::ReadOwner | QFile::ReadUser | QFile::ReadOther);
    UnprivilegedFiles::letEveryoneThrough(drives.root());
    const UnprivilegedFiles unprivileged;
    if (!unprivileged.binding())
        GTEST_SKIP() << "permissions cannot be made to bind here";
    EXPECT_FALSE(broken(QStringLiteral("c:\\Listed\\app.exe")));
    EXPECT_TRUE(broken(QStringLiteral("c:\\Listed\\sub"))); // a folder is found by attributes only
    EXPECT_TRUE(broken(QStringLiteral("c:\\Listed\\gone.exe")));
}

TEST(TargetRulesTest, DrivePart)
{
    using TargetRules::drivePart;
    EXPECT_EQ(drivePart(QStringLiteral("c:\\Tools\\x.lnk")), QStringLiteral("c:"));
    EXPECT_EQ(drivePart(QStringLiteral("C:")), QStringLiteral("C:"));
    EXPECT_EQ(drivePart(QStringLiteral("C:relative")), QStringLiteral("C:"));
    EXPECT_EQ(drivePart(QStringLiteral("\\\\server\\share\\dir\\x")), QStringLiteral("\\\\server\\share"));
    EXPECT_EQ(drivePart(QStringLiteral("\\\\server\\share\\")), QStringLiteral("\\\\server\\share"));
    EXPECT_EQ(drivePart(QStringLiteral("\\\\server\\share")), QStringLiteral("\\\\server\\share"));
    EXPECT_EQ(drivePart(QStringLiteral("\\\\server\\")), QStringLiteral("\\\\server"));
    EXPECT_EQ(drivePart(QStringLiteral("\\\\")), QStringLiteral("\\"));
    EXPECT_EQ(drivePart(QStringLiteral("\\dir\\x")), QString());
    EXPECT_EQ(drivePart(QStringLiteral("dir\\x")), QString());
    EXPECT_EQ(drivePart(QStringLiteral("c")), QString());
    EXPECT_EQ(drivePart(QString()), QString());
}

TEST(TargetRulesTest, AsciiLowerChangesOnlyAsciiCapitals)
{
    EXPECT_EQ(TargetRules::asciiLower(QStringLiteral("AZaz@[ÄÖ\u0130:")), QStringLiteral("azaz@[ÄÖ\u0130:"));
}

} // namespace
