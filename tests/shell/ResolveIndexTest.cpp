#include "platform/DriveContext.h"
#include "shell/DirIndex.h"
#include "shell/SearchBudget.h"
#include "support/TempDrives.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The folder listings behind the resolver.
class ResolveIndexTest : public ::testing::Test
{
protected:
    QByteArray path(const QString &relative) const { return m_drives.posix(relative); }

    // Paths of the entries named `name` below `folder`, after completing it.
    QStringList find(const QString &name, const QString &folder = QString())
    {
        SearchBudget budget(60000);
        m_index.beginSearch();
        EXPECT_TRUE(m_index.complete(path(folder), budget));
        std::vector<DirIndex::Hit> hits;
        const QByteArray utf8 = name.toUtf8();
        m_index.find(DirIndex::foldName(utf8.constData(), size_t(utf8.size())), path(folder), hits);
        QStringList found;
        const QByteArray root = m_drives.root();
        for (const DirIndex::Hit &hit : hits)
            found.append(QFile::decodeName(hit.path.mid(root.size() + 1)));
        found.sort();
        return found;
    }

    // Uses one folder's listing, as the search for a renamed target does.
    QStringList list(const QString &folder)
    {
        SearchBudget budget(60000);
        std::vector<std::pair<QByteArray, DirIndex::Kind>> entries;
        EXPECT_TRUE(m_index.list(path(folder), entries, budget));
        QStringList names;
        for (const auto &[name, kind] : entries)
            names.append(QFile::decodeName(name));
        names.sort();
        return names;
    }

    TempDrives m_drives;
    DirIndex m_index{m_drives.context()};
};

TEST_F(ResolveIndexTest, ReadsEachFolderOnceAndAgainWhereAChangedFolderIsUsed)
{
    for (int i = 0; i < 5; ++i)
        m_drives.writeFile(QStringLiteral("a/b%1/c/file%1.txt").arg(i), "x");
    m_index.addRoot(m_drives.root());
    EXPECT_EQ(find(QStringLiteral("wanted.txt")), QStringList());
    EXPECT_EQ(m_index.readCount(), 12); // the root, a, five b, five c
    EXPECT_EQ(find(QStringLiteral("FILE3.TXT")), QStringList{QStringLiteral("a/b3/c/file3.txt")});
    EXPECT_EQ(m_index.readCount(), 12); // nothing read, nothing looked at again

    // Created in a folder read before: seen once that folder is used.
    m_drives.writeFile(QStringLiteral("a/b2/c/wanted.txt"), "w");
    EXPECT_EQ(find(QStringLiteral("wanted.txt")), QStringList());
    EXPECT_EQ(list(QStringLiteral("a/b2/c")),
              (QStringList{QStringLiteral("file2.txt"), QStringLiteral("wanted.txt")}));
    EXPECT_EQ(find(QStringLiteral("wanted.txt")), QStringList{QStringLiteral("a/b2/c/wanted.txt")});

    // Its folder renamed, then a folder put where it was: the new folder is
    // read, what lay below the renamed one is kept under its new name.
    ASSERT_EQ(::rename(path(QStringLiteral("a/b2")).constData(), path(QStringLiteral("a/moved")).constData()),
              0);
    m_drives.makeFolder(QStringLiteral("a/b2"));
    const qsizetype reads = m_index.readCount();
    list(QStringLiteral("a"));
    EXPECT_EQ(find(QStringLiteral("wanted.txt")), QStringList{QStringLiteral("a/moved/c/wanted.txt")});
    EXPECT_EQ(m_index.readCount(), reads + 2); // a, and the new b2

    // A folder replaced by a file of the same name: its tree is forgotten.
    QDir(QFile::decodeName(path(QStringLiteral("a/moved")))).removeRecursively();
    m_drives.writeFile(QStringLiteral("a/moved"), "now a file");
    list(QStringLiteral("a"));
    EXPECT_EQ(find(QStringLiteral("wanted.txt")), QStringList());
    EXPECT_EQ(find(QStringLiteral("moved")), QStringList{QStringLiteral("a/moved")});
}

TEST_F(ResolveIndexTest, MatchesNamesAsWindowsDoes)
{
    m_drives.writeFile(QStringLiteral("x/Ärger Straße.TXT"), "x");
    m_drives.writeFile(QStringLiteral("y/ärger straße.txt"), "x");
    m_drives.writeFile(QStringLiteral("z/other.txt"), "x");
    m_index.addRoot(m_drives.root());
    EXPECT_EQ(find(QStringLiteral("ÄRGER STRASSE.txt")), QStringList()); // simple folding: ß is not "ss"
    EXPECT_EQ(find(QStringLiteral("ÄRGER STRAßE.txt")),
              (QStringList{QStringLiteral("x/Ärger Straße.TXT"), QStringLiteral("y/ärger straße.txt")}));
    // Only below the folder asked about.
    EXPECT_EQ(find(QStringLiteral("ärger straße.txt"), QStringLiteral("y")),
              QStringList{QStringLiteral("y/ärger straße.txt")});
}

TEST_F(ResolveIndexTest, NeverFollowsSymbolicLinksNorEntersOtherDrives)
{
    m_drives.writeFile(QStringLiteral("real/inner/target.txt"), "x");
    ASSERT_EQ(::symlink(path(QStringLiteral("real")).constData(), path(QStringLiteral("alias")).constData()),
              0);
    ASSERT_EQ(::symlink(path(QString()).constData(), path(QStringLiteral("real/loop")).constData()), 0);
    // Another drive's folder inside this one is the other drive's business.
    m_drives.writeFile(QStringLiteral("other/inside/target.txt"), "x");
    DriveMap map = *m_drives.context()->map();
    map.insert(QLatin1Char('e'), path(QStringLiteral("other")));
    m_drives.context()->setMap(map);

    m_index.addRoot(m_drives.root());
    EXPECT_EQ(find(QStringLiteral("target.txt")), QStringList{QStringLiteral("real/inner/target.txt")});
    EXPECT_EQ(find(QStringLiteral("alias")), QStringList{QStringLiteral("alias")}); // listed, not entered
    EXPECT_EQ(find(QStringLiteral("other")), QStringList{QStringLiteral("other")});
}

TEST_F(ResolveIndexTest, WorkCutShortIsResumed)
{
    for (int i = 0; i < 30; ++i)
        m_drives.makeFolder(QStringLiteral("t/d%1/e").arg(i));
    m_drives.writeFile(QStringLiteral("t/d29/e/last.txt"), "x");
    m_index.addRoot(m_drives.root());

    SearchBudget none(0);
    m_index.beginSearch();
    EXPECT_FALSE(m_index.complete(path(QString()), none));
    const qsizetype readsSoFar = m_index.readCount();
    EXPECT_EQ(find(QStringLiteral("last.txt")), QStringList{QStringLiteral("t/d29/e/last.txt")});
    EXPECT_GT(m_index.readCount(), readsSoFar);
}

// The shape of node_modules or of Windows' component store: thousands of
// folders that each hold an entry of the same name. Every one is found, and
// the index stays within its memory per entry.
TEST_F(ResolveIndexTest, ManyEntriesWithOneName)
{
    const int folders = 2000;
    for (int i = 0; i < folders; ++i) {
        const QByteArray folder = path(QStringLiteral("pkg%1").arg(i));
        ASSERT_EQ(::mkdir(folder.constData(), 0755), 0);
        for (const QByteArray &name : {QByteArray("index.js"), "unique-" + QByteArray::number(i) + ".js",
                                       QByteArray("README.md"), "file-" + QByteArray::number(i)}) {
            const int fd = ::open((folder + '/' + name).constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
            ASSERT_GE(fd, 0);
            ::close(fd);
        }
    }
    m_index.addRoot(m_drives.root());
    EXPECT_EQ(find(QStringLiteral("INDEX.JS")).size(), folders);
    EXPECT_EQ(find(QStringLiteral("unique-1234.js")), QStringList{QStringLiteral("pkg1234/unique-1234.js")});
    EXPECT_EQ(m_index.entryCount(), 5 * folders);
    // Storage comes in chunks of a megabyte; beyond those, well under 100
    // bytes an entry (folders included).
    EXPECT_LT(m_index.bytesHeld(), 6 * (1 << 20) + 100 * m_index.entryCount());
}

// A large folder is read a piece at a time, with the search's hook run in
// between, so the window it keeps alive is never kept waiting for all of it.
TEST_F(ResolveIndexTest, LargeFoldersAreReadInPieces)
{
    m_drives.makeFolder(QStringLiteral("large"));
    const QByteArray large = path(QStringLiteral("large"));
    for (int i = 0; i < 20000; ++i) {
        const int fd = ::open((large + "/entry-" + QByteArray::number(i)).constData(),
                              O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        ::close(fd);
    }
    m_index.addRoot(m_drives.root());
    int hooks = 0;
    SearchBudget budget(
        60000, [&] { ++hooks; }, 0);
    EXPECT_TRUE(m_index.complete(path(QString()), budget));
    EXPECT_EQ(m_index.entryCount(), 20001);
    EXPECT_GE(hooks, 10);
}

// Listings read again and again leave old entries behind; once they
// outweigh the live ones they are dropped, and every answer stays right.
TEST_F(ResolveIndexTest, ListingsReadAgainLeaveNothingBehind)
{
    m_drives.makeFolder(QStringLiteral("busy"));
    const QByteArray busy = path(QStringLiteral("busy"));
    for (int i = 0; i < 20000; ++i) {
        const int fd =
            ::open((busy + "/f" + QByteArray::number(i)).constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        ::close(fd);
    }
    m_drives.writeFile(QStringLiteral("quiet/kept.txt"), "x");
    m_index.addRoot(m_drives.root());
    EXPECT_EQ(find(QStringLiteral("f19999")), QStringList{QStringLiteral("busy/f19999")});
    const qsizetype firstBytes = m_index.bytesHeld();
    // The folder changed within the last second: every use reads it again.
    for (int round = 0; round < 8; ++round)
        EXPECT_EQ(list(QStringLiteral("busy")).size(), 20000);
    EXPECT_EQ(find(QStringLiteral("f7")), QStringList{QStringLiteral("busy/f7")});
    EXPECT_EQ(find(QStringLiteral("kept.txt")), QStringList{QStringLiteral("quiet/kept.txt")});
    EXPECT_EQ(m_index.entryCount(), 20000 + 3);
    EXPECT_LE(m_index.bytesHeld(), 2 * firstBytes);
}

// The walk of a scan hands its listings over and takes the index's.
TEST_F(ResolveIndexTest, SharesListingsWithTheWalk)
{
    m_drives.writeFile(QStringLiteral("top/a.lnk"), "x");
    m_drives.makeFolder(QStringLiteral("top/sub"));
    const QByteArray root = m_drives.root();
    struct stat rootStat;
    ASSERT_EQ(::stat(root.constData(), &rootStat), 0);
    const quint32 start = m_index.startFolder(root, FileIdentity{rootStat.st_dev, rootStat.st_ino});
    ASSERT_NE(start, 0u);
    // The index's workers read the walk's folders ahead of it: the walk
    // takes the root as read since it began.
    FolderListing ahead;
    ASSERT_TRUE(m_index.listing(start, ahead));
    EXPECT_TRUE(ahead.current);
    EXPECT_EQ(ahead.items.size(), 1u);

    // The root as the walk read it, handed over in two pieces.
    FolderListing walked;
    const int fd = ::open(root.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    FolderReader().readAll(fd, walked);
    ::close(fd);
    walked.stamp = FolderStamp::of(rootStat, 1);
    m_index.beginListing(start, walked.stamp);
    FolderListing firstPiece = walked;
    firstPiece.items.resize(0);
    m_index.addEntries(start, firstPiece, 0);
    m_index.addEntries(start, walked, 0);
    ASSERT_TRUE(m_index.endListing(start, walked));
    ASSERT_EQ(walked.items.size(), 1u);
    const quint32 top = walked.items[0].handle;
    EXPECT_NE(top, 0u);
    EXPECT_EQ(find(QStringLiteral("top")), QStringList{QStringLiteral("top")});
    EXPECT_EQ(m_index.readCount(), 3); // the root ahead of the walk, top and sub

    // What the index read, the walk takes, with its sub-folders' handles.
    FolderListing served;
    ASSERT_TRUE(m_index.listing(top, served));
    ASSERT_EQ(served.items.size(), 2u);
    std::sort(served.items.begin(), served.items.end(),
              [&](const auto &a, const auto &b) { return std::strcmp(served.name(a), served.name(b)) < 0; });
    EXPECT_STREQ(served.name(served.items[0]), "a.lnk");
    EXPECT_EQ(served.items[0].type, EntryType::File);
    EXPECT_STREQ(served.name(served.items[1]), "sub");
    EXPECT_NE(served.items[1].handle, 0u);
    EXPECT_EQ(served.stamp.identity, identityOf(path(QStringLiteral("top"))));
    EXPECT_TRUE(served.current); // read during the walk startFolder began

    // Later walks take it only after a look at the folder, however many
    // walks later (the count of walks comes round).
    for (int walk = 1; walk <= 300; ++walk) {
        ASSERT_EQ(m_index.startFolder(root, FileIdentity{rootStat.st_dev, rootStat.st_ino}), start);
        FolderListing older;
        ASSERT_TRUE(m_index.listing(top, older));
        ASSERT_FALSE(older.current) << "walk " << walk;
    }

    // A listing the index had to read itself meanwhile is not taken from
    // the walk.
    m_index.beginListing(top, served.stamp);
    list(QStringLiteral("top"));
    EXPECT_FALSE(m_index.endListing(top, served));
}

} // namespace
