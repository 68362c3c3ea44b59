#include "cli/CommandLineMain.h"

#include "cli/CheckRun.h"
#include "cli/CommandLine.h"
#include "cli/Console.h"
#include "cli/HelpText.h"
#include "cli/RunDrives.h"
#include "cli/ShortcutShow.h"
#include "cli/TerminalUi.h"
#include "platform/StopSignal.h"
#include "shell/ShellLinkService.h"
#include "shell/ShellServices.h"
#include "winpath/WinPathText.h"

#include <QCoreApplication>
#include <QFile>
#include <QHash>

#include <exception>
#include <memory>

namespace {

constexpr int UsageError = 2;

QStringList argumentsOf(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

// The drive map of the run; nothing, once the reason is told, when the
// prefix named is none.
std::optional<RunDrives> loadDrives(const CommandLine &line, Console &console)
{
    std::variant<RunDrives, RunDrives::Error> loaded = RunDrives::load(line.prefix);
    if (const auto *error = std::get_if<RunDrives::Error>(&loaded)) {
        console.message(error->message);
        return std::nullopt;
    }
    return std::move(std::get<RunDrives>(loaded));
}

// The place an operand names; nothing, once the reason is told, when it
// names none.
std::optional<RunDrives::Place> placeOf(std::variant<RunDrives::Place, RunDrives::Error> place,
                                        Console &console)
{
    if (const auto *error = std::get_if<RunDrives::Error>(&place)) {
        console.message(error->message);
        return std::nullopt;
    }
    return std::get<RunDrives::Place>(place);
}

// Each operand's bytes as given: a path that is not UTF-8 is only found by
// them.
QList<QByteArray> rawOperandsOf(const CommandLine &line, const QList<QByteArray> &rawArguments)
{
    QList<QByteArray> raw;
    for (qsizetype i = 0; i < line.operands.size(); ++i)
        raw << rawArguments.value(line.operandAt.value(i, -1), QFile::encodeName(line.operands.at(i)));
    return raw;
}

// `status`, once standard output has been written; 2 when it could not be.
int finish(Console &console, int status)
{
    if (console.flush())
        return status;
    console.message(QStringLiteral("the report could not be written to standard output"));
    return UsageError;
}

void printNotes(RunDrives &drives, Console &console)
{
    for (const QString &note : drives.takeNotes())
        console.message(note);
}

// Whether `inner` is walked as part of `outer` (both Windows form): it lies
// within it, with no hidden folder between, which the walk would not enter.
bool walkedWithin(const QString &outer, const QString &inner)
{
    if (!WinPathText::isWithin(outer, inner))
        return false;
    // A hidden folder on the way down, the inner root itself included, keeps
    // the outer walk out of it.
    const QStringList below = WinPathText::split(inner)->names.mid(WinPathText::split(outer)->names.size());
    for (const QString &name : below) {
        if (name.startsWith(QLatin1Char('.')))
            return false;
    }
    return true;
}

int runCheck(const CommandLine &line, const QList<QByteArray> &raw, Console &console)
{
    std::optional<RunDrives> drives = loadDrives(line, console);
    if (!drives)
        return UsageError;

    // Every operand is checked before anything is walked: one that names
    // nothing stops the run with nothing touched.
    QList<RunDrives::Place> roots;
    bool bad = false;
    for (qsizetype i = 0; i < line.operands.size(); ++i) {
        if (const std::optional<RunDrives::Place> root =
                placeOf(drives->folder(line.operands.at(i), raw.at(i)), console))
            roots << *root;
        else
            bad = true;
    }
    if (bad)
        return UsageError;
    printNotes(*drives, console);

    // A folder named twice, or one that the walk of another goes through,
    // is walked once.
    QList<RunDrives::Place> walked;
    for (qsizetype i = 0; i < roots.size(); ++i) {
        bool covered = false;
        for (qsizetype j = 0; j < roots.size() && !covered; ++j) {
            if (i == j || !walkedWithin(roots[j].win, roots[i].win))
                continue;
            // Of two equal roots the first stays.
            covered = !walkedWithin(roots[i].win, roots[j].win) || j < i;
        }
        if (!covered)
            walked << roots[i];
    }

    ShellLinkService service(drives->drives());
    const StopSignal stop;
    CheckRun run({line.dryRun, line.ignoreRemote, line.json, line.quiet}, service, console, drives->drives(),
                 [&stop] { return stop.requested(); });
    return finish(console, run.run(walked).exitStatus());
}

int runShow(const CommandLine &line, const QList<QByteArray> &raw, Console &console)
{
    std::optional<RunDrives> drives = loadDrives(line, console);
    if (!drives)
        return UsageError;

    ShellLinkService service(drives->drives());
    int status = 0;
    bool first = true;
    for (qsizetype i = 0; i < line.operands.size(); ++i) {
        const std::optional<RunDrives::Place> place =
            placeOf(drives->file(line.operands.at(i), raw.at(i)), console);
        printNotes(*drives, console);
        if (!place) {
            status = UsageError;
            continue;
        }
        const ShortcutShow shown = ShortcutShow::describe(*place, service);
        if (shown.verdict == ShortcutShow::Verdict::NotShortcut) {
            console.message(QString::fromUtf8(shown.text));
            status = UsageError;
            continue;
        }
        console.out((first ? QByteArray() : QByteArray("\n")) + shown.text);
        first = false;
        if (shown.verdict == ShortcutShow::Verdict::Broken && status == 0)
            status = 1;
    }
    return finish(console, status);
}

int runTrash(const CommandLine &line, const QList<QByteArray> &raw, Console &console)
{
    std::optional<RunDrives> drives = loadDrives(line, console);
    if (!drives)
        return UsageError;

    // Every file is checked first: unless each one is a shortcut, nothing
    // is moved.
    ShellLinkService service(drives->drives());
    QStringList request;
    QHash<QString, QString> pathOf;
    bool bad = false;
    for (qsizetype i = 0; i < line.operands.size(); ++i) {
        const QString &operand = line.operands.at(i);
        const std::optional<RunDrives::Place> place = placeOf(drives->file(operand, raw.at(i)), console);
        if (!place) {
            bad = true;
            continue;
        }
        const RunDrives::Place &file = *place;
        if (!file.shown) {
            console.message(
                QStringLiteral("%1: its name cannot be shown in Windows form; move it with the file "
                               "manager instead")
                    .arg(file.win));
            bad = true;
            continue;
        }
        if (const LinkVerdict read = service.read(file.win);
            read.status == LinkVerdict::Status::NotShortcut || read.status == LinkVerdict::Status::Skipped) {
            console.message(QStringLiteral("%1: %2").arg(operand, read.reason));
            bad = true;
            continue;
        }
        if (!pathOf.contains(file.win)) {
            request << file.win;
            pathOf.insert(file.win, QFile::decodeName(file.posix));
        }
    }
    if (bad) {
        console.message(QStringLiteral("nothing was moved to the trash"));
        return UsageError;
    }
    printNotes(*drives, console);

    TerminalUi ui(console, line.yes, drives->drives());
    const std::unique_ptr<ShellServices> shell = ShellServices::create(ui, drives->drives());
    const TrashResult result = shell->deleteToTrash(request);
    if (!result.confirmed) {
        console.message(QStringLiteral("nothing was moved to the trash"));
        return 1;
    }
    for (const QString &moved : result.moved)
        console.out("moved to the trash: " + printable(pathOf.value(moved)) + '\n');
    for (const QString &gone : result.gone)
        console.message(QStringLiteral("%1 was gone already").arg(pathOf.value(gone)));
    return finish(console, result.failed.isEmpty() ? 0 : 1);
}

} // namespace

bool wantsCommandLine(int argc, char **argv)
{
    const std::variant<CommandLine, CommandLine::Error> parsed = CommandLine::parse(argumentsOf(argc, argv));
    const auto *line = std::get_if<CommandLine>(&parsed);
    return !line || line->command != CommandLine::Command::Window;
}

int runCommand(const QStringList &arguments, Console &console, const QList<QByteArray> &rawArguments)
{
    const std::variant<CommandLine, CommandLine::Error> parsed = CommandLine::parse(arguments);
    if (const auto *error = std::get_if<CommandLine::Error>(&parsed)) {
        console.message(error->message);
        return UsageError;
    }
    const CommandLine &line = std::get<CommandLine>(parsed);
    // The bytes stand beside the arguments only when they are the same ones.
    const QList<QByteArray> raw =
        rawArguments.size() == arguments.size() ? rawArguments : QList<QByteArray>{};
    switch (line.command) {
    case CommandLine::Command::Help:
        console.out(helpText());
        return finish(console, 0);
    case CommandLine::Command::Version:
        console.out(versionText());
        return finish(console, 0);
    case CommandLine::Command::Check:
        return runCheck(line, rawOperandsOf(line, raw), console);
    case CommandLine::Command::Show:
        return runShow(line, rawOperandsOf(line, raw), console);
    case CommandLine::Command::Trash:
        return runTrash(line, rawOperandsOf(line, raw), console);
    case CommandLine::Command::Window:
        break;
    }
    return UsageError;
}

int runCommandLine(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Linkmend"));
    QCoreApplication::setApplicationVersion(QStringLiteral(LINKMEND_VERSION));
    Console &console = Console::standard();
    try {
        QList<QByteArray> raw;
        for (int i = 1; i < argc; ++i)
            raw << QByteArray(argv[i]);
        return runCommand(QCoreApplication::arguments().mid(1), console, raw);
    } catch (const std::exception &error) {
        console.message(QString::fromUtf8(error.what()));
    } catch (...) {
        console.message(QStringLiteral("unknown error"));
    }
    return UsageError;
}
