#include "app/LinkmendApplication.h"

#include "app/Dialogs.h"
#include "app/ErrorText.h"
#include "app/WindowsLineMetrics.h"
#include "resources/Resources.h"

#include <QFile>
#include <QFontDatabase>
#include <QIcon>
#include <QPixmap>

#include <exception>

namespace {

// The program's icon at every size it carries, for the window managers and
// task bars that take it from the window (_NET_WM_ICON on X11).
QIcon programIcon()
{
    QIcon icon;
    for (const char *name : {"ICON_16", "ICON_32", "ICON_48", "ICON_64", "ICON_128", "ICON"}) {
        QPixmap picture;
        if (Resources::contains(QLatin1String(name)) &&
            picture.loadFromData(Resources::data(QLatin1String(name)), "PNG"))
            icon.addPixmap(picture);
    }
    return icon;
}

} // namespace

LinkmendApplication::LinkmendApplication(int &argc, char **argv) : QApplication(argc, argv)
{
    setApplicationName(QStringLiteral("Linkmend"));
    setApplicationVersion(QStringLiteral("1.0.0.0"));
    setOrganizationName(QStringLiteral("Tessivane"));
    // The desktop matches the window to its desktop entry by the desktop
    // file name (Wayland) or by the class part of WM_CLASS (X11), which Qt
    // takes from the application name: "Linkmend", the entry's
    // StartupWMClass, whatever name the program was started by.
    setDesktopFileName(QStringLiteral(LINKMEND_APP_ID));
    setWindowIcon(programIcon());
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
