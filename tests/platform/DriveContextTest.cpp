// The drive context: maps and mount tables handed to the parts that use them.

#include "support/TempDrives.h"

#include "platform/DriveContext.h"
#include "platform/FolderSearch.h"
#include "platform/MountTable.h"
#include "platform/SystemFolders.h"
#include "platform/WinPath.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

// Two machines in one process: each context translates, searches and
// reloads by its own map only.
TEST(DriveContext, TwoContextsInOneProcessDoNotSeeEachOther)
{
    TempDrives first(QStringLiteral("c"));
    TempDrives second(QStringLiteral("c"));
    first.writeFile(QStringLiteral("only-here.lnk"), "x");
    const DriveContext &one = *first.context();
    const DriveContext &two = *second.context();

    EXPECT_EQ(WinPath::toPosix(QStringLiteral("c:\\only-here.lnk"), one),
              first.posix(QStringLiteral("only-here.lnk")));
    EXPECT_EQ(WinPath::toPosix(QStringLiteral("c:\\only-here.lnk"), two),
              second.posix(QStringLiteral("only-here.lnk")));
    FolderSearch inFirst(one, QStringLiteral("c:\\*.lnk"));
    FolderSearch inSecond(two, QStringLiteral("c:\\*.lnk"));
    FindData entry;
    EXPECT_TRUE(inFirst.next(entry));
    EXPECT_FALSE(inSecond.next(entry));
    EXPECT_EQ(getFileAttributes(two, QStringLiteral("c:\\only-here.lnk")), win::INVALID_FILE_ATTRIBUTES);

    second.mapLetter(QLatin1Char('e'), first.root());
    EXPECT_EQ(two.map()->folder(QLatin1Char('e')), first.root());
    EXPECT_FALSE(one.map()->folder(QLatin1Char('e')).has_value());
}

// A reader keeps the map it took while another replaces it; what is derived
// from the map follows the replacement.
TEST(DriveContext, SnapshotsStayWholeWhenTheMapIsReplaced)
{
    TempDrives drives(QStringLiteral("c"));
    drives.makeFolder(QStringLiteral("inner"));
    DriveContext &context = *drives.context();
    const std::shared_ptr<const DriveMap> before = context.map();
    const QByteArray inner = drives.posix(QStringLiteral("inner"));
    struct stat st;
    ASSERT_EQ(::stat(inner.constData(), &st), 0);
    EXPECT_FALSE(context.systemFolders()->isSystem(st, true));

    DriveMap replaced = *before;
    replaced.insert(QLatin1Char('e'), inner);
    context.setMap(replaced);

    EXPECT_EQ(before->letters(), QList<QChar>{QLatin1Char('c')});
    EXPECT_EQ(context.map()->letters(), (QList<QChar>{QLatin1Char('c'), QLatin1Char('e')}));
    EXPECT_TRUE(context.systemFolders()->isSystem(st, true)); // now a drive's root
    EXPECT_EQ(WinPath::toWindows(inner + "/x.lnk", context), QStringLiteral("e:\\x.lnk"));
}

// Network paths are looked up in the context's own mount table.
TEST(DriveContext, SharesAreLookedUpInTheContextsMounts)
{
    TempDrives drives(QStringLiteral("c"));
    drives.writeFile(QStringLiteral("net/docs/a.txt"), "x");
    const QByteArray share = drives.posix(QStringLiteral("net/docs"));
    const DriveContext withShare(
        *drives.context()->map(),
        std::make_shared<const MountSource>(MountTable::parse(
            "1 0 8:2 / / rw - ext4 /dev/sda2 rw\n2 1 0:50 / " + share + " rw - cifs //server/docs rw\n")));
    const QString unc = QStringLiteral("\\\\SERVER\\Docs\\A.TXT");
    EXPECT_EQ(WinPath::toPosix(unc, withShare), share + "/a.txt");
    quint32 error = 0;
    EXPECT_FALSE(WinPath::toPosix(unc, *drives.context(), &error).has_value());
    EXPECT_EQ(error, win::ERROR_PATH_NOT_FOUND);
}

} // namespace
