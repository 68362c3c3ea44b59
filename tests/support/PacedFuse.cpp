#include "support/PacedFuse.h"

#include "support/FuseMount.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

#include <dirent.h>
#include <linux/fuse.h>

// Opens and pieces of the listing are answered after `pace`, as by a slow
// server; the rest is an empty folder's answers.
struct PacedFuse::Server
{
    int entries = 0;
    std::chrono::milliseconds pace{0};
    int answeredPieces = -1;
    int failWith = 0;

    mutable std::mutex mutex;
    int pieces = 0;
    int ends = 0;
    std::unique_ptr<FuseMount> mount; // made last, taken down first

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

    FuseMount::Handling readPiece(const fuse_in_header &in, const char *arguments, size_t size)
    {
        fuse_read_in read;
        std::memset(&read, 0, sizeof read);
        std::memcpy(&read, arguments, std::min(sizeof read, size));
        {
            const std::lock_guard lock(mutex);
            if (answeredPieces >= 0 && pieces >= answeredPieces) {
                if (failWith != 0)
                    mount->reply(in.unique, -failWith);
                return FuseMount::Handling::Answered; // else gone quiet: never answered
            }
        }
        if (!mount->wait(pace))
            return FuseMount::Handling::Stop;
        const std::vector<char> out = listing(read.offset, read.size);
        {
            const std::lock_guard lock(mutex);
            ++pieces;
            if (out.empty())
                ++ends;
        }
        mount->reply(in.unique, 0, out.data(), out.size());
        return FuseMount::Handling::Answered;
    }
};

PacedFuse::PacedFuse(const QByteArray &mountPoint, int entries, std::chrono::milliseconds pace,
                     int answeredPieces, int failWith)
    : m_server(std::make_shared<Server>())
{
    Server &server = *m_server;
    server.entries = entries;
    server.pace = pace;
    server.answeredPieces = answeredPieces;
    server.failWith = failWith;
    const auto handle = [&server](const fuse_in_header &in, const char *arguments, size_t size) {
        switch (in.opcode) {
        case FUSE_OPENDIR:
            return server.mount->wait(server.pace) ? FuseMount::Handling::Default : FuseMount::Handling::Stop;
        case FUSE_READDIR:
            return server.readPiece(in, arguments, size);
        default:
            return FuseMount::Handling::Default;
        }
    };
    // Opens and reads, which use the mount, come only once it is made.
    server.mount = std::make_unique<FuseMount>(mountPoint, "paced", handle);
}

PacedFuse::~PacedFuse()
{
    m_server->mount.reset();
}

bool PacedFuse::mounted() const
{
    return m_server->mount->mounted();
}

QString PacedFuse::whyNot() const
{
    return m_server->mount->whyNot();
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
