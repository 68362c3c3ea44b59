#pragma once

#include <QString>

class QWidget;

// The message boxes the program shows, behind one seam so tests answer them
// instead of blocking on a real modal box. Every box carries the application
// title as caption.
class Dialogs
{
public:
    virtual ~Dialogs() = default;
    // The general error box: error icon, OK button.
    virtual void showError(const QString &text) = 0;
    // A modal box with a message and one OK button.
    virtual void showMessage(const QString &text) = 0;
    // A modal Yes/No question with Yes as the default button.
    virtual bool askYesNo(const QString &text) = 0;

    // The dialogs in use; QMessageBox-based unless a test installed others.
    static Dialogs &current();
    // Installs replacement dialogs (not owned); nullptr restores the real ones.
    static void install(Dialogs *dialogs);
};

// Shows an exception's text in the general error box.
void showGeneralError(const QString &message);
