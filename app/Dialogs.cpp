#include "app/Dialogs.h"

#include "app/ErrorText.h"

#include <QApplication>
#include <QMessageBox>

namespace {

class MessageBoxDialogs : public Dialogs
{
public:
    void showError(const QString &text) override
    {
        QMessageBox box(QMessageBox::Critical, applicationTitle(), text, QMessageBox::Ok,
                        QApplication::activeWindow());
        box.exec();
    }

    void showMessage(const QString &text) override
    {
        QMessageBox box(QMessageBox::NoIcon, applicationTitle(), text, QMessageBox::Ok,
                        QApplication::activeWindow());
        box.exec();
    }

    bool askYesNo(const QString &text) override
    {
        QMessageBox box(QMessageBox::Question, applicationTitle(), text, QMessageBox::Yes | QMessageBox::No,
                        QApplication::activeWindow());
        box.setDefaultButton(QMessageBox::Yes);
        return box.exec() == QMessageBox::Yes;
    }
};

Dialogs *g_installed = nullptr;

} // namespace

Dialogs &Dialogs::current()
{
    static MessageBoxDialogs real;
    return g_installed ? *g_installed : real;
}

void Dialogs::install(Dialogs *dialogs)
{
    g_installed = dialogs;
}

void showGeneralError(const QString &message)
{
    Dialogs::current().showError(errorBoxText(message));
}
