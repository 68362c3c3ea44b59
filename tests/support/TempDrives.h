#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <memory>

class DriveContext;

// A throw-away machine for one test: a Wine prefix whose dosdevices/ maps the
// given letters to fresh temporary folders, WINEPREFIX pointing at it, a
// drive context loaded from it for the parts under test (context()), and
// XDG_DATA_HOME, XDG_CACHE_HOME, XDG_STATE_HOME (the change journal) and
// XDG_CONFIG_HOME (naming a temporary desktop folder) in temporary folders
// too, so no test touches the real drives, home, desktop, trash or journal.
// Everything is restored on
// destruction.
class TempDrives
{
public:
    explicit TempDrives(const QString &letters = QStringLiteral("c"));
    ~TempDrives();
    TempDrives(const TempDrives &) = delete;
    TempDrives &operator=(const TempDrives &) = delete;

    // The prefix folder (holding dosdevices/).
    QByteArray prefix() const;
    // The POSIX folder of a drive.
    QByteArray root(QChar letter = QLatin1Char('c')) const;
    // The POSIX path of a path relative to a drive's folder ("a/b.lnk").
    QByteArray posix(const QString &relative, QChar letter = QLatin1Char('c')) const;
    // The Windows form of the same ("c:\a\b.lnk").
    QString win(const QString &relative, QChar letter = QLatin1Char('c')) const;

    // Creates the folder (and its parents) below a drive.
    void makeFolder(const QString &relative, QChar letter = QLatin1Char('c')) const;
    // Writes a file below a drive, creating its folders.
    void writeFile(const QString &relative, const QByteArray &bytes, QChar letter = QLatin1Char('c')) const;
    // Maps one more letter to an arbitrary folder and reloads the context's
    // map.
    void mapLetter(QChar letter, const QByteArray &folder);

    // The drives of the prefix over this machine's mounts, to hand to the
    // parts under test.
    const std::shared_ptr<DriveContext> &context() const { return m_context; }

    QByteArray dataHome() const;
    QByteArray cacheHome() const;
    // The change journal's folder ($XDG_STATE_HOME/linkmend).
    QByteArray journalFolder() const;
    QByteArray configHome() const;
    // The desktop folder XDG_CONFIG_HOME's user-dirs.dirs names.
    QByteArray desktop() const;

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::shared_ptr<DriveContext> m_context;
    QByteArray m_oldPrefix, m_oldData, m_oldCache, m_oldState, m_oldConfig;
    bool m_hadPrefix = false, m_hadData = false, m_hadCache = false, m_hadState = false, m_hadConfig = false;
};

// Reads a whole file; empty when it cannot be read.
QByteArray readWholeFile(const QByteArray &posixPath);
