#pragma once

#include "platform/DriveMap.h"

#include "platform/BoundedCall.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>

class MountSource;
class MountTable;
class SystemFolders;

// The drive map and the mount table that a set of the program's parts works
// with. Whoever builds those parts (the window, the command runner, a test)
// owns one and hands it to each of them; two contexts in one process know
// nothing of each other.
//
// The map may be replaced while other threads read it: readers take an
// immutable snapshot (map()) and keep it for as long as they need one map.
class DriveContext
{
public:
    // The map of the Wine prefix from the environment (else the built-in
    // rules) over this machine's mount table.
    static std::shared_ptr<DriveContext> load();

    DriveContext(DriveMap map, std::shared_ptr<const MountSource> mounts);
    DriveContext(const DriveContext &) = delete;
    DriveContext &operator=(const DriveContext &) = delete;

    // The current map; a later setMap() leaves the snapshot as it is.
    std::shared_ptr<const DriveMap> map() const;
    void setMap(DriveMap map);
    // The map loaded again from the environment and the mount table.
    void reload();

    std::shared_ptr<const MountTable> mounts() const;
    const std::shared_ptr<const MountSource> &mountSource() const { return m_mounts; }
    // The folders a walk treats apart, for the current map and mounts;
    // rebuilt when either changes.
    std::shared_ptr<const SystemFolders> systemFolders() const;

    // How long a place that may not answer (a share, a FUSE mount) may give
    // no answer at all before it counts as one that stopped answering
    // (BoundedCall::kNoAnswer; tests shorten it).
    std::chrono::milliseconds noAnswer() const { return std::chrono::milliseconds(m_noAnswerMs.load()); }
    void setNoAnswer(std::chrono::milliseconds span) { m_noAnswerMs.store(span.count()); }

private:
    std::shared_ptr<const MountSource> m_mounts;
    mutable std::mutex m_mutex;
    std::shared_ptr<const DriveMap> m_map;
    mutable std::shared_ptr<const SystemFolders> m_folders;
    std::atomic<qint64> m_noAnswerMs{BoundedCall::kNoAnswer.count()};
};
