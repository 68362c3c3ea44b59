#include "FakeScanHost.h"
#include "RealScanFixture.h"

#include "app/WindowScan.h"
#include "lnk/LnkFile.h"
#include "scan/ShortcutScan.h"
#include "shell/ShellLinkService.h"
#include "support/TempDrives.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <variant>

namespace {

// Once the link service has read the drive for a broken shortcut, the walk
// takes the folder listings from it. What changes on the drive while the
// scan runs must still be seen as it is.
class SharedListingTest : public RealScanFixture
{
protected:
    SharedListingTest() : RealScanFixture(QStringLiteral("c")) {}

    QString brokenShortcut(const QString &relative)
    {
        LnkTargetInfo info;
        info.winPath =
            QStringLiteral("c:\\Gone\\") + QString(relative).replace(QLatin1Char('/'), QLatin1Char('_'));
        info.attributes = 0x20;
        auto made = LnkFile::create(info, drives.win(relative));
        EXPECT_TRUE(std::holds_alternative<LnkFile>(made));
        if (std::holds_alternative<LnkFile>(made))
            drives.writeFile(relative, std::get<LnkFile>(made).serialize());
        return drives.win(relative);
    }
};

TEST_F(SharedListingTest, ChangesDuringTheScanAreSeen)
{
    // The root's own shortcut is checked before any sub-folder is walked.
    // The drive is changed then; the workers may have read "later/deeper"
    // already (they read ahead on their own), so the shortcut made there is
    // seen by this scan only if its folder was read after it was made. What
    // was removed is never listed, and the next scan sees everything.
    const QString first = brokenShortcut(QStringLiteral("First.lnk"));
    for (int i = 0; i < 30; ++i)
        drives.makeFolder(QStringLiteral("quiet/%1").arg(i));
    const QString kept = brokenShortcut(QStringLiteral("later/Kept.lnk"));
    brokenShortcut(QStringLiteral("later/Removed.lnk"));
    drives.makeFolder(QStringLiteral("later/deeper"));

    bool changed = false;
    QString added;
    host.onDispatch = [&] {
        if (changed || host.checkList.isEmpty())
            return;
        changed = true;
        QFile::remove(QFile::decodeName(drives.posix(QStringLiteral("later/Removed.lnk"))));
        added = brokenShortcut(QStringLiteral("later/deeper/Added.lnk"));
    };
    scan.ScanShortcuts();

    ASSERT_TRUE(changed);
    QStringList listed = host.checkList;
    listed.sort();
    QStringList expected = {first, kept, added};
    expected.sort();
    if (!listed.contains(added))
        expected.removeOne(added);
    EXPECT_EQ(listed, expected);
    expected = {first, kept, added};
    expected.sort();

    // A second scan, with nothing changing, lists the same.
    host.onDispatch = {};
    scan.ScanShortcuts();
    listed = host.checkList;
    listed.sort();
    EXPECT_EQ(listed, expected);
}

// Folders the index's workers read ahead of the walk are renamed and removed
// before the walk gets there: no shortcut gets a verdict it does not have,
// and the scan ends as a scan ends.
TEST_F(SharedListingTest, FoldersRenamedOrRemovedAfterTheyWereReadAhead)
{
    drives.writeFile(QStringLiteral("target/app.exe"), "x");
    LnkTargetInfo info;
    info.winPath = QStringLiteral("C:\\target\\app.exe");
    info.attributes = 0x20;
    auto made = LnkFile::create(info, QStringLiteral("c:\\x.lnk"));
    ASSERT_TRUE(std::holds_alternative<LnkFile>(made));
    const QByteArray healthy = std::get<LnkFile>(made).serialize();
    // "a" comes first; "m" and "z" are read ahead while the walk is in "a".
    const QString first = brokenShortcut(QStringLiteral("a/First.lnk"));
    for (int i = 0; i < 40; ++i)
        drives.writeFile(QStringLiteral("m/%1/fine%1.lnk").arg(i), healthy);
    for (int i = 0; i < 40; ++i)
        drives.writeFile(QStringLiteral("z/deep/%1/fine%1.lnk").arg(i), healthy);

    bool changed = false;
    host.onDispatch = [&] {
        if (changed || host.checkList.isEmpty())
            return;
        changed = true;
        QDir top(QFile::decodeName(drives.root()));
        ASSERT_TRUE(top.rename(QStringLiteral("m"), QStringLiteral("m-renamed")));
        ASSERT_TRUE(QDir(top.filePath(QStringLiteral("z/deep"))).removeRecursively());
    };
    scan.ScanShortcuts();

    ASSERT_TRUE(changed);
    EXPECT_EQ(host.checkList, QStringList{first});
    EXPECT_EQ(results.BrokenCount, 1);
}

} // namespace
