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

    // Forgets everything (and drops every watch).
    void clear();

    // Number of entries held, for tests and measurements.
    qsizetype entryCount() const { return m_entryCount; }
    // Number of folder reads done since construction.
    qsizetype readCount() const { return m_readCount; }

    // The key a name is indexed by: Unicode simple case folding, so names
    // match the way Windows matches them, without regard to case.
    static std::string foldName(const char *name, size_t length);
    static quint64 nameKey(const std::string &foldedName);

private:
    static constexpr quint32 kNone = 0xFFFFFFFFu;
    enum class State : quint8 { Unread, Fresh, Stale, Foreign, Dead };

    struct Entry
    {
        std::string name;
        std::string folded; // empty when the name is its own folded form
        quint64 key = 0;    // hash of the folded name
        const std::string &foldedName() const { return folded.empty() ? name : folded; }
        ino_t inode = 0;
        Kind kind = Kind::Other;
        quint32 child = kNone; // node of a sub-folder
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

    std::vector<Node> m_nodes;
    std::vector<quint32> m_free;
    std::unordered_multimap<quint64, quint32> m_names;       // hash of a folded name -> node holding it
    std::unordered_map<int, std::vector<quint32>> m_watches; // watch -> nodes
    QHash<QByteArray, quint32> m_roots;                      // root folder -> node
    Checking m_checking;
    int m_inotify = -1;
    qint64 m_watchLimit = 0;
    quint64 m_epoch = 1;
    qsizetype m_entryCount = 0;
    qsizetype m_readCount = 0;
    std::vector<char> m_buffer; // for getdents64
};
