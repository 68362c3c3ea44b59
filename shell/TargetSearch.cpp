#include "shell/TargetSearch.h"

#include "platform/DriveContext.h"
#include "platform/DriveMap.h"
#include "platform/PosixPath.h"
#include "platform/ProfileLinks.h"
#include "platform/WinPath.h"
#include "platform/WinTypes.h"
#include "shell/DirIndex.h"
#include "shell/SearchBudget.h"
#include "winpath/WinPathText.h"

#include <QList>

#include <algorithm>
#include <tuple>
#include <utility>
#include <vector>

namespace {

// Stat calls between two looks at the clock.
constexpr int kStatsPerTick = 32;

QByteArray parentOf(const QByteArray &path)
{
    return posix::parentPath(path);
}

std::optional<QByteArray> canonical(const QByteArray &path)
{
    return posix::realPath(path);
}

quint64 distance(quint64 a, quint64 b)
{
    return a > b ? a - b : b - a;
}

// The found place in Windows form, by the letter of the drive it was
// searched on: another drive's folder nested in that drive, which its
// listings took in, is still that drive's folder to the shortcut.
std::optional<FoundTarget> makeFound(const QByteArray &posixPath, const FileFacts &facts, const DriveMap &map,
                                     QChar letter, const QByteArray &driveRoot)
{
    std::optional<QString> winPath = WinPath::toWindows(posixPath, map);
    if (!winPath)
        return std::nullopt;
    if (winPath->at(0).toLower() != letter.toLower() && posix::isWithin(driveRoot, posixPath)) {
        const QByteArray rest = posixPath.mid(driveRoot.size());
        *winPath = winPath->left(3).replace(0, 1, letter.toLower()) +
                   posix::decodeName(rest.constData() + 1, rest.size() - 1)
                       .replace(QLatin1Char('/'), QLatin1Char('\\'));
    }
    return FoundTarget{posixPath, *winPath, facts};
}

} // namespace

bool TargetSearch::fits(const FileFacts &facts) const
{
    return m_want == Want::Folder ? facts.isDirectory : facts.isRegular;
}

bool TargetSearch::isShortcut(const FileFacts &facts, const TargetSearchRequest &request) const
{
    return request.shortcut && request.shortcut->device == facts.device &&
           request.shortcut->inode == facts.inode;
}

TargetSearch::Evidence TargetSearch::evidence(const FileFacts &facts,
                                              const TargetSearchRequest &request) const
{
    // Each fact the shortcut recorded and the candidate shows agrees or
    // differs; one the candidate's file system cannot show (no birth time)
    // counts neither way. The access time says nothing: reading a file
    // changes it. A folder's write time changes with what it holds.
    Evidence e;
    const auto weigh = [&e](bool same) {
        ++(same ? e.agree : e.differ);
        return same;
    };
    const auto time = [&](quint64 shown, quint64 recorded) {
        const quint64 apart = distance(shown, recorded);
        e.exact += int(apart < kExactTime);
        return weigh(apart <= kTimeTolerance);
    };
    if (m_want == Want::File && request.size != 0)
        e.size = weigh(quint32(facts.size) == request.size);
    if (request.creationTime != 0 && facts.creationTime != 0)
        e.creation = time(facts.creationTime, request.creationTime);
    if (m_want == Want::File && request.writeTime != 0)
        e.write = time(facts.writeTime, request.writeTime);
    return e;
}

bool TargetSearch::eligible(const Evidence &e, bool renamed) const
{
    // A folder is known by its creation time. A file of the same name needs
    // its size and one of its times; one of another name (renamed in its
    // folder) needs its creation time as well, which a copy does not share.
    if (m_want == Want::Folder)
        return e.creation;
    return e.size && (renamed ? e.creation : e.creation || e.write);
}

std::optional<FoundTarget> TargetSearch::find(const TargetSearchRequest &request)
{
    // Without the kind there is nothing to tell the target from any other
    // entry of its name; without the facts a candidate must show, a name
    // alone would have to do.
    if (request.attributes == 0)
        return std::nullopt;
    m_want = (request.attributes & win::FILE_ATTRIBUTE_DIRECTORY) ? Want::Folder : Want::File;
    if (m_want == Want::File && (request.size == 0 || (request.creationTime == 0 && request.writeTime == 0)))
        return std::nullopt;
    if (m_want == Want::Folder && request.creationTime == 0)
        return std::nullopt;

    const QString target = WinPathText::normalized(request.oldTarget);
    if (target.size() < 3 || target.at(1) != QLatin1Char(':'))
        return std::nullopt; // no drive to search (a network path)
    m_map = m_drives.map();
    m_letter = target.at(0);
    const std::optional<QByteArray> driveFolder = m_map->folder(target.at(0));
    const std::optional<QByteArray> oldPosix = WinPath::toPosix(target, *m_map, *m_drives.mounts());
    if (!driveFolder || !oldPosix || !posix::isWithin(*driveFolder, *oldPosix) || *oldPosix == *driveFolder)
        return std::nullopt;
    const std::optional<QByteArray> driveRoot = canonical(*driveFolder);
    if (!driveRoot)
        return std::nullopt;
    m_index.beginSearch();
    m_index.addRoot(*driveRoot);
    // The drive as Wine sees it: with the folders its prefix links into the
    // profiles, and with another drive's folder nested in this one when the
    // old path runs through it.
    m_links = m_linksCache.of(*driveRoot);
    std::vector<QByteArray> roots;
    for (const ProfileLinks::Link &link : m_links.links())
        roots.push_back(link.target);
    // A linked folder within another (Desktop within the home folder that
    // Music leads to) is searched with it.
    std::erase_if(roots, [&roots](const QByteArray &root) {
        return std::any_of(roots.begin(), roots.end(), [&root](const QByteArray &other) {
            return other != root && posix::isWithin(other, root);
        });
    });
    roots.insert(roots.begin(), *driveRoot);
    // Another drive's folder is not part of this drive's listings: it is
    // searched on its own.
    const QByteArray oldCanonical = posix::canonicalPath(*oldPosix);
    for (const QChar letter : m_map->letters()) {
        const std::optional<QByteArray> folder = m_map->folder(letter);
        const std::optional<QByteArray> real = folder ? canonical(*folder) : std::nullopt;
        if (real && *real != *driveRoot && posix::isWithin(*driveRoot, *real) &&
            posix::isWithin(*real, oldCanonical))
            roots.push_back(*real);
    }

    // Every candidate on the drive, one per file however many paths lead to
    // it; the unique best wins.
    std::vector<Candidate> candidates;
    const QString name = WinPathText::finalName(target);
    if (!name.isEmpty()) {
        for (const QByteArray &root : roots) {
            m_index.addRoot(root);
            if (!sameName(request, root, name.toUtf8(), candidates))
                return std::nullopt;
        }
    }
    const QByteArray oldFolder = parentOf(*oldPosix);
    if (posix::isFolder(oldFolder) && !renamedInPlace(request, oldFolder, name, candidates))
        return std::nullopt;
    return best(request, candidates);
}

std::optional<QByteArray> TargetSearch::admissible(const QByteArray &canonicalPath) const
{
    // The path as the drive names it; nothing in a recycle bin or a trash,
    // nor in a folder the scan passes over (hidden ones, whose names begin
    // with a dot), is the target, and neither is the drive's folder itself.
    const QByteArray &driveRoot = m_links.driveRoot();
    const std::optional<QByteArray> path = m_links.drivePath(canonicalPath);
    if (!path || *path == driveRoot)
        return std::nullopt;
    const QList<QByteArray> names = path->mid(driveRoot.size()).split('/');
    for (const QByteArray &name : names) {
        if (name.isEmpty())
            continue;
        const QByteArray lower = name.toLower();
        if (name.startsWith('.') || lower == "$recycle.bin" || lower == "recycler" || lower == "recycled")
            return std::nullopt;
    }
    return path;
}

void TargetSearch::consider(const TargetSearchRequest &request, const QByteArray &path, bool renamed,
                            std::vector<Candidate> &candidates)
{
    FileFacts facts;
    if (readFacts(path, facts) != FactsStatus::Found || !fits(facts) || isShortcut(facts, request))
        return;
    const Evidence e = evidence(facts, request);
    if (!eligible(e, renamed))
        return;
    // One file reached by several paths is one candidate, named by its
    // shortest path.
    for (Candidate &known : candidates) {
        if (known.facts.device == facts.device && known.facts.inode == facts.inode) {
            if (std::pair(path.size(), path) < std::pair(known.path.size(), known.path))
                known.path = path;
            return;
        }
    }
    candidates.push_back(Candidate{e, renamed, path, facts});
}

bool TargetSearch::sameName(const TargetSearchRequest &request, const QByteArray &root,
                            const QByteArray &name, std::vector<Candidate> &candidates)
{
    const std::string folded = DirIndex::foldName(name.constData(), size_t(name.size()));
    // A tie that the search did not get to see could not be told: an index
    // not read through decides nothing.
    if (!m_index.complete(root, m_budget))
        return false;
    std::vector<DirIndex::Hit> hits;
    m_index.find(folded, root, hits, &m_budget);
    int stats = 0;
    for (const DirIndex::Hit &hit : hits) {
        const std::optional<QByteArray> path =
            hit.kind == DirIndex::Kind::Other ? std::nullopt : admissible(hit.path);
        if (!path)
            continue;
        if (++stats % kStatsPerTick == 0 && !m_budget.tick())
            return false;
        consider(request, *path, false, candidates);
    }
    return !m_budget.expired();
}

bool TargetSearch::renamedInPlace(const TargetSearchRequest &request, const QByteArray &oldFolder,
                                  const QString &name, std::vector<Candidate> &candidates)
{
    const std::optional<QByteArray> folder = canonical(oldFolder);
    const std::optional<QByteArray> named = folder ? admissible(posix::join(*folder, "x")) : std::nullopt;
    std::vector<std::pair<QByteArray, DirIndex::Kind>> entries;
    if (!named)
        return true; // nothing of that folder is a candidate
    const QByteArray drivePath = parentOf(*named);
    if (!m_index.list(*folder, entries, m_budget))
        return false;
    int stats = 0;
    for (const auto &[entry, kind] : entries) {
        if (kind == DirIndex::Kind::Other || (kind == DirIndex::Kind::File && m_want == Want::Folder) ||
            (kind == DirIndex::Kind::Folder && m_want == Want::File) || entry.startsWith('.') ||
            QString::fromUtf8(entry).compare(name, Qt::CaseInsensitive) == 0)
            continue;
        if (++stats % kStatsPerTick == 0 && !m_budget.tick())
            return false;
        consider(request, posix::join(drivePath, entry), true, candidates);
    }
    return true;
}

std::optional<FoundTarget> TargetSearch::best(const TargetSearchRequest &request,
                                              std::vector<Candidate> &candidates)
{
    if (candidates.empty())
        return std::nullopt;
    // The most agreeing facts, then the fewest differing ones, then the most
    // times that agree to the microsecond (a file system with fine clocks
    // tells an entry made a moment later from the one recorded); nearness
    // and depth never decide, and two alike are a tie: neither is taken.
    const auto rank = [](const Candidate &c) {
        return std::tuple(-c.evidence.agree, c.evidence.differ, -c.evidence.exact);
    };
    std::sort(candidates.begin(), candidates.end(),
              [&](const Candidate &a, const Candidate &b) { return rank(a) < rank(b); });
    if (candidates.size() > 1 && rank(candidates[0]) == rank(candidates[1]))
        return std::nullopt;
    // The progress hook may have run since the candidate was looked at: look
    // again before taking it.
    const Candidate &chosen = candidates[0];
    FileFacts facts;
    if (readFacts(chosen.path, facts) != FactsStatus::Found || !fits(facts) ||
        facts.device != chosen.facts.device || facts.inode != chosen.facts.inode ||
        !eligible(evidence(facts, request), chosen.renamed))
        return std::nullopt;
    return makeFound(chosen.path, facts, *m_map, m_letter, m_links.driveRoot());
}
