// The one rule that turns what stat() says into Windows attribute bits, and
// the places that show those bits agreeing with it on a real disk.

#include "support/TempDrives.h"

#include "platform/FileAttributes.h"
#include "platform/FolderSearch.h"
#include "platform/WinTypes.h"

#include <QFile>
#include <QMap>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace win;

namespace {

TEST(FileAttributes, OneRuleForModeAndName)
{
    struct Row
    {
        mode_t mode;
        const char *name;
        quint32 bits;
    };
    const Row rows[] = {
        {S_IFREG | 0644, "a.lnk", FILE_ATTRIBUTE_ARCHIVE},
        // READONLY only when nobody has a write bit; any one of the three
        // keeps the file writable in the Windows sense.
        {S_IFREG | 0444, "a.lnk", FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY},
        {S_IFREG | 0000, "a.lnk", FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY},
        {S_IFREG | 0200, "a.lnk", FILE_ATTRIBUTE_ARCHIVE},
        {S_IFREG | 0464, "a.lnk", FILE_ATTRIBUTE_ARCHIVE},
        {S_IFREG | 0446, "a.lnk", FILE_ATTRIBUTE_ARCHIVE},
        // Set-id and sticky bits are no write bits.
        {S_IFREG | 07555, "a.lnk", FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY},
        {S_IFDIR | 0755, "dir", FILE_ATTRIBUTE_DIRECTORY},
        {S_IFDIR | 0555, "dir", FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY},
        // Everything that is not a folder is marked as a plain file.
        {S_IFIFO | 0644, "pipe", FILE_ATTRIBUTE_ARCHIVE},
        {S_IFCHR | 0444, "dev", FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY},
        // Dot names are hidden, the folder's own "." and ".." are not.
        {S_IFREG | 0644, ".a.lnk", FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN},
        {S_IFDIR | 0555, ".config",
         FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY},
        {S_IFDIR | 0755, ".", FILE_ATTRIBUTE_DIRECTORY},
        {S_IFDIR | 0755, "..", FILE_ATTRIBUTE_DIRECTORY},
        {S_IFREG | 0644, "...", FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN},
        {S_IFREG | 0644, "a.", FILE_ATTRIBUTE_ARCHIVE},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(testing::Message() << std::oct << row.mode << ' ' << row.name);
        EXPECT_EQ(FileAttributes::of(row.mode, row.name), row.bits);
    }
}

// The search (with and without READONLY) and the attribute query show the
// same bits for the same entries, whoever runs them: the bit is the file's,
// not the caller's, so root sees it as well.
TEST(FileAttributes, SearchAndQueryAgreeOnDisk)
{
    TempDrives drives;
    drives.writeFile(QStringLiteral("box/plain.lnk"), "x");
    drives.writeFile(QStringLiteral("box/locked.lnk"), "x");
    drives.writeFile(QStringLiteral("box/group.lnk"), "x");
    drives.writeFile(QStringLiteral("box/.hidden.lnk"), "x");
    drives.makeFolder(QStringLiteral("box/shut"));
    const QByteArray box = drives.posix(QStringLiteral("box"));
    ASSERT_EQ(::chmod(box + "/locked.lnk", 0444), 0);
    ASSERT_EQ(::chmod(box + "/group.lnk", 0464), 0);
    ASSERT_EQ(::chmod(box + "/.hidden.lnk", 0400), 0);
    ASSERT_EQ(::chmod(box + "/shut", 0555), 0);
    ASSERT_EQ(::symlink("locked.lnk", box + "/to-locked.lnk"), 0);

    const QMap<QString, quint32> expected = {
        {QStringLiteral("plain.lnk"), FILE_ATTRIBUTE_ARCHIVE},
        {QStringLiteral("locked.lnk"), FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY},
        {QStringLiteral("group.lnk"), FILE_ATTRIBUTE_ARCHIVE},
        {QStringLiteral(".hidden.lnk"),
         FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY},
        {QStringLiteral("shut"), FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY},
        // Through the link to the file it leads to.
        {QStringLiteral("to-locked.lnk"),
         FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_REPARSE_POINT},
    };
    for (const auto which : {FolderSearch::Attributes::All, FolderSearch::Attributes::WithoutReadOnly}) {
        const quint32 mask = which == FolderSearch::Attributes::All ? ~0u : ~FILE_ATTRIBUTE_READONLY;
        QMap<QString, quint32> searched;
        FolderSearch search(*drives.context(), box, QStringLiteral("*"), which);
        FindData entry;
        while (search.next(entry)) {
            if (entry.name != QLatin1String(".") && entry.name != QLatin1String(".."))
                searched.insert(entry.name, entry.attributes);
        }
        for (auto it = expected.begin(); it != expected.end(); ++it) {
            SCOPED_TRACE(it.key().toStdString() + (mask == ~0u ? " all" : " without READONLY"));
            EXPECT_EQ(searched.value(it.key()), it.value() & mask);
            EXPECT_EQ(getFileAttributesPosix(*drives.context(), box + '/' + QFile::encodeName(it.key()),
                                             nullptr, which),
                      it.value() & mask);
        }
    }

    // "." of a folder nobody may write carries the bit as well.
    FolderSearch inside(*drives.context(), box + "/shut", QStringLiteral("."));
    FindData dot;
    ASSERT_TRUE(inside.next(dot));
    EXPECT_EQ(dot.attributes, FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY);
    ASSERT_EQ(::chmod(box + "/shut", 0755), 0);
}

} // namespace
