#include "shell/ShellServices.h"

#include "shell/ChangeJournal.h"
#include "shell/JournalUndo.h"
#include "shell/ShellTestKit.h"
#include "support/TempDrives.h"

#include <QFile>

#include <gtest/gtest.h>

namespace {

class ShellServicesTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_trash = TrashSandbox::emptyTrash();
        // Never let a test reach the user's own trash.
        ASSERT_EQ(ShellServices::homeTrashFolder(), TrashSandbox::expected());
    }

    bool exists(const QString &relative) const
    {
        return QFile::exists(QFile::decodeName(m_drives.posix(relative)));
    }

    TempDrives m_drives;
    FakeShellUi m_ui;
    std::unique_ptr<ShellServices> m_shell = ShellServices::create(m_ui, m_drives.context());
    QByteArray m_trash;
};

TEST_F(ShellServicesTest, OneConfirmedRequestMovesEveryFileRestorably)
{
    m_drives.writeFile(QStringLiteral("Users/Public/Desktop/Old.lnk"), "first");
    m_drives.writeFile(QStringLiteral("Old.lnk"), "second"); // same name: the trash must keep both
    const QStringList paths = {m_drives.win(QStringLiteral("Users/Public/Desktop/Old.lnk")),
                               m_drives.win(QStringLiteral("Old.lnk"))};

    const TrashResult result = m_shell->deleteToTrash(paths);

    EXPECT_TRUE(result.confirmed);
    EXPECT_EQ(result.moved, paths);
    EXPECT_TRUE(result.gone.isEmpty());
    EXPECT_TRUE(result.failed.isEmpty());
    ASSERT_EQ(m_ui.requests.size(), 1);
    EXPECT_EQ(m_ui.requests.first(), paths);
    EXPECT_EQ(m_ui.questions.first(),
              QStringLiteral("Are you sure you want to move these 2 files to the Trash?"));
    EXPECT_TRUE(m_ui.messages.isEmpty());
    EXPECT_FALSE(exists(QStringLiteral("Users/Public/Desktop/Old.lnk")));
    EXPECT_FALSE(exists(QStringLiteral("Old.lnk")));

    const QList<TrashedFile> trashed = trashContents(m_trash);
    ASSERT_EQ(trashed.size(), 2);
    EXPECT_EQ(trashFileCount(m_trash), 2);
    for (const TrashedFile &file : trashed) {
        EXPECT_TRUE(file.infoHeaderOk);
        EXPECT_TRUE(file.hasFile);
        EXPECT_TRUE(QByteArray(file.deletionDate).contains('T'));
        if (file.originalPath == m_drives.posix(QStringLiteral("Users/Public/Desktop/Old.lnk")))
            EXPECT_EQ(file.contents, "first");
        else if (file.originalPath == m_drives.posix(QStringLiteral("Old.lnk")))
            EXPECT_EQ(file.contents, "second");
        else
            ADD_FAILURE() << "unexpected original path " << file.originalPath.constData();
    }
}

TEST_F(ShellServicesTest, DeclinedOrEmptyRequestTouchesNothing)
{
    m_drives.writeFile(QStringLiteral("a.lnk"), "a");
    m_ui.answer = false;

    const TrashResult declined = m_shell->deleteToTrash({m_drives.win(QStringLiteral("a.lnk"))});
    EXPECT_FALSE(declined.confirmed);
    EXPECT_TRUE(declined.moved.isEmpty() && declined.gone.isEmpty() && declined.failed.isEmpty());
    EXPECT_EQ(m_ui.questions, QStringList{QStringLiteral("Are you sure you want to move \"%1\" to the Trash?")
                                              .arg(m_drives.win(QStringLiteral("a.lnk")))});
    EXPECT_TRUE(exists(QStringLiteral("a.lnk")));
    EXPECT_EQ(trashFileCount(m_trash), 0);

    const TrashResult empty = m_shell->deleteToTrash({});
    EXPECT_TRUE(empty.confirmed);
    EXPECT_EQ(m_ui.questions.size(), 1); // nothing asked for nothing
    EXPECT_TRUE(m_ui.messages.isEmpty());
}

TEST_F(ShellServicesTest, FilesItCannotMoveAreLeftAndListedInOneMessage)
{
    Untrashable refused(m_drives, QStringLiteral("stuck.lnk"), "stuck");
    ASSERT_TRUE(refused.usable());
    m_drives.writeFile(QStringLiteral("ok.lnk"), "ok");
    m_drives.makeFolder(QStringLiteral("folder.lnk"));
    const QString ok = m_drives.win(QStringLiteral("ok.lnk"));
    const QString missing = m_drives.win(QStringLiteral("missing.lnk"));
    const QString noDrive = QStringLiteral("q:\\nowhere.lnk");
    const QString folder = m_drives.win(QStringLiteral("folder.lnk"));
    const QString root = QStringLiteral("c:\\");

    const TrashResult result =
        m_shell->deleteToTrash({refused.winPath(), ok, missing, noDrive, folder, root});

    EXPECT_TRUE(result.confirmed);
    EXPECT_EQ(result.moved, QStringList{ok});
    EXPECT_EQ(result.gone, QStringList{missing});
    EXPECT_EQ(result.failed, (QStringList{refused.winPath(), noDrive, folder, root}));
    EXPECT_EQ(readWholeFile(refused.posixPath()), "stuck");
    EXPECT_TRUE(exists(QStringLiteral("folder.lnk")));
    EXPECT_EQ(trashFileCount(m_trash), 1); // only ok.lnk: no folder, no drive went

    ASSERT_EQ(m_ui.messages.size(), 1);
    const QString &message = m_ui.messages.first();
    EXPECT_TRUE(message.startsWith(QStringLiteral("These 4 files could not be moved to the Trash:")))
        << message.toStdString();
    for (const QString &path : {refused.winPath(), noDrive, folder, root})
        EXPECT_TRUE(message.contains(path + QLatin1Char('\n'))) << path.toStdString();
    // Only what is still there is named: not the moved file, nor the one
    // that was gone already.
    EXPECT_FALSE(message.contains(ok));
    EXPECT_FALSE(message.contains(missing));
}

TEST_F(ShellServicesTest, ADriveWithoutATrashIsNamedAndTheFileKept)
{
    // GIO keeps no trash on memory file systems such as /dev/shm: the file
    // stays, and the message says it can be removed from that drive by hand.
    QTemporaryDir memory(QStringLiteral("/dev/shm/linkmend-test-XXXXXX"));
    if (!memory.isValid())
        GTEST_SKIP() << "no /dev/shm here";
    m_drives.mapLetter(QLatin1Char('m'), QFile::encodeName(memory.path()));
    const QByteArray posix = QFile::encodeName(memory.filePath(QStringLiteral("Old.lnk")));
    QFile file(QFile::decodeName(posix));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write("old") == 3);
    file.close();
    const QString path = QStringLiteral("m:\\Old.lnk");

    const TrashResult result = m_shell->deleteToTrash({path});
    if (result.moved == QStringList{path})
        GTEST_SKIP() << "this GIO keeps a trash on /dev/shm";
    EXPECT_EQ(result.failed, QStringList{path});
    EXPECT_EQ(readWholeFile(posix), "old");
    ASSERT_EQ(m_ui.messages.size(), 1);
    EXPECT_TRUE(m_ui.messages.first().contains(path + QLatin1Char('\n')))
        << m_ui.messages.first().toStdString();
    EXPECT_TRUE(m_ui.messages.first().contains(QStringLiteral("can be removed from it by hand")))
        << m_ui.messages.first().toStdString();
}

TEST_F(ShellServicesTest, PathWithSpacesAndCommasIsOneItemWithEncodedOriginalPath)
{
    const QString relative = QStringLiteral("My Links, old/Word, 2003 %20 & more.lnk");
    m_drives.writeFile(relative, "word");
    const QString path = m_drives.win(relative);

    const TrashResult result = m_shell->deleteToTrash({path});

    EXPECT_EQ(result.moved, QStringList{path});
    EXPECT_EQ(m_ui.questions.first(),
              QStringLiteral("Are you sure you want to move \"%1\" to the Trash?").arg(path));
    const QList<TrashedFile> trashed = trashContents(m_trash);
    ASSERT_EQ(trashed.size(), 1);
    EXPECT_EQ(trashed.first().originalPath, m_drives.posix(relative));
    EXPECT_FALSE(trashed.first().rawPath.contains(' '));
    EXPECT_EQ(trashed.first().contents, "word");
}

TEST_F(ShellServicesTest, OpensFoldersAndWebAddressesOnly)
{
    m_drives.makeFolder(QStringLiteral("Users/Public/Desktop"));
    m_shell->openFolder(m_drives.win(QStringLiteral("Users/Public/Desktop/")));
    m_shell->openFolder(QStringLiteral("c:\\"));
    m_shell->openFolder(QStringLiteral("q:\\")); // no such drive
    m_shell->openFolder(QString());
    m_shell->openWebAddress(
        QStringLiteral("http://www.tessivane.example/?utm_medium=app&utm_campaign=linkmend"));
    m_shell->openWebAddress(QStringLiteral("file:///etc/passwd"));
    m_shell->openWebAddress(QStringLiteral("not an address"));

    ASSERT_EQ(m_ui.urls.size(), 3);
    EXPECT_EQ(m_ui.urls[0],
              QUrl::fromLocalFile(QFile::decodeName(m_drives.posix(QStringLiteral("Users/Public/Desktop")))));
    EXPECT_EQ(m_ui.urls[1], QUrl::fromLocalFile(QFile::decodeName(m_drives.root())));
    EXPECT_EQ(m_ui.urls[2].toString(),
              QStringLiteral("http://www.tessivane.example/?utm_medium=app&utm_campaign=linkmend"));
}

TEST_F(ShellServicesTest, AMoveToTheTrashIsJournalledAndUndoPutsTheFileBackThenTrashesItAgain)
{
    m_drives.writeFile(QStringLiteral("Desktop/Old.lnk"), "old shortcut");
    m_drives.writeFile(QStringLiteral("Old.lnk"),
                       "same name, elsewhere"); // its trash entry gets another name
    ASSERT_TRUE(m_shell->deleteToTrash({m_drives.win(QStringLiteral("Old.lnk"))}).confirmed);
    ASSERT_TRUE(m_shell->deleteToTrash({m_drives.win(QStringLiteral("Desktop/Old.lnk"))}).confirmed);
    ASSERT_FALSE(exists(QStringLiteral("Desktop/Old.lnk")));

    const QList<JournalRun> runs = ChangeJournal::runs(m_drives.journalFolder());
    ASSERT_EQ(runs.size(), 2);
    const JournalRun &run = runs.last();
    ASSERT_EQ(run.changes.size(), 1);
    const JournalChange &trashed = run.changes.first();
    EXPECT_EQ(trashed.kind, JournalChange::Kind::Trash);
    ASSERT_EQ(trashed.files.size(), 1);
    const TrashEntry &entry = trashed.files.first();
    EXPECT_EQ(entry.path, m_drives.posix(QStringLiteral("Desktop/Old.lnk")));
    EXPECT_EQ(readWholeFile(entry.trashPath), "old shortcut");
    EXPECT_TRUE(entry.info.startsWith("[Trash Info]")) << entry.info.constData();

    // Put back, with its note gone from the trash; the undo undone moves it
    // to the same entry again, note and all.
    const JournalUndo::Report back = JournalUndo(JournalUndo::journalFor(run)).undo(run);
    EXPECT_TRUE(back.complete());
    EXPECT_EQ(readWholeFile(m_drives.posix(QStringLiteral("Desktop/Old.lnk"))), "old shortcut");
    EXPECT_FALSE(QFile::exists(QFile::decodeName(entry.infoPath)));
    const std::variant<JournalRun, QString> undoRun =
        ChangeJournal::find(QStringLiteral("--last"), m_drives.journalFolder());
    ASSERT_TRUE(std::holds_alternative<JournalRun>(undoRun));
    EXPECT_TRUE(JournalUndo(JournalUndo::journalFor(std::get<JournalRun>(undoRun)))
                    .undo(std::get<JournalRun>(undoRun))
                    .complete());
    EXPECT_FALSE(exists(QStringLiteral("Desktop/Old.lnk")));
    EXPECT_EQ(readWholeFile(entry.trashPath), "old shortcut");
    EXPECT_EQ(readWholeFile(entry.infoPath), entry.info);

    // Something standing at its place again keeps it in the trash.
    m_drives.writeFile(QStringLiteral("Desktop/Old.lnk"), "a new one");
    const JournalUndo::Report blocked = JournalUndo(JournalUndo::journalFor(run)).undo(run);
    EXPECT_EQ(blocked.count(JournalUndo::Item::Result::ChangedSince), 1);
    EXPECT_EQ(readWholeFile(m_drives.posix(QStringLiteral("Desktop/Old.lnk"))), "a new one");
    EXPECT_EQ(readWholeFile(entry.trashPath), "old shortcut");
}

} // namespace
