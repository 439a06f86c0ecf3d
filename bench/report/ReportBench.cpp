// PDF review report: a compare report of two 20-layer packages with four 1200 × 900 screenshots and
// 200 changes, and truncation of a pathological name.
#include <benchmark/benchmark.h>

#include <memory>

#include "report/ReportPDFRenderer.hpp"

using namespace corvane;

namespace {

PCBPackage package(const std::string& name) {
    PCBPackage p;
    p.name = name;
    for (int i = 0; i < 20; ++i) {
        PackageFile f;
        f.fileName = name + "-layer-" + std::to_string(i) + ".gbr";
        f.layerType = i < 10 ? LayerType::copper(CopperLayerID::inner(i + 1)) : LayerType::silkscreen(CopperLayerID::top());
        f.gerber = GerberDocument{};
        f.gerber->objects.resize(2000);
        p.files.push_back(std::move(f));
    }
    return p;
}

// A board-like picture: dark background, copper-coloured bands and some noise, so compression has work.
RasterImage screenshot(std::uint32_t seed) {
    const int w = 1200, h = 900;
    auto pixels = std::make_shared<std::vector<std::uint32_t>>(static_cast<std::size_t>(w) * h);
    std::uint32_t state = seed;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            state = state * 1664525u + 1013904223u;
            const bool band = ((x / 12 + y / 30) % 7) == 0;
            const std::uint32_t noise = (state >> 28) & 0x7;
            (*pixels)[static_cast<std::size_t>(y) * w + x] =
                band ? 0xFFD18F29u : (0xFF141820u + (noise << 16) + (noise << 8) + noise);
        }
    return RasterImage{w, h, pixels};
}

ReportInput compareInput() {
    ReportInput in;
    in.projectName = "Benchmark Board";
    in.nameA = "RevA";
    in.nameB = "RevB";
    in.packageA = package("RevA");
    in.packageB = package("RevB");
    in.summaryA = BoardSummary{100, 80, 10, 5000, 2000, 0.1, 0.1, true, 0.2, 1900, 100};
    in.summaryB = in.summaryA;
    in.drillStatsA = {DrillStat{0.3, Plating::pth, 1500}, DrillStat{3.0, Plating::npth, 4}};
    in.drillStatsB = in.drillStatsA;
    PackageDiff diff;
    for (int l = 0; l < 10; ++l) {
        LayerDiffResult r;
        r.layerKey = "Inner " + std::to_string(l + 1) + " Copper";
        for (int i = 0; i < 20; ++i)
            (i % 2 ? r.removed : r.added)
                .push_back(DiffChange{i % 2 ? "Removed" : "Added", "Track / Line", Vec2{i * 1.5, l * 2.0}, BBox{},
                                      "circle \xC3\x98" "0.250"});
        diff.layers.push_back(std::move(r));
    }
    in.diff = diff;
    std::vector<CheckIssue> issues;
    for (int i = 0; i < 20; ++i)
        issues.push_back(CheckIssue{"trace", CheckSeverity::warning, "Trace below minimum",
                                    "Track of 0.100 mm is narrower than the preset's 0.150 mm minimum.",
                                    std::string("RevB-layer-1.gbr"), Vec2{}});
    in.dfm = DFMReport(issues, std::string("Standard"), Date{});
    for (std::uint32_t i = 0; i < 4; ++i) in.screenshots.push_back(ReportScreenshot{screenshot(i + 1), "View"});
    for (int i = 0; i < 20; ++i) in.measurements.push_back("Point \xE2\x86\x92 Point: 12.500 mm");
    return in;
}

void BM_CompareReport(benchmark::State& state) {
    const ReportInput in = compareInput();
    std::size_t bytes = 0;
    for (auto _ : state) {
        auto pdf = ReportGenerator{}.generatePDF(in);
        bytes = pdf.size();
        benchmark::DoNotOptimize(pdf.data());
    }
    state.counters["pdfBytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_CompareReport)->Unit(benchmark::kMillisecond);

void BM_TruncateLongName(benchmark::State& state) {
    std::string name;
    for (std::int64_t i = 0; i < state.range(0); ++i) name += static_cast<char>('a' + i % 26);
    TextEngine engine;
    for (auto _ : state) {
        // A fresh suffix each round keeps the width cache from answering.
        name.back() = static_cast<char>('a' + (name.back() - 'a' + 1) % 26);
        benchmark::DoNotOptimize(engine.truncate(name, FontSpec{false, 10}, 205));
    }
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_TruncateLongName)->RangeMultiplier(10)->Range(100, 100000)->Unit(benchmark::kMicrosecond)->Complexity();

} // namespace
