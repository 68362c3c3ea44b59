#include "FakeScanHost.h"
#include "RealScanFixture.h"

#include "app/WindowScan.h"
#include "lnk/LnkFile.h"
#include "platform/DriveContext.h"
#include "platform/WinTypes.h"
#include "scan/ShortcutScan.h"
#include "shell/ShellLinkService.h"
#include "support/TempDrives.h"

#include <QDir>
#include <QFile>
#include <QHash>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <variant>

namespace {

// Scans of temporary drives c: and d: holding shortcuts made by our own
// codec, checked and repaired by our own link service.
class EndToEndTest : public RealScanFixture
{
protected:
    // Writes a shortcut below c: pointing at `target` (Windows form); its
    // Windows-form path.
    // With `times`, the link records them and a size of 5 bytes, so a
    // search may look for its target.
    QString shortcut(const QString &relative, const QString &target, quint32 attributes = 0x20,
                     const LnkCreateOptions &options = {}, quint64 times = 0)
    {
        const QString path = drives.win(relative);
        LnkTargetInfo info;
        info.winPath = target;
        info.attributes = attributes;
        info.creationTime = info.writeTime = info.accessTime = times;
        info.size = times ? 5 : 0;
        auto made = LnkFile::create(info, path, options);
        EXPECT_TRUE(std::holds_alternative<LnkFile>(made)) << target.toStdString();
        if (std::holds_alternative<LnkFile>(made))
            drives.writeFile(relative, std::get<LnkFile>(made).serialize());
        return path;
    }

    // A shortcut to a file below c: that exists while the link is made, so
    // the link records its size and times as Windows would.
    QString shortcutToExisting(const QString &relative, const QString &targetRelative)
    {
        const QString path = drives.win(relative);
        const QByteArray posix = drives.posix(targetRelative);
        struct stat st;
        EXPECT_EQ(::stat(posix.constData(), &st), 0);
        LnkTargetInfo info;
        info.winPath = drives.win(targetRelative);
        info.attributes = 0x20;
        info.size = quint64(st.st_size);
        // FILETIME: 100 ns ticks since 1601.
        info.writeTime =
            (quint64(st.st_mtim.tv_sec) + 11644473600ULL) * 10000000ULL + quint64(st.st_mtim.tv_nsec) / 100;
        info.creationTime = info.writeTime;
        info.accessTime = info.writeTime;
        auto made = LnkFile::create(info, path);
        EXPECT_TRUE(std::holds_alternative<LnkFile>(made));
        if (std::holds_alternative<LnkFile>(made))
            drives.writeFile(relative, std::get<LnkFile>(made).serialize());
        return path;
    }

    // A valid link that names no file-system target: the header alone.
    QString shortcutWithoutTarget(const QString &relative)
    {
        QByteArray bytes(76 + 4, '\0');
        bytes[0] = 0x4C;
        const char clsid[16] = {0x01, 0x14, 0x02, 0, 0, 0, 0, 0, char(0xC0), 0, 0, 0, 0, 0, 0, 0x46};
        std::copy(clsid, clsid + 16, bytes.begin() + 4);
        bytes[60] = 1; // ShowCommand SW_SHOWNORMAL
        drives.writeFile(relative, bytes);
        return drives.win(relative);
    }
};

TEST_F(EndToEndTest, ListsExactlyTheShortcutsWhoseTargetIsStillMissing)
{
    drives.writeFile(QStringLiteral("Apps/tool.exe"), "tool");
    drives.writeFile(QStringLiteral("Apps/Old/mover.exe"), "a program that moves");
    const QString missing =
        shortcut(QStringLiteral("Desktop/Missing.lnk"), QStringLiteral("C:\\Apps\\gone.exe"));
    shortcut(QStringLiteral("Desktop/File.lnk"), QStringLiteral("C:\\Apps\\tool.exe"));
    shortcut(QStringLiteral("Desktop/Folder.lnk"), QStringLiteral("C:\\Apps"), 0x10);
    shortcutWithoutTarget(QStringLiteral("Desktop/Virtual.lnk"));
    drives.writeFile(QStringLiteral("Desktop/NotALink.lnk"),
                     "[InternetShortcut]\r\nURL=http://example.org/\r\n");
    // A variable that cannot be expanded, and no other form to judge by.
    LnkCreateOptions unknownVariable;
    unknownVariable.environmentTarget = QStringLiteral("%NO_SUCH_FOLDER_VARIABLE%\\gone.exe");
    unknownVariable.idList = false;
    unknownVariable.linkInfo = false;
    unknownVariable.relativePath = false;
    shortcut(QStringLiteral("Desktop/Unjudgeable.lnk"), QStringLiteral("C:\\Apps\\gone2.exe"), 0x20,
             unknownVariable);
    const QString moved =
        shortcutToExisting(QStringLiteral("Desktop/Moved.lnk"), QStringLiteral("Apps/Old/mover.exe"));
    const QString missingDeeper =
        shortcut(QStringLiteral("Users/Me/Start Menu/Missing.lnk"), QStringLiteral("C:\\Apps\\gone.exe"));

    QDir().mkpath(QFile::decodeName(drives.posix(QStringLiteral("Apps/New"))));
    ASSERT_TRUE(QFile::rename(QFile::decodeName(drives.posix(QStringLiteral("Apps/Old/mover.exe"))),
                              QFile::decodeName(drives.posix(QStringLiteral("Apps/New/mover.exe")))));
    const QByteArray movedBefore = readWholeFile(drives.posix(QStringLiteral("Desktop/Moved.lnk")));
    const QByteArray virtualBefore = readWholeFile(drives.posix(QStringLiteral("Desktop/Virtual.lnk")));

    scan.ScanShortcuts();

    const QStringList expected = {missing, missingDeeper};
    EXPECT_EQ(host.checkList, expected);
    EXPECT_EQ(host.listBox, expected);
    EXPECT_EQ(*results.ShortcutPaths, expected);
    EXPECT_EQ(host.label1, QStringLiteral("2 Broken Shortcuts   (double click to explore)"));
    EXPECT_EQ(host.ticks, (QList<bool>{true, true}));

    // The moved target was found and written back into the shortcut.
    const QByteArray movedAfter = readWholeFile(drives.posix(QStringLiteral("Desktop/Moved.lnk")));
    EXPECT_NE(movedAfter, movedBefore);
    auto parsed = LnkFile::parse(movedAfter);
    ASSERT_TRUE(std::holds_alternative<LnkFile>(parsed));
    EXPECT_EQ(std::get<LnkFile>(parsed).targetPath(true)->toLower(),
              QStringLiteral("c:\\apps\\new\\mover.exe"));
    QString target;
    scan.CheckShortcut(moved, target);
    EXPECT_EQ(target.toLower(), QStringLiteral("c:\\apps\\new\\mover.exe"));
    // Links that did not change are not written.
    EXPECT_EQ(readWholeFile(drives.posix(QStringLiteral("Desktop/Virtual.lnk"))), virtualBefore);
}

TEST_F(EndToEndTest, IgnoreRemoteShortcutsWithRealLinks)
{
    const QString onC = shortcut(QStringLiteral("a/OnC.lnk"), QStringLiteral("C:\\Gone\\tool.exe"));
    const QString onD = shortcut(QStringLiteral("a/OnD.lnk"), QStringLiteral("D:\\Gone\\tool.exe"));
    const QString onShare =
        shortcut(QStringLiteral("a/OnShare.lnk"), QStringLiteral("\\\\server\\share\\tool.exe"));

    scan.ScanShortcuts();
    QStringList all = host.checkList;
    all.sort();
    QStringList expected = {onC, onD, onShare};
    expected.sort();
    EXPECT_EQ(all, expected);

    host.ignoreRemote = true;
    scan.ScanShortcuts();
    EXPECT_EQ(host.checkList, QStringList{onC});
    EXPECT_EQ(results.BrokenCount, 1);
}

TEST_F(EndToEndTest, HiddenFoldersAndPipesAreLeftAlone)
{
    const QString visible =
        shortcut(QStringLiteral("Desktop/.Hidden.lnk"), QStringLiteral("C:\\Gone\\a.exe"));
    shortcut(QStringLiteral(".wine-like/Start Menu/Gone.lnk"), QStringLiteral("C:\\Gone\\b.exe"));
    drives.makeFolder(QStringLiteral("pipes"));
    ASSERT_EQ(::mkfifo(drives.posix(QStringLiteral("pipes/Pipe.lnk")).constData(), 0600), 0);
    scan.ScanShortcuts();
    EXPECT_EQ(host.checkList, QStringList{visible});
}

TEST_F(EndToEndTest, ListedOnlyWhenNoFormOfTheTargetExistsAndRepairedOnlyOnEvidence)
{
    // Environment block on c: (missing), LinkInfo on d: (there).
    drives.writeFile(QStringLiteral("Windows/System32/charmap.exe"), "x", QLatin1Char('d'));
    LnkCreateOptions vista;
    vista.environmentTarget = QStringLiteral("%windir%\\system32\\charmap.exe");
    shortcut(QStringLiteral("Menu/Charmap.lnk"), QStringLiteral("D:\\Windows\\System32\\charmap.exe"), 0x20,
             vista);
    // Only a relative path, leading nowhere and somewhere.
    LnkCreateOptions relativeOnly;
    relativeOnly.idList = relativeOnly.linkInfo = false;
    const QString nowhere = shortcut(QStringLiteral("Menu/Nowhere.lnk"), QStringLiteral("C:\\Docs\\gone.txt"),
                                     0x20, relativeOnly);
    drives.writeFile(QStringLiteral("Docs/here.txt"), "here");
    shortcut(QStringLiteral("Menu/Here.lnk"), QStringLiteral("C:\\Docs\\here.txt"), 0x20, relativeOnly);
    // A removed program whose uninstaller's name another program shares.
    const quint64 in2017 = 131300000000000000ULL;
    const QString uninstall = shortcut(QStringLiteral("Menu/Uninstall A.lnk"),
                                       QStringLiteral("C:\\Apps\\A\\uninstall.exe"), 0x20, {}, in2017);
    drives.writeFile(QStringLiteral("Apps/B/uninstall.exe"), "another uninstaller");
    // A target too long for the 260-character buffer: not judged.
    const QString longTarget = QStringLiteral("C:\\") + QString(300, QLatin1Char('x'));
    shortcut(QStringLiteral("Menu/Long.lnk"), longTarget);

    QHash<QString, QByteArray> before;
    for (const QString &name : {QStringLiteral("Charmap"), QStringLiteral("Nowhere"), QStringLiteral("Here"),
                                QStringLiteral("Uninstall A"), QStringLiteral("Long")})
        before.insert(name, readWholeFile(drives.posix(QStringLiteral("Menu/%1.lnk").arg(name))));

    scan.ScanShortcuts();

    EXPECT_EQ(host.checkList, (QStringList{nowhere, uninstall}));
    for (auto it = before.cbegin(); it != before.cend(); ++it)
        EXPECT_EQ(readWholeFile(drives.posix(QStringLiteral("Menu/%1.lnk").arg(it.key()))), it.value())
            << it.key().toStdString();
}

TEST_F(EndToEndTest, AShortcutToADriveRootIsNeverRewritten)
{
    // A machine whose only drive is z: (as when no Windows disk is found),
    // and copies of a Windows-made shortcut to C:\ (relative ..\..\..\..)
    // at several depths: whatever their relative path leads to, none is
    // rewritten; those whose relative path reaches z:\ (a root, like C:\)
    // are taken to point at it.
    TempDrives onlyZ(QStringLiteral("z"));
    drives.context()->setMap(*onlyZ.context()->map());
    QFile sampleFile(QStringLiteral(LINKMEND_TEST_DATA "/lnk-samples/local_disk.lnk"));
    ASSERT_TRUE(sampleFile.open(QIODevice::ReadOnly));
    const QByteArray bytes = sampleFile.readAll();
    const QStringList places = {QStringLiteral("local_disk.lnk"), QStringLiteral("a/b/c/d/local_disk.lnk"),
                                QStringLiteral("a/b/c/d/e/local_disk.lnk"),
                                QStringLiteral("a/b/c/d/e/f/g/local_disk.lnk")};
    for (const QString &place : places)
        onlyZ.writeFile(place, bytes, QLatin1Char('z'));

    results.SelectedDrive = QStringLiteral("z");
    scan.ScanShortcuts();

    EXPECT_EQ(host.checkList,
              (QStringList{onlyZ.win(places[2], QLatin1Char('z')), onlyZ.win(places[3], QLatin1Char('z'))}));
    for (const QString &place : places)
        EXPECT_EQ(readWholeFile(onlyZ.posix(place, QLatin1Char('z'))), bytes) << place.toStdString();
}

TEST_F(EndToEndTest, WindowStaysAliveDuringALongSearchAndMayCloseThen)
{
    // A drive with many folders makes the search for a moved target long
    // enough for the service to call its progress hook.
    for (int i = 0; i < 4000; ++i)
        ASSERT_TRUE(
            QDir().mkpath(QFile::decodeName(drives.posix(QStringLiteral("tree/%1/%2").arg(i % 40).arg(i)))));
    shortcut(QStringLiteral("Only.lnk"), QStringLiteral("C:\\Gone\\never-there.exe"), 0x20, {},
             131000000000000000ULL);

    // A dispatch before the only shortcut is recorded comes from the hook.
    int fromHook = 0;
    host.onDispatch = [&] {
        if (host.checkList.isEmpty())
            ++fromHook;
    };
    scan.ScanShortcuts();
    EXPECT_EQ(results.BrokenCount, 1);
    if (fromHook == 0)
        GTEST_SKIP() << "the search ended before the service called its progress hook";

    // The window closes inside the search: nothing is recorded and the walk
    // ends without dispatching again.
    int dispatches = 0;
    bool recordedFirst = false;
    host.onDispatch = [&] {
        ++dispatches;
        recordedFirst = recordedFirst || (dispatches == 1 && !host.checkList.isEmpty());
        host.isClosing = true;
        results.ShortcutPaths.reset();
    };
    scan.ScanShortcuts();
    if (recordedFirst)
        GTEST_SKIP() << "the second search ended before the service called its progress hook";
    EXPECT_EQ(dispatches, 1);
    EXPECT_TRUE(host.checkList.isEmpty());
    EXPECT_FALSE(results.ShortcutPaths);
    EXPECT_FALSE(host.waitCursor);
}

} // namespace
