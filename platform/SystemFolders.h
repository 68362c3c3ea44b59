#pragma once

// The folders that a walk of a drive treats apart, worked out from the mount
// table and the drive map:
//   - system folders, never entered: the mount points of pseudo file systems
//     and the root folders of the drives;
//   - folders on file systems that may not answer (network and FUSE file
//     systems): every call there may block for as long as a server takes,
//     so it is made with a bounded wait (BoundedCall).
//
// A walk meets a mount point as a sub-folder entry of an ordinary folder.
// Which entries are mount points or drive roots is known here by the
// identity of the folder that holds them and the entry's name, so a walk
// learns what lies behind an entry without touching it: a mount point that
// does not answer is never looked at before the walk knows it must wait.

#include "platform/FileIdentity.h"

#include <QByteArray>

#include <memory>
#include <string_view>
#include <vector>

#include <sys/stat.h>

class DriveMap;
class MountTable;

class SystemFolders
{
public:
    struct Place
    {
        bool system = false;  // a pseudo file system's mount point or a drive's root folder
        bool mayHang = false; // a file system that may not answer is mounted here
    };

    // The view of a mount table and a drive map (DriveContext keeps the
    // current one). Looks at the folders where the places lie.
    static std::shared_ptr<const SystemFolders> build(std::shared_ptr<const DriveMap> map,
                                                      std::shared_ptr<const MountTable> mounts);

    const std::shared_ptr<const MountTable> &mounts() const { return m_mounts; }
    const std::shared_ptr<const DriveMap> &map() const { return m_map; }

    // What is mounted at, or which drive starts at, the entry `name` of the
    // folder `parent`; null for an ordinary sub-folder.
    const Place *placeAt(const FileIdentity &parent, std::string_view name) const;
    // Whether a folder that stats as `st` is a system folder: on a pseudo file
    // system, or (with countDriveRoots) the root folder of a drive.
    bool isSystem(const struct stat &st, bool countDriveRoots) const;
    // Whether a file system that may not answer is mounted anywhere.
    bool anyMayHang() const { return !m_hangPoints.empty(); }
    // The mount point of the file system that may not answer in which a
    // clean absolute path lies (by the mount points alone: nothing is looked
    // at); null when it lies in none.
    const QByteArray *hangPointOf(const QByteArray &cleanPath) const;
    bool mayHangAt(const QByteArray &cleanPath) const { return hangPointOf(cleanPath) != nullptr; }

    // File systems whose calls may block for as long as a server or a user
    // process takes to answer.
    static bool mayHang(const QByteArray &fsType);

private:
    struct Key
    {
        FileIdentity parent;
        QByteArray name;
    };

    std::shared_ptr<const DriveMap> m_map;
    std::shared_ptr<const MountTable> m_mounts;
    std::vector<dev_t> m_pseudoDevices; // sorted
    std::vector<FileIdentity> m_driveRoots;
    std::vector<FileIdentity> m_placeParents; // sorted, for a quick "no"
    std::vector<std::pair<Key, Place>> m_places;
    std::vector<QByteArray> m_hangPoints;
};
