#include "support/BlockingFuse.h"

#include "support/FuseMount.h"

#include <cstring>
#include <mutex>
#include <vector>

#include <linux/fuse.h>

// Every open of the root folder waits until release(); the rest is an empty
// folder's answers.
struct BlockingFuse::Server
{
    mutable std::mutex mutex;
    std::vector<uint64_t> waitingOpens;
    bool released = false;
    int opens = 0;
    std::unique_ptr<FuseMount> mount; // made last, taken down first

    void answerOpen(uint64_t unique) const
    {
        fuse_open_out out;
        std::memset(&out, 0, sizeof out);
        out.fh = 1;
        mount->reply(unique, 0, &out, sizeof out);
    }
};

BlockingFuse::BlockingFuse(const QByteArray &mountPoint) : m_server(std::make_shared<Server>())
{
    Server &server = *m_server;
    const auto handle = [&server](const fuse_in_header &in, const char *, size_t) {
        if (in.opcode != FUSE_OPENDIR)
            return FuseMount::Handling::Default;
        const std::lock_guard lock(server.mutex);
        ++server.opens;
        if (server.released)
            server.answerOpen(in.unique);
        else
            server.waitingOpens.push_back(in.unique);
        return FuseMount::Handling::Answered;
    };
    // Opens and reads, which use the mount, come only once it is made.
    server.mount = std::make_unique<FuseMount>(mountPoint, "blocking", handle, 3600);
}

BlockingFuse::~BlockingFuse()
{
    release();
    m_server->mount.reset();
}

bool BlockingFuse::mounted() const
{
    return m_server->mount->mounted();
}

QString BlockingFuse::whyNot() const
{
    return m_server->mount->whyNot();
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
