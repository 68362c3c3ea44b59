#pragma once

#include <QApplication>

// The application object. Every event handler runs inside notify(), so an
// exception that escapes a handler ends up here: it is shown in the general
// error box and the program goes on.
class LinkmendApplication : public QApplication
{
public:
    LinkmendApplication(int &argc, char **argv);
    bool notify(QObject *receiver, QEvent *event) override;

    // What notify() does, on any application object: delivers the event
    // and shows an error that escapes its handler in the general error box.
    static bool notifyGuarded(QApplication &application, QObject *receiver, QEvent *event);
};

// Loads the Tahoma face that Debian's fonts-wine package ships but does not
// register with fontconfig, with the line metrics Windows gives it (see
// WindowsLineMetrics.h); without it the closest sans face is used.
void loadProgramFonts();
