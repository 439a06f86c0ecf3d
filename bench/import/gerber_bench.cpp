// Gerber reader throughput: on a generated copper layer in the style of CAD output (X2 attributes, many
// D01 strokes, pad flashes (round, rectangular and macro) and region pours), and on the layers of the
// real-size package, warm (parsed again in one process) and cold (the first parse of a fresh process, where
// every byte the objects take is memory touched for the first time).
#include <benchmark/benchmark.h>

#include <malloc.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "LargePackage.hpp"
#include "import/GerberParser.hpp"

namespace {

using corvane::bench::largePackageLayers;

// Parses every Gerber layer of the large package on this thread; seconds taken.
double parseLargeLayers(std::vector<corvane::GerberDocument>& docs) {
    const auto& layers = largePackageLayers();
    docs.clear();
    docs.reserve(layers.gerbers.size());
    const auto start = std::chrono::steady_clock::now();
    for (const auto& bytes : layers.gerbers) docs.push_back(corvane::GerberParser{}.parse("layer", bytes));
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void setLargeCounters(benchmark::State& state, std::size_t objects) {
    const auto& layers = largePackageLayers();
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(layers.gerberBytes));
    state.counters["objects"] = static_cast<double>(objects);
    state.counters["MB"] = static_cast<double>(layers.gerberBytes) / 1e6;
    state.counters["objectBytes"] = static_cast<double>(sizeof(corvane::PCBObject));
}

std::size_t objectCount(const std::vector<corvane::GerberDocument>& docs) {
    std::size_t n = 0;
    for (const auto& d : docs) n += d.objects.size();
    return n;
}

// Registered first, so that no other benchmark has warmed this process's heap before the children fork.
void BM_GerberParseLargePackageCold(benchmark::State& state) {
    if (largePackageLayers().gerbers.empty()) return state.SkipWithError("no large package");
    std::size_t objects = 0;
    for (auto _ : state) {
        const auto result = corvane::bench::inChild<2>([] {
            malloc_trim(0);  // nothing the parent freed is reused
            std::vector<corvane::GerberDocument> docs;
            const double seconds = parseLargeLayers(docs);
            return std::array<double, 2>{seconds, static_cast<double>(objectCount(docs))};
        });
        if (result.empty()) return state.SkipWithError("the child process failed");
        state.SetIterationTime(result[0]);
        objects = static_cast<std::size_t>(result[1]);
    }
    setLargeCounters(state, objects);
}
BENCHMARK(BM_GerberParseLargePackageCold)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);

void BM_GerberParseLargePackageWarm(benchmark::State& state) {
    if (largePackageLayers().gerbers.empty()) return state.SkipWithError("no large package");
    // Warm means memory already touched: the allocator keeps what the documents free for the next run
    // instead of handing it back to the system, which would have to clear it again.
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
    std::vector<corvane::GerberDocument> docs;
    parseLargeLayers(docs);  // the first parse touches the memory; the timed ones reuse it
    const std::size_t objects = objectCount(docs);
    for (auto _ : state) {
        docs.clear();  // freeing the documents is not part of reading them: the time is taken inside
        state.SetIterationTime(parseLargeLayers(docs));
    }
    setLargeCounters(state, objects);
}
BENCHMARK(BM_GerberParseLargePackageWarm)->Unit(benchmark::kMillisecond)->UseManualTime();

void appendCoord(std::string& out, char letter, std::int64_t v) {
    out.push_back(letter);
    out += std::to_string(v);
}

std::string makeCopperLayer(std::size_t targetBytes) {
    std::string s;
    s.reserve(targetBytes + 4096);
    s += "G04 #@! TF.GenerationSoftware,Bench,Gen,1.0*\n"
         "%TF.GenerationSoftware,Bench,Gen,1.0*%\n"
         "%TF.CreationDate,2024-01-01T00:00:00+00:00*%\n"
         "%TF.ProjectId,bench,00000000-0000-0000-0000-000000000000,rev1*%\n"
         "%TF.SameCoordinates,Original*%\n"
         "%TF.FileFunction,Copper,L1,Top*%\n"
         "%TF.FilePolarity,Positive*%\n"
         "%FSLAX46Y46*%\n"
         "G04 Gerber Fmt 4.6, Leading zero omitted, Abs format (unit mm)*\n"
         "%MOMM*%\n%LPD*%\nG01*\n"
         "%AMRoundRect*\n0 Rectangle with rounded corners*\n"
         "4,1,4,$2,$3,$4,$5,$6,$7,$8,$9,$2,$3,0*\n"
         "1,1,$1+$1,$2,$3*\n1,1,$1+$1,$4,$5*\n1,1,$1+$1,$6,$7*\n1,1,$1+$1,$8,$9*\n"
         "20,1,$1+$1,$2,$3,$4,$5,0*\n20,1,$1+$1,$4,$5,$6,$7,0*\n"
         "20,1,$1+$1,$6,$7,$8,$9,0*\n20,1,$1+$1,$8,$9,$2,$3,0*%\n"
         "%TA.AperFunction,Conductor*%\n%ADD10C,0.250000*%\n%ADD11C,0.400000*%\n%TD*%\n"
         "%TA.AperFunction,SMDPad,CuDef*%\n%ADD12R,1.500000X0.600000*%\n"
         "%ADD13RoundRect,0.150000X-0.600000X-0.300000X0.600000X-0.300000X0.600000X0.300000X-0.600000X0.300000X0*%\n"
         "%TD*%\n%TA.AperFunction,ViaPad*%\n%ADD14C,0.800000*%\n%TD*%\n";
    std::uint64_t seed = 12345;
    auto next = [&](std::int64_t range) {
        seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<std::int64_t>((seed >> 33) % static_cast<std::uint64_t>(range));
    };
    std::int64_t netNo = 0;
    while (s.size() < targetBytes) {
        const std::string net = "Net-(U" + std::to_string(netNo % 97) + "-Pad" + std::to_string(netNo % 13) + ")";
        ++netNo;
        s += "D10*\n%TO.N," + net + "*%\n";
        std::int64_t x = 100000000 + next(100000000), y = -50000000 - next(100000000);
        appendCoord(s, 'X', x); appendCoord(s, 'Y', y); s += "D02*\n";
        for (int k = 0; k < 40; ++k) {
            x += next(2000000) - 1000000;
            y += next(2000000) - 1000000;
            appendCoord(s, 'X', x); appendCoord(s, 'Y', y); s += "D01*\n";
        }
        s += "%TD*%\nD12*\n%TO.N," + net + "*%\n%TO.C,U" + std::to_string(netNo % 50) + "*%\n%TO.P,U1,3*%\n";
        for (int k = 0; k < 6; ++k) {
            appendCoord(s, 'X', x + k * 650000); appendCoord(s, 'Y', y); s += "D03*\n";
        }
        s += "D13*\n";
        for (int k = 0; k < 4; ++k) {
            appendCoord(s, 'X', x + k * 800000); appendCoord(s, 'Y', y - 2000000); s += "D03*\n";
        }
        s += "%TD*%\nD14*\n";
        appendCoord(s, 'X', x); appendCoord(s, 'Y', y + 3000000); s += "D03*\n";
        if (netNo % 8 == 0) {
            s += "%TO.N," + net + "*%\nG36*\n";
            appendCoord(s, 'X', x); appendCoord(s, 'Y', y); s += "D02*\n";
            for (int k = 0; k < 30; ++k) {
                appendCoord(s, 'X', x + next(5000000)); appendCoord(s, 'Y', y + next(5000000)); s += "D01*\n";
            }
            s += "G37*\n%TD*%\n";
        }
    }
    s += "M02*\n";
    return s;
}

void BM_GerberParseCopperLayer(benchmark::State& state) {
    const std::string text = makeCopperLayer(static_cast<std::size_t>(state.range(0)) * 1024 * 1024);
    const corvane::GerberParser parser;
    const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    std::size_t objects = 0;
    for (auto _ : state) {
        auto doc = std::make_unique<corvane::GerberDocument>(parser.parse("bench.gtl", bytes));
        objects = doc->objects.size();
        benchmark::DoNotOptimize(doc.get());
        state.PauseTiming();  // releasing the document is not part of reading it
        doc.reset();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(text.size()));
    state.counters["objects"] = static_cast<double>(objects);
    state.counters["MB"] = static_cast<double>(text.size()) / 1e6;
}
BENCHMARK(BM_GerberParseCopperLayer)->Arg(20)->Unit(benchmark::kMillisecond);

} // namespace
