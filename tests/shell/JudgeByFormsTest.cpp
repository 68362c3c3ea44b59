#include "lnk/LnkTestKit.h"
#include "shell/ResolveKit.h"

#include <QDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A shortcut is broken only when no form of its target exists; where the
// forms disagree, the one that exists is the target. Judged by the real
// service on temporary drives c: and d:, with links our codec writes and
// real Windows-made ones.
class JudgeByFormsTest : public ::testing::Test
{
protected:
    QString win(const QString &relative, QChar letter = QLatin1Char('c')) const
    {
        return m_drives.win(relative, letter);
    }
    QByteArray posix(const QString &relative, QChar letter = QLatin1Char('c')) const
    {
        return m_drives.posix(relative, letter);
    }

    // Writes a link made by our codec at `relative` (drive c:).
    void writeLink(const QString &relative, const LnkTargetInfo &info, const LnkCreateOptions &options = {})
    {
        auto made = LnkFile::create(info, win(relative), options);
        ASSERT_TRUE(std::holds_alternative<LnkFile>(made)) << std::get<LnkError>(made).what.toStdString();
        m_drives.writeFile(relative, std::get<LnkFile>(made).serialize());
    }

    // Resolves with update as the scan does: the result, the path GetPath
    // gives, and whether the file kept its bytes.
    struct Verdict
    {
        win::HRESULT resolved = win::E_FAIL;
        QString path;
        bool unchanged = false;
    };
    Verdict judge(const QString &relative)
    {
        const FileState before = fileState(posix(relative));
        Verdict v;
        v.path = resolvedTarget(m_service, win(relative), &v.resolved);
        v.unchanged = fileState(posix(relative)) == before;
        return v;
    }

    TempDrives m_drives{QStringLiteral("cd")};
    ShellLinkService m_service{m_drives.context()};
};

TEST_F(JudgeByFormsTest, TheFormThatExistsIsTheTarget)
{
    // A Start-menu shortcut made on a machine whose Windows lived on D::
    // %windir% in the environment block, D:\Windows in LinkInfo and IDList.
    LnkTargetInfo info;
    info.winPath = QStringLiteral("D:\\Windows\\System32\\charmap.exe");
    info.attributes = 0x20;
    LnkCreateOptions options;
    options.environmentTarget = QStringLiteral("%windir%\\system32\\charmap.exe");
    writeLink(QStringLiteral("Menu/Character Map.lnk"), info, options);

    // Only the LinkInfo form exists: not broken, not rewritten, and the
    // path shown is the one that exists.
    m_drives.writeFile(QStringLiteral("Windows/System32/charmap.exe"), "x", QLatin1Char('d'));
    Verdict v = judge(QStringLiteral("Menu/Character Map.lnk"));
    EXPECT_EQ(v.resolved, win::S_OK);
    EXPECT_EQ(v.path, info.winPath);
    EXPECT_TRUE(v.unchanged);

    // The reverse: only the environment form exists.
    ASSERT_EQ(::unlink(posix(QStringLiteral("Windows/System32/charmap.exe"), QLatin1Char('d')).constData()),
              0);
    m_drives.writeFile(QStringLiteral("Windows/system32/charmap.exe"), "x");
    v = judge(QStringLiteral("Menu/Character Map.lnk"));
    EXPECT_EQ(v.resolved, win::S_OK);
    EXPECT_EQ(v.path, QStringLiteral("c:\\Windows\\system32\\charmap.exe"));
    EXPECT_TRUE(v.unchanged);

    // Neither: broken, and the path shown is the first form, as Windows
    // shows it (the environment block, which holds a variable).
    ASSERT_EQ(::unlink(posix(QStringLiteral("Windows/system32/charmap.exe")).constData()), 0);
    v = judge(QStringLiteral("Menu/Character Map.lnk"));
    EXPECT_EQ(v.resolved, win::S_FALSE);
    EXPECT_EQ(v.path, QStringLiteral("c:\\Windows\\system32\\charmap.exe"));
    EXPECT_TRUE(v.unchanged);
}

TEST_F(JudgeByFormsTest, ALinkWithOnlyARelativePathIsJudgedByIt)
{
    LnkTargetInfo info;
    info.winPath = win(QStringLiteral("docs\\a.txt"));
    info.attributes = 0x20;
    LnkCreateOptions options;
    options.idList = options.linkInfo = false;
    writeLink(QStringLiteral("links/a.lnk"), info, options);

    Verdict v = judge(QStringLiteral("links/a.lnk"));
    EXPECT_EQ(v.resolved, win::S_FALSE); // nothing there: broken
    EXPECT_EQ(v.path, win(QStringLiteral("docs\\a.txt")));
    EXPECT_TRUE(v.unchanged);

    m_drives.writeFile(QStringLiteral("docs/a.txt"), "a");
    v = judge(QStringLiteral("links/a.lnk"));
    EXPECT_EQ(v.resolved, win::S_OK);
    EXPECT_EQ(v.path, win(QStringLiteral("docs\\a.txt")));
    EXPECT_TRUE(v.unchanged); // never rewritten for being found this way
}

TEST_F(JudgeByFormsTest, AnsiPathsAreTriedInTheOtherCodePages)
{
    // A real shortcut whose LinkInfo path is Cyrillic in code page 1251;
    // read as Windows-1252 its user folder is "Äèìà".
    const QString shortcut = QStringLiteral("Links/Error Fix.lnk");
    m_drives.writeFile(shortcut, sample(QStringLiteral("ansi_cp1251_path.lnk")));
    const QString folder =
        QString::fromUtf8("Users/\u0414\u0438\u043c\u0430/Desktop/PixelMod/Mod for Pixelmon");
    m_drives.writeFile(folder + QStringLiteral("/Error Fix.bat"), "@echo off");

    Verdict v = judge(shortcut);
    EXPECT_EQ(v.resolved, win::S_OK);
    EXPECT_EQ(v.path, QStringLiteral("C:\\") + QString(folder).replace(QLatin1Char('/'), QLatin1Char('\\')) +
                          QStringLiteral("\\Error Fix.bat"));
    EXPECT_TRUE(v.unchanged);
}

TEST_F(JudgeByFormsTest, PerUserVariablesAreExpandedInsideAProfileOnly)
{
    // Environment block C:\Users\%USERNAME%\AppData\Roaming\.minecraft,
    // LinkInfo C:\Users\Jonathan\..., relative ..\AppData\Roaming\.minecraft.
    const QByteArray bytes = sample(QStringLiteral("user_variable_env.lnk"));
    m_drives.writeFile(QStringLiteral("users/bob/Links/Games/minecraft.lnk"), bytes);
    m_drives.writeFile(QStringLiteral("Shared/Games/minecraft.lnk"), bytes);
    m_drives.makeFolder(QStringLiteral("users/bob/AppData/Roaming/.minecraft"));

    // In Bob's profile the variable is Bob's, and his folder exists.
    Verdict v = judge(QStringLiteral("users/bob/Links/Games/minecraft.lnk"));
    EXPECT_EQ(v.resolved, win::S_OK);
    EXPECT_EQ(v.path, QStringLiteral("C:\\Users\\bob\\AppData\\Roaming\\.minecraft"));
    EXPECT_TRUE(v.unchanged);

    // Outside any profile the other forms decide: Jonathan's folder is not
    // here, nor is the relative one.
    v = judge(QStringLiteral("Shared/Games/minecraft.lnk"));
    EXPECT_EQ(v.resolved, win::S_FALSE);
    EXPECT_EQ(v.path, QStringLiteral("C:\\Users\\Jonathan\\AppData\\Roaming\\.minecraft"));
    EXPECT_TRUE(v.unchanged);
}

// A chain of folders whose path is `depth` bytes or more long below the
// drive, made one level at a time (paths longer than the system takes
// cannot be made in one call), and taken down again the same way.
class DeepFolders
{
public:
    DeepFolders(const QByteArray &base, qsizetype depth)
    {
        int fd = ::open(base.constData(), O_DIRECTORY | O_RDONLY | O_CLOEXEC);
        m_fds.push_back(fd);
        const QByteArray name(200, 'n');
        while (m_relative.size() < depth && fd >= 0) {
            ::mkdirat(fd, name.constData(), 0755);
            fd = ::openat(fd, name.constData(), O_DIRECTORY | O_RDONLY | O_CLOEXEC);
            m_fds.push_back(fd);
            m_relative += (m_relative.isEmpty() ? "" : "/") + name;
        }
    }
    ~DeepFolders()
    {
        if (m_fds.back() >= 0)
            ::unlinkat(m_fds.back(), "file.txt", 0);
        for (size_t i = m_fds.size() - 1; i > 0; --i) {
            ::close(m_fds[i]);
            ::unlinkat(m_fds[i - 1], QByteArray(200, 'n').constData(), AT_REMOVEDIR);
        }
        ::close(m_fds[0]);
    }
    DeepFolders(const DeepFolders &) = delete;
    DeepFolders &operator=(const DeepFolders &) = delete;

    bool ok() const { return m_fds.back() >= 0; }
    // Creates file.txt in the deepest folder.
    bool makeFile() const
    {
        const int fd = ::openat(m_fds.back(), "file.txt", O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
        return fd >= 0 && ::close(fd) == 0;
    }
    // The Windows form of deepest/file.txt below drive c:.
    QString target() const
    {
        return QStringLiteral("C:\\") + QString::fromLatin1(m_relative).replace('/', '\\') +
               QStringLiteral("\\file.txt");
    }

private:
    std::vector<int> m_fds;
    QByteArray m_relative;
};

TEST_F(JudgeByFormsTest, TargetsTooLongToLookAtAreNotJudged)
{
    // A target 4,000 bytes deep exists, but its path does not fit the
    // 260-character buffer: GetPath fails rather than cut it.
    {
        DeepFolders deep(m_drives.root(), 4000);
        ASSERT_TRUE(deep.ok());
        ASSERT_TRUE(deep.makeFile());
        LnkTargetInfo info;
        info.winPath = deep.target();
        info.attributes = 0x20;
        writeLink(QStringLiteral("deep.lnk"), info);
        LinkSession session(m_service, win(QStringLiteral("deep.lnk")));
        EXPECT_EQ(session.resolve(), win::S_OK);
        win::HRESULT got = win::S_OK;
        EXPECT_EQ(session.path(&got), info.winPath.left(win::MAX_PATH - 1));
        EXPECT_LT(got, 0);
    }
    // Beyond what the system takes (ENAMETOOLONG): not broken, not
    // repaired, simply not judged.
    DeepFolders deeper(m_drives.root(), 4200);
    ASSERT_TRUE(deeper.ok());
    LnkTargetInfo info;
    info.winPath = deeper.target();
    info.attributes = 0x20;
    info.writeTime = 130000000000000000ULL; // 2012-12-14 23:06:40 UTC
    writeLink(QStringLiteral("deeper.lnk"), info);
    // A file a search would take for it (same name, size and time).
    m_drives.writeFile(QStringLiteral("elsewhere/file.txt"), QByteArray());
    const struct timespec times[2] = {{1355526400, 0}, {1355526400, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, posix(QStringLiteral("elsewhere/file.txt")).constData(), times, 0), 0);
    const Verdict v = judge(QStringLiteral("deeper.lnk"));
    EXPECT_LT(v.resolved, 0);
    EXPECT_TRUE(v.unchanged);
}

} // namespace
