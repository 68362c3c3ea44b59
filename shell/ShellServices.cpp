#include "shell/ShellServices.h"

#include "platform/WinPath.h"
#include "shell/ShellUi.h"

#include <QDir>
#include <QFile>
#include <QUrl>

#include <algorithm>
#include <cerrno>
#include <optional>

#include <sys/stat.h>

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

            GFilePtr file(g_file_new_for_path(posix->constData()));
            GError *rawError = nullptr;
            const bool trashed = g_file_trash(file.get(), nullptr, &rawError);
            const GErrorPtr error(rawError);
            if (trashed) {
                result.moved << winPath;
            } else if (entryAt(*posix) == Entry::Missing) {
                result.gone << winPath;
            } else {
                result.failed << winPath;
                failures.append({winPath, refusal(error.get())});
            }
        }
        if (!failures.isEmpty())
            m_ui.showMessage(failureMessage(failures));
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

QByteArray ShellServices::homeTrashFolder()
{
    return QByteArray(g_get_user_data_dir()) + "/Trash";
}
