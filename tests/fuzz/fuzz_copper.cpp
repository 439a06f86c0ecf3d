// Any Gerber bytes taken as a copper layer go through the board summary and the copper spacing
// check without a crash or a sanitizer report, and neither runs far past its time budget: the
// smallest-gap search, the islands and the polygon booleans all answer to the deadline.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "checks/BoardSummaryEngine.hpp"
#include "checks/CopperSpacing.hpp"
#include "import/GerberParser.hpp"

namespace {

using Clock = std::chrono::steady_clock;

constexpr double kBudgetSeconds = 0.05;
// How far past its budget a run may end on a sanitized, coverage-counting build before it counts
// as a runaway: the work between two readings of the clock, slowed several times over.
constexpr double kOverrunSeconds = 2.0;

void requireWithinBudget(Clock::time_point start) {
    if (std::chrono::duration<double>(Clock::now() - start).count() > kBudgetSeconds + kOverrunSeconds) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace corvane;
    PackageFile file;
    try {
        file.gerber = GerberParser().parseWithWarnings("fuzz.gtl", std::span<const std::uint8_t>(data, size)).document;
    } catch (const GerberParseError&) {
        return 0;
    }
    file.fileName = "fuzz.gtl";
    file.layerType = LayerType::copper(CopperLayerID::top());
    PCBPackage package;
    package.files.push_back(std::move(file));

    BoardSummaryEngine summary;
    summary.timeBudget = kBudgetSeconds;
    auto start = Clock::now();
    (void)summary.summarize(package);
    requireWithinBudget(start);

    start = Clock::now();
    (void)spacing::checkCopperSpacing(package, 0.15,
                                      start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(kBudgetSeconds)));
    requireWithinBudget(start);
    return 0;
}
