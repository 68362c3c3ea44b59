#include "platform/FolderSearch.h"

#include "platform/DriveMap.h"
#include "platform/FileClock.h"
#include "platform/MountTable.h"
#include "platform/PosixPath.h"
#include "platform/WinPath.h"

#include <QElapsedTimer>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace {

// What makes a folder a system folder: the devices of pseudo file systems
// and the root folders of the drives. Rebuilt when the drive map is replaced
// or the kernel reports a mount or unmount.
struct SystemView
{
    quint64 generation = 0;
    std::shared_ptr<const MountTable> mounts;
    std::vector<dev_t> pseudoDevices; // sorted
    std::vector<FileIdentity> driveRoots;

    bool isPseudo(const struct stat &st) const
    {
        return std::binary_search(pseudoDevices.begin(), pseudoDevices.end(), st.st_dev);
    }
    bool isDriveRoot(const struct stat &st) const
    {
        const FileIdentity identity{st.st_dev, st.st_ino};
        return std::find(driveRoots.begin(), driveRoots.end(), identity) != driveRoots.end();
    }
};

std::shared_ptr<const SystemView> systemView()
{
    static std::mutex mutex;
    static std::shared_ptr<const SystemView> cached;
    static QElapsedTimer sinceMountsLooked;

    // Whether the mounts changed takes a system call; a walk opens folders
    // far faster than mounts come and go, so that is asked at most every
    // few milliseconds. A replaced drive map is always seen at once.
    constexpr qint64 kMountLookIntervalMs = 10;
    const quint64 generation = DriveMap::currentGeneration();
    {
        const std::lock_guard lock(mutex);
        if (cached && cached->generation == generation && sinceMountsLooked.isValid() &&
            sinceMountsLooked.elapsed() < kMountLookIntervalMs)
            return cached;
    }
    std::shared_ptr<const MountTable> mounts = MountTable::systemShared();
    const std::lock_guard lock(mutex);
    sinceMountsLooked.start();
    if (cached && cached->generation == generation && cached->mounts == mounts)
        return cached;

    auto view = std::make_shared<SystemView>();
    view->generation = generation;
    view->mounts = mounts;
    for (const MountEntry &mount : mounts->entries()) {
        if (MountTable::isPseudoFileSystem(mount.fsType))
            view->pseudoDevices.push_back(mount.device);
    }
    std::sort(view->pseudoDevices.begin(), view->pseudoDevices.end());
    const DriveMap &map = DriveMap::current();
    for (QChar letter : map.letters()) {
        if (std::optional<FileIdentity> identity = identityOf(*map.folder(letter)))
            view->driveRoots.push_back(*identity);
    }
    cached = std::move(view);
    return cached;
}

// '*' any run of characters, '?' exactly one; both sides already folded.
template <typename Char>
bool wildcardMatch(const Char *name, qsizetype nameLength, const char32_t *pattern, qsizetype patternLength)
{
    qsizetype n = 0, p = 0;
    qsizetype starPattern = -1, starName = 0;
    while (n < nameLength) {
        if (p < patternLength && pattern[p] == U'*') {
            starPattern = ++p;
            starName = n;
        } else if (p < patternLength && (pattern[p] == U'?' || pattern[p] == char32_t(name[n]))) {
            ++p;
            ++n;
        } else if (starPattern >= 0) {
            p = starPattern;
            n = ++starName;
        } else {
            return false;
        }
    }
    while (p < patternLength && pattern[p] == U'*')
        ++p;
    return p == patternLength;
}

// As on Windows, a pattern ending in ".*" also matches the names without
// that extension, so "*.*" matches every name.
template <typename Char>
bool matchesFolded(const Char *name, qsizetype nameLength, const std::u32string &pattern)
{
    const qsizetype size = qsizetype(pattern.size());
    if (wildcardMatch(name, nameLength, pattern.data(), size))
        return true;
    return size >= 2 && pattern[size - 2] == U'.' && pattern[size - 1] == U'*' &&
           wildcardMatch(name, nameLength, pattern.data(), size - 2);
}

std::u32string foldPattern(const QString &pattern)
{
    const QList<uint> ucs4 = pattern.toCaseFolded().toUcs4();
    return std::u32string(ucs4.cbegin(), ucs4.cend());
}

bool matchesString(const QString &name, const std::u32string &foldedPattern)
{
    const QList<uint> folded = name.toCaseFolded().toUcs4();
    return matchesFolded(folded.constData(), folded.size(), foldedPattern);
}

constexpr size_t kBufferBytes = 32 * 1024;
constexpr qint64 kSettledNs = 1000000000LL;

bool isReadOnlyError(int error)
{
    return error == EACCES || error == EROFS || error == EPERM;
}

// A Windows error for what a failed system call left in errno. A missing
// entry is ERROR_FILE_NOT_FOUND here; callers that know better adjust it.
quint32 errorFromErrno(int error)
{
    switch (error) {
    case ENOENT:
        return win::ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
        return win::ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
        return win::ERROR_ACCESS_DENIED;
    case ENAMETOOLONG:
    case ELOOP:
    case EILSEQ:
    case EINVAL:
        return win::ERROR_INVALID_NAME;
    case EIO:
    case ENXIO:
    case ENODEV:
    case ENOMEDIUM:
    case ESTALE:
    case ETIMEDOUT:
    case EHOSTDOWN:
    case EHOSTUNREACH:
    case ENOTCONN:
        return win::ERROR_NOT_READY;
    default:
        return win::ERROR_ACCESS_DENIED;
    }
}

quint32 folderAttributes(const struct stat &st, const SystemView &view, bool countDriveRoots)
{
    quint32 attributes = win::FILE_ATTRIBUTE_DIRECTORY;
    if (view.isPseudo(st) || (countDriveRoots && view.isDriveRoot(st)))
        attributes |= win::FILE_ATTRIBUTE_SYSTEM;
    return attributes;
}

// Where the system calls about one entry go: relative to the open folder,
// or, for a listing that came from a FolderListingSource, by its full path.
class EntryPlace
{
public:
    EntryPlace(int folderFd, const QByteArray &folder, const char *name)
        : m_fd(folderFd), m_folder(folder), m_name(name)
    {}
    int dirFd() const { return m_fd >= 0 ? m_fd : AT_FDCWD; }
    const char *path()
    {
        if (m_fd >= 0)
            return m_name;
        if (m_full.isEmpty())
            m_full = posix::join(m_folder, QByteArray(m_name));
        return m_full.constData();
    }
    const char *name() const { return m_name; }

private:
    int m_fd;
    const QByteArray &m_folder;
    const char *m_name;
    QByteArray m_full;
};

// The bits of one folder entry. The entry type from readdir saves a system
// call for plain files; folders are looked at for the system bit (unless
// their identity is known already), links followed for the folder bit. No
// look sets off an automount: the mount point of an automounter is a system
// folder like any pseudo file system's.
quint32 entryAttributes(EntryPlace &place, unsigned char type, const FileIdentity *knownFolder,
                        const SystemView &view, bool withReadOnly, FindData::Kind &kind)
{
    quint32 attributes = 0;
    kind = FindData::Kind::Unknown;
    struct stat st;
    if (type == DT_UNKNOWN) {
        if (::fstatat(place.dirFd(), place.path(), &st, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT) == 0)
            type = IFTODT(st.st_mode);
    }
    switch (type) {
    case DT_DIR:
        kind = FindData::Kind::Other;
        attributes = win::FILE_ATTRIBUTE_DIRECTORY;
        if (knownFolder) {
            std::memset(&st, 0, sizeof st);
            st.st_dev = knownFolder->device;
            st.st_ino = knownFolder->inode;
            attributes = folderAttributes(st, view, true);
        } else if (::fstatat(place.dirFd(), place.path(), &st, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT) == 0) {
            attributes = folderAttributes(st, view, true);
        }
        break;
    case DT_LNK:
        if (::fstatat(place.dirFd(), place.path(), &st, AT_NO_AUTOMOUNT) == 0) {
            kind = S_ISREG(st.st_mode) ? FindData::Kind::RegularFile : FindData::Kind::Other;
            attributes = S_ISDIR(st.st_mode) ? folderAttributes(st, view, true) : win::FILE_ATTRIBUTE_ARCHIVE;
        } else {
            attributes = win::FILE_ATTRIBUTE_ARCHIVE;
        }
        attributes |= win::FILE_ATTRIBUTE_REPARSE_POINT;
        break;
    case DT_REG:
        kind = FindData::Kind::RegularFile;
        attributes = win::FILE_ATTRIBUTE_ARCHIVE;
        break;
    case DT_UNKNOWN:
        attributes = win::FILE_ATTRIBUTE_ARCHIVE;
        break;
    default: // FIFOs, sockets, devices: shown as files, never to be opened as one
        kind = FindData::Kind::Other;
        attributes = win::FILE_ATTRIBUTE_ARCHIVE;
        break;
    }
    if (place.name()[0] == '.')
        attributes |= win::FILE_ATTRIBUTE_HIDDEN;
    // A system folder is never entered; asking whether it is writable
    // could set off an automount.
    if (withReadOnly && !(attributes & win::FILE_ATTRIBUTE_SYSTEM) &&
        ::faccessat(place.dirFd(), place.path(), W_OK, 0) != 0 && isReadOnlyError(errno))
        attributes |= win::FILE_ATTRIBUTE_READONLY;
    return attributes;
}

unsigned char direntType(FolderListingSource::Entry::Type type)
{
    switch (type) {
    case FolderListingSource::Entry::Type::File:
        return DT_REG;
    case FolderListingSource::Entry::Type::Folder:
        return DT_DIR;
    case FolderListingSource::Entry::Type::SymLink:
        return DT_LNK;
    case FolderListingSource::Entry::Type::Other:
        break;
    }
    return DT_SOCK; // neither file nor folder: never opened
}

// The listing source of this thread, and the mounts as they were when it
// was installed.
struct ListingSourceSlot
{
    FolderListingSource *source = nullptr;
    std::shared_ptr<const MountTable> mounts;
};
thread_local ListingSourceSlot listingSource;

// One raw entry, from the folder or from a source's listing.
struct RawEntry
{
    const char *name = nullptr;
    unsigned char type = DT_UNKNOWN;
    const FileIdentity *knownFolder = nullptr;
};

} // namespace

struct FolderSearch::State
{
    QByteArray folder;
    std::u32string pattern; // case folded
    bool withReadOnly = true;
    posix::UniqueFd fd;
    bool haveOpened = false;
    struct stat opened; // the folder as it was when it was opened
    qint64 openedAtNs = 0;
    // Entries as getdents64 returned them. A folder whose entries all came
    // in the first read is read again from here when the search restarts
    // and the folder has not changed since it was opened.
    std::vector<char> buffer;
    qsizetype filled = 0, at = 0;
    int reads = 0;
    bool endSeen = false;
    // A listing a FolderListingSource gave instead of the folder.
    bool served = false;
    std::vector<FolderListingSource::Entry> listing;
    size_t listingAt = 0;
    std::shared_ptr<const SystemView> view;
    quint32 error = win::ERROR_SUCCESS;
    int dotsOffered = 0;
    qint64 yielded = 0;
    bool finished = false;

    void open(const QByteArray &posixFolder, const QString &namePattern, Attributes which)
    {
        folder = posixFolder;
        pattern = foldPattern(namePattern);
        withReadOnly = which == Attributes::All;
        if (serve())
            return;
        openFolder();
    }

    // Takes the folder's listing from this thread's listing source, when it
    // holds a current one.
    bool serve()
    {
        served = false;
        listing.clear();
        listingAt = 0;
        if (!listingSource.source || folder.isEmpty())
            return false;
        std::shared_ptr<const SystemView> current = systemView();
        FileIdentity identity;
        if (current->mounts != listingSource.mounts ||
            !listingSource.source->currentListing(folder, identity, listing)) {
            listing.clear();
            return false;
        }
        served = true;
        haveOpened = true;
        std::memset(&opened, 0, sizeof opened);
        opened.st_dev = identity.device;
        opened.st_ino = identity.inode;
        view = std::move(current);
        return true;
    }

    void openFolder()
    {
        if (!folder.isEmpty())
            fd = posix::UniqueFd(::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        else
            errno = ENOENT;
        if (!fd.isValid()) {
            const int cause = errno;
            error = cause == ENOENT ? win::ERROR_PATH_NOT_FOUND : errorFromErrno(cause);
            return;
        }
        haveOpened = ::fstat(fd.get(), &opened) == 0;
        openedAtNs = wallClockNs();
        buffer.resize(kBufferBytes);
        view = systemView();
    }

    bool isOpen() const { return served || fd.isValid(); }

    bool nextEntry(RawEntry &raw)
    {
        if (served) {
            if (listingAt >= listing.size())
                return false;
            const FolderListingSource::Entry &entry = listing[listingAt++];
            raw.name = entry.name.constData();
            raw.type = direntType(entry.type);
            raw.knownFolder =
                entry.type == FolderListingSource::Entry::Type::Folder && entry.identity.inode != 0
                    ? &entry.identity
                    : nullptr;
            return true;
        }
        const dirent64 *found = nextRaw();
        if (!found)
            return false;
        raw.name = found->d_name;
        raw.type = found->d_type;
        raw.knownFolder = nullptr;
        return true;
    }

    // The next raw entry of the folder; null at its end (or on a read error,
    // which ends a search as it ends readdir).
    const dirent64 *nextRaw()
    {
        for (;;) {
            if (at < filled) {
                const auto *entry = reinterpret_cast<const dirent64 *>(buffer.data() + at);
                at += entry->d_reclen;
                return entry;
            }
            if (endSeen)
                return nullptr;
            const ssize_t got = ::getdents64(fd.get(), buffer.data(), buffer.size());
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0) {
                endSeen = true; // what was read stays in the buffer
                return nullptr;
            }
            filled = got;
            at = 0;
            ++reads;
        }
    }

    // Whether the folder is as it was when opened, by its change and
    // modification times. Times within a second of the opening are not
    // trusted: a change in the same clock tick would leave them as they were.
    bool unchangedSinceOpened() const
    {
        struct stat now;
        if (!haveOpened || ::fstat(fd.get(), &now) != 0)
            return false;
        const qint64 mtime = timespecNs(now.st_mtim), ctime = timespecNs(now.st_ctim);
        return mtime == timespecNs(opened.st_mtim) && ctime == timespecNs(opened.st_ctim) &&
               std::max(mtime, ctime) < openedAtNs - kSettledNs;
    }

    bool matchesAscii(const char *name, qsizetype length) const
    {
        std::array<unsigned char, 256> lowered;
        if (length > qsizetype(lowered.size()))
            return matchesString(QString::fromLatin1(name, length), pattern);
        for (qsizetype i = 0; i < length; ++i) {
            const auto c = static_cast<unsigned char>(name[i]);
            lowered[i] = (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c;
        }
        return matchesFolded(lowered.data(), length, pattern);
    }
};

FolderSearch::FolderSearch(const QString &winPathAndPattern, Attributes which)
    : m_state(std::make_unique<State>())
{
    const qsizetype cut = std::max(winPathAndPattern.lastIndexOf(QLatin1Char('\\')),
                                   winPathAndPattern.lastIndexOf(QLatin1Char('/')));
    QString folderPart;
    QString pattern;
    if (cut >= 0) {
        folderPart = winPathAndPattern.left(cut + 1);
        pattern = winPathAndPattern.mid(cut + 1);
    } else if (winPathAndPattern.size() >= 2 && winPathAndPattern.at(1) == QLatin1Char(':')) {
        folderPart = winPathAndPattern.left(2);
        pattern = winPathAndPattern.mid(2);
    } else {
        m_state->error = win::ERROR_PATH_NOT_FOUND;
        return;
    }
    quint32 error = win::ERROR_SUCCESS;
    const std::optional<QByteArray> folder = WinPath::toPosix(folderPart, DriveMap::current(), &error);
    if (!folder) {
        m_state->error = error;
        return;
    }
    m_state->open(*folder, pattern, which);
}

FolderSearch::FolderSearch(const QByteArray &posixFolder, const QString &pattern, Attributes which)
    : m_state(std::make_unique<State>())
{
    m_state->open(posixFolder, pattern, which);
}

FolderSearch::~FolderSearch() = default;

bool FolderSearch::restart(const QString &pattern)
{
    State &state = *m_state;
    if (!state.isOpen())
        return false;
    if (state.served) {
        // Asked again: the listing must be current now, not when the search
        // began. Without one, the folder itself is read.
        if (!state.serve()) {
            state.openFolder();
            if (!state.fd.isValid())
                return false;
        }
    } else if (state.reads <= 1 && state.endSeen && state.unchangedSinceOpened()) {
        state.at = 0; // every entry is still in the buffer, and still so
    } else {
        ::lseek(state.fd.get(), 0, SEEK_SET);
        state.filled = state.at = 0;
        state.reads = 0;
        state.endSeen = false;
    }
    state.pattern = foldPattern(pattern);
    state.view = systemView();
    state.error = win::ERROR_SUCCESS;
    state.dotsOffered = 0;
    state.yielded = 0;
    state.finished = false;
    return true;
}

bool FolderSearch::isOpen() const
{
    return m_state->isOpen();
}

quint32 FolderSearch::error() const
{
    return m_state->error;
}

bool FolderSearch::next(FindData &entry)
{
    State &state = *m_state;
    if (!state.isOpen() || state.finished)
        return false;
    const int folder = state.served ? -1 : state.fd.get();

    // "." and ".." first, as Windows yields them.
    while (state.dotsOffered < 2) {
        const char *name = state.dotsOffered == 0 ? "." : "..";
        ++state.dotsOffered;
        if (!state.matchesAscii(name, qsizetype(std::strlen(name))))
            continue;
        entry.name = QString::fromLatin1(name);
        entry.attributes = win::FILE_ATTRIBUTE_DIRECTORY;
        entry.kind = FindData::Kind::Other;
        EntryPlace place(folder, state.folder, name);
        if (state.withReadOnly && ::faccessat(place.dirFd(), place.path(), W_OK, 0) != 0 &&
            isReadOnlyError(errno))
            entry.attributes |= win::FILE_ATTRIBUTE_READONLY;
        ++state.yielded;
        return true;
    }

    for (;;) {
        RawEntry found;
        if (!state.nextEntry(found)) {
            state.finished = true;
            if (state.yielded == 0)
                state.error = win::ERROR_FILE_NOT_FOUND;
            return false;
        }
        const char *name = found.name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
            continue;

        // One pass over the bytes: names with a backslash, a colon or a
        // control character are never yielded; plain ASCII names are matched
        // without decoding.
        qsizetype length = 0;
        bool ascii = true;
        bool representable = true;
        for (; name[length] != '\0'; ++length) {
            const auto c = static_cast<unsigned char>(name[length]);
            if (c < 0x20 || c == 0x7F || c == '\\' || c == ':')
                representable = false;
            ascii = ascii && c < 0x80;
        }
        if (!representable)
            continue;
        if (ascii) {
            if (!state.matchesAscii(name, length))
                continue;
            entry.name = QString::fromLatin1(name, length);
        } else {
            if (!posix::isValidUtf8(name, length))
                continue;
            QString decoded = posix::decodeName(name, length);
            if (!matchesString(decoded, state.pattern))
                continue;
            entry.name = std::move(decoded);
        }
        EntryPlace place(folder, state.folder, name);
        entry.attributes = entryAttributes(place, found.type, found.knownFolder, *state.view,
                                           state.withReadOnly, entry.kind);
        ++state.yielded;
        return true;
    }
}

std::optional<FileIdentity> FolderSearch::folderIdentity() const
{
    if (!m_state->isOpen() || !m_state->haveOpened)
        return std::nullopt;
    return FileIdentity{m_state->opened.st_dev, m_state->opened.st_ino};
}

const QByteArray &FolderSearch::posixFolder() const
{
    return m_state->folder;
}

void setFolderListingSource(FolderListingSource *source)
{
    listingSource.source = source;
    listingSource.mounts = source ? systemView()->mounts : nullptr;
}

bool matchesPattern(const QString &name, const QString &pattern)
{
    return matchesString(name, foldPattern(pattern));
}

quint32 getFileAttributes(const QString &winPath, quint32 *error)
{
    quint32 translationError = win::ERROR_SUCCESS;
    const std::optional<QByteArray> posixPath =
        WinPath::toPosix(winPath, DriveMap::current(), &translationError);
    if (!posixPath) {
        if (error)
            *error = translationError;
        return win::INVALID_FILE_ATTRIBUTES;
    }
    return getFileAttributesPosix(*posixPath, error);
}

quint32 getFileAttributesPosix(const QByteArray &posixPath, quint32 *error)
{
    const auto failed = [&](int cause) {
        quint32 code = errorFromErrno(cause);
        if (cause == ENOENT) {
            // Windows tells a missing file in an existing folder from a
            // missing folder on the way.
            QByteArray trimmed = posixPath;
            while (trimmed.size() > 1 && trimmed.endsWith('/'))
                trimmed.chop(1);
            struct stat parent;
            const QByteArray folder = posix::parentPath(trimmed);
            if (::stat(folder.constData(), &parent) != 0 || !S_ISDIR(parent.st_mode))
                code = win::ERROR_PATH_NOT_FOUND;
        }
        if (error)
            *error = code;
        return win::INVALID_FILE_ATTRIBUTES;
    };
    if (posixPath.isEmpty() || posixPath.contains('\0'))
        return failed(posixPath.isEmpty() ? ENOTDIR : EINVAL);

    struct stat st;
    if (::lstat(posixPath.constData(), &st) != 0)
        return failed(errno);
    quint32 attributes = 0;
    if (S_ISLNK(st.st_mode)) {
        attributes |= win::FILE_ATTRIBUTE_REPARSE_POINT;
        // The link's target decides; a dangling link names nothing.
        if (::stat(posixPath.constData(), &st) != 0)
            return failed(errno);
    }
    if (S_ISDIR(st.st_mode))
        attributes |= folderAttributes(st, *systemView(), false);
    else
        attributes |= win::FILE_ATTRIBUTE_ARCHIVE;
    const QByteArray name = posix::baseName(posixPath);
    if (name.startsWith('.') && name != "." && name != "..")
        attributes |= win::FILE_ATTRIBUTE_HIDDEN;
    if (::access(posixPath.constData(), W_OK) != 0 && isReadOnlyError(errno))
        attributes |= win::FILE_ATTRIBUTE_READONLY;
    if (error)
        *error = win::ERROR_SUCCESS;
    return attributes;
}
