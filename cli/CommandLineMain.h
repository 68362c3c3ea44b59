#pragma once

#include <QStringList>

class Console;

// Whether the program's arguments ask for a command rather than the window.
bool wantsCommandLine(int argc, char **argv);

// Whether the window can be shown: a display (X11 or Wayland) is named in
// the environment, or Qt is told which platform to use (QT_QPA_PLATFORM,
// -platform).
bool displayAvailable(int argc, char **argv);
// Says in one line how to use the command line, for a start without a
// display and without a command; returns the exit status (2).
int runWithoutDisplay();

// The command-line mode of the program: an application object that needs no
// display, the command the arguments name, run with the process's standard
// streams. Returns the exit status.
int runCommandLine(int argc, char **argv);

// Runs the command that `arguments` (after the program's name) name, on the
// given streams; the exit status: 0 nothing broken, 1 broken shortcuts found
// (trash: a file was not moved), 2 a usage or start-up error.
int runCommand(const QStringList &arguments, Console &console, const QList<QByteArray> &rawArguments = {});
