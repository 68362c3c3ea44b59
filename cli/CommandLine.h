#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <variant>

// What the user asked for on the command line: a command with its options
// and operands, or the window. Parsing knows nothing of drives or files; it
// only checks that the words form a command.
struct CommandLine
{
    enum class Command { Window, Check, Repair, Show, Trash, Undo, Drives, Help, Version };

    Command command = Command::Window;
    bool dryRun = false;        // repair: only look, as check does (-n, --dry-run)
    bool ignoreRemote = false;  // check, repair: leave out targets on another drive or a share
    bool json = false;          // check, repair, show, drives: one JSON document instead of lines
    bool quiet = false;         // check, repair, undo: only the summary and errors
    bool null = false;          // check, repair: the broken shortcuts' paths alone, each ended by NUL
    bool yes = false;           // trash: do not ask
    bool last = false;          // undo: the newest run
    QStringList excludes;       // check, repair: folders to pass over (--exclude, repeatable)
    QString prefix;             // the Wine prefix whose drive letters to use; empty: the usual one
    QStringList operands;       // check, repair: drives, folders, shortcuts; show, trash: shortcut files;
                                // undo: a run; drives: letters
    QList<qsizetype> operandAt; // where each operand stands among the arguments

    // A command line that cannot be run, with what was wrong (one line).
    struct Error
    {
        QString message;
    };

    // The arguments after the program's name. No arguments, or only the
    // toolkit's own window options ("-platform xcb", "-style fusion"), start
    // the window. Options may come before or after the operands; "--" ends
    // them; "--prefix DIR" and "--prefix=DIR" are the same.
    static std::variant<CommandLine, Error> parse(const QStringList &arguments);

    // The command's name as typed ("check"); empty for the window.
    static QString name(Command command);

    // Whether repairs are written: `repair` without -n.
    bool writesRepairs() const { return command == Command::Repair && !dryRun; }
};
