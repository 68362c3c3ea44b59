#include "lnk/LnkTestKit.h"
#include "shell/ResolveKit.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>

namespace {

// A shortcut is repaired only to the same target found again: same kind,
// same name, and what the link recorded about it (a file's size and one of
// its times, a folder's creation time). Anything else leaves its bytes.
class RepairEvidenceTest : public ::testing::Test
{
protected:
    QString win(const QString &relative) const { return m_drives.win(relative); }
    QByteArray posix(const QString &relative) const { return m_drives.posix(relative); }

    // Gives `to` the access and modification times of `from` (as cp -p does).
    void copyTimes(const QString &from, const QString &to) const
    {
        struct stat st;
        ASSERT_EQ(::stat(posix(from).constData(), &st), 0);
        const struct timespec times[2] = {st.st_atim, st.st_mtim};
        ASSERT_EQ(::utimensat(AT_FDCWD, posix(to).constData(), times, 0), 0);
    }

    // Sets a file's access and modification times to a FILETIME.
    void setWriteTime(const QString &relative, quint64 filetime) const
    {
        const time_t seconds = time_t(filetime / 10000000ULL - 11644473600ULL);
        const long nanoseconds = long(filetime % 10000000ULL) * 100;
        const struct timespec times[2] = {{seconds, nanoseconds}, {seconds, nanoseconds}};
        ASSERT_EQ(::utimensat(AT_FDCWD, posix(relative).constData(), times, 0), 0);
    }

    // Writes a shortcut at `relative` to `target` (a path below c:) that
    // recorded the given facts, as Windows records them when it makes one.
    void writeLink(const QString &relative, const QString &target, quint32 attributes, quint64 size,
                   quint64 times, const LnkCreateOptions &options = {}) const
    {
        LnkTargetInfo info;
        info.winPath = linkForm(win(target));
        info.attributes = attributes;
        info.size = size;
        info.creationTime = info.writeTime = info.accessTime = times;
        auto made = LnkFile::create(info, win(relative), options);
        ASSERT_TRUE(std::holds_alternative<LnkFile>(made));
        m_drives.writeFile(relative, std::get<LnkFile>(made).serialize());
    }

    struct Outcome
    {
        win::HRESULT resolved = win::E_FAIL;
        QString stored; // the target the file holds afterwards
        bool unchanged = false;
    };
    Outcome resolve(const QString &relative)
    {
        const FileState before = fileState(posix(relative));
        Outcome o;
        resolvedTarget(m_service, win(relative), &o.resolved);
        o.stored = storedTarget(m_drives, win(relative));
        o.unchanged = fileState(posix(relative)) == before;
        return o;
    }

    TempDrives m_drives;
    ShellLinkService m_service{m_drives.context()};
};

TEST_F(RepairEvidenceTest, ASameNamedProgramIsNotTheTargetButAMovedOneIs)
{
    // Program A (41,234 bytes, 2017) is removed; program B has an
    // uninstall.exe of its own.
    const quint64 in2017 = 131300000000000000ULL;
    writeLink(QStringLiteral("Menu/Uninstall A.lnk"), QStringLiteral("Program Files\\A\\uninstall.exe"), 0x20,
              41234, in2017);
    m_drives.writeFile(QStringLiteral("Program Files/B/uninstall.exe"), QByteArray(90000, 'b'));

    // Program C's tool moved to D: same size and times.
    m_drives.writeFile(QStringLiteral("Program Files/C/tool.exe"), QByteArray(5000, 'c'));
    makeShortcut(m_drives, QStringLiteral("Menu/Tool.lnk"), QStringLiteral("Program Files/C/tool.exe"));
    ASSERT_TRUE(moveFile(m_drives, QStringLiteral("Program Files/C/tool.exe"),
                         QStringLiteral("Program Files/D/tool.exe")));

    const Outcome a = resolve(QStringLiteral("Menu/Uninstall A.lnk"));
    EXPECT_EQ(a.resolved, win::S_FALSE);
    EXPECT_TRUE(a.unchanged);
    EXPECT_EQ(a.stored, linkForm(win(QStringLiteral("Program Files\\A\\uninstall.exe"))));

    const Outcome tool = resolve(QStringLiteral("Menu/Tool.lnk"));
    EXPECT_EQ(tool.resolved, win::S_OK);
    EXPECT_EQ(tool.stored, linkForm(win(QStringLiteral("Program Files\\D\\tool.exe"))));

    // The same size alone, or the same time alone, is not enough either.
    m_drives.writeFile(QStringLiteral("Program Files/E/uninstall.exe"), QByteArray(41234, 'e'));
    m_drives.writeFile(QStringLiteral("Program Files/F/uninstall.exe"), QByteArray(100, 'f'));
    setWriteTime(QStringLiteral("Program Files/F/uninstall.exe"), in2017);
    EXPECT_TRUE(resolve(QStringLiteral("Menu/Uninstall A.lnk")).unchanged);
}

TEST_F(RepairEvidenceTest, ACodePageGuessIsRepairedOnlyOnEvidence)
{
    // A real shortcut whose Cyrillic path (code page 1251) is gone. A file
    // of the same name elsewhere is not its target unless the size (135
    // bytes) and the write time the link recorded agree.
    const QString shortcut = QStringLiteral("Links/Error Fix.lnk");
    m_drives.writeFile(shortcut, sample(QStringLiteral("ansi_cp1251_path.lnk")));
    m_drives.writeFile(QStringLiteral("Other/Error Fix.bat"), "@echo another one");
    EXPECT_TRUE(resolve(shortcut).unchanged);

    m_drives.writeFile(QStringLiteral("Moved/Error Fix.bat"), QByteArray(135, 'x'));
    setWriteTime(QStringLiteral("Moved/Error Fix.bat"), 132435376446784868ULL); // the header's
    const Outcome moved = resolve(shortcut);
    EXPECT_EQ(moved.resolved, win::S_OK);
    EXPECT_EQ(moved.stored, QStringLiteral("C:\\Moved\\Error Fix.bat"));
}

TEST_F(RepairEvidenceTest, RelativePathsLeadingElsewhereAreNotTaken)
{
    // C:\Old\tool.exe is gone; the relative path leads to another file.
    m_drives.writeFile(QStringLiteral("Other/notes.txt"), "notes");
    LnkTargetInfo info;
    info.winPath = linkForm(win(QStringLiteral("Old\\tool.exe")));
    info.attributes = 0x20;
    LnkCreateOptions options;
    options.relativePathText = QStringLiteral("..\\Other\\notes.txt");
    auto made = LnkFile::create(info, win(QStringLiteral("Links\\tool.lnk")), options);
    m_drives.writeFile(QStringLiteral("Links/tool.lnk"), std::get<LnkFile>(made).serialize());
    Outcome o = resolve(QStringLiteral("Links/tool.lnk"));
    EXPECT_EQ(o.resolved, win::S_FALSE);
    EXPECT_TRUE(o.unchanged);

    // A drive root never moves: E:\ (no such drive) with relative ..\..
    // is neither searched for nor rewritten, wherever the relative path
    // leads (a root, like it, or a folder).
    info.winPath = QStringLiteral("E:\\");
    info.attributes = 0x10;
    options.relativePathText = QStringLiteral("..\\..");
    for (const QString &place : {QStringLiteral("a/b/root.lnk"), QStringLiteral("a/b/c/root.lnk")}) {
        made = LnkFile::create(info, win(place), options);
        ASSERT_TRUE(std::holds_alternative<LnkFile>(made));
        m_drives.writeFile(place, std::get<LnkFile>(made).serialize());
        o = resolve(place);
        EXPECT_GE(o.resolved, 0) << place.toStdString();
        EXPECT_TRUE(o.unchanged) << place.toStdString();
    }
}

TEST_F(RepairEvidenceTest, WhatTheLinkDidNotRecordCannotBeMatched)
{
    // A link that recorded no times: a file of its name, kind and size
    // nearby is still not taken for its target.
    m_drives.writeFile(QStringLiteral("docs/report.txt"), "12345");
    LnkTargetInfo info;
    info.winPath = linkForm(win(QStringLiteral("docs\\old\\report.txt")));
    info.attributes = 0x20;
    info.size = 5;
    auto made = LnkFile::create(info, win(QStringLiteral("links\\r.lnk")));
    m_drives.writeFile(QStringLiteral("links/r.lnk"), std::get<LnkFile>(made).serialize());
    EXPECT_TRUE(resolve(QStringLiteral("links/r.lnk")).unchanged);

    // Nor without the kind.
    m_drives.writeFile(QStringLiteral("docs/a/b.txt"), "b");
    makeShortcut(m_drives, QStringLiteral("links/b.lnk"), QStringLiteral("docs/a/b.txt"));
    QByteArray bytes = readWholeFile(posix(QStringLiteral("links/b.lnk")));
    bytes[0x18] = bytes[0x19] = bytes[0x1A] = bytes[0x1B] = 0; // attributes unknown
    m_drives.writeFile(QStringLiteral("links/b.lnk"), bytes);
    ASSERT_TRUE(moveFile(m_drives, QStringLiteral("docs/a/b.txt"), QStringLiteral("docs/z/b.txt")));
    EXPECT_TRUE(resolve(QStringLiteral("links/b.lnk")).unchanged);

    // A file of the right name, size and time, but the link wants a folder.
    const quint64 in2015 = 130700000000000000ULL;
    writeLink(QStringLiteral("links/photos.lnk"), QStringLiteral("docs\\photos"), 0x10, 0, in2015);
    m_drives.writeFile(QStringLiteral("docs/x/photos"), "");
    setWriteTime(QStringLiteral("docs/x/photos"), in2015);
    EXPECT_TRUE(resolve(QStringLiteral("links/photos.lnk")).unchanged);
}

TEST_F(RepairEvidenceTest, TimesOnlyTheIdListRecordedAreEvidenceToo)
{
    // Headers without times (as scripts make them) over IDLists that hold
    // the target's write time: the one whose time the moved file shows is
    // repaired, the one whose time it does not is left.
    const quint64 in2019 = 132000000000000000ULL, in2016 = 131000000000000000ULL;
    for (const auto &[name, when] : {std::pair("kept", in2019), std::pair("other", in2016)}) {
        const QString link = QStringLiteral("links/%1.lnk").arg(QLatin1String(name));
        const QString file = QStringLiteral("docs\\%1.txt").arg(QLatin1String(name));
        writeLink(link, file, 0x20, 5, when);
        QByteArray bytes = readWholeFile(posix(link));
        bytes.replace(0x1C, 24, QByteArray(24, '\0')); // creation, access and write time
        m_drives.writeFile(link, bytes);
        m_drives.writeFile(QStringLiteral("docs/moved/%1.txt").arg(QLatin1String(name)), "12345");
        setWriteTime(QStringLiteral("docs/moved/%1.txt").arg(QLatin1String(name)), in2019);
    }
    EXPECT_EQ(resolve(QStringLiteral("links/kept.lnk")).stored,
              linkForm(win(QStringLiteral("docs\\moved\\kept.txt"))));
    EXPECT_TRUE(resolve(QStringLiteral("links/other.lnk")).unchanged);
}

TEST_F(RepairEvidenceTest, AFolderIsKnownByItsCreationTime)
{
    m_drives.makeFolder(QStringLiteral("work/Project"));
    FileFacts facts;
    ASSERT_EQ(readFacts(posix(QStringLiteral("work/Project")), facts), FactsStatus::Found);
    if (facts.creationTime == 0)
        GTEST_SKIP() << "this file system keeps no birth times";
    makeShortcut(m_drives, QStringLiteral("links/project.lnk"), QStringLiteral("work/Project"));
    // A folder of that name is made beside it (its birth may fall in the
    // same clock tick), and the project itself moves, less deep.
    m_drives.makeFolder(QStringLiteral("work/a/b/Project"));
    ASSERT_TRUE(moveFile(m_drives, QStringLiteral("work/Project"), QStringLiteral("work/2024/Project")));
    QByteArray recorded = readWholeFile(posix(QStringLiteral("links/project.lnk")));

    Outcome o = resolve(QStringLiteral("links/project.lnk"));
    EXPECT_EQ(o.resolved, win::S_OK);
    EXPECT_EQ(o.stored, linkForm(win(QStringLiteral("work\\2024\\Project"))));

    // Recorded with another creation time, no folder is that one.
    recorded[0x1C + 7] = char(recorded[0x1C + 7] ^ 0x01); // years apart
    m_drives.writeFile(QStringLiteral("links/other.lnk"), recorded);
    EXPECT_TRUE(resolve(QStringLiteral("links/other.lnk")).unchanged);
}

TEST_F(RepairEvidenceTest, TwoEquallyGoodCandidatesAreNotGuessedBetween)
{
    // Two copies of the recorded size and write time, equally deep.
    const quint64 in2016 = 131000000000000000ULL;
    writeLink(QStringLiteral("links/data.lnk"), QStringLiteral("old\\data.bin"), 0x20, 8, in2016);
    for (const QString &copy : {QStringLiteral("x/data.bin"), QStringLiteral("y/data.bin")}) {
        m_drives.writeFile(copy, "12345678");
        setWriteTime(copy, in2016);
    }
    EXPECT_TRUE(resolve(QStringLiteral("links/data.lnk")).unchanged);
    // Nearness and depth never decide: one of them nearer the old place and
    // less deep is no better.
    m_drives.makeFolder(QStringLiteral("old"));
    ASSERT_TRUE(moveFile(m_drives, QStringLiteral("y/data.bin"), QStringLiteral("old/data.bin")));
    EXPECT_TRUE(resolve(QStringLiteral("links/data.lnk")).unchanged);
}

TEST_F(RepairEvidenceTest, CopiesContradictedEntriesAndRecycleBinsAreNotTheTarget)
{
    m_drives.writeFile(QStringLiteral("Apps/Tool/app.exe"), QByteArray(5000, 'a'));
    m_drives.writeFile(QStringLiteral("Docs/plan.txt"), "the plan");
    m_drives.writeFile(QStringLiteral("Bin/kept.exe"), QByteArray(300, 'k'));
    FileFacts facts;
    ASSERT_EQ(readFacts(posix(QStringLiteral("Docs/plan.txt")), facts), FactsStatus::Found);
    if (facts.creationTime == 0)
        GTEST_SKIP() << "this file system keeps no birth times";
    makeShortcut(m_drives, QStringLiteral("links/app.lnk"), QStringLiteral("Apps/Tool/app.exe"));
    makeShortcut(m_drives, QStringLiteral("links/plan.lnk"), QStringLiteral("Docs/plan.txt"));
    makeShortcut(m_drives, QStringLiteral("links/kept.lnk"), QStringLiteral("Bin/kept.exe"));
    // What follows is born later than what the shortcuts recorded, by more
    // than the two seconds within which times agree.
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));

    // The program deleted, the uninstaller beside it has its size and write
    // time but was born apart: not the program.
    ASSERT_TRUE(QFile::copy(QFile::decodeName(posix(QStringLiteral("Apps/Tool/app.exe"))),
                            QFile::decodeName(posix(QStringLiteral("Apps/Tool/unins000.exe")))));
    copyTimes(QStringLiteral("Apps/Tool/app.exe"), QStringLiteral("Apps/Tool/unins000.exe"));
    ASSERT_EQ(::unlink(posix(QStringLiteral("Apps/Tool/app.exe")).constData()), 0);
    EXPECT_TRUE(resolve(QStringLiteral("links/app.lnk")).unchanged);

    // A copy with the original's times (cp -p) left in the old folder, the
    // original moved further away: the original.
    m_drives.writeFile(QStringLiteral("Docs/plan - Copy.txt"), "the plan");
    m_drives.writeFile(QStringLiteral("Docs/Old/plan.txt"), "the plan");
    copyTimes(QStringLiteral("Docs/plan.txt"), QStringLiteral("Docs/plan - Copy.txt"));
    copyTimes(QStringLiteral("Docs/plan.txt"), QStringLiteral("Docs/Old/plan.txt"));
    ASSERT_TRUE(
        moveFile(m_drives, QStringLiteral("Docs/plan.txt"), QStringLiteral("Archive/2024/deep/plan.txt")));
    EXPECT_EQ(resolve(QStringLiteral("links/plan.lnk")).stored,
              linkForm(win(QStringLiteral("Archive\\2024\\deep\\plan.txt"))));

    // Deleted into a recycle bin, the only entry of its name and facts is
    // no place to point at.
    ASSERT_TRUE(moveFile(m_drives, QStringLiteral("Bin/kept.exe"),
                         QStringLiteral("$Recycle.Bin/S-1-5-21-1000/$R0A1B2C/kept.exe")));
    EXPECT_TRUE(resolve(QStringLiteral("links/kept.lnk")).unchanged);
}

} // namespace
