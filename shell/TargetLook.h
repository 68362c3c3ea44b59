#pragma once

// Looking at a link's target without letting a file system that does not
// answer hang the program. A stat() on a network share whose server has
// gone, or on a stuck FUSE mount, can block for minutes; the scan looks at
// the target of every shortcut on the drive and must keep going, and the
// window must keep repainting meanwhile.
//
// A target on a local disk is looked at directly. A target that may lie on
// a file system that can hang (a UNC path; below a network, FUSE or
// automount mount point) is looked at on a worker thread, while the caller
// waits at most as long as its budget allows and runs the budget's progress
// hook. A look that does not finish in time is given up (its thread is left
// to finish on its own) and the target counts as one that cannot be judged;
// while that look still hangs, later looks at the same place give up at
// once instead of leaving more blocked threads behind.

#include "shell/FileFacts.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>

class DriveContext;
class MountTable;
class SearchBudget;
namespace BoundedCall {
class HungPlaces;
}

class TargetLook
{
public:
    // Translates a Windows-form target and reads its facts (default: the
    // drive map and readFacts; a path this machine cannot name is Missing).
    using Look = std::function<FactsStatus(const QString &winPath, FileFacts &facts)>;
    // The place that may not answer, for a target: the mount point (or the
    // "\\server\share" of a UNC path) that identifies it while it hangs;
    // nothing for a target on a local file system.
    using SlowPlace = std::function<std::optional<QByteArray>(const QString &winPath)>;

    explicit TargetLook(std::shared_ptr<const DriveContext> drives);
    ~TargetLook();
    TargetLook(const TargetLook &) = delete;
    TargetLook &operator=(const TargetLook &) = delete;

    // Test seam: replaces how targets are looked at and which are slow.
    // Empty functions restore the defaults.
    void setHooks(Look look, SlowPlace slowPlace);

    // The target's status and facts; nothing when its place did not answer
    // within the budget or still hangs from an earlier look.
    std::optional<FactsStatus> look(const QString &winPath, FileFacts &facts, SearchBudget &budget) const;
    // Whether a look at this target would wait on another thread.
    bool maySlow(const QString &winPath) const;

    // Looks that were given up and have not finished yet.
    int hangingLooks() const;

    static FactsStatus lookDirectly(const DriveContext &drives, const QString &winPath, FileFacts &facts);
    // The place that may not answer for a target, by the drives' current
    // map and mounts.
    std::optional<QByteArray> defaultSlowPlace(const QString &winPath) const;

private:
    std::shared_ptr<const DriveContext> m_drives;
    Look m_look;
    SlowPlace m_slowPlace;
    // Places with a look that outlived its wait and is still blocked; shared
    // with the worker threads, which may outlive the look and its service.
    std::shared_ptr<BoundedCall::HungPlaces> m_hung;
    // The mount points that may hang, outermost first, for the mount table
    // they were worked out from.
    mutable std::mutex m_slowMutex;
    mutable std::shared_ptr<const MountTable> m_knownTable;
    mutable QList<QByteArray> m_slowPoints;
};
