#pragma once

#include "shell/LinkVerdict.h"

#include <QByteArray>
#include <QString>

// Something the walk did not look into, and why.
struct PassedOver
{
    enum class Reason {
        // Failures: the scan could not look at everything it was asked to.
        Unreadable,       // a folder that may not be opened or read
        NoAnswer,         // a folder whose place did not answer in time
        NotRepresentable, // a name that cannot be shown in Windows form
        // By rule: no failure.
        Hidden,      // a hidden folder (its name begins with a dot)
        System,      // a system folder, or the folder of another drive
        OtherPrefix, // a folder that is another Wine prefix
        Excluded,    // a folder the user asked to pass over
    };

    // Windows form where the entry has one; otherwise the nearest folder
    // above it that has, and the entry's own name in `posixPath`.
    QString path;
    QByteArray posixPath; // exact bytes
    Reason reason = Reason::Unreadable;
    bool isFolder = true;
    // More about it, such as the verdict on a shortcut whose name cannot be
    // shown ("broken: ...").
    QString detail;

    bool byRule() const
    {
        return reason == Reason::Hidden || reason == Reason::System || reason == Reason::OtherPrefix ||
               reason == Reason::Excluded;
    }
    // The reason in words.
    QString reasonText() const;
};

// How much a walk looked at, for the finished event.
struct ScanCounts
{
    qint64 folders = 0;   // folders entered, the root included
    qint64 shortcuts = 0; // shortcut files judged
    qint64 broken = 0;
    qint64 repaired = 0;      // repairs made, or that would be made when not written
    qint64 repairsFailed = 0; // repairs that could not be written
    qint64 unjudged = 0;      // shortcuts whose target could not be looked at
    qint64 passedOver = 0;    // files and folders not looked at for a failure (see PassedOver)
    qint64 passedOverByRule = 0;
    qint64 otherPrefixes = 0; // of those, folders that are other Wine prefixes
};

// What a scan tells while it runs. Every event comes on the thread that
// runs the scan, in the order things happen. The window turns them into
// what it shows, the command line into lines and a report.
class ScanObserver
{
public:
    virtual ~ScanObserver() = default;

    // The walk of one root begins.
    virtual void scanStarted(const QString &root) { Q_UNUSED(root); }
    // A folder is entered (the root included), before any of its entries.
    virtual void folderEntered(const QString &folder) { Q_UNUSED(folder); }
    // Something the walk did not look into.
    virtual void passedOver(const PassedOver &entry) { Q_UNUSED(entry); }
    // One shortcut file was judged (and repaired, when asked to).
    virtual void shortcutJudged(const LinkVerdict &verdict) { Q_UNUSED(verdict); }
    // The walk is over: complete, or stopped on request.
    virtual void scanFinished(const ScanCounts &counts, bool stopped)
    {
        Q_UNUSED(counts);
        Q_UNUSED(stopped);
    }

    // Called often while the scan works (between entries, and while a
    // judgement waits or searches): the window serves its events here, the
    // command line shows its progress. It must not start another scan.
    virtual void tick() {}
    // Asked between entries and while waiting: true stops the walk at the
    // next entry (the window closing, Ctrl-C). A judgement under way is
    // finished first, so no shortcut is left half-written.
    virtual bool stopRequested() const { return false; }
};

// One line that says what a scan did besides finding broken shortcuts:
// "2 shortcuts repaired, 1 repair could not be written, 3 places could not
// be read"; empty when there is nothing to say. `written` false speaks of
// repairs that would be made.
QString summaryLine(const ScanCounts &counts, bool written = true);
