#pragma once

// Calls into a file system that may not answer (a network share whose
// server has gone, a stuck FUSE mount): a stat() or an opendir() there can
// block for minutes, or for good. Such a call runs on a worker thread while
// the caller waits in short slices and may do its own work in between (keep
// a window alive, check a time limit). A call the caller gives up on is left
// to finish on its own; until it does, further calls on the same place fail
// at once instead of leaving more blocked threads behind.

#include <QByteArray>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

namespace BoundedCall {

// How often the caller's wait function runs while a call is under way.
constexpr std::chrono::milliseconds kSlice{5};

// A place that makes no progress at all for this long has stopped
// answering. A slow one (a share a round trip away, a disk spinning up)
// answers every request, however long the whole takes: it is waited for.
constexpr std::chrono::milliseconds kNoAnswer{20000};

// What a call tells of its progress while it runs (a piece of a folder
// read, one entry looked at): the caller gives up only when no progress
// came for a while, never for the time the whole takes.
class Progress
{
public:
    Progress() : m_lastNs(nowNs()) {}
    void advance() { m_lastNs.store(nowNs(), std::memory_order_relaxed); }
    // How long ago the last progress came.
    std::chrono::milliseconds quietFor() const
    {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::nanoseconds(nowNs() - m_lastNs.load(std::memory_order_relaxed)));
    }

private:
    static qint64 nowNs()
    {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
    std::atomic<qint64> m_lastNs;
};

// Places (a mount point, a device, a share) with a call that was given up
// and has not returned yet. Shared with the worker threads, which may
// outlive their callers.
class HungPlaces
{
public:
    bool contains(const QByteArray &place) const;
    void add(const QByteArray &place);
    void remove(const QByteArray &place);
    int count() const;

private:
    mutable std::mutex m_mutex;
    std::vector<QByteArray> m_places; // one element per hanging call
};

// The process's own list: callers that share it skip places on which any
// of them saw a call hang.
std::shared_ptr<HungPlaces> processHungPlaces();

// Runs `work` on a worker thread. While it runs, `keepWaiting` is called
// every kSlice; once it returns false the call is given up. Nothing when the
// call was given up, when an earlier call on `place` still hangs, or when no
// thread could be started. `work` must own everything it touches: it may run
// on after the caller has gone.
template <typename Result>
std::optional<Result> run(const std::shared_ptr<HungPlaces> &hung, const QByteArray &place,
                          std::function<Result()> work, const std::function<bool()> &keepWaiting)
{
    if (hung->contains(place))
        return std::nullopt;
    struct Call
    {
        std::mutex mutex;
        std::condition_variable done;
        std::optional<Result> result;
        bool finished = false;
        bool abandoned = false;
    };
    const auto call = std::make_shared<Call>();
    try {
        std::thread([call, hung, place, work = std::move(work)]() mutable {
            std::optional<Result> result;
            try {
                result = work();
            } catch (...) {
                // A call that failed has no result.
            }
            const std::lock_guard lock(call->mutex);
            call->result = std::move(result);
            call->finished = true;
            if (call->abandoned)
                hung->remove(place);
            call->done.notify_all();
        }).detach();
    } catch (const std::system_error &) {
        return std::nullopt;
    }

    // The wait function runs without the lock held: it may take its time.
    std::unique_lock lock(call->mutex);
    for (;;) {
        if (call->done.wait_for(lock, kSlice, [&] { return call->finished; }))
            return std::move(call->result);
        lock.unlock();
        const bool wait = keepWaiting();
        lock.lock();
        if (call->finished)
            return std::move(call->result);
        if (!wait) {
            call->abandoned = true;
            hung->add(place);
            return std::nullopt;
        }
    }
}

// Runs `work` as run() does, handing it a Progress to advance as it goes,
// and waits while it answers: the call is given up when `keepWaiting` says
// so, or when no progress came for `noAnswer` (the place stopped answering).
template <typename Result>
std::optional<Result> runWhileAnswering(const std::shared_ptr<HungPlaces> &hung, const QByteArray &place,
                                        std::function<Result(Progress &)> work,
                                        const std::function<bool()> &keepWaiting,
                                        std::chrono::milliseconds noAnswer = kNoAnswer)
{
    const auto progress = std::make_shared<Progress>();
    return run<Result>(
        hung, place, [progress, work = std::move(work)] { return work(*progress); },
        [&] { return progress->quietFor() < noAnswer && (!keepWaiting || keepWaiting()); });
}

} // namespace BoundedCall
