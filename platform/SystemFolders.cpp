#include "platform/SystemFolders.h"

#include "platform/DriveMap.h"
#include "platform/MountTable.h"
#include "platform/PosixPath.h"

#include <algorithm>

namespace {

bool identityLess(const FileIdentity &a, const FileIdentity &b)
{
    return a.device != b.device ? a.device < b.device : a.inode < b.inode;
}

} // namespace

bool SystemFolders::mayHang(const QByteArray &fsType)
{
    return MountTable::isNetworkFileSystem(fsType) || fsType == "fuse" || fsType.startsWith("fuse.") ||
           fsType == "fuseblk" || fsType == "autofs";
}

std::shared_ptr<const SystemFolders> SystemFolders::build(std::shared_ptr<const DriveMap> map,
                                                          std::shared_ptr<const MountTable> mounts)
{
    auto view = std::make_shared<SystemFolders>();
    view->m_map = map;
    view->m_mounts = mounts;
    for (const MountEntry &mount : mounts->entries()) {
        if (MountTable::isPseudoFileSystem(mount.fsType))
            view->m_pseudoDevices.push_back(mount.device);
        if (mayHang(mount.fsType))
            view->m_hangPoints.push_back(mount.mountPoint);
    }
    std::sort(view->m_pseudoDevices.begin(), view->m_pseudoDevices.end());

    // Each place by the folder that holds it. That folder is looked at only
    // where it cannot hang; a place inside a file system that may not answer
    // is reached only through calls that wait with a bound anyway.
    const auto placeFor = [&](const QByteArray &path) -> Place * {
        if (path == "/" || !path.startsWith('/'))
            return nullptr;
        const QByteArray parent = posix::parentPath(path);
        if (view->mayHangAt(parent))
            return nullptr;
        const std::optional<FileIdentity> identity = identityOf(parent);
        if (!identity)
            return nullptr;
        const QByteArray name = posix::baseName(path);
        for (auto &[key, place] : view->m_places)
            if (key.parent == *identity && key.name == name)
                return &place;
        view->m_places.push_back({Key{*identity, name}, Place{}});
        view->m_placeParents.push_back(*identity);
        return &view->m_places.back().second;
    };
    for (const MountEntry &mount : mounts->entries()) {
        if (Place *place = placeFor(mount.mountPoint)) {
            // A later mount on the same point hides the earlier one.
            place->system = MountTable::isPseudoFileSystem(mount.fsType);
            place->mayHang = mayHang(mount.fsType);
        }
    }
    for (QChar letter : map->letters()) {
        const QByteArray folder = *map->folder(letter);
        if (Place *place = placeFor(folder))
            place->system = true;
        if (!view->mayHangAt(folder))
            if (std::optional<FileIdentity> identity = identityOf(folder))
                view->m_driveRoots.push_back(*identity);
    }
    std::sort(view->m_placeParents.begin(), view->m_placeParents.end(), identityLess);
    return view;
}

const SystemFolders::Place *SystemFolders::placeAt(const FileIdentity &parent, std::string_view name) const
{
    if (!std::binary_search(m_placeParents.begin(), m_placeParents.end(), parent, identityLess))
        return nullptr;
    for (const auto &[key, place] : m_places)
        if (key.parent == parent && std::string_view(key.name.constData(), size_t(key.name.size())) == name)
            return &place;
    return nullptr;
}

bool SystemFolders::isSystem(const struct stat &st, bool countDriveRoots) const
{
    if (std::binary_search(m_pseudoDevices.begin(), m_pseudoDevices.end(), st.st_dev))
        return true;
    const FileIdentity identity{st.st_dev, st.st_ino};
    return countDriveRoots &&
           std::find(m_driveRoots.begin(), m_driveRoots.end(), identity) != m_driveRoots.end();
}

const QByteArray *SystemFolders::hangPointOf(const QByteArray &cleanPath) const
{
    const QByteArray *deepest = nullptr;
    for (const QByteArray &point : m_hangPoints)
        if (posix::isWithin(point, cleanPath) && (!deepest || point.size() > deepest->size()))
            deepest = &point;
    return deepest;
}
