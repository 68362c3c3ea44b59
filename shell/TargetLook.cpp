#include "shell/TargetLook.h"

#include "platform/DriveContext.h"
#include "platform/MountTable.h"
#include "platform/WinPath.h"
#include "shell/SearchBudget.h"

#include <QSet>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

namespace {

// File systems whose calls may block for as long as a server or a user
// process takes to answer.
bool mayHang(const QByteArray &fsType)
{
    return MountTable::isNetworkFileSystem(fsType) || fsType.startsWith("fuse") || fsType == "autofs";
}

// Whether `path` lies in `folder`, names compared without regard to case
// (the target's names are matched so when it is translated).
bool isWithinFolded(const QString &folder, const QString &path)
{
    if (folder == QLatin1String("/"))
        return true;
    return path.startsWith(folder, Qt::CaseInsensitive) &&
           (path.size() == folder.size() || path.at(folder.size()) == QLatin1Char('/'));
}

} // namespace

// Places with a look that outlived its wait and is still blocked. Shared with
// the worker threads, which may outlive the look and its service.
struct TargetLook::Hung
{
    mutable std::mutex mutex;
    QSet<QByteArray> places;
    int hanging = 0;
};

TargetLook::TargetLook(std::shared_ptr<const DriveContext> drives)
    : m_drives(std::move(drives)), m_hung(std::make_shared<Hung>())
{}

TargetLook::~TargetLook() = default;

void TargetLook::setHooks(Look look, SlowPlace slowPlace)
{
    m_look = std::move(look);
    m_slowPlace = std::move(slowPlace);
}

FactsStatus TargetLook::lookDirectly(const DriveContext &drives, const QString &winPath, FileFacts &facts)
{
    // Most targets exist as written: one look, with no separate look for
    // the translation.
    const std::optional<QByteArray> written = WinPath::toPosixAsWritten(winPath, drives);
    if (written) {
        const FactsStatus status = readFacts(*written, facts);
        if (status != FactsStatus::Missing)
            return status;
    }
    const std::optional<QByteArray> posix = WinPath::toPosix(winPath, drives);
    if (!posix)
        return FactsStatus::Missing;
    if (written && *posix == *written)
        return FactsStatus::Missing; // looked at already
    return readFacts(*posix, facts);
}

std::optional<QByteArray> TargetLook::defaultSlowPlace(const QString &winPath) const
{
    if (winPath.startsWith(QLatin1String("\\\\"))) {
        // A share is a network place by nature: its server and share name.
        const qsizetype server = winPath.indexOf(QLatin1Char('\\'), 2);
        const qsizetype share = server < 0 ? -1 : winPath.indexOf(QLatin1Char('\\'), server + 1);
        return (share < 0 ? winPath : winPath.left(share)).toCaseFolded().toUtf8();
    }
    if (winPath.size() < 2 || winPath.at(1) != QLatin1Char(':'))
        return std::nullopt;
    // The mount points that may hang, outermost first; most machines have
    // none, and then no target is slow.
    const std::shared_ptr<const MountTable> mounts = m_drives->mounts();
    QList<QByteArray> slowPoints;
    {
        const std::lock_guard lock(m_slowMutex);
        if (m_knownTable != mounts) {
            m_slowPoints.clear();
            for (const MountEntry &mount : mounts->entries()) {
                if (mayHang(mount.fsType))
                    m_slowPoints << mount.mountPoint;
            }
            std::sort(m_slowPoints.begin(), m_slowPoints.end(),
                      [](const QByteArray &a, const QByteArray &b) { return a.size() < b.size(); });
            m_knownTable = mounts;
        }
        slowPoints = m_slowPoints; // shared, not copied
    }
    if (slowPoints.isEmpty())
        return std::nullopt;
    const std::optional<QByteArray> drive = m_drives->map()->folder(winPath.at(0));
    if (!drive)
        return std::nullopt;
    // Where the target would lie, worked out from names alone: no call may
    // touch the file system before we know it answers.
    QString guess = QString::fromUtf8(*drive);
    for (const QStringView name : QStringView(winPath).mid(2).split(QLatin1Char('\\'), Qt::SkipEmptyParts)) {
        if (!guess.endsWith(QLatin1Char('/')))
            guess += QLatin1Char('/');
        guess += name;
    }
    for (const QByteArray &point : std::as_const(slowPoints)) {
        if (isWithinFolded(QString::fromUtf8(point), guess))
            return point;
    }
    return std::nullopt;
}

bool TargetLook::maySlow(const QString &winPath) const
{
    return (m_slowPlace ? m_slowPlace(winPath) : defaultSlowPlace(winPath)).has_value();
}

int TargetLook::hangingLooks() const
{
    const std::lock_guard lock(m_hung->mutex);
    return m_hung->hanging;
}

std::optional<FactsStatus> TargetLook::look(const QString &winPath, FileFacts &facts,
                                            SearchBudget &budget) const
{
    const std::optional<QByteArray> place = m_slowPlace ? m_slowPlace(winPath) : defaultSlowPlace(winPath);
    if (!place)
        return m_look ? m_look(winPath, facts) : lookDirectly(*m_drives, winPath, facts);
    // The worker thread may outlive this object: it holds what it uses.
    const Look look = m_look ? m_look : Look([drives = m_drives](const QString &path, FileFacts &found) {
        return lookDirectly(*drives, path, found);
    });

    const std::shared_ptr<Hung> hung = m_hung;
    {
        const std::lock_guard lock(hung->mutex);
        if (hung->places.contains(*place))
            return std::nullopt;
    }
    struct Call
    {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
        bool abandoned = false;
        FactsStatus status = FactsStatus::Unreadable;
        FileFacts facts;
    };
    const auto call = std::make_shared<Call>();
    try {
        std::thread([call, hung, look, winPath, place = *place] {
            FileFacts found;
            const FactsStatus status = look(winPath, found);
            const std::lock_guard lock(call->mutex);
            call->status = status;
            call->facts = found;
            call->finished = true;
            if (call->abandoned) {
                const std::lock_guard hungLock(hung->mutex);
                hung->places.remove(place);
                --hung->hanging;
            }
            call->done.notify_all();
        }).detach();
    } catch (const std::system_error &) {
        return std::nullopt; // no thread to look with: cannot say
    }

    // Wait in short slices, so the budget's progress hook runs on time. The
    // hook runs without the lock held: it may take its time.
    std::unique_lock lock(call->mutex);
    for (;;) {
        if (call->finished)
            break;
        lock.unlock();
        const bool inTime = budget.tick();
        lock.lock();
        if (call->finished)
            break;
        if (!inTime) {
            call->abandoned = true;
            const std::lock_guard hungLock(hung->mutex);
            hung->places.insert(*place);
            ++hung->hanging;
            return std::nullopt;
        }
        call->done.wait_for(lock, std::chrono::milliseconds(5), [&] { return call->finished; });
    }
    facts = call->facts;
    return call->status;
}
