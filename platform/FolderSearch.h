#pragma once

#include "platform/BoundedCall.h"
#include "platform/FileIdentity.h"
#include "platform/FolderListing.h"
#include "platform/WinTypes.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>

class DriveContext;

// One folder entry as the search yields it: the long name and the Windows
// attribute bits (no short 8.3 names exist here).
struct FindData
{
    QString name;
    quint32 attributes = 0;
    // What the entry is, following symbolic links (never SymLink), when the
    // search learnt it on the way (the entry type the folder gives, or the
    // stat that FILE_ATTRIBUTE_DIRECTORY needs for a symbolic link); Unknown
    // when it did not. A link that leads nowhere, or into a place that did not
    // answer, is Other. The scan opens only regular files: opening a FIFO
    // named x.lnk would block, a device may act on open.
    EntryType kind = EntryType::Unknown;
    // Device and inode of a regular file (through a symbolic link, of what
    // it leads to), when the search learnt them on the way; zero otherwise.
    FileIdentity identity;
};

// A search over one folder (FindFirstFileW / FindNextFileW / FindClose as
// one RAII object). The pattern holds '*' and '?' and is matched against
// each name without regard to case, so "*.lnk" finds "OLD.LNK". "." and
// ".." are yielded like on Windows. Names that cannot be shown in Windows
// form are never yielded; unshownNames() tells them.
//
// Attribute bits: DIRECTORY follows symbolic links; HIDDEN for names that
// begin with a dot; SYSTEM for the mount point of a pseudo file system or the
// root folder of another drive of the map; READONLY when nobody has a write
// permission bit (FileAttributes::isReadOnly, through symbolic links);
// REPARSE_POINT for a symbolic link; ARCHIVE for everything that is not a
// folder (as Windows marks plain files). "." and ".." carry DIRECTORY, and
// READONLY by the same rule. READONLY costs a system call per entry that is
// not a symbolic link, so a search computes it only when asked to.
//
// The folder is read in pieces as the entries are taken, so a caller that
// does other work between two entries never waits for the whole of a large
// folder. A search for a sub-folder that another search yielded opens it
// relative to that search's folder. A folder on a file system that may not
// answer (network, FUSE) is opened and read on a worker thread while the
// search waits, running the wait hook every few milliseconds (which may stop
// it): a slow folder is waited for however long it takes, as long as its
// pieces keep coming; one that gives no answer at all for the context's
// noAnswer() has stopped answering and fails with ERROR_NOT_READY.
class FolderSearch
{
public:
    enum class Attributes { All, WithoutReadOnly };
    // Which entries a search yields besides the pattern's say (as
    // FindFirstFileExW's search operations): every kind, or only what may be
    // a folder (folders, and symbolic links, whose DIRECTORY bit tells).
    enum class Limit { None, ToFolders };
    // Runs while a search waits for a folder that may not answer, and after
    // every kPassedOverPerWait entries that next() passes over in one call
    // (a huge folder of other files); false gives up at once (next() then
    // ends with ERROR_OPERATION_ABORTED).
    using WaitHook = std::function<bool()>;
    static constexpr int kPassedOverPerWait = 1024;

    // The drives' map and mounts tell which places are system folders and
    // which may not answer; the context must outlive the search and the
    // searches of its sub-folders.
    //
    // Windows form: "c:\dir\*.lnk" (the folder, a backslash, the pattern).
    // The folder part is translated with WinPath::toPosix, so a full file
    // path searches for that one name.
    FolderSearch(const DriveContext &drives, const QString &winPathAndPattern,
                 Attributes which = Attributes::All);
    // The folder as a POSIX path, with the pattern apart. With `listings`,
    // the search and the searches of its sub-folders share their listings
    // with that source (see FolderListingSource), which must outlive them.
    FolderSearch(const DriveContext &drives, const QByteArray &posixFolder, const QString &pattern,
                 Attributes which = Attributes::All, WaitHook whileWaiting = {},
                 FolderListingSource *listings = nullptr);
    // The folder that `parent` yielded last (a sub-folder, or a symbolic link
    // to a folder), opened relative to the parent's folder; the parent's wait
    // hook is used. Not open when the parent's last entry was "." or "..".
    FolderSearch(FolderSearch &parent, const QString &pattern, Attributes which);
    // A sub-folder of `parent` whose name cannot be shown in Windows form
    // (one of its unshownNames()), opened relative to the parent's folder; a
    // symbolic link is not followed. Its listing is not shared.
    FolderSearch(FolderSearch &parent, const QByteArray &unshownName, const QString &pattern,
                 Attributes which);
    ~FolderSearch();
    FolderSearch(const FolderSearch &) = delete;
    FolderSearch &operator=(const FolderSearch &) = delete;

    // False when the folder could not be opened (missing, access denied,
    // not a folder, path too long, no answer in time); error() then tells
    // why. An open search that ends without yielding anything reports
    // ERROR_FILE_NOT_FOUND.
    bool isOpen() const;
    quint32 error() const;
    // The next matching entry; false when there are no more.
    bool next(FindData &entry);
    // Searches the same folder again, from its first entry, for another
    // pattern, on the handle this search opened: the entries are those the
    // folder holds now (read again when the folder changed since they were
    // read) without the folder being opened a second time; in a walk that
    // shares listings with a source, those read during the walk (see
    // FolderListing::current). A walk that looks at a folder's files and
    // then at its sub-folders saves the second open and read that way.
    // False, with nothing to yield, when the folder was never opened.
    bool restart(const QString &pattern, Limit limit = Limit::None);
    // The identity of the folder being searched (from the open handle).
    std::optional<FileIdentity> folderIdentity() const;
    // The identity of the entry yielded last (`entry`), following a symbolic
    // link: from the entry when the search learnt it, else looked up;
    // nothing when it cannot be told.
    std::optional<FileIdentity> identityOf(const FindData &entry) const;
    // The POSIX folder being searched, as it was named.
    const QByteArray &posixFolder() const;
    // Whether the folder holds an entry of exactly one of these names, when
    // all of its entries are known (false otherwise); no file is looked at.
    bool holdsAnyName(std::initializer_list<QByteArrayView> names) const;
    // The names of the folder that cannot be shown in Windows form (never
    // yielded), once every entry was taken; empty before.
    QList<QByteArray> unshownNames() const;
    // What such an entry is, following symbolic links (Other when it cannot
    // be looked at, Unknown on a place that may not answer).
    // `symbolicLink` (when given) tells whether the entry itself is one.
    EntryType unshownKind(const QByteArray &name, bool *symbolicLink = nullptr) const;

    struct State;

private:
    std::unique_ptr<State> m_state;
};

// Case-insensitive wildcard match of a name against a pattern ('*', '?').
// As on Windows, a pattern ending in ".*" also matches the name without that
// extension, so "*.*" matches every name.
bool matchesPattern(const QString &name, const QString &pattern);

// Attribute query (GetFileAttributesW): the bits of what a Windows-form path
// names, or INVALID_FILE_ATTRIBUTES with *error set to ERROR_FILE_NOT_FOUND,
// ERROR_PATH_NOT_FOUND, ERROR_ACCESS_DENIED or ERROR_INVALID_NAME
// (ERROR_NOT_READY for a device or share that does not answer). Symbolic
// links are followed: a dangling one is ERROR_FILE_NOT_FOUND. SYSTEM is set
// here for folders of pseudo file systems only. READONLY follows the same
// rule as a search's; WithoutReadOnly leaves it out, as it does there.
quint32 getFileAttributes(const DriveContext &drives, const QString &winPath, quint32 *error = nullptr,
                          FolderSearch::Attributes which = FolderSearch::Attributes::All);
quint32 getFileAttributesPosix(const DriveContext &drives, const QByteArray &posixPath,
                               quint32 *error = nullptr,
                               FolderSearch::Attributes which = FolderSearch::Attributes::All);
