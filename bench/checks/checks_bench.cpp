// Speed of the analysis engines on generated boards.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "checks/BoardSummaryEngine.hpp"
#include "checks/CopperFilms.hpp"
#include "checks/CopperSpacing.hpp"
#include "checks/DFMEngine.hpp"
#include "import/PackageImporter.hpp"
#include "model/Angles.hpp"

using namespace corvane;

namespace {

PCBObject object(PCBObjectKind kind, ApertureShape shape, std::string net, std::int64_t index) {
    return PCBObject(std::move(kind), 10, std::move(shape), Polarity::dark, std::move(net), std::nullopt, std::nullopt,
                     std::nullopt, index);
}

// A copper layer clean at 0.15 mm: rows of 0.2 mm tracks 0.5 mm apart, each row one net made of
// 1 mm pieces with a via on every fifth joint, then a field of pads alternating round and
// rectangular on alternating nets, 1 mm pitch.
std::vector<PCBObject> copperLayer(int rows, int piecesPerRow, int padRows, int padCols, double yOffset = 0) {
    std::vector<PCBObject> out;
    out.reserve(static_cast<std::size_t>(rows) * piecesPerRow * 6 / 5 + static_cast<std::size_t>(padRows) * padCols);
    std::int64_t index = 0;
    for (int r = 0; r < rows; ++r) {
        const std::string net = "ROW" + std::to_string(r);
        const double y = yOffset + r * 0.5;
        for (int k = 0; k < piecesPerRow; ++k) {
            out.push_back(object(PCBObjectKind::stroke({k * 1.0, y}, {k * 1.0 + 1.0, y}), ApertureShape::circle(0.2), net, index++));
            if (k % 5 == 4)
                out.push_back(object(PCBObjectKind::flash({k * 1.0 + 1.0, y}), ApertureShape::circle(0.3), net, index++));
        }
    }
    const double padY = yOffset + rows * 0.5 + 2.0;
    for (int r = 0; r < padRows; ++r)
        for (int c = 0; c < padCols; ++c) {
            const bool round = (r + c) % 2 == 0;
            out.push_back(object(PCBObjectKind::flash({c * 1.0, padY + r * 1.0}),
                                 round ? ApertureShape::circle(0.6) : ApertureShape::rectangle(0.7, 0.5),
                                 round ? "P" : "Q", index++));
        }
    return out;
}

PackageFile copperFile(std::string name, CopperLayerID side, std::vector<PCBObject> objects) {
    PackageFile f;
    f.fileName = std::move(name);
    f.layerType = LayerType::copper(side);
    f.confidence = DetectionConfidence::high;
    GerberDocument doc;
    for (const auto& o : objects) doc.bbox.include(o.bbox);
    doc.objects = std::move(objects);
    f.gerber = std::move(doc);
    return f;
}

PackageFile outlineFile(double w, double h) {
    PackageFile f;
    f.fileName = "board.gko";
    f.layerType = LayerType::outline();
    f.confidence = DetectionConfidence::high;
    GerberDocument doc;
    const Vec2 c[4] = {{-1, -1}, {w, -1}, {w, h}, {-1, h}};
    for (int k = 0; k < 4; ++k) {
        doc.objects.push_back(object(PCBObjectKind::stroke(c[k], c[(k + 1) % 4]), ApertureShape::circle(0.1), "", k));
        doc.bbox.include(doc.objects.back().bbox);
    }
    f.gerber = std::move(doc);
    return f;
}

PackageFile drillFile(int hits) {
    PackageFile f;
    f.fileName = "board.drl";
    f.layerType = LayerType::drill();
    f.confidence = DetectionConfidence::high;
    DrillDocument doc;
    doc.tools[1] = DrillTool{1, 0.3, Plating::pth};
    for (int k = 0; k < hits; ++k) doc.hits.push_back(DrillHit{{(k % 500) * 1.0 + 0.5, (k / 500) * 0.5}, 1, Plating::pth});
    f.drill = std::move(doc);
    return f;
}

void BM_SpacingCheck200k(benchmark::State& state) {
    // 150 rows × 1000 pieces + vias ≈ 180k, plus 20,000 pads: about 200,000 primitives.
    const PCBPackage pkg{"b", "b.zip", {copperFile("top.gtl", CopperLayerID::top(), copperLayer(150, 1000, 100, 200))}, {}, {}};
    std::size_t issues = 0;
    for (auto _ : state) {
        auto r = spacing::checkCopperSpacing(pkg, 0.15, spacing::Clock::now() + std::chrono::seconds(60));
        issues = r.issues.size();
        benchmark::DoNotOptimize(r);
    }
    state.counters["primitives"] = static_cast<double>(pkg.files[0].gerber->objects.size());
    state.counters["issues"] = static_cast<double>(issues);
}
BENCHMARK(BM_SpacingCheck200k)->Unit(benchmark::kMillisecond)->Iterations(3);

// A rounded rectangle as the macro evaluation gives it: a core rectangle, four edge bands and
// four corner discs of 32 vertices.
ApertureShape roundRect(double w, double h, double r) {
    const double cx = w / 2 - r, cy = h / 2 - r;
    std::vector<Contour> contours;
    auto rect = [&](double x0, double y0, double x1, double y1) { contours.push_back({{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}}); };
    rect(-cx, -cy, cx, cy);
    rect(-cx, -h / 2, cx, -cy);
    rect(-cx, cy, cx, h / 2);
    rect(-w / 2, -cy, -cx, cy);
    rect(cx, -cy, w / 2, cy);
    for (double sx : {1.0, -1.0})
        for (double sy : {1.0, -1.0}) {
            Contour disc;
            for (int k = 0; k < 32; ++k)
                disc.push_back({sx * cx + r * std::cos(k * kPi / 16), sy * cy + r * std::sin(k * kPi / 16)});
            contours.push_back(disc);
        }
    return ApertureShape::macro("RoundRect", std::sqrt(w * w + h * h), contours);
}

void BM_SpacingRoundRectPads(benchmark::State& state) {
    // 20,000 fine-pitch pads 0.25 × 1.0 mm at 0.4 mm pitch: every neighbour pair reaches the exact
    // shape test, and all of them are exactly at the 0.15 mm minimum.
    const ApertureShape shape = roundRect(0.25, 1.0, 0.0625);
    std::vector<PCBObject> pads;
    for (int r = 0; r < 100; ++r)
        for (int c = 0; c < 200; ++c)
            pads.push_back(object(PCBObjectKind::flash({c * 0.4, r * 2.0}), shape, std::string("N").append(std::to_string(c)), r * 200 + c));
    const PCBPackage pkg{"b", "b.zip", {copperFile("top.gtl", CopperLayerID::top(), std::move(pads))}, {}, {}};
    std::size_t issues = 0;
    for (auto _ : state) {
        auto r = spacing::checkCopperSpacing(pkg, 0.15, spacing::Clock::now() + std::chrono::seconds(60));
        issues = r.issues.size();
        benchmark::DoNotOptimize(r);
    }
    state.counters["issues"] = static_cast<double>(issues);
}
BENCHMARK(BM_SpacingRoundRectPads)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_Summary50kPads200kSegments(benchmark::State& state) {
    // 200 rows × 1000 pieces = 200,000 segments with 40,000 vias, plus 10,000 pads.
    const PCBPackage pkg{"b", "b.zip", {copperFile("top.gtl", CopperLayerID::top(), copperLayer(200, 1000, 50, 200))}, {}, {}};
    BoardSummary s;
    for (auto _ : state) {
        s = BoardSummaryEngine().summarize(pkg);
        benchmark::DoNotOptimize(s);
    }
    state.counters["pads"] = static_cast<double>(s.padCount);
    state.counters["completed"] = s.minSpaceReliable ? 1 : 0;
    state.counters["minSpace"] = s.minSpaceMM.value_or(-1);
}
BENCHMARK(BM_Summary50kPads200kSegments)->Unit(benchmark::kMillisecond)->Iterations(3);

// Times the summary of a package of one top copper layer, and says whether its smallest gap completed.
void summarizeOneLayer(benchmark::State& state, const std::vector<PCBObject>& objects) {
    const PCBPackage pkg{"b", "b.zip", {copperFile("top.gtl", CopperLayerID::top(), objects)}, {}, {}};
    BoardSummary s;
    for (auto _ : state) {
        s = BoardSummaryEngine().summarize(pkg);
        benchmark::DoNotOptimize(s);
    }
    state.counters["completed"] = s.minSpaceReliable ? 1 : 0;
    state.counters["minSpace"] = s.minSpaceMM.value_or(-1);
}

void BM_SummaryOnePlane100kPieces(benchmark::State& state) {
    // A layer that is one plane of 100,000 pieces: a ragged outline of 60,000 edges with 40,000
    // vias standing in it, all one conductor.
    Contour outline;
    for (int k = 0; k < 60000; ++k) {
        const double t = kTwoPi * k / 60000, r = 150 + 0.05 * (k % 3);
        outline.push_back(Vec2{160 + r * std::cos(t), 160 + r * std::sin(t)});
    }
    std::vector<PCBObject> objects{PCBObject(PCBObjectKind::region({outline}), std::nullopt, std::nullopt, Polarity::dark,
                                             std::nullopt, std::nullopt, std::nullopt, std::nullopt, 0)};
    for (int k = 0; k < 40000; ++k)
        objects.push_back(PCBObject(PCBObjectKind::flash({60 + (k % 200) * 1.0, 60 + (k / 200) * 1.0}), std::nullopt,
                                    ApertureShape::circle(0.45), Polarity::dark, std::nullopt, std::nullopt, std::nullopt,
                                    std::nullopt, k + 1));
    summarizeOneLayer(state, objects);
}
BENCHMARK(BM_SummaryOnePlane100kPieces)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

void BM_SummaryHatchedPour(benchmark::State& state) {
    // A hatched pour as older tools write one: 1,600 tracks at 45° crossing each other over a
    // 200 x 200 mm board, 0.5 mm apart, with 1,000 pads in its diamonds.
    std::vector<PCBObject> objects;
    const auto track = [&](Vec2 a, Vec2 b) {
        objects.push_back(PCBObject(PCBObjectKind::stroke(a, b), std::nullopt, ApertureShape::circle(0.1), Polarity::dark,
                                    std::nullopt, std::nullopt, std::nullopt, std::nullopt, objects.size()));
    };
    for (int k = -400; k < 400; ++k) track({0, k * 0.5}, {200, k * 0.5 + 200});
    for (int k = 0; k < 800; ++k) track({0, k * 0.5}, {200, k * 0.5 - 200});
    for (int k = 0; k < 1000; ++k)
        objects.push_back(PCBObject(PCBObjectKind::flash({20.0 + (k % 40) * 4, 20.25 + (k / 40) * 4}), std::nullopt,
                                    ApertureShape::circle(0.15), Polarity::dark, std::nullopt, std::nullopt, std::nullopt,
                                    std::nullopt, objects.size()));
    summarizeOneLayer(state, objects);
}
BENCHMARK(BM_SummaryHatchedPour)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

void BM_ChecksMillionObjects(benchmark::State& state) {
    // Four copper layers of about 250,000 objects each, an outline and 50,000 drill hits.
    PCBPackage pkg{"b", "b.zip", {}, {}, {}};
    pkg.files.push_back(copperFile("top.gtl", CopperLayerID::top(), copperLayer(200, 1000, 50, 200)));
    pkg.files.push_back(copperFile("in1.g1", CopperLayerID::inner(1), copperLayer(200, 1000, 50, 200)));
    pkg.files.push_back(copperFile("in2.g2", CopperLayerID::inner(2), copperLayer(200, 1000, 50, 200)));
    pkg.files.push_back(copperFile("bot.gbl", CopperLayerID::bottom(), copperLayer(200, 1000, 50, 200)));
    pkg.files.push_back(outlineFile(1001, 160));
    pkg.files.push_back(drillFile(50000));
    std::size_t objects = 0;
    for (const auto& f : pkg.files)
        if (f.gerber) objects += f.gerber->objects.size();
    const ManufacturingPreset preset{"Std", 0.15, 0.15, 0.2, 0.1};
    DFMReport report;
    for (auto _ : state) {
        report = DFMEngine().runChecks(pkg, preset);
        benchmark::DoNotOptimize(report);
    }
    state.counters["objects"] = static_cast<double>(objects);
    state.counters["issues"] = static_cast<double>(report.issues.size());
    for (const auto& i : report.issues) state.SetLabel(i.message.substr(0, 60));
}
BENCHMARK(BM_ChecksMillionObjects)->Unit(benchmark::kMillisecond)->Iterations(3);

// A real-size package: the one named by CORVANE_LARGE_PACKAGE, else the one tools/make_large_board.py
// writes (14 copper layers, about 290,000 objects, pours cut by clear objects).
const PCBPackage* largePackage() {
    static const std::optional<PCBPackage> pkg = []() -> std::optional<PCBPackage> {
        std::filesystem::path path;
        if (const char* given = std::getenv("CORVANE_LARGE_PACKAGE")) {
            path = given;
        } else {
            path = std::filesystem::temp_directory_path() / "corvane-bench-large.zip";
            const std::string make = "python3 " CORVANE_SOURCE_DIR "/tools/make_large_board.py " + path.string();
            if (!std::filesystem::exists(path) && std::system(make.c_str()) != 0) return std::nullopt;
        }
        try {
            return PackageImporter().importAny(path);
        } catch (...) {
            return std::nullopt;
        }
    }();
    return pkg ? &*pkg : nullptr;
}

void BM_ChecksLargePackage(benchmark::State& state) {
    // Every manufacturing check, the copper spacing check at 0.15 mm among them.
    const PCBPackage* pkg = largePackage();
    if (!pkg) {
        state.SkipWithError("no large package");
        return;
    }
    const ManufacturingPreset preset{"Std", 0.15, 0.15, 0.2, 0.1};
    DFMReport report;
    for (auto _ : state) {
        report = DFMEngine().runChecks(*pkg, preset);
        benchmark::DoNotOptimize(report);
    }
    std::size_t objects = 0;
    for (const auto& f : pkg->files)
        if (f.gerber && f.layerType.isCopper()) objects += f.gerber->objects.size();
    state.counters["copperObjects"] = static_cast<double>(objects);
    state.counters["issues"] = static_cast<double>(report.issues.size());
    bool incomplete = false;
    for (const auto& i : report.issues) incomplete = incomplete || i.id == "spacingCheckIncomplete";
    state.counters["incomplete"] = incomplete ? 1 : 0;
}
BENCHMARK(BM_ChecksLargePackage)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_SummaryLargePackage(benchmark::State& state) {
    // The board summary, whose smallest gap measures every copper layer the way the check does.
    const PCBPackage* pkg = largePackage();
    if (!pkg) {
        state.SkipWithError("no large package");
        return;
    }
    BoardSummary summary;
    for (auto _ : state) {
        summary = BoardSummaryEngine().summarize(*pkg);
        benchmark::DoNotOptimize(summary);
    }
    state.counters["minSpace"] = summary.minSpaceMM.value_or(-1);
    state.counters["completed"] = summary.minSpaceReliable ? 1 : 0;
}
BENCHMARK(BM_SummaryLargePackage)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_CopperFilmsLargePackage(benchmark::State& state) {
    // Which copper layers are films: what the summary and the checks each read before measuring.
    const PCBPackage* pkg = largePackage();
    if (!pkg) {
        state.SkipWithError("no large package");
        return;
    }
    std::vector<films::CopperFilm> found;
    for (auto _ : state) {
        found = films::copperFilms(*pkg);
        benchmark::DoNotOptimize(found);
    }
    state.counters["films"] = static_cast<double>(found.size());
}
BENCHMARK(BM_CopperFilmsLargePackage)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

void BM_CopperFilms400kHoles(benchmark::State& state) {
    // A plane film of 400,000 thermals on as many holes, 2.54 mm apart: read whole, as a film.
    PackageFile film = copperFile("plane.gbr", CopperLayerID::inner(2), {});
    DrillDocument drill;
    drill.tools[1] = DrillTool{1, 0.8, Plating::pth};
    const auto thermal = ApertureShape::macro("THERMAL", 2.0, std::vector<Contour>{{{0.6, 0.2}, {1.0, 0.2}, {1.0, 0.6}}});
    for (int k = 0; k < 400000; ++k) {
        const Vec2 at{(k % 632) * 2.54, (k / 632) * 2.54};
        drill.hits.push_back(DrillHit{at, 1, Plating::pth});
        film.gerber->objects.push_back(object(PCBObjectKind::flash(at), thermal, "", k));
    }
    PackageFile holes;
    holes.fileName = "board.drl";
    holes.layerType = LayerType::drill();
    holes.drill = std::move(drill);
    PCBPackage pkg;
    pkg.files = {std::move(film), std::move(holes)};
    std::vector<films::CopperFilm> found;
    for (auto _ : state) {
        found = films::copperFilms(pkg);
        benchmark::DoNotOptimize(found);
    }
    state.counters["films"] = static_cast<double>(found.size());
}
BENCHMARK(BM_CopperFilms400kHoles)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

} // namespace
