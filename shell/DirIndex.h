#pragma once

// The folder listings of a drive that the resolver searches for moved
// targets, with an index from folded names to the entries that bear them.
//
// One scan reads each folder once. Folders are read on demand (the first
// search that needs a tree reads what is missing of it) or taken from the
// walk of the scan, which hands over what it reads (the index is the walk's
// FolderListingSource, through the link service); the walk takes in return
// every listing the index read before it got there. Reads are made relative
// to the folder above (openat), never by a full path.
//
// Listings are not re-checked for each search: a folder's listing is checked
// (one stat of the folder) when it is used for itself, by list() or by a walk
// that did not begin before it was read, and read again when the folder
// changed. A walk takes what was read since it began as it is. What changes elsewhere in
// the tree during a scan is seen once the walk or a search uses that folder;
// candidates are always looked at for real before they are taken.
//
// What a walk of the drive may not enter is not indexed either: hidden
// folders, the mount points of pseudo file systems and other drives' root
// folders are listed as names only. A folder on a file system that may not
// answer is read on a worker thread, waited for as long as it answers (see
// DriveContext::noAnswer); one that stops answering is passed over for the
// rest of the scan. Symbolic links are listed but never
// followed, and a folder that repeats one above it is not entered.
//
// Memory: about 16 bytes an entry, plus its name, plus about 11 bytes for the
// name table and 64 for each folder. Everything is given back by clear(), on
// a worker thread.

#include "platform/FolderListing.h"
#include "platform/FolderReadAhead.h"
#include "shell/IndexStore.h"
#include "shell/NameTable.h"

#include <QByteArray>

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class DriveContext;
class SearchBudget;
class SystemFolders;

class DirIndex
{
public:
    using Kind = EntryType; // as the listings have it: File, Folder, SymLink, Other

    struct Hit
    {
        QByteArray path; // POSIX path of the entry
        Kind kind;
        int depth; // folders between the search root and the entry
    };

    // The drives tell which folders may not answer.
    explicit DirIndex(std::shared_ptr<const DriveContext> drives);
    ~DirIndex();
    DirIndex(const DirIndex &) = delete;
    DirIndex &operator=(const DirIndex &) = delete;

    // Registers a drive's folder (canonical) as a root of the tree. Searches
    // register the drive first, so folders below it are reached from it.
    void addRoot(const QByteArray &folder) { rootFor(folder); }

    // Starts one resolve's work. Nothing is re-checked: see above.
    void beginSearch() {}

    // Reads what is missing of the tree below `folder` (canonical POSIX
    // path). False when the budget ran out first: the work done so far is
    // kept for the next call.
    bool complete(const QByteArray &folder, SearchBudget &budget);

    // The entries named `foldedName` (see foldName) in the tree below
    // `folder`, as far as it has been read. Call complete() first for an
    // answer that covers the whole tree. A name that thousands of entries
    // bear takes a while: with a budget, its hook runs in between, and when
    // the budget runs out first there is no answer (no hits) rather than
    // part of one.
    void find(const std::string &foldedName, const QByteArray &folder, std::vector<Hit> &hits,
              SearchBudget *budget = nullptr);

    // The names and kinds of one folder's entries as they are now (the folder
    // is checked and read again when it changed); false when the folder
    // cannot be read.
    bool list(const QByteArray &folder, std::vector<std::pair<QByteArray, Kind>> &entries,
              SearchBudget &budget);

    // The listings shared with the walk of a scan (see FolderListingSource);
    // a handle is a folder's node plus one. startFolder begins a walk: the
    // listings read from then on, by the index or by the walk, are current
    // for it (FolderListing::current).
    quint32 startFolder(const QByteArray &posixFolder, const FileIdentity &identity);
    bool listing(quint32 handle, FolderListing &out);
    void beginListing(quint32 handle, const FolderStamp &stamp);
    void addEntries(quint32 handle, const FolderListing &listing, size_t from);
    bool endListing(quint32 handle, FolderListing &listing);
    void dropListing(quint32 handle);

    // What a wait for a folder read ahead runs every few milliseconds (the
    // scan's progress); false stops the wait.
    void setWaitHook(std::function<bool()> hook) { m_waitHook = std::move(hook); }
    // What the workers reading ahead do with the plain files of the folders
    // they read, on a cold disk or a share (see FolderReadAhead::Warmer).
    void setFileWarmer(FolderReadAhead::Warmer warmer) { m_warmer = std::move(warmer); }

    // Forgets everything, read-ahead included; the memory is given back on
    // a worker thread.
    void clear();

    // Entries held, folder reads done by the index itself since it was
    // made, and bytes held, for tests and measurements.
    qsizetype entryCount() const { return m_liveEntries; }
    qsizetype readCount() const { return m_readCount; }
    qsizetype bytesHeld() const;

    // The key a name is indexed by: Unicode simple case folding, so names
    // match the way Windows matches them, without regard to case.
    static std::string foldName(const char *name, size_t length);
    static quint64 nameKey(std::string_view foldedName);

private:
    static constexpr quint32 kNone = 0xFFFFFFFFu;
    enum class State : quint8 { Unread, Fresh, Unreadable, Dead };

    // One entry of a listing. Its name (and, for a name that is not plain
    // ASCII, its folded form right after it) lies in m_names.
    struct Entry
    {
        quint32 nameAt = 0;
        quint32 child = kNone;    // node of a sub-folder
        quint32 nextSame = kNone; // next entry whose folded name has the same hash
        quint8 nameSize = 0;
        quint8 bits = 0; // Kind, and kSystemBit
        quint16 foldedSize = 0;
    };
    static constexpr quint8 kKindBits = 7;
    static constexpr quint8 kSystemBit = 8; // a folder the walk may not enter (hidden, system)
    static_assert(quint8(Kind::Unknown) <= kKindBits);

    struct Node
    {
        quint32 parent = kNone;
        quint32 nameAt = 0; // its name in its parent's listing (a root: unused)
        quint32 first = 0, count = 0;
        quint32 unread = 0; // Unread nodes in this tree, itself included
        quint8 nameSize = 0;
        State state = State::Dead;
        bool mayHang = false; // on a file system that may not answer
        quint8 walk = 0;      // the walk during which the listing was read (see startFolder)
        dev_t device = 0;
        ino_t inode = 0;
        qint64 mtimeNs = 0, ctimeNs = 0, readAtNs = 0;
    };

    static_assert(sizeof(Node) <= 64);

    // Every listing stored, in the order of its entries: tells which folder
    // an entry belongs to (and whether it is still that folder's listing).
    struct Range
    {
        quint32 first;
        quint32 node;
    };

    // A listing being stored, read by the index or handed over by the walk.
    struct Recording
    {
        quint32 node = kNone;
        quint32 first = 0;
        FolderStamp stamp;
        std::shared_ptr<const SystemFolders> view;
    };

    struct Root
    {
        QByteArray path;
        quint32 node;
    };

    Node &node(quint32 id) { return m_nodes[id]; }
    const Node &node(quint32 id) const { return m_nodes[id]; }
    std::string_view nameOf(const Entry &entry) const;
    Kind kindOf(const Entry &entry) const { return Kind(entry.bits & kKindBits); }
    bool foldsTo(const Entry &entry, std::string_view folded) const;
    quint32 keyOf(const char *name, size_t length, std::string_view folded) const;
    quint32 ownerOf(quint32 entry) const;
    QByteArray pathOf(quint32 id) const;

    quint32 newNode(quint32 parent, quint32 nameAt, quint8 nameSize, bool mayHang);
    quint32 rootFor(const QByteArray &folder);
    void adjustUnread(quint32 id, qint64 delta);
    void setState(quint32 id, State state);
    void dropTree(quint32 id);

    void beginRecording(quint32 id, const FolderStamp &stamp);
    void appendEntries(const FolderListing &listing, size_t from, size_t to);
    // The sub-folders the read-ahead went on to (see FolderReadAhead::Read).
    using AheadChildren = std::vector<std::pair<quint32, quint64>>;
    void finishRecording(FolderListing &listing, const AheadChildren &aheadChildren = {});
    void abortRecording();
    void markUnreadable(quint32 id);

    int openNode(quint32 id) const;
    bool readNode(quint32 id, int fd, SearchBudget *budget);
    bool readSlowNode(quint32 id, int parentFd, SearchBudget &budget, int *fdOut);
    QByteArray hangPlaceOf(const QByteArray &path) const;
    bool repeatsAncestor(quint32 id, const struct stat &st) const;
    quint32 nodeFor(const QByteArray &folder, SearchBudget &budget);
    quint32 deepestRoot(const QByteArray &folder, qsizetype &pathLength) const;
    quint32 existingNodeFor(const QByteArray &folder) const;
    quint32 childNamed(quint32 id, std::string_view name) const;
    bool isBelow(quint32 id, quint32 ancestor, int &depth) const;
    void compactIfWasteful(SearchBudget &budget);

    // Read-ahead (see startFolder): the workers read the walk's tree below
    // its top by themselves, depth first; what they do not go on to (a
    // mount point that may not answer, the unread sub-folders of a folder
    // read here) is handed to them. Their reads are stored as they come.
    void startReadAhead(quint32 top);
    void readAhead(quint32 id);
    void forgetReadAhead(quint32 id);
    // Stores reads done (at most `most`); what was stored.
    size_t storeReads(size_t most, SearchBudget *budget);
    void storeRead(quint32 id, FolderReadAhead::Read &read);
    // Waits for the read of an unread folder a worker has; false when it
    // did not come (stopped, or its place stopped answering).
    bool waitForRead(quint32 id);
    bool completeAhead(quint32 top, SearchBudget &budget);

    ChunkedArray<Entry, 16> m_entries;
    NameBytes m_names;
    ChunkedArray<Node, 14> m_nodes;
    std::vector<quint32> m_freeNodes;
    ChunkedArray<Range, 16> m_ranges;
    NameTable m_table;
    std::shared_ptr<const DriveContext> m_drives;
    std::vector<Root> m_roots;
    Recording m_recording;
    FolderListing m_scratch;
    // The names a Windows path cannot hold, of the folders that have any
    // (few do), by node.
    std::unordered_map<quint32, std::string> m_unshown;
    std::vector<quint32> m_keys; // of the entries being appended
    FolderReader m_reader;
    qsizetype m_liveEntries = 0;
    qsizetype m_deadEntries = 0;
    qsizetype m_readCount = 0;
    quint8 m_walk = 0; // the walk now running, counted from 1 round to 255

    // Folders read ahead of the walk now running, below its top folder.
    std::unique_ptr<FolderReadAhead> m_ahead;
    quint32 m_aheadTop = kNone;
    quint64 m_aheadSerial = 0;
    std::unordered_map<quint32, quint64> m_aheadKeys;  // node, its request
    std::unordered_map<quint64, quint32> m_aheadNodes; // request, its node
    std::vector<FolderReadAhead::Read> m_reads;
    std::function<bool()> m_waitHook;
    FolderReadAhead::Warmer m_warmer;
};
