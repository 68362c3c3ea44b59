#include "shell/WineLaunchers.h"

#include "platform/DriveContext.h"
#include "platform/PosixPath.h"
#include "platform/WinPath.h"
#include "shell/DesktopEntry.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QXmlStreamReader>

#include <algorithm>
#include <cerrno>

#include <sys/stat.h>

namespace {

// A desktop entry or menu file is a few hundred bytes; anything far larger
// is no launcher Wine wrote.
constexpr qint64 MaxEntryBytes = 256 * 1024;

QByteArray folderOf(QStandardPaths::StandardLocation location, const char *below = nullptr)
{
    QString folder = QStandardPaths::writableLocation(location);
    if (folder.isEmpty())
        return {};
    if (below)
        folder += QLatin1Char('/') + QLatin1String(below);
    return posix::canonicalPath(QFile::encodeName(folder));
}

// A file's path with the folders leading to it resolved, its own name kept:
// a desktop entry or a shortcut may be a symbolic link, and then the link is
// the file a launcher is, or starts.
QByteArray entryPath(const QByteArray &path)
{
    const QByteArray clean = posix::cleanPath(path);
    return posix::join(posix::canonicalPath(posix::parentPath(clean)), posix::baseName(clean));
}

// The .desktop files of a folder, and of its sub-folders when `deep`
// (symbolic links to folders are not followed).
QList<QByteArray> desktopFilesIn(const QByteArray &folder, bool deep)
{
    QList<QByteArray> files;
    if (folder.isEmpty())
        return files;
    // The folder resolved once: the iterator follows no link to a folder,
    // so every folder it reaches below it is resolved already.
    QDirIterator it(QFile::decodeName(posix::canonicalPath(folder)), {QStringLiteral("*.desktop")},
                    QDir::Files | QDir::Hidden,
                    deep ? QDirIterator::Subdirectories : QDirIterator::NoIteratorFlags);
    while (it.hasNext())
        files << posix::cleanPath(QFile::encodeName(it.next()));
    return files;
}

// The desktop file id of a file below the applications folder:
// "wine/Programs/Foo.desktop" is "wine-Programs-Foo.desktop".
QString desktopIdOf(const QByteArray &file, const QByteArray &applications)
{
    if (applications.isEmpty() || !posix::isWithin(applications, file) || file.size() == applications.size())
        return {};
    QString relative = QFile::decodeName(file.mid(applications.size() + 1));
    relative.replace(QLatin1Char('/'), QLatin1Char('-'));
    return relative;
}

// Icon names as Wine's menu builder makes them ("1A2B_foo.0"): a checksum,
// the program's name and the icon's index. Other names (a theme's "wine",
// another program's icon) are never Wine's to take away.
bool isWineIconName(const QString &name)
{
    static const QRegularExpression pattern(QStringLiteral("^[0-9A-Fa-f]{4,}_[^/]+\\.[0-9]+$"));
    return pattern.match(name).hasMatch();
}

// Whether nothing is at the path, as far as this machine can tell: a folder
// that may not be searched leaves it open.
bool isMissing(const QByteArray &path)
{
    struct stat info = {};
    return ::lstat(path.constData(), &info) != 0 && (errno == ENOENT || errno == ENOTDIR);
}

QStringList menuIdsIn(const QByteArray &contents)
{
    QStringList ids;
    QXmlStreamReader xml(contents);
    while (!xml.atEnd()) {
        if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == QLatin1String("Filename"))
            ids << xml.readElementText().trimmed();
    }
    if (xml.hasError())
        return {};
    return ids;
}

} // namespace

WineLaunchers::Folders WineLaunchers::Folders::ofUser()
{
    Folders folders;
    folders.applications = folderOf(QStandardPaths::GenericDataLocation, "applications");
    folders.icons = folderOf(QStandardPaths::GenericDataLocation, "icons");
    folders.desktop = folderOf(QStandardPaths::DesktopLocation);
    folders.menus = folderOf(QStandardPaths::GenericConfigLocation, "menus/applications-merged");
    return folders;
}

WineLaunchers::WineLaunchers(const DriveContext &drives, const Folders &folders) : m_folders(folders)
{
    const std::shared_ptr<const DriveMap> map = drives.map();
    const QByteArray prefix = map->prefix();
    if (prefix.isEmpty())
        return;

    // Every desktop entry counts for the icons and menu files in use; only
    // those under applications/wine/ and on the desktop can be launchers.
    const QByteArray wineFolder = posix::join(m_folders.applications, "wine");
    QList<QByteArray> entries = desktopFilesIn(m_folders.applications, true);
    const QList<QByteArray> onDesktop = desktopFilesIn(m_folders.desktop, false);
    for (const QByteArray &file : onDesktop) {
        if (!entries.contains(file))
            entries << file;
    }
    QHash<QByteArray, QByteArray> realPrefix; // the prefixes launchers name, resolved once each
    for (const QByteArray &file : std::as_const(entries)) {
        const std::optional<QByteArray> contents = posix::readSmallFile(file, MaxEntryBytes);
        const std::optional<DesktopEntry> entry =
            contents ? DesktopEntry::parse(*contents) : std::optional<DesktopEntry>();
        const QString id = desktopIdOf(file, m_folders.applications);
        if (!id.isEmpty())
            m_fileOfId.insert(id, file);
        if (!entry)
            continue;
        const QString icon = entry->string(QStringLiteral("Icon")).value_or(QString());
        m_iconOf.insert(file, icon);

        const bool mayLaunch = onDesktop.contains(file) || posix::isWithin(wineFolder, file);
        const std::optional<WineLaunch> launch = mayLaunch ? WineLaunch::fromEntry(*entry) : std::nullopt;
        if (!launch)
            continue;
        auto named = realPrefix.find(launch->prefix);
        if (named == realPrefix.end())
            named = realPrefix.insert(launch->prefix, posix::canonicalPath(launch->prefix));
        if (*named != prefix)
            continue;

        WineLauncher launcher;
        launcher.file = file;
        if (!launch->windowsPath.isEmpty()) {
            // The shortcut is found through the prefix's own drives, letter
            // case ignored where the exact name does not exist, as Wine
            // finds it when the launcher is clicked.
            // A letter the prefix lacks now names no shortcut: the launcher is
            // this prefix's all the same, but starts nothing known.
            const std::optional<QByteArray> path = WinPath::toPosix(launch->windowsPath, drives);
            if (path && !path->isEmpty())
                launcher.shortcut = entryPath(*path);
            launcher.named = launch->windowsPath;
        } else {
            launcher.shortcut = entryPath(launch->unixPath);
            launcher.named = QFile::decodeName(launch->unixPath);
        }
        launcher.menuId = posix::isWithin(wineFolder, file) ? id : QString();
        launcher.icon = isWineIconName(icon) ? icon : QString();
        m_launchers << launcher;
    }

    // Wine's menu files name the launchers the menu shows.
    if (!m_folders.menus.isEmpty()) {
        const QDir menus(QFile::decodeName(m_folders.menus));
        for (const QString &name :
             menus.entryList({QStringLiteral("wine-*.menu")}, QDir::Files | QDir::Hidden)) {
            const QByteArray path = posix::join(m_folders.menus, QFile::encodeName(name));
            if (const std::optional<QByteArray> contents = posix::readSmallFile(path, MaxEntryBytes))
                m_menuFiles.append({path, menuIdsIn(*contents)});
        }
    }
}

QList<WineLauncher> WineLaunchers::starting(const QByteArray &posixPath) const
{
    const QByteArray shortcut = entryPath(posixPath);
    QList<WineLauncher> found;
    if (shortcut.isEmpty())
        return found;
    for (const WineLauncher &launcher : m_launchers) {
        if (launcher.shortcut == shortcut)
            found << launcher;
    }
    return found;
}

std::optional<WineLauncher> WineLaunchers::at(const QByteArray &posixPath) const
{
    const QByteArray file = entryPath(posixPath);
    for (const WineLauncher &launcher : m_launchers) {
        if (launcher.file == file)
            return launcher;
    }
    return std::nullopt;
}

QList<WineLauncher> WineLaunchers::orphans() const
{
    QList<WineLauncher> found;
    for (const WineLauncher &launcher : m_launchers) {
        if (!launcher.shortcut.isEmpty() && isMissing(launcher.shortcut))
            found << launcher;
    }
    return found;
}

QList<QByteArray> WineLaunchers::companions(const WineLauncher &launcher,
                                            const QSet<QByteArray> &leaving) const
{
    QList<QByteArray> files;
    // A menu file of Wine's goes when every launcher it shows goes (or is
    // gone already).
    if (!launcher.menuId.isEmpty()) {
        for (const MenuFile &menu : m_menuFiles) {
            if (!menu.ids.contains(launcher.menuId))
                continue;
            const bool othersStay = std::any_of(menu.ids.cbegin(), menu.ids.cend(), [&](const QString &id) {
                const QByteArray file = m_fileOfId.value(id);
                return !file.isEmpty() && !leaving.contains(file);
            });
            if (!othersStay)
                files << menu.path;
        }
    }
    // The icon goes when no other desktop entry that stays names it.
    if (!launcher.icon.isEmpty() && !m_folders.icons.isEmpty()) {
        for (auto it = m_iconOf.cbegin(); it != m_iconOf.cend(); ++it) {
            if (it.value() == launcher.icon && !leaving.contains(it.key()))
                return files;
        }
        QDirIterator sizes(QFile::decodeName(posix::join(m_folders.icons, "hicolor")),
                           QDir::Dirs | QDir::NoDotAndDotDot);
        while (sizes.hasNext()) {
            const QByteArray icon =
                QFile::encodeName(sizes.next() + QStringLiteral("/apps/") + launcher.icon);
            for (const char *extension : {".png", ".xpm", ".svg"}) {
                if (!isMissing(icon + extension))
                    files << icon + extension;
            }
        }
        std::sort(files.begin(), files.end());
    }
    return files;
}
