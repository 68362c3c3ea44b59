#include "platform/FolderSearch.h"

#include "platform/AsciiCase.h"
#include "platform/BoundedCall.h"
#include "platform/DriveContext.h"
#include "platform/FileAttributes.h"
#include "platform/FileClock.h"
#include "platform/MountTable.h"
#include "platform/PosixPath.h"
#include "platform/SystemFolders.h"
#include "platform/WinPath.h"
#include "winpath/WinPathText.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

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
    // Plain ASCII folds by lowering its letters, without a folded copy.
    if (std::all_of(pattern.cbegin(), pattern.cend(), [](QChar c) { return c.unicode() < 0x80; })) {
        std::u32string folded(size_t(pattern.size()), U'\0');
        for (qsizetype i = 0; i < pattern.size(); ++i) {
            const char16_t c = pattern.at(i).unicode();
            folded[size_t(i)] = (c >= u'A' && c <= u'Z') ? c + (u'a' - u'A') : c;
        }
        return folded;
    }
    const QList<uint> ucs4 = pattern.toCaseFolded().toUcs4();
    return std::u32string(ucs4.cbegin(), ucs4.cend());
}

bool matchesString(const QString &name, const std::u32string &foldedPattern)
{
    const QList<uint> folded = name.toCaseFolded().toUcs4();
    return matchesFolded(folded.constData(), folded.size(), foldedPattern);
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

// Folders up to this many entries are read whole when the search opens them,
// so that a listing source gets them at once; larger ones are read in pieces
// as their entries are taken.
constexpr size_t kEagerItems = 1024;

// A folder served without being opened is named by a path relative to an
// open folder above it; one whose path grows longer than this is opened.
constexpr qsizetype kLongestRelativePath = 1024;

// Where a symbolic link leads, as a worker thread found it.
struct SlowStat
{
    struct stat st = {};
    int error = 0;
};

// Waits for a call on a place that may not answer for as long as it
// answers, running the wait hook meanwhile (which may stop the wait).
template <typename Result>
std::optional<Result> runSlow(const QByteArray &place, std::function<Result()> work,
                              const FolderSearch::WaitHook &hook, std::chrono::milliseconds noAnswer)
{
    return BoundedCall::runWhileAnswering<Result>(
        BoundedCall::processHungPlaces(), place,
        [work = std::move(work)](BoundedCall::Progress &) { return work(); }, [&] { return !hook || hook(); },
        noAnswer);
}

std::optional<SlowStat> statSlowly(std::shared_ptr<posix::UniqueFd> base, const QByteArray &name,
                                   const QByteArray &place, const FolderSearch::WaitHook &hook,
                                   std::chrono::milliseconds noAnswer)
{
    return runSlow<SlowStat>(
        place,
        [base, name] {
            SlowStat out;
            if (::fstatat(base->get(), name.constData(), &out.st, AT_NO_AUTOMOUNT) != 0)
                out.error = errno;
            return out;
        },
        hook, noAnswer);
}

} // namespace

struct FolderSearch::State
{
    QByteArray folder;      // as the caller named it
    QByteArray realFolder;  // its canonical form where known (for places that may hang)
    std::u32string pattern; // case folded
    bool everyName = false; // the pattern matches every name ("*", "*.*")
    // The pattern is "*" and a plain ASCII tail without wildcards
    // ("*.lnk"): a name matches when it ends in the tail.
    bool asciiTailOnly = false;
    bool foldersOnly = false; // Limit::ToFolders
    bool withReadOnly = true;
    WaitHook whileWaiting;
    const DriveContext *drives = nullptr;
    std::shared_ptr<const SystemFolders> view;
    FolderListingSource *source = nullptr;

    // The open folder; shared so that a worker thread looking at an entry of
    // a folder that may not answer can outlive the search, and with the
    // searches of sub-folders. A folder whose listing the source gave is not
    // opened: it is named by a path relative to the nearest open folder
    // above it (`anchor`), until something needs it open.
    std::shared_ptr<posix::UniqueFd> fd;
    std::shared_ptr<posix::UniqueFd> anchor;
    QByteArray relative;
    bool found = false;      // opened, or looked at and served
    struct stat opened = {}; // the folder as it was when opened
    // On a file system that may not answer: read whole on a worker thread,
    // every later look at an entry waits with a bound under `hangPlace`.
    bool mayHang = false;
    QByteArray hangPlace;

    quint32 handle = 0; // the folder's handle in the listing source
    FolderListing listing;
    bool complete = false;  // the listing holds every entry
    bool recording = false; // what is read goes to the listing source
    std::unique_ptr<FolderReader> reader;
    size_t at = 0; // next item to look at

    // The entry yielded last, for a search of it as a sub-folder.
    qint64 lastItem = -1;
    bool lastMayHang = false;
    QByteArray lastRealPath;
    QByteArray lastHangPlace;

    quint32 error = win::ERROR_SUCCESS;
    int dotsOffered = 0;
    qint64 yielded = 0;
    bool finished = false;

    bool isOpen() const { return found; }
    bool hasFd() const { return fd && fd->isValid(); }
    int dirFd() const { return fd->get(); }
    // Where an entry of this folder is: the folder's descriptor and the
    // name, or the anchor and a path through this folder.
    int baseFd() const { return hasFd() ? fd->get() : anchor->get(); }
    const char *entryPath(const char *name, QByteArray &scratch) const
    {
        if (hasFd())
            return name;
        scratch = relative + '/' + name;
        return scratch.constData();
    }
    // Opens a folder that was served without being opened.
    bool ensureFd()
    {
        if (hasFd())
            return true;
        if (!found || !anchor)
            return false;
        auto own = std::make_shared<posix::UniqueFd>(
            ::openat(anchor->get(), relative.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        struct stat now;
        if (!own->isValid() || ::fstat(own->get(), &now) != 0 || now.st_dev != opened.st_dev ||
            now.st_ino != opened.st_ino)
            return false;
        fd = std::move(own);
        anchor.reset();
        relative.clear();
        return true;
    }

    void setPattern(const QString &namePattern, Attributes which)
    {
        usePattern(namePattern);
        withReadOnly = which == Attributes::All;
    }
    void usePattern(const QString &namePattern)
    {
        pattern = foldPattern(namePattern);
        everyName = pattern == U"*" || pattern == U"*.*";
        asciiTailOnly = pattern.size() > 1 && pattern[0] == U'*' &&
                        std::all_of(pattern.cbegin() + 1, pattern.cend(),
                                    [](char32_t c) { return c < 0x80 && c != U'*' && c != U'?'; });
    }

    void failed(int cause)
    {
        fd.reset();
        found = false;
        error = cause == ENOENT ? win::ERROR_PATH_NOT_FOUND : errorFromErrno(cause);
    }

    // The folder by its path: the start of a walk (which shares listings
    // with the source it was given), or a single search.
    void openPath(const QByteArray &posixFolder, FolderListingSource *shared)
    {
        folder = posixFolder;
        view = drives->systemFolders();
        if (folder.isEmpty()) {
            failed(ENOENT);
            return;
        }
        realFolder = posix::cleanPath(folder);
        if (const QByteArray *point = view->hangPointOf(realFolder)) {
            openSlow(nullptr, folder, *point);
            // Shared all the same: the source reads the folders below ahead
            // of the walk, which a share a round trip away needs most.
            if (found && shared) {
                source = shared;
                handle = source->startFolder(folder, FileIdentity{opened.st_dev, opened.st_ino});
                handOver();
            }
            return;
        }
        fd =
            std::make_shared<posix::UniqueFd>(::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!fd->isValid() || ::fstat(dirFd(), &opened) != 0) {
            failed(errno);
            return;
        }
        found = true;
        source = shared;
        if (source)
            handle = source->startFolder(folder, FileIdentity{opened.st_dev, opened.st_ino});
        if (!served())
            readFromStart(opened);
    }

    // The entry a parent search yielded last, relative to the parent's folder.
    void openChild(State &parent)
    {
        view = parent.view;
        drives = parent.drives;
        whileWaiting = parent.whileWaiting;
        if (!parent.isOpen() || parent.lastItem < 0) {
            error = win::ERROR_PATH_NOT_FOUND;
            return;
        }
        const FolderListing::Item &item = parent.listing.items[size_t(parent.lastItem)];
        const QByteArray name(parent.listing.name(item), item.nameSize);
        folder = posix::join(parent.folder, name);
        realFolder =
            item.type == EntryType::Folder && parent.lastRealPath.isEmpty() && !parent.realFolder.isEmpty()
                ? posix::join(parent.realFolder, name)
                : parent.lastRealPath;
        source = parent.source;
        if (source && item.type == EntryType::Folder)
            handle = item.handle;
        if (parent.lastMayHang) {
            // What the source read of it during this walk (ahead of it, on
            // the source's workers) is taken as it is; anything else is
            // opened and read aside, never on this thread.
            if (handle != 0 && source->listing(handle, listing) && listing.current) {
                serveCurrent(parent, name);
                mayHang = true;
                hangPlace = parent.lastHangPlace;
                return;
            }
            listing.clear();
            const bool relativeToAnchor = !parent.hasFd();
            openSlow(relativeToAnchor ? parent.anchor : parent.fd,
                     relativeToAnchor ? parent.relative + '/' + name : name, parent.lastHangPlace);
            if (found)
                handOver();
            return;
        }

        // A listing the source holds is taken as it is when it was read
        // during this walk. Any other is checked with one look at the folder
        // (a folder, not a link to one), relative to the nearest open folder
        // above. The folder is opened only when it must be read.
        anchor = parent.hasFd() ? parent.fd : parent.anchor;
        relative = parent.hasFd() ? name : parent.relative + '/' + name;
        if (handle != 0 && source && source->listing(handle, listing)) {
            if (listing.current) {
                serveCurrent(parent, name);
                return;
            }
            if (relative.size() < kLongestRelativePath &&
                ::fstatat(anchor->get(), relative.constData(), &opened,
                          AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT) == 0 &&
                S_ISDIR(opened.st_mode)) {
                found = true;
                if (listing.stamp.vouchesFor(opened)) {
                    complete = true;
                    return;
                }
            }
        }
        QByteArray scratch;
        fd = std::make_shared<posix::UniqueFd>(::openat(parent.baseFd(),
                                                        parent.entryPath(name.constData(), scratch),
                                                        O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        anchor.reset();
        relative.clear();
        if (!fd->isValid() || ::fstat(dirFd(), &opened) != 0) {
            failed(errno);
            return;
        }
        found = true;
        readFromStart(opened);
    }

    // An entry of the parent whose name has no Windows form, by that name.
    // It is read on its own, not shared with the listing source.
    void openUnshown(State &parent, const QByteArray &name)
    {
        view = parent.view;
        drives = parent.drives;
        whileWaiting = parent.whileWaiting;
        if (!parent.isOpen() || parent.mayHang) {
            error = parent.isOpen() ? win::ERROR_NOT_READY : win::ERROR_PATH_NOT_FOUND;
            return;
        }
        folder = posix::join(parent.folder, name);
        if (!parent.realFolder.isEmpty())
            realFolder = posix::join(parent.realFolder, name);
        QByteArray scratch;
        fd = std::make_shared<posix::UniqueFd>(::openat(parent.baseFd(),
                                                        parent.entryPath(name.constData(), scratch),
                                                        O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!fd->isValid() || ::fstat(dirFd(), &opened) != 0) {
            failed(errno);
            return;
        }
        found = true;
        readFromStart(opened);
    }

    // The listing the source read during this walk stands for the folder:
    // named relative to the nearest open folder above, not opened.
    void serveCurrent(State &parent, const QByteArray &name)
    {
        anchor = parent.hasFd() ? parent.fd : parent.anchor;
        relative = parent.hasFd() ? name : parent.relative + '/' + name;
        opened = {};
        opened.st_mode = S_IFDIR;
        opened.st_dev = listing.stamp.identity.device;
        opened.st_ino = listing.stamp.identity.inode;
        found = true;
        complete = true;
    }

    // A whole listing read aside, handed to the source in one piece.
    void handOver()
    {
        if (!source || handle == 0)
            return;
        listing.current = true;
        source->beginListing(handle, listing.stamp);
        source->addEntries(handle, listing, 0);
        if (!source->endListing(handle, listing))
            for (FolderListing::Item &item : listing.items)
                item.handle = 0;
    }

    void openSlow(std::shared_ptr<posix::UniqueFd> base, const QByteArray &name, const QByteArray &place)
    {
        mayHang = true;
        hangPlace = place;
        std::optional<FolderOpenedAside> read = openFolderAside(
            std::move(base), name, O_RDONLY | O_DIRECTORY | O_CLOEXEC, true, place,
            [&] { return !whileWaiting || whileWaiting(); }, drives->noAnswer());
        if (!read) {
            // Stopped, or the place stopped answering: not read either way
            // (a stopped walk ends before it names anything more).
            error = win::ERROR_NOT_READY;
            return;
        }
        if (!read->fd.isValid()) {
            failed(read->error);
            return;
        }
        fd = std::make_shared<posix::UniqueFd>(std::move(read->fd));
        opened = read->st;
        listing = std::move(read->listing);
        complete = true;
        found = true;
    }

    // Takes the source's listing of the folder when it was read during this
    // walk or still holds.
    bool served()
    {
        if (source && handle != 0 && source->listing(handle, listing) &&
            (listing.current || listing.stamp.vouchesFor(opened))) {
            complete = true;
            return true;
        }
        return false;
    }

    void readFromStart(const struct stat &now)
    {
        listing.clear();
        listing.stamp = FolderStamp::of(now, wallClockNs());
        // What a walk reads is current for the rest of it (see restart).
        listing.current = source != nullptr;
        complete = false;
        reader = std::make_unique<FolderReader>();
        recording = source && handle != 0;
        if (recording)
            source->beginListing(handle, listing.stamp);
        while (!complete && listing.items.size() < kEagerItems)
            readMore();
    }

    // A listing handed over only in part is of no use to the source.
    void dropRecording()
    {
        if (recording && source)
            source->dropListing(handle);
        recording = false;
    }

    void readMore()
    {
        const size_t from = listing.items.size();
        if (reader->readPiece(dirFd(), listing)) {
            if (recording && source)
                source->addEntries(handle, listing, from);
            return;
        }
        complete = true;
        const bool failed = reader->error() != 0;
        reader.reset();
        if (failed) {
            // Half a folder is not the folder: the source keeps none of it.
            dropRecording();
            for (FolderListing::Item &item : listing.items)
                item.handle = 0;
            return;
        }
        if (recording && (!source || !source->endListing(handle, listing)))
            for (FolderListing::Item &item : listing.items)
                item.handle = 0;
        recording = false;
    }

    // The next item, reading on as needed; null at the end.
    const FolderListing::Item *nextItem()
    {
        while (at >= listing.items.size()) {
            if (complete)
                return nullptr;
            readMore();
        }
        return &listing.items[at++];
    }

    // Where a symbolic link leads, waiting with a bound when it may lead
    // into a file system that may not answer; false when that cannot be told.
    bool statLink(const char *name, struct stat &st, const FolderListing::Item &item)
    {
        lastMayHang = mayHang;
        lastHangPlace = hangPlace;
        lastRealPath.clear();
        QByteArray scratch;
        const char *path = entryPath(name, scratch);
        if (!mayHang && view->anyMayHang() && !realFolder.isEmpty()) {
            // Where the link points, worked out from its text alone.
            char target[4096];
            const ssize_t length = ::readlinkat(baseFd(), path, target, sizeof target - 1);
            if (length > 0) {
                const QByteArray text(target, length);
                lastRealPath = posix::cleanPath(text.startsWith('/') ? text : realFolder + '/' + text);
                if (const QByteArray *point = view->hangPointOf(lastRealPath)) {
                    lastMayHang = true;
                    lastHangPlace = *point;
                }
            }
        }
        if (!lastMayHang)
            return ::fstatat(baseFd(), path, &st, AT_NO_AUTOMOUNT) == 0;
        const std::optional<SlowStat> found =
            statSlowly(hasFd() ? fd : anchor, hasFd() ? QByteArray(name, item.nameSize) : QByteArray(path),
                       lastHangPlace, whileWaiting, drives->noAnswer());
        if (!found || found->error != 0)
            return false;
        st = found->st;
        return true;
    }

    // Whether an entry of this folder (followed through a symbolic link) is
    // read-only: one stat of it.
    bool isReadOnlyEntry(const char *name) const
    {
        QByteArray scratch;
        struct stat st;
        return ::fstatat(baseFd(), entryPath(name, scratch), &st, AT_NO_AUTOMOUNT) == 0 &&
               FileAttributes::isReadOnly(st.st_mode);
    }

    // The bits of one item. Plain files and folders cost no system call
    // (whether a folder is a system folder is known from its name and this
    // folder's identity); links are followed for the folder bit.
    quint32 attributesOf(const FolderListing::Item &item, const char *name, FindData &entry)
    {
        quint32 attributes = 0;
        entry.kind = item.type;
        entry.identity = FileIdentity{};
        lastMayHang = false;
        // The mode of what a symbolic link leads to, when it was looked up.
        std::optional<mode_t> linkedMode;
        switch (item.type) {
        case EntryType::Folder: {
            attributes = win::FILE_ATTRIBUTE_DIRECTORY;
            const SystemFolders::Place *place = view->placeAt(FileIdentity{opened.st_dev, opened.st_ino},
                                                              std::string_view(name, item.nameSize));
            if (place && place->system)
                attributes |= win::FILE_ATTRIBUTE_SYSTEM;
            // (The sub-folder's canonical path is worked out when it is opened.)
            lastRealPath.clear();
            lastMayHang = mayHang || (place && place->mayHang);
            lastHangPlace = hangPlace;
            if (!mayHang && lastMayHang) {
                if (!realFolder.isEmpty())
                    lastRealPath = posix::join(realFolder, QByteArray(name));
                // The mount point names the place; without a known path, the
                // folder that holds it and its name do.
                const QByteArray *point = lastRealPath.isEmpty() ? nullptr : view->hangPointOf(lastRealPath);
                lastHangPlace = point
                                    ? *point
                                    : QByteArray::number(quint64(opened.st_dev)) + ':' +
                                          QByteArray::number(quint64(opened.st_ino)) + '/' + QByteArray(name);
            }
            break;
        }
        case EntryType::SymLink: {
            struct stat st;
            entry.kind = EntryType::Other;
            if (statLink(name, st, item)) {
                linkedMode = st.st_mode;
                entry.kind = entryTypeOf(st.st_mode);
                if (entry.kind == EntryType::Folder) {
                    attributes = win::FILE_ATTRIBUTE_DIRECTORY;
                    if (view->isSystem(st, true))
                        attributes |= win::FILE_ATTRIBUTE_SYSTEM;
                } else {
                    attributes = win::FILE_ATTRIBUTE_ARCHIVE;
                    if (entry.kind == EntryType::File)
                        entry.identity = FileIdentity{st.st_dev, st.st_ino};
                }
            } else {
                attributes = win::FILE_ATTRIBUTE_ARCHIVE;
            }
            attributes |= win::FILE_ATTRIBUTE_REPARSE_POINT;
            break;
        }
        case EntryType::File:
            if (item.inode != 0)
                entry.identity = FileIdentity{opened.st_dev, item.inode};
            attributes = win::FILE_ATTRIBUTE_ARCHIVE;
            break;
        case EntryType::Other: // FIFOs, sockets, devices: shown as files, never to be opened as one
        case EntryType::Unknown:
            attributes = win::FILE_ATTRIBUTE_ARCHIVE;
            break;
        }
        if (FileAttributes::isHiddenName(std::string_view(name, item.nameSize)))
            attributes |= win::FILE_ATTRIBUTE_HIDDEN;
        // A system folder is never entered; looking at it could set off an
        // automount. Nothing is asked of a place that may not answer: this
        // folder's, or the one a sub-folder is the mount point of.
        if (withReadOnly && !(attributes & win::FILE_ATTRIBUTE_SYSTEM) &&
            (linkedMode ? FileAttributes::isReadOnly(*linkedMode)
                        : !mayHang && !lastMayHang && isReadOnlyEntry(name)))
            attributes |= win::FILE_ATTRIBUTE_READONLY;
        return attributes;
    }

    // For a pattern of an ASCII tail ("*.lnk"), whether a UTF-8 name matches,
    // told from its last bytes when they are plain ASCII: those are whole
    // characters, which fold by lowering their letters, whatever comes
    // before them. Nothing when the name's end is not plain ASCII.
    std::optional<bool> matchesTail(const char *name, qsizetype length) const
    {
        if (!asciiTailOnly)
            return std::nullopt;
        const qsizetype tail = qsizetype(pattern.size()) - 1;
        if (length < tail)
            return std::nullopt;
        const char *at = name + (length - tail);
        bool same = true;
        for (qsizetype i = 0; i < tail; ++i) {
            const auto c = static_cast<unsigned char>(at[i]);
            if (c >= 0x80)
                return std::nullopt;
            same = same && char32_t((c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c) == pattern[size_t(i) + 1];
        }
        return same;
    }

    bool matchesAscii(const char *name, qsizetype length) const
    {
        if (const std::optional<bool> byTail = matchesTail(name, length))
            return *byTail;
        std::array<unsigned char, 256> lowered;
        if (length > qsizetype(lowered.size()))
            return matchesString(QString::fromLatin1(name, length), pattern);
        for (qsizetype i = 0; i < length; ++i) {
            lowered[i] = static_cast<unsigned char>(AsciiCase::lower(name[i]));
        }
        return matchesFolded(lowered.data(), length, pattern);
    }
};

FolderSearch::FolderSearch(const DriveContext &drives, const QString &winPathAndPattern, Attributes which)
    : m_state(std::make_unique<State>())
{
    m_state->drives = &drives;
    const QString folderPart = WinPathText::folderPart(winPathAndPattern);
    if (folderPart.isEmpty()) {
        m_state->error = win::ERROR_PATH_NOT_FOUND;
        return;
    }
    const QString pattern = winPathAndPattern.mid(folderPart.size());
    quint32 error = win::ERROR_SUCCESS;
    const std::optional<QByteArray> folder = WinPath::toPosix(folderPart, drives, &error);
    if (!folder) {
        m_state->error = error;
        return;
    }
    m_state->setPattern(pattern, which);
    m_state->openPath(*folder, nullptr);
}

FolderSearch::FolderSearch(const DriveContext &drives, const QByteArray &posixFolder, const QString &pattern,
                           Attributes which, WaitHook whileWaiting, FolderListingSource *listings)
    : m_state(std::make_unique<State>())
{
    m_state->drives = &drives;
    m_state->setPattern(pattern, which);
    m_state->whileWaiting = std::move(whileWaiting);
    m_state->openPath(posixFolder, listings);
}

FolderSearch::FolderSearch(FolderSearch &parent, const QString &pattern, Attributes which)
    : m_state(std::make_unique<State>())
{
    m_state->setPattern(pattern, which);
    m_state->openChild(*parent.m_state);
}

FolderSearch::FolderSearch(FolderSearch &parent, const QByteArray &unshownName, const QString &pattern,
                           Attributes which)
    : m_state(std::make_unique<State>())
{
    m_state->setPattern(pattern, which);
    m_state->openUnshown(*parent.m_state, unshownName);
}

FolderSearch::~FolderSearch()
{
    m_state->dropRecording();
}

bool FolderSearch::restart(const QString &pattern, Limit limit)
{
    State &state = *m_state;
    if (!state.isOpen())
        return false;
    // The folder as it is now, unless nothing can have happened since it
    // was looked at (no entry was yielded, so the caller did nothing in
    // between), or the whole listing was read during the walk this search
    // is part of: a walk takes each folder's listing once, for both of its
    // passes. A folder that may not answer was read whole and is not asked
    // again.
    if (!state.mayHang && !(state.complete && (state.yielded == 0 || state.listing.current))) {
        struct stat now;
        const bool looked = state.hasFd() ? ::fstat(state.dirFd(), &now) == 0
                                          : ::fstatat(state.anchor->get(), state.relative.constData(), &now,
                                                      AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT) == 0;
        if (!looked || !state.complete || !state.listing.stamp.vouchesFor(now)) {
            state.dropRecording();
            if (looked)
                state.opened = now;
            if (!looked || !state.served()) {
                // A folder that cannot be read again from its start would
                // yield a part of its entries, or none, as if that were all.
                if (!state.ensureFd()) {
                    state.failed(ENOENT);
                    return false;
                }
                if (::lseek(state.dirFd(), 0, SEEK_SET) != 0) {
                    state.failed(errno);
                    return false;
                }
                state.readFromStart(state.opened);
            }
        }
    }
    state.at = 0;
    state.lastItem = -1;
    state.usePattern(pattern);
    state.foldersOnly = limit == Limit::ToFolders;
    state.view = state.drives->systemFolders();
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
    state.lastItem = -1;

    // "." and ".." first, as Windows yields them.
    while (state.dotsOffered < 2) {
        const char *name = state.dotsOffered == 0 ? "." : "..";
        ++state.dotsOffered;
        if (!state.matchesAscii(name, qsizetype(std::strlen(name))))
            continue;
        entry.name = QString::fromLatin1(name);
        entry.attributes = win::FILE_ATTRIBUTE_DIRECTORY;
        entry.kind = EntryType::Folder;
        entry.identity = FileIdentity{};
        if (state.withReadOnly && !state.mayHang && state.isReadOnlyEntry(name))
            entry.attributes |= win::FILE_ATTRIBUTE_READONLY;
        ++state.yielded;
        return true;
    }

    for (int passedOver = 0;; ++passedOver) {
        if (passedOver > 0 && passedOver % kPassedOverPerWait == 0 && state.whileWaiting &&
            !state.whileWaiting()) {
            state.finished = true;
            state.error = win::ERROR_OPERATION_ABORTED;
            return false;
        }
        const FolderListing::Item *item = state.nextItem();
        if (!item) {
            state.finished = true;
            if (state.yielded == 0)
                state.error = win::ERROR_FILE_NOT_FOUND;
            return false;
        }
        // Names were checked when they were read: they can be shown in
        // Windows form. Plain ASCII names, and names that a pattern such as
        // "*.lnk" does not match by their last bytes, are matched without
        // decoding.
        if (state.foldersOnly && item->type != EntryType::Folder && item->type != EntryType::SymLink)
            continue;
        const char *name = state.listing.name(*item);
        const qsizetype length = item->nameSize;
        const std::optional<bool> decided =
            state.everyName ? std::optional<bool>(true) : state.matchesTail(name, length);
        if (decided && !*decided)
            continue;
        bool ascii = true;
        for (qsizetype i = 0; i < length && ascii; ++i)
            ascii = static_cast<unsigned char>(name[i]) < 0x80;
        if (ascii) {
            if (!decided && !state.matchesAscii(name, length))
                continue;
            // Into the caller's string: a walk that keeps one record for a
            // folder's entries allocates nothing for most of them.
            entry.name.resize(length);
            QChar *out = entry.name.data();
            for (qsizetype i = 0; i < length; ++i)
                out[i] = QLatin1Char(name[i]);
        } else {
            QString decoded = posix::decodeName(name, length);
            if (!decided && !matchesString(decoded, state.pattern))
                continue;
            entry.name = std::move(decoded);
        }
        // The item may move when the listing grows: its index is kept.
        const qint64 index = qint64(state.at) - 1;
        entry.attributes = state.attributesOf(*item, name, entry);
        state.lastItem = index;
        ++state.yielded;
        return true;
    }
}

std::optional<FileIdentity> FolderSearch::folderIdentity() const
{
    if (!m_state->isOpen())
        return std::nullopt;
    return FileIdentity{m_state->opened.st_dev, m_state->opened.st_ino};
}

std::optional<FileIdentity> FolderSearch::identityOf(const FindData &entry) const
{
    const State &state = *m_state;
    if (entry.identity.inode != 0)
        return entry.identity;
    if (!state.isOpen() || state.lastItem < 0 || state.mayHang)
        return std::nullopt;
    const FolderListing::Item &item = state.listing.items[size_t(state.lastItem)];
    struct stat st;
    QByteArray scratch;
    if (::fstatat(state.baseFd(), state.entryPath(state.listing.name(item), scratch), &st, AT_NO_AUTOMOUNT) !=
        0)
        return std::nullopt;
    return FileIdentity{st.st_dev, st.st_ino};
}

const QByteArray &FolderSearch::posixFolder() const
{
    return m_state->folder;
}

bool FolderSearch::holdsAnyName(std::initializer_list<QByteArrayView> names) const
{
    const State &state = *m_state;
    if (!state.isOpen() || !state.complete)
        return false;
    for (const FolderListing::Item &item : state.listing.items) {
        for (const QByteArrayView name : names) {
            if (item.nameSize == name.size() &&
                std::memcmp(state.listing.name(item), name.data(), size_t(name.size())) == 0)
                return true;
        }
    }
    return false;
}

QList<QByteArray> FolderSearch::unshownNames() const
{
    QList<QByteArray> names;
    const State &state = *m_state;
    if (!state.isOpen() || !state.complete)
        return names;
    const std::string &all = state.listing.unshown;
    for (size_t at = 0; at < all.size();) {
        const size_t end = all.find('\0', at);
        names << QByteArray(all.data() + at, qsizetype((end == std::string::npos ? all.size() : end) - at));
        at = end == std::string::npos ? all.size() : end + 1;
    }
    return names;
}

EntryType FolderSearch::unshownKind(const QByteArray &name, bool *symbolicLink) const
{
    const State &state = *m_state;
    if (symbolicLink) {
        struct stat own;
        QByteArray ownScratch;
        *symbolicLink = state.isOpen() && !state.mayHang &&
                        ::fstatat(state.baseFd(), state.entryPath(name.constData(), ownScratch), &own,
                                  AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT) == 0 &&
                        S_ISLNK(own.st_mode);
    }
    // A place that may not answer is not looked at again from here.
    if (!state.isOpen() || state.mayHang)
        return EntryType::Unknown;
    struct stat st;
    QByteArray scratch;
    if (::fstatat(state.baseFd(), state.entryPath(name.constData(), scratch), &st, AT_NO_AUTOMOUNT) != 0)
        return EntryType::Other;
    return entryTypeOf(st.st_mode);
}

bool matchesPattern(const QString &name, const QString &pattern)
{
    return matchesString(name, foldPattern(pattern));
}

quint32 getFileAttributes(const DriveContext &drives, const QString &winPath, quint32 *error,
                          FolderSearch::Attributes which)
{
    // Most paths exist as written: one look, with no separate look for the
    // translation.
    const std::optional<QByteArray> written = WinPath::toPosixAsWritten(winPath, drives);
    quint32 writtenError = win::ERROR_SUCCESS;
    if (written) {
        const quint32 attributes = getFileAttributesPosix(drives, *written, &writtenError, which);
        if (attributes != win::INVALID_FILE_ATTRIBUTES ||
            (writtenError != win::ERROR_FILE_NOT_FOUND && writtenError != win::ERROR_PATH_NOT_FOUND)) {
            if (error)
                *error = writtenError;
            return attributes;
        }
    }
    quint32 translationError = win::ERROR_SUCCESS;
    const std::optional<QByteArray> posixPath = WinPath::toPosix(winPath, drives, &translationError);
    if (!posixPath) {
        if (error)
            *error = translationError;
        return win::INVALID_FILE_ATTRIBUTES;
    }
    if (written && *posixPath == *written) {
        if (error)
            *error = writtenError; // looked at already
        return win::INVALID_FILE_ATTRIBUTES;
    }
    return getFileAttributesPosix(drives, *posixPath, error, which);
}

quint32 getFileAttributesPosix(const DriveContext &drives, const QByteArray &posixPath, quint32 *error,
                               FolderSearch::Attributes which)
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
    const QByteArray name = posix::baseName(posixPath);
    attributes |= FileAttributes::of(st.st_mode, std::string_view(name.constData(), size_t(name.size())));
    if (S_ISDIR(st.st_mode) && drives.systemFolders()->isSystem(st, false))
        attributes |= win::FILE_ATTRIBUTE_SYSTEM;
    if (which == FolderSearch::Attributes::WithoutReadOnly)
        attributes &= ~win::FILE_ATTRIBUTE_READONLY;
    if (error)
        *error = win::ERROR_SUCCESS;
    return attributes;
}
