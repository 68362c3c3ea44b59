#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// What one `check` run found, in the order found, and how it is printed:
// one line per broken shortcut (its path, a tab, its target), one line per
// repair, or one JSON document with everything.
struct CheckReport
{
    // A shortcut named in both forms: the path of this machine and the
    // Windows form the scan and the link service know it by. `path` is
    // shown with bytes that are not UTF-8 and control characters escaped
    // (\xFF); `bytes` holds the path exactly.
    struct Shortcut
    {
        QString path;
        QString winPath;
        QByteArray bytes;
    };
    struct Broken
    {
        Shortcut shortcut;
        QString target; // the target it points to, as the check read it
    };
    struct Repair
    {
        Shortcut shortcut;
        QString oldTarget;
        QString newTarget;
        bool written = false; // the file now points at newTarget
        QString failure;      // why it was not written, when it should have been
    };
    struct Unjudged
    {
        Shortcut shortcut;
        QString reason;
    };
    // A file or folder the check could not look at (or, for a shortcut,
    // could not read as one). `path` is shown with bytes that are not UTF-8
    // and control characters escaped (\xFF); `bytes` holds the path exactly.
    struct Skipped
    {
        QString path;
        QByteArray bytes;
        QString winPath; // empty when the entry has no Windows form
        QString reason;
        bool byRule = false; // passed over by rule (another Wine prefix): no failure
    };
    // A launcher Wine made for a shortcut of this prefix that is not there
    // any more: clicked, it fails.
    struct OrphanLauncher
    {
        QString path;         // the .desktop file
        QString shortcut;     // the shortcut it starts, as it names it
        QString shortcutPath; // the same on this machine
    };
    struct Root
    {
        QString path;
        QString winPath;
    };

    bool dryRun = false; // nothing was written: check, or repair -n
    bool ignoreRemote = false;
    QList<Root> roots;
    QList<Broken> broken;
    QList<Repair> repairs;
    QList<Unjudged> unjudged;
    QList<Skipped> skipped;
    QList<OrphanLauncher> orphanLaunchers;
    qint64 folders = 0;       // folders walked, the roots included
    qint64 shortcuts = 0;     // shortcut files examined
    qint64 remote = 0;        // broken, but left out as remote
    qint64 skippedByRule = 0; // hidden and system folders, other drives' folders: no failure
    bool stopped = false;     // the run was stopped before it was over

    // Repairs made (in a dry run: that would be made), and those that could
    // not be written.
    qint64 repaired() const;
    qint64 repairsFailed() const;

    // Exit statuses of a check.
    static constexpr int ExitClean = 0;      // everything looked at, nothing broken
    static constexpr int ExitBroken = 1;     // a broken shortcut or launcher, a repair that could not be
                                             // written, or (nothing written) a shortcut to repair
    static constexpr int ExitIncomplete = 3; // nothing broken, but something could not be looked at
    static constexpr int ExitStopped = 130;  // stopped on request (Ctrl-C) before it was over

    // ExitClean, ExitBroken, or ExitIncomplete when something was skipped
    // or unjudged and nothing is broken; ExitStopped wins over all. A run
    // that writes nothing counts a shortcut it would repair as broken: it
    // is, until it is repaired.
    int exitStatus() const;
    // What the run found and did, in one line ("2 broken shortcuts, 1
    // shortcut repaired", see summaryLine); empty when there is nothing to
    // say.
    QString summary() const;

    // "path<TAB>target\n".
    static QByteArray brokenLine(const Broken &broken);
    // "launcher<TAB>shortcut\n", like a broken shortcut: what to clean up,
    // then what it points to that is missing.
    static QByteArray orphanLine(const OrphanLauncher &orphan);
    // "skipped path: reason", "not judged path: reason" (messages, without
    // the program's name or a line end).
    static QString skippedMessage(const Skipped &skipped);
    static QString unjudgedMessage(const Unjudged &unjudged);
    // "repaired path: old -> new\n", "would repair path: old -> new\n" in a
    // dry run; nothing for a repair that failed (that is a message).
    QByteArray repairLine(const Repair &repair) const;
    // The whole report as one JSON document.
    QByteArray toJson() const;
};
