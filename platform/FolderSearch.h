#pragma once

#include "platform/FileIdentity.h"
#include "platform/WinTypes.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <vector>

// One folder entry as the search yields it: the long name and the Windows
// attribute bits (no short 8.3 names exist here).
struct FindData
{
    QString name;
    quint32 attributes = 0;
    // What the entry is, following symbolic links, when the search learnt it
    // on the way (d_type, or the stat that FILE_ATTRIBUTE_DIRECTORY needs for
    // a symbolic link); Unknown when it did not. The scan opens only regular
    // files: opening a FIFO named x.lnk would block, a device may act on open.
    enum class Kind : quint8 { Unknown, RegularFile, Other };
    Kind kind = Kind::Unknown;
};

// Listings of folders that another part of the program holds and keeps
// current by itself (the link service's cache of a drive, during a scan). A
// search on the thread that installed the source asks it first, and reads
// the folder only when the source holds no current listing of it: a walk
// over a drive the cache has just read then costs next to no system calls.
class FolderListingSource
{
public:
    struct Entry
    {
        enum class Type : quint8 { File, Folder, SymLink, Other };
        QByteArray name; // as on disk
        Type type = Type::Other;
        // Of a folder (not followed through a link): its identity when the
        // source knows it, else zero (the search then looks itself).
        FileIdentity identity;
    };

    virtual ~FolderListingSource() = default;
    // The folder's identity and its entries ("." and ".." left out), in the
    // file system's order, as they are now; false when the source cannot
    // vouch for a listing of that folder.
    virtual bool currentListing(const QByteArray &posixFolder, FileIdentity &folder,
                                std::vector<Entry> &entries) = 0;
};

// Installs the source that searches on the calling thread ask first (not
// owned; nullptr for none). A change of the mounts after it was installed
// stops the searches from asking it, since what it knows of the folders'
// devices may be out of date.
void setFolderListingSource(FolderListingSource *source);

// A search over one folder (FindFirstFileW / FindNextFileW / FindClose as
// one RAII object). The pattern holds '*' and '?' and is matched against
// each name without regard to case, so "*.lnk" finds "OLD.LNK". "." and
// ".." are yielded like on Windows. Names that cannot be shown in Windows
// form are never yielded.
//
// Attribute bits: DIRECTORY follows symbolic links; HIDDEN for names that
// begin with a dot; SYSTEM for the mount point of a pseudo file system or the
// root folder of another drive of the map; READONLY when the user may not
// write the entry; REPARSE_POINT for a symbolic link; ARCHIVE for everything
// that is not a folder (as Windows marks plain files). "." and ".." carry
// DIRECTORY only. READONLY costs a system call per entry, so a search
// computes it only when asked to.
class FolderSearch
{
public:
    enum class Attributes { All, WithoutReadOnly };

    // Windows form: "c:\dir\*.lnk" (the folder, a backslash, the pattern).
    // The folder part is translated with WinPath::toPosix, so a full file
    // path searches for that one name.
    explicit FolderSearch(const QString &winPathAndPattern, Attributes which = Attributes::All);
    // The folder as a POSIX path, with the pattern apart.
    FolderSearch(const QByteArray &posixFolder, const QString &pattern, Attributes which = Attributes::All);
    ~FolderSearch();
    FolderSearch(const FolderSearch &) = delete;
    FolderSearch &operator=(const FolderSearch &) = delete;

    // False when the folder could not be opened (missing, access denied,
    // not a folder, path too long); error() then tells why. An open search
    // that ends without yielding anything reports ERROR_FILE_NOT_FOUND.
    bool isOpen() const;
    quint32 error() const;
    // The next matching entry; false when there are no more.
    bool next(FindData &entry);
    // Searches the same folder again, from its first entry, for another
    // pattern, on the handle this search opened: the folder is read anew
    // (entries added or removed since are seen as they are now) without
    // being opened a second time. A walk that looks at a folder's files and
    // then at its sub-folders saves the second open that way. False, with
    // nothing to yield, when the folder was never opened.
    bool restart(const QString &pattern);
    // The identity of the folder being searched (from the open handle).
    std::optional<FileIdentity> folderIdentity() const;
    // The POSIX folder being searched.
    const QByteArray &posixFolder() const;

private:
    struct State;
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
// here for folders of pseudo file systems only.
quint32 getFileAttributes(const QString &winPath, quint32 *error = nullptr);
quint32 getFileAttributesPosix(const QByteArray &posixPath, quint32 *error = nullptr);
