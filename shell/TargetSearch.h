#pragma once

// The search for a link target that is no longer where the link says, for
// the same target found again, by all of the evidence:
//  - Facts: what the link recorded (kind, size, creation and write time;
//    the IDList's times where the header has none)
//    against what a candidate shows; times agree within two seconds (FAT's
//    coarse clocks). A fact the candidate's file system cannot show (no
//    birth time) counts neither for nor against; the access time says
//    nothing, and a folder is known by its creation time alone.
//  - Candidates: every entry on the target's drive of the same kind and
//    final name (letter case aside), and the entries of the target's old
//    folder as renamed in place. The drive is what Wine shows: its folder,
//    the folders the prefix links into its profiles (see ProfileLinks), and
//    another drive's folder nested in it when the old path runs through it. One file reached by several paths
//    is one candidate, named by its shortest path. Nothing in a recycle bin or a trash, or in a hidden
//    folder, is a candidate, nor is a root.
//  - Decision: a same-name file must have the recorded size and one of the
//    recorded times, a same-name folder its creation time; a renamed one
//    needs the creation time as well (a copy left in the folder shares size
//    and write time, not creation). A time that differs counts against a
//    candidate. The one with the most agreeing facts, then the fewest
//    differing ones (then the most times agreeing to the microsecond, where
//    both clocks are that fine), wins when it alone is best; otherwise
//    nothing is taken. Nearness and depth never decide.
// A link that recorded no size (for a file) or no time is not searched for:
// a name alone never identifies a target. Every candidate is looked at with
// a real stat() before it is accepted. The search gives up, taking nothing,
// when the budget runs out before it has seen the whole drive.

#include "platform/ProfileLinks.h"
#include "shell/FileFacts.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

class DirIndex;
class DriveContext;
class DriveMap;
class SearchBudget;

struct TargetSearchRequest
{
    QString oldTarget;        // Windows form, absolute
    quint32 attributes = 0;   // header: FILE_ATTRIBUTE_* of the target, 0 unknown
    quint32 size = 0;         // header: low 32 bits of the size
    quint64 creationTime = 0; // header FILETIMEs, 0 unknown
    quint64 writeTime = 0;
    std::optional<FileFacts> shortcut; // the shortcut itself, never a candidate
};

struct FoundTarget
{
    QByteArray posixPath;
    QString winPath;
    FileFacts facts;
};

class TargetSearch
{
public:
    TargetSearch(DirIndex &index, SearchBudget &budget, const DriveContext &drives, ProfileLinksCache &links)
        : m_index(index), m_budget(budget), m_drives(drives), m_linksCache(links)
    {}

    std::optional<FoundTarget> find(const TargetSearchRequest &request);

    // Tolerance for "same time" when comparing a moved candidate with the
    // header: two seconds, the coarsest time stamps (FAT).
    static constexpr quint64 kTimeTolerance = 2 * 10000000ULL;
    // Times this close (one microsecond) are the same instant.
    static constexpr quint64 kExactTime = 10;

private:
    enum class Want { File, Folder };

    // What a candidate's facts say to the recorded ones.
    struct Evidence
    {
        int agree = 0;
        int differ = 0;
        int exact = 0;                                      // times that agree to the microsecond
        bool size = false, creation = false, write = false; // agreeing facts
    };
    struct Candidate
    {
        Evidence evidence;
        bool renamed = false;
        QByteArray path;
        FileFacts facts;
    };

    // Each collects candidates; false when the search must give up.
    bool sameName(const TargetSearchRequest &request, const QByteArray &root, const QByteArray &name,
                  std::vector<Candidate> &candidates);
    bool renamedInPlace(const TargetSearchRequest &request, const QByteArray &oldFolder, const QString &name,
                        std::vector<Candidate> &candidates);
    void consider(const TargetSearchRequest &request, const QByteArray &path, bool renamed,
                  std::vector<Candidate> &candidates);
    std::optional<FoundTarget> best(const TargetSearchRequest &request, std::vector<Candidate> &candidates);
    // A candidate's path as the drive names it, when it may be one.
    std::optional<QByteArray> admissible(const QByteArray &canonicalPath) const;
    bool fits(const FileFacts &facts) const;
    Evidence evidence(const FileFacts &facts, const TargetSearchRequest &request) const;
    bool eligible(const Evidence &evidence, bool renamed) const;
    bool isShortcut(const FileFacts &facts, const TargetSearchRequest &request) const;

    DirIndex &m_index;
    SearchBudget &m_budget;
    const DriveContext &m_drives;
    ProfileLinksCache &m_linksCache;
    std::shared_ptr<const DriveMap> m_map; // one map for the whole search
    QChar m_letter;                        // of the target's drive
    ProfileLinks m_links;                  // the drive's folder and those linked into it
    Want m_want = Want::File;
};
