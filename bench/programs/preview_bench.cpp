// The preview program against gerbv's PNG export of the same Gerber and drill files at the same pixel size,
// side by side in one run, plus the import and the picture alone; and the desktop's thumbnailer
// (boardpeek-thumbnailer) against gerbv's export at the thumbnail size.
//
// Packages: Samples/ESP32_RevA.zip, a real-size package written by tools/make_large_board.py (when python3
// is there), and any ZIP files listed in CORVANE_PREVIEW_PACKAGES (separated by ':'). Counters of the process
// benchmark: peak_MB is the preview's peak resident memory (as `/usr/bin/time -v` reports it), budget_MB
// twice the package's uncompressed bytes plus the image.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <vector>

#include "render/SoftwareRenderer.hpp"
#include "io/FileIO.hpp"
#include "import/PackageImporter.hpp"
#include "io/VellZip.hpp"

extern char** environ;

using namespace corvane;
namespace fs = std::filesystem;

namespace {

constexpr SizePx kPreviewSize{1200, 900};

struct BenchPackage {
    std::string label;
    fs::path zip;
    fs::path unpacked;               // every entry, for gerbv
    std::vector<std::string> files;  // the Gerber and drill files the importer took, for gerbv
    double uncompressedBytes = 0;
};

// Runs a program with its output thrown away; returns false when it cannot start or fails. `peakKB`, when
// given, gets its peak resident set as GNU time measures it (which adds GNU time's own start to the wall
// time): a child started straight from this process would count this process's own peak too, since the
// kernel keeps the larger across the exec.
bool run(const std::vector<std::string>& command, const std::vector<std::string>& extraEnv, long* peakKB) {
    const bool haveTime = peakKB && fs::exists("/usr/bin/time");
    const fs::path peakFile = fs::temp_directory_path() / "corvane-preview-bench-peak.txt";
    std::vector<std::string> argv;
    if (haveTime) argv = {"/usr/bin/time", "-f", "%M", "-o", peakFile.string()};
    argv.insert(argv.end(), command.begin(), command.end());
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<std::string> envText(extraEnv);
    for (char** e = environ; *e; ++e) envText.emplace_back(*e);
    std::vector<char*> env;
    for (auto& e : envText) env.push_back(e.data());
    env.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return false;
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid) return false;
    if (peakKB) *peakKB = usage.ru_maxrss;
    if (haveTime) {
        std::ifstream in(peakFile);
        in >> *peakKB;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

BenchPackage prepare(const std::string& label, const fs::path& zip) {
    BenchPackage p{label, zip};
    const Bytes data = readWholeFile(zip);
    for (const auto& entry : VellZip::listEntries(data)) p.uncompressedBytes += static_cast<double>(entry.uncompressedSize);
    p.unpacked = fs::temp_directory_path() / ("corvane-preview-bench-" + label);
    fs::remove_all(p.unpacked);
    VellZip::extract(data, p.unpacked);
    const PCBPackage pkg = PackageImporter{}.importAny(zip);
    for (const auto& f : pkg.files) p.files.push_back((p.unpacked / f.relativePath).string());
    return p;
}

const std::vector<BenchPackage>& packages() {
    static const std::vector<BenchPackage> list = [] {
        std::vector<BenchPackage> out;
        out.push_back(prepare("sample", fs::path(CORVANE_SOURCE_DIR) / "Samples/ESP32_RevA.zip"));
        const fs::path large = fs::temp_directory_path() / "corvane-preview-bench-large.zip";
        if (fs::exists(large) ||
            run({"python3", std::string(CORVANE_SOURCE_DIR) + "/tools/make_large_board.py", large.string()}, {},
                nullptr))
            out.push_back(prepare("large", large));
        if (const char* extra = std::getenv("CORVANE_PREVIEW_PACKAGES")) {
            std::string list = extra;
            std::size_t start = 0;
            while (start <= list.size()) {
                const std::size_t end = std::min(list.find(':', start), list.size());
                const fs::path zip = list.substr(start, end - start);
                if (!zip.empty()) out.push_back(prepare(zip.stem().string(), zip));
                start = end + 1;
            }
        }
        return out;
    }();
    return list;
}

const BenchPackage* byIndex(benchmark::State& state) {
    const auto i = static_cast<std::size_t>(state.range(0));
    if (i >= packages().size()) {
        state.SkipWithError("no such package");
        return nullptr;
    }
    state.SetLabel(packages()[i].label);
    return &packages()[i];
}

void BM_Import(benchmark::State& state) {
    const BenchPackage* p = byIndex(state);
    if (!p) return;
    for (auto _ : state) benchmark::DoNotOptimize(PackageImporter{}.importAny(p->zip).files.size());
}

void BM_Render(benchmark::State& state) {
    const BenchPackage* p = byIndex(state);
    if (!p) return;
    const PCBPackage pkg = PackageImporter{}.importAny(p->zip);
    for (auto _ : state) {
        SoftwareRenderer renderer;
        benchmark::DoNotOptimize(renderer.render(pkg, kPreviewSize, std::nullopt, false));
    }
}

// What the preview program does with a package, in this process.
void BM_ImportAndRender(benchmark::State& state) {
    const BenchPackage* p = byIndex(state);
    if (!p) return;
    for (auto _ : state) {
        const PCBPackage pkg = PackageImporter{}.importAny(p->zip);
        SoftwareRenderer renderer;
        benchmark::DoNotOptimize(renderer.render(pkg, kPreviewSize, std::nullopt, false));
    }
}

// gerbv's export of the package's Gerber and drill files, fitted into the same number of pixels.
std::vector<std::string> gerbvCommand(const BenchPackage& p, SizePx size) {
    const fs::path out = fs::temp_directory_path() / "corvane-preview-bench-gerbv.png";
    std::vector<std::string> argv{"gerbv", "-x", "png", "-w",
                                  std::to_string(static_cast<int>(size.width)) + "x" +
                                      std::to_string(static_cast<int>(size.height)),
                                  "-o", out.string()};
    argv.insert(argv.end(), p.files.begin(), p.files.end());
    return argv;
}

// A program and gerbv, one right after the other in every iteration so that both meet the same load; the
// iteration time is the program's. Counters: gerbv's time, gerbv's time over the program's (`ratio`), and both
// peaks. The peaks are measured in the timed runs when `peaksWhileTimed`, else once after them, so that GNU
// time's own start does not weigh on runs of a few milliseconds. False when a run failed.
struct Command {
    std::vector<std::string> argv;
    std::vector<std::string> environment;
};
bool timeBesideGerbv(benchmark::State& state, const Command& program, const std::vector<std::string>& gerbv,
                     const char* ratio, bool peaksWhileTimed) {
    long programKB = 0, gerbvKB = 0;
    double programSeconds = 0, gerbvSeconds = 0;
    using Clock = std::chrono::steady_clock;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        const bool ran = run(program.argv, program.environment, peaksWhileTimed ? &programKB : nullptr);
        const auto t1 = Clock::now();
        const bool drawn = run(gerbv, {}, peaksWhileTimed ? &gerbvKB : nullptr);
        const auto t2 = Clock::now();
        if (!ran || !drawn) {
            state.SkipWithError(ran ? "gerbv is not installed or failed" : (program.argv[0] + " failed").c_str());
            return false;
        }
        const double seconds = std::chrono::duration<double>(t1 - t0).count();
        state.SetIterationTime(seconds);
        programSeconds += seconds;
        gerbvSeconds += std::chrono::duration<double>(t2 - t1).count();
    }
    if (!peaksWhileTimed) {
        run(program.argv, program.environment, &programKB);
        run(gerbv, {}, &gerbvKB);
    }
    const auto n = static_cast<double>(state.iterations());
    state.counters["gerbv_ms"] = gerbvSeconds / n * 1000;
    state.counters[ratio] = gerbvSeconds / programSeconds;
    state.counters["peak_MB"] = static_cast<double>(programKB) / 1024.0;
    state.counters["gerbv_peak_MB"] = static_cast<double>(gerbvKB) / 1024.0;
    return true;
}

#ifdef CORVANE_BOARDPEEK
// The preview program itself in its harness mode (import, picture, window capture and PNG) beside gerbv at
// the same size.
void BM_PreviewBesideGerbv(benchmark::State& state) {
    const BenchPackage* p = byIndex(state);
    if (!p) return;
    const fs::path out = fs::temp_directory_path() / "corvane-preview-bench-boardpeek.png";
    const Command preview{
        {CORVANE_BOARDPEEK},
        {"QLHARNESS_URL=" + p->zip.string(), "QLHARNESS_OUT=" + out.string(), "QT_QPA_PLATFORM=offscreen"}};
    if (!timeBesideGerbv(state, preview, gerbvCommand(*p, kPreviewSize), "gerbv_over_preview", true)) return;
    state.counters["budget_MB"] = (2 * p->uncompressedBytes + kPreviewSize.width * kPreviewSize.height * 4) / 1048576.0;
}
#endif

#ifdef CORVANE_THUMBNAILER
// The desktop's thumbnailer as a file browser starts it, at the large thumbnail size, beside gerbv at that size.
void BM_ThumbnailBesideGerbv(benchmark::State& state) {
    constexpr int kThumbnailPx = 256;
    const BenchPackage* p = byIndex(state);
    if (!p) return;
    const fs::path out = fs::temp_directory_path() / "corvane-thumbnail-bench.png";
    const Command thumbnailer{{CORVANE_THUMBNAILER, p->zip.string(), out.string(), std::to_string(kThumbnailPx)}, {}};
    timeBesideGerbv(state, thumbnailer, gerbvCommand(*p, SizePx{kThumbnailPx, kThumbnailPx}), "gerbv_over_thumbnail",
                    false);
}
#endif

void packageArgs(benchmark::internal::Benchmark* b) {
    for (std::size_t i = 0; i < packages().size(); ++i) b->Arg(static_cast<std::int64_t>(i));
    b->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_Import)->Apply(packageArgs)->UseRealTime();
BENCHMARK(BM_Render)->Apply(packageArgs)->UseRealTime();
BENCHMARK(BM_ImportAndRender)->Apply(packageArgs)->UseRealTime();
#ifdef CORVANE_BOARDPEEK
BENCHMARK(BM_PreviewBesideGerbv)->Apply(packageArgs)->UseManualTime();
#endif
#ifdef CORVANE_THUMBNAILER
BENCHMARK(BM_ThumbnailBesideGerbv)->Apply(packageArgs)->UseManualTime();
#endif

} // namespace
