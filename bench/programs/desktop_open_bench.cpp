// Opening the real-size package in the desktop program, from its start to the written capture of the board
// canvas, against gerbv loading and drawing the same files in the same run: wall time and peak memory of
// each process. Needs a display; run it under Xvfb with software OpenGL, as the README says:
//
//     xvfb-run -a -s "-screen 0 1600x1000x24" env LIBGL_ALWAYS_SOFTWARE=1 build/bench/desktop_open_bench
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "LargePackage.hpp"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace corvane;

struct Run {
    double seconds = 0;
    double peakMB = 0;
    bool ok = false;
};

// Runs a program to its end with extra environment variables; its wall time and peak resident memory.
Run runProgram(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnvironment) {
    std::vector<std::string> environment = extraEnvironment;
    for (char** e = environ; *e; ++e) environment.emplace_back(*e);
    std::vector<char*> args, envs;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    for (const auto& e : environment) envs.push_back(const_cast<char*>(e.c_str()));
    args.push_back(nullptr);
    envs.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), envs.data());
    posix_spawn_file_actions_destroy(&actions);
    Run run;
    if (spawned != 0) return run;
    int status = 0;
    struct rusage usage {};
    if (wait4(pid, &status, 0, &usage) != pid) return run;
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.peakMB = static_cast<double>(usage.ru_maxrss) * 1024 / 1e6;
    run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return run;
}

// The package's layer files, written out for gerbv.
std::vector<std::string> extractedLayers(const fs::path& folder) {
    std::vector<std::string> files;
    const fs::path package = bench::largePackagePath();
    if (package.empty()) return files;
    const PCBPackage pkg = PackageImporter{}.importAny(package);
    const Bytes zip = readWholeFile(package);
    const VellZip::Archive archive(zip);
    fs::create_directories(folder);
    for (const PackageFile& f : pkg.files) {
        if (!f.gerber && !f.drill) continue;
        const Bytes bytes = archive.readEntry(f.relativePath);
        const fs::path out = folder / f.fileName;
        std::ofstream(out, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                   static_cast<std::streamsize>(bytes.size()));
        files.push_back(out.string());
    }
    return files;
}

void BM_DesktopOpensLargePackage(benchmark::State& state) {
    if (!std::getenv("DISPLAY")) return state.SkipWithError("no display: run under xvfb-run");
    const fs::path package = bench::largePackagePath();
    if (package.empty()) return state.SkipWithError("no large package");
    const fs::path work = fs::temp_directory_path() / ("corvane-open-bench-" + std::to_string(::getpid()));
    const std::vector<std::string> layers = extractedLayers(work / "layers");

    std::vector<std::string> gerbv{"gerbv", "-x", "png", "-o", (work / "gerbv.png").string()};
    gerbv.insert(gerbv.end(), layers.begin(), layers.end());
    const std::vector<std::string> corvane{CORVANE_APP};
    const std::vector<std::string> corvaneEnvironment{
        "LIBGL_ALWAYS_SOFTWARE=1", "CORVANE_IMPORT=" + package.string(),
        "CORVANE_METAL_SNAPSHOT=" + (work / "corvane.png").string(), "CORVANE_SCREENSHOT_DELAY=0",
        "XDG_CONFIG_HOME=" + (work / "config").string()};

    Run app, peer;
    double appSeconds = 0, peerSeconds = 0, appMB = 0, peerMB = 0;
    for (auto _ : state) {
        peer = runProgram(gerbv, {});
        app = runProgram(corvane, corvaneEnvironment);
        if (!app.ok) {
            state.SkipWithError("the desktop program wrote no capture");
            break;
        }
        state.SetIterationTime(app.seconds);
        appSeconds += app.seconds;
        appMB = std::max(appMB, app.peakMB);
        peerSeconds += peer.seconds;
        peerMB = std::max(peerMB, peer.peakMB);
    }
    const double n = static_cast<double>(std::max<std::int64_t>(state.iterations(), 1));
    state.counters["appSeconds"] = appSeconds / n;
    state.counters["appPeakMB"] = appMB;
    if (peer.ok) {
        state.counters["gerbvSeconds"] = peerSeconds / n;
        state.counters["gerbvPeakMB"] = peerMB;
        state.counters["timeVsGerbv"] = appSeconds / peerSeconds;
    }
    std::error_code ec;
    fs::remove_all(work, ec);
}
BENCHMARK(BM_DesktopOpensLargePackage)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);

} // namespace
