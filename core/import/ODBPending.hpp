#pragma once
// TEMPORARY stand-ins until the geometry engine and layer order land; removed at merge.
#include <cmath>
#include <vector>
#include "model/Model.hpp"

namespace corvane::odbpending {

inline std::vector<Vec2> sampleArc(Vec2 start, Vec2 end, Vec2 center, bool clockwise) {
    const double dx = start.x - center.x, dy = start.y - center.y;
    const double r = std::sqrt(dx * dx + dy * dy);
    if (!(r > 1e-9)) return {start, end};
    const double a0 = std::atan2(dy, dx);
    double a1 = std::atan2(end.y - center.y, end.x - center.x);
    const double twoPi = 6.283185307179586;
    if (clockwise) { while (a1 >= a0) a1 -= twoPi; } else { while (a1 <= a0) a1 += twoPi; }
    const double s = a1 - a0;
    const double steps = std::ceil(std::fabs(s) / (8.0 * 3.141592653589793 / 180.0));
    if (!std::isfinite(steps)) return {start, end};
    const auto n = static_cast<int>(std::max(2.0, steps));
    std::vector<Vec2> out;
    for (int i = 1; i <= n; ++i) {
        const double a = a0 + s * i / n;
        out.push_back(Vec2{center.x + r * std::cos(a), center.y + r * std::sin(a)});
    }
    return out;
}

inline std::vector<Vec2> bridgeHole(const std::vector<Vec2>& outer, const std::vector<Vec2>& hole) {
    if (outer.empty() || hole.empty()) return outer;
    std::size_t m = 0;
    for (std::size_t i = 1; i < hole.size(); ++i)
        if (hole[i].x > hole[m].x || (hole[i].x == hole[m].x && hole[i].y > hole[m].y)) m = i;
    const Vec2 M = hole[m];
    std::size_t best = outer.size();
    double bestX = 0;
    for (std::size_t i = 0; i < outer.size(); ++i) {
        const Vec2 a = outer[i], b = outer[(i + 1) % outer.size()];
        if (std::fabs(b.y - a.y) <= 1e-12) continue;
        if (M.y < std::min(a.y, b.y) || M.y > std::max(a.y, b.y)) continue;
        const double x = a.x + (b.x - a.x) * (M.y - a.y) / (b.y - a.y);
        if (x < M.x - 1e-9) continue;
        if (best == outer.size() || x < bestX) { best = i; bestX = x; }
    }
    if (best == outer.size()) return outer;
    const Vec2 B{bestX, M.y};
    std::vector<Vec2> out(outer.begin(), outer.begin() + static_cast<std::ptrdiff_t>(best + 1));
    out.push_back(B);
    for (std::size_t k = 0; k < hole.size(); ++k) out.push_back(hole[(m + k) % hole.size()]);
    out.push_back(M);
    out.push_back(B);
    out.insert(out.end(), outer.begin() + static_cast<std::ptrdiff_t>(best + 1), outer.end());
    return out;
}

inline std::int64_t layerOrder(const LayerType& t) {
    switch (t.value.index()) {
    case 0: {
        const auto& side = t.as<LayerType::Copper>()->side;
        const std::int64_t s = side.sortOrder();
        return s > INT64_MAX - 100 ? INT64_MAX : 100 + s;
    }
    case 1: return 200;
    case 2: return 400;
    case 3: return 300;
    case 4: return 500;
    case 5: return 600;
    default: return 900;
    }
}

} // namespace corvane::odbpending
