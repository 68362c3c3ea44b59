#pragma once

#include "platform/FolderSearch.h"
#include "platform/WalkGuard.h"
#include "platform/WinTypes.h"
#include "scan/ScanHost.h"
#include "scan/ScanResults.h"
#include "shell/ShellLink.h"

#include <QByteArray>
#include <QString>

#include <memory>

class DriveContext;

// The scan run of the Scan button, the recursive folder walk and the check of
// one shortcut. TForm2's ScanShortcuts, ScanFolder and CheckShortcut forward
// here. The scan talks to the window only through ScanHost and keeps the
// shared state in the window's ScanResults.
class ShortcutScan
{
public:
    // Texts and places the scan shows.
    static constexpr int BusyIndicatorShownLeft = 199;
    static constexpr int BusyIndicatorHiddenLeft = 881;
    static constexpr int ListBoxExtentMargin = 200;
    static constexpr int CheckListExtentMargin = 2;
    static const QString ScanningText;    // "Scanning...."
    static const QString OneBrokenText;   // " Broken Shortcut   (double click to explore)"
    static const QString ManyBrokenText;  // " Broken Shortcuts   (double click to explore)"
    static const QString ShortcutPattern; // "*.lnk"

    // Search rules of the walk: the attribute bits a pass wants among
    // HIDDEN | SYSTEM | DIRECTORY; an entry with any of the others is
    // skipped. The files pass wants every attribute a search knows but the
    // folder bit (0x1EF), so it skips folders only; the folder pass wants
    // the folder bit alone, so it skips hidden and system entries.
    static constexpr quint32 AnyAttributes = 0x1FF;
    static constexpr quint32 FilePassWanted = AnyAttributes & ~win::FILE_ATTRIBUTE_DIRECTORY;
    static constexpr quint32 FolderPassWanted = win::FILE_ATTRIBUTE_DIRECTORY;

    // What the check asks of Resolve: no dialog, and write a repair back
    // (5); the high word 0 leaves the service's default time limit.
    static constexpr quint32 ResolveFlags = win::SLR_NO_UI | win::SLR_UPDATE;

    // The scan walks the drives of `drives` and judges targets by them.
    ShortcutScan(ScanHost &host, ScanResults &results, ShellLinkFactory &links,
                 std::shared_ptr<const DriveContext> drives);
    ShortcutScan(const ShortcutScan &) = delete;
    ShortcutScan &operator=(const ShortcutScan &) = delete;

    // The Scan button: busy state, empty results, the walk of SelectedDrive's
    // root, the count line, every entry ticked, idle state again. The idle
    // state is restored also when an error ends the walk; the error then goes
    // on to the caller (the application's general error handler). A scan
    // that the closing window stopped shows no count line and ticks nothing.
    void ScanShortcuts();
    // The same scan run over one folder (Windows form) instead of the root
    // of SelectedDrive.
    void ScanShortcuts(const QString &root);

    // Walks a folder (Windows form, with or without a trailing backslash):
    // every entry matching the pattern that is not a folder goes to
    // CheckShortcut, then, with recurse, every subfolder that is neither
    // hidden nor system is walked the same way, depth first. A folder, or a
    // shortcut file, met again (by device and inode) is passed over. Pending
    // events are dispatched after every entry the walk takes, and while a
    // search passes over many it does not; the walk stops once the window is
    // closing.
    void ScanFolder(const QString &folder, const QString &pattern, bool recurse);

    // Loads, resolves (so the service may repair it) and judges one shortcut;
    // a broken one is recorded in ListBox1, CheckListBox1, ShortcutPaths and
    // BrokenCount, in that order. targetPath receives the target path the
    // link holds: unchanged when no link object could be made, empty when the
    // file could not be loaded or resolved.
    void CheckShortcut(const QString &shortcutPath, QString &targetPath);

    bool isScanning() const { return m_scanning; }

    // The flags CheckShortcut passes to Resolve; ResolveFlags unless set.
    // Without SLR_UPDATE the service finds moved targets but writes nothing.
    void setResolveFlags(quint32 flags) { m_resolveFlags = flags; }
    quint32 resolveFlags() const { return m_resolveFlags; }

private:
    void runScan(const QString &root);
    void cleanUp();
    void walk(const QString &folder, FolderSearch &search, const QString &pattern, bool recurse);
    bool isRegularFile(const FindData &entry, const FolderSearch &search) const;
    bool firstSeen(const FindData &entry, const FolderSearch &search);
    // Dispatches pending events; false when the walk must stop.
    bool dispatch();
    // The link service's progress hook during a scan: dispatches pending
    // events while a Resolve searches.
    void progress();
    // The same while the walk waits for a folder that may not answer; false
    // once the window is closing.
    bool waitForFolder();
    bool stopping() const;
    void record(const QString &shortcutPath);

    ScanHost &m_host;
    ScanResults &m_results;
    ShellLinkFactory &m_links;
    std::shared_ptr<const DriveContext> m_drives;
    // The link service's listings, shared by the walk of a scan.
    FolderListingSource *m_listings = nullptr;
    WalkGuard m_walked;  // folders
    WalkGuard m_checked; // shortcut files
    quint32 m_resolveFlags = ResolveFlags;
    bool m_scanning = false;
    bool m_dispatching = false;
};
