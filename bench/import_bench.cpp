// End-to-end import of a large generated package: twelve Gerber layers and a drill file in one ZIP.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "analysis/CGRenderer.hpp"
#include "import/PackageImporter.hpp"
#include "import/VellZipWriter.hpp"

using namespace corvane;
namespace fs = std::filesystem;

namespace {

std::string layerText(unsigned seed, std::size_t targetBytes) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> coord(0, 200000000);
    std::string s = "%FSLAX46Y46*%\n%MOMM*%\n%ADD10C,0.200*%\n%ADD11R,1.200X0.600*%\nD10*\n";
    s.reserve(targetBytes + 100);
    while (s.size() < targetBytes) {
        const int x = coord(rng), y = coord(rng);
        s += "X" + std::to_string(x) + "Y" + std::to_string(y) + "D02*\n";
        s += "X" + std::to_string(x + 1500000) + "Y" + std::to_string(y + 500000) + "D01*\n";
        if (rng() % 4 == 0) s += "D11*\nX" + std::to_string(x) + "Y" + std::to_string(y) + "D03*\nD10*\n";
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
        CGRenderer renderer;
        auto image = renderer.render(pkg, SizePx{1200, 900}, std::nullopt, false);
        benchmark::DoNotOptimize(image);
    }
}
BENCHMARK(BM_RenderHundredMegabytePackage)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
