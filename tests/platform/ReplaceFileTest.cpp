// Replacing a whole file through a temporary file beside it.

#include "support/TempDrives.h"

#include "platform/ReplaceFile.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>

namespace {

TEST(ReplaceFile, LongNamesAndFailuresLeaveNoTemporaryFile)
{
    TempDrives drives;
    drives.makeFolder(QStringLiteral("box"));
    const QByteArray box = drives.posix(QStringLiteral("box"));
    // A name as long as the system takes: the temporary name beside it must
    // still fit.
    const QByteArray longName = box + '/' + QByteArray(NAME_MAX - 4, 'n') + ".lnk";
    EXPECT_EQ(posix::replaceFile(longName, "old"), 0);
    EXPECT_EQ(posix::replaceFile(longName, "new", 0600), 0);
    QFile file(QFile::decodeName(longName));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("new"));

    // A folder in its place cannot be replaced; nothing is left beside it.
    drives.makeFolder(QStringLiteral("box/taken"));
    EXPECT_EQ(posix::replaceFile(box + "/taken", "x"), EISDIR);
    EXPECT_EQ(posix::replaceFile(box + "/missing/x", "x"), ENOENT);
    EXPECT_EQ(
        QDir(QFile::decodeName(box)).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).size(),
        2);
}

} // namespace
