#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>

class DriveContext;

// A launcher that Wine's menu builder made for a shortcut of the prefix
// being checked: a desktop entry whose Exec starts that shortcut.
struct WineLauncher
{
    QByteArray file; // the .desktop file (clean, absolute)
    QByteArray
        shortcut;   // the shortcut it starts, on this machine (its folder canonical); empty when none here
    QString named;  // the shortcut as the launcher names it (Windows path or path here)
    QString menuId; // its desktop file id in the menus; empty for one on the desktop
    QString icon;   // its Icon= name; empty when it names none of Wine's
};

// The launchers of one Wine prefix on the user's desktop: the desktop
// entries under $XDG_DATA_HOME/applications/wine/ (at any depth) and in the
// desktop folder whose Exec is `env WINEPREFIX="<this prefix>" wine ...`
// and starts a shortcut, with the menu files and icons they use. A
// launcher's shortcut is found the way every Windows path of the prefix is
// (its drive map, letter case ignored where the exact name does not exist),
// or by its own path for `start.exe /Unix`, and compared with shortcuts by
// their paths with the folders resolved (a shortcut that is a symbolic link
// is not the file it leads to). Launchers of other prefixes, and desktop entries
// that start anything else, are never among them.
class WineLaunchers
{
public:
    // Where the user's launchers, icons and menu files are.
    struct Folders
    {
        QByteArray applications; // $XDG_DATA_HOME/applications
        QByteArray desktop;      // the XDG desktop folder
        QByteArray icons;        // $XDG_DATA_HOME/icons
        QByteArray menus;        // $XDG_CONFIG_HOME/menus/applications-merged
        // The folders of this process's user, from the environment.
        static Folders ofUser();
    };

    // Reads the folders once. No prefix in the drive map (the built-in
    // rules), no launchers.
    explicit WineLaunchers(const DriveContext &drives, const Folders &folders = Folders::ofUser());

    const QList<WineLauncher> &all() const { return m_launchers; }
    // The launchers that start the shortcut at `posixPath`.
    QList<WineLauncher> starting(const QByteArray &posixPath) const;
    // The launcher that is the file at `posixPath`, if it is one.
    std::optional<WineLauncher> at(const QByteArray &posixPath) const;
    // Launchers whose shortcut is not there any more. One whose shortcut
    // cannot be named here (a drive letter the prefix lacks now) is none.
    QList<WineLauncher> orphans() const;

    // The files that go to the trash with `launcher` besides itself: its
    // menu file and its icon's files, each only when no desktop entry
    // outside `leaving` (the launcher files going, this one included) still
    // uses it.
    QList<QByteArray> companions(const WineLauncher &launcher, const QSet<QByteArray> &leaving) const;

private:
    struct MenuFile
    {
        QByteArray path;
        QStringList ids; // the desktop file ids it includes
    };

    Folders m_folders;
    QList<WineLauncher> m_launchers;
    // Every desktop entry in the folders, by file: its Icon= value, and its id
    // where it has one. Launchers of other prefixes and other programs keep
    // icons and menu files in use too.
    QHash<QByteArray, QString> m_iconOf;
    QHash<QString, QByteArray> m_fileOfId;
    QList<MenuFile> m_menuFiles;
};
