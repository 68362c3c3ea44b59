#pragma once

#include <QByteArray>
#include <QChar>
#include <QList>
#include <QString>

#include <array>
#include <optional>

class MountSource;
class MountTable;

// Which folder of this machine each drive letter names. Read once at
// start-up: from the Wine prefix's dosdevices/ folder ($WINEPREFIX, else
// ~/.wine) when it exists, else by the built-in rules (z: is /, c: the first
// mounted file system holding a Windows installation, d: on for the other
// drives a user would call drives, in mount point order).
class DriveMap
{
public:
    DriveMap() = default;

    // The map of a Wine prefix, or nothing when it has no dosdevices/ folder.
    // Entries named "<letter>:" that resolve to a folder map that letter;
    // everything else (raw devices "x::", dangling links, files) is ignored.
    static std::optional<DriveMap> fromPrefix(const QByteArray &prefix);
    // The built-in rules applied to a mount table.
    static DriveMap fromMounts(const MountTable &mounts);
    // The map for this process: the prefix from the environment, else the
    // built-in rules on the mount table (asked for only then).
    static DriveMap load(const MountSource &mounts);

    // Maps a letter (any case) to a folder; the folder is stored canonical.
    void insert(QChar letter, const QByteArray &folder);

    // The canonical POSIX folder of a letter (any case), if mapped.
    std::optional<QByteArray> folder(QChar letter) const;
    // Mapped letters in order, lower case.
    QList<QChar> letters() const;
    bool isEmpty() const;
    // The Wine prefix the map was read from (canonical); empty for a map of
    // the built-in rules. Wine's menu launchers name it in their WINEPREFIX.
    const QByteArray &prefix() const { return m_prefix; }
    // The lower-case letter whose folder is the longest prefix of the
    // canonical form of posixPath; a null QChar when none is. When the path
    // as written (made absolute, "." and ".." applied) lies in a drive whose
    // folder is longer still, that drive wins: a file reached through a
    // linked folder inside c: stays on c:.
    QChar driveOf(const QByteArray &posixPath) const;

    // The drive of a path as driveOf() picks it, with the form of the path
    // (canonical or as written) that lies in the drive's folder.
    struct Placement
    {
        QChar letter;
        QByteArray path;
    };
    std::optional<Placement> place(const QByteArray &posixPath) const;

private:
    std::array<QByteArray, 26> m_folders;
    QByteArray m_prefix;
};
