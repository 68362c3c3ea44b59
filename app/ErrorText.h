#pragma once

#include <QString>

// The application title: the program file's name after its last path
// separator and before its first full stop, with every character after the
// first in lower case ("/usr/bin/LinkMend.bin" gives "Linkmend").
QString applicationTitleFrom(const QString &programPath);

// The title of this run, the caption of every message box (set once at
// start-up from the program file's name; "Linkmend" until then).
QString applicationTitle();
void setApplicationTitle(const QString &title);

// The text the general error box shows: the message with a full stop added
// unless it is empty or already ends in a full stop or in a character of
// lower code (space, comma, hyphen and the like).
QString errorBoxText(const QString &message);
