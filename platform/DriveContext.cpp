#include "platform/DriveContext.h"

#include "platform/MountTable.h"
#include "platform/SystemFolders.h"

std::shared_ptr<DriveContext> DriveContext::load()
{
    auto mounts = std::make_shared<const MountSource>();
    DriveMap map = DriveMap::load(*mounts);
    return std::make_shared<DriveContext>(std::move(map), std::move(mounts));
}

DriveContext::DriveContext(DriveMap map, std::shared_ptr<const MountSource> mounts)
    : m_mounts(std::move(mounts)), m_map(std::make_shared<const DriveMap>(std::move(map)))
{}

std::shared_ptr<const DriveMap> DriveContext::map() const
{
    const std::lock_guard lock(m_mutex);
    return m_map;
}

void DriveContext::setMap(DriveMap map)
{
    auto replaced = std::make_shared<const DriveMap>(std::move(map));
    const std::lock_guard lock(m_mutex);
    m_map = std::move(replaced);
}

void DriveContext::reload()
{
    setMap(DriveMap::load(*m_mounts));
}

std::shared_ptr<const MountTable> DriveContext::mounts() const
{
    return m_mounts->table();
}

std::shared_ptr<const SystemFolders> DriveContext::systemFolders() const
{
    // The mount table is cheap to ask for (it is looked at again only every
    // few milliseconds); a replaced drive map is seen at once.
    std::shared_ptr<const MountTable> mounts = m_mounts->table();
    std::shared_ptr<const DriveMap> map;
    {
        const std::lock_guard lock(m_mutex);
        if (m_folders && m_folders->map() == m_map && m_folders->mounts() == mounts)
            return m_folders;
        map = m_map;
    }
    std::shared_ptr<const SystemFolders> built = SystemFolders::build(std::move(map), std::move(mounts));
    const std::lock_guard lock(m_mutex);
    m_folders = built;
    return built;
}
