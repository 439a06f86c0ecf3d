#pragma once
// Runs independent pieces of pure work on several threads and waits for all of them.
#include <algorithm>
#include <atomic>
#include <cstddef>
#include <exception>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

namespace corvane {

// Calls body(i) for i in [0, n), in no particular order, at most `maxThreads` at a time (the caller's thread
// included). The first exception thrown by a call is rethrown once every call has ended.
template <class F>
void parallelFor(std::size_t n, F&& body, unsigned maxThreads = std::thread::hardware_concurrency()) {
    // hardware_concurrency() may answer 0 when it cannot tell.
    const std::size_t threads = std::min<std::size_t>(n, std::max(1u, maxThreads));
    if (threads <= 1) {
        for (std::size_t i = 0; i < n; ++i) body(i);
        return;
    }
    std::atomic<std::size_t> next{0};
    std::exception_ptr failure;
    std::mutex failureMutex;
    auto worker = [&] {
        for (;;) {
            const std::size_t i = next.fetch_add(1);
            if (i >= n) return;
            try {
                body(i);
            } catch (...) {
                std::lock_guard lock(failureMutex);
                if (!failure) failure = std::current_exception();
            }
        }
    };
    std::vector<std::thread> pool;
    pool.reserve(threads - 1);
    for (std::size_t t = 1; t < threads; ++t) {
        // Fewer threads when the system gives no more, or no memory for one: the calling thread still
        // takes what is left, and the threads already started are joined below either way.
        try {
            pool.emplace_back(worker);
        } catch (const std::system_error&) {
            break;
        } catch (const std::bad_alloc&) {
            break;
        }
    }
    worker();
    for (auto& t : pool) t.join();
    if (failure) std::rethrow_exception(failure);
}

// The pool size for the readers and the renderer: the machine's cores, at most eight.
inline unsigned defaultWorkerCount() { return std::clamp(std::thread::hardware_concurrency(), 1u, 8u); }

} // namespace corvane
