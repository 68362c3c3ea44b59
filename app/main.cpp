#include "app/Dialogs.h"
#include "app/LinkmendApplication.h"
#include "app/TForm2.h"
#include "cli/CommandLineMain.h"
#include "drives/DriveComboBox.h"
#include "platform/DriveContext.h"

#include <exception>
#include <optional>

int main(int argc, char **argv)
{
    // With a command the program works in the terminal and needs no display;
    // without one it is the window.
    if (wantsCommandLine(argc, argv))
        return runCommandLine(argc, argv);
    // Without a display the window cannot open: say how to use the command
    // line instead of letting the toolkit abort.
    if (!displayAvailable(argc, argv))
        return runWithoutDisplay();

    LinkmendApplication app(argc, argv);
    loadProgramFonts();
    // Building the window can fail (no memory, a resource that cannot be
    // read): that is reported like any other error, and the program ends.
    // Its parts share the drives of this machine (the Wine prefix of the
    // environment, else the built-in rules).
    std::optional<TForm2> Form2;
    try {
        Form2.emplace(nullptr, DriveContext::load());
    } catch (const std::exception &error) {
        showGeneralError(QString::fromUtf8(error.what()));
        return 1;
    }
    // An error in a creation step ends creation there; the window still opens.
    try {
        Form2->FormCreate();
    } catch (const std::exception &error) {
        showGeneralError(QString::fromUtf8(error.what()));
    }
    // The drive selector gets its window: it lists the drives and selects the
    // start-up drive, which sets SelectedDrive before the user can act.
    Form2->DriveComboBox1->createWindow();
    Form2->show();
    return app.exec();
}
