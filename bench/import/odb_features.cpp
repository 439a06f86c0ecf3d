// Throughput of the ODB++ feature reader on a large synthetic copper layer.
#include <benchmark/benchmark.h>

#include <string>

#include "import/ODBPPParser.hpp"

namespace {

// About 63,000 records: pads, tracks, arcs and a pour with clearances around every pad.
std::string largeLayer() {
    std::string t = "UNITS=MM\n$0 r250\n$1 rect600x300\n$2 oval800x400\n$3 r150\n";
    for (int i = 0; i < 20000; ++i) {
        const double x = (i % 200) * 1.27, y = (i / 200) * 1.27;
        t += "P " + std::to_string(x) + " " + std::to_string(y) + " " + std::to_string(i % 3) + " P 0 " +
             (i % 5 == 0 ? "8 45" : "0") + ";0=1\n";
        t += "L " + std::to_string(x) + " " + std::to_string(y) + " " + std::to_string(x + 0.5) + " " +
             std::to_string(y) + " 3 P 0;1=2\n";
        if (i % 10 == 0)
            t += "A " + std::to_string(x + 1) + " " + std::to_string(y) + " " + std::to_string(x) + " " +
                 std::to_string(y + 1) + " " + std::to_string(x) + " " + std::to_string(y) + " 3 P 0 N\n";
    }
    t += "S P 0\nOB -1 -1 I\nOS 300 -1\nOS 300 150\nOS -1 150\nOE\n";
    for (int i = 0; i < 1000; ++i) {
        const double x = (i % 50) * 5.0 + 1, y = (i / 50) * 5.0 + 1;
        t += "OB " + std::to_string(x) + " " + std::to_string(y) + " H\nOS " + std::to_string(x + 1) + " " +
             std::to_string(y) + "\nOC " + std::to_string(x + 1) + " " + std::to_string(y + 1) + " " +
             std::to_string(x + 1) + " " + std::to_string(y + 0.5) + " Y\nOS " + std::to_string(x) + " " +
             std::to_string(y + 1) + "\nOE\n";
    }
    t += "SE\n";
    return t;
}

void BM_FeaturesParse(benchmark::State& state) {
    const std::string text = largeLayer();
    for (auto _ : state) {
        corvane::FeaturesParser p(corvane::ODBUnits::mm);
        auto doc = p.parse(text);
        benchmark::DoNotOptimize(doc.objects.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_FeaturesParse)->Unit(benchmark::kMillisecond);

} // namespace

namespace {

// A matrix of 50,000 copper rows without feature files: every row is located and warned
// about, so the cost per row must stay constant.
void BM_HugeMatrix(benchmark::State& state) {
    std::string matrix = "STEP {\n NAME=pcb\n}\n";
    for (int i = 0; i < 50000; ++i)
        matrix += "LAYER {\n CONTEXT=BOARD\n TYPE=SIGNAL\n NAME=l" + std::to_string(i) + "\n}\n";
    std::vector<corvane::TarEntry> entries;
    entries.push_back({"job/matrix/matrix", std::vector<std::uint8_t>(matrix.begin(), matrix.end()), false});
    const std::string features = "UNITS=MM\n$0 r100\nP 1 1 0 P 0 0\n";
    entries.push_back({"job/steps/pcb/layers/l0/features", std::vector<std::uint8_t>(features.begin(), features.end()), false});
    for (auto _ : state) {
        auto pkg = corvane::ODBPPParser().parseEntries(entries);
        benchmark::DoNotOptimize(pkg.warnings.data());
    }
}
BENCHMARK(BM_HugeMatrix)->Unit(benchmark::kMillisecond);

} // namespace
