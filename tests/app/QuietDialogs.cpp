#include "QuietDialogs.h"

#include "app/LinkmendApplication.h"

#include <gtest/gtest.h>

namespace {

RecordingDialogs &quiet()
{
    static RecordingDialogs dialogs;
    return dialogs;
}

class QuietDialogsEnvironment : public ::testing::Environment
{
public:
    void SetUp() override
    {
        // The window's own face, as the program loads it at start-up.
        loadProgramFonts();
        restoreQuietDialogs();
    }
};

const auto *const g_environment = ::testing::AddGlobalTestEnvironment(new QuietDialogsEnvironment);

} // namespace

void restoreQuietDialogs()
{
    quiet().answer = false; // declines anything a test did not expect
    Dialogs::install(&quiet());
}
