#include "support/TempDrives.h"

#include "platform/DriveContext.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <cstdlib>
#include <unistd.h>

namespace {

void saveEnv(const char *name, QByteArray &value, bool &had)
{
    had = qEnvironmentVariableIsSet(name);
    value = qgetenv(name);
}

void restoreEnv(const char *name, const QByteArray &value, bool had)
{
    if (had)
        qputenv(name, value);
    else
        qunsetenv(name);
}

} // namespace

TempDrives::TempDrives(const QString &letters) : m_dir(std::make_unique<QTemporaryDir>())
{
    EXPECT_TRUE(m_dir->isValid());
    saveEnv("WINEPREFIX", m_oldPrefix, m_hadPrefix);
    saveEnv("XDG_DATA_HOME", m_oldData, m_hadData);
    saveEnv("XDG_CACHE_HOME", m_oldCache, m_hadCache);
    saveEnv("XDG_STATE_HOME", m_oldState, m_hadState);
    saveEnv("XDG_CONFIG_HOME", m_oldConfig, m_hadConfig);

    const QString base = m_dir->path();
    QDir().mkpath(base + QStringLiteral("/prefix/dosdevices"));
    QDir().mkpath(base + QStringLiteral("/data"));
    QDir().mkpath(base + QStringLiteral("/cache"));
    QDir().mkpath(base + QStringLiteral("/state"));
    QDir().mkpath(base + QStringLiteral("/config"));
    QDir().mkpath(base + QStringLiteral("/Desktop"));
    QFile dirs(base + QStringLiteral("/config/user-dirs.dirs"));
    EXPECT_TRUE(dirs.open(QIODevice::WriteOnly));
    dirs.write("XDG_DESKTOP_DIR=\"" + QFile::encodeName(base) + "/Desktop\"\n");
    dirs.close();
    for (QChar letter : letters) {
        const QString folder = base + QStringLiteral("/drive_") + letter.toLower();
        QDir().mkpath(folder);
        const QString link =
            base + QStringLiteral("/prefix/dosdevices/") + letter.toLower() + QLatin1Char(':');
        EXPECT_EQ(::symlink(QFile::encodeName(folder).constData(), QFile::encodeName(link).constData()), 0);
    }
    qputenv("WINEPREFIX", QFile::encodeName(base + QStringLiteral("/prefix")));
    qputenv("XDG_DATA_HOME", QFile::encodeName(base + QStringLiteral("/data")));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(base + QStringLiteral("/cache")));
    qputenv("XDG_STATE_HOME", QFile::encodeName(base + QStringLiteral("/state")));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(base + QStringLiteral("/config")));
    m_context = DriveContext::load();
}

TempDrives::~TempDrives()
{
    // Folders a test made unreadable must not stop the clean-up.
    const QByteArray base = QFile::encodeName(m_dir->path());
    const QByteArray command = "chmod -R u+rwx '" + base + "' 2>/dev/null";
    if (std::system(command.constData()) != 0) {
        // Best effort only.
    }
    restoreEnv("WINEPREFIX", m_oldPrefix, m_hadPrefix);
    restoreEnv("XDG_DATA_HOME", m_oldData, m_hadData);
    restoreEnv("XDG_CACHE_HOME", m_oldCache, m_hadCache);
    restoreEnv("XDG_STATE_HOME", m_oldState, m_hadState);
    restoreEnv("XDG_CONFIG_HOME", m_oldConfig, m_hadConfig);
}

QByteArray TempDrives::prefix() const
{
    return QFile::encodeName(m_dir->path() + QStringLiteral("/prefix"));
}

QByteArray TempDrives::root(QChar letter) const
{
    // The map holds canonical folders, so tests compare against those.
    const QString folder = m_dir->path() + QStringLiteral("/drive_") + letter.toLower();
    return QFile::encodeName(QFileInfo(folder).canonicalFilePath());
}

QByteArray TempDrives::posix(const QString &relative, QChar letter) const
{
    return relative.isEmpty() ? root(letter) : root(letter) + '/' + QFile::encodeName(relative);
}

QString TempDrives::win(const QString &relative, QChar letter) const
{
    QString path = QString(letter.toLower()) + QStringLiteral(":\\") + relative;
    path.replace(QLatin1Char('/'), QLatin1Char('\\'));
    return path;
}

void TempDrives::makeFolder(const QString &relative, QChar letter) const
{
    EXPECT_TRUE(QDir().mkpath(QFile::decodeName(posix(relative, letter))));
}

void TempDrives::writeFile(const QString &relative, const QByteArray &bytes, QChar letter) const
{
    const QString path = QFile::decodeName(posix(relative, letter));
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    ASSERT_EQ(file.write(bytes), bytes.size());
}

void TempDrives::mapLetter(QChar letter, const QByteArray &folder)
{
    const QByteArray link = prefix() + "/dosdevices/" + QString(letter.toLower()).toLatin1() + ':';
    ::unlink(link.constData());
    EXPECT_EQ(::symlink(folder.constData(), link.constData()), 0);
    m_context->reload();
}

QByteArray TempDrives::dataHome() const
{
    return QFile::encodeName(m_dir->path() + QStringLiteral("/data"));
}
QByteArray TempDrives::cacheHome() const
{
    return QFile::encodeName(m_dir->path() + QStringLiteral("/cache"));
}

QByteArray TempDrives::configHome() const
{
    return QFile::encodeName(m_dir->path() + QStringLiteral("/config"));
}
QByteArray TempDrives::desktop() const
{
    return QFile::encodeName(m_dir->path() + QStringLiteral("/Desktop"));
}

QByteArray readWholeFile(const QByteArray &posixPath)
{
    QFile file(QFile::decodeName(posixPath));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

QByteArray TempDrives::journalFolder() const
{
    return QFile::encodeName(m_dir->path() + QStringLiteral("/state/linkmend"));
}
