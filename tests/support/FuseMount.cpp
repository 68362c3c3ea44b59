#include "support/FuseMount.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
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

struct FuseMount::State
{
    QByteArray mountPoint;
    Handler handler;
    uint64_t attributesValid = 0;
    int fuseFd = -1;
    int stopFd = -1;
    bool isMounted = false;
    QString problem;
    std::thread thread;
};

namespace {

void answerDefault(const FuseMount &mount, const fuse_in_header &in, const char *arguments, size_t size,
                   uint64_t attributesValid)
{
    switch (in.opcode) {
    case FUSE_INIT: {
        fuse_init_in init;
        std::memset(&init, 0, sizeof init);
        std::memcpy(&init, arguments, std::min(sizeof init, size));
        fuse_init_out out;
        std::memset(&out, 0, sizeof out);
        out.major = FUSE_KERNEL_VERSION;
        out.minor = std::min<uint32_t>(init.minor, FUSE_KERNEL_MINOR_VERSION);
        out.max_readahead = init.max_readahead;
        out.max_write = 4096;
        out.max_background = 16;
        out.congestion_threshold = 12;
        out.time_gran = 1;
        mount.reply(in.unique, 0, &out, sizeof out);
        break;
    }
    case FUSE_GETATTR: {
        fuse_attr_out out;
        std::memset(&out, 0, sizeof out);
        out.attr_valid = attributesValid;
        out.attr.ino = FUSE_ROOT_ID;
        out.attr.mode = S_IFDIR | 0755;
        out.attr.nlink = 2;
        out.attr.blksize = 4096;
        mount.reply(in.unique, 0, &out, sizeof out);
        break;
    }
    case FUSE_OPENDIR: {
        fuse_open_out out;
        std::memset(&out, 0, sizeof out);
        out.fh = 1;
        mount.reply(in.unique, 0, &out, sizeof out);
        break;
    }
    case FUSE_STATFS: {
        fuse_statfs_out out;
        std::memset(&out, 0, sizeof out);
        out.st.bsize = 4096;
        out.st.namelen = 255;
        mount.reply(in.unique, 0, &out, sizeof out);
        break;
    }
    case FUSE_LOOKUP:
        mount.reply(in.unique, -ENOENT);
        break;
    case FUSE_READDIR:
    case FUSE_READDIRPLUS:
    case FUSE_RELEASEDIR:
    case FUSE_ACCESS:
    case FUSE_FLUSH:
    case FUSE_DESTROY:
        mount.reply(in.unique, 0); // an empty folder, nothing to give back
        break;
    case FUSE_FORGET:
    case FUSE_BATCH_FORGET:
    case FUSE_INTERRUPT:
        break; // no answer expected
    default:
        mount.reply(in.unique, -ENOSYS);
        break;
    }
}

void serve(const FuseMount &mount, FuseMount::State &state)
{
    std::vector<char> buffer(FUSE_MIN_READ_BUFFER + 64 * 1024);
    for (;;) {
        pollfd watched[2] = {{state.fuseFd, POLLIN, 0}, {state.stopFd, POLLIN, 0}};
        if (::poll(watched, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (watched[1].revents)
            return;
        const ssize_t got = ::read(state.fuseFd, buffer.data(), buffer.size());
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
        const size_t size = size_t(got) - sizeof in;
        switch (state.handler(in, arguments, size)) {
        case FuseMount::Handling::Answered:
            break;
        case FuseMount::Handling::Default:
            answerDefault(mount, in, arguments, size, state.attributesValid);
            break;
        case FuseMount::Handling::Stop:
            return;
        }
    }
}

} // namespace

FuseMount::FuseMount(const QByteArray &mountPoint, const char *name, Handler handler,
                     uint64_t attributesValidSeconds)
    : m_state(std::make_unique<State>())
{
    State &state = *m_state;
    state.mountPoint = mountPoint;
    state.handler = std::move(handler);
    state.attributesValid = attributesValidSeconds;
    state.fuseFd = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
    if (state.fuseFd < 0) {
        state.problem = QStringLiteral("no /dev/fuse: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        return;
    }
    const QByteArray options = "fd=" + QByteArray::number(state.fuseFd) +
                               ",rootmode=40000,user_id=" + QByteArray::number(::getuid()) +
                               ",group_id=" + QByteArray::number(::getgid()) + ",allow_other";
    const QByteArray type = QByteArray("fuse.") + name;
    if (::mount(name, mountPoint.constData(), type.constData(), MS_NOSUID | MS_NODEV, options.constData()) !=
        0) {
        state.problem = QStringLiteral("cannot mount: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        ::close(state.fuseFd);
        state.fuseFd = -1;
        return;
    }
    state.isMounted = true;
    state.stopFd = ::eventfd(0, EFD_CLOEXEC);
    state.thread = std::thread([this] { serve(*this, *m_state); });
}

FuseMount::~FuseMount()
{
    State &state = *m_state;
    if (!state.isMounted)
        return;
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(state.stopFd, &one, sizeof one);
    state.thread.join();
    ::umount2(state.mountPoint.constData(), MNT_DETACH);
    // Closing the device ends the connection: whatever still waits fails.
    ::close(state.fuseFd);
    ::close(state.stopFd);
}

bool FuseMount::mounted() const
{
    return m_state->isMounted;
}

QString FuseMount::whyNot() const
{
    return m_state->problem;
}

void FuseMount::reply(uint64_t unique, int error, const void *payload, size_t size) const
{
    fuse_out_header out;
    std::memset(&out, 0, sizeof out);
    const size_t body = error == 0 ? size : 0;
    out.len = uint32_t(sizeof out + body);
    out.error = error;
    out.unique = unique;
    iovec parts[2] = {{&out, sizeof out}, {const_cast<void *>(payload), body}};
    [[maybe_unused]] const ssize_t written = ::writev(m_state->fuseFd, parts, body ? 2 : 1);
}

bool FuseMount::wait(std::chrono::milliseconds pause) const
{
    pollfd stop = {m_state->stopFd, POLLIN, 0};
    return ::poll(&stop, 1, int(pause.count())) == 0;
}
