#pragma once

// The search for a link target that is no longer where the link says. A
// place found is the same target only when it is of the kind the link
// recorded (file or folder) and agrees with what the link recorded about it:
//   1. renamed in place: an entry of the target's old folder, of the same
//      kind, with exactly the creation time the link's header records, or
//      else with its size and exactly its write time; the entry matching
//      the most of them, and only when no other matches as well;
//   2. moved: an entry of the same name (letter case aside) in the tree of
//      the nearest existing folder above the old target, then its parent's
//      tree, and so on up to the drive's root folder, that matches the
//      header: a file its size and its creation or write time, a folder its
//      creation time (times within two seconds, the coarsest stamps, FAT's).
//      The one matching more of the recorded times wins, then the nearer;
//      two alike cannot be told apart and neither is taken.
// A link that recorded neither kind nor the facts a step needs is not
// searched for by that step: a name alone never identifies a target.
// Every candidate is looked at with a real stat() before it is accepted.
// The search covers the target's drive; it gives up when the budget runs
// out.

#include "shell/FileFacts.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>

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
    TargetSearch(DirIndex &index, SearchBudget &budget, const DriveContext &drives)
        : m_index(index), m_budget(budget), m_drives(drives)
    {}

    std::optional<FoundTarget> find(const TargetSearchRequest &request);

    // Tolerance for "same time" when comparing a moved candidate with the
    // header: two seconds, the coarsest time stamps (FAT).
    static constexpr quint64 kTimeTolerance = 2 * 10000000ULL;

private:
    enum class Want { File, Folder };

    std::optional<FoundTarget> renamedInPlace(const TargetSearchRequest &request,
                                              const QByteArray &oldFolder);
    std::optional<FoundTarget> byName(const TargetSearchRequest &request, const QByteArray &oldPosix,
                                      const QByteArray &driveRoot);
    bool fits(const FileFacts &facts) const;
    int agreement(const FileFacts &facts, const TargetSearchRequest &request) const;
    bool isShortcut(const FileFacts &facts, const TargetSearchRequest &request) const;

    DirIndex &m_index;
    SearchBudget &m_budget;
    const DriveContext &m_drives;
    std::shared_ptr<const DriveMap> m_map; // one map for the whole search
    Want m_want = Want::File;
};
