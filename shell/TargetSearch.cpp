#include "shell/TargetSearch.h"

#include "platform/DriveMap.h"
#include "platform/PosixPath.h"
#include "platform/WinPath.h"
#include "platform/WinTypes.h"
#include "shell/DirIndex.h"
#include "shell/SearchBudget.h"

#include <QSet>

#include <algorithm>
#include <vector>

namespace {

// Stat calls between two looks at the clock.
constexpr int kStatsPerTick = 32;

QByteArray parentOf(const QByteArray &path)
{
    return posix::parentPath(path);
}

bool isPathPrefix(const QByteArray &prefix, const QByteArray &path)
{
    return posix::isWithin(prefix, path);
}

std::optional<QByteArray> canonical(const QByteArray &path)
{
    return posix::realPath(path);
}

bool isFolder(const QByteArray &path)
{
    FileFacts facts;
    return readFacts(path, facts) == FactsStatus::Found && facts.isDirectory;
}

quint64 distance(quint64 a, quint64 b)
{
    return a > b ? a - b : b - a;
}

std::optional<FoundTarget> makeFound(const QByteArray &posixPath, const FileFacts &facts)
{
    const std::optional<QString> winPath = WinPath::toWindows(posixPath);
    if (!winPath)
        return std::nullopt;
    return FoundTarget{posixPath, *winPath, facts};
}

} // namespace

bool TargetSearch::fits(const FileFacts &facts) const
{
    switch (m_want) {
    case Want::File:
        return facts.isRegular;
    case Want::Folder:
        return facts.isDirectory;
    case Want::Either:
        break;
    }
    return facts.isRegular || facts.isDirectory;
}

bool TargetSearch::isShortcut(const FileFacts &facts, const TargetSearchRequest &request) const
{
    return request.shortcut && request.shortcut->device == facts.device &&
           request.shortcut->inode == facts.inode;
}

std::optional<FoundTarget> TargetSearch::find(const TargetSearchRequest &request)
{
    m_want = (request.attributes & win::FILE_ATTRIBUTE_DIRECTORY) ? Want::Folder
             : request.attributes != 0                            ? Want::File
                                                                  : Want::Either;
    m_index.beginSearch();

    if (auto found = byRelativePath(request))
        return found;

    const QString &target = request.oldTarget;
    if (target.size() < 3 || target.at(1) != QLatin1Char(':'))
        return std::nullopt; // no drive to search (a network path)
    const std::optional<QByteArray> driveFolder = DriveMap::current().folder(target.at(0));
    const std::optional<QByteArray> oldPosix = WinPath::toPosix(target);
    if (!driveFolder || !oldPosix || !isPathPrefix(*driveFolder, *oldPosix) || *oldPosix == *driveFolder)
        return std::nullopt;
    const std::optional<QByteArray> driveRoot = canonical(*driveFolder);
    if (!driveRoot)
        return std::nullopt;
    m_index.addRoot(*driveRoot);

    const QByteArray oldFolder = parentOf(*oldPosix);
    if (isFolder(oldFolder)) {
        if (auto found = renamedInPlace(request, oldFolder))
            return found;
    }
    if (m_budget.expired())
        return std::nullopt;
    return byName(request, *oldPosix, *driveRoot);
}

std::optional<FoundTarget> TargetSearch::byRelativePath(const TargetSearchRequest &request) const
{
    if (!request.relativePath || request.relativePath->isEmpty())
        return std::nullopt;
    const QString &relative = *request.relativePath;
    QString combined;
    if ((relative.size() >= 2 && relative.at(1) == QLatin1Char(':')) ||
        relative.startsWith(QLatin1Char('\\'))) {
        combined = relative;
    } else {
        const qsizetype slash = request.shortcutWinPath.lastIndexOf(QLatin1Char('\\'));
        if (slash < 0)
            return std::nullopt;
        combined = request.shortcutWinPath.left(slash + 1) + relative;
    }
    const std::optional<QByteArray> posix = WinPath::toPosix(combined);
    if (!posix)
        return std::nullopt;
    FileFacts facts;
    if (readFacts(*posix, facts) != FactsStatus::Found || !fits(facts) || isShortcut(facts, request))
        return std::nullopt;
    return makeFound(*posix, facts);
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
        match = makeFound(path, facts);
    }
    if (tie)
        return std::nullopt;
    return match;
}

std::optional<FoundTarget> TargetSearch::byName(const TargetSearchRequest &request,
                                                const QByteArray &oldPosix, const QByteArray &driveRoot)
{
    const QString &target = request.oldTarget;
    const QByteArray name = target.mid(target.lastIndexOf(QLatin1Char('\\')) + 1).toUtf8();
    if (name.isEmpty())
        return std::nullopt;
    const std::string folded = DirIndex::foldName(name.constData(), size_t(name.size()));

    // The folders to search, nearest first: the nearest existing folder
    // above the old target, then each folder above it up to the drive's.
    const QByteArray driveFolder = *DriveMap::current().folder(target.at(0));
    QByteArray start = parentOf(oldPosix);
    while (!isFolder(start)) {
        if (start == driveFolder || start == "/")
            return std::nullopt;
        start = parentOf(start);
    }
    const std::optional<QByteArray> nearest = canonical(start);
    if (!nearest)
        return std::nullopt;
    std::vector<QByteArray> levels;
    for (QByteArray folder = *nearest;; folder = parentOf(folder)) {
        if (!isPathPrefix(driveRoot, folder)) {
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

    // The vicinity where the name alone identifies the target: the old
    // folder and the three folders above it (not beyond the drive).
    std::optional<QByteArray> vicinity;
    {
        QByteArray top = parentOf(oldPosix);
        for (int up = 0; up < 3 && top != driveFolder && top != "/"; ++up)
            top = parentOf(top);
        if (isFolder(top))
            vicinity = canonical(top);
    }

    const bool hasSize = m_want != Want::Folder && request.size != 0;
    const bool hasTime = request.creationTime != 0 || request.writeTime != 0;
    const int bestPossible = int(hasSize) + int(hasTime);

    struct Candidate
    {
        int evidence;
        int level;
        int depth;
        QByteArray path;
        FileFacts facts;
    };
    std::vector<Candidate> candidates;
    QSet<QByteArray> seen;
    std::vector<DirIndex::Hit> hits;
    int stats = 0;
    for (int level = 0; level < int(levels.size()); ++level) {
        const bool complete = m_index.complete(levels[size_t(level)], m_budget);
        hits.clear();
        m_index.find(folded, levels[size_t(level)], hits);
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
            int evidence = 0;
            if (hasSize && quint32(facts.size) == request.size)
                ++evidence;
            if ((request.creationTime != 0 && facts.creationTime != 0 &&
                 distance(facts.creationTime, request.creationTime) <= kTimeTolerance) ||
                (request.writeTime != 0 && distance(facts.writeTime, request.writeTime) <= kTimeTolerance))
                ++evidence;
            // Far from the old folder only a full match counts.
            const bool nearby = vicinity && isPathPrefix(*vicinity, hit.path);
            if (!nearby && (bestPossible == 0 || evidence < bestPossible))
                continue;
            candidates.push_back(Candidate{evidence, level, hit.depth, hit.path, facts});
        }
        const bool perfect = std::any_of(candidates.begin(), candidates.end(),
                                         [&](const Candidate &c) { return c.evidence == bestPossible; });
        if (perfect || !complete)
            break;
    }

    std::sort(candidates.begin(), candidates.end(), [](const Candidate &a, const Candidate &b) {
        if (a.evidence != b.evidence)
            return a.evidence > b.evidence;
        if (a.level != b.level)
            return a.level < b.level;
        if (a.depth != b.depth)
            return a.depth < b.depth;
        return a.path < b.path;
    });
    // The progress hook may have run since a candidate was looked at: look
    // again before taking it.
    for (const Candidate &candidate : candidates) {
        FileFacts facts;
        if (readFacts(candidate.path, facts) != FactsStatus::Found || !fits(facts))
            continue;
        if (auto found = makeFound(candidate.path, facts))
            return found;
    }
    return std::nullopt;
}
