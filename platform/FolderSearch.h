#pragma once

#include "platform/FileIdentity.h"
#include "platform/WinTypes.h"

#include <QByteArray>
#include <QString>

#include <memory>

// One folder entry as the search yields it: the long name and the Windows
// attribute bits (no short 8.3 names exist here).
struct FindData
{
    QString name;
    quint32 attributes = 0;
};

// A search over one folder (FindFirstFileW / FindNextFileW / FindClose as
// one RAII object). The pattern holds '*' and '?' and is matched against
// each name without regard to case, so "*.lnk" finds "OLD.LNK". "." and
// ".." are yielded like on Windows. Names that cannot be shown in Windows
// form are never yielded.
//
// Attribute bits: DIRECTORY follows symbolic links; HIDDEN for names that
// begin with a dot; SYSTEM for the mount point of a pseudo file system or the
// root folder of another drive of the map; READONLY when the user may not
// write the entry; REPARSE_POINT for a symbolic link. READONLY costs a system
// call per entry, so a search computes it only when asked to.
class FolderSearch
{
public:
    enum class Attributes { All, WithoutReadOnly };

    // Windows form: "c:\dir\*.lnk" (the folder, a backslash, the pattern).
    explicit FolderSearch(const QString &winPathAndPattern, Attributes which = Attributes::All);
    // The folder as a POSIX path, with the pattern apart.
    FolderSearch(const QByteArray &posixFolder, const QString &pattern,
                 Attributes which = Attributes::All);
    ~FolderSearch();
    FolderSearch(const FolderSearch &) = delete;
    FolderSearch &operator=(const FolderSearch &) = delete;

    // False when the folder could not be opened (missing, access denied,
    // not a folder, path too long); error() then tells why.
    bool isOpen() const;
    quint32 error() const;
    // The next matching entry; false when there are no more.
    bool next(FindData &entry);
    // The identity of the folder being searched (from the open handle).
    std::optional<FileIdentity> folderIdentity() const;
    // The POSIX folder being searched.
    const QByteArray &posixFolder() const;

private:
    struct State;
    std::unique_ptr<State> m_state;
};

// Case-insensitive wildcard match of a name against a pattern ('*', '?').
bool matchesPattern(const QString &name, const QString &pattern);

// Attribute query (GetFileAttributesW): the bits of what a Windows-form path
// names, or INVALID_FILE_ATTRIBUTES with *error set to ERROR_FILE_NOT_FOUND,
// ERROR_PATH_NOT_FOUND, ERROR_ACCESS_DENIED or ERROR_INVALID_NAME.
quint32 getFileAttributes(const QString &winPath, quint32 *error = nullptr);
quint32 getFileAttributesPosix(const QByteArray &posixPath, quint32 *error = nullptr);
