#include "Geometry.hpp"

#include <cmath>

namespace corvane {

double Vec2::length() const { return std::sqrt(x * x + y * y); }

double Vec2::distance(const Vec2& to) const {
    const double dx = x - to.x;
    const double dy = y - to.y;
    return std::sqrt(dx * dx + dy * dy);
}

Vec2 Vec2::roundedTo(double places) const {
    const double scale = std::pow(10.0, places);
    return Vec2{std::round(x * scale) / scale, std::round(y * scale) / scale};
}

namespace {
double axisDistance(double lo, double hi, double p) {
    const double a = lo - p;
    const double b = p - hi;
    if (a <= 0) return b >= 0 ? b : 0.0;
    return a > b ? a : b;
}
} // namespace

double BBox::distanceSquared(const Vec2& p) const {
    const double dx = axisDistance(minX, maxX, p.x);
    const double dy = axisDistance(minY, maxY, p.y);
    return dx * dx + dy * dy;
}

std::string Units::format(double mmValue, int decimals) const {
    if (v_ == mil) return formatFixed(mmValue / 0.0254, 1) + " mil";
    return formatFixed(mmValue, decimals) + " mm";
}

} // namespace corvane
