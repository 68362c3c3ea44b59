#pragma once

#include "platform/FolderSearch.h"
#include "platform/WalkGuard.h"
#include "platform/WinTypes.h"
#include "scan/ScanEvents.h"
#include "shell/LinkJudge.h"

#include <QString>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

class DriveContext;

// The scan: a walk of a folder and everything below it that hands every
// shortcut file to the link service's judge and tells an observer what it
// meets (folders entered, entries passed over and why, each shortcut's
// verdict, the counts at the end). It knows no window: the window and the
// command line are observers.
class ShortcutScan
{
public:
    static const QString ShortcutPattern; // "*.lnk"

    // Search rules of the walk: the attribute bits a pass wants among
    // HIDDEN | SYSTEM | DIRECTORY; an entry with any of the others is
    // skipped. The files pass wants every attribute a search knows but the
    // folder bit (0x1EF), so it skips folders only; the folder pass wants
    // the folder bit alone, so it skips hidden and system entries.
    static constexpr quint32 AnyAttributes = 0x1FF;
    static constexpr quint32 FilePassWanted = AnyAttributes & ~win::FILE_ATTRIBUTE_DIRECTORY;
    static constexpr quint32 FolderPassWanted = win::FILE_ATTRIBUTE_DIRECTORY;

    // The scan walks the drives of `drives` and judges shortcuts with `links`.
    ShortcutScan(LinkJudge &links, std::shared_ptr<const DriveContext> drives);
    ShortcutScan(const ShortcutScan &) = delete;
    ShortcutScan &operator=(const ShortcutScan &) = delete;

    // A whole scan of one folder (Windows form, with or without a trailing
    // backslash): scanStarted, the walk of `root` for shortcut files and of
    // every folder below, scanFinished with the counts. The judge serves the
    // whole walk (its folder listings shared with it, its progress hook
    // ticking the observer) and is told when the walk ends, however it ends;
    // an error goes on to the caller. A scan that runs already, or one asked
    // for from inside it, does nothing and returns nothing.
    // With `posixRoot`, the root is that folder of this machine, whose path
    // holds a name with no Windows form; `root` then only shows it.
    std::optional<ScanCounts> run(const QString &root, ScanObserver &observer,
                                  const QByteArray &posixRoot = {});

    // Walks a folder (Windows form): every entry matching the pattern that
    // is not a folder is judged, then, with recurse, every subfolder that is
    // neither hidden nor system is walked the same way, depth first. A
    // folder, or a shortcut file, met again (by device and inode) is passed
    // over. The observer ticks after every entry the walk takes (and while a
    // search passes over many it does not); the walk stops once the observer
    // asks it to.
    void walkFolder(const QString &folder, const QString &pattern, bool recurse, ScanObserver &observer,
                    const QByteArray &posixFolder = {});

    // Judges one shortcut file and tells the observer.
    LinkVerdict check(const QString &shortcutPath, ScanObserver &observer);

    bool isScanning() const { return m_scanning; }

    // Whether a target found again is written back (on by default). Off, the
    // judge finds moved targets all the same and writes nothing.
    void setWriteRepairs(bool on) { m_options.writeRepairs = on; }
    bool writesRepairs() const { return m_options.writeRepairs; }

    // Folders below the root that the walk passes over on request (told as
    // passed over, by rule): those for which `excluded` (their Windows path
    // and their path here) says so. None by default.
    using Exclusion = std::function<bool(const QString &folder, const QByteArray &posixFolder)>;
    void setExcluded(Exclusion excluded) { m_excluded = std::move(excluded); }

private:
    // `shown` is false below a folder whose name has no Windows form: the
    // Windows paths there are only shown, never used.
    void walk(const QString &folder, FolderSearch &search, const QString &pattern, bool recurse,
              bool shown = true);
    bool isRegularFile(const FindData &entry, const FolderSearch &search) const;
    bool firstSeen(const FindData &entry, const FolderSearch &search);
    void passOver(const QString &path, const QByteArray &posixPath, PassedOver::Reason reason,
                  bool isFolder = true);
    void folderNotOpened(const QString &folder, const FolderSearch &search);
    // A folder that is a Wine prefix (it holds dosdevices/ or system.reg)
    // other than the one whose drives the scan goes by.
    bool isOtherPrefix(const FolderSearch &search) const;
    // Whether a path leads to the folder of one of the drives.
    bool leadsToADrive(const QByteArray &posixPath) const;
    void unshownEntry(const QString &dir, FolderSearch &search, const QByteArray &name,
                      const QString &pattern, bool recurse);
    void checkUnshown(const QString &shown, const QByteArray &posixPath, bool regularFile);
    // Symbolic links (to folders, or shortcut files) are taken after
    // everything else, shortest path first, so a place reached by several
    // paths is taken by the shortest one.
    struct Linked
    {
        QString path; // Windows form, or only shown
        QByteArray posixPath;
        bool shown = true;
        bool isFolder = true;
        std::optional<FileIdentity> identity; // of what it leads to
    };
    void defer(Linked linked);
    void takeDeferred(const QString &pattern);
    static bool longerPath(const Linked &a, const Linked &b);
    // Notes the folders a Wine prefix links into the profiles of the drive
    // being walked before the walk meets them (see ProfileLinks).
    void deferProfileLinks(const QString &folder, const QByteArray &posixFolder, bool shown);
    void noteLinkedFolder(const FileIdentity &identity, qsizetype pathLength);
    // Whether a folder is one that a link waiting to be taken reaches by a
    // shorter path.
    bool reachedShorter(const FileIdentity &identity, qsizetype pathLength) const;
    // Counts a verdict and tells the observer.
    void report(const LinkVerdict &verdict);
    // Ticks the observer; false when the walk must stop.
    bool tick();
    // The judge's progress hook during a scan: ticks the observer while a
    // judgement waits or searches, never nested in a tick of the walk.
    void progress();
    bool waitForFolder();
    bool stopping() const;

    LinkJudge &m_links;
    std::shared_ptr<const DriveContext> m_drives;
    LinkJudge::Options m_options{true, true, 0};
    Exclusion m_excluded;
    // The observer of the walk under way.
    ScanObserver *m_observer = nullptr;
    ScanCounts m_counts;
    // The judge's listings, shared by the walk of a scan.
    FolderListingSource *m_listings = nullptr;
    WalkGuard m_walked;             // folders
    WalkGuard m_checked;            // shortcut files
    std::vector<Linked> m_deferred; // a heap, shortest path on top
    // The shortest path of a deferred link, by the folder it leads to.
    std::map<std::pair<dev_t, ino_t>, qsizetype> m_linkedFolders;
    bool m_scanning = false;
    bool m_ticking = false;
    int m_depth = 0; // folders entered above the one being walked
};
