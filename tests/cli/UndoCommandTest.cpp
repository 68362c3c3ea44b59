// `repair`, `undo` and the conventions around them, as processes: a repair
// journalled and put back byte for byte (and the undo undone), a shortcut
// changed since left alone; Ctrl-C in the middle of a large repair leaving
// every shortcut either old or new; the broken shortcuts' paths ended by
// NUL through xargs -0; --exclude; the drive map; a start without display
// and command.

#include "ProgramFixture.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>

#include <csignal>

namespace {

class UndoCommandTest : public ProgramFixture
{
protected:
    QString journalFolder() const { return home.path() + QStringLiteral("/state/linkmend"); }

    // Shortcuts to count files that then move from Old/ to New/.
    QStringList plantMoved(int count)
    {
        QStringList made;
        for (int i = 0; i < count; ++i) {
            const QString name = QStringLiteral("tool%1.exe").arg(i);
            drives.writeFile(QStringLiteral("Apps/Old/") + name, name.toUtf8());
            made << shortcutToExisting(QStringLiteral("Desktop/Tool %1.lnk").arg(i),
                                       QStringLiteral("Apps/Old/") + name);
            move(QStringLiteral("Apps/Old/") + name, QStringLiteral("Apps/New/") + name);
        }
        return made;
    }
};

TEST_F(UndoCommandTest, RepairIsJournalledAndUndoPutsBackTheOldBytesUnlessChangedSince)
{
    const QStringList links = plantMoved(2);
    const QByteArray oldA = readWholeFile(QFile::encodeName(links[0]));
    const QByteArray oldB = readWholeFile(QFile::encodeName(links[1]));

    const Run repaired = run({QStringLiteral("repair"), QStringLiteral("c:")});
    EXPECT_EQ(repaired.status, 0) << repaired.err.constData();
    const QByteArray newA = readWholeFile(QFile::encodeName(links[0]));
    ASSERT_NE(newA, oldA);

    // One run listed: its name, when, what, what it changed.
    const Run listed = run({QStringLiteral("undo")});
    EXPECT_EQ(listed.status, 0);
    const QStringList runs = QString::fromUtf8(listed.out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(runs.size(), 1) << listed.out.constData();
    const QStringList fields = runs.first().split(QLatin1Char('\t'));
    ASSERT_EQ(fields.size(), 4);
    EXPECT_EQ(fields[2], QStringLiteral("repair c:\\"));
    EXPECT_EQ(fields[3], QStringLiteral("2 shortcuts rewritten"));
    EXPECT_TRUE(repaired.err.contains(fields[0].toUtf8())) << "the repair names its run";

    // b changed since: left alone, said so, exit status 1.
    drives.writeFile(QStringLiteral("Desktop/Tool 1.lnk"), "the user's own bytes");
    const Run undone = run({QStringLiteral("undo"), fields[0]});
    EXPECT_EQ(undone.status, 1) << undone.err.constData();
    EXPECT_EQ(undone.out, "put back " + QFile::encodeName(links[0]) + '\n');
    EXPECT_TRUE(undone.err.contains("left alone " + QFile::encodeName(links[1]) + ": it changed since"))
        << undone.err.constData();
    EXPECT_EQ(readWholeFile(QFile::encodeName(links[0])), oldA);
    EXPECT_EQ(readWholeFile(QFile::encodeName(links[1])), QByteArray("the user's own bytes"));

    // The undo is the newest run; undoing it repairs a again.
    const Run again = run({QStringLiteral("undo"), QStringLiteral("--last")});
    EXPECT_EQ(again.status, 0) << again.err.constData();
    EXPECT_EQ(readWholeFile(QFile::encodeName(links[0])), newA);
    EXPECT_EQ(run({QStringLiteral("undo")}).sortedLines().size(), 3);

    EXPECT_EQ(run({QStringLiteral("undo"), QStringLiteral("19990101-000000")}).status, 2);
    Q_UNUSED(oldB);
}

TEST_F(UndoCommandTest, CtrlCInALargeRepairLeavesEveryShortcutOldOrNewAndJournalled)
{
    constexpr int Count = 300;
    const QStringList links = plantMoved(Count);
    QHash<QString, QByteArray> before;
    for (const QString &link : links)
        before.insert(link, readWholeFile(QFile::encodeName(link)));

    QProcessEnvironment environment = bareEnvironment();
    environment.insert(QStringLiteral("HOME"), home.path());
    environment.insert(QStringLiteral("XDG_DATA_HOME"), home.path() + QStringLiteral("/data"));
    environment.insert(QStringLiteral("XDG_CACHE_HOME"), home.path() + QStringLiteral("/cache"));
    environment.insert(QStringLiteral("XDG_STATE_HOME"), home.path() + QStringLiteral("/state"));
    environment.insert(QStringLiteral("WINEPREFIX"), QFile::decodeName(drives.prefix()));
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(LINKMEND_PROGRAM), {QStringLiteral("repair"), QStringLiteral("c:")});
    ASSERT_TRUE(process.waitForStarted(60000));
    // Ctrl-C once the journal holds a few repairs (it records each one before
    // it is made).
    QElapsedTimer waited;
    waited.start();
    bool begun = false;
    while (!begun && waited.elapsed() < 60000 && process.state() == QProcess::Running) {
        const QStringList files = QDir(journalFolder()).entryList({QStringLiteral("*.journal")});
        begun =
            !files.isEmpty() &&
            readWholeFile(QFile::encodeName(journalFolder() + QLatin1Char('/') + files.first())).count('\n') >
                3;
        if (!begun)
            QThread::msleep(2);
    }
    ASSERT_TRUE(begun) << "the repair never began";
    ::kill(pid_t(process.processId()), SIGINT);
    ASSERT_TRUE(process.waitForFinished(120000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 130) << process.readAllStandardError().constData();
    const QByteArray out = process.readAllStandardOutput();

    // Every shortcut is its old file or its new one, never a part of either,
    // and no temporary file is left beside them.
    int rewritten = 0;
    for (const QString &link : links) {
        const QByteArray now = readWholeFile(QFile::encodeName(link));
        if (now == before.value(link))
            continue;
        ++rewritten;
        EXPECT_TRUE(out.contains("repaired " + QFile::encodeName(link) + ':')) << link.toStdString();
        EXPECT_FALSE(LnkFile::parse(now).index()) << link.toStdString();
    }
    EXPECT_GT(rewritten, 0);
    EXPECT_LT(rewritten, Count) << "the run was over before Ctrl-C";
    EXPECT_EQ(QDir(path(QStringLiteral("Desktop"))).entryList(QDir::Files | QDir::Hidden).size(), Count);

    // What was rewritten is journalled, and undo puts all of it back.
    const Run undone = run({QStringLiteral("undo"), QStringLiteral("--last"), QStringLiteral("-q")});
    EXPECT_EQ(undone.status, 0) << undone.err.constData();
    for (const QString &link : links)
        EXPECT_EQ(readWholeFile(QFile::encodeName(link)), before.value(link)) << link.toStdString();
}

TEST_F(UndoCommandTest, NulEndedPathsGoThroughXargsAndExcludedFoldersArePassedOver)
{
    const QString spaced =
        shortcut(QStringLiteral("Desktop/Old  Game (1).lnk"), QStringLiteral("C:\\Gone\\a.exe"));
    const QString other = shortcut(QStringLiteral("Menu/Old's.lnk"), QStringLiteral("C:\\Gone\\b.exe"));
    shortcut(QStringLiteral("Temp/Skip.lnk"), QStringLiteral("C:\\Gone\\c.exe"));
    shortcut(QStringLiteral("Deep/temp/Skip.lnk"), QStringLiteral("C:\\Gone\\d.exe"));

    // xargs -0 hands each path over whole, spaces and quotes included.
    QProcess shell;
    QProcessEnvironment environment = bareEnvironment();
    environment.insert(QStringLiteral("HOME"), home.path());
    environment.insert(QStringLiteral("XDG_STATE_HOME"), home.path() + QStringLiteral("/state"));
    environment.insert(QStringLiteral("WINEPREFIX"), QFile::decodeName(drives.prefix()));
    shell.setProcessEnvironment(environment);
    shell.start(QStringLiteral("/bin/sh"),
                {QStringLiteral("-c"),
                 QStringLiteral("\"$0\" check -0 --exclude temp c: | xargs -0 -r -n1 printf '[%s]\\n'"),
                 QStringLiteral(LINKMEND_PROGRAM)});
    ASSERT_TRUE(shell.waitForFinished(120000));
    QStringList seen =
        QString::fromUtf8(shell.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    seen.sort();
    QStringList expected{QLatin1Char('[') + spaced + QLatin1Char(']'),
                         QLatin1Char('[') + other + QLatin1Char(']')};
    expected.sort();
    EXPECT_EQ(seen, expected);

    // Both Temp folders are named as passed over, and the run is no failure.
    const Run text = run({QStringLiteral("check"), QStringLiteral("--exclude"), QStringLiteral("TEMP"),
                          QStringLiteral("--exclude=c:\\Menu"), QStringLiteral("c:")});
    EXPECT_EQ(text.status, 1);
    EXPECT_EQ(text.sortedLines().size(), 1) << text.out.constData();
    EXPECT_EQ(text.errLines().filter(QStringLiteral("passed over ")).size(), 3) << text.err.constData();
}

TEST_F(UndoCommandTest, DrivesAreListedAndAStartWithoutDisplayOrCommandSaysHowToUseTheCommandLine)
{
    const Run text = run({QStringLiteral("drives")});
    EXPECT_EQ(text.status, 0);
    const QStringList lines = text.sortedLines();
    ASSERT_EQ(lines.size(), 2);
    const QStringList c = lines.first().split(QLatin1Char('\t'));
    ASSERT_EQ(c.size(), 4);
    EXPECT_EQ(c[0], QStringLiteral("c:"));
    EXPECT_EQ(c[1], QFile::decodeName(drives.root()));
    const QJsonArray json =
        QJsonDocument::fromJson(run({QStringLiteral("drives"), QStringLiteral("--json")}).out).array();
    ASSERT_EQ(json.size(), 2);
    EXPECT_EQ(json.last().toObject().value(QStringLiteral("letter")).toString(), QStringLiteral("d:"));

    const Run bare = run({});
    EXPECT_EQ(bare.status, 2);
    EXPECT_TRUE(bare.out.isEmpty());
    ASSERT_EQ(bare.errLines().size(), 1) << bare.err.constData();
    EXPECT_TRUE(bare.err.contains("linkmend check")) << bare.err.constData();
}

} // namespace
