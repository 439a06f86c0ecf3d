#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

#include "model/ParallelFor.hpp"

using namespace corvane;

namespace {

int ownNice() { return getpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid))); }

} // namespace

TEST(ParallelFor, EveryIndexOnceAcrossNestedCallsOnThreadsKeptBetweenCalls) {
    std::mutex mutex;
    std::set<std::thread::id> threads;
    for (int round = 0; round < 200; ++round) {
        std::vector<std::atomic<int>> hits(64);
        parallelFor(hits.size(), [&](std::size_t i) {
            // Inner calls may find every thread busy with the outer one: they still end.
            std::atomic<int> inner{0};
            parallelFor(16, [&](std::size_t) { ++inner; }, 4);
            if (inner == 16) ++hits[i];
            std::lock_guard lock(mutex);
            threads.insert(std::this_thread::get_id());
        });
        for (auto& h : hits) ASSERT_EQ(h.load(), 1);
    }
    // 200 calls and 12,800 inner ones, on the pool's threads and the caller's, not a thread per call.
    EXPECT_LE(threads.size(), poolThreadCount() + 1);
}

TEST(ParallelFor, FirstFailureIsRethrownOnceEveryCallEnded) {
    std::atomic<int> ended{0};
    EXPECT_THROW(parallelFor(100,
                             [&](std::size_t i) {
                                 ++ended;
                                 if (i % 10 == 3) throw std::runtime_error("piece failed");
                             }),
                 std::runtime_error);
    EXPECT_EQ(ended.load(), 100);
    // One thread: the same, in order.
    std::vector<std::size_t> order;
    parallelFor(5, [&](std::size_t i) { order.push_back(i); }, 1);
    EXPECT_EQ(order, (std::vector<std::size_t>{0, 1, 2, 3, 4}));
}

TEST(ParallelFor, BackgroundWorkAndItsHelpersRunBehindTheRest) {
    const int foreground = ownNice();
    std::promise<std::vector<int>> done;
    runInBackground([&done] {
        std::mutex mutex;
        std::vector<int> nices;
        parallelFor(32, [&](std::size_t) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            std::lock_guard lock(mutex);
            // Every thread doing the job's share, helpers included, counts less than a foreground one.
            nices.push_back(onBackgroundThread() ? ownNice() : -100);
        });
        done.set_value(nices);
    });
    auto result = done.get_future();
    ASSERT_EQ(result.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    for (int nice : result.get()) EXPECT_GT(nice, foreground);
    EXPECT_FALSE(onBackgroundThread());
    std::atomic<int> calls{0};
    parallelFor(8, [&](std::size_t) { calls += onBackgroundThread() ? 100 : 1; });
    EXPECT_EQ(calls.load(), 8);
}

TEST(ParallelFor, ForkedChildWorksWithPoolsOfItsOwn) {
    parallelFor(64, [](std::size_t) {});  // the parent's pool has threads now
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        std::atomic<int> sum{0};
        parallelFor(1000, [&](std::size_t i) { sum += static_cast<int>(i); });
        _exit(sum == 499500 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}
