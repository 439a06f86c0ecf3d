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
// Runs `job` on a detached thread; true when it ended within the limits.
bool runDetachedWithin(const std::shared_ptr<std::function<void()>>& job, double cpuSeconds,
                       std::chrono::seconds wallLimit);
} // namespace detail

template <class T>
std::optional<T> runWithinCpuTime(std::function<T()> work, double cpuSeconds, std::chrono::seconds wallLimit) {
    // The result lives in shared state: an abandoned thread writes it after we are gone.
    struct Outcome {
        std::optional<T> value;
        std::exception_ptr error;
    };
    auto outcome = std::make_shared<Outcome>();
    auto job = std::make_shared<std::function<void()>>([outcome, work = std::move(work)] {
        try {
            outcome->value.emplace(work());
        } catch (...) {
            outcome->error = std::current_exception();
        }
    });
    if (!detail::runDetachedWithin(job, cpuSeconds, wallLimit)) return std::nullopt;
    if (outcome->error) std::rethrow_exception(outcome->error);
    return std::move(outcome->value);
}

} // namespace corvane
