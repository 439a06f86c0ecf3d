#include "CpuDeadline.hpp"

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <mutex>
#include <thread>

#include <sys/resource.h>

namespace corvane {

namespace {

std::atomic<bool> gAbandoned{false};

double processCpuSeconds() {
    timespec ts{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

} // namespace

bool abandonedWorkRunning() { return gAbandoned.load(); }

bool capDataMemory(std::uint64_t bytes) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    (void)bytes;
    return false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(memory_sanitizer) || __has_feature(thread_sanitizer)
    (void)bytes;
    return false;
#endif
#endif
    rlimit limit{};
    if (::getrlimit(RLIMIT_DATA, &limit) != 0) return false;
    // A lower cap set by whoever started us stands.
    if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur <= bytes) return true;
    limit.rlim_cur = static_cast<rlim_t>(bytes);
    if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < limit.rlim_cur) limit.rlim_cur = limit.rlim_max;
    return ::setrlimit(RLIMIT_DATA, &limit) == 0;
}

int endProcess(int code) {
    if (!abandonedWorkRunning()) return code;
    std::cout.flush();
    std::cerr.flush();
    std::_Exit(code);
}

namespace detail {

struct DetachedJob::Completion {
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
};

DetachedJob::DetachedJob(std::shared_ptr<std::function<void()>> job, double cpuSeconds, std::chrono::seconds wallLimit)
    : completion_(std::make_shared<Completion>()), cpuStart_(processCpuSeconds()),
      wallEnd_(std::chrono::steady_clock::now() + wallLimit), cpuSeconds_(cpuSeconds),
      worker_([job = std::move(job), completion = completion_] {
          (*job)();
          std::lock_guard lock(completion->mutex);
          completion->done = true;
          completion->ended.notify_all();
      }) {}

DetachedJob::~DetachedJob() {
    if (!worker_.joinable()) return;
    gAbandoned = true;
    worker_.detach();
}

bool DetachedJob::ended() const {
    std::lock_guard lock(completion_->mutex);
    return completion_->done;
}

bool DetachedJob::wait() {
    std::unique_lock lock(completion_->mutex);
    // Processor time is looked at a few dozen times a second; the wait itself costs none.
    while (!completion_->ended.wait_for(lock, std::chrono::milliseconds(25), [&] { return completion_->done; })) {
        if (processCpuSeconds() - cpuStart_ > cpuSeconds_ || std::chrono::steady_clock::now() > wallEnd_) {
            lock.unlock();
            gAbandoned = true;
            worker_.detach();
            return false;
        }
    }
    lock.unlock();
    worker_.join();
    return true;
}

} // namespace detail

} // namespace corvane
