#include "GeometryEngine.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace corvane {

namespace {
constexpr double kPi = 3.141592653589793;
constexpr double kTwoPi = 6.283185307179586;


double distanceBetween(const Vec2& a, const Vec2& b) {
    const double dx = a.x - b.x;
    const double dy = a.y - b.y;
    return std::sqrt(dx * dx + dy * dy);
}
} // namespace

// MARK: - TriangleMesh

void TriangleMesh::addTriangle(const Vec2& a, const Vec2& b, const Vec2& c) {
    vertices.insert(vertices.end(), {static_cast<float>(a.x), static_cast<float>(a.y), static_cast<float>(b.x),
                                     static_cast<float>(b.y), static_cast<float>(c.x), static_cast<float>(c.y)});
}

void TriangleMesh::addQuad(const Vec2& a, const Vec2& b, const Vec2& c, const Vec2& d) {
    addTriangle(a, b, c);
    addTriangle(a, c, d);
}

void TriangleMesh::addFan(const Vec2& center, double radius, double startDeg, double sweepDeg,
                          std::int64_t segments) {
    const std::int64_t k = std::max<std::int64_t>(segments, 3);
    const float cx = static_cast<float>(center.x);
    const float cy = static_cast<float>(center.y);
    const float r = static_cast<float>(radius);
    auto rim = [&](double deg, float& x, float& y) {
        const float phi = static_cast<float>(deg) * 3.1415925f / 180.0f;
        x = cx + r * std::cos(phi);
        y = cy + r * std::sin(phi);
    };
    float px = 0;
    float py = 0;
    rim(startDeg, px, py);
    vertices.reserve(vertices.size() + static_cast<std::size_t>(k) * 6);
    for (std::int64_t i = 1; i <= k; ++i) {
        float nx = 0;
        float ny = 0;
        rim(startDeg + sweepDeg * static_cast<double>(i) / static_cast<double>(k), nx, ny);
        vertices.insert(vertices.end(), {cx, cy, px, py, nx, ny});
        px = nx;
        py = ny;
    }
}

std::array<float, 12> TriangleMesh::verticesOfQuad(double minX, double minY, double maxX, double maxY) {
    const float x0 = static_cast<float>(minX);
    const float y0 = static_cast<float>(minY);
    const float x1 = static_cast<float>(maxX);
    const float y1 = static_cast<float>(maxY);
    return {x0, y0, x1, y0, x1, y1, x0, y0, x1, y1, x0, y1};
}

// MARK: - Arcs and distances

std::vector<Vec2> GeometryEngine::sampleArc(const Vec2& start, const Vec2& end, const Vec2& center,
                                            bool clockwise) const {
    std::vector<Vec2> out;
    sampleArc(start, end, center, clockwise, out);
    return out;
}

void GeometryEngine::sampleArc(const Vec2& start, const Vec2& end, const Vec2& center, bool clockwise,
                               std::vector<Vec2>& out) const {
    const double r = distanceBetween(start, center);
    auto chord = [&] {
        out.push_back(start);
        out.push_back(end);
    };
    if (!(r > 1e-9) || !std::isfinite(r)) return chord();
    const double a0 = std::atan2(start.y - center.y, start.x - center.x);
    double a1 = std::atan2(end.y - center.y, end.x - center.x);
    if (clockwise) {
        while (a1 >= a0) a1 -= kTwoPi;
    } else {
        while (a1 <= a0) a1 += kTwoPi;
    }
    const double s = a1 - a0;
    const double steps = std::ceil(std::fabs(s) / (arcSegmentDegrees * kPi / 180.0));
    // A sweep is at most a little over one turn, so only a tiny or unusable step size gets here.
    if (!(arcSegmentDegrees > 0) || !std::isfinite(steps) || steps > 1e6) return chord();
    const std::int64_t n = std::max<std::int64_t>(2, static_cast<std::int64_t>(steps));
    out.reserve(out.size() + static_cast<std::size_t>(n));
    for (std::int64_t i = 1; i <= n; ++i) {
        const double a = a0 + s * static_cast<double>(i) / static_cast<double>(n);
        out.push_back(Vec2{center.x + r * std::cos(a), center.y + r * std::sin(a)});
    }
}

double GeometryEngine::distancePointSegment(const Vec2& p, const Vec2& a, const Vec2& b) {
    const double dx = b.x - a.x;
    const double dy = b.y - a.y;
    const double q = dx * dx + dy * dy;
    if (!(q > 1e-18)) return distanceBetween(p, a);
    double t = ((p.x - a.x) * dx + (p.y - a.y) * dy) / q;
    t = std::clamp(t, 0.0, 1.0);
    return distanceBetween(p, Vec2{a.x + t * dx, a.y + t * dy});
}

double GeometryEngine::distancePointArc(const Vec2& p, const Vec2& start, const Vec2& end, const Vec2& center,
                                        bool clockwise) {
    const double r = distanceBetween(start, center);
    if (!(r > 1e-9)) return distancePointSegment(p, start, end);
    double phi = std::atan2(p.y - center.y, p.x - center.x);
    const double a0 = std::atan2(start.y - center.y, start.x - center.x);
    double a1 = std::atan2(end.y - center.y, end.x - center.x);
    bool within = false;
    if (clockwise) {
        while (a1 >= a0) a1 -= kTwoPi;
        while (phi >= a0) phi -= kTwoPi;
        within = phi >= a1;
    } else {
        while (a1 <= a0) a1 += kTwoPi;
        while (phi <= a0) phi += kTwoPi;
        within = phi <= a1;
    }
    if (within) return std::fabs(distanceBetween(p, center) - r);
    return std::min(distanceBetween(p, start), distanceBetween(p, end));
}

// MARK: - Polygons

double GeometryEngine::signedArea(const std::vector<Vec2>& points) {
    const std::size_t n = points.size();
    double sum = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const Vec2& p = points[i];
        const Vec2& q = points[i + 1 == n ? 0 : i + 1];
        sum += p.x * q.y - q.x * p.y;
    }
    return sum * 0.5;
}

std::vector<Vec2> GeometryEngine::ensureCCW(std::vector<Vec2> points) {
    if (signedArea(points) < 0) std::reverse(points.begin(), points.end());
    return points;
}

std::vector<Vec2> GeometryEngine::bridgeHole(const std::vector<Vec2>& outer, const std::vector<Vec2>& hole) {
    if (outer.empty() || hole.empty()) return outer;
    std::size_t mi = 0;
    for (std::size_t i = 1; i < hole.size(); ++i) {
        const Vec2& p = hole[i];
        const Vec2& m = hole[mi];
        if (p.x > m.x || (p.x == m.x && p.y > m.y)) mi = i;
    }
    const Vec2 m = hole[mi];
    const std::size_t n = outer.size();
    std::optional<std::size_t> edge;
    double bestX = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const Vec2& p = outer[i];
        const Vec2& q = outer[i + 1 == n ? 0 : i + 1];
        const double lo = std::min(p.y, q.y);
        const double hi = std::max(p.y, q.y);
        if (!(lo <= m.y && m.y <= hi) || !(std::fabs(q.y - p.y) > 1e-12)) continue;
        const double x = p.x + (q.x - p.x) * (m.y - p.y) / (q.y - p.y);
        if (!(x >= m.x - 1e-9)) continue;
        if (!edge || x < bestX) {
            edge = i;
            bestX = x;
        }
    }
    if (!edge) return outer;
    const Vec2 b{bestX, m.y};
    std::vector<Vec2> result;
    result.reserve(n + hole.size() + 3);
    result.insert(result.end(), outer.begin(), outer.begin() + static_cast<std::ptrdiff_t>(*edge + 1));
    result.push_back(b);
    result.insert(result.end(), hole.begin() + static_cast<std::ptrdiff_t>(mi), hole.end());
    result.insert(result.end(), hole.begin(), hole.begin() + static_cast<std::ptrdiff_t>(mi));
    result.push_back(m);
    result.push_back(b);
    result.insert(result.end(), outer.begin() + static_cast<std::ptrdiff_t>(*edge + 1), outer.end());
    return result;
}

std::vector<Vec2> GeometryEngine::dedupeConsecutive(const std::vector<Vec2>& points) {
    if (points.size() < 2) return points;
    std::vector<Vec2> kept;
    kept.reserve(points.size());
    for (const Vec2& p : points) {
        if (kept.empty() || !(distanceBetween(p, kept.back()) < 1e-9)) kept.push_back(p);
    }
    if (kept.size() >= 2 && distanceBetween(kept.front(), kept.back()) < 1e-9) kept.pop_back();
    return kept;
}

bool GeometryEngine::pointInPolygon(const Vec2& point, const std::vector<Vec2>& polygon) {
    const std::size_t n = polygon.size();
    bool inside = false;
    for (std::size_t i = 0, j = n - 1; i < n; j = i++) {
        const Vec2& pi = polygon[i];
        const Vec2& pj = polygon[j];
        if ((point.y < pi.y) != (point.y < pj.y) &&
            point.x < pi.x + (point.y - pi.y) * (pj.x - pi.x) / (pj.y - pi.y)) {
            inside = !inside;
        }
    }
    return inside;
}

double GeometryEngine::distancePointPolygon(const Vec2& point, const std::vector<Vec2>& polygon) {
    if (polygon.empty()) return std::numeric_limits<double>::infinity();
    if (pointInPolygon(point, polygon)) return 0;
    double best = std::numeric_limits<double>::infinity();
    const std::size_t n = polygon.size();
    for (std::size_t i = 0; i < n; ++i) {
        best = std::min(best, distancePointSegment(point, polygon[i], polygon[i + 1 == n ? 0 : i + 1]));
    }
    return best;
}

} // namespace corvane
