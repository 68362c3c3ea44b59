#pragma once

#include <QStringList>

class Console;

// Whether the program's arguments ask for a command rather than the window.
bool wantsCommandLine(int argc, char **argv);

// The command-line mode of the program: an application object that needs no
// display, the command the arguments name, run with the process's standard
// streams. Returns the exit status.
int runCommandLine(int argc, char **argv);

// Runs the command that `arguments` (after the program's name) name, on the
// given streams; the exit status: 0 nothing broken, 1 broken shortcuts found
// (trash: a file was not moved), 2 a usage or start-up error.
int runCommand(const QStringList &arguments, Console &console, const QList<QByteArray> &rawArguments = {});
