#include "review/ResultReview.h"

#include "ReviewFakes.h"
#include "lnk/LnkFile.h"
#include "shell/ShellLinkService.h"
#include "shell/ShellTestKit.h"
#include "support/TempDrives.h"

#include <QDesktopServices>

#include <gtest/gtest.h>

namespace {

class ResultListActionsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // The application hands folder URLs to QDesktopServices; catch them.
        m_ui.forwardUrls = true;
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &m_catcher, "open");
    }
    void TearDown() override { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }

    // Writes a real shortcut to a target; returns its bytes.
    QByteArray writeShortcut(const QString &relative, const QString &target)
    {
        LnkTargetInfo info;
        info.winPath = target;
        auto link = LnkFile::create(info, m_drives.win(relative));
        EXPECT_TRUE(std::holds_alternative<LnkFile>(link));
        const QByteArray bytes = std::get<LnkFile>(link).serialize();
        m_drives.writeFile(relative, bytes);
        return bytes;
    }

    QUrl folderUrl(const QString &relative) const
    {
        return QUrl::fromLocalFile(QFile::decodeName(m_drives.posix(relative)));
    }

    TempDrives m_drives;
    FakeHost m_host;
    ShellLinkService m_links{m_drives.context()};
    FakeShellUi m_ui;
    std::unique_ptr<ShellServices> m_shell = ShellServices::create(m_ui, m_drives.context());
    ResultReview m_review{m_host, m_links, *m_shell};
    UrlCatcher m_catcher;
};

TEST_F(ResultListActionsTest, HintShowsTheTargetTheShortcutHoldsNowAndNeverRepairsIt)
{
    // A missing target with a look-alike nearby: a resolve would find it and
    // rewrite the shortcut, which a hint must never do.
    m_drives.writeFile(QStringLiteral("Apps/Moved/app.exe"), "exe");
    const QByteArray bytes =
        writeShortcut(QStringLiteral("Desktop/Old.lnk"), QStringLiteral("C:\\Apps\\app.exe"));
    writeShortcut(QStringLiteral("Desktop/Tool.lnk"), QStringLiteral("C:\\Apps\\Moved\\app.exe"));
    m_host.fill(
        {m_drives.win(QStringLiteral("Desktop/Old.lnk")), m_drives.win(QStringLiteral("Desktop/Tool.lnk"))});

    m_review.showTarget(ResultList::CheckList); // nothing selected yet
    EXPECT_TRUE(m_host.checkListToolTip.isEmpty());

    m_host.checkListSelected = 0;
    m_review.showTarget(ResultList::CheckList);
    EXPECT_EQ(m_host.checkListToolTip, QStringLiteral("Points to C:\\Apps\\app.exe"));
    EXPECT_EQ(readWholeFile(m_drives.posix(QStringLiteral("Desktop/Old.lnk"))), bytes);
    EXPECT_TRUE(m_host.listBoxToolTip.isEmpty());

    // Changed on disk since the scan: the new target shows.
    writeShortcut(QStringLiteral("Desktop/Old.lnk"), QStringLiteral("D:\\Gone\\app.exe"));
    m_review.showTarget(ResultList::CheckList);
    EXPECT_EQ(m_host.checkListToolTip, QStringLiteral("Points to D:\\Gone\\app.exe"));

    // Deleted since the scan: nothing after the words.
    ASSERT_TRUE(QFile::remove(QFile::decodeName(m_drives.posix(QStringLiteral("Desktop/Old.lnk")))));
    m_review.showTarget(ResultList::CheckList);
    EXPECT_EQ(m_host.checkListToolTip, QStringLiteral("Points to "));

    // The hidden list has its own hint.
    m_host.listBoxSelected = 1;
    m_review.showTarget(ResultList::PlainList);
    EXPECT_EQ(m_host.listBoxToolTip, QStringLiteral("Points to C:\\Apps\\Moved\\app.exe"));
    EXPECT_EQ(m_host.checkListToolTip, QStringLiteral("Points to "));
}

TEST_F(ResultListActionsTest, DoubleClickOpensTheFolderThatHoldsTheShortcut)
{
    m_drives.writeFile(QStringLiteral("Users/Public/Desktop/Old.lnk"), "x");
    m_drives.writeFile(QStringLiteral("Top.lnk"), "y");
    m_host.fill({m_drives.win(QStringLiteral("Users/Public/Desktop/Old.lnk")),
                 m_drives.win(QStringLiteral("Top.lnk"))});

    m_review.openFolderOf(ResultList::CheckList); // nothing selected
    m_review.openFolderOf(ResultList::PlainList);
    EXPECT_TRUE(m_catcher.urls.isEmpty());

    m_host.checkListSelected = 0;
    m_review.openFolderOf(ResultList::CheckList);
    m_host.checkListSelected = 1;
    m_review.openFolderOf(ResultList::CheckList);
    m_host.listBoxSelected = 0;
    m_review.openFolderOf(ResultList::PlainList);
    EXPECT_EQ(m_catcher.urls,
              (QList<QUrl>{folderUrl(QStringLiteral("Users/Public/Desktop")), folderUrl(QString()),
                           folderUrl(QStringLiteral("Users/Public/Desktop"))}));
}

} // namespace
