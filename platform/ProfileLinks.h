#pragma once

#include <QByteArray>

#include <optional>
#include <vector>

// The folders a Wine prefix links into its drive: wineboot makes
// users\<name>\Desktop, Documents, Downloads, Music, Pictures, Videos and
// AppData\Roaming\Microsoft\Windows\Templates symbolic links to the user's
// XDG folders, or to the home folder itself when those do not exist. Seen
// from Windows they are folders of the drive like any other, so the search
// for a moved target looks through them and a shortcut in one of them is
// rewritten where it really lies.
//
// Only links of the profile folders count; a symbolic link elsewhere on the
// drive is somebody's own and leads off it.
class ProfileLinks
{
public:
    struct Link
    {
        QByteArray path;   // the link as the drive names it: the drive's canonical folder + relative path
        QByteArray target; // the canonical folder it leads to
    };

    // The profile links of the drive whose canonical folder is `driveRoot`:
    // those of every users\<name>\ folder (letter case aside) that lead to a
    // folder outside the drive. A link to the drive's own folders adds
    // nothing, and one to "/" would make the whole machine part of it:
    // neither is taken. A link to the home folder is (wineboot makes those).
    static ProfileLinks of(const QByteArray &driveRoot);

    const QByteArray &driveRoot() const { return m_root; }
    const std::vector<Link> &links() const { return m_links; }

    // A canonical path as the drive names it: itself when it lies in the
    // drive's folder, else its place below the shortest link whose target
    // holds it; nothing when it lies off the drive.
    std::optional<QByteArray> drivePath(const QByteArray &canonicalPath) const;
    // The folder of the drive (its own, or a link's target) that holds a
    // canonical path; nothing when it lies off the drive.
    std::optional<QByteArray> folderHolding(const QByteArray &canonicalPath) const;

private:
    QByteArray m_root;
    std::vector<Link> m_links; // shortest path first
};

// The profile links of the drive last asked for, kept while a scan runs (a
// profile's links do not change under it): asked again for the same drive,
// they are not looked up again until forget().
class ProfileLinksCache
{
public:
    const ProfileLinks &of(const QByteArray &driveRoot)
    {
        if (!m_links || m_links->driveRoot() != driveRoot)
            m_links = ProfileLinks::of(driveRoot);
        return *m_links;
    }
    void forget() { m_links.reset(); }

private:
    std::optional<ProfileLinks> m_links;
};
