#include "cli/RunDrives.h"

#include "platform/FolderSearch.h"
#include "platform/MountTable.h"
#include "platform/PosixPath.h"
#include "platform/WinPath.h"
#include "winpath/WinPathText.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

bool isAsciiLetter(QChar c)
{
    return (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
           (c >= QLatin1Char('A') && c <= QLatin1Char('Z'));
}

// "c:", "C:\Users", "c:/Users": a path in Windows form, drive letter first.
bool isWindowsForm(const QString &operand)
{
    return operand.size() >= 2 && isAsciiLetter(operand.at(0)) && operand.at(1) == QLatin1Char(':');
}

QString driveList(const DriveMap &map)
{
    QStringList letters;
    for (QChar letter : map.letters())
        letters << QString(letter) + QLatin1Char(':');
    return letters.isEmpty() ? QStringLiteral("there are none")
                             : QStringLiteral("the drives are %1").arg(letters.join(QStringLiteral(", ")));
}

// The operand as a path of this machine taken from its bytes exactly, when
// they are not the operand's own text (not UTF-8: the text could not name
// the file); nothing otherwise.
std::optional<QByteArray> exactPosix(const QString &operand, const QByteArray &raw)
{
    if (raw.isEmpty() || raw == QFile::encodeName(operand))
        return std::nullopt;
    if (raw.startsWith('/'))
        return posix::cleanPath(raw);
    return posix::cleanPath(QFile::encodeName(QDir::currentPath()) + '/' + raw);
}

} // namespace

std::variant<RunDrives, RunDrives::Error> RunDrives::load(const QString &prefix)
{
    auto mounts = std::make_shared<const MountSource>();
    if (prefix.isEmpty()) {
        DriveMap map = DriveMap::load(*mounts);
        return RunDrives(std::move(map), std::move(mounts));
    }
    const QFileInfo info(prefix);
    if (!info.isDir())
        return Error{QStringLiteral("--prefix %1: no such folder").arg(prefix)};
    std::optional<DriveMap> map = DriveMap::fromPrefix(QFile::encodeName(info.absoluteFilePath()));
    if (!map)
        return Error{
            QStringLiteral("--prefix %1: not a Wine prefix (it has no dosdevices/ folder)").arg(prefix)};
    return RunDrives(std::move(*map), std::move(mounts));
}

std::variant<RunDrives::Place, RunDrives::Error> RunDrives::folder(const QString &operand,
                                                                   const QByteArray &raw)
{
    if (const std::optional<QByteArray> exact = exactPosix(operand, raw)) {
        const quint32 attributes = getFileAttributesPosix(*m_drives, *exact);
        if (attributes == win::INVALID_FILE_ATTRIBUTES || !(attributes & win::FILE_ATTRIBUTE_DIRECTORY))
            return Error{QStringLiteral("%1: no such folder").arg(posix::shownPath(*exact))};
        return placeOf(*exact, *exact, operand);
    }
    QByteArray posix;
    if (isWindowsForm(operand)) {
        const QChar letter = operand.at(0).toLower();
        if (!m_map.folder(letter))
            return Error{QStringLiteral("%1: no drive %2: here (%3)").arg(operand, letter, driveList(m_map))};
        const QString rest = operand.mid(2);
        if (!rest.isEmpty() && !WinPathText::isSeparator(rest.at(0)))
            return Error{
                QStringLiteral("%1: a path relative to a drive's current folder; name the folder from "
                               "the drive's root (%2:\\...)")
                    .arg(operand, letter)};
        const std::optional<QByteArray> translated =
            WinPath::toPosix(WinPath::driveRoot(letter) + rest.mid(1), *m_drives);
        if (!translated)
            return Error{QStringLiteral("%1: not a folder this machine can name").arg(operand)};
        posix = *translated;
        if (!QFileInfo(QFile::decodeName(posix)).isDir())
            return Error{QStringLiteral("%1: no such folder").arg(operand)};
    } else {
        const QFileInfo info(operand);
        if (operand.isEmpty() || !info.exists())
            return Error{QStringLiteral("%1: no such folder").arg(operand)};
        if (!info.isDir())
            return Error{QStringLiteral("%1: not a folder").arg(operand)};
        posix = QFile::encodeName(info.absoluteFilePath());
    }
    return placeOf(posix, posix, operand);
}

std::variant<RunDrives::Place, RunDrives::Error> RunDrives::file(const QString &operand,
                                                                 const QByteArray &raw)
{
    if (const std::optional<QByteArray> exact = exactPosix(operand, raw)) {
        const quint32 attributes = getFileAttributesPosix(*m_drives, *exact);
        if (attributes == win::INVALID_FILE_ATTRIBUTES)
            return Error{QStringLiteral("%1: no such file").arg(posix::shownPath(*exact))};
        if (attributes & win::FILE_ATTRIBUTE_DIRECTORY)
            return Error{QStringLiteral("%1: a folder, not a shortcut file").arg(posix::shownPath(*exact))};
        return placeOf(*exact, posix::parentPath(*exact), operand);
    }
    QByteArray posix;
    if (isWindowsForm(operand)) {
        const std::optional<QByteArray> translated = WinPath::toPosix(operand, *m_drives);
        if (!translated)
            return Error{
                QStringLiteral("%1: not a file this machine can name (%2)").arg(operand, driveList(m_map))};
        posix = *translated;
    } else {
        if (operand.isEmpty())
            return Error{QStringLiteral("\"\": no such file")};
        posix = QFile::encodeName(QFileInfo(operand).absoluteFilePath());
    }
    const QFileInfo info(QFile::decodeName(posix));
    if (!info.exists())
        return Error{QStringLiteral("%1: no such file").arg(operand)};
    if (info.isDir())
        return Error{QStringLiteral("%1: a folder, not a shortcut file").arg(operand)};
    return placeOf(posix, QFile::encodeName(info.absolutePath()), operand);
}

std::variant<RunDrives::Place, RunDrives::Error> RunDrives::folderOrFile(const QString &operand,
                                                                         const QByteArray &raw)
{
    std::variant<Place, Error> asFolder = folder(operand, raw);
    if (std::holds_alternative<Place>(asFolder))
        return asFolder;
    std::variant<Place, Error> asFile = file(operand, raw);
    if (Place *place = std::get_if<Place>(&asFile)) {
        place->isFile = true;
        return asFile;
    }
    // What a shortcut's name was meant to be is said as of a file.
    return operand.endsWith(QLatin1String(".lnk"), Qt::CaseInsensitive) ? asFile : asFolder;
}

std::variant<RunDrives::Place, RunDrives::Error>
RunDrives::placeOf(const QByteArray &posix, const QByteArray &folder, const QString &operand)
{
    if (const std::optional<QString> win = WinPath::toWindows(posix, m_map))
        return Place{posix, *win};
    // A name on its path cannot be shown in Windows form (it is not UTF-8,
    // or holds a backslash, a colon or a control character): the place is
    // taken by its own path, and shown with such bytes escaped.
    const Place unshown{posix, posix::shownPath(posix), false};
    if (m_map.place(posix))
        return unshown;
    for (char letter = 'y'; letter >= 'd'; --letter) {
        if (m_map.folder(QLatin1Char(letter)))
            continue;
        m_map.insert(QLatin1Char(letter), folder);
        m_drives->setMap(m_map);
        m_notes << QStringLiteral("%1 lies on no drive; it is %2: for this run")
                       .arg(posix::shownPath(folder), QString(QLatin1Char(letter)));
        if (const std::optional<QString> win = WinPath::toWindows(posix, m_map))
            return Place{posix, *win};
        return unshown;
    }
    return Error{QStringLiteral("%1 lies on no drive, and no drive letter is free for it").arg(operand)};
}

QStringList RunDrives::takeNotes()
{
    return std::exchange(m_notes, {});
}

QString posixPathOf(const DriveContext &drives, const QString &winPath)
{
    const std::optional<QByteArray> posix = WinPath::toPosix(winPath, drives);
    return posix ? QFile::decodeName(*posix) : winPath;
}
