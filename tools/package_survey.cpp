// What Corvane makes of one package, as one JSON object on stdout, for measuring the layer roles and the
// board summary over a corpus of real packages (tools/corpus_survey.py runs it package by package):
//
//     package_survey PACKAGE
//
// PACKAGE is a folder, a ZIP archive or a single file. The object holds, per file, its name, path in the
// package, role (the role's match key, as a stored correction names it), confidence, format, object count,
// file polarity and the box it draws (mm; null when nothing was read); the package warnings; the board
// summary as BoardSummaryEngine gives it with its default time budget, with the source of its size and the
// box of the named outline; and the wall time of the import and of the summary in seconds. An import that
// fails prints {"error": ...} and exits 1.
// Build: g++ -std=c++20 -O2 -Icore tools/package_survey.cpp build/libCorvaneCore.a
//        $(pkg-config --libs polyclipping cairo pangocairo pango) -lz -lpthread -o build/package_survey
#include <chrono>
#include <cstdio>
#include <exception>
#include <string>

#include <nlohmann/json.hpp>

#include "checks/BoardSummaryEngine.hpp"
#include "import/PackageImporter.hpp"

using namespace corvane;
using json = nlohmann::json;

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

json boxJSON(const BBox& box) {
    if (!box.isValid()) return nullptr;
    return json::array({box.minX, box.minY, box.maxX, box.maxY});
}

json optionalJSON(const std::optional<double>& v) {
    return v ? json(*v) : json(nullptr);
}

json fileJSON(const PackageFile& file) {
    BBox box = BBox::empty();
    std::size_t objects = 0;
    if (file.gerber) {
        if (file.gerber->bbox.isValid()) box.include(file.gerber->bbox);
        objects += file.gerber->objects.size();
    }
    if (file.drill) {
        if (file.drill->bbox.isValid()) box.include(file.drill->bbox);
        objects += static_cast<std::size_t>(file.drill->totalCount());
    }
    return {
        {"name", file.fileName},
        {"path", file.relativePath},
        {"role", file.layerType.matchKey()},
        {"confidence", std::string(file.confidence.rawValue())},
        {"format", std::string(file.format.rawValue())},
        {"objects", objects},
        {"negative", file.filePolarityNegative()},
        {"bbox", boxJSON(box)},
    };
}

json summaryJSON(const PCBPackage& package, const BoardSummary& s) {
    return {
        {"width_mm", s.widthMM},
        {"height_mm", s.heightMM},
        {"extent_of_all_layers", BoardSummaryEngine::sizeSource(package) == BoardSizeSource::layerExtent},
        {"outline_bbox", boxJSON(BoardSummaryEngine::outlineCenterlineBBox(package).value_or(BBox::empty()))},
        {"copper_layers", s.copperLayerCount},
        {"pads", s.padCount},
        {"min_track_mm", optionalJSON(s.minTrackMM)},
        {"min_space_mm", optionalJSON(s.minSpaceMM)},
        {"min_space_completed", s.minSpaceReliable},
        {"drills", s.drillCount},
        {"pth", s.pthCount},
        {"npth", s.npthCount},
        {"unstated_plating", BoardSummaryEngine::unstatedPlatingCount(s)},
        {"smallest_drill_mm", optionalJSON(s.smallestDrillMM)},
    };
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: package_survey PACKAGE\n");
        return 2;
    }
    json out;
    out["package"] = argv[1];
    try {
        const auto importStart = Clock::now();
        const PCBPackage package = PackageImporter().importAny(argv[1]);
        out["import_seconds"] = secondsSince(importStart);

        const auto summaryStart = Clock::now();
        const BoardSummary summary = BoardSummaryEngine().summarize(package);
        out["summary_seconds"] = secondsSince(summaryStart);

        out["files"] = json::array();
        for (const auto& file : package.files) out["files"].push_back(fileJSON(file));
        out["warnings"] = package.warnings;
        out["summary"] = summaryJSON(package, summary);
    } catch (const std::exception& e) {
        out["error"] = e.what();
        std::printf("%s\n", out.dump().c_str());
        return 1;
    }
    std::printf("%s\n", out.dump().c_str());
    return 0;
}
