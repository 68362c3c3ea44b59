#include "platform/FolderReadAhead.h"

#include "platform/FileClock.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <unordered_map>

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/resource.h>
#include <sys/syscall.h>
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

// Voluntary context switches of the calling thread so far: a read that
// raised them blocked on the device (a warm cache never does; a busy
// processor preempts, which counts apart).
long blockedSoFar()
{
    rusage usage;
    return ::getrusage(RUSAGE_THREAD, &usage) == 0 ? usage.ru_nvcsw : 0;
}

// One read in so many is watched for blocking; so many watched reads make
// one look at whether the device wants more requests in flight.
constexpr int kReadsPerSample = 8;
constexpr int kSamplesPerAdapt = 8;

// How much less of the processors a worker asks for than the caller.
constexpr int kWorkerNice = 5;

// Folders a worker reads in one turn of the lock, at most.
constexpr size_t kBatch = 4;

// A caller waiting for any read is woken once so many are done: taking
// them one by one, it would wake (and put to sleep) for every folder.
constexpr size_t kWakeAfter = 16;

// Folders the workers keep open for their sub-folders, at most; beyond that
// a sub-folder is opened by its path from the top.
constexpr int kMostHeldOpen = 256;

} // namespace

struct FolderReadAhead::Shared
{
    enum class State { Queued, Reading, Done, Abandoned };

    // A folder a worker read and went on from: what its sub-folders need to
    // be opened by one name and to tell a folder that repeats one above it.
    struct Folder
    {
        FileIdentity identity;
        std::shared_ptr<const Folder> parent;
    };
    // A folder kept open for its sub-folders' opens, closed with the last.
    struct HeldOpen
    {
        posix::UniqueFd fd;
        std::atomic<int> *count;
        HeldOpen(int f, std::atomic<int> *c) : fd(f), count(c) { ++*count; }
        ~HeldOpen() { --*count; }
        HeldOpen(const HeldOpen &) = delete;
        HeldOpen &operator=(const HeldOpen &) = delete;
    };

    struct Job
    {
        QByteArray path; // below the top
        QByteArray place;
        State state = State::Queued;
        // Given up as not answering: its place counts as hanging until the
        // read returns.
        bool hangs = false;
        std::shared_ptr<BoundedCall::Progress> progress;
        // For a sub-folder a worker went on to: the folder it lies in, kept
        // open (or not, beyond kMostHeldOpen), and where its name starts in
        // `path`.
        std::shared_ptr<HeldOpen> parentOpen;
        std::shared_ptr<const Folder> parent;
        qsizetype nameAt = 0;
    };

    std::shared_ptr<posix::UniqueFd> top;
    std::chrono::milliseconds noAnswer = BoundedCall::kNoAnswer;
    EnterRule enter;
    Warmer warm;
    std::atomic<int> heldOpen{0};
    FolderReader callerReader; // for readHere(), on the caller's thread

    mutable std::mutex mutex;
    std::condition_variable work;     // for the workers
    std::condition_variable finished; // for the caller
    std::deque<quint64> queue;        // sub-folders the workers went on to in front, the caller's behind
    std::deque<quint64> urgent;
    std::unordered_map<quint64, Job> jobs;
    std::deque<Read> done;
    std::vector<Read> spare; // given back, emptied
    size_t queued = 0;       // jobs still Queued
    int busy = 0;
    int warming = 0;       // workers warming files of reads handed over
    int idleWorkers = 0;   // waiting for work
    int callerWaiting = 0; // waiting for a read
    // What the caller waits for: one read (its key), or any (then it is
    // woken once a few came, or the last).
    quint64 wantedKey = 0;
    bool wantsAny = false;
    quint64 ownSerial = 0;
    bool stopping = false;
    bool growWanted = false;
    std::atomic<bool> deviceBlocks{false}; // as the last look found
    // Since the last look at the device: reads watched, and how many of
    // them blocked.
    int samples = 0, blocked = 0;

    // Owned by the caller's thread; `exited` is written by the workers.
    std::vector<std::thread> threads;
    std::vector<char> exited; // by worker; its size is the number of workers started
    size_t workerCount() const { return exited.size(); }

    size_t limit() const { return kAheadPerWorker * std::max<size_t>(workerCount(), 1); }

    bool hasWork() const { return !urgent.empty() || (queued > 0 && done.size() < limit()); }

    void wakeWorker()
    {
        if (idleWorkers > 0)
            work.notify_one();
    }
    void wakeCaller(quint64 key)
    {
        if (callerWaiting == 0)
            return;
        if (key == wantedKey ||
            (wantsAny && (done.size() >= kWakeAfter || (queued == 0 && busy == 0) || done.size() >= limit())))
            finished.notify_all();
    }

    // A read to fill (the lock held): one the caller gave back, if any, so
    // that its memory goes round instead of being freed by one thread and
    // allocated again by another.
    Read spareRead()
    {
        if (spare.empty())
            return Read{};
        Read read = std::move(spare.back());
        spare.pop_back();
        return read;
    }

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

    int open(const Job &job) const
    {
        if (!job.parentOpen)
            return openBelow(top->get(), job.path);
        return ::openat(job.parentOpen->fd.get(), job.path.constData() + job.nameAt,
                        O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    }

    // Reads the folder of `job`, leaving it open in `fd` for its sub-folders.
    // With `blocked`, tells whether opening it blocked on the device.
    Read readFolder(Read read, quint64 key, const Job &job, FolderReader &reader, posix::UniqueFd &fd,
                    bool *blocked) const
    {
        read.key = key;
        if (!job.place.isEmpty() && BoundedCall::processHungPlaces()->contains(job.place)) {
            read.error = ENOTCONN; // a call there still hangs
            return read;
        }
        // Only the calls to the device are watched: a lock or an allocation
        // may block as well, on any device.
        const long before = blocked ? blockedSoFar() : 0;
        fd = posix::UniqueFd(open(job));
        const int error = fd.isValid() && ::fstat(fd.get(), &read.st) == 0 ? 0 : (errno ? errno : EIO);
        if (blocked)
            *blocked = blockedSoFar() > before;
        if (error != 0) {
            read.error = error;
            fd.reset();
            return read;
        }
        const FileIdentity identity{read.st.st_dev, read.st.st_ino};
        for (const Folder *above = job.parent.get(); above; above = above->parent.get()) {
            if (above->identity == identity) {
                // Mounted inside itself: going on would never end.
                read.error = ELOOP;
                fd.reset();
                return read;
            }
        }
        job.progress->advance();
        read.listing.stamp = FolderStamp::of(read.st, wallClockNs());
        read.listing.current = true;
        read.error = reader.readAll(fd.get(), read.listing, [&job] { job.progress->advance(); });
        if (read.error != 0)
            fd.reset();
        return read;
    }

    // The plain files of a folder just read, open on `fd`, for the warmer
    // (while reads block on the device): the folder kept open on a file
    // descriptor of its own and their names, each followed by a zero byte.
    // They are warmed once the read was handed over, so that a look that
    // hangs can never pass for the folder's read not answering.
    struct ToWarm
    {
        posix::UniqueFd folder;
        std::string names;
    };
    ToWarm filesToWarm(const Read &read, int fd) const
    {
        ToWarm files;
        if (!warm || read.error != 0 || fd < 0 || !deviceBlocks.load(std::memory_order_relaxed))
            return files;
        const FolderListing &listing = read.listing;
        for (const FolderListing::Item &item : listing.items)
            if (item.type == EntryType::File)
                files.names.append(listing.name(item), size_t(item.nameSize) + 1);
        if (!files.names.empty())
            files.folder = posix::UniqueFd(::fcntl(fd, F_DUPFD_CLOEXEC, 0));
        return files;
    }
    void warmFiles(const ToWarm &files) const
    {
        if (!files.folder.isValid())
            return;
        for (size_t at = 0; at < files.names.size(); at += std::strlen(files.names.data() + at) + 1)
            warm(files.folder.get(), files.names.data() + at);
    }

    // The sub-folders of a folder just read that the workers go on to, as
    // jobs (without keys yet), in the folder's order.
    std::vector<std::pair<quint32, Job>> subFolders(const Job &job, const Read &read, posix::UniqueFd &fd)
    {
        std::vector<std::pair<quint32, Job>> children;
        if (!enter || read.error != 0)
            return children;
        const FileIdentity identity{read.st.st_dev, read.st.st_ino};
        const FolderListing &listing = read.listing;
        for (size_t i = 0; i < listing.items.size(); ++i) {
            const FolderListing::Item &item = listing.items[i];
            if (item.type != EntryType::Folder)
                continue;
            const std::string_view name(listing.name(item), item.nameSize);
            if (!enter(identity, name))
                continue;
            Job child;
            child.path = job.path.isEmpty() ? QByteArray() : job.path + '/';
            child.nameAt = child.path.size();
            child.path.append(name.data(), qsizetype(name.size()));
            child.place = job.place;
            children.emplace_back(quint32(i), std::move(child));
        }
        if (children.empty())
            return children;
        const auto folder = std::make_shared<const Folder>(Folder{identity, job.parent});
        std::shared_ptr<HeldOpen> held;
        if (heldOpen.load(std::memory_order_relaxed) < kMostHeldOpen)
            held = std::make_shared<HeldOpen>(fd.release(), &heldOpen);
        for (auto &[index, child] : children) {
            child.parent = folder;
            child.parentOpen = held;
        }
        return children;
    }

    // Ends the read of `key` (the lock held): its sub-folders queued in
    // front, the first one first (depth first, in the folder's order). The
    // read to hand over; nothing for one given up meanwhile.
    std::optional<Read> finish(quint64 key, Read read, std::vector<std::pair<quint32, Job>> &children)
    {
        auto it = jobs.find(key);
        if (it->second.state == State::Abandoned) {
            // Only what was added for this read: a read given up because
            // the caller stopped waiting never made its place hang, and
            // must not clear another read's mark there.
            if (it->second.hangs)
                BoundedCall::processHungPlaces()->remove(it->second.place);
            jobs.erase(it);
            return std::nullopt;
        }
        it->second.state = State::Done;
        it->second.progress.reset();
        it->second.parentOpen.reset();
        it->second.parent.reset();
        read.children.reserve(children.size());
        for (auto &[item, child] : children) {
            const quint64 childKey = kOwnKeys | ++ownSerial;
            read.children.emplace_back(item, childKey);
            jobs.emplace(childKey, std::move(child));
            ++queued;
        }
        for (auto at = read.children.rbegin(); at != read.children.rend(); ++at)
            queue.push_front(at->second);
        if (read.children.size() > 1)
            wakeWorker();
        return read;
    }

    // Marks a job picked for reading (the lock held); the job's fields stay
    // as they are while it is Reading: the caller only marks it, and only
    // the one reading it erases it.
    const Job *startReading(quint64 key)
    {
        Job &job = jobs[key];
        job.state = State::Reading;
        job.progress = std::make_shared<BoundedCall::Progress>();
        --queued;
        return &job;
    }

    // Reads `key`, not taken by a worker yet, on the caller's thread: sooner
    // than waiting for a worker to come to it, and no wake-up either way.
    Read readHere(quint64 key, std::unique_lock<std::mutex> &lock)
    {
        const Job *reading = startReading(key);
        Read fresh = spareRead();
        lock.unlock();
        posix::UniqueFd fd;
        Read read = readFolder(std::move(fresh), key, *reading, callerReader, fd, nullptr);
        std::vector<std::pair<quint32, Job>> children = subFolders(*reading, read, fd);
        fd.reset();
        lock.lock();
        std::optional<Read> kept = finish(key, std::move(read), children);
        jobs.erase(key);
        return std::move(*kept); // only the caller abandons a read, and not this one
    }

    void run(size_t index)
    {
        // Below the caller's thread: where the processors are short, the
        // thread that takes the reads (a window's, too) goes first.
        ::setpriority(PRIO_PROCESS, pid_t(::gettid()), kWorkerNice);
        FolderReader reader;
        int sinceSample = 0;
        struct Slot
        {
            quint64 key;
            const Job *job;
            Read read;
            std::vector<std::pair<quint32, Job>> children;
            ToWarm files;
        };
        std::vector<Slot> batch;
        std::vector<std::optional<Read>> kept;
        std::unique_lock lock(mutex);
        for (;;) {
            ++idleWorkers;
            work.wait(lock, [&] { return stopping || hasWork(); });
            --idleWorkers;
            if (stopping)
                break;
            const quint64 key = pick();
            if (key == 0)
                continue;
            // Folders that always answer go a few at a time, for fewer turns
            // of the lock; one on a place that may not answer goes alone.
            batch.clear();
            batch.push_back(Slot{key, startReading(key), spareRead(), {}, {}});
            ++busy;
            while (batch.front().job->place.isEmpty() && batch.size() < kBatch && !queue.empty() &&
                   urgent.empty() && done.size() + batch.size() < limit()) {
                const auto next = jobs.find(queue.front());
                if (next != jobs.end() && next->second.state == State::Queued &&
                    !next->second.place.isEmpty())
                    break;
                queue.pop_front();
                if (next == jobs.end() || next->second.state != State::Queued)
                    continue;
                batch.push_back(Slot{next->first, startReading(next->first), spareRead(), {}, {}});
                ++busy;
            }
            lock.unlock();

            int watchedReads = 0, blockedReads = 0;
            for (Slot &slot : batch) {
                const bool watched = ++sinceSample >= kReadsPerSample;
                bool didBlock = false;
                posix::UniqueFd fd;
                slot.read = readFolder(std::move(slot.read), slot.key, *slot.job, reader, fd,
                                       watched ? &didBlock : nullptr);
                slot.files = filesToWarm(slot.read, fd.get());
                slot.children = subFolders(*slot.job, slot.read, fd);
                if (watched) {
                    sinceSample = 0;
                    ++watchedReads;
                    blockedReads += didBlock;
                }
            }

            lock.lock();
            busy -= int(batch.size());
            samples += watchedReads;
            blocked += blockedReads;
            if (samples >= kSamplesPerAdapt) {
                // Reads that wait for the device: more requests in flight
                // pay. Reads that never block only contend for the
                // processors with the thread that takes them.
                deviceBlocks = blocked * 2 >= samples;
                if (deviceBlocks && queued > workerCount() && workerCount() < size_t(kMaxWorkers))
                    growWanted = true;
                samples = blocked = 0;
            }
            // The last first, so that the first one's sub-folders end up in
            // front; handed over in the order they were asked for.
            kept.assign(batch.size(), std::nullopt);
            for (size_t i = batch.size(); i-- > 0;)
                kept[i] = finish(batch[i].key, std::move(batch[i].read), batch[i].children);
            for (std::optional<Read> &read : kept)
                if (read)
                    done.push_back(std::move(*read));
            for (const Slot &slot : batch)
                wakeCaller(slot.key);
            if (std::any_of(batch.begin(), batch.end(),
                            [](const Slot &slot) { return slot.files.folder.isValid(); })) {
                ++warming;
                lock.unlock();
                for (Slot &slot : batch) {
                    warmFiles(slot.files);
                    slot.files = ToWarm{};
                }
                lock.lock();
                --warming;
            }
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
                                 std::chrono::milliseconds noAnswer, EnterRule enter, Warmer warm)
    : m_shared(std::make_shared<Shared>())
{
    m_shared->top = std::move(top);
    m_shared->noAnswer = noAnswer;
    m_shared->enter = std::move(enter);
    m_shared->warm = std::move(warm);
    // A worker per processor: the caller's thread takes a read in a fraction
    // of the time a read takes. The device asks for more when it keeps them
    // waiting.
    const int first = std::clamp(processors, 1, kMaxWorkers);
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
        // Whoever is still busy is caught on a place given up or silent, or
        // warming files after its reads were handed over.
        if (!answering && (shared.busy > 0 || shared.warming > 0))
            break;
        ++shared.callerWaiting;
        shared.finished.wait_for(lock, BoundedCall::kSlice);
        --shared.callerWaiting;
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
        m_shared->wakeWorker();
    }
}

void FolderReadAhead::drop(const std::vector<std::pair<quint32, quint64>> &keys)
{
    const std::lock_guard lock(m_shared->mutex);
    for (const auto &[item, key] : keys) {
        const auto it = m_shared->jobs.find(key);
        if (it == m_shared->jobs.end())
            continue;
        if (it->second.state == Shared::State::Queued) {
            --m_shared->queued;
            m_shared->jobs.erase(it);
        } else if (it->second.state == Shared::State::Reading) {
            it->second.state = Shared::State::Abandoned;
        }
        // A read done already comes to the caller, who drops it in turn.
    }
}

void FolderReadAhead::giveBack(std::vector<Read> &reads)
{
    // Emptied here, not under the lock; a read that held a large folder is
    // let go rather than kept.
    constexpr size_t kLargest = 64 * 1024;
    std::erase_if(reads, [](const Read &read) {
        return read.listing.names.capacity() > kLargest ||
               read.listing.items.capacity() * sizeof(FolderListing::Item) > kLargest;
    });
    for (Read &read : reads) {
        read.listing.clear();
        read.children.clear();
        read.error = 0;
    }
    const std::lock_guard lock(m_shared->mutex);
    for (Read &read : reads) {
        if (m_shared->spare.size() >= m_shared->limit())
            break;
        m_shared->spare.push_back(std::move(read));
    }
    reads.clear();
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
    if (it->second.state == Shared::State::Queued && it->second.place.isEmpty())
        return shared.readHere(key, lock);
    if (it->second.state == Shared::State::Queued) {
        shared.urgent.push_back(key);
        // Every worker busy (caught, maybe, on a place that does not answer):
        // one more, so this one waits for nothing but its own read.
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
        ++shared.callerWaiting;
        shared.wantedKey = key;
        shared.finished.wait_for(lock, BoundedCall::kSlice);
        shared.wantedKey = 0;
        --shared.callerWaiting;
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
    ++shared.callerWaiting;
    shared.wantsAny = true;
    shared.finished.wait_for(lock, most, [&] { return !shared.done.empty(); });
    shared.wantsAny = false;
    --shared.callerWaiting;
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
