#include "app/Dialogs.h"
#include "app/LinkmendApplication.h"
#include "app/TForm2.h"

#include <exception>

int main(int argc, char **argv)
{
    LinkmendApplication app(argc, argv);
    loadProgramFonts();
    TForm2 Form2;
    // An error in a creation step ends creation there; the window still opens.
    try {
        Form2.FormCreate();
    } catch (const std::exception &error) {
        showGeneralError(QString::fromUtf8(error.what()));
    }
    Form2.show();
    app.exec();
    return 0;
}
