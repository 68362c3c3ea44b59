#include "shell/DirIndex.h"

#include "platform/FileClock.h"
#include "platform/PosixPath.h"
#include "platform/WinPath.h"
#include "shell/SearchBudget.h"

#include <QFile>
#include <QThreadPool>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <time.h>
#include <unistd.h>

namespace {

constexpr quint32 kWatchMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF |
                               IN_MOVE_SELF | IN_ONLYDIR | IN_EXCL_UNLINK;

// File systems whose changes need not pass through this kernel, so inotify
// would not report them: their folders are checked with stat() instead.
bool isRemoteFileSystem(int fd)
{
    struct statfs fs;
    if (::fstatfs(fd, &fs) != 0)
        return true;
    switch (static_cast<quint32>(fs.f_type)) {
    case 0x6969u:     // NFS
    case 0x517Bu:     // SMB
    case 0xFF534D42u: // CIFS
    case 0xFE534D42u: // SMB2
    case 0x65735546u: // FUSE
    case 0x01021997u: // 9P
    case 0x00C36400u: // Ceph
    case 0x5346414Fu: // AFS
    case 0x6B414653u: // kAFS
    case 0x73757245u: // Coda
    case 0x564Cu:     // NCP
    case 0x7461636Fu: // OCFS2
    case 0x01161970u: // GFS2
        return true;
    default:
        return false;
    }
}

// Times closer than this to the moment a listing was read are not trusted.
constexpr qint64 kRacyMarginNs = 2000000000LL;

bool isPathPrefix(const QByteArray &prefix, const QByteArray &path)
{
    if (prefix == "/")
        return path.startsWith('/');
    return path == prefix || (path.startsWith(prefix) && path.at(prefix.size()) == '/');
}

QByteArray joinPath(const QByteArray &folder, std::string_view name)
{
    QByteArray path;
    path.reserve(folder.size() + qsizetype(name.size()) + 1);
    path += folder;
    if (folder != "/")
        path += '/';
    path.append(name.data(), qsizetype(name.size()));
    return path;
}

char asciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

bool isAscii(const char *name, size_t length)
{
    for (size_t i = 0; i < length; ++i)
        if (static_cast<unsigned char>(name[i]) >= 0x80)
            return false;
    return true;
}

} // namespace

DirIndex::DirIndex(Checking checking) : m_checking(checking)
{
    if (m_checking == Checking::Notifications)
        m_inotify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    // Watches count against a per-user limit that file managers and editors
    // need too: take at most half of it. Folders beyond that are checked
    // with stat() instead.
    m_watchLimit = 8192 / 2;
    QFile limit(QStringLiteral("/proc/sys/fs/inotify/max_user_watches"));
    if (limit.open(QIODevice::ReadOnly)) {
        bool ok = false;
        const qint64 value = limit.readAll().trimmed().toLongLong(&ok);
        if (ok && value > 0)
            m_watchLimit = std::max<qint64>(1, value / 2);
    }
}

DirIndex::~DirIndex()
{
    if (m_inotify >= 0)
        ::close(m_inotify);
}

std::string DirIndex::foldName(const char *name, size_t length)
{
    std::string folded(name, length);
    bool ascii = true;
    for (char &c : folded) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x80) {
            ascii = false;
            break;
        }
        if (u >= 'A' && u <= 'Z')
            c = char(u - 'A' + 'a');
    }
    if (ascii)
        return folded;
    return posix::decodeName(name, qsizetype(length)).toCaseFolded().toUtf8().toStdString();
}

void DirIndex::clear()
{
    // A drive's worth of listings takes a while to give back, and closing
    // the notification descriptor makes the kernel drop every watch one by
    // one: both happen on a worker thread, so that the caller (the window,
    // at the end of a scan) goes on at once.
    struct Garbage
    {
        std::vector<Node> nodes;
        NameTable names;
        int inotify = -1;
        ~Garbage()
        {
            if (inotify >= 0)
                ::close(inotify);
        }
    };
    auto garbage = std::make_shared<Garbage>();
    garbage->nodes.swap(m_nodes);
    std::swap(garbage->names, m_names);
    if (m_inotify >= 0) {
        garbage->inotify = m_inotify;
        m_inotify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    }
    m_names.clear();
    m_free.clear();
    m_watches.clear();
    m_roots.clear();
    m_byPath.clear();
    m_remoteDevices.clear();
    m_entryCount = 0;
    QThreadPool::globalInstance()->start([garbage = std::move(garbage)]() mutable { garbage.reset(); });
}

quint32 DirIndex::newNode(const QByteArray &path, quint32 parent)
{
    quint32 id;
    if (!m_free.empty()) {
        id = m_free.back();
        m_free.pop_back();
        m_nodes[id] = Node{};
    } else {
        id = quint32(m_nodes.size());
        m_nodes.emplace_back();
    }
    Node &node = m_nodes[id];
    node.path = path;
    node.parent = parent;
    node.state = State::Unread;
    node.pending = 1;
    if (parent != kNone)
        adjust(parent, 1, 0);
    // The root of a file system reached from another one shares its path
    // with the folder node it hides; the root is the one that lists it.
    if (parent == kNone || !m_byPath.contains(path))
        m_byPath.insert(path, id);
    return id;
}

void DirIndex::adjust(quint32 id, qint64 pending, qint64 unwatched)
{
    for (quint32 n = id; n != kNone; n = m_nodes[n].parent) {
        m_nodes[n].pending += pending;
        m_nodes[n].unwatched += unwatched;
    }
}

void DirIndex::setState(quint32 id, State state)
{
    Node &node = m_nodes[id];
    const auto pendingOf = [](State s) { return s == State::Unread || s == State::Stale ? 1 : 0; };
    const auto unwatchedOf = [](State s, int watch) { return s == State::Fresh && watch < 0 ? 1 : 0; };
    const qint64 dp = pendingOf(state) - pendingOf(node.state);
    const qint64 du = unwatchedOf(state, node.watch) - unwatchedOf(node.state, node.watch);
    node.state = state;
    if (dp || du)
        adjust(id, dp, du);
}

void DirIndex::setWatch(quint32 id, int watch)
{
    Node &node = m_nodes[id];
    if (node.watch == watch)
        return;
    if (node.watch >= 0) {
        auto it = m_watches.find(node.watch);
        if (it != m_watches.end()) {
            std::erase(it->second, id);
            if (it->second.empty()) {
                ::inotify_rm_watch(m_inotify, node.watch);
                m_watches.erase(it);
            }
        }
    }
    const bool wasUnwatched = node.state == State::Fresh && node.watch < 0;
    node.watch = watch;
    if (watch >= 0)
        m_watches[watch].push_back(id);
    const bool isUnwatched = node.state == State::Fresh && node.watch < 0;
    if (wasUnwatched != isUnwatched)
        adjust(id, 0, isUnwatched ? 1 : -1);
}

quint64 DirIndex::nameKey(std::string_view foldedName)
{
    return std::hash<std::string_view>{}(foldedName);
}

bool DirIndex::Node::foldsTo(const Entry &entry, std::string_view folded) const
{
    if (entry.foldedSize != 0)
        return std::string_view(names.data() + entry.nameAt + entry.nameSize, entry.foldedSize) == folded;
    const std::string_view name = nameOf(entry);
    if (name.size() != folded.size())
        return false;
    for (size_t i = 0; i < name.size(); ++i)
        if (asciiLower(name[i]) != folded[i])
            return false;
    return true;
}

quint64 DirIndex::Node::keyOf(const Entry &entry) const
{
    if (entry.foldedSize != 0)
        return nameKey(std::string_view(names.data() + entry.nameAt + entry.nameSize, entry.foldedSize));
    thread_local std::string lowered;
    lowered.assign(nameOf(entry));
    for (char &c : lowered)
        c = asciiLower(c);
    return nameKey(lowered);
}

void DirIndex::NameTable::grow()
{
    std::vector<quint64> old = std::move(m_slots);
    const size_t capacity = old.empty() ? 1024 : old.size() * 2;
    m_slots.assign(capacity, kEmpty);
    m_mask = capacity - 1;
    for (const quint64 value : old) {
        if (value == kEmpty)
            continue;
        size_t at = home(value >> 32);
        while (m_slots[at] != kEmpty)
            at = (at + 1) & m_mask;
        m_slots[at] = value;
    }
}

void DirIndex::NameTable::insert(quint64 key, quint32 node)
{
    if ((m_size + 1) * 10 > m_slots.size() * 7)
        grow();
    size_t at = home(key);
    while (m_slots[at] != kEmpty)
        at = (at + 1) & m_mask;
    m_slots[at] = pack(key, node);
    ++m_size;
}

void DirIndex::NameTable::erase(quint64 key, quint32 node)
{
    if (m_slots.empty())
        return;
    const quint64 value = pack(key, node);
    size_t hole = home(key);
    while (m_slots[hole] != kEmpty && m_slots[hole] != value)
        hole = (hole + 1) & m_mask;
    if (m_slots[hole] == kEmpty)
        return;
    // Backward shift: later entries of the run move up into the hole when
    // their home slot allows, so no lookup ever stops short.
    for (size_t next = (hole + 1) & m_mask; m_slots[next] != kEmpty; next = (next + 1) & m_mask) {
        const size_t wanted = home(m_slots[next] >> 32);
        const bool movable =
            hole <= next ? (wanted <= hole || wanted > next) : (wanted <= hole && wanted > next);
        if (movable) {
            m_slots[hole] = m_slots[next];
            hole = next;
        }
    }
    m_slots[hole] = kEmpty;
    --m_size;
}

template <typename F> void DirIndex::NameTable::forEach(quint64 key, F &&visit) const
{
    if (m_slots.empty())
        return;
    const quint64 key32 = key & 0xFFFFFFFFu;
    for (size_t at = home(key); m_slots[at] != kEmpty; at = (at + 1) & m_mask)
        if ((m_slots[at] >> 32) == key32)
            visit(quint32(m_slots[at]));
}

void DirIndex::NameTable::clear()
{
    m_slots = {};
    m_mask = 0;
    m_size = 0;
}

bool DirIndex::isRemote(int fd, dev_t device)
{
    const auto known = m_remoteDevices.find(device);
    if (known != m_remoteDevices.end())
        return known->second;
    const bool remote = isRemoteFileSystem(fd);
    m_remoteDevices.emplace(device, remote);
    return remote;
}

void DirIndex::indexEntries(quint32 id, bool add)
{
    const Node &node = m_nodes[id];
    for (const Entry &entry : node.entries) {
        if (add)
            m_names.insert(node.keyOf(entry), id);
        else
            m_names.erase(node.keyOf(entry), id);
    }
    const qsizetype count = qsizetype(m_nodes[id].entries.size());
    m_entryCount += add ? count : -count;
}

void DirIndex::dropNode(quint32 id)
{
    // Children first, so the counters of this node end up holding its own
    // share only.
    for (size_t i = 0; i < m_nodes[id].entries.size(); ++i) {
        const quint32 child = m_nodes[id].entries[i].child;
        if (child != kNone) {
            m_nodes[id].entries[i].child = kNone;
            dropNode(child);
        }
    }
    indexEntries(id, false);
    setWatch(id, -1);
    Node &node = m_nodes[id];
    if (node.parent != kNone)
        adjust(node.parent, -node.pending, -node.unwatched);
    else
        m_roots.remove(node.path);
    if (const auto byPath = m_byPath.constFind(node.path); byPath != m_byPath.cend() && byPath.value() == id)
        m_byPath.erase(byPath);
    node = Node{};
    node.state = State::Dead;
    m_free.push_back(id);
}

void DirIndex::read(quint32 id)
{
    ++m_readCount;
    const QByteArray path = m_nodes[id].path;
    indexEntries(id, false);
    std::vector<Entry> old = std::move(m_nodes[id].entries);
    const std::string oldNames = std::move(m_nodes[id].names);
    m_nodes[id].entries.clear();
    m_nodes[id].names.clear();

    const posix::UniqueFd folder(
        ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    const int fd = folder.get();
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        // Unreadable (or gone): an empty listing, checked by stat() before
        // each use so that a change of permissions is noticed.
        for (Entry &entry : old)
            if (entry.child != kNone)
                dropNode(entry.child);
        setWatch(id, -1);
        Node &node = m_nodes[id];
        struct stat lst;
        if (::lstat(path.constData(), &lst) == 0) {
            node.device = lst.st_dev;
            node.inode = lst.st_ino;
            node.mtimeNs = timespecNs(lst.st_mtim);
            node.ctimeNs = timespecNs(lst.st_ctim);
            node.readAtNs = wallClockNs();
        } else {
            node.device = 0;
            node.inode = 0;
            node.mtimeNs = node.ctimeNs = 0;
        }
        setState(id, State::Fresh);
        return;
    }

    // A folder on another device, or one that repeats a folder above it (a
    // bind mount loop), is not entered from its parent.
    bool foreign = false;
    if (m_nodes[id].parent != kNone) {
        if (st.st_dev != m_nodes[m_nodes[id].parent].device)
            foreign = true;
        for (quint32 up = m_nodes[id].parent; up != kNone && !foreign; up = m_nodes[up].parent)
            if (m_nodes[up].device == st.st_dev && m_nodes[up].inode == st.st_ino)
                foreign = true;
    }
    if (foreign) {
        for (Entry &entry : old)
            if (entry.child != kNone)
                dropNode(entry.child);
        setWatch(id, -1);
        m_nodes[id].device = st.st_dev;
        m_nodes[id].inode = st.st_ino;
        setState(id, State::Foreign);
        return;
    }

    // Watch first, then read: a change after this point is reported. The
    // times taken above come from before the read as well, which is what
    // the check of an unwatched folder needs.
    int watch = -1;
    if (m_inotify >= 0 && qint64(m_watches.size()) < m_watchLimit && !isRemote(fd, st.st_dev)) {
        char self[64];
        std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
        watch = ::inotify_add_watch(m_inotify, self, kWatchMask);
        if (watch < 0 && errno == ENOENT)
            watch = ::inotify_add_watch(m_inotify, path.constData(), kWatchMask | IN_DONT_FOLLOW);
    }
    setWatch(id, watch < 0 ? -1 : watch);

    const qint64 readAt = wallClockNs();
    std::vector<Entry> entries;
    entries.reserve(old.size());
    std::string names;
    names.reserve(oldNames.size());
    if (m_buffer.empty())
        m_buffer.resize(64 * 1024);
    for (;;) {
        const ssize_t got = ::getdents64(fd, m_buffer.data(), m_buffer.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        for (ssize_t at = 0; at < got;) {
            const auto *d = reinterpret_cast<const dirent64 *>(m_buffer.data() + at);
            at += d->d_reclen;
            const char *name = d->d_name;
            if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
                continue;
            const size_t length = std::strlen(name);
            if (!WinPath::isRepresentable(QByteArray::fromRawData(name, qsizetype(length))))
                continue;
            Entry entry;
            entry.nameAt = quint32(names.size());
            entry.nameSize = quint16(length);
            names.append(name, length);
            if (!isAscii(name, length)) {
                const std::string folded = foldName(name, length);
                entry.foldedSize = quint16(folded.size());
                names.append(folded);
            }
            entry.inode = d->d_ino;
            unsigned char type = d->d_type;
            if (type == DT_UNKNOWN) {
                struct stat est;
                if (::fstatat(fd, name, &est, AT_SYMLINK_NOFOLLOW) == 0)
                    type = S_ISDIR(est.st_mode)   ? DT_DIR
                           : S_ISREG(est.st_mode) ? DT_REG
                           : S_ISLNK(est.st_mode) ? DT_LNK
                                                  : DT_UNKNOWN;
            }
            entry.kind = type == DT_REG   ? Kind::File
                         : type == DT_DIR ? Kind::Folder
                         : type == DT_LNK ? Kind::SymLink
                                          : Kind::Other;
            entries.push_back(entry);
        }
    }

    // Sub-folders that are still the same folder keep their nodes (and
    // what was read below them); the others are forgotten.
    std::unordered_map<std::string_view, std::pair<ino_t, quint32>> oldFolders;
    for (const Entry &entry : old)
        if (entry.child != kNone)
            oldFolders.emplace(std::string_view(oldNames.data() + entry.nameAt, entry.nameSize),
                               std::make_pair(entry.inode, entry.child));
    for (Entry &entry : entries) {
        if (entry.kind != Kind::Folder || oldFolders.empty())
            continue;
        auto it = oldFolders.find(std::string_view(names.data() + entry.nameAt, entry.nameSize));
        if (it != oldFolders.end() && it->second.first == entry.inode) {
            entry.child = it->second.second;
            oldFolders.erase(it);
        }
    }
    for (auto &[name, child] : oldFolders)
        dropNode(child.second);
    for (Entry &entry : entries)
        if (entry.kind == Kind::Folder && entry.child == kNone)
            entry.child =
                newNode(joinPath(path, std::string_view(names.data() + entry.nameAt, entry.nameSize)), id);

    Node &node = m_nodes[id];
    // A drive's worth of listings is kept: no room to spare in each.
    entries.shrink_to_fit();
    names.shrink_to_fit();
    node.entries = std::move(entries);
    node.names = std::move(names);
    node.device = st.st_dev;
    node.inode = st.st_ino;
    node.mtimeNs = timespecNs(st.st_mtim);
    node.ctimeNs = timespecNs(st.st_ctim);
    node.readAtNs = readAt;
    node.checkedEpoch = m_epoch;
    indexEntries(id, true);
    setState(id, State::Fresh);
}

bool DirIndex::stillCurrent(quint32 id)
{
    const Node &node = m_nodes[id];
    struct stat st;
    if (::lstat(node.path.constData(), &st) != 0)
        return node.inode == 0;
    if (st.st_dev != node.device || st.st_ino != node.inode || timespecNs(st.st_mtim) != node.mtimeNs ||
        timespecNs(st.st_ctim) != node.ctimeNs)
        return false;
    // File systems stamp times with a coarse clock: a folder changed within
    // the same tick as it was read shows no new time. A listing read that
    // close to its folder's last change is read again until it is older.
    return std::max(node.mtimeNs, node.ctimeNs) < node.readAtNs - kRacyMarginNs;
}

void DirIndex::drainNotifications()
{
    if (m_inotify < 0)
        return;
    alignas(inotify_event) char buffer[16384];
    for (;;) {
        const ssize_t n = ::read(m_inotify, buffer, sizeof buffer);
        if (n <= 0) {
            if (n < 0 && errno == EINTR)
                continue;
            return;
        }
        for (ssize_t at = 0; at + ssize_t(sizeof(inotify_event)) <= n;) {
            inotify_event event;
            std::memcpy(&event, buffer + at, sizeof event);
            at += ssize_t(sizeof(inotify_event)) + event.len;
            if (event.mask & IN_Q_OVERFLOW) {
                // Events were lost: nothing read so far can be trusted.
                for (quint32 id = 0; id < m_nodes.size(); ++id)
                    if (m_nodes[id].state == State::Fresh)
                        setState(id, State::Stale);
                continue;
            }
            auto it = m_watches.find(event.wd);
            if (it == m_watches.end())
                continue;
            const std::vector<quint32> ids = it->second;
            if (event.mask & IN_IGNORED) {
                // The watch is gone (folder deleted, file system unmounted):
                // the kernel has already dropped it.
                m_watches.erase(it);
                for (quint32 id : ids) {
                    const bool wasFresh = m_nodes[id].state == State::Fresh;
                    if (wasFresh)
                        setState(id, State::Stale);
                    m_nodes[id].watch = -1;
                }
                continue;
            }
            for (quint32 id : ids)
                if (m_nodes[id].state == State::Fresh)
                    setState(id, State::Stale);
        }
    }
}

bool DirIndex::prepare(quint32 id, SearchBudget &budget)
{
    Node &node = m_nodes[id];
    if (node.state == State::Unread || node.state == State::Stale) {
        read(id);
        return budget.tick();
    }
    if (node.state == State::Fresh && node.watch < 0 && node.checkedEpoch != m_epoch) {
        node.checkedEpoch = m_epoch;
        if (!stillCurrent(id))
            read(id);
        return budget.tick();
    }
    return true;
}

quint32 DirIndex::rootFor(const QByteArray &folder)
{
    if (auto it = m_roots.constFind(folder); it != m_roots.cend())
        return it.value();
    const quint32 id = newNode(folder, kNone);
    m_roots.insert(folder, id);
    return id;
}

quint32 DirIndex::nodeFor(const QByteArray &folder, SearchBudget &budget)
{
    // Start at the deepest root that holds the folder; a search always
    // starts with the drive's own folder, so roots are drive folders and
    // the points where a walk would leave a file system.
    quint32 id = kNone;
    qsizetype bestLength = -1;
    for (auto it = m_roots.cbegin(); it != m_roots.cend(); ++it) {
        const QByteArray &path = it.key();
        const quint32 root = it.value();
        if (path.size() > bestLength && isPathPrefix(path, folder)) {
            id = root;
            bestLength = path.size();
        }
    }
    if (id == kNone)
        id = rootFor(folder);

    const QByteArray rest = folder.mid(m_nodes[id].path == "/" ? 1 : m_nodes[id].path.size());
    const QList<QByteArray> components = rest.split('/');
    for (qsizetype i = 0;; ++i) {
        prepare(id, budget);
        if (m_nodes[id].state == State::Foreign) {
            id = rootFor(m_nodes[id].path);
            prepare(id, budget);
        }
        while (i < components.size() && components[i].isEmpty())
            ++i;
        if (i >= components.size())
            return id;
        quint32 next = kNone;
        const std::string_view wanted(components[i].constData(), size_t(components[i].size()));
        for (const Entry &entry : m_nodes[id].entries) {
            if (entry.child != kNone && m_nodes[id].nameOf(entry) == wanted) {
                next = entry.child;
                break;
            }
        }
        if (next == kNone)
            return kNone;
        id = next;
    }
}

bool DirIndex::isBelow(quint32 id, quint32 ancestor, int &depth) const
{
    depth = 0;
    for (quint32 n = id; n != kNone; n = m_nodes[n].parent, ++depth)
        if (n == ancestor)
            return true;
    return false;
}

void DirIndex::beginSearch()
{
    ++m_epoch;
    drainNotifications();
}

bool DirIndex::complete(const QByteArray &folder, SearchBudget &budget)
{
    drainNotifications();
    const quint32 root = nodeFor(folder, budget);
    if (root == kNone)
        return !budget.expired();
    std::vector<quint32> stack;
    for (int pass = 1;; ++pass) {
        stack.assign(1, root);
        while (!stack.empty()) {
            const quint32 id = stack.back();
            stack.pop_back();
            if (m_nodes[id].state == State::Dead || (m_nodes[id].pending == 0 && m_nodes[id].unwatched == 0))
                continue;
            if (!prepare(id, budget))
                return false;
            if (m_nodes[id].state != State::Fresh)
                continue;
            for (const Entry &entry : m_nodes[id].entries) {
                if (entry.child == kNone)
                    continue;
                const Node &child = m_nodes[entry.child];
                if (child.pending > 0 || child.unwatched > 0)
                    stack.push_back(entry.child);
            }
        }
        // What changed while we read (or while the progress hook ran) is
        // read again before the tree counts as complete. A folder that
        // changes all the time (a cache being filled) is taken as last read
        // after a few rounds: nothing fresher can be had.
        drainNotifications();
        if (m_nodes[root].state == State::Dead || m_nodes[root].pending == 0 || pass >= 3)
            return true;
        if (budget.expired())
            return false;
    }
}

void DirIndex::find(const std::string &foldedName, const QByteArray &folder, std::vector<Hit> &hits)
{
    std::vector<quint32> nodes;
    m_names.forEach(nameKey(foldedName), [&](quint32 node) { nodes.push_back(node); });
    if (nodes.empty())
        return;
    // The folder's node, without reading anything.
    quint32 under = kNone;
    qsizetype bestLength = -1;
    for (auto it = m_roots.cbegin(); it != m_roots.cend(); ++it) {
        const QByteArray &path = it.key();
        const quint32 root = it.value();
        if (path.size() > bestLength && isPathPrefix(path, folder)) {
            under = root;
            bestLength = path.size();
        }
    }
    if (under == kNone)
        return;
    const QByteArray rest = folder.mid(m_nodes[under].path == "/" ? 1 : m_nodes[under].path.size());
    for (const QByteArray &component : rest.split('/')) {
        if (component.isEmpty())
            continue;
        const std::string_view name(component.constData(), size_t(component.size()));
        quint32 next = kNone;
        for (const Entry &entry : m_nodes[under].entries)
            if (entry.child != kNone && m_nodes[under].nameOf(entry) == name)
                next = entry.child;
        if (next == kNone)
            return;
        under = next;
    }
    if (m_nodes[under].state == State::Foreign) {
        auto root = m_roots.constFind(m_nodes[under].path);
        if (root == m_roots.cend())
            return;
        under = root.value();
    }

    std::sort(nodes.begin(), nodes.end());
    nodes.erase(std::unique(nodes.begin(), nodes.end()), nodes.end());
    for (quint32 id : nodes) {
        int depth = 0;
        if (!isBelow(id, under, depth))
            continue;
        const Node &node = m_nodes[id];
        for (const Entry &entry : node.entries)
            if (node.foldsTo(entry, foldedName))
                hits.push_back(Hit{joinPath(node.path, node.nameOf(entry)), entry.kind, depth});
    }
}

bool DirIndex::currentListing(const QByteArray &folder, FileIdentity &identity,
                              std::vector<FolderListingSource::Entry> &entries)
{
    if (m_inotify < 0 || m_byPath.isEmpty())
        return false;
    drainNotifications();
    const auto found = m_byPath.constFind(folder);
    if (found == m_byPath.cend())
        return false;
    const Node &node = m_nodes[found.value()];
    if (node.state != State::Fresh || node.watch < 0)
        return false;
    identity = FileIdentity{node.device, node.inode};
    entries.clear();
    entries.reserve(node.entries.size());
    for (const Entry &entry : node.entries) {
        FolderListingSource::Entry &out = entries.emplace_back();
        const std::string_view name = node.nameOf(entry);
        out.name = QByteArray(name.data(), qsizetype(name.size()));
        switch (entry.kind) {
        case Kind::File:
            out.type = FolderListingSource::Entry::Type::File;
            break;
        case Kind::Folder:
            out.type = FolderListingSource::Entry::Type::Folder;
            break;
        case Kind::SymLink:
            out.type = FolderListingSource::Entry::Type::SymLink;
            break;
        case Kind::Other:
            out.type = FolderListingSource::Entry::Type::Other;
            break;
        }
        // A sub-folder that was opened has its own identity on record
        // (a mount point's is that of the file system mounted there).
        if (entry.child != kNone) {
            const Node &child = m_nodes[entry.child];
            if (child.state == State::Fresh || child.state == State::Stale || child.state == State::Foreign)
                out.identity = FileIdentity{child.device, child.inode};
        }
    }
    return true;
}

bool DirIndex::list(const QByteArray &folder, std::vector<std::pair<QByteArray, Kind>> &entries,
                    SearchBudget &budget)
{
    drainNotifications();
    const quint32 id = nodeFor(folder, budget);
    if (id == kNone || m_nodes[id].state != State::Fresh)
        return false;
    entries.clear();
    for (const Entry &entry : m_nodes[id].entries) {
        const std::string_view name = m_nodes[id].nameOf(entry);
        entries.emplace_back(QByteArray(name.data(), qsizetype(name.size())), entry.kind);
    }
    return true;
}
