#include "platform/FolderListing.h"

#include "platform/BoundedCall.h"
#include "platform/FileClock.h"

#include <QByteArrayView>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>

namespace {

// A name a Windows path can hold: no control character, backslash or colon,
// and valid UTF-8.
bool representable(const char *name, size_t length)
{
    bool ascii = true;
    for (size_t i = 0; i < length; ++i) {
        const auto c = static_cast<unsigned char>(name[i]);
        if (c < 0x20 || c == 0x7F || c == '\\' || c == ':')
            return false;
        ascii = ascii && c < 0x80;
    }
    return ascii || QByteArrayView(name, qsizetype(length)).isValidUtf8();
}

} // namespace

EntryType entryTypeOf(mode_t mode)
{
    if (S_ISREG(mode))
        return EntryType::File;
    if (S_ISDIR(mode))
        return EntryType::Folder;
    if (S_ISLNK(mode))
        return EntryType::SymLink;
    return EntryType::Other;
}

FolderStamp FolderStamp::of(const struct stat &folder, qint64 readAtNs)
{
    FolderStamp stamp;
    stamp.identity = FileIdentity{folder.st_dev, folder.st_ino};
    stamp.mtimeNs = timespecNs(folder.st_mtim);
    stamp.ctimeNs = timespecNs(folder.st_ctim);
    stamp.readAtNs = readAtNs;
    return stamp;
}

bool FolderStamp::vouchesFor(const struct stat &now) const
{
    return identity == FileIdentity{now.st_dev, now.st_ino} && mtimeNs == timespecNs(now.st_mtim) &&
           ctimeNs == timespecNs(now.st_ctim) && std::max(mtimeNs, ctimeNs) < readAtNs - kSettledNs;
}

void FolderListing::clear()
{
    stamp = FolderStamp{};
    names.clear();
    items.clear();
    unshown.clear();
    current = false;
}

bool FolderReader::readPiece(int fd, FolderListing &listing)
{
    ssize_t got;
    do
        got = ::getdents64(fd, m_buffer.data(), m_buffer.size());
    while (got < 0 && errno == EINTR);
    m_error = got < 0 ? (errno ? errno : EIO) : 0;
    if (got <= 0)
        return false;
    for (ssize_t at = 0; at < got;) {
        const auto *entry = reinterpret_cast<const dirent64 *>(m_buffer.data() + at);
        at += entry->d_reclen;
        const char *name = entry->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
            continue;
        const size_t length = std::strlen(name);
        if (length > 255 || !representable(name, length)) {
            listing.unshown.append(name, length + 1);
            continue;
        }
        unsigned char type = entry->d_type;
        if (type == DT_UNKNOWN) {
            struct stat st;
            if (::fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT) == 0)
                type = IFTODT(st.st_mode);
        }
        FolderListing::Item item;
        item.nameAt = quint32(listing.names.size());
        item.nameSize = quint8(length);
        item.type = entryTypeOf(DTTOIF(type));
        item.inode = entry->d_ino;
        listing.names.append(name, length + 1);
        listing.items.push_back(item);
    }
    return true;
}

int FolderReader::readAll(int fd, FolderListing &listing, const std::function<void()> &afterPiece)
{
    while (readPiece(fd, listing)) {
        if (afterPiece)
            afterPiece();
    }
    if (m_error != 0)
        listing = FolderListing{}; // half a folder is not the folder
    return m_error;
}

std::optional<FolderOpenedAside> openFolderAside(std::shared_ptr<posix::UniqueFd> base,
                                                 const QByteArray &name, int openFlags, bool read,
                                                 const QByteArray &place,
                                                 const std::function<bool()> &keepWaiting,
                                                 std::chrono::milliseconds noAnswer)
{
    return BoundedCall::runWhileAnswering<FolderOpenedAside>(
        BoundedCall::processHungPlaces(), place,
        [base, name, openFlags, read](BoundedCall::Progress &progress) {
            FolderOpenedAside out;
            out.fd = posix::UniqueFd(
                ::openat(base && base->isValid() ? base->get() : AT_FDCWD, name.constData(), openFlags));
            if (!out.fd.isValid() || ::fstat(out.fd.get(), &out.st) != 0) {
                out.error = errno ? errno : EIO;
                out.fd.reset();
                return out;
            }
            progress.advance();
            out.listing.stamp = FolderStamp::of(out.st, wallClockNs());
            // Each piece that comes is an answer, so a folder of many
            // entries on a slow share is waited for.
            if (read) {
                out.error = FolderReader().readAll(out.fd.get(), out.listing, [&] { progress.advance(); });
                if (out.error != 0)
                    out.fd.reset();
            }
            return out;
        },
        keepWaiting, noAnswer);
}
