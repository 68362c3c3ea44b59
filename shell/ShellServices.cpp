#include "shell/ShellServices.h"

#include "platform/PosixPath.h"
#include "platform/WinPath.h"
#include "shell/ChangeJournal.h"
#include "shell/ShellUi.h"

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
        if (!m_ui.confirmDelete(winPaths, deleteQuestion(winPaths)))
            return result;
        result.confirmed = true;

        QList<Failure> failures;
        QList<Failure> notJournalled;
        ChangeJournal journal(QStringLiteral("trash"));
        for (const QString &winPath : winPaths) {
            const std::optional<QByteArray> posix = WinPath::toPosix(winPath, *m_drives);
            if (!posix) {
                result.failed << winPath;
                failures.append({winPath, QStringLiteral("No such drive or folder on this computer.")});
                continue;
            }
            // The program deletes shortcut files. A folder at the path (a drive
            // root, or a folder that took a shortcut's place) is never moved.
            const Entry before = entryAt(*posix);
            // A file that is gone already is what the user asked for: it is
            // reported as gone, not as a failure, and the message names only
            // files that are still there.
            if (before == Entry::Missing) {
                result.gone << winPath;
                continue;
            }
            if (before == Entry::Folder) {
                result.failed << winPath;
                failures.append({winPath, QStringLiteral("It is a folder, not a file.")});
                continue;
            }

            struct stat identity = {};
            const bool known = ::lstat(posix->constData(), &identity) == 0;
            GFilePtr file(g_file_new_for_path(posix->constData()));
            GError *rawError = nullptr;
            const bool trashed = g_file_trash(file.get(), nullptr, &rawError);
            const GErrorPtr error(rawError);
            if (trashed) {
                result.moved << winPath;
                JournalChange change;
                change.kind = JournalChange::Kind::Trash;
                change.winPath = winPath;
                change.files.append(known ? trashedEntry(*posix, identity.st_dev, identity.st_ino)
                                          : TrashEntry{*posix, {}, {}, {}, 0, 0});
                if (const int failed = journal.record(change))
                    notJournalled.append({winPath, QString::fromLocal8Bit(std::strerror(failed))});
            } else if (entryAt(*posix) == Entry::Missing) {
                result.gone << winPath;
            } else {
                result.failed << winPath;
                failures.append({winPath, refusal(error.get())});
            }
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
    ShellUi &m_ui;
    std::shared_ptr<const DriveContext> m_drives;
};

} // namespace

std::unique_ptr<ShellServices> ShellServices::create(ShellUi &ui, std::shared_ptr<const DriveContext> drives)
{
    return std::make_unique<FreedesktopShellServices>(ui, std::move(drives));
}

QString ShellServices::deleteQuestion(const QStringList &winPaths)
{
    if (winPaths.size() == 1)
        return QStringLiteral("Are you sure you want to move \"%1\" to the Trash?").arg(winPaths.first());
    return QStringLiteral("Are you sure you want to move these %1 files to the Trash?").arg(winPaths.size());
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
