#include "review/ResultReview.h"

#include "DeletionFixture.h"

#include <gtest/gtest.h>

namespace {

class DeleteCheckedShortcutsTest : public DeletionFixture<FakeShellUi>
{
protected:
    bool onDisk(const QString &relative) const { return QFile::exists(QFile::decodeName(posix(relative))); }

    void expectAligned() const
    {
        EXPECT_EQ(m_host.checkList, m_host.shortcuts);
        EXPECT_EQ(m_host.listBox, m_host.shortcuts);
        EXPECT_EQ(m_host.ticks.size(), m_host.checkList.size());
    }
};

// A path with spaces and commas is one item of the request, unchanged.
TEST_F(DeleteCheckedShortcutsTest, AllTickedGoToTheTrashInOneRequest)
{
    const QStringList relatives = {QStringLiteral("Users/Public/Desktop/Old.lnk"), QStringLiteral("Top.lnk"),
                                   QStringLiteral("My Links, old/Word, Excel & 2003.lnk")};
    const QStringList paths = listShortcuts(relatives);
    m_host.checkListToolTip = QStringLiteral("Points to c:\\x.exe");

    m_review.deleteTicked();

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
        EXPECT_TRUE(restorable(relative)) << relative.toStdString();
    }
}

TEST_F(DeleteCheckedShortcutsTest, TickedEntriesZeroAndTwoOfThree)
{
    const QStringList paths = listShortcuts(
        {QStringLiteral("a/one.lnk"), QStringLiteral("b/two.lnk"), QStringLiteral("c/three.lnk")});
    m_host.ticks = {true, false, true};

    m_review.deleteTicked();

    EXPECT_EQ(m_ui.requests, QList<QStringList>{(QStringList{paths[0], paths[2]})});
    EXPECT_TRUE(m_host.checkList.isEmpty()); // the unticked entry leaves the lists too
    expectAligned();
    EXPECT_TRUE(onDisk(QStringLiteral("b/two.lnk")));
    EXPECT_TRUE(restorable(QStringLiteral("a/one.lnk")));
    EXPECT_TRUE(restorable(QStringLiteral("c/three.lnk")));
    EXPECT_EQ(trashFileCount(m_trash), 2);
    EXPECT_EQ(m_host.label1, QStringLiteral("Broken Shortcuts Deleted"));
    EXPECT_FALSE(m_host.btdeleteEnabled);
}

TEST_F(DeleteCheckedShortcutsTest, NoneTickedAsksNothingAndEmptiesTheLists)
{
    listShortcuts({QStringLiteral("one.lnk"), QStringLiteral("two.lnk")});
    m_host.ticks = {false, false};

    m_review.deleteTicked();

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

    m_review.deleteTicked();

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

    m_review.deleteTicked();

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
    m_review.deleteTicked();

    EXPECT_EQ(m_ui.requests.last(), QStringList{stuck.winPath()});
    EXPECT_TRUE(m_host.checkList.isEmpty());
    expectAligned();
    EXPECT_EQ(m_host.label1, QStringLiteral("Broken Shortcuts Deleted"));
    EXPECT_FALSE(m_host.btdeleteEnabled);
    EXPECT_TRUE(restorable(stuck.posixPath(), "stuck"));
    EXPECT_TRUE(restorable(QStringLiteral("first.lnk")));
    EXPECT_TRUE(restorable(QStringLiteral("third.lnk")));
    EXPECT_EQ(trashFileCount(m_trash), 3);
}

TEST_F(DeleteCheckedShortcutsTest, CountsEveryShortcutThatCouldNotBeDeleted)
{
    // Drive q: is not on this machine (a memory stick taken out since the scan).
    const QStringList paths = {QStringLiteral("q:\\a.lnk"), QStringLiteral("q:\\b.lnk")};
    m_host.fill(paths);

    m_review.deleteTicked();

    EXPECT_EQ(m_host.checkList, paths);
    expectAligned();
    EXPECT_EQ(m_host.label1, QStringLiteral("2 Broken Shortcuts could not be deleted"));
    EXPECT_TRUE(m_host.btdeleteEnabled);
    EXPECT_EQ(m_ui.messages.size(), 1);
}

} // namespace
