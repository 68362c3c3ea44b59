#include "support/PacedFuse.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <linux/fuse.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

// The kernel's side of FUSE, answered by hand on one thread, which sleeps
// `pace` before each answer that a slow server would be slow to give.
struct PacedFuse::Server
{
    QByteArray mountPoint;
    int entries = 0;
    std::chrono::milliseconds pace{0};
    int answeredPieces = -1;
    int failWith = 0;
    int fuseFd = -1;
    int stopFd = -1;
    bool isMounted = false;
    QString problem;
    std::thread thread;

    mutable std::mutex mutex;
    int pieces = 0;
    int ends = 0;

    void reply(uint64_t unique, int error, const void *payload = nullptr, size_t size = 0)
    {
        fuse_out_header out;
        std::memset(&out, 0, sizeof out);
        const size_t body = error == 0 ? size : 0;
        out.len = uint32_t(sizeof out + body);
        out.error = error;
        out.unique = unique;
        iovec parts[2] = {{&out, sizeof out}, {const_cast<void *>(payload), body}};
        [[maybe_unused]] const ssize_t written = ::writev(fuseFd, parts, body ? 2 : 1);
    }

    // Waits `pace`, or less when the server is told to stop; false then.
    bool paced() const
    {
        pollfd stop = {stopFd, POLLIN, 0};
        return ::poll(&stop, 1, int(pace.count())) == 0;
    }

    // Entries from `offset` on, as many as fit in `size` and one piece holds.
    std::vector<char> listing(uint64_t offset, uint32_t size) const
    {
        std::vector<char> out;
        for (uint64_t i = offset; i < uint64_t(entries) && i < offset + kEntriesPerPiece; ++i) {
            const QByteArray name = entryName(int(i));
            const size_t length = FUSE_DIRENT_ALIGN(FUSE_NAME_OFFSET + size_t(name.size()));
            if (out.size() + length > size)
                break;
            const size_t at = out.size();
            out.resize(at + length, 0);
            fuse_dirent entry;
            entry.ino = 2 + i;
            entry.off = i + 1;
            entry.namelen = uint32_t(name.size());
            entry.type = DT_REG;
            std::memcpy(out.data() + at, &entry, FUSE_NAME_OFFSET);
            std::memcpy(out.data() + at + FUSE_NAME_OFFSET, name.constData(), size_t(name.size()));
        }
        return out;
    }

    void serve()
    {
        std::vector<char> buffer(FUSE_MIN_READ_BUFFER + 64 * 1024);
        for (;;) {
            pollfd watched[2] = {{fuseFd, POLLIN, 0}, {stopFd, POLLIN, 0}};
            if (::poll(watched, 2, -1) < 0) {
                if (errno == EINTR)
                    continue;
                return;
            }
            if (watched[1].revents)
                return;
            const ssize_t got = ::read(fuseFd, buffer.data(), buffer.size());
            if (got < 0) {
                if (errno == EINTR || errno == EAGAIN || errno == ENOENT)
                    continue;
                return;
            }
            if (size_t(got) < sizeof(fuse_in_header))
                continue;
            fuse_in_header in;
            std::memcpy(&in, buffer.data(), sizeof in);
            const char *arguments = buffer.data() + sizeof in;
            const size_t argumentSize = size_t(got) - sizeof in;
            switch (in.opcode) {
            case FUSE_INIT: {
                fuse_init_in init;
                std::memset(&init, 0, sizeof init);
                std::memcpy(&init, arguments, std::min(sizeof init, argumentSize));
                fuse_init_out out;
                std::memset(&out, 0, sizeof out);
                out.major = FUSE_KERNEL_VERSION;
                out.minor = std::min<uint32_t>(init.minor, FUSE_KERNEL_MINOR_VERSION);
                out.max_readahead = init.max_readahead;
                out.max_write = 4096;
                out.max_background = 16;
                out.congestion_threshold = 12;
                out.time_gran = 1;
                reply(in.unique, 0, &out, sizeof out);
                break;
            }
            case FUSE_GETATTR: {
                fuse_attr_out out;
                std::memset(&out, 0, sizeof out);
                out.attr.ino = FUSE_ROOT_ID;
                out.attr.mode = S_IFDIR | 0755;
                out.attr.nlink = 2;
                out.attr.blksize = 4096;
                reply(in.unique, 0, &out, sizeof out);
                break;
            }
            case FUSE_OPENDIR: {
                if (!paced())
                    return;
                fuse_open_out out;
                std::memset(&out, 0, sizeof out);
                out.fh = 1;
                reply(in.unique, 0, &out, sizeof out);
                break;
            }
            case FUSE_READDIR: {
                fuse_read_in read;
                std::memset(&read, 0, sizeof read);
                std::memcpy(&read, arguments, std::min(sizeof read, argumentSize));
                {
                    const std::lock_guard lock(mutex);
                    if (answeredPieces >= 0 && pieces >= answeredPieces) {
                        if (failWith != 0)
                            reply(in.unique, -failWith);
                        break; // else gone quiet: never answered
                    }
                }
                if (!paced())
                    return;
                const std::vector<char> out = listing(read.offset, read.size);
                {
                    const std::lock_guard lock(mutex);
                    ++pieces;
                    if (out.empty())
                        ++ends;
                }
                reply(in.unique, 0, out.data(), out.size());
                break;
            }
            case FUSE_STATFS: {
                fuse_statfs_out out;
                std::memset(&out, 0, sizeof out);
                out.st.bsize = 4096;
                out.st.namelen = 255;
                reply(in.unique, 0, &out, sizeof out);
                break;
            }
            case FUSE_LOOKUP:
                reply(in.unique, -ENOENT);
                break;
            case FUSE_RELEASEDIR:
            case FUSE_ACCESS:
            case FUSE_FLUSH:
            case FUSE_DESTROY:
                reply(in.unique, 0);
                break;
            case FUSE_FORGET:
            case FUSE_BATCH_FORGET:
            case FUSE_INTERRUPT:
                break; // no answer expected
            default:
                reply(in.unique, -ENOSYS);
                break;
            }
        }
    }
};

PacedFuse::PacedFuse(const QByteArray &mountPoint, int entries, std::chrono::milliseconds pace,
                     int answeredPieces, int failWith)
    : m_server(std::make_shared<Server>())
{
    Server &server = *m_server;
    server.mountPoint = mountPoint;
    server.entries = entries;
    server.pace = pace;
    server.answeredPieces = answeredPieces;
    server.failWith = failWith;
    server.fuseFd = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
    if (server.fuseFd < 0) {
        server.problem = QStringLiteral("no /dev/fuse: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        return;
    }
    const QByteArray options = "fd=" + QByteArray::number(server.fuseFd) +
                               ",rootmode=40000,user_id=" + QByteArray::number(::getuid()) +
                               ",group_id=" + QByteArray::number(::getgid()) + ",allow_other";
    if (::mount("paced", mountPoint.constData(), "fuse.paced", MS_NOSUID | MS_NODEV, options.constData()) !=
        0) {
        server.problem = QStringLiteral("cannot mount: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        ::close(server.fuseFd);
        server.fuseFd = -1;
        return;
    }
    server.isMounted = true;
    server.stopFd = ::eventfd(0, EFD_CLOEXEC);
    server.thread = std::thread([&server] { server.serve(); });
}

PacedFuse::~PacedFuse()
{
    Server &server = *m_server;
    if (!server.isMounted)
        return;
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(server.stopFd, &one, sizeof one);
    server.thread.join();
    ::umount2(server.mountPoint.constData(), MNT_DETACH);
    // Closing the device ends the connection: whatever still waits fails.
    ::close(server.fuseFd);
    ::close(server.stopFd);
}

bool PacedFuse::mounted() const
{
    return m_server->isMounted;
}

QString PacedFuse::whyNot() const
{
    return m_server->problem;
}

QByteArray PacedFuse::entryName(int i)
{
    // Long names: a piece of the listing fills most of a page.
    return QByteArray("entry-") + QByteArray::number(i).rightJustified(5, '0') +
           "-of-a-folder-on-a-slow-file-server.dat";
}

int PacedFuse::piecesAnswered() const
{
    const std::lock_guard lock(m_server->mutex);
    return m_server->pieces;
}

int PacedFuse::endsAnswered() const
{
    const std::lock_guard lock(m_server->mutex);
    return m_server->ends;
}
