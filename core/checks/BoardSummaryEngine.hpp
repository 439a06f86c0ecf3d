#pragma once
// The board at a glance: size, layer and hole counts, the narrowest track and the closest gap
// between copper that is not connected, computed within a time budget.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "CellGrid.hpp"
#include "model/Model.hpp"

namespace corvane {

// The key of a cell of the spacing estimate's grid.
using Vec2Int = GridCellKey;

struct MinSpaceEstimate {
    std::optional<double> value;
    bool completed = true;  // false when the time budget ran out first
};

// Where a board's size comes from: its outline layers, or, without one, the extent of its copper, masks and
// holes, which can differ from the board's edge.
enum class BoardSizeSource { outline, layerExtent };

struct BoardSummaryEngine {
    double timeBudget = 2.0;  // seconds the spacing estimate may run

    BoardSummary summarize(const PCBPackage& package) const;
    // The box of the board's edge drawn by the outline layers (PCBPackage::outlineBBox); nullopt when the
    // outline has no usable geometry.
    static std::optional<BBox> outlineCenterlineBBox(const PCBPackage& package);
    // The source of the size summarize gives the package.
    static BoardSizeSource sizeSource(const PCBPackage& package);
    // Drill hits and slots whose plating the drill files leave open (counted as neither PTH nor NPTH).
    // A summary decoded from JSON may hold any counts: the result is never below 0 and never overflows.
    static std::int64_t unstatedPlatingCount(const BoardSummary& summary) {
        const auto count = [](std::int64_t v) { return std::max<std::int64_t>(0, v); };
        const std::int64_t drills = count(summary.drillCount);
        const std::int64_t afterPTH = drills - std::min(drills, count(summary.pthCount));
        return afterPTH - std::min(afterPTH, count(summary.npthCount));
    }
    // The closest gap between copper of one layer that is not connected: different islands, or
    // different known nets (the spacing check's measure).
    MinSpaceEstimate estimateMinSpace(const std::vector<PCBObject>& objects) const;
    // The same over several layers at once; pieces of different layers are never paired.
    MinSpaceEstimate estimateMinSpace(std::span<const std::span<const PCBObject>> layers) const;
};

} // namespace corvane
