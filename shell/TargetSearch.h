#pragma once

// The search for a link target that is no longer where the link says:
//   1. the link's relative path, taken from the shortcut's own folder;
//   2. a renamed entry in the target's old folder, of the same kind: one
//      with exactly the creation time the link's header records, or else
//      with its size and exactly its write time; the entry matching the
//      most of them, and only when no other matches as well;
//   3. the same name (and kind) in the tree of the nearest existing folder
//      above the old target, then its parent's tree, and so on up to the
//      drive's root folder. A candidate whose size and times match the
//      header wins over one that matches fewer of them, a nearer one over a
//      farther one. In the old target's vicinity (its folder and up to three
//      folders above it) the name alone is enough, as in the search Windows
//      documents; farther away the candidate must also match the header's
//      size and one of its times (as Windows' drive-wide search matches name,
//      size and creation date), so an unrelated file that merely shares a
//      common name (setup.exe, readme.txt) is never taken for the target.
// Every candidate is looked at with a real stat() before it is accepted.
// The search covers the target's drive; it gives up when the budget runs
// out.

#include "shell/FileFacts.h"

#include <QByteArray>
#include <QString>

#include <optional>

class DirIndex;
class SearchBudget;

struct TargetSearchRequest
{
    QString oldTarget;                   // Windows form, absolute
    std::optional<QString> relativePath; // the link's RELATIVE_PATH
    QString shortcutWinPath;             // the shortcut file, Windows form
    quint32 attributes = 0;              // header: FILE_ATTRIBUTE_* of the target, 0 unknown
    quint32 size = 0;                    // header: low 32 bits of the size, 0 unknown
    quint64 creationTime = 0;            // header FILETIMEs, 0 unknown
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
    TargetSearch(DirIndex &index, SearchBudget &budget) : m_index(index), m_budget(budget) {}

    std::optional<FoundTarget> find(const TargetSearchRequest &request);

    // Tolerance for "same time" when comparing a candidate with the header
    // far from the old folder: two seconds, the coarsest time stamps (FAT).
    static constexpr quint64 kTimeTolerance = 2 * 10000000ULL;

private:
    enum class Want { File, Folder, Either };

    std::optional<FoundTarget> byRelativePath(const TargetSearchRequest &request) const;
    std::optional<FoundTarget> renamedInPlace(const TargetSearchRequest &request,
                                              const QByteArray &oldFolder);
    std::optional<FoundTarget> byName(const TargetSearchRequest &request, const QByteArray &oldPosix,
                                      const QByteArray &driveRoot);
    bool fits(const FileFacts &facts) const;
    bool isShortcut(const FileFacts &facts, const TargetSearchRequest &request) const;

    DirIndex &m_index;
    SearchBudget &m_budget;
    Want m_want = Want::Either;
};
