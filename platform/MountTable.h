#pragma once

#include <QByteArray>
#include <QList>

#include <memory>

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
    // The system's table, shared and read again only after the kernel reports
    // a mount or unmount; cheap enough to ask for on every folder search.
    static std::shared_ptr<const MountTable> systemShared();

    const QList<MountEntry> &entries() const { return m_entries; }
    // The mount whose mount point is the longest prefix of a canonical path
    // (of several mounts on one mount point, the last one, which is visible).
    const MountEntry *mountOf(const QByteArray &canonicalPath) const;

    static bool isPseudoFileSystem(const QByteArray &fsType);
    static bool isNetworkFileSystem(const QByteArray &fsType);

private:
    QList<MountEntry> m_entries;
};
