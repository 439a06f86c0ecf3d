#pragma once
// The built programs timed as processes beside gerbv drawing the same Gerber and drill files, one right after
// the other in every iteration so that both meet the same machine load, and the boards they are timed on.
//
// Boards: Samples/ESP32_RevA.zip, the real-size package of LargePackage.hpp (CORVANE_LARGE_PACKAGE, or the
// one tools/make_large_board.py writes), and every ZIP archive or folder listed in CORVANE_BENCH_BOARDS (separated by ':'); the older name
// CORVANE_PREVIEW_PACKAGES is read too. A folder given with a trailing "/*" stands for each folder in it
// (a corpus of boards, one folder each).
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "LargePackage.hpp"
#include "import/PackageImporter.hpp"
#include "io/FileIO.hpp"
#include "io/VellZip.hpp"

extern char** environ;

namespace corvane::bench {

namespace fs = std::filesystem;

struct Board {
    std::string label;
    fs::path path;                   // the ZIP or folder the programs are given
    std::vector<std::string> files;  // the Gerber and drill files the importer took, for gerbv
    double uncompressedBytes = 0;
};

// A ZIP is unpacked for gerbv; a folder is read where it is.
inline Board prepareBoard(const std::string& label, const fs::path& path) {
    Board board{label, path, {}, 0};
    const PCBPackage pkg = PackageImporter{}.importAny(path);
    fs::path root = path;
    if (!fs::is_directory(path)) {
        const Bytes data = readWholeFile(path);
        for (const auto& entry : VellZip::listEntries(data)) board.uncompressedBytes += static_cast<double>(entry.uncompressedSize);
        root = fs::temp_directory_path() / ("corvane-bench-" + std::to_string(::getpid()) + "-" + label);
        fs::remove_all(root);
        VellZip::extract(data, root);
    }
    for (const auto& f : pkg.files) {
        const fs::path file = root / f.relativePath;
        board.files.push_back(file.string());
        if (fs::is_directory(path)) board.uncompressedBytes += static_cast<double>(fs::file_size(file));
    }
    return board;
}

inline std::vector<fs::path> listedBoards() {
    std::vector<fs::path> out;
    for (const char* name : {"CORVANE_BENCH_BOARDS", "CORVANE_PREVIEW_PACKAGES"}) {
        const char* value = std::getenv(name);
        if (!value) continue;
        const std::string list = value;
        for (std::size_t start = 0; start <= list.size();) {
            const std::size_t end = std::min(list.find(':', start), list.size());
            std::string item = list.substr(start, end - start);
            start = end + 1;
            if (item.empty()) continue;
            if (item.size() > 2 && item.compare(item.size() - 2, 2, "/*") == 0) {
                std::vector<fs::path> each;
                std::error_code ec;
                for (const auto& e : fs::directory_iterator(item.substr(0, item.size() - 2), ec))
                    if (e.is_directory()) each.push_back(e.path());
                std::sort(each.begin(), each.end());
                out.insert(out.end(), each.begin(), each.end());
            } else {
                out.emplace_back(item);
            }
        }
    }
    return out;
}

// The boards, made on first use: a board the importer refuses is left out.
inline const std::vector<Board>& boards() {
    static const std::vector<Board> list = [] {
        std::vector<Board> out;
        const auto add = [&out](const std::string& label, const fs::path& path) {
            try {
                out.push_back(prepareBoard(label, path));
            } catch (const std::exception&) {
            }
        };
        add("sample", fs::path(CORVANE_SOURCE_DIR) / "Samples/ESP32_RevA.zip");
        if (const fs::path large = largePackagePath(); !large.empty()) add("large", large);
        for (const fs::path& p : listedBoards()) add(p.filename().empty() ? p.parent_path().filename().string() : p.filename().string(), p);
        return out;
    }();
    return list;
}

inline const Board* boardOf(benchmark::State& state) {
    const auto i = static_cast<std::size_t>(state.range(0));
    if (i >= boards().size()) {
        state.SkipWithError("no such board");
        return nullptr;
    }
    state.SetLabel(boards()[i].label);
    return &boards()[i];
}

inline void boardArgs(benchmark::internal::Benchmark* b) {
    for (std::size_t i = 0; i < boards().size(); ++i) b->Arg(static_cast<std::int64_t>(i));
    b->Unit(benchmark::kMillisecond);
}

struct Command {
    std::vector<std::string> argv;
    std::vector<std::string> environment;  // added to this process's
};

struct ProcessRun {
    double seconds = 0;
    long peakKB = 0;
    bool ok = false;
};

// Runs a program with its output thrown away. With `measurePeak`, under GNU time, whose report of the peak
// resident set is the program's own: a child started straight from this process would count this process's
// peak too, since the kernel keeps the larger across the exec (GNU time's start then adds to the wall time).
inline ProcessRun runProcess(const Command& command, bool measurePeak) {
    const bool haveTime = measurePeak && fs::exists("/usr/bin/time");
    const fs::path peakFile = fs::temp_directory_path() / ("corvane-bench-peak-" + std::to_string(::getpid()) + ".txt");
    std::vector<std::string> argv;
    if (haveTime) argv = {"/usr/bin/time", "-f", "%M", "-o", peakFile.string()};
    argv.insert(argv.end(), command.argv.begin(), command.argv.end());
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<std::string> envText(command.environment);
    for (char** e = environ; *e; ++e) envText.emplace_back(*e);
    std::vector<char*> env;
    for (auto& e : envText) env.push_back(e.data());
    env.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    ProcessRun run;
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return run;
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid) return run;
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.peakKB = usage.ru_maxrss;
    if (haveTime) {
        std::ifstream in(peakFile);
        in >> run.peakKB;
    }
    run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return run;
}

inline double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// gerbv's PNG export of a board's files, fitted into `width` × `height` pixels.
inline Command gerbvCommand(const Board& board, int width, int height) {
    const fs::path out = fs::temp_directory_path() / ("corvane-bench-gerbv-" + std::to_string(::getpid()) + ".png");
    Command gerbv{{"gerbv", "-x", "png", "-w", std::to_string(width) + "x" + std::to_string(height), "-o", out.string()}, {}};
    gerbv.argv.insert(gerbv.argv.end(), board.files.begin(), board.files.end());
    return gerbv;
}

// `program` and gerbv one after the other in every iteration; the iteration time is the program's. Counters,
// medians over the iterations: `ms` the program's time, gerbv_ms, `ratio` gerbv's time over the program's
// (above 1: the program is quicker), peak_MB and gerbv_peak_MB. The peaks are measured in the timed runs when
// `peaksWhileTimed`, else once after them, so that GNU time's start does not weigh on runs of milliseconds.
// False, with the benchmark skipped, when a run failed.
inline bool timeBesideGerbv(benchmark::State& state, const Command& program, const Command& gerbv, const char* ratio,
                            bool peaksWhileTimed) {
    std::vector<double> programSeconds, gerbvSeconds;
    long programKB = 0, gerbvKB = 0;
    for (auto _ : state) {
        const ProcessRun ran = runProcess(program, peaksWhileTimed);
        const ProcessRun drawn = runProcess(gerbv, peaksWhileTimed);
        if (!ran.ok || !drawn.ok) {
            state.SkipWithError(ran.ok ? "gerbv is not installed or failed" : (program.argv[0] + " failed").c_str());
            return false;
        }
        state.SetIterationTime(ran.seconds);
        programSeconds.push_back(ran.seconds);
        gerbvSeconds.push_back(drawn.seconds);
        programKB = std::max(programKB, ran.peakKB);
        gerbvKB = std::max(gerbvKB, drawn.peakKB);
    }
    if (!peaksWhileTimed) {
        programKB = runProcess(program, true).peakKB;
        gerbvKB = runProcess(gerbv, true).peakKB;
    }
    const double mine = median(programSeconds), theirs = median(gerbvSeconds);
    state.counters["ms"] = mine * 1000;
    state.counters["gerbv_ms"] = theirs * 1000;
    state.counters[ratio] = mine > 0 ? theirs / mine : 0;
    state.counters["peak_MB"] = static_cast<double>(programKB) / 1024.0;
    state.counters["gerbv_peak_MB"] = static_cast<double>(gerbvKB) / 1024.0;
    return true;
}

} // namespace corvane::bench
