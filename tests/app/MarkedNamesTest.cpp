// Names that Qt's text conversions like to tidy up: a leading byte-order
// mark (U+FEFF), which QString::fromUtf8 drops, names differing only by
// case, and bytes that are not UTF-8. Each shortcut is its own entry, each
// folder is walked once, and Delete moves exactly the file that was listed.

#include "FakeScanHost.h"

#include "app/WindowScan.h"
#include "lnk/LnkFile.h"
#include "platform/PosixPath.h"
#include "scan/ShortcutScan.h"
#include "shell/ShellLinkService.h"
#include "shell/ShellTestKit.h"
#include "support/TempDrives.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QByteArray kMark = "\xEF\xBB\xBF";

TEST(MarkedNamesTest, EveryNameIsItsOwnEntryAndDeleteTakesExactlyIt)
{
    const QByteArray trash = TrashSandbox::emptyTrash();
    TempDrives drives(QStringLiteral("cd"));
    // Broken: its target is on the empty drive d:.
    LnkTargetInfo info;
    info.winPath = QStringLiteral("D:\\Gone\\missing.exe");
    info.attributes = 0x20;
    const QByteArray link = std::get<LnkFile>(LnkFile::create(info, QStringLiteral("c:\\x.lnk"))).serialize();
    const QByteArray root = drives.root();
    const auto write = [&](const QByteArray &relative) {
        const int fd = ::open((root + '/' + relative).constData(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0) << relative.constData();
        ASSERT_EQ(::write(fd, link.constData(), size_t(link.size())), link.size());
        ::close(fd);
    };
    for (const QByteArray &folder :
         {QByteArray("dir"), kMark + "skipped", kMark + "twice", QByteArray("twice")})
        ASSERT_EQ(::mkdir((root + '/' + folder).constData(), 0755), 0);
    const QList<QByteArray> listed = {
        "dir/" + kMark + "a.lnk", "dir/A.lnk",           "dir/b.lnk",  "dir/B.lnk",
        kMark + "skipped/x.lnk",  kMark + "twice/x.lnk", "twice/x.lnk"};
    for (const QByteArray &name : listed)
        write(name);
    write("dir/\xFF.lnk"); // cannot be named in Windows form: passed over

    FakeScanHost host;
    ShellLinkService service{drives.context()};
    ScanResults results;
    results.SelectedDrive = QStringLiteral("c");
    ShortcutScan walker(service, drives.context());
    WindowScan scan(host, results, walker);
    scan.ScanShortcuts();

    QStringList expected;
    for (const QByteArray &name : listed)
        expected << QStringLiteral("c:\\") +
                        posix::decodeName(name.constData(), name.size()).replace('/', '\\');
    QStringList found = host.checkList;
    std::sort(expected.begin(), expected.end());
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, expected);
    for (const QString &entry : std::as_const(found))
        EXPECT_EQ(found.count(entry), 1) << entry.toStdString();

    // Delete the marked "a.lnk": exactly that file goes, "A.lnk" stays.
    FakeShellUi ui;
    const std::unique_ptr<ShellServices> shell = ShellServices::create(ui, drives.context());
    const QString marked = QStringLiteral("c:\\dir\\") + QChar(0xFEFF) + QStringLiteral("a.lnk");
    ASSERT_TRUE(host.checkList.contains(marked));
    const TrashResult result = shell->deleteToTrash({marked});
    EXPECT_EQ(result.moved, QStringList{marked});
    struct stat st;
    EXPECT_NE(::lstat((root + "/dir/" + kMark + "a.lnk").constData(), &st), 0);
    EXPECT_EQ(::lstat((root + "/dir/A.lnk").constData(), &st), 0);
    const QList<TrashedFile> trashed = trashContents(trash);
    ASSERT_EQ(trashed.size(), 1);
    EXPECT_EQ(trashed.first().originalPath, root + "/dir/" + kMark + "a.lnk");
}

} // namespace
