// The facts read of a target carry the same attribute bits as the folder
// search shows.

#include "support/TempDrives.h"

#include "platform/FolderSearch.h"
#include "platform/WinTypes.h"
#include "shell/FileFacts.h"

#include <gtest/gtest.h>

#include <utility>

#include <sys/stat.h>

namespace {

TEST(FileFacts, AttributesAgreeWithTheSearch)
{
    TempDrives drives;
    const std::pair<QString, mode_t> entries[] = {
        {QStringLiteral("plain.exe"), 0644}, {QStringLiteral("locked.exe"), 0444},
        {QStringLiteral("group.exe"), 0464}, {QStringLiteral(".dot.exe"), 0400},
        {QStringLiteral("shut"), 0555},
    };
    for (const auto &[name, mode] : entries) {
        SCOPED_TRACE(name.toStdString());
        if (name.endsWith(QLatin1String(".exe")))
            drives.writeFile(name, "x");
        else
            drives.makeFolder(name);
        ASSERT_EQ(::chmod(drives.posix(name), mode), 0);
        FileFacts facts;
        ASSERT_EQ(readFacts(drives.posix(name), facts), FactsStatus::Found);
        EXPECT_EQ(facts.attributes, getFileAttributesPosix(*drives.context(), drives.posix(name)));
        EXPECT_EQ(bool(facts.attributes & win::FILE_ATTRIBUTE_READONLY), (mode & 0222) == 0);
    }
    ASSERT_EQ(::chmod(drives.posix(QStringLiteral("shut")), 0755), 0);
}

} // namespace
