#include "review/ResultReview.h"

#include "ReviewFakes.h"
#include "shell/ShellTestKit.h"
#include "support/TempDrives.h"

#include <gtest/gtest.h>

namespace {

class DeleteCheckedShortcutsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_trash = TrashSandbox::emptyTrash();
        // Never let a test reach the user's own trash.
        ASSERT_EQ(ShellServices::homeTrashFolder(), TrashSandbox::expected());
    }

    // Writes one shortcut file per relative path (its contents the path) and
    // lists them all, ticked, as a scan leaves them.
    QStringList listShortcuts(const QStringList &relatives)
    {
        QStringList paths;
        for (const QString &relative : relatives) {
            m_drives.writeFile(relative, relative.toUtf8());
            paths << m_drives.win(relative);
        }
        m_host.fill(paths);
        return paths;
    }

    bool onDisk(const QString &relative) const
    {
        return QFile::exists(QFile::decodeName(m_drives.posix(relative)));
    }

    // Whether the trash holds the file with its original path and contents.
    bool restorable(const QByteArray &posixPath, const QByteArray &contents) const
    {
        for (const TrashedFile &file : trashContents(m_trash)) {
            if (file.originalPath == posixPath)
                return file.infoHeaderOk && file.hasFile && file.contents == contents;
        }
        return false;
    }

    void expectAligned() const
    {
        EXPECT_EQ(m_host.checkList, m_host.shortcuts);
        EXPECT_EQ(m_host.listBox, m_host.shortcuts);
        EXPECT_EQ(m_host.ticks.size(), m_host.checkList.size());
    }

    TempDrives m_drives;
    FakeHost m_host;
    FailingLinkFactory m_links; // the deletion opens no links
    FakeShellUi m_ui;
    std::unique_ptr<ShellServices> m_shell = ShellServices::create(m_ui);
    ResultReview m_review{m_host, m_links, *m_shell};
    QByteArray m_trash;
};

// A path with spaces and commas is one item of the request, unchanged.
TEST_F(DeleteCheckedShortcutsTest, AllTickedGoToTheTrashInOneRequest)
{
    const QStringList relatives = {QStringLiteral("Users/Public/Desktop/Old.lnk"), QStringLiteral("Top.lnk"),
                                   QStringLiteral("My Links, old/Word, Excel & 2003.lnk")};
    const QStringList paths = listShortcuts(relatives);
    m_host.checkListToolTip = QStringLiteral("Points to c:\\x.exe");

    m_review.DeleteCheckedShortcuts();

    EXPECT_EQ(m_ui.requests, QList<QStringList>{paths});
    EXPECT_TRUE(m_ui.messages.isEmpty());
    EXPECT_TRUE(m_host.checkList.isEmpty());
    EXPECT_TRUE(m_host.listBox.isEmpty());
    EXPECT_TRUE(m_host.shortcuts.isEmpty());
    EXPECT_EQ(m_host.label1, QStringLiteral("Broken Shortcuts Deleted"));
    EXPECT_FALSE(m_host.btdeleteEnabled);
    EXPECT_EQ(m_host.checkListToolTip,
              QStringLiteral("Points to c:\\x.exe")); // the hint outlives the entries
    // Nothing deleted for good: every file is in the trash and restorable.
    EXPECT_EQ(trashFileCount(m_trash), 3);
    for (const QString &relative : relatives) {
        EXPECT_FALSE(onDisk(relative));
        EXPECT_TRUE(restorable(m_drives.posix(relative), relative.toUtf8())) << relative.toStdString();
    }
}

TEST_F(DeleteCheckedShortcutsTest, TickedEntriesZeroAndTwoOfThree)
{
    const QStringList paths = listShortcuts(
        {QStringLiteral("a/one.lnk"), QStringLiteral("b/two.lnk"), QStringLiteral("c/three.lnk")});
    m_host.ticks = {true, false, true};

    m_review.DeleteCheckedShortcuts();

    EXPECT_EQ(m_ui.requests, QList<QStringList>{(QStringList{paths[0], paths[2]})});
    EXPECT_TRUE(m_host.checkList.isEmpty()); // the unticked entry leaves the lists too
    expectAligned();
    EXPECT_TRUE(onDisk(QStringLiteral("b/two.lnk")));
    EXPECT_TRUE(restorable(m_drives.posix(QStringLiteral("a/one.lnk")), "a/one.lnk"));
    EXPECT_TRUE(restorable(m_drives.posix(QStringLiteral("c/three.lnk")), "c/three.lnk"));
    EXPECT_EQ(trashFileCount(m_trash), 2);
    EXPECT_EQ(m_host.label1, QStringLiteral("Broken Shortcuts Deleted"));
    EXPECT_FALSE(m_host.btdeleteEnabled);
}

TEST_F(DeleteCheckedShortcutsTest, NoneTickedAsksNothingAndEmptiesTheLists)
{
    listShortcuts({QStringLiteral("one.lnk"), QStringLiteral("two.lnk")});
    m_host.ticks = {false, false};

    m_review.DeleteCheckedShortcuts();

    EXPECT_TRUE(m_ui.requests.isEmpty());
    EXPECT_TRUE(m_host.checkList.isEmpty());
    expectAligned();
    EXPECT_EQ(m_host.label1, QStringLiteral("Broken Shortcuts Deleted"));
    EXPECT_FALSE(m_host.btdeleteEnabled);
    EXPECT_TRUE(onDisk(QStringLiteral("one.lnk")) && onDisk(QStringLiteral("two.lnk")));
    EXPECT_EQ(trashFileCount(m_trash), 0);
}

TEST_F(DeleteCheckedShortcutsTest, DeclinedChangesNothing)
{
    const QStringList paths = listShortcuts({QStringLiteral("one.lnk"), QStringLiteral("two.lnk")});
    m_host.ticks = {true, false};
    m_ui.answer = false;

    m_review.DeleteCheckedShortcuts();

    EXPECT_EQ(m_ui.requests.size(), 1);
    EXPECT_EQ(m_host.checkList, paths);
    expectAligned();
    EXPECT_EQ(m_host.ticks, (QList<bool>{true, false}));
    EXPECT_EQ(m_host.label1Writes, 0);
    EXPECT_EQ(m_host.btdeleteWrites, 0);
    EXPECT_TRUE(onDisk(QStringLiteral("one.lnk")) && onDisk(QStringLiteral("two.lnk")));
    EXPECT_EQ(trashFileCount(m_trash), 0);
}

TEST_F(DeleteCheckedShortcutsTest, ShortcutsLeftOnDiskStayTickedUntilASecondDeletion)
{
    Untrashable stuck(m_drives, QStringLiteral("stuck.lnk"), "stuck");
    ASSERT_TRUE(stuck.usable());
    QStringList paths = listShortcuts({QStringLiteral("first.lnk"), QStringLiteral("third.lnk"),
                                       QStringLiteral("unticked.lnk"), QStringLiteral("vanished.lnk")});
    paths.insert(1, stuck.winPath());
    m_host.fill(paths);
    m_host.ticks = {true, true, true, false, true};
    ASSERT_TRUE(QFile::remove(QFile::decodeName(m_drives.posix(QStringLiteral("vanished.lnk")))));

    m_review.DeleteCheckedShortcuts();

    // Entry 1 alone stays, in all three lists, still ticked; the vanished
    // shortcut leaves since its file is gone.
    EXPECT_EQ(m_host.checkList, QStringList{stuck.winPath()});
    expectAligned();
    EXPECT_EQ(m_host.ticks, QList<bool>{true});
    EXPECT_EQ(m_host.label1, QStringLiteral("1 Broken Shortcut could not be deleted"));
    EXPECT_TRUE(m_host.btdeleteEnabled);
    EXPECT_EQ(readWholeFile(stuck.posixPath()), "stuck");
    EXPECT_TRUE(onDisk(QStringLiteral("unticked.lnk")));
    ASSERT_EQ(m_ui.messages.size(), 1);
    EXPECT_TRUE(m_ui.messages.first().contains(stuck.winPath()));
    EXPECT_EQ(trashFileCount(m_trash), 2);

    stuck.lift();
    m_review.DeleteCheckedShortcuts();

    EXPECT_EQ(m_ui.requests.last(), QStringList{stuck.winPath()});
    EXPECT_TRUE(m_host.checkList.isEmpty());
    expectAligned();
    EXPECT_EQ(m_host.label1, QStringLiteral("Broken Shortcuts Deleted"));
    EXPECT_FALSE(m_host.btdeleteEnabled);
    EXPECT_TRUE(restorable(stuck.posixPath(), "stuck"));
    EXPECT_TRUE(restorable(m_drives.posix(QStringLiteral("first.lnk")), "first.lnk"));
    EXPECT_TRUE(restorable(m_drives.posix(QStringLiteral("third.lnk")), "third.lnk"));
    EXPECT_EQ(trashFileCount(m_trash), 3);
}

TEST_F(DeleteCheckedShortcutsTest, CountsEveryShortcutThatCouldNotBeDeleted)
{
    // Drive q: is not on this machine (a memory stick taken out since the scan).
    const QStringList paths = {QStringLiteral("q:\\a.lnk"), QStringLiteral("q:\\b.lnk")};
    m_host.fill(paths);

    m_review.DeleteCheckedShortcuts();

    EXPECT_EQ(m_host.checkList, paths);
    expectAligned();
    EXPECT_EQ(m_host.label1, QStringLiteral("2 Broken Shortcuts could not be deleted"));
    EXPECT_TRUE(m_host.btdeleteEnabled);
    EXPECT_EQ(m_ui.messages.size(), 1);
}

} // namespace
