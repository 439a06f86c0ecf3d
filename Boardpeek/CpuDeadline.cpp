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

struct Completion {
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
};

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

bool runDetachedWithin(const std::shared_ptr<std::function<void()>>& job, double cpuSeconds,
                       std::chrono::seconds wallLimit) {
    auto completion = std::make_shared<Completion>();
    const double cpuStart = processCpuSeconds();
    const auto wallEnd = std::chrono::steady_clock::now() + wallLimit;
    std::thread worker([job, completion] {
        (*job)();
        std::lock_guard lock(completion->mutex);
        completion->done = true;
        completion->ended.notify_all();
    });
    std::unique_lock lock(completion->mutex);
    // Processor time is looked at a few dozen times a second; the wait itself costs none.
    while (!completion->ended.wait_for(lock, std::chrono::milliseconds(25), [&] { return completion->done; })) {
        if (processCpuSeconds() - cpuStart > cpuSeconds || std::chrono::steady_clock::now() > wallEnd) {
            lock.unlock();
            gAbandoned = true;
            worker.detach();
            return false;
        }
    }
    lock.unlock();
    worker.join();
    return true;
}

} // namespace detail

} // namespace corvane
