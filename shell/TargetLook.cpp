#include "shell/TargetLook.h"

#include "platform/BoundedCall.h"
#include "platform/DriveContext.h"
#include "platform/MountTable.h"
#include "platform/PosixPath.h"
#include "platform/WinPath.h"
#include "shell/SearchBudget.h"

#include <algorithm>

namespace {

// File systems whose calls may block for as long as a server or a user
// process takes to answer.
bool mayHang(const QByteArray &fsType)
{
    return MountTable::isNetworkFileSystem(fsType) || fsType.startsWith("fuse") || fsType == "autofs";
}

} // namespace

TargetLook::TargetLook(std::shared_ptr<const DriveContext> drives)
    : m_drives(std::move(drives)), m_hung(std::make_shared<BoundedCall::HungPlaces>())
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
        // Names compared without regard to case: the target's names are
        // matched so when it is translated.
        if (posix::isWithin(QString::fromUtf8(point), guess, Qt::CaseInsensitive))
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
    return m_hung->count();
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

    struct Looked
    {
        FactsStatus status = FactsStatus::Unreadable;
        FileFacts facts;
    };
    // The budget's progress hook runs while the look is under way; a look that
    // throws cannot say anything of the target.
    const std::optional<Looked> looked = BoundedCall::run<Looked>(
        m_hung, *place,
        [look, winPath] {
            Looked out;
            out.status = look(winPath, out.facts);
            return out;
        },
        [&budget] { return budget.tick(); });
    if (!looked)
        return std::nullopt;
    facts = looked->facts;
    return looked->status;
}
