#pragma once

#include <QByteArray>

// The program's manual as plain text, laid out like the page man prints
// (cli/linkmend.1.txt, compiled in). The manual page linkmend(1) and the
// shell completions are made from the same text when the program is built.
QByteArray manualText();
// The text of `linkmend --help`: the manual's name line and synopsis, one
// line for each way to run the program, and where the whole manual is.
QByteArray helpText();
// The text of `linkmend --version`.
QByteArray versionText();
