#pragma once
// The time budget the analysis targets give the summary and the checks, and how far past it a run
// may end before it counts as a runaway.
#include <chrono>
#include <cstdlib>

namespace fuzzing {

using Clock = std::chrono::steady_clock;

inline constexpr double kBudgetSeconds = 0.05;
// On a sanitized, coverage-counting build: the work between two readings of the clock, slowed
// several times over.
inline constexpr double kOverrunSeconds = 2.0;

inline Clock::time_point deadlineFrom(Clock::time_point start) {
    return start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(kBudgetSeconds));
}

inline void requireWithinBudget(Clock::time_point start) {
    if (std::chrono::duration<double>(Clock::now() - start).count() > kBudgetSeconds + kOverrunSeconds) std::abort();
}

} // namespace fuzzing
