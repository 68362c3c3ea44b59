#pragma once

#include "app/Dialogs.h"

#include <QStringList>

// Dialogs that record what the program would show instead of blocking on a
// modal box. Every app test runs with them installed (see QuietDialogs.cpp);
// a test that wants to look at the boxes installs its own RecordingDialogs
// and puts these back with restoreQuietDialogs(). The program's fonts are
// loaded for every app test too.
class RecordingDialogs : public Dialogs
{
public:
    QStringList errors, messages, questions;
    bool answer = true;
    void showError(const QString &text) override { errors << text; }
    void showMessage(const QString &text) override { messages << text; }
    bool askYesNo(const QString &text) override
    {
        questions << text;
        return answer;
    }
};

void restoreQuietDialogs();
