// The service's verdict on a shortcut is a function of the shortcut and the
// disk alone, and one rule decides whether its target exists.

#include "lnk/LnkTestKit.h"
#include "shell/ResolveKit.h"
#include "support/UnprivilegedFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <vector>

#include <sys/stat.h>

namespace {

struct Seen
{
    LinkVerdict::Status status;
    QString target;
    friend bool operator==(const Seen &, const Seen &) = default;
};

class LinkVerdictTest : public ::testing::Test
{
protected:
    Seen judge(const QString &relative)
    {
        const LinkVerdict verdict = m_service.judge(m_drives.win(relative), LinkJudge::Options{});
        return {verdict.status, verdict.target};
    }
    void writeLink(const QString &relative, const QString &target)
    {
        LnkTargetInfo info;
        info.winPath = target;
        info.attributes = 0x20;
        m_drives.writeFile(relative,
                           std::get<LnkFile>(LnkFile::create(info, m_drives.win(relative))).serialize());
    }

    TempDrives m_drives{QStringLiteral("c")};
    ShellLinkService m_service{m_drives.context()};
};

TEST_F(LinkVerdictTest, TheSameVerdictsInEveryOrder)
{
    // ANSI paths in two code pages whose targets exist, one whose target is
    // gone, and one made by our own writer.
    m_drives.writeFile(QString::fromUtf8("日本/レポート.txt"), "x");
    m_drives.writeFile(QString::fromUtf8("Users/Résumé/cv.txt"), "x");
    m_drives.writeFile(QStringLiteral("tools/app.exe"), "x");
    m_drives.writeFile(
        QStringLiteral("links/japanese.lnk"),
        linkWithInfo(ansiLinkInfo("C:\\\x93\xfa\x96{\\\x83\x8c\x83|\x81[\x83g.txt", {}, {})).serialize());
    m_drives.writeFile(QStringLiteral("links/western.lnk"),
                       linkWithInfo(ansiLinkInfo("C:\\Users\\R\xe9sum\xe9\\cv.txt", {}, {})).serialize());
    m_drives.writeFile(QStringLiteral("links/gone.lnk"),
                       linkWithInfo(ansiLinkInfo("C:\\\x93\xfa\x96{\\gone.txt", {}, {})).serialize());
    writeLink(QStringLiteral("links/app.lnk"), m_drives.win(QStringLiteral("tools/app.exe")));
    const QStringList links = {QStringLiteral("links/japanese.lnk"), QStringLiteral("links/western.lnk"),
                               QStringLiteral("links/gone.lnk"), QStringLiteral("links/app.lnk")};

    std::vector<Seen> alone;
    for (const QString &link : links) {
        ShellLinkService fresh(m_drives.context());
        const LinkVerdict verdict = fresh.judge(m_drives.win(link), LinkJudge::Options{});
        alone.push_back({verdict.status, verdict.target});
    }
    EXPECT_EQ(alone[0].status, LinkVerdict::Status::Healthy);
    EXPECT_EQ(alone[0].target, QString::fromUtf8("C:\\日本\\レポート.txt"));
    EXPECT_EQ(alone[1].status, LinkVerdict::Status::Healthy);
    EXPECT_EQ(alone[2].status, LinkVerdict::Status::Broken);
    EXPECT_EQ(alone[3].status, LinkVerdict::Status::Healthy);

    // One service, every order: nothing carries over from one to the next.
    std::vector<size_t> order(size_t(links.size()));
    std::iota(order.begin(), order.end(), size_t{0});
    do {
        for (const size_t i : order)
            EXPECT_EQ(judge(links[qsizetype(i)]), alone[i]) << links[qsizetype(i)].toStdString();
    } while (!HasFailure() && std::next_permutation(order.begin(), order.end()));
}

TEST_F(LinkVerdictTest, ATargetTheUserMayNotLookAtLeavesTheShortcutUnjudged)
{
    m_drives.writeFile(QStringLiteral("Private/app.exe"), "x");
    m_drives.writeFile(QStringLiteral("Open/tool.exe"), "x");
    writeLink(QStringLiteral("Desktop/Private.lnk"), m_drives.win(QStringLiteral("Private/app.exe")));
    writeLink(QStringLiteral("Desktop/PrivateGone.lnk"), m_drives.win(QStringLiteral("Private/gone.exe")));
    writeLink(QStringLiteral("Desktop/Open.lnk"), m_drives.win(QStringLiteral("Open/tool.exe")));
    ASSERT_EQ(::chmod(m_drives.posix(QStringLiteral("Private")).constData(), 0700), 0);
    UnprivilegedFiles::letEveryoneThrough(m_drives.root());
    const UnprivilegedFiles unprivileged;
    if (!unprivileged.binding())
        GTEST_SKIP() << "permissions cannot be made to bind here";

    // Whether or not it is there, a target in a folder the user may not
    // enter is neither there nor missing: never listed, never searched for.
    for (const char *name : {"Desktop/Private.lnk", "Desktop/PrivateGone.lnk"}) {
        const LinkVerdict verdict = m_service.judge(m_drives.win(QString::fromLatin1(name)),
                                                    LinkJudge::Options{true, true, 0, false});
        EXPECT_EQ(verdict.status, LinkVerdict::Status::Unjudged) << name;
        EXPECT_TRUE(verdict.reason.contains(QLatin1String("cannot be looked at")))
            << verdict.reason.toStdString();
        EXPECT_FALSE(verdict.repair);
        EXPECT_FALSE(verdict.listed(false));
    }
    EXPECT_EQ(judge(QStringLiteral("Desktop/Open.lnk")).status, LinkVerdict::Status::Healthy);
}

} // namespace
