// Opening a board in the desktop program, from its start to the written capture of the board canvas (drawn as
// soon as the board is loaded: it shows no findings), against gerbv drawing the same files at 1200 × 900 in the same run: medians of the
// wall time and peaks of each process (SideBySide.hpp), on the boards listed there. Needs a display; run it
// under Xvfb with software OpenGL, as the README says:
//
//     xvfb-run -a -s "-screen 0 1600x1000x24" env LIBGL_ALWAYS_SOFTWARE=1 build/bench/desktop_open_bench
//
// Counters: ms and gerbv_ms, gerbv_over_desktop (above 1.25: the first image comes in at most 0.8 times
// gerbv's time), peak_MB and gerbv_peak_MB.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "SideBySide.hpp"

using namespace corvane;
using namespace corvane::bench;

namespace {

void BM_DesktopOpensBesideGerbv(benchmark::State& state) {
    if (!std::getenv("DISPLAY")) return state.SkipWithError("no display: run under xvfb-run");
    const Board* b = boardOf(state);
    if (!b) return;
    const fs::path work = fs::temp_directory_path() / ("corvane-open-bench-" + std::to_string(::getpid()));
    fs::create_directories(work / "config");
    const Command desktop{{CORVANE_APP},
                          {"LIBGL_ALWAYS_SOFTWARE=1", "CORVANE_IMPORT=" + b->path.string(),
                           "CORVANE_METAL_SNAPSHOT=" + (work / "corvane.png").string(), "CORVANE_SCREENSHOT_DELAY=0",
                           "XDG_CONFIG_HOME=" + (work / "config").string()}};
    timeBesideGerbv(state, desktop, gerbvCommand(*b, 1200, 900), "gerbv_over_desktop", true);
    std::error_code ec;
    fs::remove_all(work, ec);
}
BENCHMARK(BM_DesktopOpensBesideGerbv)->Apply(boardArgs)->UseManualTime()->Iterations(5);

} // namespace
