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
    // Windows form the scan and the link service know it by.
    struct Shortcut
    {
        QString path;
        QString winPath;
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
    struct Root
    {
        QString path;
        QString winPath;
    };

    bool dryRun = false;
    bool ignoreRemote = false;
    QList<Root> roots;
    QList<Broken> broken;
    QList<Repair> repairs;
    QList<Unjudged> unjudged;
    qint64 folders = 0;   // folders walked, the roots included
    qint64 shortcuts = 0; // shortcut files examined
    qint64 remote = 0;    // broken, but left out as remote

    // Repairs made (in a dry run: that would be made), and those that could
    // not be written.
    qint64 repaired() const;
    qint64 repairsFailed() const;

    // 0 when nothing is broken, 1 when a shortcut is broken or a repair
    // could not be written (the file still points at a missing target).
    int exitStatus() const;

    // "path<TAB>target\n".
    static QByteArray brokenLine(const Broken &broken);
    // "repaired path: old -> new\n", "would repair path: old -> new\n" in a
    // dry run; nothing for a repair that failed (that is a message).
    QByteArray repairLine(const Repair &repair) const;
    // The whole report as one JSON document.
    QByteArray toJson() const;
};
