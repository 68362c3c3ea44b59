#pragma once

#include <QByteArray>
#include <QList>

#include "platform/PosixPath.h"

#include <QElapsedTimer>

#include <memory>
#include <mutex>

#include <sys/types.h>

// One line of /proc/self/mountinfo, the fields the program needs.
struct MountEntry
{
    dev_t device = 0;      // major:minor as st_dev reports it
    QByteArray root;       // root of the mount within its file system
    QByteArray mountPoint; // unescaped
    QByteArray fsType;
    QByteArray source; // unescaped ("//server/share", "/dev/sdb1", ...)
};

// The mount table, parsed from mountinfo text. Tests feed their own text.
class MountTable
{
public:
    MountTable() = default;
    static MountTable parse(const QByteArray &mountinfoText);
    static MountTable fromSystem(); // /proc/self/mountinfo

    const QList<MountEntry> &entries() const { return m_entries; }
    // The mount whose mount point is the longest prefix of a canonical path
    // (of several mounts on one mount point, the last one, which is visible).
    const MountEntry *mountOf(const QByteArray &canonicalPath) const;

    static bool isPseudoFileSystem(const QByteArray &fsType);
    static bool isNetworkFileSystem(const QByteArray &fsType);

private:
    QList<MountEntry> m_entries;
};

// Where the program's parts get the mount table from: this machine's, read
// again only after the kernel reports a mount or unmount, or a fixed one
// (tests). Cheap enough to ask on every folder search; safe on any thread.
class MountSource
{
public:
    // This machine's table (/proc/self/mountinfo).
    MountSource();
    // Always this table.
    explicit MountSource(MountTable fixed);
    MountSource(const MountSource &) = delete;
    MountSource &operator=(const MountSource &) = delete;

    std::shared_ptr<const MountTable> table() const;

private:
    mutable std::mutex m_mutex;
    mutable std::shared_ptr<const MountTable> m_table;
    mutable QElapsedTimer m_sinceAsked;
    mutable posix::UniqueFd m_watched; // the open mountinfo file
    bool m_fixed = false;
};
