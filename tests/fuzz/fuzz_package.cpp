// Any bytes handed to the importer as a ZIP package end in a package or an error, never a crash, a
// sanitizer report or memory past the import's ceilings: listing, name filter, classifier, the
// Gerber and Excellon readers, ODB++ jobs inside a ZIP and the cross-file warnings, end to end. What
// comes back then goes through the board summary and the checks, which end near their budgets with
// finite figures.
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <vector>

#include "checks/BoardSummaryEngine.hpp"
#include "checks/CopperSpacing.hpp"
#include "checks/DFMEngine.hpp"
#include "import/PackageImporter.hpp"

namespace {

using Clock = std::chrono::steady_clock;

constexpr double kBudgetSeconds = 0.05;
// How far past its budget a run may end on a sanitized, coverage-counting build before it counts
// as a runaway (as for the copper target).
constexpr double kOverrunSeconds = 2.0;

void requireWithinBudget(Clock::time_point start) {
    if (std::chrono::duration<double>(Clock::now() - start).count() > kBudgetSeconds + kOverrunSeconds) std::abort();
}

bool finiteOrNone(const std::optional<double>& v) { return !v || std::isfinite(*v); }

void summarizeAndCheck(const corvane::PCBPackage& package) {
    using namespace corvane;
    BoardSummaryEngine engine;
    engine.timeBudget = kBudgetSeconds;
    auto start = Clock::now();
    const BoardSummary s = engine.summarize(package);
    requireWithinBudget(start);
    if (!std::isfinite(s.widthMM) || !std::isfinite(s.heightMM) || !finiteOrNone(s.minSpaceMM)) std::abort();

    start = Clock::now();
    (void)DFMEngine().runChecks(package);
    (void)spacing::checkCopperSpacing(package, 0.15,
                                      start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(kBudgetSeconds)));
    requireWithinBudget(start);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const corvane::Bytes bytes(data, data + size);
    try {
        const corvane::PCBPackage package = corvane::PackageImporter{}.importZIPData(bytes, "fuzz.zip");
        // What comes back is drawable: finite boxes only.
        const corvane::BBox box = package.boardBBox();
        if (box.isValid() && !(std::isfinite(box.minX) && std::isfinite(box.maxX) && std::isfinite(box.minY) &&
                               std::isfinite(box.maxY)))
            std::abort();
        summarizeAndCheck(package);
    } catch (const corvane::CorvaneError&) {
    }
    return 0;
}
