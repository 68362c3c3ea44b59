#include "FakeScanHost.h"

#include "platform/WinTypes.h"
#include "scan/ShortcutScan.h"
#include "shell/LnkFile.h"
#include "shell/ShellLinkService.h"
#include "support/TempDrives.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <variant>

namespace {

// Scans of temporary drives c: and d: holding shortcuts made by our own
// codec, checked and repaired by our own link service.
class EndToEndTest : public ::testing::Test
{
protected:
    EndToEndTest() { results.SelectedDrive = QStringLiteral("c"); }

    // Writes a shortcut below c: pointing at `target` (Windows form); its
    // Windows-form path.
    QString shortcut(const QString &relative, const QString &target, quint32 attributes = 0x20,
                     const LnkCreateOptions &options = {})
    {
        const QString path = drives.win(relative);
        LnkTargetInfo info;
        info.winPath = target;
        info.attributes = attributes;
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

    TempDrives drives{QStringLiteral("cd")};
    FakeScanHost host;
    ShellLinkService service;
    ScanResults results;
    ShortcutScan scan{host, results, service};
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
    LnkCreateOptions unknownVariable;
    unknownVariable.environmentTarget = QStringLiteral("%NO_SUCH_FOLDER_VARIABLE%\\gone.exe");
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

TEST_F(EndToEndTest, WindowStaysAliveDuringALongSearchAndMayCloseThen)
{
    // A drive with many folders makes the search for a moved target long
    // enough for the service to call its progress hook.
    for (int i = 0; i < 4000; ++i)
        ASSERT_TRUE(
            QDir().mkpath(QFile::decodeName(drives.posix(QStringLiteral("tree/%1/%2").arg(i % 40).arg(i)))));
    shortcut(QStringLiteral("Only.lnk"), QStringLiteral("C:\\Gone\\never-there.exe"));

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
