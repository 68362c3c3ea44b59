#pragma once

#include "shell/ChangeJournal.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>

class DriveContext;
class ShellUi;

// A requested file and what went to the trash with it, for a record of the
// request: a shortcut's Wine launchers and the menu files and icons only
// they used; a launcher's menu file and icon. The requested file comes first
// when it was moved (a file that was gone already has no move of its own).
// The journal records a group as one change, so an undo puts it back whole.
struct TrashGroup
{
    QString request;
    QList<TrashEntry> files; // where each stood and where the trash keeps it
};

// The outcome of one request to move files to the trash. Every requested path
// is in exactly one of the three lists (when the request was confirmed), in
// request order.
struct TrashResult
{
    // False when the user declined: then nothing was touched.
    bool confirmed = false;
    // Moved to the trash; the user can restore them from there.
    QStringList moved;
    // Not moved because nothing was at the path any more.
    QStringList gone;
    // Left where they were (or, for a path this machine cannot name, wherever
    // they are).
    QStringList failed;
    // For each path moved or gone, what the trash holds of it now, in
    // request order.
    QList<TrashGroup> groups;
    // Files that went with the requested ones but could not be moved (a
    // launcher, its menu file or its icon), paths of this machine.
    QList<QByteArray> companionsFailed;
};

// The shell's services other than shortcut access, in the shape the program's
// rules use them: open a folder in the file manager, open a web address,
// delete files recoverably. Paths are Windows form ("c:\Users\x.lnk"). Every
// call is synchronous and runs on the user-interface thread. This is the one
// place a Windows build would replace with the Windows shell.
class ShellServices
{
public:
    virtual ~ShellServices() = default;

    // Opens a folder ("c:\Users\Public\Desktop\", "c:\") in the desktop's file
    // manager. Nothing is reported: a folder this machine cannot name opens
    // nothing.
    virtual void openFolder(const QString &winFolder) = 0;

    // Opens a web address (http or https) with the user's web browser. Other
    // addresses open nothing.
    virtual void openWebAddress(const QString &address) = 0;

    // Moves files to the trash in one request. Asks the user once (naming the
    // file, or the count when there are several, and how many Wine launchers
    // go along); when they agree, moves each file, shows one message listing
    // every file it could not move that is still there (a file already gone
    // is reported as gone, not as a failure), and reports what became of
    // each path. Never deletes anything for good. An empty request asks
    // nothing and counts as confirmed.
    //
    // A shortcut takes along the launchers that Wine made for it, for the
    // prefix of the drive map (see WineLaunchers), once it is moved or found
    // gone; a launcher named in the request takes its menu file and icon.
    // A menu file or icon goes only when no desktop entry that stays uses it.
    //
    // Each request is a run of the change journal: every file moved is
    // recorded with the place the trash keeps it, so it can be undone, and
    // a requested file and what went with it (its group) are one change.
    virtual TrashResult deleteToTrash(const QStringList &winPaths) = 0;

    // The services of this platform: the file manager and web browser through
    // ui.openUrl, and the freedesktop.org Trash through GIO; Windows-form
    // paths are translated through `drives`. `ui` must outlive the services.
    static std::unique_ptr<ShellServices> create(ShellUi &ui, std::shared_ptr<const DriveContext> drives);

    // The question asked before moving `winPaths` to the trash, with
    // `launchers` Wine launchers going along.
    static QString deleteQuestion(const QStringList &winPaths, int launchers = 0);
    // The sentence, with a space before it, that tells of `launchers` Wine
    // launchers going along with one shortcut (`one`) or several; empty for
    // none.
    static QString launchersGoingText(int launchers, bool one);

    // Where the trash keeps a file it has just taken from `path` (a file
    // keeps its device and inode on its way into the trash, which never
    // copies it): its entry and note, the note's bytes. The entry is empty
    // when no trash holds it.
    static TrashEntry trashedEntry(const QByteArray &path, quint64 device, quint64 inode);

    // The POSIX folder of the trash that files on the home file system go to
    // ($XDG_DATA_HOME/Trash as GIO settled it for this process).
    static QByteArray homeTrashFolder();
};
