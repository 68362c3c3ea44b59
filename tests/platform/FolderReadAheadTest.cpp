// Folder listings read ahead by worker threads: every folder asked for comes
// back once, the one waited for goes first, memory stays bounded, a folder
// that changed under the workers gives an error and not another folder's
// entries, a place that answers slowly is waited for and one that stops
// answering is given up, and the pool always ends.

#include "support/BlockingFuse.h"
#include "support/PacedFuse.h"

#include "platform/FolderReadAhead.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <set>
#include <thread>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

// The names in a read, sorted.
std::set<QByteArray> namesOf(const FolderReadAhead::Read &read)
{
    std::set<QByteArray> names;
    for (const FolderListing::Item &item : read.listing.items)
        names.insert(QByteArray(read.listing.name(item)));
    return names;
}

// Threads of this process.
int threadCount()
{
    return int(QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
}

// Waits, with a deadline, until `done` holds.
template <typename Condition> bool eventually(Condition done, std::chrono::seconds most = 30s)
{
    const auto deadline = std::chrono::steady_clock::now() + most;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

class FolderReadAheadTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }

    QByteArray path(const QByteArray &relative) const
    {
        return QFile::encodeName(m_dir.path()) + '/' + relative;
    }

    // Folder `relative` with one file named after it.
    void makeFolder(const QByteArray &relative)
    {
        ASSERT_TRUE(QDir().mkpath(QFile::decodeName(path(relative))));
        const QByteArray file = path(relative) + "/in-" + relative.split('/').last() + ".lnk";
        const int fd = ::open(file.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        ::close(fd);
    }

    std::shared_ptr<posix::UniqueFd> top() const
    {
        return std::make_shared<posix::UniqueFd>(
            ::open(QFile::encodeName(m_dir.path()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    }

    // Takes reads until every key asked for came back, or none is under way.
    std::map<quint64, FolderReadAhead::Read> drain(FolderReadAhead &ahead, size_t expected)
    {
        std::map<quint64, FolderReadAhead::Read> reads;
        std::vector<FolderReadAhead::Read> taken;
        const auto deadline = std::chrono::steady_clock::now() + 60s;
        while (reads.size() < expected && std::chrono::steady_clock::now() < deadline) {
            taken.clear();
            ahead.takeDone(taken, 64);
            for (FolderReadAhead::Read &read : taken) {
                EXPECT_EQ(reads.count(read.key), 0u) << "key " << read.key << " came back twice";
                reads[read.key] = std::move(read);
            }
            if (taken.empty() && !ahead.waitAny(100ms))
                break;
        }
        return reads;
    }

    QTemporaryDir m_dir;
};

TEST_F(FolderReadAheadTest, EveryFolderAskedForComesBackOnceWithItsOwnEntries)
{
    constexpr int kFolders = 600;
    for (int i = 0; i < kFolders; ++i)
        makeFolder("d" + QByteArray::number(i % 30) + "/f" + QByteArray::number(i));
    FolderReadAhead ahead(top(), 4);
    ahead.add(1, "");
    for (int i = 0; i < kFolders; ++i)
        ahead.add(quint64(i + 2), "d" + QByteArray::number(i % 30) + "/f" + QByteArray::number(i));

    const std::map<quint64, FolderReadAhead::Read> reads = drain(ahead, kFolders + 1);
    ASSERT_EQ(reads.size(), size_t(kFolders + 1));
    EXPECT_EQ(reads.at(1).listing.items.size(), 30u);
    for (int i = 0; i < kFolders; ++i) {
        const FolderReadAhead::Read &read = reads.at(quint64(i + 2));
        EXPECT_EQ(read.error, 0);
        EXPECT_TRUE(read.listing.current);
        EXPECT_EQ(namesOf(read), std::set<QByteArray>{"in-f" + QByteArray::number(i) + ".lnk"}) << i;
    }
    EXPECT_TRUE(ahead.idle());
    EXPECT_FALSE(ahead.holds(2));
    EXPECT_FALSE(ahead.waitFor(2, {}).has_value()); // taken already: unknown
}

// Given a rule, the workers go on by themselves: every folder the rule lets
// in comes back once, under the key its parent's read named; a folder the
// rule refuses is not read.
TEST_F(FolderReadAheadTest, WorkersGoOnIntoTheSubFoldersTheRuleLetsIn)
{
    for (const char *folder : {"a/b/c", "a/b/d", "a/e", "f/g", ".hidden/h", "skip/i"})
        makeFolder(folder);
    const auto enter = [](const FileIdentity &, std::string_view name) {
        return name != "skip" && name.front() != '.';
    };
    FolderReadAhead ahead(top(), 2, BoundedCall::kNoAnswer, enter);
    ahead.add(1, "");

    // Path of each key, from the reads as they come.
    std::map<quint64, QByteArray> paths{{1, ""}};
    std::set<QByteArray> read;
    std::vector<FolderReadAhead::Read> taken;
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (!ahead.idle() && std::chrono::steady_clock::now() < deadline) {
        taken.clear();
        ahead.takeDone(taken, 64);
        if (taken.empty())
            ahead.waitAny(100ms);
        for (FolderReadAhead::Read &done : taken) {
            ASSERT_TRUE(paths.contains(done.key)) << "a read no parent named: " << done.key;
            const QByteArray at = paths.at(done.key);
            EXPECT_TRUE(read.insert(at).second) << at.constData() << " came back twice";
            EXPECT_EQ(done.error, 0) << at.constData();
            for (const auto &[item, key] : done.children) {
                EXPECT_GE(key, FolderReadAhead::kOwnKeys);
                const QByteArray name(done.listing.name(done.listing.items[item]));
                paths[key] = at.isEmpty() ? name : at + '/' + name;
            }
        }
    }
    EXPECT_EQ(read, (std::set<QByteArray>{"", "a", "a/b", "a/b/c", "a/b/d", "a/e", "f", "f/g"}));
}

// One worker, reads never taken: it stops at the bound; the folder then
// waited for is read before the others still queued, and those follow in
// the order they were asked for.
TEST_F(FolderReadAheadTest, ReadsAheadAreBoundedAndTheFolderWaitedForGoesFirst)
{
    const int bound = int(FolderReadAhead::kAheadPerWorker);
    const int folders = bound + 100;
    for (int i = 0; i < folders; ++i)
        makeFolder("f" + QByteArray::number(i));
    FolderReadAhead ahead(top(), 1);
    ASSERT_EQ(ahead.workers(), 1);
    for (int i = 0; i < folders; ++i)
        ahead.add(quint64(i + 1), "f" + QByteArray::number(i));

    ASSERT_TRUE(eventually([&] { return ahead.ready() >= size_t(bound); }));
    std::this_thread::sleep_for(200ms); // room to overrun the bound, if it could
    EXPECT_EQ(ahead.ready(), size_t(bound));

    const quint64 last = quint64(folders);
    const std::optional<FolderReadAhead::Read> waited = ahead.waitFor(last, [] { return true; });
    ASSERT_TRUE(waited.has_value());
    EXPECT_EQ(waited->key, last);
    EXPECT_EQ(namesOf(*waited), std::set<QByteArray>{"in-f" + QByteArray::number(folders - 1) + ".lnk"});
    EXPECT_EQ(ahead.ready(), size_t(bound));
    EXPECT_TRUE(ahead.holds(last - 1));

    std::vector<FolderReadAhead::Read> taken;
    ahead.takeDone(taken, size_t(folders));
    ASSERT_EQ(taken.size(), size_t(bound));
    for (int i = 0; i < bound; ++i)
        EXPECT_EQ(taken[size_t(i)].key, quint64(i + 1));
    const std::map<quint64, FolderReadAhead::Read> rest = drain(ahead, size_t(folders - bound - 1));
    EXPECT_EQ(rest.size(), size_t(folders - bound - 1));
    EXPECT_EQ(rest.count(last), 0u);
    EXPECT_TRUE(ahead.idle());
}

// Folders removed, renamed or swapped for a symbolic link after they were
// asked for: an error for each, never the entries of what now stands there.
TEST_F(FolderReadAheadTest, AFolderChangedUnderTheWorkersGivesAnError)
{
    makeFolder("gone/inner");
    makeFolder("renamed");
    makeFolder("swapped/inner");
    makeFolder("elsewhere/inner");
    makeFolder("kept");
    ASSERT_TRUE(QDir(QFile::decodeName(path("gone"))).removeRecursively());
    ASSERT_EQ(::rename(path("renamed").constData(), path("renamed-now").constData()), 0);
    ASSERT_TRUE(QDir(QFile::decodeName(path("swapped"))).removeRecursively());
    ASSERT_EQ(::symlink(path("elsewhere").constData(), path("swapped").constData()), 0);

    FolderReadAhead ahead(top(), 2);
    ahead.add(1, "gone/inner");
    ahead.add(2, "renamed");
    ahead.add(3, "swapped/inner");
    ahead.add(4, "swapped");
    ahead.add(5, "kept");
    const std::map<quint64, FolderReadAhead::Read> reads = drain(ahead, 5);
    ASSERT_EQ(reads.size(), 5u);
    EXPECT_EQ(reads.at(1).error, ENOENT);
    EXPECT_EQ(reads.at(2).error, ENOENT);
    for (quint64 key : {1, 2, 3, 4})
        EXPECT_TRUE(reads.at(key).listing.items.empty()) << key;
    EXPECT_NE(reads.at(3).error, 0);
    EXPECT_NE(reads.at(4).error, 0);
    EXPECT_EQ(reads.at(5).error, 0);
    EXPECT_EQ(namesOf(reads.at(5)), std::set<QByteArray>{"in-kept.lnk"});

    // One waited for gives its error too.
    ahead.add(6, "gone");
    const std::optional<FolderReadAhead::Read> waited = ahead.waitFor(6, {});
    ASSERT_TRUE(waited.has_value());
    EXPECT_EQ(waited->error, ENOENT);
}

// Destroyed with most of the work still queued: the workers end, and no
// thread is left behind.
TEST_F(FolderReadAheadTest, DestroyedWithWorkOutstandingItsWorkersEnd)
{
    for (int i = 0; i < 200; ++i)
        makeFolder("f" + QByteArray::number(i));
    const int before = threadCount();
    {
        FolderReadAhead ahead(top(), 4);
        for (int round = 0; round < 20; ++round)
            for (int i = 0; i < 200; ++i)
                ahead.add(quint64(round * 200 + i + 1), "f" + QByteArray::number(i));
        std::vector<FolderReadAhead::Read> taken;
        ASSERT_TRUE(ahead.waitAny(30s));
        ahead.takeDone(taken, 3);
        EXPECT_FALSE(taken.empty());
    }
    EXPECT_LE(threadCount(), before);
}

// The no-answer rule, on file systems served by the test: a folder that
// answers every piece slowly is read whole, however long the whole takes;
// one that stops answering is given up after the (shortened) bound, its
// place fails at once while the call hangs, and the pool still ends.
class FolderReadAheadPlacesTest : public FolderReadAheadTest
{
protected:
    static constexpr std::chrono::milliseconds kNoAnswer = 1500ms;
};

TEST_F(FolderReadAheadPlacesTest, ASlowButSteadyFolderIsReadWhole)
{
    ASSERT_EQ(::mkdir(path("slow").constData(), 0755), 0);
    // Ten pieces, 300 ms apart: twice the bound in all.
    constexpr int kEntries = 10 * PacedFuse::kEntriesPerPiece;
    PacedFuse slow(path("slow"), kEntries, 300ms);
    if (!slow.mounted())
        GTEST_SKIP() << "no FUSE mount here: " << slow.whyNot().toStdString();

    FolderReadAhead ahead(top(), 1, kNoAnswer);
    ahead.add(1, "slow", path("slow"));
    const auto start = std::chrono::steady_clock::now();
    const std::optional<FolderReadAhead::Read> read = ahead.waitFor(
        1, [] { return true; }, kNoAnswer);
    ASSERT_TRUE(read.has_value());
    EXPECT_GE(std::chrono::steady_clock::now() - start, kNoAnswer);
    EXPECT_EQ(read->error, 0);
    ASSERT_EQ(read->listing.items.size(), size_t(kEntries));
    EXPECT_EQ(namesOf(*read).count(PacedFuse::entryName(kEntries - 1)), 1u);
    EXPECT_EQ(slow.endsAnswered(), 1);
}

TEST_F(FolderReadAheadPlacesTest, AFolderThatFailsHalfWayIsAnErrorNotHalfAFolder)
{
    ASSERT_EQ(::mkdir(path("failing").constData(), 0755), 0);
    PacedFuse failing(path("failing"), 10 * PacedFuse::kEntriesPerPiece, 10ms, 3, EIO);
    if (!failing.mounted())
        GTEST_SKIP() << "no FUSE mount here: " << failing.whyNot().toStdString();

    FolderReadAhead ahead(top(), 1, kNoAnswer);
    ahead.add(1, "failing", path("failing"));
    const std::optional<FolderReadAhead::Read> read = ahead.waitFor(
        1, [] { return true; }, kNoAnswer);
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(failing.piecesAnswered(), 3);
    EXPECT_EQ(read->error, EIO);
    EXPECT_TRUE(read->listing.items.empty());
}

TEST_F(FolderReadAheadPlacesTest, AFolderThatStopsAnsweringIsGivenUp)
{
    ASSERT_EQ(::mkdir(path("quiet").constData(), 0755), 0);
    ASSERT_EQ(::mkdir(path("stalls").constData(), 0755), 0);
    makeFolder("local");
    const QByteArray place = path("quiet");
    const int before = threadCount();
    {
        BlockingFuse quiet(place);
        if (!quiet.mounted())
            GTEST_SKIP() << "no FUSE mount here: " << quiet.whyNot().toStdString();
        // Answers two pieces of its listing, then nothing more.
        PacedFuse stalls(path("stalls"), 10 * PacedFuse::kEntriesPerPiece, 10ms, 2);
        ASSERT_TRUE(stalls.mounted());

        FolderReadAhead ahead(top(), 2, kNoAnswer);
        ahead.add(1, "quiet", place);
        ahead.add(2, "stalls", path("stalls"));
        ahead.add(3, "local");
        int ticks = 0;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(ahead
                         .waitFor(
                             1, [&] { return ++ticks > 0; }, kNoAnswer)
                         .has_value());
        EXPECT_GE(std::chrono::steady_clock::now() - start, kNoAnswer);
        EXPECT_GT(ticks, 10); // the caller was served while it waited
        EXPECT_FALSE(ahead.holds(1));
        // Half a listing is not taken for the folder either.
        EXPECT_FALSE(ahead
                         .waitFor(
                             2, [] { return true; }, kNoAnswer)
                         .has_value());
        EXPECT_EQ(stalls.piecesAnswered(), 2);

        // While the call hangs, its place fails at once; others are read.
        ahead.add(4, "quiet", place);
        const std::optional<FolderReadAhead::Read> again = ahead.waitFor(4, {}, kNoAnswer);
        ASSERT_TRUE(again.has_value());
        EXPECT_EQ(again->error, ENOTCONN);
        EXPECT_EQ(quiet.opens(), 1);
        const std::optional<FolderReadAhead::Read> local = ahead.waitFor(3, {}, kNoAnswer);
        ASSERT_TRUE(local.has_value());
        EXPECT_EQ(namesOf(*local), std::set<QByteArray>{"in-local.lnk"});

        // Destroyed while two workers still hang: it ends all the same.
    }
    // The hung calls fail once the file systems are gone; their workers end
    // and the place is looked at again.
    EXPECT_TRUE(eventually([&] { return threadCount() <= before; }));
    EXPECT_FALSE(BoundedCall::processHungPlaces()->contains(place));
}

// Two reads on one place: one hangs and is given up, the other answers but
// the caller stops waiting for it. When the second returns, the place still
// hangs: its end must not clear the first one's mark.
TEST_F(FolderReadAheadPlacesTest, AReadLeftByTheCallerDoesNotClearAHangingOne)
{
    ASSERT_EQ(::mkdir(path("quiet").constData(), 0755), 0);
    ASSERT_EQ(::mkdir(path("slow").constData(), 0755), 0);
    const QByteArray place = path("one-share");
    BlockingFuse quiet(path("quiet"));
    if (!quiet.mounted())
        GTEST_SKIP() << "no FUSE mount here: " << quiet.whyNot().toStdString();
    PacedFuse slow(path("slow"), 10 * PacedFuse::kEntriesPerPiece, 300ms);
    ASSERT_TRUE(slow.mounted());

    FolderReadAhead ahead(top(), 3, kNoAnswer);
    ASSERT_GE(ahead.workers(), 2);
    ahead.add(1, "quiet", place);
    ahead.add(2, "slow", place);
    ASSERT_TRUE(eventually([&] { return quiet.opens() == 1 && slow.piecesAnswered() >= 1; }));
    EXPECT_FALSE(ahead
                     .waitFor(
                         2, [] { return false; }, kNoAnswer)
                     .has_value());
    EXPECT_FALSE(ahead
                     .waitFor(
                         1, [] { return true; }, kNoAnswer)
                     .has_value());
    ASSERT_TRUE(BoundedCall::processHungPlaces()->contains(place));

    ASSERT_TRUE(eventually([&] { return slow.endsAnswered() == 1; }));
    std::this_thread::sleep_for(500ms); // room for the worker to finish with it
    EXPECT_TRUE(BoundedCall::processHungPlaces()->contains(place));
    quiet.release();
    EXPECT_TRUE(eventually([&] { return !BoundedCall::processHungPlaces()->contains(place); }));
}

} // namespace
