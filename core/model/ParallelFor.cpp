#include "ParallelFor.hpp"

#include <deque>
#include <new>
#include <system_error>
#include <vector>

#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace corvane {

namespace {

// How much less the background threads count than the others when the scheduler shares the processors:
// a tenth of a foreground thread's share, enough to finish promptly on an idle machine, too little to slow
// the window's drawing on a busy one.
constexpr int kBackgroundNice = 10;

thread_local bool tlsBackground = false;

// Threads made on demand up to the machine's cores, each taking jobs in the order they came, kept until the
// process ends (the pools are never destroyed, so nothing at exit waits for a job still running).
class WorkerPool {
public:
    explicit WorkerPool(bool background) : background_(background) {}

    void post(std::function<void()> job) {
        std::unique_lock lock(mutex_);
        jobs_.push_back(std::move(job));
        if (idle_ >= jobs_.size() || threads_ >= poolThreadCount()) {
            lock.unlock();
            ready_.notify_one();
            return;
        }
        ++threads_;
        lock.unlock();
        startThread();
        ready_.notify_one();
    }

    void startAll() {
        std::unique_lock lock(mutex_);
        while (threads_ < poolThreadCount()) {
            ++threads_;
            lock.unlock();
            if (!startThread()) return;
            lock.lock();
        }
    }

private:
    // A thread counted in threads_ beforehand; false, with the count taken back, when none could be had.
    bool startThread() {
        try {
            std::thread([this] { serve(); }).detach();
            return true;
        } catch (const std::system_error&) {
            // No thread to be had: the jobs wait for the threads there are, or are left to their caller.
        } catch (const std::bad_alloc&) {
            // No memory for a thread: the same.
        }
        std::lock_guard relock(mutex_);
        --threads_;
        return false;
    }

    void serve() {
        tlsBackground = background_;
#ifdef __linux__
        // Linux gives every thread a priority of its own.
        if (background_) setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), kBackgroundNice);
#endif
        std::unique_lock lock(mutex_);
        for (;;) {
            ++idle_;
            ready_.wait(lock, [this] { return !jobs_.empty(); });
            --idle_;
            std::function<void()> job = std::move(jobs_.front());
            jobs_.pop_front();
            lock.unlock();
            job();
            job = nullptr;  // what it held goes before the thread waits again
            lock.lock();
        }
    }

    const bool background_;
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::function<void()>> jobs_;
    unsigned threads_ = 0;
    std::size_t idle_ = 0;
};

struct Pools {
    WorkerPool* foreground = new WorkerPool(false);
    WorkerPool* background = new WorkerPool(true);
};

Pools& pools() {
    static Pools* p = [] {
        // A child forked from a process with pools has none of its threads (and maybe a lock held by one):
        // it starts with pools of its own. The old ones are left as they are.
        pthread_atfork(nullptr, nullptr, [] { new (&pools()) Pools(); });
        return new Pools();
    }();
    return *p;
}

} // namespace

void detail::ParallelCall::work() {
    for (;;) {
        const std::size_t i = next.fetch_add(1);
        if (i >= n) return;
        try {
            body(i);
        } catch (...) {
            std::lock_guard lock(mutex);
            if (!failure) failure = std::current_exception();
        }
    }
}

void detail::postToPool(std::function<void()> job) {
    (tlsBackground ? pools().background : pools().foreground)->post(std::move(job));
}

void runInBackground(std::function<void()> job) { pools().background->post(std::move(job)); }

bool onBackgroundThread() { return tlsBackground; }

void startPoolThreads() { pools().foreground->startAll(); }

unsigned poolThreadCount() {
    static const unsigned count = std::max(1u, std::thread::hardware_concurrency());
    return count;
}

} // namespace corvane
