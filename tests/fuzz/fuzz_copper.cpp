// Any Gerber bytes taken as a copper layer go through the board summary and the copper spacing
// check without a crash or a sanitizer report, and neither runs far past its time budget: the
// smallest-gap search, the islands and the polygon booleans all answer to the deadline.
#include <cstddef>
#include <cstdint>
#include <span>

#include "FuzzBudget.hpp"
#include "checks/BoardSummaryEngine.hpp"
#include "checks/CopperSpacing.hpp"
#include "import/GerberParser.hpp"

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

    using namespace fuzzing;
    BoardSummaryEngine summary;
    summary.timeBudget = kBudgetSeconds;
    Phase phase;
    (void)summary.summarize(package);
    requireWithinBudget(phase);

    phase = Phase{};
    (void)spacing::checkCopperSpacing(package, 0.15, deadlineFrom(phase));
    requireWithinBudget(phase);
    return 0;
}
