#pragma once

// One folder's entries as they were read from it, and the rule that tells
// whether such a listing still holds: what the walk of a scan and the link
// service's index of a drive share, so that each folder is read once.

#include "platform/BoundedCall.h"
#include "platform/FileIdentity.h"
#include "platform/PosixPath.h"

#include <QByteArray>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <sys/stat.h>

// What a folder entry is: a regular file, a folder, a symbolic link, or
// anything else (a FIFO, a socket, a device); Unknown where it was not learnt.
enum class EntryType : quint8 { File, Folder, SymLink, Other, Unknown };

// The type of what a stat() describes (st_mode).
EntryType entryTypeOf(mode_t mode);

// When a listing was read and what its folder looked like then.
struct FolderStamp
{
    FileIdentity identity;
    qint64 mtimeNs = 0, ctimeNs = 0;
    qint64 readAtNs = 0; // wall clock just before the first read

    // Folder times closer than this to the read are not trusted: file
    // systems stamp times with a coarse clock, so a change in the same tick
    // as the read would leave them as they were.
    static constexpr qint64 kSettledNs = 1000000000LL;

    static FolderStamp of(const struct stat &folder, qint64 readAtNs);
    // Whether a folder that stats as `now` still holds exactly the entries
    // read under this stamp: the same folder, unchanged times, and times
    // that had settled when it was read.
    bool vouchesFor(const struct stat &now) const;
};

struct FolderListing
{
    struct Item
    {
        quint32 nameAt = 0; // in `names`, followed by a zero byte
        quint8 nameSize = 0;
        EntryType type = EntryType::Other; // symbolic links not followed; never Unknown
        ino_t inode = 0;                   // as the folder gives it; 0 when not known
        quint32 handle = 0;                // of a sub-folder, in the listing source; 0 for none
    };

    FolderStamp stamp;
    std::string names;
    std::vector<Item> items; // in the folder's own order, "." and ".." left out
    // Names a Windows path cannot hold, each followed by a zero byte: not
    // among the items, but not forgotten either (the walk names them).
    std::string unshown;
    // Read during the walk now running (by the walk or by the source that
    // gave it): it stands for the folder as the walk meets it, as a read made
    // then would, so it is taken without a look at the folder. A walk is not
    // a snapshot of the drive in any case: what changes in a folder after it
    // was read is not seen, whether the walk read it early or late.
    bool current = false;

    const char *name(const Item &item) const { return names.data() + item.nameAt; }
    void clear();
};

// Reads a folder's entries in pieces of about `bufferBytes`, so that a caller
// can do other work between two pieces of a large folder. Names a Windows
// path cannot hold (see WinPath::isRepresentable) go to `unshown` instead of
// the items; entries of unknown type are looked at (without following links).
class FolderReader
{
public:
    explicit FolderReader(size_t bufferBytes = 32 * 1024) : m_buffer(bufferBytes) {}

    // Appends the next piece of the folder open on `fd` to `listing`; false
    // once the end was reached (or reading failed), with nothing appended.
    bool readPiece(int fd, FolderListing &listing);
    // Appends every remaining entry, running `afterPiece` after each piece.
    // A folder whose reading fails half-way is not the folder: the listing
    // is emptied and the error (an errno) returned; 0 otherwise.
    int readAll(int fd, FolderListing &listing, const std::function<void()> &afterPiece = {});
    // Why the last piece could not be read (errno); 0 when it was read, or
    // when the end was reached. A read that fails half-way leaves a listing
    // that is not the folder's.
    int error() const { return m_error; }

private:
    std::vector<char> m_buffer;
    int m_error = 0;
};

// A folder on a file system that may not answer, opened (and read) on a
// worker thread that owns what it works with, while the caller waits as
// long as `keepWaiting` says and the place answers: it is given up only when
// no piece of it came for `noAnswer` (see BoundedCall; `place` names the
// file system for the calls that hang there). It is opened relative to `base`, or by its
// path (`name`) without one, with the open flags given (O_NOFOLLOW or not);
// with `read`, its entries are read too. Nothing when the call was given up;
// `error` says why one that answered could not be opened.
struct FolderOpenedAside
{
    posix::UniqueFd fd;
    struct stat st = {};
    FolderListing listing; // stamped; entries only when read
    int error = 0;
};
std::optional<FolderOpenedAside> openFolderAside(std::shared_ptr<posix::UniqueFd> base,
                                                 const QByteArray &name, int openFlags, bool read,
                                                 const QByteArray &place,
                                                 const std::function<bool()> &keepWaiting,
                                                 std::chrono::milliseconds noAnswer = BoundedCall::kNoAnswer);

// Listings of folders that another part of the program holds: the link
// service's index of a drive, during a scan. A folder search given the source
// asks it first, and reads the folder only when the source holds no listing
// that still holds; what it reads itself it hands to the source. A walk over
// a drive the index has read then costs next to no system calls, and a search
// for a target after the walk reads nothing again.
//
// Folders are named by handles (never 0) the source gives out: the folder a
// walk starts at by its path, sub-folders in the listings' items.
class FolderListingSource
{
public:
    virtual ~FolderListingSource() = default;

    // The handle of a folder a walk starts at (its path as the walk has it,
    // and its identity); 0 when the source keeps nothing for it. A new walk
    // begins here: only what is read from now on is current for it.
    virtual quint32 startFolder(const QByteArray &posixFolder, const FileIdentity &identity) = 0;
    // The listing kept for a folder, with the handles of its sub-folders;
    // false when none is kept. The caller checks the stamp against the
    // folder, unless the listing is current (read since the walk started).
    virtual bool listing(quint32 folder, FolderListing &out) = 0;

    // A listing the caller reads itself, handed over piece by piece: begun
    // with its stamp, then every item from `from` on after each piece, then
    // ended, which fills in the handles of the sub-folders; or dropped when
    // the caller stops reading before the end. false from endListing when
    // the source dropped the listing meanwhile.
    virtual void beginListing(quint32 folder, const FolderStamp &stamp) = 0;
    virtual void addEntries(quint32 folder, const FolderListing &listing, size_t from) = 0;
    virtual bool endListing(quint32 folder, FolderListing &listing) = 0;
    virtual void dropListing(quint32 folder) = 0;
};
