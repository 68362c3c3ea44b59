// Scans of a drive with a file system mounted in it that answers slowly,
// stops answering half-way, or fails half-way (served by the test, with the
// no-answer bound shortened): a slow folder is waited for and read whole, one
// that stops answering or fails is passed over and named, and the rest of the
// drive is judged as usual.

#include "support/PacedFuse.h"
#include "support/TempDrives.h"

#include "lnk/LnkFile.h"
#include "platform/DriveContext.h"
#include "scan/ShortcutScan.h"
#include "shell/ShellLinkService.h"

#include <gtest/gtest.h>

#include <chrono>
#include <variant>

namespace {

using namespace std::chrono_literals;

constexpr std::chrono::milliseconds kNoAnswer = 1500ms;

class Recorder : public ScanObserver
{
public:
    QStringList broken;
    QList<PassedOver> passed;
    ScanCounts counts;
    bool finished = false, stopped = false;
    int ticks = 0;

    void passedOver(const PassedOver &entry) override
    {
        if (!entry.byRule())
            passed << entry;
    }
    void shortcutJudged(const LinkVerdict &verdict) override
    {
        if (verdict.status == LinkVerdict::Status::Broken)
            broken << verdict.shortcut;
    }
    void scanFinished(const ScanCounts &done, bool wasStopped) override
    {
        counts = done;
        finished = true;
        stopped = wasStopped;
    }
    void tick() override { ++ticks; }
};

class SlowPlaceTest : public ::testing::Test
{
protected:
    SlowPlaceTest()
    {
        drives.context()->setNoAnswer(kNoAnswer);
        // Its target's drive is empty: the search for it ends at once.
        LnkTargetInfo info;
        info.winPath = QStringLiteral("D:\\Gone\\missing.exe");
        info.attributes = 0x20;
        auto made = LnkFile::create(info, QStringLiteral("c:\\x.lnk"));
        EXPECT_TRUE(std::holds_alternative<LnkFile>(made));
        if (std::holds_alternative<LnkFile>(made))
            drives.writeFile(QStringLiteral("links/gone.lnk"), std::get<LnkFile>(made).serialize());
        drives.makeFolder(QStringLiteral("share"));
        drives.makeFolder(QStringLiteral("zz-after"));
        if (std::holds_alternative<LnkFile>(made))
            drives.writeFile(QStringLiteral("zz-after/gone too.lnk"), std::get<LnkFile>(made).serialize());
    }

    Recorder scanned()
    {
        Recorder recorder;
        walker.run(QStringLiteral("c:\\"), recorder);
        recorder.broken.sort();
        return recorder;
    }

    const QStringList expectedBroken = {QStringLiteral("c:\\links\\gone.lnk"),
                                        QStringLiteral("c:\\zz-after\\gone too.lnk")};
    TempDrives drives{QStringLiteral("cd")};
    ShellLinkService service{drives.context()};
    ShortcutScan walker{service, drives.context()};
};

// Each piece of the share's listing comes after a pause well inside the
// bound, the whole well beyond it: waited for, nothing passed over.
TEST_F(SlowPlaceTest, ASlowButSteadyShareIsWaitedForAndReadWhole)
{
    constexpr int kEntries = 10 * PacedFuse::kEntriesPerPiece;
    PacedFuse share(drives.posix(QStringLiteral("share")), kEntries, 250ms);
    if (!share.mounted())
        GTEST_SKIP() << "no FUSE mount here: " << share.whyNot().toStdString();

    const auto start = std::chrono::steady_clock::now();
    const Recorder scan = scanned();
    EXPECT_GE(std::chrono::steady_clock::now() - start, kNoAnswer);
    ASSERT_TRUE(scan.finished);
    EXPECT_FALSE(scan.stopped);
    EXPECT_TRUE(scan.passed.isEmpty()) << scan.passed.value(0).path.toStdString();
    EXPECT_EQ(scan.counts.passedOver, 0);
    EXPECT_GE(share.endsAnswered(), 1); // read to its end
    EXPECT_EQ(scan.broken, expectedBroken);
    EXPECT_GT(scan.ticks, 10); // the observer was served during the wait
}

// The share answers the first pieces of its listing and then nothing: it is
// passed over as not answering, named, and the walk goes on after it.
TEST_F(SlowPlaceTest, AShareThatStopsAnsweringIsPassedOverAndNamed)
{
    PacedFuse share(drives.posix(QStringLiteral("share")), 10 * PacedFuse::kEntriesPerPiece, 50ms, 2);
    if (!share.mounted())
        GTEST_SKIP() << "no FUSE mount here: " << share.whyNot().toStdString();

    const Recorder scan = scanned();
    ASSERT_TRUE(scan.finished);
    EXPECT_FALSE(scan.stopped);
    ASSERT_EQ(scan.passed.size(), 1);
    EXPECT_EQ(scan.passed[0].reason, PassedOver::Reason::NoAnswer);
    EXPECT_EQ(scan.passed[0].path.toLower(), QStringLiteral("c:\\share\\"));
    EXPECT_EQ(scan.passed[0].posixPath, drives.posix(QStringLiteral("share")));
    EXPECT_EQ(scan.counts.passedOver, 1); // the run is not complete
    EXPECT_EQ(scan.broken, expectedBroken);
}

// A listing that fails half-way is not taken for the whole folder: the
// share is named instead of being walked in part (an I/O error is a device
// that is not ready, as Windows has it).
TEST_F(SlowPlaceTest, AShareThatFailsHalfWayIsNamedNotWalkedInPart)
{
    PacedFuse share(drives.posix(QStringLiteral("share")), 10 * PacedFuse::kEntriesPerPiece, 10ms, 2, EIO);
    if (!share.mounted())
        GTEST_SKIP() << "no FUSE mount here: " << share.whyNot().toStdString();

    const Recorder scan = scanned();
    ASSERT_TRUE(scan.finished);
    ASSERT_EQ(scan.passed.size(), 1);
    EXPECT_EQ(scan.passed[0].reason, PassedOver::Reason::NoAnswer);
    EXPECT_EQ(scan.passed[0].posixPath, drives.posix(QStringLiteral("share")));
    EXPECT_EQ(scan.counts.passedOver, 1);
    EXPECT_EQ(scan.broken, expectedBroken);
}

} // namespace
