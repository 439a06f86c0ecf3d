#include <gtest/gtest.h>

#include "ChildRun.hpp"
#include "TempDir.hpp"

#include "BoardHeap.hpp"
#include "CpuDeadline.hpp"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <filesystem>
#include <fstream>
#include <string>
#include <new>
#include <sys/resource.h>
#include <sys/wait.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct ProgramRun {
    int code = -1;
    std::string err;
};

// Runs a real program with an environment, capturing standard error; `shell` comes first (a limit to set).
ProgramRun runProgram(const std::string& program, const std::string& env, const std::string& args,
                      const std::string& shell = "") {
    const fs::path errFile = fs::temp_directory_path() / ("bp-err-" + std::to_string(::getpid()));
    const std::string cmd = shell + "env -u QLHARNESS_URL -u QLHARNESS_OUT " + env + " QT_QPA_PLATFORM=offscreen '" +
                            program + "' " + args + " 2>'" + errFile.string() + "' >/dev/null";
    const int status = std::system(cmd.c_str());
    ProgramRun r;
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream in(errFile);
    r.err.assign(std::istreambuf_iterator<char>(in), {});
    fs::remove(errFile);
    return r;
}

ProgramRun runBoardpeek(const std::string& env, const std::string& args, const std::string& shell = "") {
    return runProgram(BOARDPEEK_EXE, env, args, shell);
}

using corvane::testing::TempDir;

const std::string kSample = std::string(CORVANE_SOURCE_DIR) + "/Samples/ESP32_RevA.zip";

bool isPNG(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::array<char, 8> sig{};
    in.read(sig.data(), 8);
    return in.gcount() == 8 && sig[1] == 'P' && sig[2] == 'N' && sig[3] == 'G';
}

} // namespace

TEST(BoardpeekHarness, WritesThePreviewAndReportsTheImage) {
    TempDir dir;
    const fs::path out = dir.path / "preview.png";
    const ProgramRun r = runBoardpeek("QLHARNESS_URL='" + kSample + "' QLHARNESS_OUT='" + out.string() + "'", "");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("harness preview written: " + out.string() + "\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("preview image: (600.0, 450.0)\n"), std::string::npos) << r.err;
    EXPECT_TRUE(isPNG(out));
}

TEST(BoardpeekHarness, RefusedFileShowsTheMessage) {
    TempDir dir;
    const fs::path in = dir.path / "board.xml";
    std::ofstream(in) << "<?xml version=\"1.0\"?><IPC-2581 revision=\"B\"></IPC-2581>";
    const fs::path out = dir.path / "preview.png";
    const ProgramRun r = runBoardpeek("QLHARNESS_URL='" + in.string() + "' QLHARNESS_OUT='" + out.string() + "'", "");
    EXPECT_EQ(r.code, 0) << r.err;
    const auto written = r.err.find("harness preview written: ");
    const auto fallback = r.err.find("no image view (fallback shown)\n");
    ASSERT_NE(written, std::string::npos);
    ASSERT_NE(fallback, std::string::npos);
    EXPECT_LT(written, fallback);
    EXPECT_TRUE(isPNG(out));
}

TEST(BoardpeekHarness, AFailedWriteIsAnErrorNotASuccess) {
    TempDir dir;
    // A plain file where the output folder should be: the write must fail even as root.
    const fs::path blocker = dir.path / "blocker";
    std::ofstream(blocker) << "x";
    const fs::path out = blocker / "preview.png";
    const ProgramRun r = runBoardpeek("QLHARNESS_URL='" + kSample + "' QLHARNESS_OUT='" + out.string() + "'", "");
    EXPECT_NE(r.code, 0);
    EXPECT_EQ(r.err.find("harness preview written:"), std::string::npos) << r.err;
}

TEST(BoardpeekHarness, PlantedLinkAtTheOutputIsReplacedNotFollowed) {
    TempDir dir;
    const fs::path victim = dir.path / "victim.txt";
    std::ofstream(victim) << "keep me";
    const fs::path out = dir.path / "preview.png";
    fs::create_symlink(victim, out);
    const ProgramRun r = runBoardpeek("QLHARNESS_URL='" + kSample + "' QLHARNESS_OUT='" + out.string() + "'", "");
    EXPECT_EQ(r.code, 0) << r.err;
    std::ifstream in(victim);
    std::string text((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(text, "keep me");
    EXPECT_FALSE(fs::is_symlink(out));
    EXPECT_TRUE(isPNG(out));
}

TEST(BoardpeekThumbnailer, GoodAndBadInput) {
    TempDir dir;
    const fs::path out = dir.path / "thumb.png";
    ProgramRun r = runBoardpeek("", "--thumbnail '" + kSample + "' '" + out.string() + "' 128");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(isPNG(out));

    const fs::path junk = dir.path / "junk.gbr";
    std::ofstream(junk) << "this is not a board";
    const fs::path out2 = dir.path / "thumb2.png";
    r = runBoardpeek("", "--thumbnail '" + junk.string() + "' '" + out2.string() + "' 128");
    EXPECT_NE(r.code, 0);
    EXPECT_FALSE(fs::exists(out2));

    // The desktop's thumbnailer, a program of its own without Qt, takes the same arguments, draws the same
    // picture and ends the same way.
    const fs::path same = dir.path / "same.png";
    r = runProgram(THUMBNAILER_EXE, "", "'" + kSample + "' '" + same.string() + "' 128");
    EXPECT_EQ(r.code, 0) << r.err;
    std::ifstream a(out, std::ios::binary), b(same, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(a), {}), std::string(std::istreambuf_iterator<char>(b), {}));
    r = runProgram(THUMBNAILER_EXE, "", "'" + junk.string() + "' '" + out2.string() + "' 128");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err.rfind("boardpeek-thumbnailer: ", 0), 0u) << r.err;
    EXPECT_FALSE(fs::exists(out2));
    EXPECT_EQ(runProgram(THUMBNAILER_EXE, "", "'" + kSample + "' '" + out2.string() + "'").code, 2);
    EXPECT_FALSE(fs::exists(out2));

    // A square board 1e308 mm across, one pad that size beside a small one: drawn, not refused.
    const fs::path stray = dir.path / "stray.gtl";
    std::ofstream(stray) << "%FSLAX46Y46*%\n%MOMM*%\n%ADD10R,1e308X1e308*%\n%ADD11C,1*%\nD10*\nX0Y0D03*\nD11*\n"
                            "X1000000Y1000000D03*\nM02*\n";
    r = runProgram(THUMBNAILER_EXE, "", "'" + stray.string() + "' '" + out2.string() + "' 128");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(isPNG(out2));
}

TEST(BoardpeekHarness, ABoardPastTheMemoryCapIsRefusedWithItsReason) {
    // Two million strokes need more than the 200 MB of data the programs are started with here: the preview
    // shows the importer's reason and the thumbnailer exits 1 with it, where they ended on an uncaught
    // std::bad_alloc (or took all the machine had).
    TempDir dir;
    std::string text = "%FSLAX46Y46*%%MOMM*%%ADD10C,0.1*%D10*X0Y0D02*";
    for (int i = 0; i < 2'000'000; ++i) text += "X" + std::to_string(i * 37 % 100000000) + "Y" + std::to_string(i) + "D01*";
    const fs::path board = dir.path / "strokes.gtl";
    std::ofstream(board) << text << "M02*";
    const std::string reason = "Could not import: 'strokes.gtl' is too large to import (not enough memory).";
    const fs::path out = dir.path / "preview.png";
    ProgramRun r = runBoardpeek("QLHARNESS_URL='" + board.string() + "' QLHARNESS_OUT='" + out.string() + "'",
                                "", "ulimit -d 200000;");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("no image view (fallback shown)\n"), std::string::npos) << r.err;
    EXPECT_TRUE(isPNG(out));
    const fs::path thumb = dir.path / "thumb.png";
    r = runProgram(THUMBNAILER_EXE, "", "'" + board.string() + "' '" + thumb.string() + "' 128", "ulimit -d 200000;");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "boardpeek-thumbnailer: " + reason + "\n");
    EXPECT_FALSE(fs::exists(thumb));
}

TEST(BoardpeekDeadline, DataMemoryIsCappedAndALowerCapStands) {
    const auto outcome = corvane::testing::runInChild([] {
        std::string text;
        if (!corvane::capDataMemory(std::uint64_t{1} << 30)) return std::string("not capped");
        rlimit limit{};
        ::getrlimit(RLIMIT_DATA, &limit);
        text += std::to_string(limit.rlim_cur >> 20) + " MB;";
        try {
            std::vector<char> past(std::size_t{3} << 29);
            text += " allocated";
        } catch (const std::bad_alloc&) {
            text += " refused";
        }
        corvane::capDataMemory(std::uint64_t{2} << 30);
        ::getrlimit(RLIMIT_DATA, &limit);
        return text + "; " + std::to_string(limit.rlim_cur >> 20) + " MB";
    });
    ASSERT_TRUE(outcome.finished);
    EXPECT_EQ(outcome.text, "1024 MB; refused; 1024 MB");
}

TEST(BoardpeekDeadline, TheHugePageHeapIsForBoardsOfSomeMegabytesAndKeepsWithinTheCap) {
    // A board of some megabytes, in a file or a folder, gets the one heap of huge pages; a small one keeps the
    // heap as it is. Under a data cap of 256 MB the reserve leaves room for what the cap allows, no more.
    TempDir dir;
    auto write = [](const fs::path& p, std::size_t bytes) { std::ofstream(p) << std::string(bytes, '*'); };
    write(dir.path / "small.gbr", 10'000);
    fs::create_directory(dir.path / "folder");
    write(dir.path / "folder" / "top.gtl", 300'000);
    write(dir.path / "folder" / "bottom.gbl", 300'000);
    write(dir.path / "large.zip", 2'000'000);
    const auto prepared = [](const fs::path& board) {
        return corvane::testing::runInChild([board] {
            corvane::capDataMemory(std::uint64_t{256} << 20);
            std::string text = corvane::prepareHeapForBoard(board, 256 * 256 * 4) ? "huge" : "plain";
            try {
                std::vector<char> within(std::size_t{150} << 20, 1);
                text += ", 150 MB";
            } catch (const std::bad_alloc&) {
                text += ", refused";
            }
            try {
                std::vector<char> past(std::size_t{300} << 20, 1);
                text += ", 300 MB";
            } catch (const std::bad_alloc&) {
                text += ", refused";
            }
            return text;
        }).text;
    };
    EXPECT_EQ(prepared(dir.path / "small.gbr"), "plain, 150 MB, refused");
    EXPECT_EQ(prepared(dir.path / "folder"), "huge, 150 MB, refused");
    EXPECT_EQ(prepared(dir.path / "large.zip"), "huge, 150 MB, refused");
}

TEST(BoardpeekDeadline, WorkPastItsProcessorTimeIsGivenUpAndOtherWorkPassesThrough) {
    using corvane::runWithinCpuTime;
    EXPECT_EQ(runWithinCpuTime<int>([] { return 42; }), 42);
    EXPECT_THROW(runWithinCpuTime<int>([]() -> int { throw std::runtime_error("bad board"); }), std::runtime_error);
    EXPECT_FALSE(corvane::abandonedWorkRunning());
    // Whether work has ended is told without waiting for it.
    auto release = std::make_shared<std::atomic<bool>>(false);
    corvane::WorkWithinCpuTime<int> pending([release] {
        while (!*release) std::this_thread::yield();
        return 7;
    });
    EXPECT_FALSE(pending.ended());
    *release = true;
    EXPECT_EQ(pending.get(), 7);
    EXPECT_TRUE(pending.ended());

    // Endless work, as a rasteriser on a self-crossing region of millions of points is in effect: the
    // caller gets control back once the processor time is spent, whatever the work does.
    auto stop = std::make_shared<std::atomic<bool>>(false);
    const auto given = runWithinCpuTime<int>(
        [stop] {
            volatile unsigned spin = 0;
            while (!*stop) spin = spin + 1;
            return 0;
        },
        0.3, std::chrono::seconds(60));
    EXPECT_FALSE(given.has_value());
    EXPECT_TRUE(corvane::abandonedWorkRunning());
    *stop = true;
}
