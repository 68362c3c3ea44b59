// Folder search, attribute bits and queries, identities and the walk guard.

#include "support/TempDrives.h"

#include "platform/DriveContext.h"
#include "platform/DriveMap.h"
#include "platform/FileClock.h"
#include "platform/FileIdentity.h"
#include "platform/FolderListing.h"
#include "platform/FolderSearch.h"
#include "platform/MountTable.h"
#include "platform/WalkGuard.h"
#include "platform/WinTypes.h"

#include <QMap>

#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace win;

namespace {

// Every entry a search yields, in order.
QList<FindData> collect(FolderSearch &search)
{
    QList<FindData> entries;
    FindData entry;
    while (search.next(entry))
        entries.append(entry);
    return entries;
}

QMap<QString, quint32> byName(const QList<FindData> &entries)
{
    QMap<QString, quint32> map;
    for (const FindData &entry : entries)
        map.insert(entry.name, entry.attributes);
    return map;
}

QMap<QString, EntryType> kindByName(const QList<FindData> &entries)
{
    QMap<QString, EntryType> map;
    for (const FindData &entry : entries)
        map.insert(entry.name, entry.kind);
    return map;
}

QStringList names(const QList<FindData> &entries)
{
    QStringList list;
    for (const FindData &entry : entries)
        list.append(entry.name);
    return list;
}

void touch(const QByteArray &path)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0) << path.toHex().constData();
    ::close(fd);
}

} // namespace

TEST(FolderSearch, MatchesWithoutRegardToCaseAndYieldsDotsFirst)
{
    TempDrives drives;
    for (const char *name : {"OLD.LNK", "new.lnk", "notes.txt", "notes.lnkx", "README", "Ärger.Lnk"})
        drives.writeFile(QString::fromUtf8(name), "x");
    drives.makeFolder(QStringLiteral("Folder.lnk"));

    FolderSearch lnk(*drives.context(), drives.posix(QString()), QStringLiteral("*.lnk"));
    ASSERT_TRUE(lnk.isOpen());
    QStringList found = names(collect(lnk));
    found.sort();
    EXPECT_EQ(found, (QStringList{"Folder.lnk", "OLD.LNK", "new.lnk", "Ärger.Lnk"}));

    FolderSearch all(*drives.context(), drives.posix(QString()), QStringLiteral("*.*"));
    const QStringList every = names(collect(all));
    ASSERT_EQ(every.size(), 9);
    EXPECT_EQ(every.at(0), QStringLiteral("."));
    EXPECT_EQ(every.at(1), QStringLiteral(".."));
    EXPECT_TRUE(every.contains(QStringLiteral("README"))); // "*.*" also matches names without a dot

    FolderSearch one(*drives.context(), drives.win(QStringLiteral("?EW.lNk")));
    EXPECT_EQ(names(collect(one)), QStringList{QStringLiteral("new.lnk")});

    FolderSearch none(*drives.context(), drives.posix(QString()), QStringLiteral("*.exe"));
    EXPECT_TRUE(none.isOpen());
    FindData entry;
    EXPECT_FALSE(none.next(entry));
    EXPECT_FALSE(none.next(entry));
    EXPECT_EQ(none.error(), ERROR_FILE_NOT_FOUND);
}

// A pattern of "*" and a tail is decided from a name's last bytes where
// they are plain ASCII, and by folding the whole name where they are not:
// the Kelvin sign folds to k, so "x.ln\u212A" is a shortcut's name too.
TEST(FolderSearch, TailPatternsMatchAsFoldedNamesDo)
{
    TempDrives drives;
    for (const char *name : {"\xe6\x97\xa5\xe6\x9c\xac.LNK", "x.ln\xe2\x84\xaa", ".lnk", "lnk", "nk",
                             "\xc3\xa9.lnk\xc3\xa9", "a.lnk.bak", "b.LnK"})
        drives.writeFile(QString::fromUtf8(name), "x");
    FolderSearch lnk(*drives.context(), drives.posix(QString()), QStringLiteral("*.LNK"));
    QStringList found = names(collect(lnk));
    found.sort();
    QStringList expected{QString::fromUtf8("\xe6\x97\xa5\xe6\x9c\xac.LNK"),
                         QString::fromUtf8("x.ln\xe2\x84\xaa"), QStringLiteral(".lnk"),
                         QStringLiteral("b.LnK")};
    expected.sort();
    EXPECT_EQ(found, expected);

    // A tail that is not plain ASCII is matched on the folded name.
    drives.writeFile(QString::fromUtf8("c.\xc3\x84rg"), "x");
    FolderSearch other(*drives.context(), drives.posix(QString()), QString::fromUtf8("*.\xc3\xa4RG"));
    EXPECT_EQ(names(collect(other)), QStringList{QString::fromUtf8("c.\xc3\x84rg")});
}

TEST(FolderSearch, PatternMatching)
{
    EXPECT_TRUE(matchesPattern(QStringLiteral("Old.LNK"), QStringLiteral("*.lnk")));
    EXPECT_FALSE(matchesPattern(QStringLiteral("old.lnkx"), QStringLiteral("*.lnk")));
    EXPECT_FALSE(matchesPattern(QStringLiteral("old.lnk.bak"), QStringLiteral("*.lnk")));
    EXPECT_TRUE(matchesPattern(QStringLiteral(".lnk"), QStringLiteral("*.lnk")));
    EXPECT_TRUE(matchesPattern(QStringLiteral("a.b.lnk"), QStringLiteral("*.lnk")));
    EXPECT_TRUE(matchesPattern(QStringLiteral("abcbc"), QStringLiteral("a*bc")));
    EXPECT_TRUE(matchesPattern(QStringLiteral("x"), QStringLiteral("?")));
    EXPECT_FALSE(matchesPattern(QString(), QStringLiteral("?")));
    EXPECT_TRUE(matchesPattern(QString::fromUtf8("\xf0\x9f\x98\x80"), QStringLiteral("?"))); // one character
    EXPECT_TRUE(matchesPattern(QStringLiteral("notes"), QStringLiteral("*.*")));
    EXPECT_TRUE(matchesPattern(QStringLiteral("setup"), QStringLiteral("setup.*")));
    EXPECT_FALSE(matchesPattern(QStringLiteral("setups"), QStringLiteral("setup.*")));
    EXPECT_TRUE(matchesPattern(QStringLiteral("ÄRGER.TXT"), QStringLiteral("ärger.*")));
    EXPECT_TRUE(matchesPattern(QStringLiteral("file.txt"), QStringLiteral("FILE.TXT")));
    EXPECT_FALSE(matchesPattern(QStringLiteral("file.txt"), QString()));
}

TEST(FolderSearch, AttributeBits)
{
    TempDrives drives(QStringLiteral("cd"));
    drives.writeFile(QStringLiteral("plain.lnk"), "x");
    drives.writeFile(QStringLiteral(".hidden.lnk"), "x");
    drives.makeFolder(QStringLiteral("folder"));
    drives.makeFolder(QStringLiteral(".config"));
    drives.makeFolder(QStringLiteral("mnt/other"));
    const QByteArray root = drives.root();
    ASSERT_EQ(::symlink(root + "/folder", root + "/to-folder"), 0);
    ASSERT_EQ(::symlink(root + "/plain.lnk", root + "/to-file.lnk"), 0);
    ASSERT_EQ(::symlink(root + "/gone", root + "/dangling.lnk"), 0);
    ASSERT_EQ(::symlink(drives.root(u'd'), root + "/to-d"), 0);
    ASSERT_EQ(::mkfifo((root + "/pipe.lnk").constData(), 0644), 0);
    drives.mapLetter(u'e', root + "/mnt/other"); // a drive inside c:

    FolderSearch search(*drives.context(), drives.win(QStringLiteral("*")),
                        FolderSearch::Attributes::WithoutReadOnly);
    const QList<FindData> entries = collect(search);
    const QMap<QString, quint32> bits = byName(entries);
    EXPECT_EQ(bits.value(QStringLiteral(".")), FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(bits.value(QStringLiteral("..")), FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(bits.value(QStringLiteral("plain.lnk")), FILE_ATTRIBUTE_ARCHIVE);
    EXPECT_EQ(bits.value(QStringLiteral(".hidden.lnk")), FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(bits.value(QStringLiteral("folder")), FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(bits.value(QStringLiteral(".config")), FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(bits.value(QStringLiteral("to-folder")),
              FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT);
    EXPECT_EQ(bits.value(QStringLiteral("to-file.lnk")),
              FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_REPARSE_POINT);
    EXPECT_EQ(bits.value(QStringLiteral("dangling.lnk")),
              FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_REPARSE_POINT);
    // Roots of other drives, directly or through a link, are system folders.
    EXPECT_EQ(bits.value(QStringLiteral("to-d")),
              FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_SYSTEM);
    EXPECT_EQ(bits.value(QStringLiteral("pipe.lnk")), FILE_ATTRIBUTE_ARCHIVE);

    // Links are followed: only regular files, directly or through a link,
    // are marked as files, and only folders as folders.
    const QMap<QString, EntryType> kinds = kindByName(entries);
    EXPECT_EQ(kinds.value(QStringLiteral("plain.lnk")), EntryType::File);
    EXPECT_EQ(kinds.value(QStringLiteral("to-file.lnk")), EntryType::File);
    EXPECT_EQ(kinds.value(QStringLiteral("pipe.lnk")), EntryType::Other);
    EXPECT_EQ(kinds.value(QStringLiteral("folder")), EntryType::Folder);
    EXPECT_EQ(kinds.value(QStringLiteral("to-folder")), EntryType::Folder);
    EXPECT_EQ(kinds.value(QStringLiteral("..")), EntryType::Folder);
    EXPECT_NE(kinds.value(QStringLiteral("dangling.lnk")), EntryType::File);

    FolderSearch inner(*drives.context(), drives.win(QStringLiteral("mnt\\*")));
    EXPECT_EQ(byName(collect(inner)).value(QStringLiteral("other")),
              FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_SYSTEM);
}

TEST(FolderSearch, ReadOnlyOnlyWhenAsked)
{
    // The bit is the file's own: root, who may write everything, sees it too.
    TempDrives drives;
    drives.writeFile(QStringLiteral("locked.lnk"), "x");
    ASSERT_EQ(::chmod(drives.posix(QStringLiteral("locked.lnk")).constData(), 0444), 0);
    FolderSearch all(*drives.context(), drives.posix(QString()), QStringLiteral("locked.lnk"));
    EXPECT_EQ(byName(collect(all)).value(QStringLiteral("locked.lnk")),
              FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY);
    FolderSearch cheap(*drives.context(), drives.posix(QString()), QStringLiteral("locked.lnk"),
                       FolderSearch::Attributes::WithoutReadOnly);
    EXPECT_EQ(byName(collect(cheap)).value(QStringLiteral("locked.lnk")), FILE_ATTRIBUTE_ARCHIVE);
}

TEST(FolderSearch, PseudoFileSystemMountPointIsSystem)
{
    bool procMounted = false;
    const MountTable mounts = MountTable::fromSystem();
    for (const MountEntry &mount : mounts.entries())
        procMounted = procMounted || (mount.mountPoint == "/proc" && mount.fsType == "proc");
    if (!procMounted)
        GTEST_SKIP() << "no proc file system at /proc";
    TempDrives drives; // the map holds no drive whose root is /proc
    FolderSearch search(*drives.context(), QByteArray("/"), QStringLiteral("PROC"));
    const QList<FindData> found = collect(search);
    ASSERT_EQ(found.size(), 1);
    EXPECT_EQ(found.at(0).name, QStringLiteral("proc"));
    EXPECT_EQ(found.at(0).attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_SYSTEM),
              FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_SYSTEM);
    EXPECT_EQ(getFileAttributesPosix(*drives.context(), "/proc") & FILE_ATTRIBUTE_SYSTEM,
              FILE_ATTRIBUTE_SYSTEM);
}

TEST(FolderSearch, NamesThatCannotBeShownAreNeverYielded)
{
    TempDrives drives;
    const QByteArray root = drives.root();
    const QList<QByteArray> badNames = {"back\\slash.lnk", "co:lon.lnk", "\xff\xfe.lnk", "ctl\x01.lnk",
                                        "\xed\xa0\x80.lnk"};
    // Qt cannot remove names that are not UTF-8, so the test does.
    struct Cleanup
    {
        const QByteArray &root;
        const QList<QByteArray> &names;
        ~Cleanup()
        {
            for (const QByteArray &name : names)
                ::unlink((root + '/' + name).constData());
            ::rmdir((root + "/bad\xff").constData());
        }
    } cleanup{root, badNames};
    for (const QByteArray &bad : badNames)
        touch(root + '/' + bad);
    ASSERT_EQ(::mkdir((root + "/bad\xff").constData(), 0755), 0);
    touch(root + "/good.lnk");
    touch(root + "/gr\xc3\xbc\xc3\x9f.lnk");

    FolderSearch search(*drives.context(), root, QStringLiteral("*"));
    QStringList found = names(collect(search));
    found.sort();
    EXPECT_EQ(found, (QStringList{".", "..", "good.lnk", QString::fromUtf8("grüß.lnk")}));
}

TEST(FolderSearch, FoldersThatCannotBeOpened)
{
    TempDrives drives;
    drives.writeFile(QStringLiteral("file.txt"), "x");
    drives.makeFolder(QStringLiteral("Sub"));
    drives.writeFile(QStringLiteral("Sub/Inner.lnk"), "x");
    FindData entry;

    FolderSearch missing(*drives.context(), drives.posix(QStringLiteral("missing")), QStringLiteral("*"));
    EXPECT_FALSE(missing.isOpen());
    EXPECT_EQ(missing.error(), ERROR_PATH_NOT_FOUND);
    EXPECT_FALSE(missing.next(entry));
    EXPECT_FALSE(missing.folderIdentity().has_value());

    FolderSearch notFolder(*drives.context(), drives.posix(QStringLiteral("file.txt")), QStringLiteral("*"));
    EXPECT_FALSE(notFolder.isOpen());
    EXPECT_EQ(notFolder.error(), ERROR_PATH_NOT_FOUND);

    FolderSearch unmapped(*drives.context(), QStringLiteral("q:\\*.lnk"));
    EXPECT_FALSE(unmapped.isOpen());
    EXPECT_EQ(unmapped.error(), ERROR_PATH_NOT_FOUND);

    FolderSearch tooLong(*drives.context(), drives.posix(QString(300, u'x')), QStringLiteral("*"));
    EXPECT_EQ(tooLong.error(), ERROR_INVALID_NAME);

    // The folder part of a Windows-form search is translated like any path.
    FolderSearch windows(*drives.context(), drives.win(QStringLiteral("SUB\\*.LNK")));
    ASSERT_TRUE(windows.isOpen());
    EXPECT_EQ(windows.posixFolder(), drives.posix(QStringLiteral("Sub")));
    EXPECT_EQ(windows.folderIdentity(), identityOf(drives.posix(QStringLiteral("Sub"))));
    EXPECT_EQ(names(collect(windows)), QStringList{QStringLiteral("Inner.lnk")});
    // A full file path is a search for that one name.
    FolderSearch single(*drives.context(), drives.win(QStringLiteral("sub\\INNER.lnk")));
    EXPECT_EQ(names(collect(single)), QStringList{QStringLiteral("Inner.lnk")});

    if (::geteuid() == 0)
        return; // root reads unreadable folders
    ASSERT_EQ(::chmod(drives.posix(QStringLiteral("Sub")).constData(), 0), 0);
    FolderSearch denied(*drives.context(), drives.win(QStringLiteral("Sub\\*")));
    EXPECT_FALSE(denied.isOpen());
    EXPECT_EQ(denied.error(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(denied.next(entry));
}

TEST(FileAttributes, QueryResultsAndErrors)
{
    TempDrives drives;
    drives.writeFile(QStringLiteral("Dir/file.txt"), "x");
    drives.writeFile(QStringLiteral("Dir/.profile"), "x");
    const QByteArray root = drives.root();
    ASSERT_EQ(::symlink(root + "/Dir", root + "/link"), 0);
    ASSERT_EQ(::symlink(root + "/nowhere", root + "/dangling"), 0);
    ASSERT_EQ(::symlink(root + "/loop", root + "/loop"), 0);

    const auto query = [&drives](const QString &path) {
        quint32 error = 0xdead;
        const quint32 bits = getFileAttributes(*drives.context(), path, &error);
        return std::pair{bits, error};
    };
    const auto failure = [](quint32 error) { return std::pair{INVALID_FILE_ATTRIBUTES, error}; };

    EXPECT_EQ(query(drives.win(QStringLiteral("dir\\FILE.TXT"))),
              std::pair(FILE_ATTRIBUTE_ARCHIVE, ERROR_SUCCESS));
    EXPECT_EQ(query(drives.win(QStringLiteral("Dir\\.profile"))).first,
              FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(query(drives.win(QStringLiteral("Dir"))).first, FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(query(drives.win(QString())).first, FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(query(drives.win(QStringLiteral("link"))).first,
              FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT);

    EXPECT_EQ(query(drives.win(QStringLiteral("Dir\\missing.exe"))), failure(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(query(drives.win(QStringLiteral("dangling"))), failure(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(query(drives.win(QStringLiteral("Gone\\x.exe"))), failure(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(query(drives.win(QStringLiteral("Dir\\file.txt\\x"))), failure(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(query(QStringLiteral("q:\\x.exe")), failure(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(query(drives.win(QString(300, u'n'))), failure(ERROR_INVALID_NAME));
    EXPECT_EQ(query(drives.win(QStringLiteral("loop"))), failure(ERROR_INVALID_NAME));
    EXPECT_EQ(query(drives.win(QStringLiteral("a:b"))), failure(ERROR_INVALID_NAME));
    EXPECT_EQ(query(QStringLiteral("relative\\x")), failure(ERROR_PATH_NOT_FOUND));

    quint32 error = 0;
    EXPECT_EQ(getFileAttributesPosix(*drives.context(), root + "/Dir/", &error), FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(getFileAttributesPosix(*drives.context(), root + "/missing/", &error), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(error, ERROR_FILE_NOT_FOUND);

    if (::geteuid() == 0)
        return; // root passes every permission check
    ASSERT_EQ(::chmod((root + "/Dir").constData(), 0), 0);
    EXPECT_EQ(query(drives.win(QStringLiteral("Dir\\file.txt"))), failure(ERROR_ACCESS_DENIED));
}

TEST(WalkGuard, TakesEachFolderOnce)
{
    TempDrives drives;
    drives.makeFolder(QStringLiteral("a"));
    ASSERT_EQ(::symlink(drives.posix(QStringLiteral("a")), drives.posix(QStringLiteral("a/loop"))), 0);
    const std::optional<FileIdentity> a = identityOf(drives.posix(QStringLiteral("a")));
    const std::optional<FileIdentity> root = identityOf(drives.root());
    ASSERT_TRUE(a && root);
    EXPECT_EQ(identityOf(drives.posix(QStringLiteral("a/loop"))), a);
    EXPECT_FALSE(identityOf(drives.posix(QStringLiteral("missing"))).has_value());

    WalkGuard guard;
    EXPECT_TRUE(guard.enter(*root));
    EXPECT_TRUE(guard.enter(*a));
    EXPECT_FALSE(guard.enter(*a)); // a/loop, or any other way back in
    // Far more than the first table holds, each once.
    for (ino_t inode = 1; inode <= 5000; ++inode)
        EXPECT_TRUE(guard.enter(FileIdentity{dev_t(7), inode}));
    for (ino_t inode = 1; inode <= 5000; ++inode)
        EXPECT_FALSE(guard.enter(FileIdentity{dev_t(7), inode}));
    EXPECT_TRUE(guard.enter(FileIdentity{dev_t(8), 1})); // same inode, another device
    EXPECT_FALSE(guard.enter(*root));
    guard.clear();
    EXPECT_TRUE(guard.enter(*a));
}

// A restarted search reads the same folder again from its start, with the
// new pattern and as the folder is now, and yields "." and ".." again.
TEST(FolderSearch, RestartReadsTheFolderAgainWithAnotherPattern)
{
    TempDrives drives;
    drives.writeFile(QStringLiteral("a.lnk"), "x");
    drives.writeFile(QStringLiteral("b.txt"), "x");
    drives.makeFolder(QStringLiteral("sub"));
    FolderSearch search(*drives.context(), drives.posix(QString()), QStringLiteral("*.lnk"));
    EXPECT_EQ(names(collect(search)), QStringList{QStringLiteral("a.lnk")});

    drives.makeFolder(QStringLiteral("added"));
    ASSERT_TRUE(search.restart(QStringLiteral("*.*")));
    QStringList all = names(collect(search));
    ASSERT_GE(all.size(), 2);
    EXPECT_EQ(all.mid(0, 2), (QStringList{QStringLiteral("."), QStringLiteral("..")}));
    all.sort();
    EXPECT_EQ(all, (QStringList{QStringLiteral("."), QStringLiteral(".."), QStringLiteral("a.lnk"),
                                QStringLiteral("added"), QStringLiteral("b.txt"), QStringLiteral("sub")}));
    EXPECT_EQ(byName(collect(search)).size(), 0); // finished again

    // Nothing matching: an open search that yields nothing.
    ASSERT_TRUE(search.restart(QStringLiteral("*.exe")));
    EXPECT_TRUE(collect(search).isEmpty());
    EXPECT_EQ(search.error(), ERROR_FILE_NOT_FOUND);

    FolderSearch missing(*drives.context(), drives.posix(QStringLiteral("nowhere")), QStringLiteral("*.*"));
    EXPECT_FALSE(missing.restart(QStringLiteral("*.*")));
    EXPECT_TRUE(collect(missing).isEmpty());
}

// A folder whose times had settled when it was read is not read again by a
// restart while it stays as it was: the entries already read are served
// again, whole and with the new pattern. A change is seen even when the
// folder's modification time is set back afterwards (as archive tools do),
// because its change time cannot be set back.
TEST(FolderSearch, RestartServesASettledFolderFromWhatItReadAndSeesLaterChanges)
{
    TempDrives drives;
    drives.writeFile(QStringLiteral("a.lnk"), "x");
    drives.writeFile(QStringLiteral("b.txt"), "x");
    drives.makeFolder(QStringLiteral("sub"));
    const QByteArray root = drives.posix(QString());
    // The modification time goes back with utimensat; the change time can
    // only be waited for, once, until it is a second old.
    const timespec old[2] = {{1500000000, 0}, {1500000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, root.constData(), old, 0), 0);
    struct stat before;
    ASSERT_EQ(::stat(root.constData(), &before), 0);
    const qint64 settledAt = timespecNs(before.st_ctim) + FolderStamp::kSettledNs + 20000000;
    if (const qint64 wait = settledAt - wallClockNs(); wait > 0)
        std::this_thread::sleep_for(std::chrono::nanoseconds(wait));

    FolderSearch search(*drives.context(), root, QStringLiteral("*.lnk"));
    EXPECT_EQ(names(collect(search)), QStringList{QStringLiteral("a.lnk")});
    const QStringList everything = {QStringLiteral("."), QStringLiteral(".."), QStringLiteral("a.lnk"),
                                    QStringLiteral("b.txt"), QStringLiteral("sub")};
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(search.restart(QStringLiteral("*")));
        QStringList all = names(collect(search));
        all.sort();
        EXPECT_EQ(all, everything) << "round " << round;
        EXPECT_TRUE(collect(search).isEmpty()); // finished
    }
    ASSERT_TRUE(search.restart(QStringLiteral("*.txt")));
    EXPECT_EQ(names(collect(search)), QStringList{QStringLiteral("b.txt")});

    // Changed, with the modification time set back as it was.
    drives.writeFile(QStringLiteral("c.lnk"), "x");
    ASSERT_EQ(::utimensat(AT_FDCWD, root.constData(), old, 0), 0);
    ASSERT_TRUE(search.restart(QStringLiteral("*.lnk")));
    QStringList lnk = names(collect(search));
    lnk.sort();
    EXPECT_EQ(lnk, (QStringList{QStringLiteral("a.lnk"), QStringLiteral("c.lnk")}));
}

namespace {

// A listing source that keeps what it is handed and hands out what it was
// given, as the link service's index of a drive does.
class RecordedListings : public FolderListingSource
{
public:
    quint32 startFolder(const QByteArray &posixFolder, const FileIdentity &) override
    {
        const qsizetype at = paths.indexOf(posixFolder);
        return at < 0 ? 0 : quint32(at + 1);
    }
    bool listing(quint32 folder, FolderListing &out) override
    {
        ++asked;
        if (!listings.contains(folder))
            return false;
        ++served;
        out = listings.value(folder);
        return true;
    }
    void beginListing(quint32 folder, const FolderStamp &stamp) override
    {
        taking = folder;
        taken = FolderListing{};
        taken.stamp = stamp;
        pieces = 0;
    }
    void addEntries(quint32 folder, const FolderListing &listing, size_t from) override
    {
        EXPECT_EQ(folder, taking);
        EXPECT_EQ(from, taken.items.size());
        taken = listing;
        ++pieces;
    }
    bool endListing(quint32 folder, FolderListing &listing) override
    {
        EXPECT_EQ(folder, taking);
        EXPECT_EQ(listing.items.size(), taken.items.size());
        // Sub-folders get handles of their own.
        for (FolderListing::Item &item : listing.items) {
            if (item.type != EntryType::Folder)
                continue;
            const QByteArray path = paths.value(qsizetype(folder) - 1) + '/' + listing.name(item);
            paths.append(path);
            item.handle = quint32(paths.size());
        }
        listings.insert(folder, listing);
        ended.append(folder);
        taking = 0;
        return true;
    }
    void dropListing(quint32 folder) override
    {
        EXPECT_EQ(folder, taking);
        ++dropped;
        taking = 0;
    }

    // A listing of the folder as it is now, that vouches for it as long as
    // the folder does not change; a current one stands for it whatever
    // happens to it (as if read during the walk).
    void record(const QByteArray &posixFolder, bool current = false)
    {
        FolderListing listing;
        const int fd = ::open(posixFolder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        struct stat st;
        ASSERT_EQ(::fstat(fd, &st), 0);
        FolderReader().readAll(fd, listing);
        ::close(fd);
        listing.stamp = FolderStamp::of(st, wallClockNs());
        // As if read long after the folder's last change.
        listing.stamp.readAtNs =
            std::max(listing.stamp.mtimeNs, listing.stamp.ctimeNs) + 2 * FolderStamp::kSettledNs;
        listing.current = current;
        paths.append(posixFolder);
        listings.insert(quint32(paths.size()), listing);
    }

    QList<QByteArray> paths; // handle - 1 -> folder
    QMap<quint32, FolderListing> listings;
    quint32 taking = 0;
    FolderListing taken;
    QList<quint32> ended;
    int pieces = 0, dropped = 0, asked = 0, served = 0;
};

struct Seen
{
    QString name;
    quint32 attributes;
    EntryType kind;
    friend bool operator==(const Seen &, const Seen &) = default;
};

QList<Seen> seen(const DriveContext &drives, const QByteArray &folder, const QString &pattern,
                 FolderSearch::Attributes which, FolderListingSource *source = nullptr)
{
    QList<Seen> all;
    FolderSearch search(drives, folder, pattern, which, {}, source);
    FindData entry;
    while (search.next(entry))
        all.append(Seen{entry.name, entry.attributes, entry.kind});
    return all;
}

} // namespace

// A search that takes its listing from a source yields exactly what reading
// the folder yields: names, order, every attribute bit and kind.
TEST(FolderSearch, ListingFromASourceYieldsWhatTheFolderWould)
{
    TempDrives drives;
    drives.writeFile(QStringLiteral("a.lnk"), "x");
    drives.writeFile(QStringLiteral(".hidden.lnk"), "x");
    drives.writeFile(QStringLiteral("sub/inner.txt"), "x");
    drives.makeFolder(QStringLiteral(".dot"));
    drives.makeFolder(QStringLiteral("Old.lnk"));
    const QByteArray root = drives.posix(QString());
    ASSERT_EQ(::symlink((root + "/sub").constData(), (root + "/to-sub").constData()), 0);
    ASSERT_EQ(::symlink((root + "/a.lnk").constData(), (root + "/to-a.lnk").constData()), 0);
    ASSERT_EQ(::symlink((root + "/gone").constData(), (root + "/dangling.lnk").constData()), 0);
    ASSERT_EQ(::mkfifo((root + "/pipe.lnk").constData(), 0600), 0);
    ASSERT_EQ(::chmod((root + "/a.lnk").constData(), 0444), 0);

    const QList<QString> patterns = {QStringLiteral("*.lnk"), QStringLiteral("*.*")};
    QMap<QString, QList<Seen>> fromDisk;
    for (const QString &pattern : patterns)
        for (auto which : {FolderSearch::Attributes::All, FolderSearch::Attributes::WithoutReadOnly})
            fromDisk.insert(pattern + QString::number(int(which)),
                            seen(*drives.context(), root, pattern, which));

    RecordedListings source;
    source.record(root);
    for (const QString &pattern : patterns)
        for (auto which : {FolderSearch::Attributes::All, FolderSearch::Attributes::WithoutReadOnly})
            EXPECT_EQ(seen(*drives.context(), root, pattern, which, &source),
                      fromDisk.value(pattern + QString::number(int(which))))
                << pattern.toStdString();
    EXPECT_EQ(source.served, 4);
    EXPECT_TRUE(source.ended.isEmpty()); // nothing was read to be handed over

    FolderSearch search(*drives.context(), root, QStringLiteral("*.lnk"), FolderSearch::Attributes::All, {},
                        &source);
    EXPECT_TRUE(search.isOpen());
    EXPECT_EQ(search.folderIdentity(), identityOf(root));
    EXPECT_EQ(source.served, 5);

    // A search given no source reads the folder itself and leaves the
    // source alone, even on the same thread and while the source is there.
    const int asked = source.asked;
    drives.writeFile(QStringLiteral("new.lnk"), "x");
    EXPECT_EQ(seen(*drives.context(), root, QStringLiteral("new.lnk"), FolderSearch::Attributes::All).size(),
              1);
    EXPECT_EQ(source.asked, asked);
    EXPECT_EQ(source.served, 5);
    EXPECT_TRUE(source.ended.isEmpty());
}

// A listing the folder no longer matches is not used: the folder is read,
// and what was read is handed to the source, with handles for the
// sub-folders, through which searches of those sub-folders share theirs.
TEST(FolderSearch, FoldersThatChangedAreReadAndHandedOver)
{
    TempDrives drives;
    drives.writeFile(QStringLiteral("a.lnk"), "x");
    drives.makeFolder(QStringLiteral("sub"));
    const QByteArray root = drives.posix(QString());
    RecordedListings source;
    source.record(root);

    drives.writeFile(QStringLiteral("b.lnk"), "x"); // the recorded listing lacks it
    FolderSearch search(*drives.context(), root, QStringLiteral("*.lnk"), FolderSearch::Attributes::All, {},
                        &source);
    QStringList now = names(collect(search));
    now.sort();
    EXPECT_EQ(now, (QStringList{QStringLiteral("a.lnk"), QStringLiteral("b.lnk")}));
    ASSERT_EQ(source.ended, QList<quint32>{1});
    EXPECT_EQ(source.listings.value(1).items.size(), 3u);

    // The sub-folder, opened through the search that yielded it.
    drives.writeFile(QStringLiteral("sub/c.lnk"), "x");
    ASSERT_TRUE(search.restart(QStringLiteral("sub")));
    FindData entry;
    ASSERT_TRUE(search.next(entry));
    ASSERT_EQ(entry.name, QStringLiteral("sub"));
    FolderSearch below(search, QStringLiteral("*"), FolderSearch::Attributes::WithoutReadOnly);
    EXPECT_EQ(below.posixFolder(), root + "/sub");
    EXPECT_EQ(below.folderIdentity(), identityOf(root + "/sub"));
    EXPECT_EQ(names(collect(below)),
              (QStringList{QStringLiteral("."), QStringLiteral(".."), QStringLiteral("c.lnk")}));
    // (The root's second pass took what this walk read of it.)
    ASSERT_FALSE(source.ended.isEmpty());
    EXPECT_EQ(source.paths.value(qsizetype(source.ended.last()) - 1), root + "/sub");

    FolderSearch unlisted(*drives.context(), drives.posix(QStringLiteral("nowhere")), QStringLiteral("*.*"),
                          FolderSearch::Attributes::All, {}, &source);
    EXPECT_FALSE(unlisted.isOpen());
}

// A walk takes each folder's listing once: one read during the walk stands
// for its folder, in both passes and for its sub-folders, without a look at
// the folder, even when the folder changed since.
TEST(FolderSearch, ListingsReadDuringTheWalkAreTakenAsTheyAre)
{
    TempDrives drives;
    drives.writeFile(QStringLiteral("a.lnk"), "x");
    drives.writeFile(QStringLiteral("sub/in.lnk"), "x");
    const QByteArray root = drives.posix(QString());
    RecordedListings source;
    source.record(root, true);
    source.record(root + "/sub", true);
    const quint32 top = 1, sub = 2;
    for (FolderListing::Item &item : source.listings[top].items)
        if (item.type == EntryType::Folder)
            item.handle = sub;
    const std::optional<FileIdentity> subIdentity = identityOf(root + "/sub");

    drives.writeFile(QStringLiteral("b.lnk"), "x");
    drives.writeFile(QStringLiteral("sub/later.lnk"), "x");
    FolderSearch search(*drives.context(), root, QStringLiteral("*.lnk"), FolderSearch::Attributes::All, {},
                        &source);
    EXPECT_EQ(names(collect(search)), QStringList{QStringLiteral("a.lnk")});
    drives.makeFolder(QStringLiteral("added"));
    ASSERT_TRUE(search.restart(QStringLiteral("*.*"), FolderSearch::Limit::ToFolders));
    EXPECT_EQ(names(collect(search)),
              (QStringList{QStringLiteral("."), QStringLiteral(".."), QStringLiteral("sub")}));

    // The sub-folder, renamed away and replaced: still the one read.
    ASSERT_TRUE(search.restart(QStringLiteral("sub")));
    FindData entry;
    ASSERT_TRUE(search.next(entry));
    ASSERT_EQ(::rename((root + "/sub").constData(), (root + "/moved").constData()), 0);
    drives.makeFolder(QStringLiteral("sub"));
    FolderSearch below(search, QStringLiteral("*.lnk"), FolderSearch::Attributes::All);
    EXPECT_EQ(below.folderIdentity(), subIdentity);
    EXPECT_EQ(names(collect(below)), QStringList{QStringLiteral("in.lnk")});
    EXPECT_TRUE(source.ended.isEmpty()); // nothing was read
}

// A large folder is read, and handed over, a piece at a time, as its
// entries are taken; a search given up half way hands nothing over.
TEST(FolderSearch, LargeFoldersAreReadInPieces)
{
    TempDrives drives;
    drives.makeFolder(QStringLiteral("big"));
    const QByteArray big = drives.posix(QStringLiteral("big"));
    for (int i = 0; i < 6000; ++i)
        touch(big + "/entry-with-a-longish-name-" + QByteArray::number(i) + ".txt");
    RecordedListings source;
    source.paths.append(big);

    {
        FolderSearch search(*drives.context(), big, QStringLiteral("*"), FolderSearch::Attributes::All, {},
                            &source);
        FindData entry;
        ASSERT_TRUE(search.next(entry));
        EXPECT_LT(source.taken.items.size(), 6000u); // not all of it yet
    }
    EXPECT_EQ(source.dropped, 1);
    EXPECT_TRUE(source.ended.isEmpty());

    FolderSearch search(*drives.context(), big, QStringLiteral("*.txt"), FolderSearch::Attributes::All, {},
                        &source);
    EXPECT_EQ(collect(search).size(), 6000);
    EXPECT_GT(source.pieces, 2);
    ASSERT_EQ(source.ended, QList<quint32>{1});
    EXPECT_EQ(source.listings.value(1).items.size(), 6000u);
}
