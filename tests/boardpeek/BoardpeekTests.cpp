#include <gtest/gtest.h>

#include "TempDir.hpp"

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
#include <sys/wait.h>

namespace fs = std::filesystem;

namespace {

struct ProgramRun {
    int code = -1;
    std::string err;
};

// Runs a real program with an environment, capturing standard error.
ProgramRun runProgram(const std::string& program, const std::string& env, const std::string& args) {
    const fs::path errFile = fs::temp_directory_path() / ("bp-err-" + std::to_string(::getpid()));
    const std::string cmd = "env -u QLHARNESS_URL -u QLHARNESS_OUT " + env + " QT_QPA_PLATFORM=offscreen '" + program +
                            "' " + args + " 2>'" + errFile.string() + "' >/dev/null";
    const int status = std::system(cmd.c_str());
    ProgramRun r;
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream in(errFile);
    r.err.assign(std::istreambuf_iterator<char>(in), {});
    fs::remove(errFile);
    return r;
}

ProgramRun runBoardpeek(const std::string& env, const std::string& args) {
    return runProgram(BOARDPEEK_EXE, env, args);
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
}

TEST(BoardpeekDeadline, WorkPastItsProcessorTimeIsGivenUpAndOtherWorkPassesThrough) {
    using corvane::runWithinCpuTime;
    EXPECT_EQ(runWithinCpuTime<int>([] { return 42; }), 42);
    EXPECT_THROW(runWithinCpuTime<int>([]() -> int { throw std::runtime_error("bad board"); }), std::runtime_error);
    EXPECT_FALSE(corvane::abandonedWorkRunning());

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
