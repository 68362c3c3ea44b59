#include "ProgramFixture.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

// `Linkmend check` and `Linkmend repair` as processes on a drive c: with
// healthy, moved, broken, remote and unreadable shortcuts, and a hidden
// folder they must not enter.
class CheckCommandTest : public ProgramFixture
{
protected:
    CheckCommandTest()
    {
        drives.writeFile(QStringLiteral("Apps/tool.exe"), "tool");
        drives.writeFile(QStringLiteral("Apps/Old/mover.exe"), "a program that moves");
        drives.makeFolder(QStringLiteral("Data"), QLatin1Char('d'));
        shortcut(QStringLiteral("Desktop/Healthy.lnk"), QStringLiteral("C:\\Apps\\tool.exe"));
        shortcut(QStringLiteral("Desktop/Folder.lnk"), QStringLiteral("C:\\Apps"), 0x10);
        moved = shortcutToExisting(QStringLiteral("Desktop/Moved.lnk"), QStringLiteral("Apps/Old/mover.exe"));
        move(QStringLiteral("Apps/Old/mover.exe"), QStringLiteral("Apps/New/mover.exe"));
        broken = shortcut(QStringLiteral("Desktop/Broken.lnk"), QStringLiteral("C:\\Apps\\gone.exe"));
        deeper = shortcut(QStringLiteral("Start Menu/Programs/Old Tool.lnk"),
                          QStringLiteral("C:\\Old Tool\\tool.exe"));
        onD = shortcut(QStringLiteral("Desktop/OnD.lnk"), QStringLiteral("D:\\Data\\gone.txt"));
        onShare =
            shortcut(QStringLiteral("Desktop/OnShare.lnk"), QStringLiteral("\\\\server\\share\\gone.txt"));
        drives.writeFile(QStringLiteral("Desktop/NotALink.lnk"),
                         "[InternetShortcut]\r\nURL=http://x.example/\r\n");
        shortcut(QStringLiteral(".hidden/Gone.lnk"), QStringLiteral("C:\\Gone\\gone.exe"));
    }

    QStringList brokenLines(bool withRemote = true) const
    {
        QStringList lines = {broken + QStringLiteral("\tC:\\Apps\\gone.exe"),
                             deeper + QStringLiteral("\tC:\\Old Tool\\tool.exe")};
        if (withRemote)
            lines << onD + QStringLiteral("\tD:\\Data\\gone.txt")
                  << onShare + QStringLiteral("\t\\\\server\\share\\gone.txt");
        return lines;
    }
    QString repairText() const
    {
        return moved + QStringLiteral(": C:\\Apps\\Old\\mover.exe -> c:\\Apps\\New\\mover.exe");
    }
    static QJsonObject parse(const QByteArray &json)
    {
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(json, &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError) << json.constData();
        return document.object();
    }

    QString moved, broken, deeper, onD, onShare;
};

TEST_F(CheckCommandTest, PrintsEveryBrokenShortcutAndEveryRepairThenFindsOnlyTheBrokenOnesAgain)
{
    const Run first = run({QStringLiteral("repair"), QStringLiteral("c:")});
    EXPECT_EQ(first.status, 1) << first.err.constData();
    QStringList expected = brokenLines();
    expected << QStringLiteral("repaired ") + repairText();
    expected.sort();
    EXPECT_EQ(first.sortedLines(), expected);
    // Broken lines have a tab, repair lines none: `cut -s -f1` gives the paths.
    EXPECT_EQ(first.out.count('\t'), 4);
    // Without a terminal, no progress; on standard error only the file that
    // is no shortcut, with why, and the run the repair is journalled as.
    EXPECT_EQ(first.err.count('\n'), 2) << first.err.constData();
    EXPECT_TRUE(first.errLines().last().contains(QLatin1String("linkmend undo "))) << first.err.constData();
    EXPECT_TRUE(first.err.startsWith("linkmend: skipped " +
                                     QFile::encodeName(path(QStringLiteral("Desktop/NotALink.lnk"))) +
                                     ": not a shortcut ("))
        << first.err.constData();

    // The repair was written: the next run only lists what is still broken.
    const Run second = run({QStringLiteral("check"), QStringLiteral("c:")});
    EXPECT_EQ(second.status, 1);
    expected = brokenLines();
    expected.sort();
    EXPECT_EQ(second.sortedLines(), expected);
}

TEST_F(CheckCommandTest, JsonHoldsEveryBrokenShortcutRepairAndCount)
{
    const Run result = run({QStringLiteral("repair"), QStringLiteral("--json"), QStringLiteral("c:")});
    EXPECT_EQ(result.status, 1);
    const QJsonObject report = parse(result.out);
    EXPECT_FALSE(report.value(QStringLiteral("dryRun")).toBool(true));
    EXPECT_FALSE(report.value(QStringLiteral("ignoreRemote")).toBool(true));

    QStringList brokenSeen;
    for (const QJsonValue &entry : report.value(QStringLiteral("broken")).toArray()) {
        const QJsonObject object = entry.toObject();
        brokenSeen << object.value(QStringLiteral("path")).toString() + QLatin1Char('\t') +
                          object.value(QStringLiteral("target")).toString();
        EXPECT_TRUE(object.value(QStringLiteral("windowsPath")).toString().startsWith(QLatin1String("c:\\")));
    }
    brokenSeen.sort();
    QStringList expected = brokenLines();
    expected.sort();
    EXPECT_EQ(brokenSeen, expected);

    const QJsonArray repairs = report.value(QStringLiteral("repairs")).toArray();
    ASSERT_EQ(repairs.size(), 1);
    const QJsonObject repair = repairs.first().toObject();
    EXPECT_EQ(repair.value(QStringLiteral("path")).toString(), moved);
    EXPECT_EQ(repair.value(QStringLiteral("windowsPath")).toString(),
              QStringLiteral("c:\\Desktop\\Moved.lnk"));
    EXPECT_EQ(repair.value(QStringLiteral("oldTarget")).toString(),
              QStringLiteral("C:\\Apps\\Old\\mover.exe"));
    EXPECT_EQ(repair.value(QStringLiteral("newTarget")).toString(),
              QStringLiteral("c:\\Apps\\New\\mover.exe"));
    EXPECT_TRUE(repair.value(QStringLiteral("written")).toBool());
    EXPECT_FALSE(repair.contains(QStringLiteral("failure")));

    EXPECT_TRUE(report.value(QStringLiteral("unjudged")).toArray().isEmpty());
    const QJsonArray skipped = report.value(QStringLiteral("skipped")).toArray();
    ASSERT_EQ(skipped.size(), 1);
    EXPECT_EQ(skipped.first().toObject().value(QStringLiteral("path")).toString(),
              path(QStringLiteral("Desktop/NotALink.lnk")));
    EXPECT_TRUE(skipped.first()
                    .toObject()
                    .value(QStringLiteral("reason"))
                    .toString()
                    .startsWith(QLatin1String("not a shortcut")));

    // c:\, Apps, Apps\New, Apps\Old, Desktop, Start Menu, Programs; not .hidden.
    const QJsonObject counts = report.value(QStringLiteral("counts")).toObject();
    EXPECT_EQ(counts.value(QStringLiteral("folders")).toInt(), 7);
    EXPECT_EQ(counts.value(QStringLiteral("shortcuts")).toInt(), 8);
    EXPECT_EQ(counts.value(QStringLiteral("repaired")).toInt(), 1);
    EXPECT_EQ(counts.value(QStringLiteral("broken")).toInt(), 4);
    EXPECT_EQ(counts.value(QStringLiteral("unjudged")).toInt(), 0);
    EXPECT_EQ(counts.value(QStringLiteral("skipped")).toInt(), 1);
    EXPECT_EQ(counts.value(QStringLiteral("skippedByRule")).toInt(), 1); // .hidden
    EXPECT_EQ(counts.value(QStringLiteral("remote")).toInt(), 0);

    const QJsonArray roots = report.value(QStringLiteral("roots")).toArray();
    ASSERT_EQ(roots.size(), 1);
    EXPECT_EQ(roots.first().toObject().value(QStringLiteral("windowsPath")).toString(),
              QStringLiteral("c:\\"));
}

TEST_F(CheckCommandTest, CheckChangesNoByteAndNoTimeAndReportsTheRepairItWouldMake)
{
    const auto before = snapshot();
    QStringList expected = brokenLines();
    expected << QStringLiteral("would repair ") + repairText();
    expected.sort();
    // check looks; repair -n and repair --dry-run are the same look.
    for (const QStringList &command :
         {QStringList{QStringLiteral("check"), QStringLiteral("c:")},
          QStringList{QStringLiteral("repair"), QStringLiteral("-n"), QStringLiteral("c:")},
          QStringList{QStringLiteral("repair"), QStringLiteral("--dry-run"), QStringLiteral("c:")}}) {
        const Run plain = run(command);
        EXPECT_EQ(plain.status, 1) << command.join(QLatin1Char(' ')).toStdString();
        EXPECT_EQ(plain.sortedLines(), expected);
    }

    const Run json = run({QStringLiteral("check"), QStringLiteral("--json"), QStringLiteral("c:")});
    const QJsonObject report = parse(json.out);
    EXPECT_TRUE(report.value(QStringLiteral("dryRun")).toBool());
    const QJsonObject repair = report.value(QStringLiteral("repairs")).toArray().first().toObject();
    EXPECT_EQ(repair.value(QStringLiteral("newTarget")).toString(),
              QStringLiteral("c:\\Apps\\New\\mover.exe"));
    EXPECT_FALSE(repair.value(QStringLiteral("written")).toBool(true));
    EXPECT_EQ(report.value(QStringLiteral("counts")).toObject().value(QStringLiteral("repaired")).toInt(), 1);

    // Not a byte, not a time, not a file more or less; no journal either.
    EXPECT_EQ(snapshot(), before);
    EXPECT_FALSE(QFileInfo::exists(home.path() + QStringLiteral("/state/linkmend")));

    // With only the moved shortcut, what check says of it is in its exit
    // status: something is to be repaired.
    ::unlink(QFile::encodeName(broken).constData());
    ::unlink(QFile::encodeName(deeper).constData());
    ::unlink(QFile::encodeName(onD).constData());
    ::unlink(QFile::encodeName(onShare).constData());
    ::unlink(QFile::encodeName(path(QStringLiteral("Desktop/NotALink.lnk"))).constData());
    EXPECT_EQ(run({QStringLiteral("check"), QStringLiteral("c:")}).status, 1);
    EXPECT_EQ(run({QStringLiteral("repair"), QStringLiteral("c:")}).status, 0);
    EXPECT_EQ(run({QStringLiteral("check"), QStringLiteral("c:")}).status, 0);
}

TEST_F(CheckCommandTest, IgnoreRemoteLeavesOutTargetsOnOtherDrivesAndShares)
{
    const Run plain =
        run({QStringLiteral("repair"), QStringLiteral("--ignore-remote"), QStringLiteral("c:")});
    QStringList expected = brokenLines(false);
    expected << QStringLiteral("repaired ") + repairText();
    expected.sort();
    EXPECT_EQ(plain.sortedLines(), expected);
    EXPECT_EQ(plain.status, 1);

    const Run json = run({QStringLiteral("check"), QStringLiteral("--ignore-remote"),
                          QStringLiteral("--json"), QStringLiteral("c:")});
    const QJsonObject counts = parse(json.out).value(QStringLiteral("counts")).toObject();
    EXPECT_EQ(counts.value(QStringLiteral("broken")).toInt(), 2);
    EXPECT_EQ(counts.value(QStringLiteral("remote")).toInt(), 2);
}

TEST_F(CheckCommandTest, FoldersAreWalkedLikeDrivesAndEachShortcutIsCheckedOnce)
{
    // A folder of c:, by its path here and in Windows form, and c: itself:
    // every shortcut once, with the Windows path of its drive.
    const Run result =
        run({QStringLiteral("check"), QStringLiteral("--dry-run"), QStringLiteral("--json"),
             path(QStringLiteral("Start Menu")), QStringLiteral("C:\\Desktop"), QStringLiteral("c:")});
    const QJsonObject report = parse(result.out);
    EXPECT_EQ(report.value(QStringLiteral("broken")).toArray().size(), 4);
    EXPECT_EQ(report.value(QStringLiteral("counts")).toObject().value(QStringLiteral("shortcuts")).toInt(),
              8);

    const Run desktop = run({QStringLiteral("check"), QStringLiteral("--dry-run"), QStringLiteral("--json"),
                             path(QStringLiteral("Start Menu"))});
    const QJsonArray listed = parse(desktop.out).value(QStringLiteral("broken")).toArray();
    ASSERT_EQ(listed.size(), 1);
    EXPECT_EQ(listed.first().toObject().value(QStringLiteral("windowsPath")).toString(),
              QStringLiteral("c:\\Start Menu\\Programs\\Old Tool.lnk"));
}

TEST_F(CheckCommandTest, AFolderOnNoDriveGetsALetterOfItsOwnAndTargetsStillMeanTheDrives)
{
    QTemporaryDir elsewhere;
    const QByteArray folder = QFile::encodeName(elsewhere.path());
    const auto write = [&](const QString &name, const QString &target) {
        LnkTargetInfo info;
        info.winPath = target;
        info.attributes = 0x20;
        auto made = LnkFile::create(info, QStringLiteral("y:\\") + name);
        ASSERT_TRUE(std::holds_alternative<LnkFile>(made));
        QFile file(elsewhere.path() + QLatin1Char('/') + name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(std::get<LnkFile>(made).serialize());
    };
    write(QStringLiteral("Tool.lnk"), QStringLiteral("C:\\Apps\\tool.exe"));
    write(QStringLiteral("Gone.lnk"), QStringLiteral("C:\\Apps\\gone.exe"));

    const Run result = run({QStringLiteral("check"), QStringLiteral("--json"), elsewhere.path()});
    EXPECT_EQ(result.status, 1);
    const QJsonObject report = parse(result.out);
    const QJsonArray listed = report.value(QStringLiteral("broken")).toArray();
    ASSERT_EQ(listed.size(), 1);
    EXPECT_EQ(listed.first().toObject().value(QStringLiteral("path")).toString(),
              elsewhere.path() + QStringLiteral("/Gone.lnk"));
    EXPECT_EQ(listed.first().toObject().value(QStringLiteral("windowsPath")).toString(),
              QStringLiteral("y:\\Gone.lnk"));
    // The run says which letter it gave the folder.
    ASSERT_EQ(result.errLines().size(), 1);
    EXPECT_TRUE(result.errLines().first().contains(QLatin1String("y:"))) << result.err.constData();
}

TEST_F(CheckCommandTest, ARepairThatCannotBeWrittenIsReportedNotHidden)
{
    ASSERT_EQ(::chmod(QFile::encodeName(moved).constData(), 0444), 0);
    const QByteArray before = readWholeFile(QFile::encodeName(moved));
    const Run result = run({QStringLiteral("repair"), QStringLiteral("--json"), QStringLiteral("c:")});
    EXPECT_EQ(readWholeFile(QFile::encodeName(moved)), before);
    const QJsonObject report = parse(result.out);
    const QJsonObject repair = report.value(QStringLiteral("repairs")).toArray().first().toObject();
    EXPECT_FALSE(repair.value(QStringLiteral("written")).toBool(true));
    EXPECT_FALSE(repair.value(QStringLiteral("failure")).toString().isEmpty());
    const QJsonObject counts = report.value(QStringLiteral("counts")).toObject();
    EXPECT_EQ(counts.value(QStringLiteral("repaired")).toInt(), 0);
    EXPECT_EQ(counts.value(QStringLiteral("repairsFailed")).toInt(), 1);
    ASSERT_EQ(result.errLines().size(), 1);
    EXPECT_TRUE(result.errLines().first().startsWith(QStringLiteral("linkmend: could not repair ") + moved));

    // check promises nothing the real run cannot do: the same report, said
    // as what would happen, and the same exit status.
    const Run dry = run({QStringLiteral("check"), QStringLiteral("c:")});
    EXPECT_EQ(dry.status, result.status);
    const QStringList told = dry.errLines().filter(QStringLiteral("linkmend: would repair ") + moved);
    ASSERT_EQ(told.size(), 1) << dry.err.constData();
    EXPECT_TRUE(told.first().contains(QLatin1String("but cannot write")));
    EXPECT_FALSE(dry.out.contains("would repair"));
    EXPECT_EQ(readWholeFile(QFile::encodeName(moved)), before);
}

TEST_F(CheckCommandTest, NothingBrokenExitsZeroWithNothingPrinted)
{
    const Run result = run({QStringLiteral("check"), path(QStringLiteral("Apps"))});
    EXPECT_EQ(result.status, 0);
    EXPECT_TRUE(result.out.isEmpty());
    EXPECT_TRUE(result.err.isEmpty());
}

TEST_F(CheckCommandTest, BadInputSaysWhatWasWrongInOneLineAndTouchesNothing)
{
    QTemporaryDir notAPrefix;
    const auto before = snapshot();
    const QList<QStringList> commands = {
        {QStringLiteral("check"), QStringLiteral("c:"), QStringLiteral("q:")},
        {QStringLiteral("check"), QStringLiteral("c:"), path(QStringLiteral("No Such Folder"))},
        {QStringLiteral("check"), QStringLiteral("c:"), path(QStringLiteral("Apps/tool.exe"))},
        {QStringLiteral("check"), QStringLiteral("c:Apps")},
        {QStringLiteral("check"), QStringLiteral("--prefix"), notAPrefix.path(), QStringLiteral("c:")},
        {QStringLiteral("check"), QStringLiteral("--prefix"), notAPrefix.path() + QStringLiteral("/none"),
         QStringLiteral("c:")},
        {QStringLiteral("check")},
        {QStringLiteral("check"), QStringLiteral("--yes"), QStringLiteral("c:")},
        {QStringLiteral("check"), QStringLiteral("--prefix")},
        {QStringLiteral("scan"), QStringLiteral("c:")},
        {QStringLiteral("--frobnicate")},
        {QStringLiteral("trash")},
    };
    for (const QStringList &command : commands) {
        const Run result = run(command);
        const QString shown = command.join(QLatin1Char(' '));
        EXPECT_EQ(result.status, 2) << shown.toStdString();
        EXPECT_TRUE(result.out.isEmpty()) << shown.toStdString();
        ASSERT_EQ(result.errLines().size(), 1) << shown.toStdString() << ": " << result.err.constData();
        EXPECT_TRUE(result.errLines().first().startsWith(QLatin1String("linkmend: "))) << shown.toStdString();
    }
    EXPECT_TRUE(run({QStringLiteral("check"), QStringLiteral("q:")}).err.contains("q:"));
    EXPECT_TRUE(
        run({QStringLiteral("check"), QStringLiteral("--prefix"), notAPrefix.path(), QStringLiteral("c:")})
            .err.contains("dosdevices"));
    EXPECT_EQ(snapshot(), before);
}

TEST_F(CheckCommandTest, PrefixOnTheCommandLineWinsOverTheEnvironment)
{
    const Run result =
        run({QStringLiteral("check"), QStringLiteral("--prefix"), QFile::decodeName(drives.prefix()),
             QStringLiteral("--dry-run"), QStringLiteral("c:")},
            {}, false);
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(result.sortedLines().contains(brokenLines().first()));
}

using CommandLineProgram = ProgramFixture;

TEST_F(CommandLineProgram, HelpAndVersionNeedNoDisplay)
{
    // A short synopsis; the whole manual is the manual page.
    const Run help = run({QStringLiteral("--help")});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(
        help.out.contains("\n  linkmend check [--ignore-remote] [--json] [-q] [-0] [--exclude PATTERN] "
                          "[--prefix DIR] WHERE...\n"));
    EXPECT_TRUE(help.out.contains("\n  linkmend undo [--last] [-q] [RUN]\n"));
    EXPECT_TRUE(help.out.contains("\n  linkmend trash [--yes] [--prefix DIR] FILE.lnk...\n"));
    EXPECT_TRUE(help.out.endsWith("\nSee man linkmend for the whole manual.\n"));
    EXPECT_FALSE(help.out.contains("EXIT STATUS"));
    EXPECT_LT(help.out.count('\n'), 15);
    const Run version = run({QStringLiteral("--version")});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, QByteArray("Linkmend 1.0.0.0\n"));
}

} // namespace
