#include "BufferConsole.h"

#include "cli/CheckReport.h"
#include "cli/CommandLine.h"
#include "cli/Console.h"
#include "cli/RunDrives.h"
#include "support/TempDrives.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

namespace {

std::variant<CommandLine, CommandLine::Error> parse(const QStringList &arguments)
{
    return CommandLine::parse(arguments);
}

TEST(CommandLineParse, NoArgumentsOrTheToolkitsWindowOptionsStartTheWindow)
{
    for (const QStringList &arguments :
         {QStringList{}, QStringList{QStringLiteral("-platform"), QStringLiteral("xcb")},
          QStringList{QStringLiteral("--style=fusion")}, QStringList{QStringLiteral("-reverse")}}) {
        const auto parsed = parse(arguments);
        ASSERT_TRUE(std::holds_alternative<CommandLine>(parsed)) << arguments.join(' ').toStdString();
        EXPECT_EQ(std::get<CommandLine>(parsed).command, CommandLine::Command::Window);
    }
}

TEST(CommandLineParse, OptionsMayComeAnywhereUntilDoubleDash)
{
    const auto parsed =
        parse({QStringLiteral("check"), QStringLiteral("c:"), QStringLiteral("--json"),
               QStringLiteral("--prefix=/p"), QStringLiteral("--dry-run"), QStringLiteral("--"),
               QStringLiteral("--ignore-remote"), QStringLiteral("d:")});
    ASSERT_TRUE(std::holds_alternative<CommandLine>(parsed));
    const CommandLine &line = std::get<CommandLine>(parsed);
    EXPECT_EQ(line.command, CommandLine::Command::Check);
    EXPECT_TRUE(line.json && line.dryRun);
    EXPECT_FALSE(line.ignoreRemote);
    EXPECT_EQ(line.prefix, QStringLiteral("/p"));
    EXPECT_EQ(line.operands,
              (QStringList{QStringLiteral("c:"), QStringLiteral("--ignore-remote"), QStringLiteral("d:")}));

    const auto trash = parse({QStringLiteral("trash"), QStringLiteral("-y"), QStringLiteral("--prefix"),
                              QStringLiteral("/q"), QStringLiteral("a.lnk")});
    ASSERT_TRUE(std::holds_alternative<CommandLine>(trash));
    EXPECT_TRUE(std::get<CommandLine>(trash).yes);
    EXPECT_EQ(std::get<CommandLine>(trash).prefix, QStringLiteral("/q"));

    EXPECT_EQ(std::get<CommandLine>(parse({QStringLiteral("show"), QStringLiteral("--help")})).command,
              CommandLine::Command::Help);
    EXPECT_EQ(std::get<CommandLine>(parse({QStringLiteral("-V")})).command, CommandLine::Command::Version);
}

TEST(CommandLineParse, MistakesAreNamedInOneLine)
{
    const QList<std::pair<QStringList, QString>> cases = {
        {{QStringLiteral("scan"), QStringLiteral("c:")}, QStringLiteral("unknown command scan")},
        {{QStringLiteral("--frobnicate")}, QStringLiteral("unknown option --frobnicate")},
        {{QStringLiteral("check")}, QStringLiteral("check: name at least one drive")},
        {{QStringLiteral("show")}, QStringLiteral("show: name at least one shortcut file")},
        {{QStringLiteral("check"), QStringLiteral("--yes"), QStringLiteral("c:")},
         QStringLiteral("check: unknown option --yes")},
        {{QStringLiteral("show"), QStringLiteral("--dry-run"), QStringLiteral("a.lnk")},
         QStringLiteral("show: unknown option --dry-run")},
        {{QStringLiteral("check"), QStringLiteral("c:"), QStringLiteral("--prefix")},
         QStringLiteral("check: --prefix needs a folder")},
        {{QStringLiteral("check"), QStringLiteral("--prefix="), QStringLiteral("c:")},
         QStringLiteral("check: --prefix needs a folder")},
        {{QStringLiteral("check"), QStringLiteral("--prefix=/a"), QStringLiteral("--prefix=/b"),
          QStringLiteral("c:")},
         QStringLiteral("check: --prefix given twice")},
    };
    for (const auto &[arguments, start] : cases) {
        const auto parsed = parse(arguments);
        ASSERT_TRUE(std::holds_alternative<CommandLine::Error>(parsed)) << arguments.join(' ').toStdString();
        const QString message = std::get<CommandLine::Error>(parsed).message;
        EXPECT_TRUE(message.startsWith(start)) << message.toStdString();
        EXPECT_FALSE(message.contains(QLatin1Char('\n')));
    }
}

CheckReport::Shortcut shortcutAt(const QString &name)
{
    return {QStringLiteral("/d/") + name, QStringLiteral("c:\\") + name, QByteArray()};
}

TEST(CheckReportOutput, LinesStayOneRecordEachWhateverTheTargetHolds)
{
    EXPECT_EQ(
        CheckReport::brokenLine({shortcutAt(QStringLiteral("a.lnk")), QStringLiteral("C:\\x\ty\nz.exe")}),
        QByteArray("/d/a.lnk\tC:\\x\\x09y\\x0Az.exe\n"));

    CheckReport report;
    const CheckReport::Repair made{shortcutAt(QStringLiteral("m.lnk")), QStringLiteral("C:\\Old\\m.exe"),
                                   QStringLiteral("c:\\New\\m.exe"), true, QString()};
    EXPECT_EQ(report.repairLine(made), QByteArray("repaired /d/m.lnk: C:\\Old\\m.exe -> c:\\New\\m.exe\n"));
    const CheckReport::Repair failed{shortcutAt(QStringLiteral("f.lnk")), QStringLiteral("C:\\Old\\f.exe"),
                                     QStringLiteral("c:\\New\\f.exe"), false, QStringLiteral("read-only")};
    EXPECT_TRUE(report.repairLine(failed).isEmpty());
    report.dryRun = true;
    EXPECT_EQ(report.repairLine({made.shortcut, made.oldTarget, made.newTarget, false, QString()}),
              QByteArray("would repair /d/m.lnk: C:\\Old\\m.exe -> c:\\New\\m.exe\n"));
}

TEST(CheckReportOutput, CountsAndExitStatusFollowWhatWasFound)
{
    CheckReport report;
    EXPECT_EQ(report.exitStatus(), 0);
    report.folders = 3;
    report.shortcuts = 5;
    report.remote = 1;
    report.repairs << CheckReport::Repair{shortcutAt(QStringLiteral("m.lnk")), QStringLiteral("C:\\a"),
                                          QStringLiteral("c:\\b"), true, QString()};
    EXPECT_EQ(report.exitStatus(), 0);
    report.repairs << CheckReport::Repair{shortcutAt(QStringLiteral("r.lnk")), QStringLiteral("C:\\a"),
                                          QStringLiteral("c:\\b"), false, QStringLiteral("read-only")};
    // A repair that could not be written leaves a shortcut pointing nowhere.
    EXPECT_EQ(report.exitStatus(), 1);
    report.broken << CheckReport::Broken{shortcutAt(QStringLiteral("b.lnk")), QStringLiteral("C:\\gone")};
    report.unjudged << CheckReport::Unjudged{shortcutAt(QStringLiteral("u.lnk")), QStringLiteral("why")};

    const QJsonObject json = QJsonDocument::fromJson(report.toJson()).object();
    const QJsonObject counts = json.value(QStringLiteral("counts")).toObject();
    EXPECT_EQ(counts.value(QStringLiteral("folders")).toInt(), 3);
    EXPECT_EQ(counts.value(QStringLiteral("shortcuts")).toInt(), 5);
    EXPECT_EQ(counts.value(QStringLiteral("repaired")).toInt(), 1);
    EXPECT_EQ(counts.value(QStringLiteral("repairsFailed")).toInt(), 1);
    EXPECT_EQ(counts.value(QStringLiteral("broken")).toInt(), 1);
    EXPECT_EQ(counts.value(QStringLiteral("remote")).toInt(), 1);
    EXPECT_EQ(counts.value(QStringLiteral("unjudged")).toInt(), 1);
    const QJsonObject failed = json.value(QStringLiteral("repairs")).toArray().at(1).toObject();
    EXPECT_EQ(failed.value(QStringLiteral("failure")).toString(), QStringLiteral("read-only"));
    EXPECT_EQ(
        json.value(QStringLiteral("unjudged")).toArray().first().toObject().value(QStringLiteral("reason")),
        QStringLiteral("why"));
}

TEST(CheckProgress, DrawnOnlyOnATerminalAndTakenAwayBeforeAnythingElse)
{
    BufferConsole pipe;
    {
        Progress progress(pipe);
        QThread::msleep(Progress::IntervalMs + 100);
        progress.update(1, 2);
    }
    EXPECT_TRUE(pipe.errors.isEmpty());

    BufferConsole terminal;
    terminal.terminal = true;
    Progress progress(terminal);
    QThread::msleep(Progress::IntervalMs + 100);
    progress.update(7, 3);
    EXPECT_EQ(terminal.errors, QByteArray("\r7 folders, 3 shortcuts\033[K"));
    progress.clear();
    EXPECT_TRUE(terminal.errors.endsWith("\r\033[K"));
    EXPECT_TRUE(terminal.output.isEmpty());
}

TEST(RunDrivesPlaces, FoldersAndFilesOnNoDriveGetLettersOfTheirOwnFromY)
{
    TempDrives drives(QStringLiteral("cy"));
    drives.writeFile(QStringLiteral("Apps/tool.exe"), "x");
    QTemporaryDir first, second;
    QFile(second.path() + QStringLiteral("/a.lnk")).open(QIODevice::WriteOnly);

    auto loaded = RunDrives::load(QFile::decodeName(drives.prefix()));
    ASSERT_TRUE(std::holds_alternative<RunDrives>(loaded));
    RunDrives &run = std::get<RunDrives>(loaded);

    const auto root = run.folder(QStringLiteral("C:"));
    ASSERT_TRUE(std::holds_alternative<RunDrives::Place>(root));
    EXPECT_EQ(std::get<RunDrives::Place>(root).win, QStringLiteral("c:\\"));
    // Windows form without regard to case; the names as they are on disk.
    const auto apps = run.folder(QStringLiteral("c:\\APPS"));
    ASSERT_TRUE(std::holds_alternative<RunDrives::Place>(apps));
    EXPECT_EQ(std::get<RunDrives::Place>(apps).win, QStringLiteral("c:\\Apps"));

    // y: is taken, so the first folder on no drive gets x:, the next w:.
    const auto one = run.folder(first.path());
    ASSERT_TRUE(std::holds_alternative<RunDrives::Place>(one));
    EXPECT_EQ(std::get<RunDrives::Place>(one).win, QStringLiteral("x:\\"));
    const auto file = run.file(second.path() + QStringLiteral("/a.lnk"));
    ASSERT_TRUE(std::holds_alternative<RunDrives::Place>(file));
    EXPECT_EQ(std::get<RunDrives::Place>(file).win, QStringLiteral("w:\\a.lnk"));
    EXPECT_EQ(run.takeNotes().size(), 2);
    // The letters hold for the whole run: the link service names the same.
    EXPECT_EQ(posixPathOf(*run.drives(), QStringLiteral("w:\\a.lnk")),
              second.path() + QStringLiteral("/a.lnk"));
    EXPECT_TRUE(run.takeNotes().isEmpty());

    EXPECT_TRUE(std::holds_alternative<RunDrives::Error>(run.folder(QStringLiteral("q:"))));
    EXPECT_TRUE(std::holds_alternative<RunDrives::Error>(run.folder(QStringLiteral("c:Apps"))));
    EXPECT_TRUE(std::holds_alternative<RunDrives::Error>(run.folder(QStringLiteral("c:\\Apps\\tool.exe"))));
    EXPECT_TRUE(std::holds_alternative<RunDrives::Error>(run.file(QStringLiteral("c:\\Apps"))));
    EXPECT_TRUE(std::holds_alternative<RunDrives::Error>(run.file(QString())));
}

} // namespace
