#pragma once
// Runs a piece of work in a forked child, to measure the memory it needs and to catch a hang
// without hanging the test program: a watchdog alarm ends a child that runs too long.
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <exception>
#include <fstream>
#include <functional>
#include <string>

namespace corvane::testing {

// A "Vm...:" line of /proc/self/status in kB.
inline std::int64_t procStatusKB(const std::string& key) {
    std::ifstream in("/proc/self/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind(key + ":", 0) == 0) return std::stoll(line.substr(key.size() + 1));
    return -1;
}

struct ChildOutcome {
    bool finished = false;      // ended by itself; false when the watchdog or a crash ended it
    std::string text;           // what the work returned, or the text of what it threw
    std::int64_t peakGrowthKB = 0;  // the child's peak resident memory above what it started with
};

// Forks, runs `work` in the child and reports its text, whether it finished within
// `watchdogSeconds`, and how far its resident memory grew. Only one thread (this one) is copied
// into the child, so the work may start threads of its own but must not rely on the parent's.
inline ChildOutcome runInChild(const std::function<std::string()>& work, unsigned watchdogSeconds = 120) {
    int fds[2];
    if (::pipe(fds) != 0) return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        ::alarm(watchdogSeconds);
        // A forked child starts with its parent's peak: start the count afresh.
        std::ofstream("/proc/self/clear_refs") << "5";
        const std::int64_t before = procStatusKB("VmRSS");
        std::string text;
        try {
            text = work();
        } catch (const std::exception& e) {
            text = e.what();
        }
        const std::string report = std::to_string(procStatusKB("VmHWM") - before) + "\n" + text;
        const char* p = report.data();
        std::size_t left = report.size();
        while (left > 0) {
            const ssize_t n = ::write(fds[1], p, left);
            if (n <= 0) break;
            p += n;
            left -= static_cast<std::size_t>(n);
        }
        ::_exit(0);
    }
    ::close(fds[1]);
    std::string report;
    char buf[4096];
    for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;) report.append(buf, static_cast<std::size_t>(n));
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ChildOutcome out;
    out.finished = WIFEXITED(status) && WEXITSTATUS(status) == 0 && !report.empty();
    if (!out.finished) return out;
    const auto newline = report.find('\n');
    out.peakGrowthKB = std::stoll(report.substr(0, newline));
    out.text = report.substr(newline + 1);
    return out;
}

} // namespace corvane::testing
