#include "platform/FolderReadAhead.h"

#include "platform/FileClock.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <unordered_map>

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

namespace {

// Opens a folder below `top` by a relative path, following no symbolic link
// on the way: a folder swapped for a link since its parent was read is not
// followed somewhere else.
int openBelow(int top, const QByteArray &relative)
{
    const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    if (relative.isEmpty())
        return ::openat(top, ".", flags);
    if (!relative.contains('/'))
        return ::openat(top, relative.constData(), flags);
    open_how how;
    std::memset(&how, 0, sizeof how);
    how.flags = flags;
    how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    const long fd = ::syscall(SYS_openat2, top, relative.constData(), &how, sizeof how);
    if (fd >= 0 || errno != ENOSYS)
        return int(fd);
    return ::openat(top, relative.constData(), flags);
}

qint64 threadCpuNs()
{
    timespec now;
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return qint64(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

qint64 monotonicNs()
{
    timespec now;
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

// Reads per look at whether the device wants more requests in flight.
constexpr int kReadsPerAdapt = 32;

} // namespace

struct FolderReadAhead::Shared
{
    enum class State { Queued, Reading, Done, Abandoned };
    struct Job
    {
        QByteArray path;
        QByteArray place;
        State state = State::Queued;
        // Given up as not answering: its place counts as hanging until the
        // read returns.
        bool hangs = false;
        std::shared_ptr<BoundedCall::Progress> progress;
    };

    std::shared_ptr<posix::UniqueFd> top;
    int processors = 1;
    std::chrono::milliseconds noAnswer = BoundedCall::kNoAnswer;

    mutable std::mutex mutex;
    std::condition_variable work;     // for the workers
    std::condition_variable finished; // for the caller
    std::deque<quint64> queue;
    std::deque<quint64> urgent;
    std::unordered_map<quint64, Job> jobs;
    std::deque<Read> done;
    size_t queued = 0; // jobs still Queued
    int busy = 0;
    bool stopping = false;
    bool growWanted = false;
    // Since the last look at the device: reads, their time and the
    // processor time they cost.
    int reads = 0;
    qint64 wallNs = 0, cpuNs = 0;

    // Owned by the caller's thread; `exited` is written by the workers.
    std::vector<std::thread> threads;
    std::vector<char> exited; // by worker; its size is the number of workers started
    size_t workerCount() const { return exited.size(); }

    size_t limit() const { return kAheadPerWorker * std::max<size_t>(workerCount(), 1); }

    bool hasWork() const { return !urgent.empty() || (queued > 0 && done.size() < limit()); }

    // The next job for a worker; 0 when there is none (keys start at 1).
    quint64 pick()
    {
        while (!urgent.empty()) {
            const quint64 key = urgent.front();
            urgent.pop_front();
            if (auto it = jobs.find(key); it != jobs.end() && it->second.state == State::Queued)
                return key;
        }
        if (done.size() >= limit())
            return 0;
        while (!queue.empty()) {
            const quint64 key = queue.front();
            queue.pop_front();
            if (auto it = jobs.find(key); it != jobs.end() && it->second.state == State::Queued)
                return key;
        }
        return 0;
    }

    static Read readFolder(int topFd, quint64 key, const QByteArray &path, const QByteArray &place,
                           BoundedCall::Progress &progress)
    {
        Read read;
        read.key = key;
        if (!place.isEmpty() && BoundedCall::processHungPlaces()->contains(place)) {
            read.error = ENOTCONN; // a call there still hangs
            return read;
        }
        const posix::UniqueFd fd(openBelow(topFd, path));
        if (!fd.isValid() || ::fstat(fd.get(), &read.st) != 0) {
            read.error = errno ? errno : EIO;
            return read;
        }
        progress.advance();
        read.listing.stamp = FolderStamp::of(read.st, wallClockNs());
        read.listing.current = true;
        FolderReader reader;
        while (reader.readPiece(fd.get(), read.listing))
            progress.advance();
        if (reader.error() != 0) {
            // Half a folder is not the folder.
            read.error = reader.error();
            read.listing = FolderListing{};
        }
        return read;
    }

    void run(size_t index)
    {
        std::unique_lock lock(mutex);
        for (;;) {
            work.wait(lock, [&] { return stopping || hasWork(); });
            if (stopping)
                break;
            const quint64 key = pick();
            if (key == 0)
                continue;
            Job &job = jobs[key];
            job.state = State::Reading;
            job.progress = std::make_shared<BoundedCall::Progress>();
            --queued;
            ++busy;
            const QByteArray path = job.path, place = job.place;
            const std::shared_ptr<BoundedCall::Progress> progress = job.progress;
            lock.unlock();

            const qint64 wall0 = monotonicNs(), cpu0 = threadCpuNs();
            Read read = readFolder(top->get(), key, path, place, *progress);
            const qint64 wall = monotonicNs() - wall0, cpu = threadCpuNs() - cpu0;

            lock.lock();
            --busy;
            wallNs += wall;
            cpuNs += cpu;
            if (++reads >= kReadsPerAdapt) {
                // Waiting for the device most of the time: more requests in
                // flight pay; busy on the processor: more workers only
                // contend with the thread that takes the reads.
                if (wallNs > 2 * cpuNs && queued > workerCount() && workerCount() < size_t(kMaxWorkers))
                    growWanted = true;
                reads = 0;
                wallNs = cpuNs = 0;
            }
            auto it = jobs.find(key);
            if (it->second.state == State::Abandoned) {
                // Only what was added for this read: a read given up because
                // the caller stopped waiting never made its place hang, and
                // must not clear another read's mark there.
                if (it->second.hangs)
                    BoundedCall::processHungPlaces()->remove(place);
                jobs.erase(it);
            } else {
                it->second.state = State::Done;
                it->second.progress.reset();
                done.push_back(std::move(read));
            }
            finished.notify_all();
        }
        exited[index] = 1;
        finished.notify_all();
    }
};

namespace {

// Starts one more worker; the caller holds no lock and owns `shared->threads`.
void startWorker(const std::shared_ptr<FolderReadAhead::Shared> &shared)
{
    size_t index;
    {
        const std::lock_guard lock(shared->mutex);
        index = shared->exited.size();
        shared->exited.push_back(0);
    }
    try {
        shared->threads.emplace_back([shared, index] { shared->run(index); });
    } catch (const std::system_error &) {
        const std::lock_guard lock(shared->mutex);
        shared->exited[index] = 1; // none started: the others go on
        shared->threads.emplace_back();
    }
}

// More workers when the device asked for them (see run()).
void growIfWanted(const std::shared_ptr<FolderReadAhead::Shared> &shared)
{
    size_t more = 0;
    {
        const std::lock_guard lock(shared->mutex);
        // Doubling reaches what a share wants in a few steps.
        if (shared->growWanted)
            more =
                std::min(shared->workerCount(), size_t(FolderReadAhead::kMaxWorkers) - shared->workerCount());
        shared->growWanted = false;
    }
    for (size_t i = 0; i < more; ++i)
        startWorker(shared);
}

} // namespace

FolderReadAhead::FolderReadAhead(std::shared_ptr<posix::UniqueFd> top, int processors,
                                 std::chrono::milliseconds noAnswer)
    : m_shared(std::make_shared<Shared>())
{
    m_shared->top = std::move(top);
    m_shared->noAnswer = noAnswer;
    m_shared->processors = std::max(1, processors);
    // One worker beside the caller's thread on a small machine; the device
    // asks for more when it keeps them waiting.
    const int first = std::clamp(m_shared->processors - 1, 1, kMaxWorkers);
    for (int i = 0; i < first; ++i)
        startWorker(m_shared);
}

FolderReadAhead::~FolderReadAhead()
{
    Shared &shared = *m_shared;
    std::unique_lock lock(shared.mutex);
    shared.stopping = true;
    shared.work.notify_all();
    // A worker in a call that answers finishes it soon; one on a place that
    // stopped answering may never return, and is left to finish on its own.
    for (;;) {
        if (std::all_of(shared.exited.begin(), shared.exited.end(), [](char e) { return e != 0; }))
            break;
        const bool answering = std::any_of(shared.jobs.begin(), shared.jobs.end(), [&](const auto &entry) {
            return entry.second.state == Shared::State::Reading && entry.second.progress &&
                   entry.second.progress->quietFor() < shared.noAnswer;
        });
        // Whoever is still busy is caught on a place given up or silent.
        if (!answering && shared.busy > 0)
            break;
        shared.finished.wait_for(lock, BoundedCall::kSlice);
    }
    std::vector<char> exited = shared.exited;
    lock.unlock();
    for (size_t i = 0; i < shared.threads.size(); ++i) {
        std::thread &thread = shared.threads[i];
        if (!thread.joinable())
            continue;
        if (exited[i])
            thread.join();
        else
            thread.detach();
    }
}

void FolderReadAhead::add(quint64 key, QByteArray path, QByteArray place)
{
    {
        const std::lock_guard lock(m_shared->mutex);
        Shared::Job &job = m_shared->jobs[key];
        job.path = std::move(path);
        job.place = std::move(place);
        job.state = Shared::State::Queued;
        m_shared->queue.push_back(key);
        ++m_shared->queued;
    }
    m_shared->work.notify_one();
}

void FolderReadAhead::takeDone(std::vector<Read> &out, size_t most)
{
    {
        const std::lock_guard lock(m_shared->mutex);
        Shared &shared = *m_shared;
        const bool wasFull = shared.done.size() >= shared.limit();
        for (size_t i = 0; i < most && !shared.done.empty(); ++i) {
            shared.jobs.erase(shared.done.front().key);
            out.push_back(std::move(shared.done.front()));
            shared.done.pop_front();
        }
        if (wasFull)
            shared.work.notify_all();
    }
    growIfWanted(m_shared);
}

std::optional<FolderReadAhead::Read> FolderReadAhead::waitFor(quint64 key,
                                                              const std::function<bool()> &keepWaiting,
                                                              std::chrono::milliseconds noAnswer)
{
    Shared &shared = *m_shared;
    std::unique_lock lock(shared.mutex);
    auto it = shared.jobs.find(key);
    if (it == shared.jobs.end())
        return std::nullopt;
    if (it->second.state == Shared::State::Queued) {
        shared.urgent.push_back(key);
        // Every worker busy with folders wanted later: one more, so this one
        // waits for nothing but its own read.
        if (shared.busy >= int(shared.workerCount()) && shared.workerCount() < size_t(kMaxWorkers)) {
            lock.unlock();
            startWorker(m_shared);
            lock.lock();
        }
        shared.work.notify_all();
    }
    const auto take = [&]() -> std::optional<Read> {
        for (auto at = shared.done.begin(); at != shared.done.end(); ++at) {
            if (at->key == key) {
                Read read = std::move(*at);
                shared.done.erase(at);
                shared.jobs.erase(key);
                shared.work.notify_all();
                return read;
            }
        }
        return std::nullopt;
    };
    for (;;) {
        it = shared.jobs.find(key);
        if (it == shared.jobs.end())
            return std::nullopt;
        if (it->second.state == Shared::State::Done)
            return take();
        shared.finished.wait_for(lock, BoundedCall::kSlice);
        it = shared.jobs.find(key);
        if (it != shared.jobs.end() && it->second.state == Shared::State::Done)
            return take();
        const bool quiet = it != shared.jobs.end() && it->second.state == Shared::State::Reading &&
                           it->second.progress && it->second.progress->quietFor() >= noAnswer;
        lock.unlock();
        const bool wait = !quiet && (!keepWaiting || keepWaiting());
        lock.lock();
        if (!wait) {
            it = shared.jobs.find(key);
            if (it == shared.jobs.end())
                return std::nullopt;
            if (it->second.state == Shared::State::Done)
                return take();
            if (it->second.state == Shared::State::Queued)
                --shared.queued;
            // Dropped when it comes, if it ever does; until then, its place
            // is one that hangs.
            if (it->second.state == Shared::State::Reading) {
                it->second.state = Shared::State::Abandoned;
                if (quiet && !it->second.place.isEmpty()) {
                    BoundedCall::processHungPlaces()->add(it->second.place);
                    it->second.hangs = true;
                }
            } else
                shared.jobs.erase(it);
            return std::nullopt;
        }
    }
}

bool FolderReadAhead::waitAny(std::chrono::milliseconds most)
{
    growIfWanted(m_shared);
    Shared &shared = *m_shared;
    std::unique_lock lock(shared.mutex);
    if (!shared.done.empty())
        return true;
    if (shared.queued == 0 && shared.busy == 0)
        return false;
    shared.finished.wait_for(lock, most, [&] { return !shared.done.empty(); });
    return true;
}

bool FolderReadAhead::holds(quint64 key) const
{
    const std::lock_guard lock(m_shared->mutex);
    const auto it = m_shared->jobs.find(key);
    return it != m_shared->jobs.end() && it->second.state != Shared::State::Abandoned;
}

bool FolderReadAhead::idle() const
{
    const std::lock_guard lock(m_shared->mutex);
    return m_shared->queued == 0 && m_shared->busy == 0 && m_shared->done.empty();
}

size_t FolderReadAhead::ready() const
{
    const std::lock_guard lock(m_shared->mutex);
    return m_shared->done.size();
}

int FolderReadAhead::workers() const
{
    const std::lock_guard lock(m_shared->mutex);
    return int(m_shared->workerCount());
}
