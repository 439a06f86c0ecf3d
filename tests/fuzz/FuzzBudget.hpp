#pragma once
// The time budget the analysis targets give the summary and the checks, and how far past it a run
// may end before it counts as a runaway.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace fuzzing {

using Clock = std::chrono::steady_clock;

inline constexpr double kBudgetSeconds = 0.05;
// On a sanitized, coverage-counting build: the work between two readings of the clock, slowed
// several times over.
inline constexpr double kOverrunSeconds = 2.0;

// Processor time of the whole process, every thread's.
inline double processSeconds() {
    timespec ts{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// One piece of work under the budget: when it began, on the clock and in processor time.
struct Phase {
    Clock::time_point start = Clock::now();
    double processStart = processSeconds();
};

inline Clock::time_point deadlineFrom(const Phase& phase) {
    return phase.start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(kBudgetSeconds));
}

// A runaway works past the budget: it takes that long on the clock and that much processor time. A fuzzer
// that a busy machine gives little of its processors (one run under nice beside others' work) waits past
// the budget without working past it.
inline void requireWithinBudget(const Phase& phase) {
    const double wall = std::chrono::duration<double>(Clock::now() - phase.start).count();
    const double processor = processSeconds() - phase.processStart;
    if (std::min(wall, processor) <= kBudgetSeconds + kOverrunSeconds) return;
    std::fprintf(stderr, "runaway: %.3f s on the clock, %.3f s of processor time, against a budget of %.3f s\n", wall,
                 processor, kBudgetSeconds);
    std::abort();
}

} // namespace fuzzing
