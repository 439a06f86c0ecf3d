#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "checks/CellGrid.hpp"
#include "checks/MemoryAllowance.hpp"

using namespace corvane;
using namespace corvane::grid;

namespace {

std::vector<std::uint32_t> at(const CellGrid& g, std::int64_t x, std::int64_t y) {
    auto s = g.items(x, y);
    return {s.begin(), s.end()};
}

} // namespace

TEST(CellGrid, ListsKeepEntryOrderInDenseAndHashedLayouts) {
    for (double far : {10.0, 1e12}) {  // a far item makes the extent too large for a dense table
        std::vector<CellRange> ranges = {rangeOf(BBox{0, 0, 2.5, 0.5}, 1.0), rangeOf(BBox{1, 0, 1, 0}, 1.0),
                                         CellRange{}, rangeOf(BBox{far, far, far, far}, 1.0),
                                         rangeOf(BBox{0.5, 0.5, 1.5, 0.5}, 1.0)};
        CellGrid g;
        std::vector<std::uint32_t> oversized;
        ASSERT_TRUE(g.build(ranges, oversized, [] { return false; }));
        EXPECT_TRUE(oversized.empty());
        EXPECT_EQ(at(g, 0, 0), (std::vector<std::uint32_t>{0, 4}));
        EXPECT_EQ(at(g, 1, 0), (std::vector<std::uint32_t>{0, 1, 4}));
        EXPECT_EQ(at(g, 2, 0), (std::vector<std::uint32_t>{0}));
        EXPECT_EQ(at(g, 3, 0), (std::vector<std::uint32_t>{}));
        EXPECT_EQ(at(g, -1, -1), (std::vector<std::uint32_t>{}));
        const auto f = static_cast<std::int64_t>(far);
        EXPECT_EQ(at(g, f, f), (std::vector<std::uint32_t>{3}));
    }
}

TEST(CellGrid, StrayGeometryIsClampedOrSetAside) {
    EXPECT_EQ(cellIndex(1e300, 0.5), kCellIndexLimit);
    EXPECT_EQ(cellIndex(-1e300, 0.5), -kCellIndexLimit);
    EXPECT_EQ(cellIndex(-0.25, 0.5), -1);
    // Inverted boxes give the cell of their minimum.
    const CellRange inv = rangeOf(BBox{3, 3, 1, 1}, 1.0);
    EXPECT_EQ(inv.x0, 3);
    EXPECT_EQ(inv.x1, 3);
    // A 1 km segment at 0.5 mm cells covers 2,000,000 cells: oversized, not entered.
    std::vector<CellRange> ranges = {rangeOf(BBox{-500000, 0, 500000, 0}, 0.5), rangeOf(BBox{0, 0, 0, 0}, 0.5),
                                     rangeOf(BBox{-1e300, -1e300, 1e300, 1e300}, 0.5)};
    EXPECT_TRUE(ranges[0].isOversized());
    EXPECT_TRUE(ranges[2].isOversized());
    CellGrid g;
    std::vector<std::uint32_t> oversized;
    ASSERT_TRUE(g.build(ranges, oversized, [] { return false; }));
    EXPECT_EQ(oversized, (std::vector<std::uint32_t>{0, 2}));
    EXPECT_EQ(at(g, 0, 0), (std::vector<std::uint32_t>{1}));
    // The stop request is honoured while building.
    std::vector<CellRange> big(10000, rangeOf(BBox{0, 0, 3, 3}, 1.0));
    EXPECT_FALSE(g.build(big, oversized, [] { return true; }));
}

TEST(CellGrid, TablesComeFromTheAllowanceAndGoBackToIt) {
    // 20,000 items of 3 × 3 cells, spread too far apart for a dense table: a hashed one of 180,000
    // cells (several megabytes), which a 1 MB allowance cannot hold.
    std::vector<CellRange> ranges;
    for (int k = 0; k < 20000; ++k) ranges.push_back(rangeOf(BBox{k * 1e6, 0, k * 1e6 + 2.5, 2.5}, 1.0));
    std::vector<std::uint32_t> oversized;
    MemoryAllowance small(1 << 20);
    {
        CellGrid g;
        EXPECT_FALSE(g.build(ranges, oversized, [] { return false; }, &small));
        EXPECT_EQ(small.left(), std::size_t{1} << 20);  // a refused build holds nothing
    }
    MemoryAllowance ample(std::size_t{256} << 20);
    {
        CellGrid g;
        ASSERT_TRUE(g.build(ranges, oversized, [] { return false; }, &ample));
        EXPECT_EQ(at(g, 19999 * 1000000LL + 2, 2), (std::vector<std::uint32_t>{19999}));
        EXPECT_LT(ample.left(), std::size_t{256} << 20);
        const std::size_t held = (std::size_t{256} << 20) - ample.left();
        // Built again over fewer items, the grid holds only what the new tables take.
        ranges.resize(10);
        ASSERT_TRUE(g.build(ranges, oversized, [] { return false; }, &ample));
        EXPECT_LT((std::size_t{256} << 20) - ample.left(), held / 100);
    }
    EXPECT_EQ(ample.left(), std::size_t{256} << 20);

    // Sparse items covering many cells each enter a few cells per item at most; the rest are oversized.
    std::vector<CellRange> wide;
    for (int k = 0; k < 100; ++k) wide.push_back(rangeOf(BBox{k * 1e9, 0, k * 1e9 + 200, 200}, 1.0));
    CellGrid g;
    ASSERT_TRUE(g.build(wide, oversized, [] { return false; }));
    EXPECT_EQ(oversized.size(), 99u);  // the first one's 40,401 cells fit the hashed budget of 100 items
    EXPECT_EQ(at(g, 100, 100), (std::vector<std::uint32_t>{0}));

    // Holds take and give back whatever thread they are used from, and a hold without an
    // allowance grants everything.
    MemoryAllowance shared(1000);
    AllowanceHold a(shared), b(shared);
    EXPECT_TRUE(a.take(600));
    EXPECT_FALSE(b.take(500));
    EXPECT_TRUE(b.takeFor<std::uint64_t>(50));
    EXPECT_FALSE(b.takeFor(SIZE_MAX / 2, 4));  // a product past size_t is refused, not wrapped
    AllowanceHold moved(std::move(a));
    EXPECT_EQ(shared.left(), 0u);
    moved.giveBack(100);
    EXPECT_EQ(shared.left(), 100u);
    moved.release();
    b.release();
    EXPECT_EQ(shared.left(), 1000u);
    EXPECT_TRUE(AllowanceHold().take(SIZE_MAX));
}
