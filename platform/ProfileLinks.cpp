#include "platform/ProfileLinks.h"

#include "platform/PosixPath.h"

#include <algorithm>
#include <tuple>

#include <dirent.h>
#include <sys/stat.h>

namespace {

// A folder's entries, with their types as the folder gives them
// (DT_UNKNOWN where it gives none); none when it cannot be read.
struct NamedEntry
{
    QByteArray name;
    unsigned char type = DT_UNKNOWN;
};
std::vector<NamedEntry> entriesOf(const QByteArray &folder)
{
    std::vector<NamedEntry> entries;
    const posix::DirHandle dir = posix::openFolder(folder);
    if (!dir)
        return entries;
    while (const dirent *entry = ::readdir(dir.get())) {
        const QByteArray name(entry->d_name);
        if (name != "." && name != "..")
            entries.push_back(NamedEntry{name, entry->d_type});
    }
    return entries;
}

bool isSymbolicLink(const QByteArray &path)
{
    struct stat st;
    return ::lstat(path.constData(), &st) == 0 && S_ISLNK(st.st_mode);
}

} // namespace

ProfileLinks ProfileLinks::of(const QByteArray &driveRoot)
{
    ProfileLinks result;
    result.m_root = driveRoot;
    const std::optional<QByteArray> users = posix::findEntryNoCase(driveRoot, QStringLiteral("users"));
    if (!users)
        return result;
    const QByteArray usersFolder = posix::join(driveRoot, *users);
    if (isSymbolicLink(usersFolder))
        return result;

    // Only symbolic links lead out of the drive: the type the folder gives
    // spares a look at each of a profile's other entries, which every search
    // for a moved target makes.
    const auto consider = [&](const QByteArray &path, unsigned char type = DT_UNKNOWN) {
        if ((type != DT_LNK && type != DT_UNKNOWN) || !isSymbolicLink(path) || !posix::isFolder(path))
            return;
        const std::optional<QByteArray> target = posix::realPath(path);
        if (!target || *target == "/" || posix::isWithin(driveRoot, *target))
            return;
        result.m_links.push_back(Link{path, *target});
    };
    for (const NamedEntry &user : entriesOf(usersFolder)) {
        const QByteArray profile = posix::join(usersFolder, user.name);
        if (user.name.startsWith('.') ||
            (user.type != DT_DIR && (isSymbolicLink(profile) || !posix::isFolder(profile))))
            continue;
        for (const NamedEntry &entry : entriesOf(profile))
            consider(posix::join(profile, entry.name), entry.type);
        // Wine links the profile's templates folder as well.
        consider(profile + "/AppData/Roaming/Microsoft/Windows/Templates");
    }
    std::sort(result.m_links.begin(), result.m_links.end(), [](const Link &a, const Link &b) {
        return std::tuple(a.path.size(), a.path) < std::tuple(b.path.size(), b.path);
    });
    return result;
}

std::optional<QByteArray> ProfileLinks::drivePath(const QByteArray &canonicalPath) const
{
    if (posix::isWithin(m_root, canonicalPath))
        return canonicalPath;
    // Of every link that leads there (Music to the home folder, Desktop to
    // the home's Desktop), the shortest resulting path is the one a user
    // knows.
    std::optional<QByteArray> best;
    for (const Link &link : m_links) {
        if (!posix::isWithin(link.target, canonicalPath))
            continue;
        QByteArray path = link.path + canonicalPath.mid(link.target.size());
        if (!best || std::tuple(path.size(), path) < std::tuple(best->size(), *best))
            best = std::move(path);
    }
    return best;
}

std::optional<QByteArray> ProfileLinks::folderHolding(const QByteArray &canonicalPath) const
{
    if (posix::isWithin(m_root, canonicalPath))
        return m_root;
    for (const Link &link : m_links)
        if (posix::isWithin(link.target, canonicalPath))
            return link.target;
    return std::nullopt;
}
