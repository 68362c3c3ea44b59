#include "shell/ShellServices.h"

#include "platform/PosixPath.h"
#include "platform/WinPath.h"
#include "shell/ChangeJournal.h"
#include "shell/ShellUi.h"
#include "shell/WineLaunchers.h"

#include <QDir>
#include <QFile>
#include <QUrl>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// GIO's headers name a structure field "signals", which Qt defines as a macro.
#pragma push_macro("signals")
#undef signals
#include <gio/gio.h>
#pragma pop_macro("signals")

namespace {

struct GObjectUnref
{
    void operator()(gpointer object) const { g_object_unref(object); }
};
using GFilePtr = std::unique_ptr<GFile, GObjectUnref>;

struct GErrorFree
{
    void operator()(GError *error) const { g_error_free(error); }
};
using GErrorPtr = std::unique_ptr<GError, GErrorFree>;

// A message box cannot show an unbounded list; the rest is counted.
constexpr int MaxListedFailures = 20;

struct Failure
{
    QString path;
    QString reason;
};

// What is at a POSIX path, the entry itself (a symbolic link is not followed).
enum class Entry { Missing, Folder, Other };

Entry entryAt(const QByteArray &posixPath)
{
    struct stat info = {};
    if (::lstat(posixPath.constData(), &info) == 0)
        return S_ISDIR(info.st_mode) ? Entry::Folder : Entry::Other;
    // Anything but "no such entry" (a folder we may not search, say) leaves
    // open whether the file is there, so it counts as present.
    return errno == ENOENT || errno == ENOTDIR ? Entry::Missing : Entry::Other;
}

QString failureMessage(const QList<Failure> &failures)
{
    QString text =
        failures.size() == 1
            ? QStringLiteral("This file could not be moved to the Trash:\n")
            : QStringLiteral("These %1 files could not be moved to the Trash:\n").arg(failures.size());
    const qsizetype listed = std::min<qsizetype>(failures.size(), MaxListedFailures);
    for (qsizetype i = 0; i < listed; ++i)
        text += QStringLiteral("\n%1\n    %2").arg(failures[i].path, failures[i].reason);
    if (failures.size() > listed)
        text += QStringLiteral("\n\n...and %1 more.").arg(failures.size() - listed);
    return text;
}

// Why GIO did not trash a file, for the user. A drive without a trash (GIO
// keeps none on system mounts such as memory file systems) leaves the file
// where it is; the user is told that it can go by hand.
QString refusal(const GError *error)
{
    if (!error)
        return QStringLiteral("The Trash refused it.");
    QString reason = QString::fromUtf8(error->message);
    if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_NOT_SUPPORTED)) {
        if (!reason.endsWith(QLatin1Char('.')))
            reason += QLatin1Char('.');
        reason += QStringLiteral(" This drive has no Trash: the file can be removed from it by hand.");
    }
    return reason;
}

// Moves one file of this machine to the trash; where the trash keeps it
// (found by the device and inode the file keeps on its way in), or nothing
// with the error.
std::optional<TrashEntry> trashFile(const QByteArray &posixPath, GErrorPtr &error)
{
    struct stat identity = {};
    const bool known = ::lstat(posixPath.constData(), &identity) == 0;
    GFilePtr file(g_file_new_for_path(posixPath.constData()));
    GError *rawError = nullptr;
    const bool trashed = g_file_trash(file.get(), nullptr, &rawError);
    error.reset(rawError);
    if (!trashed)
        return std::nullopt;
    if (!known)
        return TrashEntry{posixPath, {}, {}, {}, 0, 0};
    return ShellServices::trashedEntry(posixPath, identity.st_dev, identity.st_ino);
}

class FreedesktopShellServices final : public ShellServices
{
public:
    FreedesktopShellServices(ShellUi &ui, std::shared_ptr<const DriveContext> drives)
        : m_ui(ui), m_drives(std::move(drives))
    {}

    void openFolder(const QString &winFolder) override
    {
        const std::optional<QByteArray> posix = WinPath::toPosix(winFolder, *m_drives);
        if (!posix || posix->isEmpty())
            return;
        m_ui.openUrl(QUrl::fromLocalFile(QDir::cleanPath(QFile::decodeName(*posix))));
    }

    void openWebAddress(const QString &address) override
    {
        const QUrl url(address, QUrl::StrictMode);
        const QString scheme = url.scheme();
        if (url.isValid() && !url.host().isEmpty() &&
            (scheme == QLatin1String("http") || scheme == QLatin1String("https")))
            m_ui.openUrl(url);
    }

    TrashResult deleteToTrash(const QStringList &winPaths) override
    {
        TrashResult result;
        if (winPaths.isEmpty()) {
            result.confirmed = true;
            return result;
        }

        // What goes along: a shortcut's launchers, or a launcher's own menu
        // file and icon. Looked at before asking, so the question can say.
        const WineLaunchers launchers(*m_drives);
        QList<std::optional<QByteArray>> posixPaths;
        QList<QList<WineLauncher>> along;
        QList<bool> isLauncher; // the requested file is a launcher itself
        QSet<QByteArray> counted;
        for (const QString &winPath : winPaths) {
            posixPaths << WinPath::toPosix(winPath, *m_drives);
            QList<WineLauncher> going;
            isLauncher << false;
            if (const std::optional<QByteArray> &posix = posixPaths.last()) {
                if (const std::optional<WineLauncher> itself = launchers.at(*posix)) {
                    going << *itself;
                    isLauncher.last() = true;
                } else {
                    going = launchers.starting(*posix);
                    for (const WineLauncher &launcher : std::as_const(going))
                        counted.insert(launcher.file);
                }
            }
            along << going;
        }
        // A launcher named in the request goes as itself, not along.
        for (qsizetype i = 0; i < along.size(); ++i) {
            if (isLauncher.at(i))
                counted.remove(along.at(i).first().file);
        }

        const int launcherCount = int(counted.size());
        if (!m_ui.confirmDelete(winPaths, deleteQuestion(winPaths, launcherCount), launcherCount))
            return result;
        result.confirmed = true;

        QList<Failure> failures;
        QList<Failure> notJournalled;
        ChangeJournal journal(QStringLiteral("trash"));
        QSet<QByteArray> leaving; // launcher files moved (or gone) by this request
        QSet<QByteArray> moved;   // every file this request moved
        for (qsizetype i = 0; i < winPaths.size(); ++i) {
            const QString &winPath = winPaths.at(i);
            const std::optional<QByteArray> &posix = posixPaths.at(i);
            if (!posix) {
                result.failed << winPath;
                failures.append({winPath, QStringLiteral("No such drive or folder on this computer.")});
                continue;
            }
            // The program deletes shortcut files. A folder at the path (a drive
            // root, or a folder that took a shortcut's place) is never moved.
            const Entry before = entryAt(*posix);
            TrashGroup group{winPath, {}};
            // A file that is gone already is what the user asked for: it is
            // reported as gone, not as a failure, and the message names only
            // files that are still there.
            if (before == Entry::Missing) {
                result.gone << winPath;
            } else if (before == Entry::Folder) {
                result.failed << winPath;
                failures.append({winPath, QStringLiteral("It is a folder, not a file.")});
                continue;
            } else {
                GErrorPtr error;
                if (const std::optional<TrashEntry> move = trashFile(*posix, error)) {
                    result.moved << winPath;
                    group.files << *move;
                } else if (entryAt(*posix) == Entry::Missing) {
                    result.gone << winPath;
                } else {
                    result.failed << winPath;
                    failures.append({winPath, refusal(error.get())});
                    continue;
                }
            }

            // The shortcut is gone: the launchers that started it go too,
            // then what only they used.
            if (isLauncher.at(i) && !group.files.isEmpty())
                moved.insert(along.at(i).first().file);
            for (const WineLauncher &launcher : along.at(i)) {
                if (!isLauncher.at(i)) {
                    if (moved.contains(launcher.file))
                        continue;
                    if (!moveAlong(launcher.file, group, moved, result, failures))
                        continue;
                }
                leaving.insert(launcher.file);
                for (const QByteArray &companion : launchers.companions(launcher, leaving)) {
                    if (!moved.contains(companion))
                        moveAlong(companion, group, moved, result, failures);
                }
            }
            // The shortcut and everything that went with it are one change,
            // put back together by an undo.
            if (!group.files.isEmpty()) {
                JournalChange change;
                change.kind = JournalChange::Kind::Trash;
                // The Windows path is the first file's: a shortcut that was
                // gone already went nowhere, and names none of its launchers.
                if (group.files.first().path == *posix)
                    change.winPath = winPath;
                change.files = group.files;
                if (const int failed = journal.record(change))
                    notJournalled.append({winPath, QString::fromLocal8Bit(std::strerror(failed))});
            }
            result.groups << group;
        }
        if (!failures.isEmpty())
            m_ui.showMessage(failureMessage(failures));
        // They are in the trash all the same, and can be restored from there.
        if (!notJournalled.isEmpty()) {
            m_ui.showMessage(QStringLiteral("Moved to the Trash, but not recorded for undo (%1): %2")
                                 .arg(notJournalled.first().reason, notJournalled.first().path) +
                             (notJournalled.size() > 1
                                  ? QStringLiteral(" and %1 more").arg(notJournalled.size() - 1)
                                  : QString()));
        }
        return result;
    }

private:
    // Moves a file that goes along with a requested one; false, with the
    // failure noted, when it stays.
    static bool moveAlong(const QByteArray &file, TrashGroup &group, QSet<QByteArray> &moved,
                          TrashResult &result, QList<Failure> &failures)
    {
        if (const Entry at = entryAt(file); at != Entry::Other)
            return at == Entry::Missing;
        GErrorPtr error;
        if (const std::optional<TrashEntry> move = trashFile(file, error)) {
            group.files << *move;
            moved.insert(file);
            return true;
        }
        if (entryAt(file) == Entry::Missing)
            return true;
        result.companionsFailed << file;
        failures.append({posix::shownPath(file), refusal(error.get())});
        return false;
    }

    ShellUi &m_ui;
    std::shared_ptr<const DriveContext> m_drives;
};

} // namespace

std::unique_ptr<ShellServices> ShellServices::create(ShellUi &ui, std::shared_ptr<const DriveContext> drives)
{
    return std::make_unique<FreedesktopShellServices>(ui, std::move(drives));
}

QString ShellServices::deleteQuestion(const QStringList &winPaths, int launchers)
{
    const bool one = winPaths.size() == 1;
    QString question =
        one ? QStringLiteral("Are you sure you want to move \"%1\" to the Trash?").arg(winPaths.first())
            : QStringLiteral("Are you sure you want to move these %1 files to the Trash?")
                  .arg(winPaths.size());
    return question + launchersGoingText(launchers, one);
}

QString ShellServices::launchersGoingText(int launchers, bool one)
{
    if (launchers == 1)
        return one ? QStringLiteral(" The Wine launcher that starts it goes too.")
                   : QStringLiteral(" The Wine launcher that starts one of them goes too.");
    if (launchers > 1)
        return (one ? QStringLiteral(" The %1 Wine launchers that start it go too.")
                    : QStringLiteral(" The %1 Wine launchers that start them go too."))
            .arg(launchers);
    return QString();
}

namespace {

// The folder at the top of the file system that holds `path`: the last
// folder on the way up that is on the same device.
QByteArray topFolderOf(const QByteArray &path, dev_t device)
{
    QByteArray folder = posix::parentPath(posix::cleanPath(path));
    while (folder != "/") {
        const QByteArray up = posix::parentPath(folder);
        struct stat st;
        if (::stat(up.constData(), &st) != 0 || st.st_dev != device)
            break;
        folder = up;
    }
    return folder;
}

// The entry of `trash` (a trash folder holding files/ and info/) that is
// the file with that device and inode. The trash names an entry after the
// file, with a number after the part of its name before the first dot when
// the name is taken ("Old Game.2.lnk"), so only such names are looked at.
std::optional<QByteArray> entryIn(const QByteArray &trash, const QByteArray &name, dev_t device, ino_t inode)
{
    const QByteArray files = trash + "/files";
    const posix::DirHandle dir = posix::openFolder(files);
    if (!dir)
        return std::nullopt;
    const qsizetype dot = name.indexOf('.', 1);
    const QByteArray stem = dot > 0 ? name.left(dot) : name;
    while (const dirent *entry = ::readdir(dir.get())) {
        const QByteArray candidate(entry->d_name);
        if (!candidate.startsWith(stem))
            continue;
        struct stat st;
        if (::fstatat(::dirfd(dir.get()), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            st.st_dev == device && st.st_ino == inode)
            return candidate;
    }
    return std::nullopt;
}

} // namespace

TrashEntry ShellServices::trashedEntry(const QByteArray &path, quint64 device, quint64 inode)
{
    TrashEntry file{path, {}, {}, {}, device, inode};
    const QByteArray uid = QByteArray::number(::getuid());
    QList<QByteArray> trashes{homeTrashFolder()};
    const QByteArray top = topFolderOf(path, dev_t(device));
    trashes << top + "/.Trash/" + uid << top + "/.Trash-" + uid;
    const QByteArray name = posix::baseName(posix::cleanPath(path));
    for (const QByteArray &trash : trashes) {
        if (const std::optional<QByteArray> entry = entryIn(trash, name, dev_t(device), ino_t(inode))) {
            file.trashPath = trash + "/files/" + *entry;
            file.infoPath = trash + "/info/" + *entry + ".trashinfo";
            file.info = posix::readSmallFile(file.infoPath, 1 << 16).value_or(QByteArray());
            break;
        }
    }
    return file;
}

QByteArray ShellServices::homeTrashFolder()
{
    return QByteArray(g_get_user_data_dir()) + "/Trash";
}
