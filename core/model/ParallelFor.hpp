#pragma once
// Runs independent pieces of pure work on several threads and waits for all of them, on threads kept for the
// life of the process: a board's checks call this hundreds of times, and a thread made for every call cost
// more than the work of most calls.
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

namespace corvane {

namespace detail {

// The state one parallelFor shares with the helpers it asked for. A helper that starts after the caller
// has finished finds the call closed and leaves without touching the body, which lived on the caller's
// stack.
struct ParallelCall {
    std::function<void(std::size_t)> body;
    std::size_t n = 0;
    std::atomic<std::size_t> next{0};
    std::mutex mutex;
    std::condition_variable idle;
    std::size_t running = 0;
    bool closed = false;
    std::exception_ptr failure;

    void work();
};

// Hands `job` to a thread of the pool the calling thread belongs to: the background pool for a thread of that
// pool, else the foreground one.
void postToPool(std::function<void()> job);

} // namespace detail

// Runs `job` on a thread of the background pool, whose threads run at a lower priority than every other
// thread of the process, so that work nobody waits for (a summary, checks) does not slow what is being
// shown. Returns at once. Work that the job runs through parallelFor stays in that pool.
void runInBackground(std::function<void()> job);
// True on a thread of the background pool.
bool onBackgroundThread();
// Starts every thread of the foreground pool now rather than when work first asks for it: a program about
// to load a library, during which no thread can start, makes those its work will want first.
void startPoolThreads();
// The number of threads each pool may have: the machine's cores.
unsigned poolThreadCount();

// Calls body(i) for i in [0, n), in no particular order, at most `maxThreads` at a time (the caller's thread
// included). The first exception thrown by a call is rethrown once every call has ended. Calls may nest: a
// helper that finds no free thread leaves its share to the caller.
template <class F>
void parallelFor(std::size_t n, F&& body, unsigned maxThreads = std::thread::hardware_concurrency()) {
    // hardware_concurrency() may answer 0 when it cannot tell.
    const std::size_t threads = std::min<std::size_t>({n, std::max(1u, maxThreads), poolThreadCount() + 1});
    if (threads <= 1) {
        for (std::size_t i = 0; i < n; ++i) body(i);
        return;
    }
    auto call = std::make_shared<detail::ParallelCall>();
    call->body = [&body](std::size_t i) { body(i); };
    call->n = n;
    for (std::size_t t = 1; t < threads; ++t) {
        // With no memory left to ask for another helper, the caller takes what is left: it must not leave
        // while helpers already asked for may still run the body.
        try {
            detail::postToPool([call] {
                {
                    std::lock_guard lock(call->mutex);
                    if (call->closed) return;
                    ++call->running;
                }
                call->work();
                std::lock_guard lock(call->mutex);
                if (--call->running == 0) call->idle.notify_all();
            });
        } catch (const std::bad_alloc&) {
            break;
        }
    }
    call->work();
    std::unique_lock lock(call->mutex);
    call->closed = true;
    call->idle.wait(lock, [&] { return call->running == 0; });
    if (call->failure) std::rethrow_exception(call->failure);
}

// Calls body(state, i) for i in [0, n), handed out in order, on at most `maxThreads` threads, each with a state
// of its own made once by makeState(): scratch that costs to set up (buffers, a compressor) is set up per
// thread rather than per call.
template <class MakeState, class F>
void parallelForWithState(std::size_t n, MakeState&& makeState, F&& body, unsigned maxThreads) {
    std::atomic<std::size_t> next{0};
    parallelFor(
        maxThreads,
        [&](std::size_t) {
            auto state = makeState();
            for (std::size_t i; (i = next.fetch_add(1)) < n;) body(state, i);
        },
        maxThreads);
}

// The pool size for the readers and the renderer: the machine's cores, at most eight.
inline unsigned defaultWorkerCount() { return std::clamp(std::thread::hardware_concurrency(), 1u, 8u); }

} // namespace corvane
