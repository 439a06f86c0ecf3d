#pragma once
// Columns and rows of a uniform grid over a box; anything outside the box, or not a number, falls into a
// border cell, so a lookup is always in range. A base for the polygon indexes of hole bridging and ear
// clipping, which set the grid up over their points.
#include <cmath>
#include <cstdint>

namespace corvane {

class GridAxes {
protected:
    std::int32_t gx_ = 1, gy_ = 1;
    double minX_ = 0, minY_ = 0, scaleX_ = 0, scaleY_ = 0;

    static std::int32_t clampedCell(double v, double min, double scale, std::int32_t count) {
        const double c = std::floor((v - min) * scale);
        if (!(c > 0)) return 0;
        return c >= count - 1 ? count - 1 : static_cast<std::int32_t>(c);
    }
    std::int32_t cellX(double x) const { return clampedCell(x, minX_, scaleX_, gx_); }
    std::int32_t cellY(double y) const { return clampedCell(y, minY_, scaleY_, gy_); }
};

} // namespace corvane
