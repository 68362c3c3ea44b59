#pragma once

// Folder listings read ahead of the one thread that uses them, by a few
// worker threads: while that thread walks one folder and judges its
// shortcuts, the workers open and read the folders it will want next, so
// a cold disk or a share a round trip away has several requests in flight
// instead of one.
//
// Each request names a folder by a path below a folder kept open (the top
// of a walk), opened without following a symbolic link on the way. Requests
// are read in the order they came (breadth first, as the caller hands the
// sub-folders of each folder read), except that one the caller waits for
// goes before all others. Reads done and not yet taken are bounded: beyond
// that the workers wait, so memory stays flat however far the drive goes.
//
// The number of workers adapts to the device: a read that costs the worker
// no more processor time than it takes (a warm cache) wants no more workers
// than processors; one that waits for the device (a cold disk, a share)
// wants more requests in flight, up to kMaxWorkers.

#include "platform/BoundedCall.h"
#include "platform/FolderListing.h"
#include "platform/PosixPath.h"

#include <QByteArray>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include <sys/stat.h>

class FolderReadAhead
{
public:
    static constexpr int kMaxWorkers = 16;
    // Reads done and not taken, at most, per worker.
    static constexpr size_t kAheadPerWorker = 256;

    struct Read
    {
        quint64 key = 0;
        struct stat st = {};
        FolderListing listing; // stamped, every entry; empty on error
        int error = 0;         // errno of a folder that could not be opened or read
    };

    // Paths are below `top` (an open folder, shared with the workers). A
    // read that gives no answer for `noAnswer` has stopped answering.
    FolderReadAhead(std::shared_ptr<posix::UniqueFd> top, int processors,
                    std::chrono::milliseconds noAnswer = BoundedCall::kNoAnswer);
    // Stops the workers and waits for them; a worker caught in a call on a
    // place that stopped answering (or one given up already) is left to
    // finish on its own.
    ~FolderReadAhead();
    FolderReadAhead(const FolderReadAhead &) = delete;
    FolderReadAhead &operator=(const FolderReadAhead &) = delete;

    // Asks for the folder at `path` (relative to the top, "" for the top
    // itself) to be read; `key` names it to the caller, once. `place` names
    // the file system that may not answer it lies on (empty for one that
    // always answers): while a read given up there has not returned, reads
    // of that place fail at once (BoundedCall::processHungPlaces).
    void add(quint64 key, QByteArray path, QByteArray place = {});
    // Moves the reads done so far into `out` (at most `most`).
    void takeDone(std::vector<Read> &out, size_t most);
    // Waits for the read of `key` (put before every other request when no
    // worker took it yet), running `keepWaiting` every few milliseconds.
    // Nothing when `keepWaiting` said stop, when the key is unknown, or when
    // the read stopped answering (no progress for `noAnswer`).
    std::optional<Read> waitFor(quint64 key, const std::function<bool()> &keepWaiting,
                                std::chrono::milliseconds noAnswer = BoundedCall::kNoAnswer);
    // Waits up to `most` for some read to be done; false when none is
    // queued or under way.
    bool waitAny(std::chrono::milliseconds most);
    // Whether `key` was asked for and not taken yet.
    bool holds(quint64 key) const;
    // Nothing queued, under way or done and not taken.
    bool idle() const;
    // Reads done and not taken yet.
    size_t ready() const;
    int workers() const;

    struct Shared;

private:
    std::shared_ptr<Shared> m_shared;
};
