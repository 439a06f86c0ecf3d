#pragma once
// The real-size package the import and desktop benchmarks measure (an Altium-style 14-layer card of about
// 19 MB of Gerber, made by tools/make_large_board.py), and measuring in a fresh child process: first
// touches of memory and peak memory are only seen there.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "io/FileIO.hpp"
#include "import/PackageImporter.hpp"
#include "io/VellZip.hpp"

namespace corvane::bench {

// CORVANE_LARGE_PACKAGE when set, else the package the generator writes into the temporary folder (made on
// first use). Empty when neither can be had.
inline std::filesystem::path largePackagePath() {
    static const std::filesystem::path path = [] {
        if (const char* given = std::getenv("CORVANE_LARGE_PACKAGE")) return std::filesystem::path(given);
        const auto made = std::filesystem::temp_directory_path() / "corvane-large-board.zip";
        std::error_code ec;
        if (!std::filesystem::exists(made, ec)) {
            const std::string command = "python3 '" CORVANE_SOURCE_DIR "/tools/make_large_board.py' '" +
                                        made.string() + "' > /dev/null";
            if (std::system(command.c_str()) != 0) return std::filesystem::path();
        }
        return made;
    }();
    return path;
}

// The Gerber and drill entries of the large package, inflated, as the importer reads them.
struct LargePackageLayers {
    std::vector<std::string> gerberNames;
    std::vector<Bytes> gerbers;
    std::size_t gerberBytes = 0;
    std::size_t drillBytes = 0;
};

inline const LargePackageLayers& largePackageLayers() {
    static const LargePackageLayers layers = [] {
        LargePackageLayers out;
        const auto path = largePackagePath();
        if (path.empty()) return out;
        const PCBPackage pkg = PackageImporter{}.importAny(path);
        const Bytes zip = readWholeFile(path);
        const VellZip::Archive archive(zip);
        for (const PackageFile& f : pkg.files) {
            Bytes bytes = archive.readEntry(f.relativePath);
            if (f.gerber) {
                out.gerberBytes += bytes.size();
                out.gerberNames.push_back(f.fileName);
                out.gerbers.push_back(std::move(bytes));
            } else if (f.drill) {
                out.drillBytes += bytes.size();
            }
        }
        return out;
    }();
    return layers;
}

// Kilobytes of the calling process's resident memory now ("VmRSS") or at its peak ("VmHWM").
inline long statusKB(const char* key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(key) + ":";
    while (std::getline(status, line))
        if (line.rfind(prefix, 0) == 0) return std::atol(line.c_str() + prefix.size());
    return -1;
}

// Lets the peak start again from the resident memory of now.
inline void resetPeakMemory() { std::ofstream("/proc/self/clear_refs") << "5"; }

// Runs `work` in a child process forked from this one and returns the numbers it reports; empty when the
// child fails. The child starts with nothing of the parent's later benchmarks in its heap.
template <std::size_t N>
std::vector<double> inChild(const std::function<std::array<double, N>()>& work) {
    int fds[2];
    if (::pipe(fds) != 0) return {};
    const pid_t pid = ::fork();
    if (pid < 0) return {};
    if (pid == 0) {
        ::close(fds[0]);
        const std::array<double, N> values = work();
        const auto written = ::write(fds[1], values.data(), sizeof values);
        ::_exit(written == static_cast<ssize_t>(sizeof values) ? 0 : 1);
    }
    ::close(fds[1]);
    std::array<double, N> values{};
    const auto got = ::read(fds[0], values.data(), sizeof values);
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (got != static_cast<ssize_t>(sizeof values) || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return {};
    return std::vector<double>(values.begin(), values.end());
}

} // namespace corvane::bench
