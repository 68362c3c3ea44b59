#pragma once

#include <QByteArray>
#include <QString>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

struct fuse_in_header;

// A FUSE file system served by the test process itself: the kernel's side of
// FUSE answered by hand on one thread, for a root folder and nothing below
// it. Mounting needs root and /dev/fuse (mounted() says whether it worked);
// destruction stops the thread, unmounts and closes the device, which fails
// every request still waiting.
//
// The handler sees every request first and says what became of it; what it
// leaves is answered as an empty folder answers (attributes at once, no
// entries, no name found, nothing else supported).
class FuseMount
{
public:
    enum class Handling { Answered, Default, Stop };
    using Handler = std::function<Handling(const fuse_in_header &in, const char *arguments, size_t size)>;

    FuseMount(const QByteArray &mountPoint, const char *name, Handler handler,
              uint64_t attributesValidSeconds = 0);
    ~FuseMount();
    FuseMount(const FuseMount &) = delete;
    FuseMount &operator=(const FuseMount &) = delete;

    bool mounted() const;
    // Why it could not be mounted.
    QString whyNot() const;
    // Answers a request (safe from any thread).
    void reply(uint64_t unique, int error, const void *payload = nullptr, size_t size = 0) const;
    // Waits `pause`, or less when the mount is being taken down; false then.
    bool wait(std::chrono::milliseconds pause) const;

    struct State;

private:
    std::unique_ptr<State> m_state;
};
