#include "app/Dialogs.h"
#include "app/LinkmendApplication.h"
#include "app/TForm2.h"
#include "cli/CommandLineMain.h"
#include "drives/DriveComboBox.h"
#include "platform/DriveContext.h"

#include <exception>

int main(int argc, char **argv)
{
    // With a command the program works in the terminal and needs no display;
    // without one it is the window.
    if (wantsCommandLine(argc, argv))
        return runCommandLine(argc, argv);

    LinkmendApplication app(argc, argv);
    loadProgramFonts();
    // The drives of this machine (the Wine prefix of the environment, else
    // the built-in rules), for every part of the window.
    TForm2 Form2(nullptr, DriveContext::load());
    // An error in a creation step ends creation there; the window still opens.
    try {
        Form2.FormCreate();
    } catch (const std::exception &error) {
        showGeneralError(QString::fromUtf8(error.what()));
    }
    // The drive selector gets its window: it lists the drives and selects the
    // start-up drive, which sets SelectedDrive before the user can act.
    Form2.DriveComboBox1->createWindow();
    Form2.show();
    app.exec();
    return 0;
}
