#pragma once

#include "platform/DriveContext.h"
#include "platform/DriveMap.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <variant>

// The drive letters of one command-line run, and the Windows form of the
// drives, folders and files the user names. The map is the window's (the
// Wine prefix of the environment, else the built-in rules) or that of the
// prefix given on the command line. A folder or file that lies on no drive
// of the map gets a letter of its own for the run, counted down from y:
// (letters near the end are the ones shortcut targets name least), so the
// walk and the link service can name it.
class RunDrives
{
public:
    // A folder or file, in both forms.
    struct Place
    {
        QByteArray posix; // absolute
        QString win;      // "c:\Users\Public"; a drive root ends in a backslash
        // False for a place whose path holds a name that has no Windows form
        // (bytes that are not UTF-8, a control character...): `win` is then
        // only its path shown with such bytes escaped, never a Windows path.
        bool shown = true;
        bool isFile = false; // a file rather than a folder
    };
    // Why an operand names nothing the command can use: one line.
    struct Error
    {
        QString message;
    };

    // The map of `prefix` (its dosdevices/ folder), or the usual one when
    // `prefix` is empty, over this machine's mounts.
    static std::variant<RunDrives, Error> load(const QString &prefix);

    // A drive ("c:", "C:\"), a folder in Windows form ("c:\Users") or a
    // folder of this machine ("/srv/share", "desktops"): the folder to walk.
    // `raw` is the operand's bytes as given, which a path of this machine is
    // taken from exactly (empty: the operand's own encoding).
    std::variant<Place, Error> folder(const QString &operand, const QByteArray &raw = {});
    // A folder as folder() takes it, or else a file as file() takes it.
    std::variant<Place, Error> folderOrFile(const QString &operand, const QByteArray &raw = {});
    // A file named by a path of this machine or in Windows form.
    std::variant<Place, Error> file(const QString &operand, const QByteArray &raw = {});

    // What the run did with the map that the user should know, such as a
    // letter given to a folder on no drive; each note once.
    QStringList takeNotes();

    const DriveMap &map() const { return m_map; }
    // The run's drives, for the parts that do the work; they see the
    // letters this run adds.
    std::shared_ptr<const DriveContext> drives() const { return m_drives; }

private:
    RunDrives(DriveMap map, std::shared_ptr<const MountSource> mounts)
        : m_map(map), m_drives(std::make_shared<DriveContext>(std::move(map), std::move(mounts)))
    {}

    // The Windows form of an existing absolute path, giving `folder` a
    // letter of its own when the path lies on no drive.
    std::variant<Place, Error> placeOf(const QByteArray &posix, const QByteArray &folder,
                                       const QString &operand);

    DriveMap m_map;
    std::shared_ptr<DriveContext> m_drives;
    QStringList m_notes;
};

// The path on this machine of a Windows-form path of the run's drives; the
// Windows form itself when it names nothing here.
QString posixPathOf(const DriveContext &drives, const QString &winPath);
