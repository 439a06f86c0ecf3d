// Excellon parse throughput on a generated 20 MB drill file (target: >= 150 MB/s on one core).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "import/ExcellonParser.hpp"

namespace {

// A KiCad/Altium-shaped file: a tool table, then tool changes and plain coordinate lines
// without decimal points, with the odd routed slot.
std::vector<std::uint8_t> drillFile(std::size_t targetBytes) {
    std::string s = "M48\n; DRILL file generated for a benchmark\n;FILE_FORMAT=2:4\nINCH,LZ\n;TYPE=PLATED\n";
    // Appended piece by piece: g++ 12 warns falsely on chains of string concatenation.
    auto add = [&s](std::initializer_list<std::string_view> parts) {
        for (auto p : parts) s.append(p);
    };
    for (int t = 1; t <= 20; ++t) add({"T", std::to_string(t), "C0.", std::to_string(100 + t * 7), "\n"});
    s += "%\nG90\nG05\n";
    std::uint32_t state = 12345;
    int tool = 1;
    while (s.size() < targetBytes) {
        if (state % 5000 == 0) {
            tool = tool % 20 + 1;
            add({"T", std::to_string(tool), "\n"});
        }
        state = state * 1664525u + 1013904223u;
        const unsigned x = (state >> 8) % 999999, y = (state >> 3) % 999999;
        const std::string xs = std::to_string(x), ys = std::to_string(y);
        if (state % 997 == 0)
            add({"G00X", xs, "Y", ys, "\nM15\nG01X", std::to_string(x + 500), "Y", ys, "\nM16\nG05\n"});
        else
            add({"X", xs, "Y", ys, "\n"});
    }
    s += "M30\n";
    return {s.begin(), s.end()};
}

void BM_ExcellonParse20MB(benchmark::State& state) {
    const auto data = drillFile(20u << 20);
    std::size_t hits = 0;
    for (auto _ : state) {
        auto doc = corvane::ExcellonParser{}.parse("bench.drl", std::span<const std::uint8_t>(data));
        hits = doc.hits.size();
        benchmark::DoNotOptimize(doc);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(data.size()));
    state.counters["hits"] = static_cast<double>(hits);
}
BENCHMARK(BM_ExcellonParse20MB)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// The same file with one Latin-1 byte in its header: the whole text is converted first.
void BM_ExcellonParse20MBLatin1(benchmark::State& state) {
    auto data = drillFile(20u << 20);
    data[10] = 0xA9;
    for (auto _ : state) {
        auto doc = corvane::ExcellonParser{}.parse("bench.drl", std::span<const std::uint8_t>(data));
        benchmark::DoNotOptimize(doc);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(data.size()));
}
BENCHMARK(BM_ExcellonParse20MBLatin1)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// A hostile file: one comment line of 100 MB between two holes. Every keyword looked for on a line
// (DECIMALS, FILE_FORMAT, the plating marks) is a search of the whole line (aim: the rate above).
void BM_ExcellonParseOneLongComment(benchmark::State& state) {
    std::string s = "M48\nMETRIC\nT1C0.3\n%\nT1\nX1.0Y1.0\n;";
    s.reserve((100u << 20) + 64);
    while (s.size() < (100u << 20)) s += "comment ";
    s += "\nX2.0Y2.0\nM30\n";
    const std::vector<std::uint8_t> data(s.begin(), s.end());
    for (auto _ : state) {
        auto doc = corvane::ExcellonParser{}.parse("bench.drl", std::span<const std::uint8_t>(data));
        benchmark::DoNotOptimize(doc);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(data.size()));
}
BENCHMARK(BM_ExcellonParseOneLongComment)->Unit(benchmark::kMillisecond)->MinTime(2.0);

} // namespace
