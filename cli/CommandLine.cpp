#include "cli/CommandLine.h"

#include <QSet>

namespace {

// Options the toolkit takes for the window itself (with one dash or two).
// A command line that begins with one of them starts the window, as it did
// before the program had commands.
bool isWindowOption(const QString &argument)
{
    static const QSet<QString> names = {
        QStringLiteral("platform"),
        QStringLiteral("platformpluginpath"),
        QStringLiteral("platformtheme"),
        QStringLiteral("plugin"),
        QStringLiteral("qwindowgeometry"),
        QStringLiteral("qwindowicon"),
        QStringLiteral("qwindowtitle"),
        QStringLiteral("reverse"),
        QStringLiteral("session"),
        QStringLiteral("display"),
        QStringLiteral("geometry"),
        QStringLiteral("style"),
        QStringLiteral("stylesheet"),
        QStringLiteral("widgetcount"),
        QStringLiteral("sync"),
    };
    QString name = argument;
    if (name.startsWith(QLatin1String("--")))
        name.remove(0, 2);
    else if (name.startsWith(QLatin1Char('-')))
        name.remove(0, 1);
    else
        return false;
    return names.contains(name.section(QLatin1Char('='), 0, 0));
}

CommandLine::Error usage(const QString &text)
{
    return CommandLine::Error{text + QStringLiteral(" (see linkmend --help)")};
}

} // namespace

QString CommandLine::name(Command command)
{
    switch (command) {
    case Command::Check:
        return QStringLiteral("check");
    case Command::Repair:
        return QStringLiteral("repair");
    case Command::Undo:
        return QStringLiteral("undo");
    case Command::Drives:
        return QStringLiteral("drives");
    case Command::Show:
        return QStringLiteral("show");
    case Command::Trash:
        return QStringLiteral("trash");
    case Command::Help:
        return QStringLiteral("--help");
    case Command::Version:
        return QStringLiteral("--version");
    case Command::Window:
        break;
    }
    return QString();
}

std::variant<CommandLine, CommandLine::Error> CommandLine::parse(const QStringList &arguments)
{
    CommandLine line;
    if (arguments.isEmpty() || isWindowOption(arguments.first()))
        return line;

    const QString first = arguments.first();
    if (first == QLatin1String("--help") || first == QLatin1String("-h") || first == QLatin1String("help")) {
        line.command = Command::Help;
        return line;
    }
    if (first == QLatin1String("--version") || first == QLatin1String("-V")) {
        line.command = Command::Version;
        return line;
    }
    static const QList<Command> named = {Command::Check, Command::Repair, Command::Show,
                                         Command::Trash, Command::Undo,   Command::Drives};
    for (const Command command : named) {
        if (first == name(command))
            line.command = command;
    }
    if (line.command == Command::Window) {
        if (first.startsWith(QLatin1Char('-')))
            return usage(QStringLiteral("unknown option %1").arg(first));
        return usage(QStringLiteral("unknown command %1").arg(first));
    }

    const QString command = name(line.command);
    bool optionsEnded = false;
    bool prefixGiven = false;
    const bool walks = line.command == Command::Check || line.command == Command::Repair;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        if (optionsEnded || !argument.startsWith(QLatin1Char('-')) || argument == QLatin1String("-")) {
            line.operands << argument;
            line.operandAt << i;
            continue;
        }
        if (argument == QLatin1String("--")) {
            optionsEnded = true;
        } else if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
            line.command = Command::Help;
            return line;
        } else if (argument == QLatin1String("--prefix") || argument.startsWith(QLatin1String("--prefix="))) {
            QString value;
            if (argument == QLatin1String("--prefix")) {
                if (i + 1 >= arguments.size())
                    return usage(QStringLiteral("%1: --prefix needs a folder").arg(command));
                value = arguments.at(++i);
            } else {
                value = argument.mid(int(qstrlen("--prefix=")));
            }
            if (value.isEmpty())
                return usage(QStringLiteral("%1: --prefix needs a folder").arg(command));
            if (prefixGiven)
                return usage(QStringLiteral("%1: --prefix given twice").arg(command));
            prefixGiven = true;
            line.prefix = value;
        } else if (walks && (argument == QLatin1String("--dry-run") || argument == QLatin1String("-n"))) {
            line.dryRun = true;
        } else if (walks && argument == QLatin1String("--ignore-remote")) {
            line.ignoreRemote = true;
        } else if ((walks || line.command == Command::Undo) &&
                   (argument == QLatin1String("--quiet") || argument == QLatin1String("-q"))) {
            line.quiet = true;
        } else if (walks && (argument == QLatin1String("--null") || argument == QLatin1String("-0"))) {
            line.null = true;
        } else if (walks && (argument == QLatin1String("--exclude") ||
                             argument.startsWith(QLatin1String("--exclude=")))) {
            QString value;
            if (argument == QLatin1String("--exclude")) {
                if (i + 1 >= arguments.size())
                    return usage(QStringLiteral("%1: --exclude needs a pattern").arg(command));
                value = arguments.at(++i);
            } else {
                value = argument.mid(int(qstrlen("--exclude=")));
            }
            if (value.isEmpty())
                return usage(QStringLiteral("%1: --exclude needs a pattern").arg(command));
            line.excludes << value;
        } else if ((walks || line.command == Command::Show || line.command == Command::Drives) &&
                   argument == QLatin1String("--json")) {
            line.json = true;
        } else if (line.command == Command::Trash &&
                   (argument == QLatin1String("--yes") || argument == QLatin1String("-y"))) {
            line.yes = true;
        } else if (line.command == Command::Undo && argument == QLatin1String("--last")) {
            line.last = true;
        } else {
            return usage(QStringLiteral("%1: unknown option %2").arg(command, argument));
        }
    }

    switch (line.command) {
    case Command::Drives:
        return line;
    case Command::Undo:
        if (line.operands.size() > 1 || (line.last && !line.operands.isEmpty()))
            return usage(QStringLiteral("undo: name one run, or --last"));
        return line;
    default:
        break;
    }
    if (line.operands.isEmpty()) {
        return usage(walks
                         ? QStringLiteral("%1: name at least one drive (c:), folder or shortcut").arg(command)
                         : QStringLiteral("%1: name at least one shortcut file").arg(command));
    }
    return line;
}
