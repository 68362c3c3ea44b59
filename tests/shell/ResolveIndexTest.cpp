#include "shell/DirIndex.h"
#include "shell/SearchBudget.h"
#include "support/TempDrives.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// The folder listings behind the resolver, with change notifications and
// with stat() checks only (as on network file systems).
class ResolveIndexTest : public ::testing::TestWithParam<DirIndex::Checking>
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

    TempDrives m_drives;
    DirIndex m_index{GetParam()};
};

TEST_P(ResolveIndexTest, FollowsChangesBetweenSearches)
{
    for (int i = 0; i < 5; ++i)
        m_drives.writeFile(QStringLiteral("a/b%1/c/file%1.txt").arg(i), "x");
    m_index.addRoot(m_drives.root());
    EXPECT_EQ(find(QStringLiteral("wanted.txt")), QStringList());
    EXPECT_EQ(find(QStringLiteral("FILE3.TXT")), QStringList{QStringLiteral("a/b3/c/file3.txt")});

    // Created deep in a folder read before.
    m_drives.writeFile(QStringLiteral("a/b2/c/wanted.txt"), "w");
    EXPECT_EQ(find(QStringLiteral("wanted.txt")), QStringList{QStringLiteral("a/b2/c/wanted.txt")});

    // Its folder renamed, then a folder put where it was.
    ASSERT_EQ(::rename(path(QStringLiteral("a/b2")).constData(), path(QStringLiteral("a/moved")).constData()),
              0);
    m_drives.makeFolder(QStringLiteral("a/b2"));
    EXPECT_EQ(find(QStringLiteral("wanted.txt")), QStringList{QStringLiteral("a/moved/c/wanted.txt")});

    // A folder replaced by a file of the same name, and the file deleted.
    QDir(QFile::decodeName(path(QStringLiteral("a/moved")))).removeRecursively();
    m_drives.writeFile(QStringLiteral("a/moved"), "now a file");
    EXPECT_EQ(find(QStringLiteral("wanted.txt")), QStringList());
    EXPECT_EQ(find(QStringLiteral("moved")), QStringList{QStringLiteral("a/moved")});
    ASSERT_EQ(::unlink(path(QStringLiteral("a/b4/c/file4.txt")).constData()), 0);
    EXPECT_EQ(find(QStringLiteral("file4.txt")), QStringList());
}

TEST_P(ResolveIndexTest, MatchesNamesAsWindowsDoes)
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

TEST_P(ResolveIndexTest, NeverFollowsSymbolicLinks)
{
    m_drives.writeFile(QStringLiteral("real/inner/target.txt"), "x");
    ASSERT_EQ(::symlink(path(QStringLiteral("real")).constData(), path(QStringLiteral("alias")).constData()),
              0);
    ASSERT_EQ(::symlink(path(QString()).constData(), path(QStringLiteral("real/loop")).constData()), 0);
    m_index.addRoot(m_drives.root());
    EXPECT_EQ(find(QStringLiteral("target.txt")), QStringList{QStringLiteral("real/inner/target.txt")});
    EXPECT_EQ(find(QStringLiteral("alias")), QStringList{QStringLiteral("alias")}); // listed, not entered
}

TEST_P(ResolveIndexTest, WorkCutShortIsResumed)
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

INSTANTIATE_TEST_SUITE_P(Checking, ResolveIndexTest,
                         ::testing::Values(DirIndex::Checking::Notifications, DirIndex::Checking::StatOnly),
                         [](const auto &info) {
                             return info.param == DirIndex::Checking::Notifications ? "Notifications"
                                                                                    : "StatOnly";
                         });

} // namespace

// What the walk of a scan may take instead of reading a folder: only a
// listing that was read, is watched and has not changed since.
TEST(ResolveIndexListing, OnlyCurrentWatchedListingsAreGiven)
{
    TempDrives drives;
    drives.writeFile(QStringLiteral("top/a.lnk"), "x");
    drives.makeFolder(QStringLiteral("top/sub"));
    const QByteArray root = drives.posix(QString());
    const QByteArray top = drives.posix(QStringLiteral("top"));

    DirIndex index;
    FileIdentity identity;
    std::vector<FolderListingSource::Entry> entries;
    EXPECT_FALSE(index.currentListing(top, identity, entries)); // nothing read yet
    SearchBudget budget(60000);
    index.addRoot(root);
    index.beginSearch();
    ASSERT_TRUE(index.complete(root, budget));

    ASSERT_TRUE(index.currentListing(top, identity, entries));
    EXPECT_EQ(identity, identityOf(top));
    ASSERT_EQ(entries.size(), 2u);
    std::sort(entries.begin(), entries.end(), [](const auto &a, const auto &b) { return a.name < b.name; });
    EXPECT_EQ(entries[0].name, QByteArray("a.lnk"));
    EXPECT_EQ(entries[0].type, FolderListingSource::Entry::Type::File);
    EXPECT_EQ(entries[1].name, QByteArray("sub"));
    EXPECT_EQ(entries[1].type, FolderListingSource::Entry::Type::Folder);
    EXPECT_EQ(entries[1].identity, identityOf(drives.posix(QStringLiteral("top/sub"))));

    // A change makes the listing unfit until it is read again.
    drives.writeFile(QStringLiteral("top/b.lnk"), "x");
    EXPECT_FALSE(index.currentListing(top, identity, entries));
    index.beginSearch();
    ASSERT_TRUE(index.complete(root, budget));
    ASSERT_TRUE(index.currentListing(top, identity, entries));
    EXPECT_EQ(entries.size(), 3u);

    // Folders checked by stat() only are never vouched for.
    DirIndex statOnly(DirIndex::Checking::StatOnly);
    statOnly.addRoot(root);
    statOnly.beginSearch();
    ASSERT_TRUE(statOnly.complete(root, budget));
    EXPECT_FALSE(statOnly.currentListing(top, identity, entries));
}
