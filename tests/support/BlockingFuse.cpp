#include "support/BlockingFuse.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <linux/fuse.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

// The kernel's side of FUSE, answered by hand: the few requests a folder
// that is looked at and opened brings.
struct BlockingFuse::Server
{
    QByteArray mountPoint;
    int fuseFd = -1;
    int stopFd = -1;
    bool isMounted = false;
    QString problem;
    std::thread thread;

    mutable std::mutex mutex;
    std::vector<uint64_t> waitingOpens;
    bool released = false;
    int opens = 0;

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

    void answerOpen(uint64_t unique)
    {
        fuse_open_out out;
        std::memset(&out, 0, sizeof out);
        out.fh = 1;
        reply(unique, 0, &out, sizeof out);
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
            switch (in.opcode) {
            case FUSE_INIT: {
                fuse_init_in init;
                std::memset(&init, 0, sizeof init);
                std::memcpy(&init, arguments, std::min(sizeof init, size_t(got) - sizeof in));
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
                out.attr_valid = 3600;
                out.attr.ino = FUSE_ROOT_ID;
                out.attr.mode = S_IFDIR | 0755;
                out.attr.nlink = 2;
                out.attr.blksize = 4096;
                reply(in.unique, 0, &out, sizeof out);
                break;
            }
            case FUSE_OPENDIR: {
                const std::lock_guard lock(mutex);
                ++opens;
                if (released)
                    answerOpen(in.unique);
                else
                    waitingOpens.push_back(in.unique);
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
            case FUSE_READDIR:
            case FUSE_READDIRPLUS:
            case FUSE_RELEASEDIR:
            case FUSE_ACCESS:
            case FUSE_FLUSH:
            case FUSE_DESTROY:
                reply(in.unique, 0); // an empty folder, nothing to give back
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

BlockingFuse::BlockingFuse(const QByteArray &mountPoint) : m_server(std::make_shared<Server>())
{
    Server &server = *m_server;
    server.mountPoint = mountPoint;
    server.fuseFd = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
    if (server.fuseFd < 0) {
        server.problem = QStringLiteral("no /dev/fuse: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        return;
    }
    const QByteArray options = "fd=" + QByteArray::number(server.fuseFd) +
                               ",rootmode=40000,user_id=" + QByteArray::number(::getuid()) +
                               ",group_id=" + QByteArray::number(::getgid()) + ",allow_other";
    if (::mount("blocking", mountPoint.constData(), "fuse.blocking", MS_NOSUID | MS_NODEV,
                options.constData()) != 0) {
        server.problem = QStringLiteral("cannot mount: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        ::close(server.fuseFd);
        server.fuseFd = -1;
        return;
    }
    server.isMounted = true;
    server.stopFd = ::eventfd(0, EFD_CLOEXEC);
    server.thread = std::thread([&server] { server.serve(); });
}

BlockingFuse::~BlockingFuse()
{
    Server &server = *m_server;
    if (!server.isMounted)
        return;
    release();
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(server.stopFd, &one, sizeof one);
    server.thread.join();
    ::umount2(server.mountPoint.constData(), MNT_DETACH);
    // Closing the device ends the connection: whatever still waits fails.
    ::close(server.fuseFd);
    ::close(server.stopFd);
}

bool BlockingFuse::mounted() const
{
    return m_server->isMounted;
}

QString BlockingFuse::whyNot() const
{
    return m_server->problem;
}

int BlockingFuse::opens() const
{
    const std::lock_guard lock(m_server->mutex);
    return m_server->opens;
}

int BlockingFuse::waiting() const
{
    const std::lock_guard lock(m_server->mutex);
    return int(m_server->waitingOpens.size());
}

void BlockingFuse::release()
{
    Server &server = *m_server;
    const std::lock_guard lock(server.mutex);
    server.released = true;
    for (const uint64_t unique : server.waitingOpens)
        server.answerOpen(unique);
    server.waitingOpens.clear();
}
