// File names travel from the disk into the program's Windows-form text and
// back: every name the program takes must give back its own bytes.

#include "support/TempDrives.h"

#include "platform/FolderSearch.h"
#include "platform/PosixPath.h"
#include "platform/WinPath.h"

#include <QSet>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

namespace {

TEST(NameRoundTrip, EveryNameTheSearchYieldsGivesBackItsOwnBytes)
{
    TempDrives drives;
    // A leading byte-order mark, the same name without it in another case,
    // two names differing only by case, a mark inside a name, and bytes that
    // are not UTF-8 (passed over: they cannot be shown in Windows form).
    const QList<QByteArray> names = {"\xEF\xBB\xBF"
                                     "a.lnk",
                                     "A.lnk",
                                     "b.lnk",
                                     "B.lnk",
                                     "x\xEF\xBB\xBF.lnk",
                                     "\xEF\xBB\xBF\xEF\xBB\xBF"
                                     "c.lnk",
                                     "\xFF.lnk"};
    for (const QByteArray &name : names) {
        const int fd = ::open((drives.root() + '/' + name).constData(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        ::close(fd);
    }

    FolderSearch search(*drives.context(), drives.root(), QStringLiteral("*.lnk"));
    QSet<QByteArray> yielded;
    for (FindData entry; search.next(entry); entry = FindData{}) {
        const QByteArray bytes = entry.name.toUtf8();
        EXPECT_TRUE(names.contains(bytes)) << bytes.toHex().constData();
        EXPECT_FALSE(yielded.contains(bytes)) << "yielded twice: " << bytes.toHex().constData();
        yielded.insert(bytes);
        // Through the Windows form and back to the same file.
        const QString win = drives.win(entry.name);
        EXPECT_EQ(WinPath::toPosix(win, *drives.context()), drives.root() + '/' + bytes);
        EXPECT_EQ(WinPath::toWindows(drives.root() + '/' + bytes, *drives.context()), win);
    }
    EXPECT_EQ(yielded.size(), names.size() - 1); // all but the one that is not UTF-8
    EXPECT_FALSE(yielded.contains("\xFF.lnk"));

    // The case-insensitive lookup tells a marked name from an unmarked one.
    // (QString::fromUtf16 would drop the mark too: the text is built here.)
    const QString mark(QChar(0xFEFF));
    EXPECT_EQ(posix::findEntryNoCase(drives.root(), (mark + QStringLiteral("A.LNK")).toCaseFolded()),
              QByteArray("\xEF\xBB\xBF"
                         "a.lnk"));
    EXPECT_EQ(posix::decodeName("\xEF\xBB\xBF"
                                "a",
                                4),
              QString(mark).append(QLatin1Char('a')));
}

} // namespace
