#include "app/LinkmendApplication.h"

#include "app/Dialogs.h"
#include "app/ErrorText.h"
#include "app/WindowsLineMetrics.h"

#include <QFile>
#include <QFontDatabase>

#include <exception>

LinkmendApplication::LinkmendApplication(int &argc, char **argv) : QApplication(argc, argv)
{
    setApplicationName(QStringLiteral("Linkmend"));
    setApplicationVersion(QStringLiteral("1.0.0.0"));
    setOrganizationName(QStringLiteral("Tessivane"));
    // The title is not set by the program: it follows the program file's
    // name. That is the file itself, not the name of a link that started it
    // (the package's lower-case "linkmend"), when the system can tell.
    const QString programFile = applicationFilePath();
    setApplicationTitle(
        applicationTitleFrom(programFile.isEmpty() ? QString::fromLocal8Bit(argv[0]) : programFile));
    setQuitOnLastWindowClosed(true);
}

bool LinkmendApplication::notify(QObject *receiver, QEvent *event)
{
    return notifyGuarded(*this, receiver, event);
}

bool LinkmendApplication::notifyGuarded(QApplication &application, QObject *receiver, QEvent *event)
{
    try {
        return application.QApplication::notify(receiver, event);
    } catch (const std::exception &error) {
        showGeneralError(QString::fromUtf8(error.what()));
    } catch (...) {
        showGeneralError(QStringLiteral("Unknown error"));
    }
    return false;
}

void loadProgramFonts()
{
    static bool loaded = false;
    if (loaded)
        return;
    loaded = true;
    QFile tahoma(QStringLiteral("/usr/share/wine/fonts/tahoma.ttf"));
    if (!tahoma.open(QIODevice::ReadOnly))
        return;
    const QByteArray face = tahoma.readAll();
    // The face with the text cell Windows gives it; as it is when that
    // cannot be had.
    const std::optional<QByteArray> windowsCell = withWindowsLineMetrics(face);
    if (!windowsCell || QFontDatabase::addApplicationFontFromData(*windowsCell) < 0)
        QFontDatabase::addApplicationFontFromData(face);
}
