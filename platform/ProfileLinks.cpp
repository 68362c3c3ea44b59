#include "platform/ProfileLinks.h"

#include "platform/PosixPath.h"

#include <algorithm>
#include <tuple>

#include <sys/stat.h>

namespace {

// The names of a folder's entries; none when it cannot be read.
std::vector<QByteArray> entriesOf(const QByteArray &folder)
{
    std::vector<QByteArray> names;
    const posix::DirHandle dir = posix::openFolder(folder);
    if (!dir)
        return names;
    while (const dirent *entry = ::readdir(dir.get())) {
        const QByteArray name(entry->d_name);
        if (name != "." && name != "..")
            names.push_back(name);
    }
    return names;
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

    const auto consider = [&](const QByteArray &path) {
        if (!isSymbolicLink(path) || !posix::isFolder(path))
            return;
        const std::optional<QByteArray> target = posix::realPath(path);
        if (!target || *target == "/" || posix::isWithin(driveRoot, *target))
            return;
        result.m_links.push_back(Link{path, *target});
    };
    for (const QByteArray &name : entriesOf(usersFolder)) {
        const QByteArray profile = posix::join(usersFolder, name);
        if (name.startsWith('.') || isSymbolicLink(profile) || !posix::isFolder(profile))
            continue;
        for (const QByteArray &entry : entriesOf(profile))
            consider(posix::join(profile, entry));
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
