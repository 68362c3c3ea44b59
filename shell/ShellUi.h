#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

// What the shell services need from the user interface. The shell layer links
// no widgets: the application implements this with its message boxes (the
// application title as caption) and QDesktopServices; tests answer through a
// fake.
class ShellUi
{
public:
    virtual ~ShellUi() = default;

    // A modal question before files are moved to the trash, Yes the default
    // button. `question` is the text to show (it names the file, or the count
    // when there are several, and the launchers going along); `paths` are
    // the files concerned, in request order, and `launchers` how many of
    // Wine's launchers go with them. True when the user agreed.
    virtual bool confirmDelete(const QStringList &paths, const QString &question, int launchers) = 0;

    // A modal message with an OK button.
    virtual void showMessage(const QString &text) = 0;

    // Hands a URL to the desktop's handler for its scheme (the file manager
    // for a folder's file:// URL, the web browser for a web address).
    virtual void openUrl(const QUrl &url) = 0;
};
