// The journal of repairs and their undo: a repair is recorded (old bytes,
// device, inode, digest of the new bytes) before it is made; the undo puts
// back exactly the old bytes of a shortcut still as the repair left it,
// leaves one changed since alone, and is journalled itself; a process
// killed between the journal's record and the rename leaves a whole journal
// and the old shortcut; a journal cut off in the middle of a line is read
// up to that line.

#include "shell/ChangeJournal.h"
#include "ResolveKit.h"
#include "shell/JournalUndo.h"
#include "shell/LinkWriter.h"

#include <gtest/gtest.h>

#include <csignal>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

class ChangeJournalTest : public ::testing::Test
{
protected:
    // links/a.lnk and links/b.lnk point at files that have since moved.
    void SetUp() override
    {
        for (const QString &name : {QStringLiteral("a"), QStringLiteral("b")}) {
            m_drives.writeFile(QStringLiteral("docs/%1.txt").arg(name), name.toUtf8());
            makeShortcut(m_drives, link(name), QStringLiteral("docs/%1.txt").arg(name));
            ASSERT_TRUE(moveFile(m_drives, QStringLiteral("docs/%1.txt").arg(name),
                                 QStringLiteral("docs/moved/%1.txt").arg(name)));
            m_before.insert(name, readWholeFile(m_drives.posix(link(name))));
        }
    }

    static QString link(const QString &name) { return QStringLiteral("links/%1.lnk").arg(name); }
    QByteArray posix(const QString &name) const { return m_drives.posix(link(name)); }

    // Repairs both shortcuts with the journal `journal`.
    void repairBoth(const std::shared_ptr<ChangeJournal> &journal)
    {
        ShellLinkService service(m_drives.context());
        service.setJournal(journal);
        for (const QString &name : {QStringLiteral("a"), QStringLiteral("b")})
            resolvedTarget(service, m_drives.win(link(name)));
    }

    static JournalRun onlyRun(const QByteArray &folder)
    {
        const QList<JournalRun> runs = ChangeJournal::runs(folder);
        EXPECT_EQ(runs.size(), 1);
        return runs.value(0);
    }

    TempDrives m_drives;
    QHash<QString, QByteArray> m_before;
};

TEST_F(ChangeJournalTest, UndoPutsBackTheExactBytesRefusesAFileChangedSinceAndCanBeUndone)
{
    const QByteArray folder = m_drives.journalFolder();
    const auto journal = std::make_shared<ChangeJournal>(QStringLiteral("repair c:"));
    repairBoth(journal);
    ASSERT_EQ(journal->replaceCount(), 2);
    const QByteArray repairedA = readWholeFile(posix(QStringLiteral("a")));
    ASSERT_NE(repairedA, m_before.value(QStringLiteral("a")));

    // What the journal holds of a: its place, its identity before, its old
    // bytes, the new bytes' digest and both targets.
    const JournalRun run = onlyRun(folder);
    EXPECT_EQ(run.name, journal->runName());
    EXPECT_EQ(run.what, QStringLiteral("repair c:"));
    EXPECT_FALSE(run.torn);
    ASSERT_EQ(run.changes.size(), 2);
    const JournalChange &first = run.changes.first();
    EXPECT_EQ(first.path, posix(QStringLiteral("a")));
    EXPECT_EQ(first.winPath, m_drives.win(link(QStringLiteral("a"))));
    EXPECT_EQ(first.oldBytes, m_before.value(QStringLiteral("a")));
    EXPECT_EQ(first.newSha256, JournalChange::digest(repairedA));
    EXPECT_NE(first.inode, 0u);
    EXPECT_TRUE(first.newTarget.endsWith(QLatin1String("\\moved\\a.txt"), Qt::CaseInsensitive));
    // Only the user may read it: it holds the shortcuts' contents.
    struct stat st;
    ASSERT_EQ(::stat(run.file.constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // b changes after the repair: it is left as it is now.
    m_drives.writeFile(link(QStringLiteral("b")), "changed by the user");
    const auto undoJournal = JournalUndo::journalFor(run);
    const JournalUndo::Report report = JournalUndo(undoJournal).undo(run);
    ASSERT_EQ(report.items.size(), 2);
    EXPECT_EQ(report.count(JournalUndo::Item::Result::Restored), 1);
    EXPECT_EQ(report.count(JournalUndo::Item::Result::ChangedSince), 1);
    EXPECT_FALSE(report.complete());
    EXPECT_EQ(readWholeFile(posix(QStringLiteral("a"))), m_before.value(QStringLiteral("a")));
    EXPECT_EQ(readWholeFile(posix(QStringLiteral("b"))), QByteArray("changed by the user"));
    EXPECT_EQ(folderNames(m_drives.posix(QStringLiteral("links"))),
              (QStringList{QStringLiteral("a.lnk"), QStringLiteral("b.lnk")}));

    // The undo is a run of its own; undoing it makes the repair again.
    ASSERT_EQ(undoJournal->changeCount(), 1);
    const std::variant<JournalRun, QString> last = ChangeJournal::find(QStringLiteral("--last"), folder);
    ASSERT_TRUE(std::holds_alternative<JournalRun>(last));
    const JournalRun undoRun = std::get<JournalRun>(last);
    EXPECT_EQ(undoRun.undoes, run.name);
    const JournalUndo::Report redo = JournalUndo(JournalUndo::journalFor(undoRun)).undo(undoRun);
    EXPECT_TRUE(redo.complete());
    EXPECT_EQ(readWholeFile(posix(QStringLiteral("a"))), repairedA);

    // A shortcut deleted since is named, and nothing is made in its place.
    ::unlink(posix(QStringLiteral("a")).constData());
    const JournalUndo::Report gone = JournalUndo(JournalUndo::journalFor(run)).undo(run);
    EXPECT_EQ(gone.items.last().result, JournalUndo::Item::Result::Gone);
    EXPECT_FALSE(QFileInfo::exists(QFile::decodeName(posix(QStringLiteral("a")))));
}

TEST_F(ChangeJournalTest, KilledBetweenTheRecordAndTheRenameLeavesAWholeJournalAndTheOldShortcut)
{
    const QByteArray folder = m_drives.journalFolder();
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // The child repairs a.lnk and is killed once the journal holds the
        // change, before the new file is renamed into place.
        ShellLinkService service(m_drives.context());
        service.setJournal(std::make_shared<ChangeJournal>(QStringLiteral("repair c:")));
        service.linkWriter().setFaultHook([](LinkWriter::Step step) {
            if (step == LinkWriter::Step::Rename)
                ::raise(SIGKILL);
            return 0;
        });
        LinkSession session(service, m_drives.win(link(QStringLiteral("a"))));
        session.resolve();
        ::_exit(0); // not reached when the fault hook ran
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the repair did not reach its rename";

    EXPECT_EQ(readWholeFile(posix(QStringLiteral("a"))), m_before.value(QStringLiteral("a")));
    const JournalRun run = onlyRun(folder);
    EXPECT_FALSE(run.torn);
    ASSERT_EQ(run.changes.size(), 1);
    EXPECT_EQ(run.changes.first().oldBytes, m_before.value(QStringLiteral("a")));
    // Undo finds the shortcut as it was before: nothing to put back.
    const JournalUndo::Report report = JournalUndo(JournalUndo::journalFor(run)).undo(run);
    ASSERT_EQ(report.items.size(), 1);
    EXPECT_EQ(report.items.first().result, JournalUndo::Item::Result::AlreadyAsBefore);
    EXPECT_TRUE(report.complete());
    EXPECT_EQ(readWholeFile(posix(QStringLiteral("a"))), m_before.value(QStringLiteral("a")));
}

TEST_F(ChangeJournalTest, ALineCutOffIsPassedOverAndAJournalThatCannotBeWrittenStopsTheRepair)
{
    const QByteArray folder = m_drives.journalFolder();
    repairBoth(std::make_shared<ChangeJournal>(QStringLiteral("repair c:")));
    JournalRun run = onlyRun(folder);
    // Cut off in the middle of the last change's line.
    const QByteArray whole = readWholeFile(run.file);
    QFile file(QFile::decodeName(run.file));
    ASSERT_TRUE(file.resize(whole.size() - 40));
    run = onlyRun(folder);
    EXPECT_TRUE(run.torn);
    EXPECT_EQ(run.changes.size(), 1);

    // A journal that cannot be written: no repair without its record.
    for (const QString &name : {QStringLiteral("a"), QStringLiteral("b")})
        m_drives.writeFile(link(name), m_before.value(name));
    const QByteArray blocked = m_drives.journalFolder() + "-blocked";
    m_drives.writeFile(QStringLiteral("blocker"), "a file where the journal's folder belongs");
    ASSERT_EQ(::rename(m_drives.posix(QStringLiteral("blocker")).constData(), blocked.constData()), 0);
    ShellLinkService service(m_drives.context());
    service.setJournal(std::make_shared<ChangeJournal>(QStringLiteral("repair c:"), QString(), blocked));
    const LinkVerdict verdict =
        service.judge(m_drives.win(link(QStringLiteral("a"))), {true, true, 0, false});
    EXPECT_EQ(verdict.status, LinkVerdict::Status::RepairNotWritten);
    ASSERT_TRUE(verdict.repair);
    EXPECT_EQ(verdict.repair->outcome, LinkRepair::Outcome::NotJournalled);
    EXPECT_EQ(readWholeFile(posix(QStringLiteral("a"))), m_before.value(QStringLiteral("a")));
}

} // namespace
