#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "checks/CellGrid.hpp"

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
