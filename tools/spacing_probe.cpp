// Prints every copper spacing finding of a package below a minimum, uncapped, one line each:
// "file x y gap", then "minspace <value> <completed>". Used by kicad_spacing_compare.py.
#include <chrono>
#include <cstdio>
#include <string>

#include "checks/BoardSummaryEngine.hpp"
#include "checks/CopperFilms.hpp"
#include "checks/CopperSpacing.hpp"
#include "import/PackageImporter.hpp"

using namespace corvane;

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: spacing_probe PACKAGE MIN_SPACE_MM\n");
        return 2;
    }
    const PCBPackage package = PackageImporter().importAny(argv[1]);
    const double limit = std::stod(argv[2]);
    const auto deadline = spacing::Clock::now() + std::chrono::seconds(600);
    // As the check does: a copper film's drawing is not its copper.
    const std::vector<bool> drawn = films::drawnCopperFiles(package, films::copperFilms(package));
    for (std::size_t k = 0; k < package.files.size(); ++k) {
        const auto& file = package.files[k];
        if (!drawn[k]) continue;
        copper::NetTable nets;
        copper::LayerCopper layer;
        copper::buildLayerCopper(file.gerber->objects, spacing::cellSizeFor(limit), nets, layer, [] { return false; });
        const auto r = spacing::findSpaceViolations(layer, limit, SIZE_MAX, deadline, file.fileName);
        for (const auto& issue : r.issues) {
            const auto at = issue.message.find("spacing ") + 8;
            std::printf("%s %.6f %.6f %s\n", file.fileName.c_str(), issue.position->x, issue.position->y,
                        issue.message.substr(at, issue.message.find(' ', at) - at).c_str());
        }
    }
    BoardSummaryEngine summary;
    summary.timeBudget = 600;
    const BoardSummary s = summary.summarize(package);
    std::printf("minspace %.6f %d\n", s.minSpaceMM.value_or(-1), s.minSpaceReliable ? 1 : 0);
    return 0;
}
