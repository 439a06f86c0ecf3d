#pragma once
// The time budget the analysis targets give the summary and the checks, and how far past it a run
// may end before it counts as a runaway.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>

#include <time.h>
#include <unistd.h>

namespace fuzzing {

using Clock = std::chrono::steady_clock;

inline constexpr double kBudgetSeconds = 0.05;
// On a sanitized, coverage-counting build: the work between two readings of the clock, slowed
// several times over.
inline constexpr double kOverrunSeconds = 2.0;

// Processor time each thread of the process has had so far, by thread id.
inline std::map<long, double> threadSeconds() {
    std::map<long, double> out;
    static const double tick = 1.0 / static_cast<double>(::sysconf(_SC_CLK_TCK));
    std::error_code ec;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", ec)) {
        std::ifstream in(task.path() / "stat");
        const std::string stat((std::istreambuf_iterator<char>(in)), {});
        // The fields after the command name, which is in parentheses and may hold anything: the state
        // first, user and system time the twelfth and thirteenth.
        const auto close = stat.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream fields(stat.substr(close + 1));
        std::string field;
        double user = 0, system = 0;
        for (int k = 1; k <= 13 && fields >> field; ++k) {
            if (k == 12) user = std::atof(field.c_str());
            if (k == 13) system = std::atof(field.c_str());
        }
        out[std::atol(task.path().filename().c_str())] = (user + system) * tick;
    }
    return out;
}

// Processor time of the whole process, every thread's, those that have ended included.
inline double processSeconds() {
    timespec ts{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// One piece of work under the budget: when it began, on the clock and in processor time.
struct Phase {
    Clock::time_point start = Clock::now();
    std::map<long, double> threadStart = threadSeconds();
    double processStart = processSeconds();
};

inline Clock::time_point deadlineFrom(const Phase& phase) {
    return phase.start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(kBudgetSeconds));
}

// A runaway is a thread working past the budget without reading the clock: past it on the clock, and in
// that thread's processor time. A fuzzer that a busy machine gives little of its processors (one run under
// nice beside others' work) waits past the budget without working past it, and work shared out to several
// threads adds up to more processor time than any one of them took.
inline void requireWithinBudget(const Phase& phase) {
    const double wall = std::chrono::duration<double>(Clock::now() - phase.start).count();
    if (wall <= kBudgetSeconds + kOverrunSeconds) return;
    double busiest = 0, live = 0;
    for (const auto& [thread, seconds] : threadSeconds()) {
        const auto before = phase.threadStart.find(thread);
        const double spent = seconds - (before == phase.threadStart.end() ? 0.0 : before->second);
        busiest = std::max(busiest, spent);
        live += spent;
    }
    // Threads that have ended since are counted as one.
    busiest = std::max(busiest, processSeconds() - phase.processStart - live);
    if (busiest <= kBudgetSeconds + kOverrunSeconds) return;
    std::fprintf(stderr, "runaway: %.3f s on the clock, a thread busy %.3f s of it, against a budget of %.3f s\n",
                 wall, busiest, kBudgetSeconds);
    std::abort();
}

} // namespace fuzzing
