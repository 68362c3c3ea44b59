#pragma once

// Folder listings read ahead of the one thread that uses them, by a few
// worker threads: while that thread walks one folder and judges its
// shortcuts, the workers open and read the folders it will want next, so
// a cold disk or a share a round trip away has several requests in flight
// instead of one.
//
// Each request names a folder by a path below a folder kept open (the top
// of a walk), opened without following a symbolic link on the way. Requests
// are read in the order they came, except that one the caller waits for
// goes before all others. Reads done and not yet taken are bounded: beyond
// that the workers wait, so memory stays flat however far the drive goes.
//
// Given a rule for which sub-folders to enter, a worker that read a folder
// goes on to those sub-folders itself, depth first in the folder's own
// order (the order a walk takes them), opening each relative to the folder
// it just read while that stays open: the workers then run ahead of the
// caller instead of waiting for it to hand each folder over, and a folder
// costs an open by one name, not a path walked from the top.
//
// The number of workers adapts to the device: reads that never block (a
// warm cache) want no more workers than processors; reads that block on
// the device (a cold disk, a share) want more requests in flight, up to
// kMaxWorkers.

#include "platform/BoundedCall.h"
#include "platform/FileIdentity.h"
#include "platform/FolderListing.h"
#include "platform/PosixPath.h"

#include <QByteArray>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include <sys/stat.h>

class FolderReadAhead
{
public:
    static constexpr int kMaxWorkers = 16;
    // Reads done and not taken, at most, per worker.
    static constexpr size_t kAheadPerWorker = 256;

    // Keys of the requests the workers make themselves; the caller's keys
    // stay below.
    static constexpr quint64 kOwnKeys = quint64(1) << 63;

    struct Read
    {
        quint64 key = 0;
        struct stat st = {};
        FolderListing listing; // stamped, every entry; empty on error
        int error = 0;         // errno of a folder that could not be opened or read
        // The sub-folders the workers went on to: an item's index in the
        // listing, and the key its read comes back under.
        std::vector<std::pair<quint32, quint64>> children;
    };

    // Whether the workers may go on to the sub-folder `name` of the folder
    // `parent` by themselves. Called on the workers' threads.
    using EnterRule = std::function<bool(const FileIdentity &parent, std::string_view name)>;

    // Brings the plain file `name` (zero-terminated) of the folder open on
    // `folder` into memory if the caller will read it, with whatever else
    // of the device the caller will look at for it. Called on the workers'
    // threads.
    using Warmer = std::function<void(int folder, const char *name)>;

    // Paths are below `top` (an open folder, shared with the workers). A
    // read that gives no answer for `noAnswer` has stopped answering. With
    // `enter`, the workers go on to the sub-folders it allows (see above).
    // With `warm`, while reads block on the device, the workers also hand
    // it the plain files of each folder they read, so that the caller finds
    // what it reads next in memory rather than waiting for each in turn.
    FolderReadAhead(std::shared_ptr<posix::UniqueFd> top, int processors,
                    std::chrono::milliseconds noAnswer = BoundedCall::kNoAnswer, EnterRule enter = {},
                    Warmer warm = {});
    // Stops the workers and waits for them; a worker caught in a call on a
    // place that stopped answering (or one given up already) is left to
    // finish on its own.
    ~FolderReadAhead();
    FolderReadAhead(const FolderReadAhead &) = delete;
    FolderReadAhead &operator=(const FolderReadAhead &) = delete;

    // Asks for the folder at `path` (relative to the top, "" for the top
    // itself) to be read; `key` (below kOwnKeys) names it to the caller,
    // once. `place` names the file system that may not answer it lies on
    // (empty for one that always answers): while a read given up there has
    // not returned, reads of that place fail at once
    // (BoundedCall::processHungPlaces).
    void add(quint64 key, QByteArray path, QByteArray place = {});
    // Gives up the requests of `keys` (the workers' own, of a read the
    // caller did not take): not read if not read yet, and not gone on from.
    void drop(const std::vector<std::pair<quint32, quint64>> &keys);
    // Takes back reads the caller is done with, to be filled again (and
    // empties `reads`).
    void giveBack(std::vector<Read> &reads);
    // Moves the reads done so far into `out` (at most `most`).
    void takeDone(std::vector<Read> &out, size_t most);
    // Waits for the read of `key`, running `keepWaiting` every few
    // milliseconds. One no worker took yet is read on the calling thread at
    // once, or, on a place that may not answer, put before every other
    // request. Nothing when `keepWaiting` said stop, when the key is
    // unknown, or when the read stopped answering (no progress for
    // `noAnswer`).
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
