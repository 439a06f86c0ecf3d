// Any bytes handed to the importer as a ZIP package end in a package or an error, never a crash, a
// sanitizer report or memory past the import's ceilings: listing, name filter, classifier, the
// Gerber and Excellon readers, ODB++ jobs inside a ZIP and the cross-file warnings, end to end. What
// comes back then goes through the board summary and the checks, which end near their budgets with
// finite figures.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>

#include "FuzzBudget.hpp"
#include "checks/BoardSummaryEngine.hpp"
#include "checks/CopperSpacing.hpp"
#include "checks/DFMEngine.hpp"
#include "import/PackageImporter.hpp"

namespace {

bool finiteOrNone(const std::optional<double>& v) { return !v || std::isfinite(*v); }

void summarizeAndCheck(const corvane::PCBPackage& package) {
    using namespace corvane;
    using namespace fuzzing;
    BoardSummaryEngine engine;
    engine.timeBudget = kBudgetSeconds;
    Phase phase;
    const BoardSummary s = engine.summarize(package);
    requireWithinBudget(phase);
    if (!std::isfinite(s.widthMM) || !std::isfinite(s.heightMM) || !finiteOrNone(s.minSpaceMM)) std::abort();

    phase = Phase{};
    (void)DFMEngine().runChecks(package);
    (void)spacing::checkCopperSpacing(package, 0.15, deadlineFrom(phase));
    requireWithinBudget(phase);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const corvane::Bytes bytes(data, data + size);
    try {
        const corvane::PCBPackage package = corvane::PackageImporter{}.importZIPData(bytes, "fuzz.zip");
        // What comes back is drawable: finite objects and boxes only.
        const corvane::BBox box = package.boardBBox();
        if (box.isValid() && !box.isFinite()) std::abort();
        for (const auto& f : package.files)
            if (f.gerber)
                for (const auto& o : f.gerber->objects)
                    if (!o.isFinite()) std::abort();
        summarizeAndCheck(package);
    } catch (const corvane::CorvaneError&) {
    }
    return 0;
}
