// Deletions the system does not let through: a trash that cannot be made, a
// shortcut that vanishes while the user is asked, a shortcut in a folder the
// user may not write. Nothing is ever deleted for good, the message names
// exactly the shortcuts that are still there, and the three lists keep
// telling the truth: entry i of each is the same shortcut, and a shortcut
// stays listed (and ticked) exactly when its file is still on disk.

#include "review/ResultReview.h"

#include "DeletionFixture.h"
#include "support/UnprivilegedFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <functional>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// Answers yes, after running what the test wants done while the question
// is on screen.
class AnsweringUi : public FakeShellUi
{
public:
    std::function<void()> whileAsking;
    bool confirmDelete(const QStringList &paths, const QString &question, int launchers) override
    {
        if (whileAsking)
            whileAsking();
        return FakeShellUi::confirmDelete(paths, question, launchers);
    }
};

class DeleteFaultTest : public DeletionFixture<AnsweringUi>
{
protected:
    // The lists agree with each other and with the disk: exactly the
    // shortcuts in `stayed` are listed, in order, ticked.
    void expectListed(const QStringList &stayed) const
    {
        EXPECT_EQ(m_host.shortcuts, stayed);
        EXPECT_EQ(m_host.checkList, stayed);
        EXPECT_EQ(m_host.listBox, stayed);
        // Element by element: Qt compares two empty lists of plain values
        // with memcmp on null pointers, which the sanitizer rejects.
        EXPECT_EQ(m_host.ticks.size(), stayed.size());
        EXPECT_EQ(m_host.ticks.count(true), stayed.size());
        EXPECT_EQ(m_host.btdeleteEnabled, !stayed.isEmpty());
    }

    // One message naming exactly these shortcuts.
    void expectMessageNaming(const QStringList &paths, const QStringList &notNamed) const
    {
        ASSERT_EQ(m_ui.messages.size(), 1);
        const QString &message = m_ui.messages.first();
        for (const QString &path : paths)
            EXPECT_TRUE(message.contains(path + QLatin1Char('\n'))) << message.toStdString();
        for (const QString &path : notNamed)
            EXPECT_FALSE(message.contains(path)) << message.toStdString();
    }
};

TEST_F(DeleteFaultTest, TrashThatCannotBeMade)
{
    // A file stands where the trash folder belongs.
    ASSERT_TRUE(QDir().mkpath(QFileInfo(QFile::decodeName(m_trash)).path()));
    QFile blocker(QFile::decodeName(m_trash));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    struct RemoveBlocker
    {
        QFile &file;
        ~RemoveBlocker() { file.remove(); }
    } removeBlocker{blocker};
    const QStringList paths = listShortcuts({QStringLiteral("a.lnk"), QStringLiteral("b/b.lnk")});

    m_review.deleteTicked();

    EXPECT_EQ(readWholeFile(posix(QStringLiteral("a.lnk"))), "a.lnk");
    EXPECT_EQ(readWholeFile(posix(QStringLiteral("b/b.lnk"))), "b/b.lnk");
    expectListed(paths);
    expectMessageNaming(paths, {});
    EXPECT_EQ(m_host.label1, QStringLiteral("2 Broken Shortcuts could not be deleted"));
}

TEST_F(DeleteFaultTest, ShortcutVanishesWhileTheUserIsAsked)
{
    const QStringList paths = listShortcuts({QStringLiteral("first.lnk"), QStringLiteral("vanishes.lnk"),
                                             QStringLiteral("replaced.lnk"), QStringLiteral("last.lnk")});
    m_ui.whileAsking = [&] {
        // One is deleted by someone else; another is replaced by a folder,
        // which is never moved to the trash.
        ASSERT_TRUE(QFile::remove(QFile::decodeName(posix(QStringLiteral("vanishes.lnk")))));
        ASSERT_TRUE(QFile::remove(QFile::decodeName(posix(QStringLiteral("replaced.lnk")))));
        m_drives.makeFolder(QStringLiteral("replaced.lnk"));
    };

    m_review.deleteTicked();

    EXPECT_TRUE(restorable(QStringLiteral("first.lnk")));
    EXPECT_TRUE(restorable(QStringLiteral("last.lnk")));
    EXPECT_EQ(trashFileCount(m_trash), 2);
    EXPECT_TRUE(QFileInfo(QFile::decodeName(posix(QStringLiteral("replaced.lnk")))).isDir());
    // The vanished one is gone either way and leaves the lists; what stands
    // in the other's place is still there, listed and named.
    expectListed({paths[2]});
    expectMessageNaming({paths[2]}, {paths[0], paths[1], paths[3]});
    EXPECT_EQ(m_host.label1, QStringLiteral("1 Broken Shortcut could not be deleted"));
}

TEST_F(DeleteFaultTest, EveryShortcutVanishedAndNothingIsReportedMissing)
{
    const QStringList paths = listShortcuts({QStringLiteral("one.lnk"), QStringLiteral("two.lnk")});
    m_ui.whileAsking = [&] {
        for (const char *name : {"one.lnk", "two.lnk"})
            ASSERT_TRUE(QFile::remove(QFile::decodeName(posix(QString::fromLatin1(name)))));
    };

    m_review.deleteTicked();

    expectListed({});
    EXPECT_TRUE(m_ui.messages.isEmpty());
    EXPECT_EQ(m_host.label1, QStringLiteral("Broken Shortcuts Deleted"));
    EXPECT_EQ(trashFileCount(m_trash), 0);
}

TEST_F(DeleteFaultTest, ShortcutInAFolderTheUserMayNotWrite)
{
    // Made as root, then deleted as an ordinary user would: the locked
    // folder is root's and read-only; the open one and the trash let anyone
    // write.
    const QStringList paths = listShortcuts(
        {QStringLiteral("open/a.lnk"), QStringLiteral("locked/b.lnk"), QStringLiteral("open/c.lnk")});
    ASSERT_EQ(::chmod(posix(QStringLiteral("open")).constData(), 0777), 0);
    ASSERT_EQ(::chmod(posix(QStringLiteral("locked")).constData(), 0555), 0);
    for (const char *sub : {"", "/files", "/info"}) {
        const QByteArray folder = m_trash + sub;
        ASSERT_TRUE(QDir().mkpath(QFile::decodeName(folder)));
        ASSERT_EQ(::chmod(folder.constData(), 0777), 0);
    }
    // The journal of the moves is kept where that user may write.
    ASSERT_TRUE(QDir().mkpath(QFile::decodeName(m_drives.journalFolder())));
    ASSERT_EQ(::chmod(m_drives.journalFolder().constData(), 0777), 0);
    UnprivilegedFiles::letEveryoneThrough(m_drives.root());
    UnprivilegedFiles::letEveryoneThrough(m_trash);
    UnprivilegedFiles::letEveryoneThrough(m_drives.journalFolder());
    {
        const UnprivilegedFiles unprivileged;
        if (!unprivileged.binding())
            GTEST_SKIP() << "permissions cannot be made to bind here";
        m_review.deleteTicked();
    }

    EXPECT_EQ(readWholeFile(posix(QStringLiteral("locked/b.lnk"))), "locked/b.lnk");
    EXPECT_TRUE(restorable(QStringLiteral("open/a.lnk")));
    EXPECT_TRUE(restorable(QStringLiteral("open/c.lnk")));
    expectListed({paths[1]});
    expectMessageNaming({paths[1]}, {paths[0], paths[2]});
    EXPECT_EQ(m_host.label1, QStringLiteral("1 Broken Shortcut could not be deleted"));

    // Allowed again, a second press moves it too.
    ASSERT_EQ(::chmod(posix(QStringLiteral("locked")).constData(), 0755), 0);
    m_ui.messages.clear();
    m_review.deleteTicked();
    EXPECT_TRUE(restorable(QStringLiteral("locked/b.lnk")));
    expectListed({});
    EXPECT_TRUE(m_ui.messages.isEmpty());
}

} // namespace
