#include "shell/WineLaunchers.h"
#include "shell/DesktopEntry.h"
#include "shell/LauncherKit.h"

#include "platform/DriveContext.h"
#include "support/TempDrives.h"

#include <gtest/gtest.h>

namespace {

std::optional<WineLaunch> launchOf(const QByteArray &execLine)
{
    const std::optional<DesktopEntry> entry = DesktopEntry::parse("[Desktop Entry]\nExec=" + execLine + '\n');
    return entry ? WineLaunch::fromEntry(*entry) : std::nullopt;
}

TEST(DesktopEntryTest, ReadsBothFormsWineWritesWithEveryEscapeUndone)
{
    // Exactly what Debian's Wine 8 wrote for a Start-menu shortcut.
    const std::optional<DesktopEntry> sample = DesktopEntry::parse(
        "[Desktop Entry]\nName=Foo\nExec=env WINEPREFIX=\"/home/ann/.wine\" wine-stable "
        "C:\\\\\\\\ProgramData\\\\\\\\Microsoft\\\\\\\\Windows\\\\\\\\Start\\\\ "
        "Menu\\\\\\\\Programs\\\\\\\\Foo\\\\\\\\Foo.lnk\nType=Application\nStartupNotify=true\n"
        "StartupWMClass=foo.exe\n");
    ASSERT_TRUE(sample);
    const std::optional<WineLaunch> wine8 = WineLaunch::fromEntry(*sample);
    ASSERT_TRUE(wine8);
    EXPECT_EQ(wine8->prefix, "/home/ann/.wine");
    EXPECT_EQ(wine8->windowsPath,
              QStringLiteral("C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Foo\\Foo.lnk"));
    EXPECT_TRUE(wine8->unixPath.isEmpty());

    // start.exe /Unix with the path quoted: '$', '"' and '\' escaped inside
    // the quotes, and the string escapes undone first.
    const auto quoted = launchOf("env WINEDEBUG=-all WINEPREFIX=\"/home/ann/My Games\" /opt/wine/bin/wine64 "
                                 "C:\\\\\\\\windows\\\\\\\\command\\\\\\\\start.exe /Unix "
                                 "\"/home/ann/Desk top/\\\\$5 \\\\\"Deal\\\\\".lnk\"");
    ASSERT_TRUE(quoted);
    EXPECT_EQ(quoted->prefix, "/home/ann/My Games");
    EXPECT_EQ(quoted->unixPath, "/home/ann/Desk top/$5 \"Deal\".lnk");
    EXPECT_TRUE(quoted->windowsPath.isEmpty());
    // ...or escaped without quotes ("\\\s" is an escaped space too); a
    // field code that stands for files is no argument.
    const auto escaped =
        launchOf("env WINEPREFIX=/p wine start /unix /home/ann/Desk\\\\ top/a\\\\\\s%%.lnk %U");
    ASSERT_TRUE(escaped);
    EXPECT_EQ(escaped->unixPath, "/home/ann/Desk top/a %.lnk");
}

TEST(DesktopEntryTest, LinesThatAreMalformedOrStartSomethingElseAreNoLaunchers)
{
    for (const QByteArray &exec : {
             // Malformed: an escape the string type lacks, a lone final
             // backslash, an unterminated quote, a reserved character bare.
             QByteArray("env WINEPREFIX=\"/p\" wine C:\\\\\\\\x\\q.lnk"),
             QByteArray("env WINEPREFIX=\"/p\" wine C:\\\\\\\\x.lnk\\"),
             QByteArray("env WINEPREFIX=\"/p wine C:\\\\\\\\x.lnk"),
             QByteArray("env WINEPREFIX=\"/p\" wine C:\\\\\\\\x.lnk;rm"),
             QByteArray("env WINEPREFIX=\"/p\" wine $HOME/x.lnk"),
             // Well formed, but no shortcut of a prefix.
             QByteArray("env WINEPREFIX=\"/p\" wine notepad.exe"),
             QByteArray("env WINEPREFIX=\"/p\" winetricks C:\\\\\\\\x.lnk"),
             QByteArray("env WINEPREFIX=\"/p\" /bin/sh -c C:\\\\\\\\x.lnk"),
             QByteArray("wine C:\\\\\\\\x.lnk"),
             QByteArray("env WINEPREFIX= wine C:\\\\\\\\x.lnk"),
             QByteArray("env WINEPREFIX=/p WINEPREFIX=/q wine C:\\\\\\\\x.lnk"),
             QByteArray("env WINEPREFIX=\"/p\" wine start.exe /Unix relative/x.lnk"),
             QByteArray("env WINEPREFIX=\"/p\" wine C:\\\\\\\\x.lnk C:\\\\\\\\y.lnk"),
         })
        EXPECT_FALSE(launchOf(exec)) << exec.constData();

    // Keys of other groups are not the entry's; a file with two entry groups
    // is not trusted.
    const auto action = DesktopEntry::parse(
        "[Desktop Entry]\nName=x\n[Desktop Action go]\nExec=env WINEPREFIX=/p wine C:\\\\\\\\x.lnk\n");
    ASSERT_TRUE(action);
    EXPECT_FALSE(action->string(QStringLiteral("Exec")));
    EXPECT_FALSE(DesktopEntry::parse("[Desktop Entry]\nName=a\n[Desktop Entry]\nName=b\n"));
    EXPECT_FALSE(DesktopEntry::parse("[Desktop Entry]\nName=a\nName=b\n"));
}

class WineLaunchersTest : public ::testing::Test
{
protected:
    TempDrives drives;
    LauncherFiles files;
    QString menuLnk = QStringLiteral("ProgramData/Microsoft/Windows/Start Menu/Programs/Foo/Foo.lnk");
    QString deskLnk = QStringLiteral("users/Public/Desktop/Desk.lnk");
};

TEST_F(WineLaunchersTest, FindsTheLaunchersOfThisPrefixInBothFormsAndLeavesOthersAlone)
{
    drives.writeFile(menuLnk, "shortcut");
    drives.writeFile(deskLnk, "shortcut");
    const QByteArray prefix = drives.prefix();

    // Windows form, in another letter case than the files, as Wine finds it.
    const QByteArray foo = files.inMenu(
        QStringLiteral("Programs/Foo/Foo"),
        windowsFormExec(
            prefix,
            QStringLiteral("C:\\PROGRAMDATA\\Microsoft\\Windows\\Start Menu\\Programs\\foo\\FOO.LNK")),
        "1A2B_foo.0");
    // start.exe /Unix through the prefix's dosdevices/ link, on the desktop.
    const QByteArray desk =
        files.onDesktop(QStringLiteral("Desk"),
                        unixFormExec(prefix, prefix + "/dosdevices/c:/" + deskLnk.toUtf8()), "3C4D_desk.0");
    // The same shortcut path in another prefix, and a launcher of this
    // prefix outside Wine's folder of the menu: neither is one.
    const QByteArray other =
        files.inMenu(QStringLiteral("Programs/Foo/Other"),
                     windowsFormExec(drives.cacheHome() + "/other-prefix",
                                     QStringLiteral("C:\\ProgramData\\Microsoft\\Windows\\Start "
                                                    "Menu\\Programs\\Foo\\Foo.lnk")),
                     "3C4D_desk.0");
    LauncherFiles::write(
        files.folders.applications + "/mine.desktop",
        LauncherFiles::entry(QStringLiteral("Mine"), windowsFormExec(prefix, drives.win(menuLnk)), {}));
    // Launchers of this prefix whose shortcuts are gone, or on a letter the
    // prefix lacks.
    const QByteArray gone = files.inMenu(QStringLiteral("Programs/Gone"),
                                         windowsFormExec(prefix, QStringLiteral("C:\\Programs\\Gone.lnk")));
    files.onDesktop(QStringLiteral("Far"), windowsFormExec(prefix, QStringLiteral("Q:\\Far.lnk")));
    const QList<QByteArray> fooIcon = files.icon("1A2B_foo.0");
    files.icon("3C4D_desk.0");

    const WineLaunchers launchers(*drives.context());
    ASSERT_EQ(launchers.all().size(), 4); // Foo, Desk, Gone and Far
    const QList<WineLauncher> ofFoo = launchers.starting(drives.posix(menuLnk));
    ASSERT_EQ(ofFoo.size(), 1);
    EXPECT_EQ(ofFoo.first().file, foo);
    EXPECT_EQ(ofFoo.first().menuId, QStringLiteral("wine-Programs-Foo-Foo.desktop"));
    const QList<WineLauncher> ofDesk = launchers.starting(drives.posix(deskLnk));
    ASSERT_EQ(ofDesk.size(), 1);
    EXPECT_EQ(ofDesk.first().file, desk);
    EXPECT_TRUE(launchers.at(desk));
    EXPECT_FALSE(launchers.at(other));

    const QList<WineLauncher> orphans = launchers.orphans();
    ASSERT_EQ(orphans.size(), 1);
    EXPECT_EQ(orphans.first().file, gone);
    EXPECT_EQ(orphans.first().named, QStringLiteral("C:\\Programs\\Gone.lnk"));

    // Foo's menu file and icon are Foo's alone; Desk's icon is also the other
    // prefix's launcher's, so it stays.
    QList<QByteArray> along{files.menuFile(QStringLiteral("Programs/Foo/Foo"))};
    along << fooIcon;
    std::sort(along.begin(), along.end());
    QList<QByteArray> fooAlong = launchers.companions(ofFoo.first(), {foo});
    std::sort(fooAlong.begin(), fooAlong.end());
    EXPECT_EQ(fooAlong, along);
    EXPECT_TRUE(launchers.companions(ofDesk.first(), {desk}).isEmpty());
    // Not leaving, Foo keeps them.
    EXPECT_TRUE(launchers.companions(ofFoo.first(), {}).isEmpty());
}

} // namespace
