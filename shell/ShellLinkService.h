#pragma once

// The program's shell link service: link objects over our own .lnk codec,
// with the Windows service's contract (create, file interface, Load,
// Resolve, GetPath, release; HRESULT-style results).
//
// One service object serves a whole scan. While the scan shares its folder
// listings with the service (shareListings), the service keeps what it
// learned about the folders it searched (DirIndex) from one link to the
// next, which is what makes a drive full of broken shortcuts quick to go
// through; the scan's walk keeps those listings current as it goes. A
// search outside a scan starts afresh.
//
// Resolve searches for a missing target within a time limit (the flags'
// high word with SLR_NO_UI, else 3000 ms) and calls the progress hook every
// few milliseconds while it searches, so the caller can keep its window
// alive.
// The same limit bounds the look at a target on a file system that may not
// answer (TargetLook): one that does not answer in time fails the Resolve
// (the link cannot be judged), and the hook runs while it waits.

#include "shell/LinkJudge.h"
#include "shell/SearchBudget.h"
#include "shell/ShellLink.h"

#include <functional>
#include <memory>
#include <optional>

class ChangeJournal;
class DriveContext;
class LinkWriter;
class TargetLook;

class ShellLinkService : public ShellLinkFactory, public LinkJudge
{
public:
    // Larger files are refused by Load: real shortcuts are a few kilobytes.
    static constexpr qint64 kMaxLinkFileSize = 1 << 20;
    static constexpr quint32 kDefaultTimeLimitMs = 3000;

    // Paths are translated and targets looked at through `drives`.
    explicit ShellLinkService(std::shared_ptr<const DriveContext> drives);
    ~ShellLinkService() override;
    ShellLinkService(const ShellLinkService &) = delete;
    ShellLinkService &operator=(const ShellLinkService &) = delete;

    // A new, empty link object. Link objects may outlive the service.
    win::HRESULT CoCreateInstance(std::unique_ptr<ShellLink> &out) override;

    // Called about every intervalMs while a Resolve searches (the scan
    // passes a function that dispatches the window's pending events). The
    // hook must not re-enter this service's Resolve: a Resolve that would
    // have to search while another one is searching fails with E_UNEXPECTED
    // instead. Load and GetPath (the list's hint) are safe to call from the
    // hook, and so is setProgressHook itself.
    void setProgressHook(std::function<void()> hook, int intervalMs = SearchBudget::kHookIntervalMs);

    // The verdict on one shortcut: the file loaded, every form of its target
    // looked at, a missing one searched for and, when asked, written back.
    LinkVerdict judge(const QString &shortcut, const Options &options) override;
    LinkVerdict judgeFile(const QByteArray &posixPath, const QString &shownPath,
                          const Options &options) override;

    // While on, listingSource() gives the service's index as a source of
    // folder listings: folder searches made with it take the listings the
    // index has read (when the folder has not changed since) instead of
    // reading those folders again, and hand over what they read themselves,
    // so a scan's walk and the search for its broken shortcuts read each
    // folder of the drive once. Off by default.
    void shareListings(bool on);
    // The index as a listing source while sharing is on; nullptr otherwise.
    FolderListingSource *listingSource();

    // A scan's bracket: the progress hook and sharing on; at the end both
    // off and the cached listings dropped.
    void beginScan(std::function<void()> progress) override;
    void stopWhen(std::function<bool()> stop) override;
    FolderListingSource *scanListings() override { return listingSource(); }
    void endScan() override;

    // Forgets the cached folder listings (they are rebuilt on demand). The
    // scan may call it when it ends, to give the memory back. Ignored while
    // a Resolve is searching.
    void clearCaches();
    // Entries in the cached listings (for measurements).
    qsizetype cachedEntries() const;

    // The journal every repair is recorded in before it is made. The
    // service starts with one of its own (a run called "repair"); the
    // window and the command line give each run its own.
    void setJournal(std::shared_ptr<ChangeJournal> journal);
    const std::shared_ptr<ChangeJournal> &journal() const;

    // The writer of repaired shortcuts; tests install a fault hook on it.
    LinkWriter &linkWriter();
    // How targets are looked at; tests make a place hang through it.
    TargetLook &targetLook();

    struct Context;

private:
    LinkVerdict judgeAt(const QString &shortcut, const std::optional<QByteArray> &posixPath,
                        const Options &options);

    std::shared_ptr<Context> m_context;
};
