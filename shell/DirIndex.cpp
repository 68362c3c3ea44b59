#include "shell/DirIndex.h"

#include "platform/AsciiCase.h"
#include "platform/DriveContext.h"
#include "platform/FileClock.h"
#include "platform/PosixPath.h"
#include "platform/SystemFolders.h"
#include "shell/SearchBudget.h"

#include <QElapsedTimer>
#include <QString>
#include <QThreadPool>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>
#include <unordered_map>

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

constexpr quint64 kFnvOffset = 0xcbf29ce484222325ULL;
constexpr quint64 kFnvPrime = 0x100000001b3ULL;
// A path longer than this is opened in steps.
constexpr qsizetype kLongestRelativePath = 2048;
// Folders below this depth of a tree walk are opened from the root again
// rather than kept open all the way down.
constexpr size_t kOpenLevels = 128;
// Entries looked at between two looks at the clock.
constexpr int kEntriesPerTick = 4096;

quint32 shortKey(quint64 hash)
{
    return quint32(hash >> 32) ^ quint32(hash);
}

bool isAscii(const char *name, size_t length)
{
    for (size_t i = 0; i < length; ++i)
        if (static_cast<unsigned char>(name[i]) >= 0x80)
            return false;
    return true;
}

// Opens a folder below `dirFd` by a relative path, following no symbolic
// link on the way: the index lists links but never enters them.
int openBelow(int dirFd, const char *relative)
{
    if (!std::strchr(relative, '/'))
        return ::openat(dirFd, relative, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    open_how how;
    std::memset(&how, 0, sizeof how);
    how.flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    const long fd = ::syscall(SYS_openat2, dirFd, relative, &how, sizeof how);
    if (fd >= 0 || errno != ENOSYS)
        return int(fd);
    return ::openat(dirFd, relative, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

} // namespace

DirIndex::DirIndex(std::shared_ptr<const DriveContext> drives) : m_drives(std::move(drives)) {}

DirIndex::~DirIndex() = default;

std::string DirIndex::foldName(const char *name, size_t length)
{
    if (isAscii(name, length)) {
        std::string folded(name, length);
        for (char &c : folded)
            c = AsciiCase::lower(c);
        return folded;
    }
    return posix::decodeName(name, qsizetype(length)).toCaseFolded().toUtf8().toStdString();
}

quint64 DirIndex::nameKey(std::string_view foldedName)
{
    quint64 hash = kFnvOffset;
    for (const char c : foldedName)
        hash = (hash ^ static_cast<unsigned char>(c)) * kFnvPrime;
    return hash;
}

quint32 DirIndex::keyOf(const char *name, size_t length, std::string_view folded) const
{
    if (!folded.empty())
        return shortKey(nameKey(folded));
    // A plain ASCII name folds by lowering its letters: hashed as it goes.
    quint64 hash = kFnvOffset;
    for (size_t i = 0; i < length; ++i)
        hash = (hash ^ static_cast<unsigned char>(AsciiCase::lower(name[i]))) * kFnvPrime;
    return shortKey(hash);
}

std::string_view DirIndex::nameOf(const Entry &entry) const
{
    return std::string_view(m_names.at(entry.nameAt), entry.nameSize);
}

bool DirIndex::foldsTo(const Entry &entry, std::string_view folded) const
{
    if (entry.foldedSize != 0)
        return std::string_view(m_names.at(entry.nameAt) + entry.nameSize, entry.foldedSize) == folded;
    const std::string_view name = nameOf(entry);
    if (name.size() != folded.size())
        return false;
    for (size_t i = 0; i < name.size(); ++i)
        if (AsciiCase::lower(name[i]) != folded[i])
            return false;
    return true;
}

quint32 DirIndex::ownerOf(quint32 entry) const
{
    // The last range that starts at or before the entry.
    quint32 low = 0, high = m_ranges.size();
    while (low < high) {
        const quint32 middle = low + (high - low) / 2;
        if (m_ranges[middle].first <= entry)
            low = middle + 1;
        else
            high = middle;
    }
    return low == 0 ? kNone : m_ranges[low - 1].node;
}

QByteArray DirIndex::pathOf(quint32 id) const
{
    std::vector<std::string_view> names;
    quint32 at = id;
    for (; node(at).parent != kNone; at = node(at).parent)
        names.push_back(std::string_view(m_names.at(node(at).nameAt), node(at).nameSize));
    QByteArray path;
    for (const Root &root : m_roots)
        if (root.node == at)
            path = root.path;
    for (auto it = names.rbegin(); it != names.rend(); ++it) {
        if (!path.endsWith('/'))
            path += '/';
        path.append(it->data(), qsizetype(it->size()));
    }
    return path;
}

quint32 DirIndex::newNode(quint32 parent, quint32 nameAt, quint8 nameSize, bool mayHang)
{
    Node fresh;
    fresh.parent = parent;
    fresh.nameAt = nameAt;
    fresh.nameSize = nameSize;
    fresh.state = State::Unread;
    fresh.mayHang = mayHang;
    quint32 id;
    if (!m_freeNodes.empty()) {
        id = m_freeNodes.back();
        m_freeNodes.pop_back();
        node(id) = fresh;
    } else {
        id = m_nodes.push_back(fresh);
    }
    adjustUnread(id, 1);
    return id;
}

quint32 DirIndex::rootFor(const QByteArray &folder)
{
    for (const Root &root : m_roots)
        if (root.path == folder)
            return root.node;
    const quint32 id = newNode(kNone, 0, 0, m_drives->systemFolders()->mayHangAt(folder));
    m_roots.push_back(Root{folder, id});
    return id;
}

void DirIndex::adjustUnread(quint32 id, qint64 delta)
{
    for (quint32 at = id; at != kNone; at = node(at).parent)
        node(at).unread = quint32(qint64(node(at).unread) + delta);
}

void DirIndex::setState(quint32 id, State state)
{
    const bool wasUnread = node(id).state == State::Unread;
    node(id).state = state;
    if (wasUnread != (state == State::Unread))
        adjustUnread(id, wasUnread ? -1 : 1);
}

void DirIndex::dropTree(quint32 id)
{
    if (m_recording.node != kNone) {
        // The listing being stored may belong to this tree.
        for (quint32 at = m_recording.node; at != kNone; at = node(at).parent)
            if (at == id) {
                abortRecording();
                break;
            }
    }
    if (node(id).parent != kNone)
        adjustUnread(node(id).parent, -qint64(node(id).unread));
    else
        std::erase_if(m_roots, [&](const Root &root) { return root.node == id; });
    std::vector<quint32> stack{id};
    while (!stack.empty()) {
        const quint32 at = stack.back();
        stack.pop_back();
        forgetReadAhead(at);
        Node &dropped = node(at);
        if (dropped.state == State::Fresh) {
            for (quint32 i = 0; i < dropped.count; ++i)
                if (m_entries[dropped.first + i].child != kNone)
                    stack.push_back(m_entries[dropped.first + i].child);
            m_liveEntries -= dropped.count;
            m_deadEntries += dropped.count;
        }
        dropped = Node{};
        m_freeNodes.push_back(at);
    }
}

void DirIndex::beginRecording(quint32 id, const FolderStamp &stamp)
{
    abortRecording();
    m_recording.node = id;
    m_recording.first = m_entries.size();
    m_recording.stamp = stamp;
    m_recording.view = m_drives->systemFolders();
    m_ranges.push_back(Range{m_recording.first, id});
}

void DirIndex::appendEntries(const FolderListing &listing, size_t from, size_t to)
{
    const SystemFolders &view = *m_recording.view;
    std::string block;
    // The entries are stored first, with their keys' slots in the name table
    // fetched ahead, then pushed into the table: the table is far larger
    // than the caches, and its misses overlap that way.
    const quint32 firstNew = m_entries.size();
    m_keys.clear();
    for (size_t i = from; i < to; ++i) {
        const FolderListing::Item &item = listing.items[i];
        const char *name = listing.name(item);
        Entry entry;
        entry.nameSize = item.nameSize;
        entry.bits = quint8(item.type);
        std::string folded;
        if (!isAscii(name, item.nameSize))
            folded = foldName(name, item.nameSize);
        if (folded.empty()) {
            entry.nameAt = m_names.append(name, item.nameSize);
        } else {
            block.assign(name, item.nameSize);
            block += folded;
            entry.foldedSize = quint16(folded.size());
            entry.nameAt = m_names.append(block.data(), block.size());
        }
        if (item.type == EntryType::Folder) {
            // A hidden folder holds no candidate and is never walked: it is
            // listed, not entered (a home folder linked into a prefix holds
            // the prefix itself, and caches, below such names).
            const SystemFolders::Place *place =
                view.placeAt(m_recording.stamp.identity, std::string_view(name, item.nameSize));
            if (name[0] == '.' || (place && place->system))
                entry.bits |= kSystemBit;
        }
        m_entries.push_back(entry);
        m_keys.push_back(keyOf(name, item.nameSize, folded));
        m_table.prefetch(m_keys.back());
    }
    for (size_t i = 0; i < m_keys.size(); ++i)
        m_entries[firstNew + quint32(i)].nextSame = m_table.push(m_keys[i], firstNew + quint32(i));
}

void DirIndex::finishRecording(FolderListing &listing, const AheadChildren &aheadChildren)
{
    const quint32 id = m_recording.node;
    if (listing.unshown.empty())
        m_unshown.erase(id);
    else
        m_unshown[id] = listing.unshown;
    const quint32 first = m_recording.first;
    const quint32 count = m_entries.size() - first;
    const FolderStamp stamp = m_recording.stamp;
    const std::shared_ptr<const SystemFolders> view = std::move(m_recording.view);
    m_recording = Recording{};

    // Sub-folders that are still the same folder keep their nodes, and what
    // was read below them; the others are forgotten.
    const bool wasRead = node(id).state == State::Fresh;
    const quint32 oldFirst = node(id).first, oldCount = wasRead ? node(id).count : 0;
    std::unordered_map<std::string_view, quint32> oldChildren;
    for (quint32 i = 0; i < oldCount; ++i) {
        const Entry &entry = m_entries[oldFirst + i];
        if (entry.child != kNone)
            oldChildren.emplace(nameOf(entry), entry.child);
    }
    const bool mayHang = node(id).mayHang;
    std::vector<quint32> unmatched;
    for (quint32 i = 0; i < count; ++i) {
        Entry &entry = m_entries[first + i];
        FolderListing::Item &item = listing.items[i];
        item.handle = 0;
        if (kindOf(entry) != Kind::Folder || (entry.bits & kSystemBit))
            continue;
        if (auto it = oldChildren.find(nameOf(entry)); it != oldChildren.end()) {
            const Node &old = node(it->second);
            if (old.state == State::Unread || item.inode == 0 || old.inode == item.inode) {
                entry.child = it->second;
                oldChildren.erase(it);
                continue;
            }
        }
        unmatched.push_back(i);
    }
    // A folder renamed in place is still the same folder: it keeps what was
    // read below it.
    std::unordered_map<ino_t, quint32> byInode;
    for (const auto &[name, child] : oldChildren)
        if (node(child).state != State::Unread && node(child).inode != 0)
            byInode.emplace(node(child).inode, child);
    for (const quint32 i : unmatched) {
        Entry &entry = m_entries[first + i];
        const ino_t inode = listing.items[i].inode;
        if (auto it = byInode.find(inode); inode != 0 && it != byInode.end()) {
            entry.child = it->second;
            byInode.erase(it);
            continue;
        }
        const SystemFolders::Place *place = view->placeAt(stamp.identity, nameOf(entry));
        entry.child = newNode(id, entry.nameAt, entry.nameSize, mayHang || (place && place->mayHang));
    }
    for (const auto &[name, child] : oldChildren) {
        const bool renamed = node(child).state != State::Unread && node(child).inode != 0 &&
                             !byInode.contains(node(child).inode);
        if (!renamed)
            dropTree(child);
    }
    for (quint32 i = 0; i < count; ++i) {
        const Entry &entry = m_entries[first + i];
        if (entry.child == kNone)
            continue;
        node(entry.child).nameAt = entry.nameAt;
        node(entry.child).nameSize = entry.nameSize;
        listing.items[i].handle = entry.child + 1;
    }

    Node &done = node(id);
    m_liveEntries += qint64(count) - qint64(oldCount);
    m_deadEntries += oldCount;
    done.first = first;
    done.count = count;
    done.device = stamp.identity.device;
    done.inode = stamp.identity.inode;
    done.mtimeNs = stamp.mtimeNs;
    done.ctimeNs = stamp.ctimeNs;
    done.readAtNs = stamp.readAtNs;
    done.walk = m_walk;
    setState(id, State::Fresh);
    if (m_ahead) {
        // The sub-folders the workers went on to come back under their keys;
        // the others are asked for.
        for (const auto &[item, key] : aheadChildren) {
            const quint32 handle = item < listing.items.size() ? listing.items[item].handle : 0;
            if (handle == 0 || node(handle - 1).state != State::Unread || m_aheadKeys.contains(handle - 1)) {
                m_ahead->drop({{item, key}});
                continue;
            }
            m_aheadKeys[handle - 1] = key;
            m_aheadNodes[key] = handle - 1;
        }
        readAhead(id);
    }
}

void DirIndex::abortRecording()
{
    if (m_recording.node == kNone)
        return;
    m_deadEntries += m_entries.size() - m_recording.first;
    m_recording = Recording{};
}

void DirIndex::markUnreadable(quint32 id)
{
    forgetReadAhead(id);
    Node &gone = node(id);
    if (gone.state == State::Fresh) {
        for (quint32 i = 0; i < gone.count; ++i) {
            Entry &entry = m_entries[gone.first + i];
            if (entry.child != kNone) {
                dropTree(entry.child);
                entry.child = kNone;
            }
        }
        m_liveEntries -= gone.count;
        m_deadEntries += gone.count;
    }
    node(id).count = 0;
    setState(id, State::Unreadable);
}

int DirIndex::openNode(quint32 id) const
{
    if (node(id).parent == kNone) {
        for (const Root &root : m_roots)
            if (root.node == id)
                return ::open(root.path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        return -1;
    }
    // The names from the nearest folder that can be opened in one go.
    std::vector<quint32> chain;
    qsizetype length = 0;
    quint32 base = id;
    while (node(base).parent != kNone && (chain.empty() || length < kLongestRelativePath)) {
        chain.push_back(base);
        length += node(base).nameSize + 1;
        base = node(base).parent;
    }
    QByteArray relative;
    relative.reserve(length);
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        if (!relative.isEmpty())
            relative += '/';
        relative.append(m_names.at(node(*it).nameAt), node(*it).nameSize);
    }
    const posix::UniqueFd from(openNode(base));
    if (!from.isValid())
        return -1;
    return openBelow(from.get(), relative.constData());
}

bool DirIndex::repeatsAncestor(quint32 id, const struct stat &st) const
{
    for (quint32 up = node(id).parent; up != kNone; up = node(up).parent)
        if (node(up).device == st.st_dev && node(up).inode == st.st_ino)
            return true;
    return false;
}

bool DirIndex::readNode(quint32 id, int fd, SearchBudget *budget)
{
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0 || repeatsAncestor(id, st)) {
        markUnreadable(id);
        return true;
    }
    ++m_readCount;
    m_scratch.clear();
    beginRecording(id, FolderStamp::of(st, wallClockNs()));
    m_scratch.stamp = m_recording.stamp;
    // Piece by piece, so a large folder leaves room for the budget's hook.
    for (;;) {
        const size_t from = m_scratch.items.size();
        if (!m_reader.readPiece(fd, m_scratch)) {
            if (m_reader.error() != 0) {
                // Half a folder is not the folder: no candidate is taken
                // from it, nor is it handed to the walk.
                abortRecording();
                markUnreadable(id);
                return true;
            }
            break;
        }
        appendEntries(m_scratch, from, m_scratch.items.size());
        if (budget && !budget->tick()) {
            abortRecording();
            return false;
        }
    }
    finishRecording(m_scratch);
    if (budget)
        budget->progressed();
    if (m_scratch.names.capacity() > (1 << 20)) {
        m_scratch = FolderListing{};
        m_scratch.items.shrink_to_fit();
    }
    return true;
}

QByteArray DirIndex::hangPlaceOf(const QByteArray &path) const
{
    // The mount point that may not answer, by which a call that hangs is
    // known (the path itself for a place the mount table does not name).
    const QByteArray *point = m_drives->systemFolders()->hangPointOf(path);
    return point ? *point : path;
}

bool DirIndex::readSlowNode(quint32 id, int parentFd, SearchBudget &budget, int *fdOut)
{
    // Relative to the folder above when that is open; by the full path
    // otherwise (opening the folder above here could hang just the same).
    const QByteArray path = pathOf(id);
    auto base = std::make_shared<posix::UniqueFd>(parentFd >= 0 ? ::fcntl(parentFd, F_DUPFD_CLOEXEC, 0) : -1);
    const QByteArray name = base->isValid() ? posix::baseName(path) : path;
    const QByteArray place = hangPlaceOf(path);
    const bool wanted = node(id).state == State::Unread;
    // Waited for while it answers (and the search goes on): a slow share
    // is read however long it takes, a place that stopped answering is not.
    std::optional<FolderOpenedAside> found = openFolderAside(
        base, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC, wanted, place,
        [&] {
            budget.progressed(); // waiting for an answer that comes is no search running out
            return budget.tick();
        },
        m_drives->noAnswer());
    if (!found || found->error != 0 || (wanted && repeatsAncestor(id, found->st))) {
        // No answer, or none at all: passed over for this scan.
        if (node(id).state == State::Unread || wanted)
            markUnreadable(id);
        return !budget.expired();
    }
    if (wanted) {
        ++m_readCount;
        m_scratch = std::move(found->listing);
        beginRecording(id, m_scratch.stamp);
        for (size_t from = 0; from < m_scratch.items.size(); from += kEntriesPerTick) {
            appendEntries(m_scratch, from, std::min(m_scratch.items.size(), from + kEntriesPerTick));
            if (!budget.tick()) {
                abortRecording();
                m_scratch = FolderListing{};
                return false;
            }
        }
        finishRecording(m_scratch);
        m_scratch = FolderListing{};
    }
    if (fdOut)
        *fdOut = found->fd.release();
    return true;
}

quint32 DirIndex::childNamed(quint32 id, std::string_view name) const
{
    const Node &parent = node(id);
    if (parent.state != State::Fresh)
        return kNone;
    for (quint32 i = 0; i < parent.count; ++i) {
        const Entry &entry = m_entries[parent.first + i];
        if (entry.child != kNone && nameOf(entry) == name)
            return entry.child;
    }
    return kNone;
}

quint32 DirIndex::deepestRoot(const QByteArray &folder, qsizetype &pathLength) const
{
    quint32 id = kNone;
    pathLength = -1;
    for (const Root &root : m_roots) {
        if (root.path.size() > pathLength && posix::isWithin(root.path, folder)) {
            id = root.node;
            pathLength = root.path.size();
        }
    }
    return id;
}

quint32 DirIndex::existingNodeFor(const QByteArray &folder) const
{
    qsizetype rootLength = 0;
    quint32 id = deepestRoot(folder, rootLength);
    if (id == kNone)
        return kNone;
    const QByteArray rest = folder.mid(rootLength);
    for (const QByteArray &component : rest.split('/')) {
        if (component.isEmpty())
            continue;
        id = childNamed(id, std::string_view(component.constData(), size_t(component.size())));
        if (id == kNone)
            return kNone;
    }
    return id;
}

quint32 DirIndex::nodeFor(const QByteArray &folder, SearchBudget &budget)
{
    // Start at the deepest root that holds the folder; a search always
    // registers its drive's folder first.
    qsizetype bestLength = 0;
    quint32 id = deepestRoot(folder, bestLength);
    if (id == kNone) {
        id = rootFor(folder);
        bestLength = folder.size();
    }
    const QList<QByteArray> components = folder.mid(bestLength).split('/');
    qsizetype i = 0;
    for (;;) {
        if (node(id).state == State::Unread) {
            if (node(id).mayHang) {
                if (!readSlowNode(id, -1, budget, nullptr))
                    return kNone;
            } else {
                const posix::UniqueFd fd(openNode(id));
                if (!readNode(id, fd.get(), &budget))
                    return kNone;
            }
        }
        while (i < components.size() && components[i].isEmpty())
            ++i;
        if (i >= components.size())
            return node(id).state == State::Fresh ? id : kNone;
        id = childNamed(id, std::string_view(components[i].constData(), size_t(components[i].size())));
        if (id == kNone)
            return kNone;
        ++i;
    }
}

bool DirIndex::isBelow(quint32 id, quint32 ancestor, int &depth) const
{
    depth = 0;
    for (quint32 at = id; at != kNone; at = node(at).parent, ++depth)
        if (at == ancestor)
            return true;
    return false;
}

bool DirIndex::complete(const QByteArray &folder, SearchBudget &budget)
{
    compactIfWasteful(budget);
    const quint32 top = nodeFor(folder, budget);
    if (top == kNone)
        return !budget.expired();
    if (node(top).unread == 0)
        return true;
    // What the workers read ahead first; whatever they do not have (a tree
    // outside the walk's), the usual way.
    if (!completeAhead(top, budget))
        return false;
    if (node(top).unread == 0)
        return true;

    // Depth first, each folder opened relative to the one above, which
    // stays open while the tree below it is read.
    struct Frame
    {
        quint32 id;
        posix::UniqueFd fd;
        quint32 cursor = 0;
    };
    std::vector<Frame> frames;
    frames.push_back(Frame{top, posix::UniqueFd(node(top).mayHang ? -1 : openNode(top))});
    int looked = 0;
    while (!frames.empty()) {
        const quint32 id = frames.back().id;
        const Node &here = node(id);
        if (here.state != State::Fresh || here.unread == 0 || frames.back().cursor >= here.count) {
            frames.pop_back();
            continue;
        }
        const Entry &entry = m_entries[here.first + frames.back().cursor++];
        if (++looked % kEntriesPerTick == 0 && !budget.tick())
            return false;
        const quint32 child = entry.child;
        if (child == kNone || node(child).unread == 0)
            continue;

        const int parentFd = frames.back().fd.get();
        posix::UniqueFd childFd;
        if (node(child).mayHang) {
            int opened = -1;
            if (!readSlowNode(child, parentFd, budget, &opened))
                return false;
            childFd.reset(opened);
        } else {
            if (parentFd >= 0) {
                const std::string_view name = nameOf(entry);
                childFd.reset(openBelow(parentFd, std::string(name).c_str()));
            } else {
                childFd.reset(openNode(child));
            }
            if (node(child).state == State::Unread) {
                if (!readNode(child, childFd.get(), &budget) || !budget.tick())
                    return false;
            }
        }
        if (node(child).state == State::Fresh && node(child).unread > 0) {
            if (frames.size() >= kOpenLevels)
                childFd.reset();
            frames.push_back(Frame{child, std::move(childFd)});
        }
    }
    return true;
}

void DirIndex::find(const std::string &foldedName, const QByteArray &folder, std::vector<Hit> &hits,
                    SearchBudget *budget)
{
    const quint32 under = existingNodeFor(folder);
    if (under == kNone)
        return;
    const size_t found = hits.size();
    const quint32 key = shortKey(nameKey(foldedName));
    int looked = 0;
    for (quint32 at = m_table.head(key); at != kNone; at = m_entries[at].nextSame) {
        if (budget && ++looked % kEntriesPerTick == 0 && !budget->tick()) {
            hits.resize(found);
            return;
        }
        const Entry &entry = m_entries[at];
        if (!foldsTo(entry, foldedName))
            continue;
        const quint32 owner = ownerOf(at);
        if (owner == kNone)
            continue;
        const Node &holder = node(owner);
        if (holder.state != State::Fresh || at < holder.first || at >= holder.first + holder.count)
            continue; // a listing read again since, or forgotten
        int depth = 0;
        if (!isBelow(owner, under, depth))
            continue;
        QByteArray path = pathOf(owner);
        if (!path.endsWith('/'))
            path += '/';
        const std::string_view name = nameOf(entry);
        path.append(name.data(), qsizetype(name.size()));
        hits.push_back(Hit{std::move(path), kindOf(entry), depth});
    }
}

bool DirIndex::list(const QByteArray &folder, std::vector<std::pair<QByteArray, Kind>> &entries,
                    SearchBudget &budget)
{
    compactIfWasteful(budget);
    const quint32 id = nodeFor(folder, budget);
    if (id == kNone)
        return false;
    // The one folder a search uses for itself: checked, and read again when
    // it changed since it was read.
    if (!node(id).mayHang) {
        const posix::UniqueFd fd(openNode(id));
        struct stat now;
        if (!fd.isValid() || ::fstat(fd.get(), &now) != 0) {
            markUnreadable(id);
        } else {
            const Node &known = node(id);
            FolderStamp stamp;
            stamp.identity = FileIdentity{known.device, known.inode};
            stamp.mtimeNs = known.mtimeNs;
            stamp.ctimeNs = known.ctimeNs;
            stamp.readAtNs = known.readAtNs;
            if (!stamp.vouchesFor(now) && !readNode(id, fd.get(), &budget))
                return false;
        }
    }
    const Node &listed = node(id);
    if (listed.state != State::Fresh)
        return false;
    entries.clear();
    entries.reserve(listed.count);
    for (quint32 i = 0; i < listed.count; ++i) {
        const Entry &entry = m_entries[listed.first + i];
        const std::string_view name = nameOf(entry);
        entries.emplace_back(QByteArray(name.data(), qsizetype(name.size())), kindOf(entry));
    }
    return true;
}

quint32 DirIndex::startFolder(const QByteArray &posixFolder, const FileIdentity &identity)
{
    // A new walk. Once the count comes round, no listing kept from before
    // may pass for one of the new walk's.
    if (++m_walk == 0) {
        for (quint32 id = 0; id < m_nodes.size(); ++id)
            node(id).walk = 0;
        m_walk = 1;
    }
    for (const Root &root : m_roots) {
        const Node &known = node(root.node);
        if (root.path == posixFolder ||
            (known.inode != 0 && FileIdentity{known.device, known.inode} == identity)) {
            startReadAhead(root.node);
            return root.node + 1;
        }
    }
    const QByteArray canonical = posix::realPath(posixFolder).value_or(posixFolder);
    const quint32 known = existingNodeFor(canonical);
    const quint32 top = known != kNone && (node(known).state == State::Unread ||
                                           FileIdentity{node(known).device, node(known).inode} == identity)
                            ? known
                            : rootFor(canonical);
    startReadAhead(top);
    return top + 1;
}

bool DirIndex::listing(quint32 handle, FolderListing &out)
{
    if (handle == 0 || handle > m_nodes.size())
        return false;
    if (m_ahead && m_recording.node == kNone) {
        // Reads that came meanwhile go in (a few: the walk goes on), and a
        // folder a worker has is waited for rather than read again.
        storeReads(16, nullptr);
        if (node(handle - 1).state == State::Unread)
            waitForRead(handle - 1);
    }
    const Node &known = node(handle - 1);
    if (known.state != State::Fresh)
        return false;
    out.clear();
    out.stamp.identity = FileIdentity{known.device, known.inode};
    out.stamp.mtimeNs = known.mtimeNs;
    out.stamp.ctimeNs = known.ctimeNs;
    out.stamp.readAtNs = known.readAtNs;
    out.current = m_walk != 0 && known.walk == m_walk;
    if (const auto unshown = m_unshown.find(handle - 1); unshown != m_unshown.end())
        out.unshown = unshown->second;
    out.items.resize(known.count);
    size_t bytes = 0;
    for (quint32 i = 0; i < known.count; ++i)
        bytes += m_entries[known.first + i].nameSize + 1;
    out.names.reserve(bytes);
    for (quint32 i = 0; i < known.count; ++i) {
        const Entry &entry = m_entries[known.first + i];
        FolderListing::Item &item = out.items[i];
        item.nameAt = quint32(out.names.size());
        item.nameSize = entry.nameSize;
        item.type = kindOf(entry);
        item.handle = entry.child == kNone ? 0 : entry.child + 1;
        out.names.append(m_names.at(entry.nameAt), entry.nameSize);
        out.names.push_back('\0');
    }
    return true;
}

void DirIndex::beginListing(quint32 handle, const FolderStamp &stamp)
{
    if (handle == 0 || handle > m_nodes.size())
        return;
    if (node(handle - 1).state == State::Dead)
        return;
    beginRecording(handle - 1, stamp);
}

void DirIndex::addEntries(quint32 handle, const FolderListing &listing, size_t from)
{
    if (handle == 0 || m_recording.node != handle - 1)
        return;
    if (m_entries.size() - m_recording.first != from) {
        abortRecording(); // a piece went missing
        return;
    }
    appendEntries(listing, from, listing.items.size());
}

bool DirIndex::endListing(quint32 handle, FolderListing &listing)
{
    if (handle == 0 || m_recording.node != handle - 1)
        return false;
    if (m_entries.size() - m_recording.first != listing.items.size()) {
        abortRecording();
        return false;
    }
    finishRecording(listing);
    return true;
}

void DirIndex::dropListing(quint32 handle)
{
    if (handle != 0 && m_recording.node == handle - 1)
        abortRecording();
}

void DirIndex::compactIfWasteful(SearchBudget &budget)
{
    // Listings read again leave their old entries behind; once those
    // outweigh the live ones, the live ones are copied into new storage.
    if (m_deadEntries < std::max<qsizetype>(m_liveEntries, 1 << 16))
        return;
    abortRecording();
    ChunkedArray<Entry, 16> entries;
    NameBytes names;
    NameTable table;
    ChunkedArray<Range, 16> ranges;
    std::vector<std::pair<quint32, quint32>> firsts;     // node, new first entry
    std::vector<std::pair<quint32, quint32>> childNames; // child node, its name's new place
    int copied = 0;
    std::string block;
    for (quint32 id = 0; id < m_nodes.size(); ++id) {
        const Node &kept = node(id);
        if (kept.state != State::Fresh)
            continue;
        firsts.emplace_back(id, entries.size());
        ranges.push_back(Range{entries.size(), id});
        for (quint32 i = 0; i < kept.count; ++i) {
            Entry entry = m_entries[kept.first + i];
            const char *name = m_names.at(entry.nameAt);
            entry.nameAt = names.append(name, size_t(entry.nameSize) + entry.foldedSize);
            const std::string_view folded(name + entry.nameSize, entry.foldedSize);
            const quint32 at = entries.push_back(entry);
            entries[at].nextSame = table.push(keyOf(name, entry.nameSize, folded), at);
            if (entry.child != kNone)
                childNames.emplace_back(entry.child, entry.nameAt);
            if (++copied % kEntriesPerTick == 0)
                budget.tick(); // the hook runs; the old storage stays whole until the swap
        }
    }
    for (const auto &[id, first] : firsts)
        node(id).first = first;
    for (const auto &[id, nameAt] : childNames)
        node(id).nameAt = nameAt;
    struct Garbage
    {
        ChunkedArray<Entry, 16> entries;
        NameBytes names;
        NameTable table;
    };
    auto garbage = std::make_shared<Garbage>();
    std::swap(garbage->entries, m_entries);
    std::swap(garbage->names, m_names);
    std::swap(garbage->table, m_table);
    std::swap(m_entries, entries);
    std::swap(m_names, names);
    std::swap(m_table, table);
    std::swap(m_ranges, ranges);
    m_deadEntries = 0;
    QThreadPool::globalInstance()->start([garbage = std::move(garbage)]() mutable { garbage.reset(); });
}

void DirIndex::startReadAhead(quint32 top)
{
    if (m_ahead && m_aheadTop == top)
        return;
    m_ahead.reset();
    m_aheadKeys.clear();
    m_aheadNodes.clear();
    m_aheadTop = kNone;
    // Opened as a place to start from only: that touches nothing behind a
    // mount point that may not answer.
    auto topFd =
        std::make_shared<posix::UniqueFd>(::open(pathOf(top).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!topFd->isValid())
        return;
    // The workers go on by themselves into the sub-folders a walk enters and
    // nothing special is mounted on; those are asked for one by one.
    auto enter = [view = m_drives->systemFolders()](const FileIdentity &parent, std::string_view name) {
        return name.front() != '.' && !view->placeAt(parent, name);
    };
    m_ahead = std::make_unique<FolderReadAhead>(std::move(topFd), int(std::thread::hardware_concurrency()),
                                                m_drives->noAnswer(), std::move(enter), m_warmer);
    m_aheadTop = top;
    if (node(top).state == State::Unread) {
        const quint64 key = ++m_aheadSerial;
        m_aheadKeys[top] = key;
        m_aheadNodes[key] = top;
        m_ahead->add(key, QByteArray());
        return;
    }
    // Listings kept from before: their unread sub-folders.
    std::vector<quint32> stack{top};
    while (!stack.empty()) {
        const quint32 id = stack.back();
        stack.pop_back();
        if (node(id).state != State::Fresh || node(id).unread == 0)
            continue;
        readAhead(id);
        for (quint32 i = 0; i < node(id).count; ++i)
            if (const quint32 child = m_entries[node(id).first + i].child; child != kNone)
                stack.push_back(child);
    }
}

void DirIndex::readAhead(quint32 id)
{
    const Node &parent = node(id);
    bool any = false;
    for (quint32 i = 0; i < parent.count && !any; ++i) {
        const quint32 child = m_entries[parent.first + i].child;
        any = child != kNone && node(child).state == State::Unread && !m_aheadKeys.contains(child);
    }
    if (!any)
        return;
    // Its path below the top; a folder outside the walk's tree is not read
    // ahead.
    std::vector<quint32> chain;
    for (quint32 at = id; at != m_aheadTop; at = node(at).parent) {
        if (node(at).parent == kNone)
            return;
        chain.push_back(at);
    }
    QByteArray below;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        below.append(m_names.at(node(*it).nameAt), node(*it).nameSize);
        below += '/';
    }
    for (quint32 i = 0; i < parent.count; ++i) {
        const Entry &entry = m_entries[parent.first + i];
        if (entry.child == kNone || node(entry.child).state != State::Unread ||
            m_aheadKeys.contains(entry.child))
            continue;
        const QByteArray place = node(entry.child).mayHang ? hangPlaceOf(pathOf(entry.child)) : QByteArray();
        const quint64 key = ++m_aheadSerial;
        m_aheadKeys[entry.child] = key;
        m_aheadNodes[key] = entry.child;
        const std::string_view name = nameOf(entry);
        m_ahead->add(key, below + QByteArray(name.data(), qsizetype(name.size())), place);
    }
}

void DirIndex::forgetReadAhead(quint32 id)
{
    if (const auto it = m_aheadKeys.find(id); it != m_aheadKeys.end()) {
        m_aheadNodes.erase(it->second);
        m_aheadKeys.erase(it);
    }
}

void DirIndex::storeRead(quint32 id, FolderReadAhead::Read &read)
{
    forgetReadAhead(id);
    if (node(id).state != State::Unread) {
        if (m_ahead)
            m_ahead->drop(read.children); // read meanwhile by the walk or a search
        return;
    }
    if (read.error != 0 || repeatsAncestor(id, read.st)) {
        markUnreadable(id);
        return;
    }
    ++m_readCount;
    beginRecording(id, read.listing.stamp);
    for (size_t from = 0; from < read.listing.items.size(); from += kEntriesPerTick)
        appendEntries(read.listing, from, std::min(read.listing.items.size(), from + kEntriesPerTick));
    finishRecording(read.listing, read.children);
}

size_t DirIndex::storeReads(size_t most, SearchBudget *budget)
{
    if (!m_ahead)
        return 0;
    m_reads.clear();
    m_ahead->takeDone(m_reads, most);
    size_t stored = 0;
    for (FolderReadAhead::Read &read : m_reads) {
        const auto it = m_aheadNodes.find(read.key);
        if (it == m_aheadNodes.end()) {
            if (m_ahead)
                m_ahead->drop(read.children); // forgotten since it was asked for
            continue;
        }
        storeRead(it->second, read);
        ++stored;
        if (budget) {
            budget->progressed();
            budget->tick();
        }
    }
    if (m_ahead)
        m_ahead->giveBack(m_reads);
    m_reads.clear();
    return stored;
}

bool DirIndex::waitForRead(quint32 id)
{
    const auto it = m_aheadKeys.find(id);
    if (it == m_aheadKeys.end() || !m_ahead)
        return false;
    std::optional<FolderReadAhead::Read> read =
        m_ahead->waitFor(it->second, m_waitHook, m_drives->noAnswer());
    if (!read) {
        forgetReadAhead(id);
        // A place that stopped answering is passed over for the rest of the
        // scan (the walk names it); a wait that was stopped leaves it unread.
        if (node(id).mayHang && !(m_waitHook && !m_waitHook()))
            markUnreadable(id);
        return false;
    }
    storeRead(id, *read);
    if (m_ahead) {
        std::vector<FolderReadAhead::Read> used;
        used.push_back(std::move(*read));
        m_ahead->giveBack(used);
    }
    return node(id).state == State::Fresh;
}

bool DirIndex::completeAhead(quint32 top, SearchBudget &budget)
{
    while (m_ahead) {
        // A few at a time, so the budget's hook keeps its interval.
        storeReads(8, &budget);
        if (budget.expired())
            return false;
        if (node(top).unread == 0)
            return true;
        if (!m_ahead->waitAny(BoundedCall::kSlice))
            return true; // nothing more under way: the rest is read the usual way
        if (!budget.tick())
            return false;
    }
    return true;
}

qsizetype DirIndex::bytesHeld() const
{
    return qsizetype(m_entries.bytes() + m_names.bytes() + m_nodes.bytes() + m_table.bytes() +
                     m_ranges.bytes());
}

void DirIndex::clear()
{
    // A drive's worth of listings takes a while to give back: that happens
    // on a worker thread, so that the caller (the window, at the end of a
    // scan) goes on at once.
    struct Garbage
    {
        ChunkedArray<Entry, 16> entries;
        NameBytes names;
        ChunkedArray<Node, 14> nodes;
        NameTable table;
        std::vector<quint32> freeNodes;
        ChunkedArray<Range, 16> ranges;
        std::vector<Root> roots;
        FolderListing scratch;
    };
    auto garbage = std::make_shared<Garbage>();
    std::swap(garbage->entries, m_entries);
    std::swap(garbage->names, m_names);
    std::swap(garbage->nodes, m_nodes);
    std::swap(garbage->table, m_table);
    std::swap(garbage->freeNodes, m_freeNodes);
    std::swap(garbage->ranges, m_ranges);
    std::swap(garbage->roots, m_roots);
    std::swap(garbage->scratch, m_scratch);
    m_recording = Recording{};
    m_ahead.reset();
    m_aheadTop = kNone;
    m_aheadKeys.clear();
    m_aheadNodes.clear();
    m_unshown.clear();
    m_liveEntries = 0;
    m_deadEntries = 0;
    QThreadPool::globalInstance()->start([garbage = std::move(garbage)]() mutable { garbage.reset(); });
}
