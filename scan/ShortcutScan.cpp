#include "scan/ShortcutScan.h"

#include "platform/DriveContext.h"
#include "platform/PosixPath.h"
#include "platform/ProfileLinks.h"
#include "platform/WinPath.h"
#include "platform/WinTypes.h"

#include <QFile>
#include <QFileInfo>
#include <QScopedValueRollback>
#include <QStringList>

#include <algorithm>
#include <functional>
#include <optional>

const QString ShortcutScan::ShortcutPattern = QStringLiteral("*.lnk");

namespace {

const QString EveryName = QStringLiteral("*.*");
constexpr quint32 RuleBits =
    win::FILE_ATTRIBUTE_HIDDEN | win::FILE_ATTRIBUTE_SYSTEM | win::FILE_ATTRIBUTE_DIRECTORY;

// The search rule: an entry is skipped when it has any of the rule's bits
// that the pass does not want.
bool wanted(quint32 attributes, quint32 wantedBits)
{
    const quint32 excluded = ~wantedBits & RuleBits;
    return (attributes & excluded) == 0;
}

QByteArray childPosix(const QByteArray &posixFolder, const QByteArray &name)
{
    QByteArray path = posixFolder;
    if (!path.endsWith('/'))
        path += '/';
    return path + name;
}

QByteArray childPosix(const QByteArray &posixFolder, const QString &name)
{
    // Yielded names are valid UTF-8, so this gives back the name's own bytes.
    return childPosix(posixFolder, name.toUtf8());
}

// Brackets a scan's walk for the judge (see LinkJudge): its progress hook
// ticks the observer while a judgement searches for a moved target, and the
// walk may take the folder listings the judge has read (and keeps current)
// for its searches instead of reading those folders again. However the walk
// ends, the judge is told it is over.
class ScanSession
{
public:
    ScanSession(LinkJudge &links, std::function<void()> hook, std::function<bool()> stop) : m_links(links)
    {
        m_links.beginScan(std::move(hook));
        m_links.stopWhen(std::move(stop));
    }
    ~ScanSession() { m_links.endScan(); }
    ScanSession(const ScanSession &) = delete;
    ScanSession &operator=(const ScanSession &) = delete;

    FolderListingSource *listings() { return m_links.scanListings(); }

private:
    LinkJudge &m_links;
};

// A FIFO, socket or device named x.lnk is never opened.
LinkVerdict notAShortcut(const QString &path)
{
    LinkVerdict verdict;
    verdict.shortcut = path;
    verdict.status = LinkVerdict::Status::NotShortcut;
    verdict.reason = QStringLiteral("not a shortcut (not a regular file)");
    return verdict;
}

} // namespace

QString PassedOver::reasonText() const
{
    switch (reason) {
    case Reason::Unreadable:
        return isFolder ? QStringLiteral("the folder cannot be read")
                        : QStringLiteral("the file cannot be read");
    case Reason::NoAnswer:
        return QStringLiteral("its place did not answer in time");
    case Reason::NotRepresentable:
        return detail.isEmpty() ? QStringLiteral("its name cannot be shown in Windows form")
                                : QStringLiteral("its name cannot be shown in Windows form (%1)").arg(detail);
    case Reason::Hidden:
        return QStringLiteral("a hidden folder");
    case Reason::System:
        return QStringLiteral("a system folder or another drive's folder");
    case Reason::Excluded:
        return QStringLiteral("excluded");
    case Reason::OtherPrefix:
        break;
    }
    return QStringLiteral("another Wine prefix, whose shortcuts mean its own drives");
}

ShortcutScan::ShortcutScan(LinkJudge &links, std::shared_ptr<const DriveContext> drives)
    : m_links(links), m_drives(std::move(drives))
{}

std::optional<ScanCounts> ShortcutScan::run(const QString &root, ScanObserver &observer,
                                            const QByteArray &posixRoot)
{
    if (m_scanning)
        return std::nullopt;
    const QScopedValueRollback<bool> scanning(m_scanning, true);
    const QScopedValueRollback<ScanObserver *> observed(m_observer, &observer);
    m_counts = ScanCounts{};
    observer.scanStarted(root);
    {
        ScanSession session(
            m_links, [this] { progress(); }, [this] { return stopping(); });
        const QScopedValueRollback<FolderListingSource *> listings(m_listings, session.listings());
        walkFolder(root, ShortcutPattern, true, observer, posixRoot);
    }
    const ScanCounts counts = m_counts;
    observer.scanFinished(counts, stopping());
    return counts;
}

void ShortcutScan::walkFolder(const QString &folder, const QString &pattern, bool recurse,
                              ScanObserver &observer, const QByteArray &posixRoot)
{
    const QScopedValueRollback<ScanObserver *> observed(m_observer, &observer);
    // The POSIX folder is worked out once here; every folder below is opened
    // relative to the one above it.
    const bool shown = posixRoot.isEmpty();
    const std::optional<QByteArray> posixFolder =
        shown ? WinPath::toPosix(folder, *m_drives) : std::optional<QByteArray>(posixRoot);
    if (!posixFolder) {
        passOver(folder, QByteArray(), PassedOver::Reason::Unreadable);
        return;
    }
    // Each folder and each shortcut file is taken once per walk, wherever
    // the walk meets it again (through symbolic links or hard links).
    m_walked.clear();
    m_checked.clear();
    m_deferred.clear();
    m_linkedFolders.clear();
    {
        FolderSearch search(
            *m_drives, *posixFolder, pattern, FolderSearch::Attributes::WithoutReadOnly,
            [this] { return waitForFolder(); }, m_listings);
        if (recurse)
            deferProfileLinks(folder, *posixFolder, shown);
        walk(folder, search, pattern, recurse, shown);
    }
    takeDeferred(pattern);
    m_walked.clear();
    m_checked.clear();
    m_deferred.clear();
    m_linkedFolders.clear();
}

void ShortcutScan::deferProfileLinks(const QString &folder, const QByteArray &posixFolder, bool shown)
{
    // The folders a Wine prefix links into its profiles (Desktop, Documents,
    // and Music or Templates leading to the home folder that holds them)
    // are known before the walk meets them: a folder of the home reached
    // through one of them is taken by the shortest of them.
    const std::optional<QByteArray> root = posix::realPath(posixFolder);
    if (!shown || !root || folder.size() < 2 || folder.at(1) != QLatin1Char(':'))
        return;
    const std::optional<QByteArray> driveFolder = m_drives->map()->folder(folder.at(0));
    const std::optional<QByteArray> driveRoot = driveFolder ? posix::realPath(*driveFolder) : std::nullopt;
    if (!driveRoot)
        return;
    const ProfileLinks links = ProfileLinks::of(*driveRoot);
    for (const ProfileLinks::Link &link : links.links()) {
        // Its Windows path is the drive's letter and the link's place on it.
        const qsizetype length = 2 + QString::fromUtf8(link.path.mid(driveRoot->size())).size();
        const std::optional<FileIdentity> identity = identityOf(link.target);
        if (identity && posix::isWithin(*root, link.path))
            noteLinkedFolder(*identity, length);
    }
}

void ShortcutScan::noteLinkedFolder(const FileIdentity &identity, qsizetype pathLength)
{
    auto [at, added] = m_linkedFolders.try_emplace({identity.device, identity.inode}, pathLength);
    if (!added)
        at->second = std::min(at->second, pathLength);
}

void ShortcutScan::defer(Linked linked)
{
    if (linked.isFolder && linked.identity)
        noteLinkedFolder(*linked.identity, linked.path.size());
    m_deferred.push_back(std::move(linked));
    std::push_heap(m_deferred.begin(), m_deferred.end(), longerPath);
}

bool ShortcutScan::longerPath(const Linked &a, const Linked &b)
{
    // A heap whose top is the shortest path, then the first in text order,
    // so every run takes them alike.
    return std::pair(a.path.size(), a.path) > std::pair(b.path.size(), b.path);
}

bool ShortcutScan::reachedShorter(const FileIdentity &identity, qsizetype pathLength) const
{
    const auto at = m_linkedFolders.find({identity.device, identity.inode});
    return at != m_linkedFolders.end() && at->second < pathLength;
}

void ShortcutScan::takeDeferred(const QString &pattern)
{
    const QScopedValueRollback<int> below(m_depth, 1);
    while (!m_deferred.empty() && !stopping()) {
        std::pop_heap(m_deferred.begin(), m_deferred.end(), longerPath);
        const Linked linked = std::move(m_deferred.back());
        m_deferred.pop_back();
        if (linked.isFolder) {
            FolderSearch search(
                *m_drives, linked.posixPath, pattern, FolderSearch::Attributes::WithoutReadOnly,
                [this] { return waitForFolder(); }, m_listings);
            walk(linked.path, search, pattern, true, linked.shown);
        } else if (!linked.identity || m_checked.enter(*linked.identity)) {
            const bool regular = QFileInfo(QFile::decodeName(linked.posixPath)).isFile();
            if (!linked.shown)
                checkUnshown(linked.path, linked.posixPath, regular);
            else if (regular)
                check(linked.path, *m_observer);
            else
                report(notAShortcut(linked.path));
        }
        tick();
    }
}

void ShortcutScan::walk(const QString &folder, FolderSearch &search, const QString &pattern, bool recurse,
                        bool shown)
{
    const QString dir = folder.endsWith(QLatin1Char('\\')) ? folder : folder + QLatin1Char('\\');
    if (!search.isOpen()) {
        folderNotOpened(dir, search);
        return;
    }
    if (const std::optional<FileIdentity> identity = search.folderIdentity()) {
        // A link waiting to be taken reaches it by a shorter path: it is
        // walked then. Otherwise once, by the first path that reaches it.
        if (reachedShorter(*identity, dir.size() - 1) || !m_walked.enter(*identity))
            return;
    }
    // Below the root, another Wine prefix: its shortcuts name its own
    // drives, not these.
    if (m_depth > 0 && recurse && isOtherPrefix(search)) {
        passOver(dir, search.posixFolder(), PassedOver::Reason::OtherPrefix);
        return;
    }
    const QScopedValueRollback<int> deeper(m_depth, m_depth + 1);

    // File pass: every matching entry that is not a folder. It is over
    // before the folder pass begins.
    ++m_counts.folders;
    m_observer->folderEntered(dir);
    // A fresh record for every entry, so no field is left over from the last one.
    for (FindData entry; search.next(entry); entry = FindData{}) {
        if (!wanted(entry.attributes, FilePassWanted))
            continue;
        if (recurse && (entry.attributes & win::FILE_ATTRIBUTE_REPARSE_POINT)) {
            // Another name of a file: after the files that are themselves.
            defer(Linked{dir + entry.name, childPosix(search.posixFolder(), entry.name), shown, false,
                         search.identityOf(entry)});
        } else if (firstSeen(entry, search)) {
            if (!shown) {
                checkUnshown(dir + entry.name, childPosix(search.posixFolder(), entry.name),
                             isRegularFile(entry, search));
            } else if (isRegularFile(entry, search)) {
                check(dir + entry.name, *m_observer);
            } else {
                report(notAShortcut(dir + entry.name));
            }
        }
        if (!tick())
            return;
    }
    if (search.error() == win::ERROR_OPERATION_ABORTED)
        return;
    // Names a Windows path cannot hold: named, and a shortcut among them
    // checked all the same.
    for (const QByteArray &name : search.unshownNames()) {
        unshownEntry(dir, search, name, pattern, recurse);
        if (!tick())
            return;
    }
    if (!recurse)
        return;

    // Folder pass: every entry that is neither hidden nor system; only
    // folders other than "." and ".." are walked, each completely before the
    // next entry is taken. The folder is searched again on the handle the
    // file pass opened, which saves opening every folder twice, and only
    // for what may be a folder: plain files are passed over unseen.
    if (!search.restart(EveryName, FolderSearch::Limit::ToFolders))
        return;
    FindData entry;
    while (search.next(entry)) {
        const bool isFolder = entry.attributes & win::FILE_ATTRIBUTE_DIRECTORY;
        if (!wanted(entry.attributes, FolderPassWanted)) {
            if (isFolder && entry.name != QLatin1String(".") && entry.name != QLatin1String("..")) {
                passOver(dir + entry.name, childPosix(search.posixFolder(), entry.name),
                         (entry.attributes & win::FILE_ATTRIBUTE_SYSTEM) ? PassedOver::Reason::System
                                                                         : PassedOver::Reason::Hidden);
            }
            continue;
        }
        if (isFolder && entry.name != QLatin1String(".") && entry.name != QLatin1String("..") && m_excluded &&
            m_excluded(dir + entry.name, childPosix(search.posixFolder(), entry.name))) {
            passOver(dir + entry.name, childPosix(search.posixFolder(), entry.name),
                     PassedOver::Reason::Excluded);
        } else if (isFolder && (entry.attributes & win::FILE_ATTRIBUTE_REPARSE_POINT)) {
            const QByteArray posixPath = childPosix(search.posixFolder(), entry.name);
            defer(Linked{dir + entry.name, posixPath, shown, true, identityOf(posixPath)});
        } else if (isFolder && entry.name != QLatin1String(".") && entry.name != QLatin1String("..")) {
            FolderSearch below(search, pattern, FolderSearch::Attributes::WithoutReadOnly);
            walk(dir + entry.name, below, pattern, true, shown);
            if (stopping())
                return;
        }
        if (!tick())
            return;
    }
}

void ShortcutScan::unshownEntry(const QString &dir, FolderSearch &search, const QByteArray &name,
                                const QString &pattern, bool recurse)
{
    const QByteArray posixPath = childPosix(search.posixFolder(), name);
    const QString shown = dir + posix::shownPath(name);
    bool symbolicLink = false;
    const EntryType kind = search.unshownKind(name, &symbolicLink);
    if (kind == EntryType::Folder) {
        if (!recurse)
            return;
        if (name.startsWith('.')) {
            passOver(shown, posixPath, PassedOver::Reason::Hidden);
            return;
        }
        // A link to a drive's folder (a Wine prefix's "c:") is that drive's.
        if (symbolicLink && leadsToADrive(posixPath)) {
            passOver(shown, posixPath, PassedOver::Reason::System);
            return;
        }
        // Walked all the same; nothing below it has a Windows path, so what
        // is found there is named, never listed or rewritten.
        passOver(shown, posixPath, PassedOver::Reason::NotRepresentable);
        FolderSearch below(search, name, pattern, FolderSearch::Attributes::WithoutReadOnly);
        walk(shown, below, pattern, true, false);
        return;
    }
    if (matchesPattern(QString::fromLatin1(name), pattern))
        checkUnshown(shown, posixPath, kind == EntryType::File);
}

void ShortcutScan::checkUnshown(const QString &shown, const QByteArray &posixPath, bool regularFile)
{
    if (!regularFile) {
        passOver(shown, posixPath, PassedOver::Reason::NotRepresentable, false);
        return;
    }
    // Its target does not depend on its own name: it is judged, but never
    // rewritten or listed, since nothing could name it afterwards.
    LinkJudge::Options options = m_options;
    options.writeRepairs = false;
    const LinkVerdict verdict = m_links.judgeFile(posixPath, shown, options);
    ++m_counts.shortcuts;
    if (verdict.status == LinkVerdict::Status::Healthy)
        return;
    PassedOver entry{shown, posixPath, PassedOver::Reason::NotRepresentable, false, QString()};
    entry.detail = LinkVerdict::statusName(verdict.status) +
                   (verdict.reason.isEmpty() ? QString() : QStringLiteral(": ") + verdict.reason);
    ++m_counts.passedOver;
    m_observer->passedOver(entry);
}

bool ShortcutScan::leadsToADrive(const QByteArray &posixPath) const
{
    const std::optional<QByteArray> real = posix::realPath(posixPath);
    if (!real)
        return false;
    const std::shared_ptr<const DriveMap> map = m_drives->map();
    for (const QChar letter : map->letters()) {
        const std::optional<QByteArray> folder = map->folder(letter);
        if (folder && posix::realPath(*folder) == real)
            return true;
    }
    return false;
}

bool ShortcutScan::isOtherPrefix(const FolderSearch &search) const
{
    if (!search.holdsAnyName({"dosdevices", "system.reg"}))
        return false;
    // The prefix whose drives these are holds the folder of their c:.
    const std::optional<QByteArray> folder = posix::realPath(search.posixFolder());
    const std::optional<QByteArray> driveC = m_drives->map()->folder(QLatin1Char('c'));
    const std::optional<QByteArray> realC = driveC ? posix::realPath(*driveC) : std::nullopt;
    return !folder || !realC || !posix::isWithin(*folder, *realC);
}

void ShortcutScan::folderNotOpened(const QString &folder, const FolderSearch &search)
{
    switch (search.error()) {
    case win::ERROR_FILE_NOT_FOUND:
    case win::ERROR_PATH_NOT_FOUND:
        return; // gone since its folder was read: nothing to look at
    case win::ERROR_NOT_READY:
        passOver(folder, search.posixFolder(), PassedOver::Reason::NoAnswer);
        return;
    default:
        passOver(folder, search.posixFolder(), PassedOver::Reason::Unreadable);
        return;
    }
}

void ShortcutScan::passOver(const QString &path, const QByteArray &posixPath, PassedOver::Reason reason,
                            bool isFolder)
{
    PassedOver entry{path, posixPath, reason, isFolder, QString()};
    ++(entry.byRule() ? m_counts.passedOverByRule : m_counts.passedOver);
    m_counts.otherPrefixes += int(reason == PassedOver::Reason::OtherPrefix);
    if (m_observer)
        m_observer->passedOver(entry);
}

bool ShortcutScan::isRegularFile(const FindData &entry, const FolderSearch &search) const
{
    switch (entry.kind) {
    case EntryType::File:
        return true;
    case EntryType::Folder:
    case EntryType::SymLink:
    case EntryType::Other:
        return false;
    case EntryType::Unknown:
        break;
    }
    return QFileInfo(QFile::decodeName(childPosix(search.posixFolder(), entry.name))).isFile();
}

bool ShortcutScan::firstSeen(const FindData &entry, const FolderSearch &search)
{
    // A file met again under another name (a hard link, or a symbolic link
    // to it) is checked, and listed, once.
    const std::optional<FileIdentity> identity = search.identityOf(entry);
    return !identity || m_checked.enter(*identity);
}

bool ShortcutScan::tick()
{
    if (stopping())
        return false;
    {
        const QScopedValueRollback<bool> ticking(m_ticking, true);
        m_observer->tick();
    }
    return !stopping();
}

void ShortcutScan::progress()
{
    // Never nested in a tick of the walk, and nothing more once the walk is
    // to stop. No handler run from here may start a scan of its own.
    if (m_ticking || !m_observer || stopping())
        return;
    const QScopedValueRollback<bool> ticking(m_ticking, true);
    m_observer->tick();
}

bool ShortcutScan::waitForFolder()
{
    progress();
    return !stopping();
}

bool ShortcutScan::stopping() const
{
    return m_observer && m_observer->stopRequested();
}

LinkVerdict ShortcutScan::check(const QString &shortcutPath, ScanObserver &observer)
{
    const QScopedValueRollback<ScanObserver *> observed(m_observer, &observer);
    const LinkVerdict verdict = m_links.judge(shortcutPath, m_options);
    report(verdict);
    return verdict;
}

void ShortcutScan::report(const LinkVerdict &verdict)
{
    ++m_counts.shortcuts;
    switch (verdict.status) {
    case LinkVerdict::Status::Healthy:
        break;
    case LinkVerdict::Status::Repaired:
        ++m_counts.repaired;
        break;
    case LinkVerdict::Status::RepairNotWritten:
        ++m_counts.repairsFailed;
        break;
    case LinkVerdict::Status::Broken:
        ++m_counts.broken;
        break;
    case LinkVerdict::Status::Unjudged:
        ++m_counts.unjudged;
        break;
    case LinkVerdict::Status::NotShortcut:
    case LinkVerdict::Status::Skipped:
        ++m_counts.passedOver;
        break;
    }
    m_observer->shortcutJudged(verdict);
}

QString summaryLine(const ScanCounts &counts, bool written)
{
    QStringList parts;
    // "1 place could not be read", "3 places could not be read".
    const auto part = [&parts](qint64 count, const char *one, const char *many, const QString &what) {
        if (count > 0)
            parts << QStringLiteral("%1 %2 %3").arg(count).arg(QLatin1String(count == 1 ? one : many), what);
    };
    part(counts.repaired, "shortcut", "shortcuts",
         written ? QStringLiteral("repaired") : QStringLiteral("to repair"));
    part(counts.repairsFailed, "repair", "repairs", QStringLiteral("could not be written"));
    part(counts.passedOver + counts.unjudged, "place", "places", QStringLiteral("could not be read"));
    part(counts.otherPrefixes, "other Wine prefix", "other Wine prefixes", QStringLiteral("passed over"));
    return parts.join(QStringLiteral(", "));
}
