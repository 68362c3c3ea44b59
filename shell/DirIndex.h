#pragma once

// The folder listings the resolver has read, kept between the links of one
// scan, with an index from folded names to the folders that hold them.
//
// Folders are read lazily, the first time a search needs them. Every folder
// read on a local file system is watched with inotify (up to half the
// user's watch limit), so a change (entry
// created, deleted, renamed; folder moved or deleted) marks its listing
// stale and the next search reads it again; the pending notifications are
// taken before every use. Folders the kernel cannot watch for us (network
// and FUSE file systems, no watches left) are checked with a stat() of the
// folder (inode, change and modification times) before every use instead.
// A listing therefore never answers for a file system that changed under
// it; callers still stat a candidate before they accept it.
//
// A walk stays on one file system: a sub-folder on another device (or one
// that repeats a folder above it) is not entered from its parent. Searches
// that start below such a point get a separate root there. Symbolic links
// are listed but never followed.

#include "platform/FolderSearch.h"

#include <QByteArray>
#include <QHash>
#include <QString>

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <sys/types.h>

class SearchBudget;

class DirIndex
{
public:
    enum class Kind : quint8 { File, Folder, SymLink, Other };

    struct Hit
    {
        QByteArray path; // POSIX path of the entry
        Kind kind;
        int depth; // folders between the search root and the entry
    };

    // How listings are kept current: change notifications where the kernel
    // can give them (the normal case), or a stat() of every folder before
    // each use (what folders on network file systems always get; tests use
    // it to check that path).
    enum class Checking { Notifications, StatOnly };

    explicit DirIndex(Checking checking = Checking::Notifications);
    ~DirIndex();
    DirIndex(const DirIndex &) = delete;
    DirIndex &operator=(const DirIndex &) = delete;

    // Registers a drive's folder (canonical) as a root of the tree. Searches
    // register the drive first, so folders below it are reached from it.
    void addRoot(const QByteArray &folder) { rootFor(folder); }

    // Starts one resolve's work: takes the pending change notifications;
    // folders that are checked by stat() are checked once per search.
    void beginSearch();

    // Makes the listings of the whole tree below `folder` (canonical POSIX
    // path) current. False when the budget ran out first: the work done so
    // far is kept for the next call.
    bool complete(const QByteArray &folder, SearchBudget &budget);

    // The entries named `foldedName` (see foldName) in the tree below
    // `folder`, as far as it has been read. Call complete() first for an
    // answer that covers the whole tree.
    void find(const std::string &foldedName, const QByteArray &folder, std::vector<Hit> &hits);

    // The current names and kinds of one folder's entries; false when the
    // folder cannot be read.
    bool list(const QByteArray &folder, std::vector<std::pair<QByteArray, Kind>> &entries,
              SearchBudget &budget);

    // The listing of a folder (canonical POSIX path) as it is now, without
    // reading anything: only a folder that was read, is watched for changes
    // and has not changed since qualifies (the pending notifications are
    // taken first). For each sub-folder its identity, when it was read too.
    bool currentListing(const QByteArray &folder, FileIdentity &identity,
                        std::vector<FolderListingSource::Entry> &entries);

    // Forgets everything (and drops every watch).
    void clear();

    // Number of entries held, for tests and measurements.
    qsizetype entryCount() const { return m_entryCount; }
    // Number of folder reads done since construction.
    qsizetype readCount() const { return m_readCount; }

    // The key a name is indexed by: Unicode simple case folding, so names
    // match the way Windows matches them, without regard to case.
    static std::string foldName(const char *name, size_t length);
    static quint64 nameKey(std::string_view foldedName);

private:
    static constexpr quint32 kNone = 0xFFFFFFFFu;
    enum class State : quint8 { Unread, Fresh, Stale, Foreign, Dead };

    // One entry of a listing: 24 bytes, its name kept in the node's
    // `names`, so that a drive of a million entries fits in little memory.
    struct Entry
    {
        quint32 nameAt = 0;     // offset of the name in the node's names
        quint16 nameSize = 0;   // bytes
        quint16 foldedSize = 0; // the stored folded form's bytes (right after
                                // the name); 0 for an ASCII name, which folds
                                // by lowering its letters
        quint32 child = kNone;  // node of a sub-folder
        Kind kind = Kind::Other;
        ino_t inode = 0;
    };

    struct Node
    {
        QByteArray path;
        quint32 parent = kNone;
        State state = State::Unread;
        int watch = -1;
        dev_t device = 0;
        ino_t inode = 0;
        qint64 mtimeNs = 0, ctimeNs = 0;
        qint64 readAtNs = 0; // wall clock when the listing was read
        quint64 checkedEpoch = 0;
        // Nodes below and including this one that are Unread or Stale, and
        // that are Fresh but unwatched.
        qint64 pending = 0;
        qint64 unwatched = 0;
        std::vector<Entry> entries;
        std::string names; // every entry's name (and folded form)

        std::string_view nameOf(const Entry &entry) const
        {
            return std::string_view(names.data() + entry.nameAt, entry.nameSize);
        }
        // Whether the entry's folded name is `folded`.
        bool foldsTo(const Entry &entry, std::string_view folded) const;
        // The hash of the entry's folded name (as nameKey gives it).
        quint64 keyOf(const Entry &entry) const;
    };

    // Which nodes hold an entry with a given name: a multiset of
    // (32 bits of the name's hash, node), open addressing with linear
    // probing, 8 bytes a slot.
    class NameTable
    {
    public:
        void insert(quint64 key, quint32 node);
        void erase(quint64 key, quint32 node);
        template <typename F> void forEach(quint64 key, F &&visit) const;
        void clear();

    private:
        static constexpr quint64 kEmpty = ~quint64(0);
        static quint64 pack(quint64 key, quint32 node) { return (key & 0xFFFFFFFFu) << 32 | node; }
        size_t home(quint64 key) const { return size_t((key & 0xFFFFFFFFu) * 0x9E3779B1u) & m_mask; }
        void grow();

        std::vector<quint64> m_slots;
        size_t m_mask = 0;
        size_t m_size = 0;
    };

    quint32 newNode(const QByteArray &path, quint32 parent);
    void setState(quint32 id, State state);
    void setWatch(quint32 id, int watch);
    void adjust(quint32 id, qint64 pending, qint64 unwatched);
    void dropNode(quint32 id);
    void read(quint32 id);
    bool stillCurrent(quint32 id);
    void drainNotifications();
    void indexEntries(quint32 id, bool add);
    bool prepare(quint32 id, SearchBudget &budget);
    quint32 nodeFor(const QByteArray &folder, SearchBudget &budget);
    quint32 rootFor(const QByteArray &folder);
    bool isBelow(quint32 id, quint32 ancestor, int &depth) const;
    bool isRemote(int fd, dev_t device);

    std::vector<Node> m_nodes;
    std::vector<quint32> m_free;
    NameTable m_names;                                       // hash of a folded name -> node holding it
    std::unordered_map<int, std::vector<quint32>> m_watches; // watch -> nodes
    QHash<QByteArray, quint32> m_roots;                      // root folder -> node
    QHash<QByteArray, quint32> m_byPath;                     // folder -> node (a root wins)
    Checking m_checking;
    int m_inotify = -1;
    qint64 m_watchLimit = 0;
    quint64 m_epoch = 1;
    qsizetype m_entryCount = 0;
    qsizetype m_readCount = 0;
    std::vector<char> m_buffer;                      // for getdents64
    std::unordered_map<dev_t, bool> m_remoteDevices; // device -> checked by stat() only
};
