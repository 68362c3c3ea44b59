#include "DeletionFixture.h"
#include "shell/LauncherKit.h"

#include <QFileInfo>

namespace {

using DeleteWithLaunchersTest = DeletionFixture<FakeShellUi>;

bool exists(const QByteArray &path)
{
    return QFileInfo::exists(QFile::decodeName(path));
}

TEST_F(DeleteWithLaunchersTest, AShortcutTakesItsLaunchersMenuFileAndIconIntoTheTrashAfterTheQuestionSaysSo)
{
    const QString foo = QStringLiteral("ProgramData/Microsoft/Windows/Start Menu/Programs/Foo/Foo.lnk");
    const QString plain = QStringLiteral("users/Public/Desktop/Plain.lnk");
    const QStringList listed = listShortcuts({foo, plain});
    const QByteArray prefix = m_drives.prefix();
    LauncherFiles files;
    const QByteArray menuLauncher = files.inMenu(QStringLiteral("Programs/Foo/Foo"),
                                                 windowsFormExec(prefix, m_drives.win(foo)), "1A2B_foo.0");
    const QByteArray deskLauncher = files.onDesktop(
        QStringLiteral("Foo"), unixFormExec(prefix, posix(foo), "/usr/bin/wine64"), "1A2B_foo.0");
    const QList<QByteArray> icon = files.icon("1A2B_foo.0");
    // Another prefix's launcher of a shortcut at the same path stays.
    const QByteArray otherLauncher = files.inMenu(QStringLiteral("Programs/Foo/Other"),
                                                  windowsFormExec(m_drives.cacheHome(), m_drives.win(foo)));

    // Declined, nothing moves.
    m_ui.answer = false;
    m_review.deleteTicked();
    ASSERT_EQ(m_ui.questions.size(), 1);
    EXPECT_EQ(m_ui.questions.first(),
              QStringLiteral("Are you sure you want to move these 2 files to the Trash? "
                             "The 2 Wine launchers that start them go too."));
    EXPECT_EQ(m_ui.launcherCounts.first(), 2);
    EXPECT_TRUE(exists(menuLauncher) && exists(deskLauncher) && exists(icon.first()));
    EXPECT_EQ(m_host.checkList, listed);

    m_ui.answer = true;
    m_review.deleteTicked();
    EXPECT_TRUE(m_ui.messages.isEmpty()) << m_ui.messages.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(m_host.checkList.isEmpty());
    EXPECT_TRUE(restorable(foo));
    EXPECT_TRUE(restorable(plain));
    const QByteArray menuFile = files.menuFile(QStringLiteral("Programs/Foo/Foo"));
    for (const QByteArray &file : {menuLauncher, deskLauncher, menuFile, icon.first(), icon.last()})
        EXPECT_FALSE(exists(file)) << file.constData();
    EXPECT_TRUE(
        restorable(deskLauncher,
                   LauncherFiles::entry(QStringLiteral("Foo"),
                                        unixFormExec(prefix, posix(foo), "/usr/bin/wine64"), "1A2B_foo.0")));
    EXPECT_TRUE(restorable(icon.first(), "PNG 1A2B_foo.0"));
    EXPECT_TRUE(exists(otherLauncher) && exists(files.menuFile(QStringLiteral("Programs/Foo/Other"))));
}

TEST_F(DeleteWithLaunchersTest, TheResultSaysWhereEachFileOfAShortcutWentInTheTrash)
{
    const QString foo = QStringLiteral("Games/Foo.lnk");
    const QStringList listed = listShortcuts({foo});
    LauncherFiles files;
    const QByteArray launcher =
        files.inMenu(QStringLiteral("Games/Foo"), windowsFormExec(m_drives.prefix(), m_drives.win(foo)));
    // A second launcher of the same shortcut, its icon shared with a
    // launcher that stays: the icon stays too.
    const QByteArray second = files.onDesktop(
        QStringLiteral("Foo"), windowsFormExec(m_drives.prefix(), m_drives.win(foo)), "7A8B_shared.0");
    LauncherFiles::write(files.folders.applications + "/keeps.desktop",
                         LauncherFiles::entry(QStringLiteral("Keeps"), "keeps", "7A8B_shared.0"));
    const QList<QByteArray> shared = files.icon("7A8B_shared.0");

    const TrashResult result = m_shell->deleteToTrash(listed);
    EXPECT_EQ(m_ui.questions.first(),
              QStringLiteral(
                  "Are you sure you want to move \"%1\" to the Trash? The 2 Wine launchers that start it go "
                  "too.")
                  .arg(listed.first()));
    ASSERT_EQ(result.groups.size(), 1);
    const TrashGroup &group = result.groups.first();
    EXPECT_EQ(group.request, listed.first());
    QList<QByteArray> originals;
    for (const TrashEntry &move : group.files) {
        originals << move.path;
        // Each file is where the trash's record says, under its name there.
        EXPECT_EQ(readWholeFile(move.infoPath).contains("Path="), true) << move.infoPath.constData();
        EXPECT_TRUE(exists(move.trashPath)) << move.trashPath.constData();
        EXPECT_TRUE(move.trashPath.startsWith(m_trash + "/files/")) << move.trashPath.constData();
    }
    EXPECT_EQ(originals,
              (QList<QByteArray>{posix(foo), launcher, files.menuFile(QStringLiteral("Games/Foo")), second}));
    EXPECT_TRUE(exists(shared.first()) && exists(shared.last()));
    EXPECT_TRUE(result.companionsFailed.isEmpty());
}

} // namespace
