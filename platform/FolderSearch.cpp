#include "platform/FolderSearch.h"

#include "platform/DriveMap.h"
#include "platform/MountTable.h"
#include "platform/PosixPath.h"
#include "platform/WinPath.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
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

    const quint64 generation = DriveMap::currentGeneration();
    std::shared_ptr<const MountTable> mounts = MountTable::systemShared();
    const std::lock_guard lock(mutex);
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

// The bits of one folder entry. The entry type from readdir saves a system
// call for plain files; folders are looked at for the system bit, links
// followed for the folder bit. No look sets off an automount: the mount
// point of an automounter is a system folder like any pseudo file system's.
quint32 entryAttributes(int folder, const char *name, unsigned char type, const SystemView &view,
                        bool withReadOnly, FindData::Kind &kind)
{
    quint32 attributes = 0;
    kind = FindData::Kind::Unknown;
    struct stat st;
    if (type == DT_UNKNOWN) {
        if (::fstatat(folder, name, &st, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT) == 0)
            type = IFTODT(st.st_mode);
    }
    switch (type) {
    case DT_DIR:
        kind = FindData::Kind::Other;
        attributes = win::FILE_ATTRIBUTE_DIRECTORY;
        if (::fstatat(folder, name, &st, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT) == 0)
            attributes = folderAttributes(st, view, true);
        break;
    case DT_LNK:
        if (::fstatat(folder, name, &st, AT_NO_AUTOMOUNT) == 0) {
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
    if (name[0] == '.')
        attributes |= win::FILE_ATTRIBUTE_HIDDEN;
    // A system folder is never entered; asking whether it is writable
    // could set off an automount.
    if (withReadOnly && !(attributes & win::FILE_ATTRIBUTE_SYSTEM) &&
        ::faccessat(folder, name, W_OK, 0) != 0 && isReadOnlyError(errno))
        attributes |= win::FILE_ATTRIBUTE_READONLY;
    return attributes;
}

} // namespace

struct FolderSearch::State
{
    QByteArray folder;
    std::u32string pattern; // case folded
    bool withReadOnly = true;
    posix::DirHandle dir;
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
        dir = posix::openFolder(folder);
        if (!dir) {
            const int cause = errno;
            error = cause == ENOENT ? win::ERROR_PATH_NOT_FOUND : errorFromErrno(cause);
            return;
        }
        view = systemView();
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

bool FolderSearch::isOpen() const
{
    return bool(m_state->dir);
}

quint32 FolderSearch::error() const
{
    return m_state->error;
}

bool FolderSearch::next(FindData &entry)
{
    State &state = *m_state;
    if (!state.dir || state.finished)
        return false;
    const int folder = ::dirfd(state.dir.get());

    // "." and ".." first, as Windows yields them.
    while (state.dotsOffered < 2) {
        const char *name = state.dotsOffered == 0 ? "." : "..";
        ++state.dotsOffered;
        if (!state.matchesAscii(name, qsizetype(std::strlen(name))))
            continue;
        entry.name = QString::fromLatin1(name);
        entry.attributes = win::FILE_ATTRIBUTE_DIRECTORY;
        entry.kind = FindData::Kind::Other;
        if (state.withReadOnly && ::faccessat(folder, name, W_OK, 0) != 0 && isReadOnlyError(errno))
            entry.attributes |= win::FILE_ATTRIBUTE_READONLY;
        ++state.yielded;
        return true;
    }

    for (;;) {
        const dirent *found = ::readdir(state.dir.get());
        if (!found) {
            state.finished = true;
            if (state.yielded == 0)
                state.error = win::ERROR_FILE_NOT_FOUND;
            return false;
        }
        const char *name = found->d_name;
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
            QString decoded = QString::fromUtf8(name, length);
            if (!matchesString(decoded, state.pattern))
                continue;
            entry.name = std::move(decoded);
        }
        entry.attributes =
            entryAttributes(folder, name, found->d_type, *state.view, state.withReadOnly, entry.kind);
        ++state.yielded;
        return true;
    }
}

std::optional<FileIdentity> FolderSearch::folderIdentity() const
{
    struct stat st;
    if (!m_state->dir || ::fstat(::dirfd(m_state->dir.get()), &st) != 0)
        return std::nullopt;
    return FileIdentity{st.st_dev, st.st_ino};
}

const QByteArray &FolderSearch::posixFolder() const
{
    return m_state->folder;
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
