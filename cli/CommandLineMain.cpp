#include "cli/CommandLineMain.h"

#include "cli/CheckRun.h"
#include "cli/CommandLine.h"
#include "cli/Console.h"
#include "cli/HelpText.h"
#include "cli/RunDrives.h"
#include "cli/ShortcutShow.h"
#include "cli/TerminalUi.h"
#include "platform/PosixPath.h"
#include "platform/StopSignal.h"
#include "platform/VolumeServices.h"
#include "platform/WinPath.h"
#include "shell/ChangeJournal.h"
#include "shell/JournalUndo.h"
#include "shell/ShellLinkService.h"
#include "shell/ShellServices.h"
#include "shell/WineLaunchers.h"
#include "winpath/WinPathText.h"

#include <QCoreApplication>
#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

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
    // A shortcut named is checked alone; it must be one.
    ShellLinkService service(drives->drives());
    QList<RunDrives::Place> roots;
    bool bad = false;
    for (qsizetype i = 0; i < line.operands.size(); ++i) {
        const std::optional<RunDrives::Place> root =
            placeOf(drives->folderOrFile(line.operands.at(i), raw.at(i)), console);
        if (!root) {
            bad = true;
            continue;
        }
        if (root->isFile) {
            if (!root->shown) {
                console.message(
                    QStringLiteral("%1: its name cannot be shown in Windows form; check its folder "
                                   "instead")
                        .arg(root->win));
                bad = true;
                continue;
            }
            if (const LinkVerdict read = service.read(root->win);
                read.status == LinkVerdict::Status::NotShortcut ||
                read.status == LinkVerdict::Status::Skipped) {
                console.message(QStringLiteral("%1: %2").arg(line.operands.at(i), read.reason));
                bad = true;
                continue;
            }
        }
        roots << *root;
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
            if (i == j || (roots[j].isFile && !roots[i].isFile) || !walkedWithin(roots[j].win, roots[i].win))
                continue;
            // Of two equal roots the first stays.
            covered = !walkedWithin(roots[i].win, roots[j].win) || j < i;
        }
        if (!covered)
            walked << roots[i];
    }

    // Every repair is journalled, so that `undo` can put it back.
    const bool writes = line.writesRepairs();
    if (writes) {
        QStringList named;
        for (const RunDrives::Place &root : walked)
            named << root.win;
        service.setJournal(
            std::make_shared<ChangeJournal>(QStringLiteral("repair ") + named.join(QLatin1Char(' '))));
    }
    const StopSignal stop;
    CheckRun run({!writes, line.ignoreRemote, line.json, line.quiet}, service, console, drives->drives(),
                 [&stop] { return stop.requested(); });
    run.setNullSeparated(line.null);
    run.setExcludes(line.excludes);
    const int status = run.run(walked).exitStatus();
    if (writes && !service.journal()->runName().isEmpty() && !line.json && !line.quiet && !line.null)
        console.message(
            QStringLiteral("the repairs are journalled as run %1; linkmend undo %1 puts them back")
                .arg(service.journal()->runName()));
    return finish(console, status);
}

int runShow(const CommandLine &line, const QList<QByteArray> &raw, Console &console)
{
    std::optional<RunDrives> drives = loadDrives(line, console);
    if (!drives)
        return UsageError;

    ShellLinkService service(drives->drives());
    int status = 0;
    bool first = true;
    QJsonArray shownList;
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
        if (line.json)
            shownList.append(shown.json);
        else
            console.out((first ? QByteArray() : QByteArray("\n")) + shown.text);
        first = false;
        if (shown.verdict == ShortcutShow::Verdict::Broken && status == 0)
            status = 1;
    }
    if (line.json)
        console.out(QJsonDocument(shownList).toJson(QJsonDocument::Indented));
    return finish(console, status);
}

QString driveKind(quint32 type)
{
    switch (type) {
    case win::DRIVE_REMOVABLE:
        return QStringLiteral("removable");
    case win::DRIVE_FIXED:
        return QStringLiteral("fixed");
    case win::DRIVE_REMOTE:
        return QStringLiteral("network");
    case win::DRIVE_CDROM:
        return QStringLiteral("cd-rom");
    case win::DRIVE_RAMDISK:
        return QStringLiteral("ram");
    case win::DRIVE_NO_ROOT_DIR:
        return QStringLiteral("missing");
    default:
        break;
    }
    return QStringLiteral("unknown");
}

int runDrives(const CommandLine &line, Console &console)
{
    std::optional<RunDrives> drives = loadDrives(line, console);
    if (!drives)
        return UsageError;
    const SystemVolumeServices volumes(drives->drives());
    QJsonArray list;
    QByteArray text;
    for (const QChar letter : drives->map().letters()) {
        const QString root = WinPath::driveRoot(letter);
        const QByteArray folder = drives->map().folder(letter).value_or(QByteArray());
        const QString shown = posix::shownPath(folder);
        const QString kind = driveKind(volumes.driveType(root));
        const QString label = volumes.volumeLabel(root).value_or(QString());
        QJsonObject drive{{QStringLiteral("letter"), QString(letter) + QLatin1Char(':')},
                          {QStringLiteral("folder"), shown},
                          {QStringLiteral("kind"), kind},
                          {QStringLiteral("label"), label}};
        insertExactBytes(drive, QStringLiteral("folder"), shown, folder);
        list.append(drive);
        text += QString(letter).toUtf8() + ":\t" + shown.toUtf8() + '\t' + kind.toUtf8() + '\t' +
                printable(label) + '\n';
    }
    console.out(line.json ? QJsonDocument(list).toJson(QJsonDocument::Indented) : text);
    return finish(console, 0);
}

QString runSummary(const JournalRun &run)
{
    int repairs = 0, trashed = 0, untrashed = 0;
    for (const JournalChange &change : run.changes) {
        if (change.kind == JournalChange::Kind::Replace)
            ++repairs;
        else
            ++(change.kind == JournalChange::Kind::Trash ? trashed : untrashed);
    }
    QStringList parts;
    const auto part = [&parts](int count, const char *one, const char *many) {
        if (count > 0)
            parts << QStringLiteral("%1 %2").arg(count).arg(QLatin1String(count == 1 ? one : many));
    };
    part(repairs, "shortcut rewritten", "shortcuts rewritten");
    part(trashed, "moved to the trash", "moved to the trash");
    part(untrashed, "put back from the trash", "put back from the trash");
    return parts.isEmpty() ? QStringLiteral("nothing changed") : parts.join(QStringLiteral(", "));
}

int runUndo(const CommandLine &line, Console &console)
{
    if (line.operands.isEmpty() && !line.last) {
        // The runs, oldest first, the newest last: name, time, what, changes.
        const QList<JournalRun> runs = ChangeJournal::runs();
        if (runs.isEmpty())
            console.message(QStringLiteral("nothing has been changed yet (the journal is in %1)")
                                .arg(posix::shownPath(ChangeJournal::defaultFolder())));
        QByteArray text;
        for (const JournalRun &run : runs)
            text += printable(run.name) + '\t' +
                    run.started.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toUtf8() +
                    '\t' + printable(run.what) + '\t' + printable(runSummary(run)) + '\n';
        console.out(text);
        return finish(console, 0);
    }
    const std::variant<JournalRun, QString> found =
        ChangeJournal::find(line.last ? QStringLiteral("--last") : line.operands.first());
    if (const auto *error = std::get_if<QString>(&found)) {
        console.message(*error);
        return UsageError;
    }
    const JournalRun &run = std::get<JournalRun>(found);
    const StopSignal stop;
    const std::shared_ptr<ChangeJournal> journal = JournalUndo::journalFor(run);
    const JournalUndo::Report report = JournalUndo(journal, [&stop] { return stop.requested(); }).undo(run);

    using Result = JournalUndo::Item::Result;
    for (const JournalUndo::Item &item : report.items) {
        const QString path = posix::shownPath(item.path);
        switch (item.result) {
        case Result::Restored:
            if (!line.quiet)
                console.out("put back " + printable(path) + '\n');
            break;
        case Result::AlreadyAsBefore:
            if (!line.quiet)
                console.message(QStringLiteral("%1: nothing to put back (%2)").arg(path, item.reason));
            break;
        case Result::ChangedSince:
            console.message(QStringLiteral("left alone %1: %2").arg(path, item.reason));
            break;
        case Result::Gone:
            console.message(QStringLiteral("not put back %1: %2").arg(path, item.reason));
            break;
        case Result::Failed:
            console.message(QStringLiteral("could not put back %1: %2").arg(path, item.reason));
            break;
        }
    }
    const int restored = report.count(Result::Restored);
    QString summary =
        QStringLiteral("%1 of %2 put back").arg(restored).arg(report.items.size()) + report.leftText();
    if (!journal->runName().isEmpty())
        summary +=
            QStringLiteral("; this undo is run %1, which linkmend undo %1 undoes").arg(journal->runName());
    if (report.stopped)
        summary += QStringLiteral("; stopped before the undo was over");
    console.message(summary);
    if (report.stopped)
        return finish(console, CheckReport::ExitStopped);
    return finish(console, report.complete() ? 0 : 1);
}

int runTrash(const CommandLine &line, const QList<QByteArray> &raw, Console &console)
{
    std::optional<RunDrives> drives = loadDrives(line, console);
    if (!drives)
        return UsageError;

    // Every file is checked first: unless each one is a shortcut or a
    // launcher Wine made for one of this prefix, nothing is moved.
    ShellLinkService service(drives->drives());
    // The launcher folders are read only when a desktop entry is named: the
    // move to the trash reads them in any case.
    std::optional<WineLaunchers> launchers;
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
        // A desktop entry is taken only when it is one of this prefix's
        // launchers; anything else must be a shortcut.
        QString refused;
        const bool desktopEntry =
            file.posix.size() > 8 &&
            QByteArrayView(file.posix).last(8).compare(".desktop", Qt::CaseInsensitive) == 0;
        if (desktopEntry && !launchers)
            launchers.emplace(*drives->drives());
        if (!desktopEntry || !launchers->at(file.posix)) {
            if (file.posix.endsWith(".desktop"))
                refused = QStringLiteral("not a launcher that Wine made for a shortcut of this prefix");
            else if (const LinkVerdict read = service.read(file.win);
                     read.status == LinkVerdict::Status::NotShortcut ||
                     read.status == LinkVerdict::Status::Skipped)
                refused = read.reason;
        }
        if (!refused.isEmpty()) {
            console.message(QStringLiteral("%1: %2").arg(operand, refused));
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
    // Each file moved, the launchers, menu files and icons that went along
    // after the file they went with.
    for (const TrashGroup &group : result.groups) {
        if (result.gone.contains(group.request))
            console.message(QStringLiteral("%1 was gone already").arg(pathOf.value(group.request)));
        for (const TrashEntry &move : group.files)
            console.out("moved to the trash: " + printable(posix::shownPath(move.path)) + '\n');
    }
    return finish(console, result.failed.isEmpty() && result.companionsFailed.isEmpty() ? 0 : 1);
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
    case CommandLine::Command::Repair:
        return runCheck(line, rawOperandsOf(line, raw), console);
    case CommandLine::Command::Undo:
        return runUndo(line, console);
    case CommandLine::Command::Drives:
        return runDrives(line, console);
    case CommandLine::Command::Show:
        return runShow(line, rawOperandsOf(line, raw), console);
    case CommandLine::Command::Trash:
        return runTrash(line, rawOperandsOf(line, raw), console);
    case CommandLine::Command::Window:
        break;
    }
    return UsageError;
}

bool displayAvailable(int argc, char **argv)
{
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        if (!qEnvironmentVariableIsEmpty(name))
            return true;
    }
    for (const QString &argument : argumentsOf(argc, argv)) {
        if (argument == QLatin1String("-platform") || argument == QLatin1String("--platform") ||
            argument.startsWith(QLatin1String("-platform=")) ||
            argument.startsWith(QLatin1String("--platform=")))
            return true;
    }
    return false;
}

int runWithoutDisplay()
{
    Console::standard().message(
        QStringLiteral("no display to open the window on; from a terminal, "
                       "check a drive with: linkmend check c: (linkmend --help for more)"));
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
