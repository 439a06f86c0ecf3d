#pragma once
// A last line of defence for the preview and the thumbnailer: the readers' ceilings bound what one
// import builds, but some shapes within them (a region that crosses itself a million times) still take
// the rasteriser minutes, and what the import and the drawing claim beside the objects is bounded by
// nothing of theirs. Such work is given up after a fixed amount of processor time, and the process's
// memory is capped so that an allocation past it fails where the work can end cleanly.
#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

namespace corvane {

// Processor time the preview and the thumbnailer may spend on one board, all threads together,
// so that a busy machine gives them more wall time and never less work.
inline constexpr double kPreviewCpuSeconds = 8.0;
// Wall time after which they give up however little processor time they had: a file browser waiting
// on a thumbnail, or a preview, has its answer within 20 s whatever the machine's load.
inline constexpr std::chrono::seconds kPreviewWallLimit{15};
// Data memory (heap, thread stacks, pictures) the preview and the thumbnailer may claim: enough for any
// package within the import's ceilings, and with the program itself within 2.5 GB.
inline constexpr std::uint64_t kPreviewMemoryBytes = std::uint64_t{2} << 30;

// Caps the data memory of this process at `bytes`: past it an allocation fails with std::bad_alloc, which
// the import turns into its "too large to import (not enough memory)" error and the drawing into no
// picture, where the machine would otherwise run out. False when the cap could not be set, and under
// the address, memory and thread sanitizers, whose shadow memory alone is past any cap.
bool capDataMemory(std::uint64_t bytes = kPreviewMemoryBytes);

// Runs `work` on its own thread until it ends, or until the process has spent `cpuSeconds` of
// processor time since the call (or `wallLimit` has passed). Absent when it was given up: the work
// then goes on unobserved, and the process must end with _exit (see abandonedWorkRunning()).
// Exceptions of `work` pass to the caller.
template <class T>
std::optional<T> runWithinCpuTime(std::function<T()> work, double cpuSeconds = kPreviewCpuSeconds,
                                  std::chrono::seconds wallLimit = kPreviewWallLimit);

// True once some work was given up: its thread still runs, so static destructors must not.
bool abandonedWorkRunning();
// The exit code to return from main(), or, when some work was given up, the end of the process right here
// with that code: standard output and error flushed, static destructors not run.
int endProcess(int code);

namespace detail {
// A job begun on a thread of its own, held to limits counted from its start.
class DetachedJob {
public:
    DetachedJob(std::shared_ptr<std::function<void()>> job, double cpuSeconds, std::chrono::seconds wallLimit);
    // Gives the job up unless it was waited for.
    ~DetachedJob();
    DetachedJob(const DetachedJob&) = delete;
    DetachedJob& operator=(const DetachedJob&) = delete;

    // Waits for the job; true when it ended within the limits, false when it was given up (once only).
    bool wait();
    // Whether the job has ended, without waiting.
    bool ended() const;

private:
    struct Completion;
    std::shared_ptr<Completion> completion_;
    double cpuStart_;
    std::chrono::steady_clock::time_point wallEnd_;
    double cpuSeconds_;
    std::thread worker_;
};
} // namespace detail

// Work begun on its own thread as soon as it is made, held to the limits of runWithinCpuTime counted from
// then: a caller may start it before something that keeps new threads from starting for a while (loading a
// library does) and collect it after.
template <class T>
class WorkWithinCpuTime {
public:
    explicit WorkWithinCpuTime(std::function<T()> work, double cpuSeconds = kPreviewCpuSeconds,
                               std::chrono::seconds wallLimit = kPreviewWallLimit)
        : outcome_(std::make_shared<Outcome>()),
          job_(std::make_shared<std::function<void()>>([outcome = outcome_, work = std::move(work)] {
                   try {
                       outcome->value.emplace(work());
                   } catch (...) {
                       outcome->error = std::current_exception();
                   }
               }),
               cpuSeconds, wallLimit) {}

    // Whether the work has ended, so that get() would not wait.
    bool ended() const { return job_.ended(); }

    // Waits for the work, once: its result, or absent when it was given up. Exceptions of the work pass here.
    std::optional<T> get() {
        if (!job_.wait()) return std::nullopt;
        if (outcome_->error) std::rethrow_exception(outcome_->error);
        return std::move(outcome_->value);
    }

private:
    // The result lives in shared state: an abandoned thread writes it after we are gone.
    struct Outcome {
        std::optional<T> value;
        std::exception_ptr error;
    };
    std::shared_ptr<Outcome> outcome_;
    detail::DetachedJob job_;
};

template <class T>
std::optional<T> runWithinCpuTime(std::function<T()> work, double cpuSeconds, std::chrono::seconds wallLimit) {
    return WorkWithinCpuTime<T>(std::move(work), cpuSeconds, wallLimit).get();
}

} // namespace corvane
