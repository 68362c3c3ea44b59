#include "ProgramFixture.h"
#include "shell/LauncherKit.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

// `check` and `trash` as processes, with the launchers Wine made for the
// prefix's shortcuts in the run's home: one for a broken shortcut, one for a
// shortcut that gets repaired, one whose shortcut is gone, and one of
// another prefix whose shortcut is gone too.
class LauncherCommandTest : public ProgramFixture
{
protected:
    LauncherCommandTest()
    {
        const QByteArray base = QFile::encodeName(home.path());
        files.folders = {base + "/data/applications", base + "/Desktop", base + "/data/icons",
                         base + "/.config/menus/applications-merged"};
        const QByteArray prefix = drives.prefix();

        broken = shortcut(QStringLiteral("Programs/Foo/Foo.lnk"), QStringLiteral("C:\\Foo\\foo.exe"));
        fooLauncher =
            files.inMenu(QStringLiteral("Programs/Foo/Foo"),
                         windowsFormExec(prefix, QStringLiteral("C:\\programs\\foo\\Foo.lnk")), "1A2B_foo.0");
        fooIcon = files.icon("1A2B_foo.0");

        drives.writeFile(QStringLiteral("Docs/report.txt"), "report");
        moved = shortcutToExisting(QStringLiteral("users/Public/Desktop/Report.lnk"),
                                   QStringLiteral("Docs/report.txt"));
        move(QStringLiteral("Docs/report.txt"), QStringLiteral("Docs/2023/report.txt"));
        movedLauncher =
            files.onDesktop(QStringLiteral("Report"), unixFormExec(prefix, QFile::encodeName(moved)));

        goneLauncher = files.inMenu(QStringLiteral("Programs/Gone"),
                                    windowsFormExec(prefix, QStringLiteral("C:\\Programs\\Gone.lnk")));
        otherLauncher =
            files.inMenu(QStringLiteral("Programs/Other"),
                         windowsFormExec(base + "/other-prefix", QStringLiteral("C:\\Programs\\Gone.lnk")));
    }

    LauncherFiles files;
    QString broken, moved;
    QByteArray fooLauncher, movedLauncher, goneLauncher, otherLauncher;
    QList<QByteArray> fooIcon;
};

bool exists(const QByteArray &path)
{
    return QFileInfo::exists(QFile::decodeName(path));
}

TEST_F(LauncherCommandTest, CheckNamesLaunchersWhoseShortcutIsGoneAndKeepsThoseOfRepairedOnes)
{
    const Run json = run({QStringLiteral("repair"), QStringLiteral("--json"), QStringLiteral("c:")});
    EXPECT_EQ(json.status, 1) << json.err.constData();
    const QJsonObject report = QJsonDocument::fromJson(json.out).object();
    EXPECT_EQ(report.value(QStringLiteral("repairs")).toArray().size(), 1);
    const QJsonArray orphans = report.value(QStringLiteral("orphanLaunchers")).toArray();
    ASSERT_EQ(orphans.size(), 1) << json.out.constData();
    const QJsonObject orphan = orphans.first().toObject();
    EXPECT_EQ(orphan.value(QStringLiteral("path")).toString(), QFile::decodeName(goneLauncher));
    EXPECT_EQ(orphan.value(QStringLiteral("shortcut")).toString(), QStringLiteral("C:\\Programs\\Gone.lnk"));
    EXPECT_EQ(orphan.value(QStringLiteral("shortcutPath")).toString(),
              path(QStringLiteral("Programs/Gone.lnk")));
    EXPECT_EQ(
        report.value(QStringLiteral("counts")).toObject().value(QStringLiteral("orphanLaunchers")).toInt(),
        1);
    // The repaired shortcut is where it was: its launcher still starts it.
    EXPECT_TRUE(exists(movedLauncher));

    // Text: a line like a broken shortcut's, the launcher and what it starts.
    const Run text = run({QStringLiteral("check"), QStringLiteral("c:")});
    EXPECT_EQ(text.status, 1);
    // The launchers come after the walk, so after the shortcuts.
    EXPECT_EQ(QString::fromUtf8(text.out).split(QLatin1Char('\n'), Qt::SkipEmptyParts),
              (QStringList{broken + QStringLiteral("\tC:\\Foo\\foo.exe"),
                           QFile::decodeName(goneLauncher) + QStringLiteral("\tC:\\Programs\\Gone.lnk")}));
    // For xargs -0, the launcher's path alone, ended by NUL like a shortcut's.
    const Run null = run({QStringLiteral("check"), QStringLiteral("-0"), QStringLiteral("c:")});
    EXPECT_EQ(null.out, QFile::encodeName(broken) + '\0' + goneLauncher + '\0');
    // A check of another folder says nothing of launchers outside it.
    const Run elsewhere = run({QStringLiteral("check"), QStringLiteral("c:\\Docs")});
    EXPECT_EQ(elsewhere.status, 0) << elsewhere.out.constData();
}

TEST_F(LauncherCommandTest, TrashTakesAShortcutWithItsLauncherAndAnOrphanLauncherButNoOtherPrefixs)
{
    const QString gone = QFile::decodeName(goneLauncher);
    const Run declined = run({QStringLiteral("trash"), broken, gone}, "n\n");
    EXPECT_EQ(declined.status, 1);
    EXPECT_TRUE(declined.err.contains(
        "Move these 2 files to the trash? The Wine launcher that starts one of them goes too. [y/N]"))
        << declined.err.constData();
    EXPECT_TRUE(exists(fooLauncher) && exists(goneLauncher));

    const Run refused =
        run({QStringLiteral("trash"), QStringLiteral("--yes"), QFile::decodeName(otherLauncher)});
    EXPECT_EQ(refused.status, 2);
    EXPECT_TRUE(refused.err.contains("not a launcher that Wine made for a shortcut of this prefix"))
        << refused.err.constData();

    const Run agreed = run({QStringLiteral("trash"), QStringLiteral("--yes"), broken, gone});
    EXPECT_EQ(agreed.status, 0) << agreed.err.constData();
    QStringList expected;
    for (const QByteArray &file :
         {QFile::encodeName(broken), fooLauncher, files.menuFile(QStringLiteral("Programs/Foo/Foo")),
          fooIcon.first(), fooIcon.last(), goneLauncher, files.menuFile(QStringLiteral("Programs/Gone"))}) {
        expected << QStringLiteral("moved to the trash: ") + QFile::decodeName(file);
        EXPECT_FALSE(exists(file)) << file.constData();
    }
    EXPECT_EQ(QString::fromUtf8(agreed.out).split(QLatin1Char('\n'), Qt::SkipEmptyParts), expected);
    EXPECT_TRUE(exists(otherLauncher) && exists(files.menuFile(QStringLiteral("Programs/Other"))));
    EXPECT_TRUE(exists(movedLauncher));
}

TEST_F(LauncherCommandTest, UndoPutsBackAShortcutWithItsLauncherMenuFileAndIconAndItsUndoTrashesThemAgain)
{
    const QList<QByteArray> together{QFile::encodeName(broken), fooLauncher,
                                     files.menuFile(QStringLiteral("Programs/Foo/Foo")), fooIcon.first(),
                                     fooIcon.last()};
    QList<QByteArray> bytes;
    for (const QByteArray &file : together)
        bytes << readWholeFile(file);

    const Run trashed = run({QStringLiteral("trash"), QStringLiteral("--yes"), broken});
    ASSERT_EQ(trashed.status, 0) << trashed.err.constData();
    for (const QByteArray &file : together)
        ASSERT_FALSE(exists(file)) << file.constData();

    // One change: the run lists one move, and its undo puts back all five.
    const Run listed = run({QStringLiteral("undo")});
    EXPECT_TRUE(listed.out.endsWith("\ttrash\t1 moved to the trash\n")) << listed.out.constData();
    const Run undone = run({QStringLiteral("undo"), QStringLiteral("--last")});
    EXPECT_EQ(undone.status, 0) << undone.err.constData();
    QByteArray putBack;
    for (qsizetype i = 0; i < together.size(); ++i) {
        putBack += "put back " + together.at(i) + '\n';
        EXPECT_EQ(readWholeFile(together.at(i)), bytes.at(i)) << together.at(i).constData();
    }
    EXPECT_EQ(undone.out, putBack);
    // The trash keeps no note on a file that is back in its place.
    const QDir trashInfo(home.path() + QStringLiteral("/data/Trash/info"));
    EXPECT_TRUE(trashInfo.entryList(QDir::Files).isEmpty())
        << trashInfo.entryList(QDir::Files).join(' ').toStdString();
    EXPECT_TRUE(exists(goneLauncher) && exists(movedLauncher));

    // Undoing the undo sends them back to the trash together.
    const Run again = run({QStringLiteral("undo"), QStringLiteral("--last")});
    EXPECT_EQ(again.status, 0) << again.err.constData();
    for (const QByteArray &file : together)
        EXPECT_FALSE(exists(file)) << file.constData();
    EXPECT_EQ(trashInfo.entryList(QDir::Files).size(), together.size());
}

} // namespace
