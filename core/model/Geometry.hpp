#pragma once
// Points, boxes and display units: the bottom of the board model. All lengths are millimetres.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "Format.hpp"
#include "RawValueEnum.hpp"

namespace corvane {

struct Vec2 {
    double x = 0.0;
    double y = 0.0;

    static constexpr Vec2 zero() { return Vec2{0.0, 0.0}; }
    Vec2 operator+(const Vec2& o) const { return Vec2{x + o.x, y + o.y}; }
    Vec2 operator-(const Vec2& o) const { return Vec2{x - o.x, y - o.y}; }
    Vec2 operator*(double s) const { return Vec2{x * s, y * s}; }
    bool operator==(const Vec2& o) const { return x == o.x && y == o.y; }
    bool isFinite() const { return std::isfinite(x) && std::isfinite(y); }
    double length() const;
    double distance(const Vec2& to) const;
    Vec2 roundedTo(double places) const;
};

// Whether p and what a half size r reaches around it are finite numbers: drawing and measuring a shape
// there go that far.
inline bool reachesFinitely(const Vec2& p, double r) {
    return std::isfinite(std::fabs(p.x) + std::fabs(r)) && std::isfinite(std::fabs(p.y) + std::fabs(r));
}

struct BBox {
    double minX = 0.0;
    double minY = 0.0;
    double maxX = 0.0;
    double maxY = 0.0;

    static constexpr BBox empty() {
        constexpr double inf = std::numeric_limits<double>::infinity();
        return BBox{inf, inf, -inf, -inf};
    }
    bool isValid() const { return !(maxX < minX || maxY < minY); }
    bool isEmpty() const { return !isValid(); }
    bool isFinite() const {
        return isValid() && std::isfinite(minX) && std::isfinite(minY) && std::isfinite(maxX) && std::isfinite(maxY);
    }
    // The extent of a finite box is finite even where its sides lie farther apart than a double reaches.
    double width() const { return extent(minX, maxX); }
    double height() const { return extent(minY, maxY); }
    Vec2 center() const { return Vec2{minX * 0.5 + maxX * 0.5, minY * 0.5 + maxY * 0.5}; }
    // A coordinate or edge that is not finite moves nothing (NaN by its comparisons, infinities by a test of
    // their own), so a box grown from any input stays finite.
    void include(const Vec2& p) {
        if (std::isfinite(p.x)) {
            if (p.x < minX) minX = p.x;
            if (maxX <= p.x) maxX = p.x;
        }
        if (std::isfinite(p.y)) {
            if (p.y < minY) minY = p.y;
            if (maxY <= p.y) maxY = p.y;
        }
    }
    void include(const BBox& o) {
        if (o.maxX < o.minX || o.maxY < o.minY) return;
        if (o.minX < minX && std::isfinite(o.minX)) minX = o.minX;
        if (o.minY < minY && std::isfinite(o.minY)) minY = o.minY;
        if (maxX <= o.maxX && std::isfinite(o.maxX)) maxX = o.maxX;
        if (maxY <= o.maxY && std::isfinite(o.maxY)) maxY = o.maxY;
    }
    BBox united(const BBox& o) const { BBox b = *this; b.include(o); return b; }
    BBox inset(double d) const { return BBox{minX + d, minY + d, maxX - d, maxY - d}; }
    BBox outset(double d) const { return BBox{minX - d, minY - d, maxX + d, maxY + d}; }
    bool contains(const Vec2& p) const { return minX <= p.x && p.x <= maxX && minY <= p.y && p.y <= maxY; }
    // Whether `b` lies wholly inside, edges included.
    bool contains(const BBox& b) const { return contains(Vec2{b.minX, b.minY}) && contains(Vec2{b.maxX, b.maxY}); }
    bool intersects(const BBox& o) const {
        if (o.maxX < minX || maxX < o.minX || o.maxY < minY || maxY < o.minY) return false;
        return true;
    }
    double distanceSquared(const Vec2& p) const;
    bool operator==(const BBox& o) const {
        return minX == o.minX && minY == o.minY && maxX == o.maxX && maxY == o.maxY;
    }

private:
    static double extent(double lo, double hi) {
        const double d = hi - lo;
        return d >= 0 ? std::min(d, std::numeric_limits<double>::max()) : 0.0;
    }
};

class Units : public RawValueCases<Units, 2> {
public:
    enum Value : std::uint8_t { mm, mil };
    constexpr Units() = default;
    constexpr Units(Value v) : v_(v) {}
    constexpr operator Value() const { return v_; }
    static constexpr std::array<std::string_view, 2> raws{"mm", "mil"};
    static constexpr const char* typeName() { return "Units"; }

    static double convert(double value, Units from, Units to) {
        if (from == to) return value;
        return from == mm ? value / 0.0254 : value * 0.0254;
    }
    // User-facing length text; mil always shows one decimal.
    std::string format(double mmValue, int decimals) const;

private:
    Value v_ = mm;
};

} // namespace corvane

template <> struct std::hash<corvane::Vec2> {
    std::size_t operator()(const corvane::Vec2& v) const noexcept {
        std::size_t s = 0;
        corvane::hashCombineValue(s, v.x);
        corvane::hashCombineValue(s, v.y);
        return s;
    }
};
template <> struct std::hash<corvane::BBox> {
    std::size_t operator()(const corvane::BBox& b) const noexcept {
        std::size_t s = 0;
        corvane::hashCombineValue(s, b.minX);
        corvane::hashCombineValue(s, b.minY);
        corvane::hashCombineValue(s, b.maxX);
        corvane::hashCombineValue(s, b.maxY);
        return s;
    }
};
template <> struct std::hash<corvane::Units> {
    std::size_t operator()(corvane::Units u) const noexcept { return static_cast<std::size_t>(u.operator corvane::Units::Value()); }
};
