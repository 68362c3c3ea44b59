// Looking at targets on a place that may not answer.

#include "support/TempDrives.h"

#include "shell/FileFacts.h"
#include "shell/SearchBudget.h"
#include "shell/TargetLook.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

TEST(TargetLook, LookOnASlowPlaceThatFailsOrAnswers)
{
    TempDrives drives;
    TargetLook look(drives.context());
    bool fail = true;
    look.setHooks(
        [&fail](const QString &, FileFacts &facts) {
            if (fail)
                throw std::runtime_error("no answer");
            facts.size = 42;
            return FactsStatus::Found;
        },
        [](const QString &) { return std::optional<QByteArray>("\\\\server\\share"); });

    // A look that throws cannot say anything of the target; it leaves
    // nothing behind that would keep later looks at the place from running.
    SearchBudget budget(60000);
    FileFacts facts;
    EXPECT_EQ(look.look(QStringLiteral("\\\\server\\share\\a.exe"), facts, budget), std::nullopt);
    EXPECT_EQ(look.hangingLooks(), 0);

    fail = false;
    EXPECT_EQ(look.look(QStringLiteral("\\\\server\\share\\a.exe"), facts, budget), FactsStatus::Found);
    EXPECT_EQ(facts.size, 42u);
}

} // namespace
