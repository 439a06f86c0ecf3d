// The summary and the checks when the system refuses memory: each ends its work with what it has and
// says it is incomplete, never with an exception. The test program's operator new fails on demand.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "Builders.hpp"
#include "checks/BoardSummaryEngine.hpp"
#include "checks/CopperSpacing.hpp"
#include "checks/DFMEngine.hpp"

namespace {

// Allocations larger than this fail, on every thread, while a test has armed it.
std::atomic<std::size_t> failAbove{SIZE_MAX};

// Makes allocations larger than `bytes` fail for as long as it lives.
class RefusedAllocations {
public:
    explicit RefusedAllocations(std::size_t bytes) { failAbove = bytes; }
    ~RefusedAllocations() { failAbove = SIZE_MAX; }
};

} // namespace

// The replacements pair malloc with free, which GCC takes for a mismatch with operator new.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void* operator new(std::size_t n) {
    if (n > failAbove.load(std::memory_order_relaxed)) throw std::bad_alloc();
    if (void* p = std::malloc(n == 0 ? 1 : n)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

using namespace corvane;
using namespace corvane::testing;

namespace {

// 40,000 tracks of different nets: their pieces need megabytes at once.
std::vector<PCBObject> manyTracks() {
    std::vector<PCBObject> out;
    for (int k = 0; k < 40000; ++k) out.push_back(track({k * 1.0, 0}, {k * 1.0 + 0.5, 0}, 0.2, "N" + std::to_string(k)));
    return out;
}

} // namespace

TEST(AllocationFailure, SummaryKeepsItsCountsAndMarksTheGapIncomplete) {
    const PCBPackage pkg = package({copperFile("top.gtl", manyTracks())});
    BoardSummary s;
    {
        RefusedAllocations refused(1 << 20);
        s = BoardSummaryEngine().summarize(pkg);
    }
    EXPECT_FALSE(s.minSpaceReliable);
    EXPECT_FALSE(s.minSpaceMM);
    EXPECT_EQ(s.copperLayerCount, 1);
    ASSERT_TRUE(s.minTrackMM);
    EXPECT_DOUBLE_EQ(*s.minTrackMM, 0.2);
    // With memory to spare the same board completes.
    EXPECT_TRUE(BoardSummaryEngine().summarize(pkg).minSpaceReliable);
}

TEST(AllocationFailure, ChecksReportWhatTheyFoundAndThatTheyStopped) {
    // The spacing check leaves the layer it could not build unexamined and says so.
    const PCBPackage pkg = package({copperFile("top.gtl", manyTracks())});
    spacing::SpacingResult r;
    {
        RefusedAllocations refused(1 << 20);
        r = spacing::checkCopperSpacing(pkg, 0.15, spacing::Clock::now() + std::chrono::seconds(30));
    }
    EXPECT_TRUE(r.incomplete);
    EXPECT_EQ(r.tooLargeFile, "top.gtl");

    // An outline of 100,000 strokes, whose ends need more than is given: the structure's findings
    // stand, and the report ends with an error saying the checks could not finish.
    std::vector<PCBObject> outline;
    for (int k = 0; k < 100000; ++k) outline.push_back(track({k * 1.0, 0}, {k * 1.0 + 1.0, 0}, 0.1));
    const PCBPackage big = package({gerberFile("board.gko", LayerType::outline(), outline)});
    DFMReport report;
    {
        RefusedAllocations refused(1 << 20);
        report = DFMEngine().runChecks(big, ManufacturingPreset{"Fab", 0.1, 0.1, 0.2, 0.1});
    }
    ASSERT_GE(report.issues.size(), 2u);
    EXPECT_EQ(report.issues[0].id, "missingDrillFile");
    const CheckIssue& last = report.issues.back();
    EXPECT_EQ(last.id, "checksIncomplete");
    EXPECT_EQ(last.severity, CheckSeverity::error);
    EXPECT_EQ(last.title, "Checks incomplete");
    EXPECT_EQ(last.message,
              "Checks incomplete: the manufacturing checks ran out of memory before they finished, so problems of "
              "this board may remain unreported.");
}
