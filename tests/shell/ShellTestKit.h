#pragma once

// Test helpers for the shell services: a throw-away trash, a fake user
// interface, and a reader of what the trash holds. Shared by the shell and
// review tests.

#include "shell/ShellServices.h"
#include "shell/ShellUi.h"
#include "support/TempDrives.h"

#include <QByteArray>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QList>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>

#include <memory>

#include <sys/stat.h>
#include <unistd.h>

// GIO settles the home folder and the home trash ($XDG_DATA_HOME/Trash) the
// first time it needs them and keeps them for the life of the process, so a
// per-test XDG_DATA_HOME does not reach it. Every test of a program therefore
// shares one throw-away home whose trash it empties before use. The home
// lies in the temporary folder like the test drives, on the same file system,
// so GIO uses this home trash for them.
class TrashSandbox
{
public:
    // The trash folder, emptied. Sets HOME and XDG_DATA_HOME for the rest of
    // the process on first use, before GIO has looked at them.
    static QByteArray emptyTrash()
    {
        const QByteArray folder = instance().m_trash;
        QDir(QFile::decodeName(folder)).removeRecursively();
        return folder;
    }
    // The trash folder this sandbox expects GIO to use.
    static QByteArray expected() { return instance().m_trash; }

private:
    TrashSandbox()
    {
        const QByteArray home = QFile::encodeName(m_home.path());
        qputenv("HOME", home);
        qputenv("XDG_DATA_HOME", home + "/.local/share");
        m_trash = home + "/.local/share/Trash";
        // Asks GIO now, so it settles on this home.
        static_cast<void>(ShellServices::homeTrashFolder());
    }
    static TrashSandbox &instance()
    {
        static TrashSandbox sandbox;
        return sandbox;
    }

    QTemporaryDir m_home;
    QByteArray m_trash;
};

// One file in the trash, as a user's trash tool would restore it.
struct TrashedFile
{
    QByteArray originalPath; // Path= percent-decoded
    QByteArray rawPath;      // Path= as written
    QByteArray deletionDate;
    bool infoHeaderOk = false;
    bool hasFile = false; // files/<name> exists
    QByteArray contents;
};

inline QList<TrashedFile> trashContents(const QByteArray &trash)
{
    QList<TrashedFile> result;
    const QDir info(QFile::decodeName(trash + "/info"));
    for (const QString &name : info.entryList({QStringLiteral("*.trashinfo")}, QDir::Files, QDir::Name)) {
        QFile file(info.filePath(name));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        TrashedFile entry;
        const QList<QByteArray> lines = file.readAll().split('\n');
        entry.infoHeaderOk = !lines.isEmpty() && lines.first() == "[Trash Info]";
        for (const QByteArray &line : lines) {
            if (line.startsWith("Path=") && entry.rawPath.isEmpty())
                entry.rawPath = line.mid(5);
            else if (line.startsWith("DeletionDate=") && entry.deletionDate.isEmpty())
                entry.deletionDate = line.mid(13);
        }
        entry.originalPath = QByteArray::fromPercentEncoding(entry.rawPath);
        QFile stored(QFile::decodeName(trash + "/files/") + name.chopped(int(qstrlen(".trashinfo"))));
        entry.hasFile = stored.exists();
        if (stored.open(QIODevice::ReadOnly))
            entry.contents = stored.readAll();
        result.append(entry);
    }
    return result;
}

// Everything in the trash's files/ folder, whether or not it has an info file.
inline int trashFileCount(const QByteArray &trash)
{
    return int(QDir(QFile::decodeName(trash + "/files"))
                   .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)
                   .size());
}

// Answers the layer's questions as told and records what it was asked.
class FakeShellUi : public ShellUi
{
public:
    bool answer = true;
    QList<QStringList> requests; // the paths of each question
    QStringList questions;
    QList<int> launcherCounts; // the Wine launchers each question said go along
    QStringList messages;
    QList<QUrl> urls;
    // Passes URLs on to QDesktopServices, as the application does; tests
    // then catch them with QDesktopServices::setUrlHandler.
    bool forwardUrls = false;

    bool confirmDelete(const QStringList &paths, const QString &question, int launchers) override
    {
        requests.append(paths);
        questions.append(question);
        launcherCounts.append(launchers);
        return answer;
    }
    void showMessage(const QString &text) override { messages.append(text); }
    void openUrl(const QUrl &url) override
    {
        urls.append(url);
        if (forwardUrls)
            QDesktopServices::openUrl(url);
    }
};

// A file that the trash refuses, at a Windows path that stays the same when the
// obstacle is lifted. Unprivileged, its folder is read-only (c:\locked\).
// Permissions stop nothing for root, so then it lies on drive d:, mapped to a
// folder on /dev/shm, a system-internal mount GIO does not trash on.
class Untrashable
{
public:
    Untrashable(TempDrives &drives, const QString &name, const QByteArray &contents)
        : m_drives(drives), m_name(name), m_contents(contents)
    {
        if (::geteuid() != 0) {
            m_drives.writeFile(QStringLiteral("locked/") + name, contents);
            ::chmod(m_drives.posix(QStringLiteral("locked")).constData(), 0555);
            m_winPath = m_drives.win(QStringLiteral("locked\\") + name);
            return;
        }
        m_shm = std::make_unique<QTemporaryDir>(QStringLiteral("/dev/shm/linkmend-test-XXXXXX"));
        if (!m_shm->isValid())
            return;
        QFile file(m_shm->filePath(name));
        if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size())
            return;
        file.close();
        m_drives.mapLetter(QLatin1Char('d'), QFile::encodeName(m_shm->path()));
        m_winPath = m_drives.win(name, QLatin1Char('d'));
    }

    // False when this machine offers no such place (no /dev/shm).
    bool usable() const { return !m_winPath.isEmpty(); }
    QString winPath() const { return m_winPath; }
    QByteArray posixPath() const
    {
        return m_shm && !m_lifted ? QFile::encodeName(m_shm->filePath(m_name))
               : m_shm            ? m_drives.posix(QStringLiteral("lifted/") + m_name)
                                  : m_drives.posix(QStringLiteral("locked/") + m_name);
    }

    // Makes the same Windows path name a file the trash takes.
    void lift()
    {
        m_lifted = true;
        if (!m_shm) {
            ::chmod(m_drives.posix(QStringLiteral("locked")).constData(), 0755);
            return;
        }
        m_drives.writeFile(QStringLiteral("lifted/") + m_name, m_contents);
        m_drives.mapLetter(QLatin1Char('d'), m_drives.posix(QStringLiteral("lifted")));
    }

private:
    TempDrives &m_drives;
    QString m_name;
    QByteArray m_contents;
    QString m_winPath;
    std::unique_ptr<QTemporaryDir> m_shm;
    bool m_lifted = false;
};
