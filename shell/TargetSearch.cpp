#include "shell/TargetSearch.h"

#include "platform/DriveContext.h"
#include "platform/DriveMap.h"
#include "platform/PosixPath.h"
#include "platform/WinPath.h"
#include "platform/WinTypes.h"
#include "shell/DirIndex.h"
#include "shell/SearchBudget.h"

#include <QSet>

#include <algorithm>
#include <tuple>
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

std::optional<FoundTarget> makeFound(const QByteArray &posixPath, const FileFacts &facts, const DriveMap &map)
{
    const std::optional<QString> winPath = WinPath::toWindows(posixPath, map);
    if (!winPath)
        return std::nullopt;
    return FoundTarget{posixPath, *winPath, facts};
}

} // namespace

bool TargetSearch::fits(const FileFacts &facts) const
{
    return m_want == Want::Folder ? facts.isDirectory : facts.isRegular;
}

// How well a moved candidate matches what the header recorded: 0 when it is
// not the target, else the number of recorded times it has. A file must
// have its size and one of its times, a folder its creation time.
int TargetSearch::agreement(const FileFacts &facts, const TargetSearchRequest &request) const
{
    const bool sameCreation = request.creationTime != 0 && facts.creationTime != 0 &&
                              distance(facts.creationTime, request.creationTime) <= kTimeTolerance;
    if (m_want == Want::Folder)
        return int(sameCreation);
    const bool sameWrite =
        request.writeTime != 0 && distance(facts.writeTime, request.writeTime) <= kTimeTolerance;
    if (quint32(facts.size) != request.size)
        return 0;
    return int(sameCreation) + int(sameWrite);
}

bool TargetSearch::isShortcut(const FileFacts &facts, const TargetSearchRequest &request) const
{
    return request.shortcut && request.shortcut->device == facts.device &&
           request.shortcut->inode == facts.inode;
}

std::optional<FoundTarget> TargetSearch::find(const TargetSearchRequest &request)
{
    // Without the kind there is nothing to tell the target from any other
    // entry of its name.
    if (request.attributes == 0)
        return std::nullopt;
    m_want = (request.attributes & win::FILE_ATTRIBUTE_DIRECTORY) ? Want::Folder : Want::File;

    const QString &target = request.oldTarget;
    if (target.size() < 3 || target.at(1) != QLatin1Char(':'))
        return std::nullopt; // no drive to search (a network path)
    m_map = m_drives.map();
    const std::optional<QByteArray> driveFolder = m_map->folder(target.at(0));
    const std::optional<QByteArray> oldPosix = WinPath::toPosix(target, *m_map, *m_drives.mounts());
    if (!driveFolder || !oldPosix || !posix::isWithin(*driveFolder, *oldPosix) || *oldPosix == *driveFolder)
        return std::nullopt;
    const std::optional<QByteArray> driveRoot = canonical(*driveFolder);
    if (!driveRoot)
        return std::nullopt;
    m_index.beginSearch();
    m_index.addRoot(*driveRoot);

    const QByteArray oldFolder = parentOf(*oldPosix);
    if (posix::isFolder(oldFolder)) {
        if (auto found = renamedInPlace(request, oldFolder))
            return found;
    }
    if (m_budget.expired())
        return std::nullopt;
    return byName(request, *oldPosix, *driveRoot);
}

std::optional<FoundTarget> TargetSearch::renamedInPlace(const TargetSearchRequest &request,
                                                        const QByteArray &oldFolder)
{
    // Without a time there is nothing to tell the renamed target from any
    // other entry of the same size.
    if (request.creationTime == 0 && request.writeTime == 0)
        return std::nullopt;
    const std::optional<QByteArray> folder = canonical(oldFolder);
    std::vector<std::pair<QByteArray, DirIndex::Kind>> entries;
    if (!folder || !m_index.list(*folder, entries, m_budget))
        return std::nullopt;

    // The entry that matches the most of the recorded times wins; two
    // entries matching equally well cannot be told apart.
    std::optional<FoundTarget> match;
    int bestScore = 0;
    bool tie = false;
    int stats = 0;
    for (const auto &[name, kind] : entries) {
        if (kind == DirIndex::Kind::Other || (kind == DirIndex::Kind::File && m_want == Want::Folder) ||
            (kind == DirIndex::Kind::Folder && m_want == Want::File))
            continue;
        if (++stats % kStatsPerTick == 0 && !m_budget.tick())
            return std::nullopt;
        const QByteArray path = posix::join(*folder, name);
        FileFacts facts;
        if (readFacts(path, facts) != FactsStatus::Found || !fits(facts) || isShortcut(facts, request))
            continue;
        // The creation time alone identifies an entry (as for Windows,
        // which matches attributes and creation time here); without it the
        // size and the write time must both match.
        const bool sameCreation = request.creationTime != 0 && facts.creationTime == request.creationTime;
        const bool sameWrite = request.writeTime != 0 && facts.writeTime == request.writeTime;
        const bool sameSize = !facts.isDirectory && quint32(facts.size) == request.size;
        if (!sameCreation && !(sameWrite && (sameSize || facts.isDirectory)))
            continue;
        const int score = 2 * int(sameCreation) + int(sameWrite) + int(sameSize);
        if (score < bestScore)
            continue;
        tie = score == bestScore;
        bestScore = score;
        match = makeFound(path, facts, *m_map);
    }
    if (tie)
        return std::nullopt;
    return match;
}

std::optional<FoundTarget> TargetSearch::byName(const TargetSearchRequest &request,
                                                const QByteArray &oldPosix, const QByteArray &driveRoot)
{
    // Without the recorded facts a candidate has to match, a name alone
    // would have to do: no search.
    if (request.creationTime == 0 && (m_want == Want::Folder || request.writeTime == 0))
        return std::nullopt;
    const QString &target = request.oldTarget;
    const QByteArray name = target.mid(target.lastIndexOf(QLatin1Char('\\')) + 1).toUtf8();
    if (name.isEmpty())
        return std::nullopt;
    const std::string folded = DirIndex::foldName(name.constData(), size_t(name.size()));

    // The folders to search, nearest first: the nearest existing folder
    // above the old target, then each folder above it up to the drive's.
    const QByteArray driveFolder = *m_map->folder(target.at(0));
    QByteArray start = parentOf(oldPosix);
    while (!posix::isFolder(start)) {
        if (start == driveFolder || start == "/")
            return std::nullopt;
        start = parentOf(start);
    }
    const std::optional<QByteArray> nearest = canonical(start);
    if (!nearest)
        return std::nullopt;
    std::vector<QByteArray> levels;
    for (QByteArray folder = *nearest;; folder = parentOf(folder)) {
        if (!posix::isWithin(driveRoot, folder)) {
            // The old folder lies elsewhere (reached through a symbolic
            // link): its own tree, then the drive's.
            levels.push_back(*nearest);
            levels.push_back(driveRoot);
            break;
        }
        levels.push_back(folder);
        if (folder == driveRoot || folder == "/")
            break;
    }

    // Every candidate that matches the header, in the tree of the nearest
    // level that has any.
    struct Candidate
    {
        int score;
        int level;
        int depth;
        QByteArray path;
    };
    std::vector<Candidate> candidates;
    QSet<QByteArray> seen;
    std::vector<DirIndex::Hit> hits;
    int stats = 0;
    for (int level = 0; level < int(levels.size()) && candidates.empty(); ++level) {
        const bool complete = m_index.complete(levels[size_t(level)], m_budget);
        hits.clear();
        m_index.find(folded, levels[size_t(level)], hits, &m_budget);
        for (const DirIndex::Hit &hit : hits) {
            if (hit.kind == DirIndex::Kind::Other || seen.contains(hit.path))
                continue;
            seen.insert(hit.path);
            if (++stats % kStatsPerTick == 0)
                m_budget.tick();
            FileFacts facts;
            if (readFacts(hit.path, facts) != FactsStatus::Found || !fits(facts) ||
                isShortcut(facts, request))
                continue;
            if (const int score = agreement(facts, request))
                candidates.push_back(Candidate{score, level, hit.depth, hit.path});
        }
        if (!complete)
            break;
    }
    if (candidates.empty())
        return std::nullopt;

    // The one matching the most recorded times, then the nearest, then the
    // shallowest in its tree; two alike cannot be told apart, and neither is
    // taken.
    const auto rank = [](const Candidate &c) { return std::tuple(-c.score, c.level, c.depth); };
    std::sort(candidates.begin(), candidates.end(),
              [&](const Candidate &a, const Candidate &b) { return rank(a) < rank(b); });
    if (candidates.size() > 1 && rank(candidates[0]) == rank(candidates[1]))
        return std::nullopt;
    // The progress hook may have run since the candidate was looked at: look
    // again before taking it.
    FileFacts facts;
    if (readFacts(candidates[0].path, facts) != FactsStatus::Found || !fits(facts) ||
        agreement(facts, request) == 0)
        return std::nullopt;
    return makeFound(candidates[0].path, facts, *m_map);
}
