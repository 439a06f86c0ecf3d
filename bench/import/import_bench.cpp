// End-to-end import: of the real-size package (its time and its peak memory, in a fresh child process),
// and of a 100 MB generated package of twelve Gerber layers in one ZIP; the content rules alone on the
// real-size package; and the imports of packages that pile pads, holes and strokes on one spot.
#include <benchmark/benchmark.h>

#include <malloc.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>

#include "LargePackage.hpp"
#include "import/ContentRoles.hpp"
#include "render/SoftwareRenderer.hpp"
#include "import/PackageImporter.hpp"
#include "io/VellZipWriter.hpp"

using namespace corvane;
namespace fs = std::filesystem;

namespace {

// The import's own peak: the child's highest resident memory during the import, less what it held before.
// Registered first, so that the children fork from a heap no other benchmark has grown.
void BM_ImportLargePackagePeakMemory(benchmark::State& state) {
    const fs::path path = bench::largePackagePath();
    if (path.empty()) return state.SkipWithError("no large package");
    std::vector<double> last;
    for (auto _ : state) {
        last = bench::inChild<4>([&path] {
            malloc_trim(0);
            const Bytes zip = readWholeFile(path);  // in the page cache: the import reads it again
            bench::resetPeakMemory();
            const double before = static_cast<double>(bench::statusKB("VmRSS")) * 1024;
            const auto start = std::chrono::steady_clock::now();
            const PCBPackage pkg = PackageImporter{}.importAny(path);
            const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            const double peak = static_cast<double>(bench::statusKB("VmHWM")) * 1024 - before;
            // The uncompressed bytes of the files that became layers.
            double layerBytes = 0;
            for (const ZipEntryInfo& e : VellZip::listEntries(zip))
                for (const PackageFile& f : pkg.files)
                    if (f.relativePath == e.path && (f.gerber || f.drill)) layerBytes += static_cast<double>(e.uncompressedSize);
            return std::array<double, 4>{seconds, peak, layerBytes, static_cast<double>(pkg.files.size())};
        });
        if (last.empty()) return state.SkipWithError("the child process failed");
        state.SetIterationTime(last[0]);
    }
    state.counters["peakMB"] = last[1] / 1e6;
    state.counters["layerMB"] = last[2] / 1e6;
    state.counters["peakPerLayerByte"] = last[1] / last[2];
    state.counters["files"] = last[3];
}
BENCHMARK(BM_ImportLargePackagePeakMemory)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

void BM_ImportLargePackage(benchmark::State& state) {
    const fs::path path = bench::largePackagePath();
    if (path.empty()) return state.SkipWithError("no large package");
    for (auto _ : state) {
        PCBPackage pkg = PackageImporter{}.importAny(path);
        benchmark::DoNotOptimize(pkg.files.size());
    }
}
BENCHMARK(BM_ImportLargePackage)->Unit(benchmark::kMillisecond)->UseRealTime();

std::string layerText(unsigned seed, std::size_t targetBytes) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> coord(0, 200000000);
    std::string s = "%FSLAX46Y46*%\n%MOMM*%\n%ADD10C,0.200*%\n%ADD11R,1.200X0.600*%\nD10*\n";
    s.reserve(targetBytes + 100);
    while (s.size() < targetBytes) {
        const int x = coord(rng), y = coord(rng);
        auto point = [&s](int px, int py, const char* op) {
            s += 'X';
            s += std::to_string(px);
            s += 'Y';
            s += std::to_string(py);
            s += op;
        };
        point(x, y, "D02*\n");
        point(x + 1500000, y + 500000, "D01*\n");
        if (rng() % 4 == 0) {
            s += "D11*\n";
            point(x, y, "D03*\nD10*\n");
        }
    }
    return s + "M02*\n";
}

const fs::path& packagePath() {
    static const fs::path path = [] {
        const fs::path p = fs::temp_directory_path() / "corvane-import-bench.zip";
        const char* names[] = {"b-F_Cu.gbr", "b-B_Cu.gbr", "b-In1_Cu.gbr", "b-In2_Cu.gbr", "b-F_Mask.gbr",
                               "b-B_Mask.gbr", "b-F_Paste.gbr", "b-B_Paste.gbr", "b-F_Silkscreen.gbr",
                               "b-B_Silkscreen.gbr", "b-Edge_Cuts.gbr", "b-User_1.gbr"};
        std::vector<VellZipWriter::Entry> entries;
        unsigned seed = 1;
        for (const char* n : names) {
            const std::string text = layerText(seed++, 100'000'000 / 12);
            entries.emplace_back(n, std::vector<std::uint8_t>(text.begin(), text.end()));
        }
        const auto zip = VellZipWriter::archive(entries);
        std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(zip.data()), static_cast<std::streamsize>(zip.size()));
        return p;
    }();
    return path;
}

void BM_ImportHundredMegabytePackage(benchmark::State& state) {
    const fs::path& p = packagePath();
    for (auto _ : state) {
        PCBPackage pkg = PackageImporter{}.importAny(p);
        benchmark::DoNotOptimize(pkg.files.size());
    }
}
BENCHMARK(BM_ImportHundredMegabytePackage)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_RenderHundredMegabytePackage(benchmark::State& state) {
    const PCBPackage pkg = PackageImporter{}.importAny(packagePath());
    for (auto _ : state) {
        SoftwareRenderer renderer;
        auto image = renderer.render(pkg, SizePx{1200, 900}, std::nullopt, false);
        benchmark::DoNotOptimize(image);
    }
}
BENCHMARK(BM_RenderHundredMegabytePackage)->Unit(benchmark::kMillisecond)->UseRealTime();

// The content rules on the real-size package: as its names leave it (the few files they look at), and with
// every Gerber file left to them (each one measured on the holes, the outline searched for).
void BM_ContentRolesLargePackage(benchmark::State& state) {
    const fs::path path = bench::largePackagePath();
    if (path.empty()) return state.SkipWithError("no large package");
    PackageImporter importer;
    importer.timeBudget = 0;  // the roles the names give
    PCBPackage named = importer.importAny(path);
    const bool allUnplaced = state.range(0) != 0;
    if (allUnplaced)
        for (auto& f : named.files)
            if (f.gerber) f.layerType = LayerType::unknown(), f.confidence = DetectionConfidence::low;
    for (auto _ : state) {
        state.PauseTiming();
        std::vector<PackageFile> files = named.files;
        state.ResumeTiming();
        benchmark::DoNotOptimize(inferRolesFromContent(files));
    }
    state.SetLabel(allUnplaced ? "every Gerber file unplaced" : "roles from the names");
}
BENCHMARK(BM_ContentRolesLargePackage)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// Hostile packages: `count` drill hits and as many pads on one spot; or holes of 30 mm and short strokes
// across them, all on one spot.
const fs::path& pilePath(bool strokes, int count) {
    static std::map<std::pair<bool, int>, fs::path> made;
    auto [it, fresh] = made.try_emplace({strokes, count});
    if (!fresh) return it->second;
    std::string drill = strokes ? "M48\nMETRIC\nT1C30.0\n%\nT1\n" : "M48\nMETRIC\nT1C0.3\n%\nT1\n";
    std::string layer = std::string("%FSLAX46Y46*%\n%MOMM*%\n") + (strokes ? "%ADD10C,0.1*%\n" : "%ADD10C,0.6*%\n") + "D10*\n";
    for (int k = 0; k < count; ++k) {
        drill += strokes ? "X5.0Y5.0\n" : "X1.0Y1.0\n";
        layer += strokes ? "X4000000Y5000000D02*\nX6000000Y5000000D01*\n" : "X1000000Y1000000D03*\n";
    }
    drill += "M30\n";
    layer += "M02*\n";
    const auto zip = VellZipWriter::archive({{"board.drl", std::vector<std::uint8_t>(drill.begin(), drill.end())},
                                             {"layer.gbr", std::vector<std::uint8_t>(layer.begin(), layer.end())}});
    it->second = fs::temp_directory_path() / ("corvane-pile-" + std::to_string(strokes) + "-" + std::to_string(count) + ".zip");
    std::ofstream(it->second, std::ios::binary).write(reinterpret_cast<const char*>(zip.data()), static_cast<std::streamsize>(zip.size()));
    return it->second;
}

void BM_ImportPile(benchmark::State& state) {
    const fs::path& p = pilePath(state.range(0) != 0, static_cast<int>(state.range(1)));
    for (auto _ : state) {
        PCBPackage pkg = PackageImporter{}.importAny(p);
        benchmark::DoNotOptimize(pkg.files.size());
    }
    state.SetLabel(state.range(0) ? "holes of 30 mm and strokes on one spot" : "pads on holes on one spot");
}
BENCHMARK(BM_ImportPile)->Args({0, 100000})->Args({0, 400000})->Args({1, 200000})->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
