#include "shell/ResolveKit.h"

#include <QFile>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace {

class ShellLinkServiceTest : public ::testing::Test
{
protected:
    QString win(const QString &relative) const { return m_drives.win(relative); }
    QByteArray posix(const QString &relative) const { return m_drives.posix(relative); }

    TempDrives m_drives;
    ShellLinkService m_service{m_drives.context()};
};

TEST_F(ShellLinkServiceTest, InterfacesOfOneObjectShareItsState)
{
    m_drives.writeFile(QStringLiteral("docs/a.txt"), "a");
    makeShortcut(m_drives, QStringLiteral("a.lnk"), QStringLiteral("docs/a.txt"));

    std::unique_ptr<ShellLink> link;
    ASSERT_EQ(m_service.CoCreateInstance(link), win::S_OK);
    std::unique_ptr<PersistFile> file;
    ASSERT_EQ(link->QueryPersistFile(file), win::S_OK); // exactly S_OK
    ASSERT_TRUE(file);
    EXPECT_EQ(file->Load(win(QStringLiteral("a.lnk")), win::STGM_READ), win::S_OK);

    char16_t buffer[win::MAX_PATH + 1] = {};
    win::WIN32_FIND_DATAW findData;
    EXPECT_EQ(link->GetPath(buffer, win::MAX_PATH, &findData, win::SLGP_UNCPRIORITY), win::S_OK);
    EXPECT_EQ(QString::fromUtf16(buffer), linkForm(win(QStringLiteral("docs\\a.txt"))));
    EXPECT_EQ(QString::fromUtf16(findData.cFileName), QStringLiteral("a.txt"));
    EXPECT_EQ(findData.nFileSize, 1u);

    // Either interface may go first; the other keeps working.
    link.reset();
    EXPECT_EQ(file->Load(win(QStringLiteral("a.lnk")), win::STGM_READ), win::S_OK);
    file.reset();

    // The service may go before its link objects.
    auto service = std::make_unique<ShellLinkService>(m_drives.context());
    ASSERT_EQ(service->CoCreateInstance(link), win::S_OK);
    ASSERT_EQ(link->QueryPersistFile(file), win::S_OK);
    service.reset();
    EXPECT_EQ(file->Load(win(QStringLiteral("a.lnk")), win::STGM_READ), win::S_OK);
    EXPECT_EQ(link->Resolve(0, win::SLR_NO_UI | win::SLR_UPDATE), win::S_OK);
}

TEST_F(ShellLinkServiceTest, GetPathHonoursTheBuffer)
{
    std::unique_ptr<ShellLink> link;
    ASSERT_EQ(m_service.CoCreateInstance(link), win::S_OK);
    char16_t buffer[win::MAX_PATH + 1];
    std::fill(std::begin(buffer), std::end(buffer), u'#');
    // A new, empty link has no path.
    EXPECT_EQ(link->GetPath(buffer, win::MAX_PATH, nullptr, win::SLGP_UNCPRIORITY), win::S_FALSE);
    EXPECT_EQ(buffer[0], u'\0');
    EXPECT_EQ(link->GetPath(buffer, 0, nullptr, 0), win::E_INVALIDARG);
    EXPECT_EQ(link->GetPath(nullptr, 10, nullptr, 0), win::E_INVALIDARG);

    m_drives.writeFile(QStringLiteral("docs/a long name.txt"), "a");
    makeShortcut(m_drives, QStringLiteral("a.lnk"), QStringLiteral("docs/a long name.txt"));
    std::unique_ptr<PersistFile> file;
    ASSERT_EQ(link->QueryPersistFile(file), win::S_OK);
    ASSERT_EQ(file->Load(win(QStringLiteral("a.lnk")), win::STGM_READ), win::S_OK);

    // At most cch - 1 characters and a zero; nothing beyond cch is touched.
    // A path that does not fit is a failure, with what fits in the buffer.
    std::fill(std::begin(buffer), std::end(buffer), u'#');
    EXPECT_EQ(link->GetPath(buffer, 6, nullptr, win::SLGP_UNCPRIORITY), win::hresultFromWin32(122));
    EXPECT_EQ(QString::fromUtf16(buffer), linkForm(win(QStringLiteral("docs\\a long name.txt"))).left(5));
    EXPECT_EQ(buffer[6], u'#');
    EXPECT_EQ(link->GetPath(buffer, win::MAX_PATH, nullptr, win::SLGP_UNCPRIORITY), win::S_OK);
    EXPECT_EQ(QString::fromUtf16(buffer), linkForm(win(QStringLiteral("docs\\a long name.txt"))));
}

TEST_F(ShellLinkServiceTest, LoadRefusesWhatIsNotAShortcut)
{
    std::unique_ptr<ShellLink> link;
    ASSERT_EQ(m_service.CoCreateInstance(link), win::S_OK);
    std::unique_ptr<PersistFile> file;
    ASSERT_EQ(link->QueryPersistFile(file), win::S_OK);

    EXPECT_LT(file->Load(win(QStringLiteral("missing.lnk")), win::STGM_READ), 0);
    m_drives.writeFile(QStringLiteral("text.lnk"), "this is not a shortcut");
    EXPECT_LT(file->Load(win(QStringLiteral("text.lnk")), win::STGM_READ), 0);
    m_drives.writeFile(QStringLiteral("empty.lnk"), QByteArray());
    EXPECT_LT(file->Load(win(QStringLiteral("empty.lnk")), win::STGM_READ), 0);
    m_drives.makeFolder(QStringLiteral("folder.lnk"));
    EXPECT_LT(file->Load(win(QStringLiteral("folder.lnk")), win::STGM_READ), 0);

    // A FIFO would block a plain open() until a writer came along.
    ASSERT_EQ(::mkfifo(posix(QStringLiteral("pipe.lnk")).constData(), 0600), 0);
    EXPECT_LT(file->Load(win(QStringLiteral("pipe.lnk")), win::STGM_READ), 0);

    // A valid link followed by a mountain of bytes is refused by its size.
    m_drives.writeFile(QStringLiteral("docs/a.txt"), "a");
    QByteArray huge = shortcutBytes(posix(QStringLiteral("docs/a.txt")), win(QStringLiteral("docs\\a.txt")),
                                    win(QStringLiteral("huge.lnk")));
    huge.append(QByteArray(ShellLinkService::kMaxLinkFileSize, '\0'));
    m_drives.writeFile(QStringLiteral("huge.lnk"), huge);
    EXPECT_LT(file->Load(win(QStringLiteral("huge.lnk")), win::STGM_READ), 0);

    // A failed load leaves an empty link: no path, nothing to resolve.
    char16_t buffer[win::MAX_PATH + 1] = {u'x'};
    EXPECT_EQ(link->GetPath(buffer, win::MAX_PATH, nullptr, win::SLGP_UNCPRIORITY), win::S_FALSE);
    EXPECT_EQ(buffer[0], u'\0');
}

// A scan's bracket: listings are offered and kept from one link to the next
// only between its two ends; the end forgets them and drops the hook.
TEST_F(ShellLinkServiceTest, ScanBracketKeepsListingsOnlyForTheScan)
{
    m_drives.writeFile(QStringLiteral("docs/a.txt"), "a");
    makeShortcut(m_drives, QStringLiteral("links/a.lnk"), QStringLiteral("docs/a.txt"));
    ASSERT_TRUE(moveFile(m_drives, QStringLiteral("docs/a.txt"), QStringLiteral("docs/moved/a.txt")));
    EXPECT_EQ(m_service.scanListings(), nullptr);

    m_service.beginScan([] {});
    EXPECT_NE(m_service.scanListings(), nullptr);
    {
        LinkSession session(m_service, win(QStringLiteral("links/a.lnk")));
        EXPECT_EQ(session.resolve(win::SLR_NO_UI), win::S_OK);
        EXPECT_EQ(session.path(), linkForm(win(QStringLiteral("docs\\moved\\a.txt"))));
    }
    EXPECT_GT(m_service.cachedEntries(), 0); // kept for the next link of the scan

    m_service.endScan();
    EXPECT_EQ(m_service.scanListings(), nullptr);
    EXPECT_EQ(m_service.cachedEntries(), 0);
}

} // namespace
