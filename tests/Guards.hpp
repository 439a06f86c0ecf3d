#pragma once
// Guards for tests that feed hostile sizes: a hang ends the run with a message instead of stalling it, and
// the memory a step keeps can be measured.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

#include <malloc.h>

namespace corvane::testing {

// Aborts the test program when it is still alive `limit` after construction. Not a timing assertion: the
// limit is far above any loaded machine's time and only catches work that does not end.
class Watchdog {
public:
    Watchdog(std::chrono::seconds limit, std::string what)
        : thread_([this, limit, what = std::move(what)] {
              std::unique_lock lock(mutex_);
              if (!done_.wait_for(lock, limit, [this] { return finished_; })) {
                  std::fprintf(stderr, "watchdog: %s did not end within %lld s\n", what.c_str(),
                               static_cast<long long>(limit.count()));
                  std::abort();
              }
          }) {}
    ~Watchdog() {
        {
            std::lock_guard lock(mutex_);
            finished_ = true;
        }
        done_.notify_all();
        thread_.join();
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

private:
    std::mutex mutex_;
    std::condition_variable done_;
    bool finished_ = false;
    std::thread thread_;
};

// Bytes the allocator has handed out and not yet taken back, over all threads.
inline std::size_t heapBytesInUse() {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

} // namespace corvane::testing
