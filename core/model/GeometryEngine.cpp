#include "GeometryEngine.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "Angles.hpp"
#include "GridAxes.hpp"

namespace corvane {

// Arcs and distances

std::vector<Vec2> GeometryEngine::sampleArc(const Vec2& start, const Vec2& end, const Vec2& center,
                                            bool clockwise) const {
    std::vector<Vec2> out;
    sampleArc(start, end, center, clockwise, out);
    return out;
}

namespace {
// How an arc is sampled: n points at angles a0 + s·i/n on the start's radius, or just its two ends.
struct ArcPlan {
    bool chord = true;
    double r = 0, a0 = 0, s = 0;
    std::int64_t n = 2;
};

// Largest angle (radians) one piece may span: the angle limit, narrowed where a chord of that angle would
// stand further than the tolerance off a circle of radius r, and widened, up to a quarter turn, as far as the
// detail tolerance allows.
double pieceAngle(double segmentDegrees, double chordTolerance, double detailTolerance, double r) {
    double angle = segmentDegrees * kPi / 180.0;
    // A turn in more pieces than this gains nothing a double can hold on a board-sized arc.
    constexpr double finestPiece = kTwoPi / 65536.0;
    if (chordTolerance > 0 && chordTolerance < r)
        angle = std::min(angle, std::max(finestPiece, 2.0 * std::acos(1.0 - chordTolerance / r)));
    if (detailTolerance > 0) {
        const double coarse = detailTolerance < r ? 2.0 * std::acos(1.0 - detailTolerance / r) : kPi;
        angle = std::max(angle, std::min(coarse, kPi * 0.5));
    }
    return angle;
}

ArcPlan planArc(double segmentDegrees, double chordTolerance, double detailTolerance, const Vec2& start,
                const Vec2& end, const Vec2& center, bool clockwise) {
    ArcPlan plan;
    plan.r = start.distance(center);
    if (!(plan.r > 1e-9) || !std::isfinite(plan.r)) return plan;
    plan.a0 = std::atan2(start.y - center.y, start.x - center.x);
    double a1 = std::atan2(end.y - center.y, end.x - center.x);
    if (clockwise) {
        while (a1 >= plan.a0) a1 -= kTwoPi;
    } else {
        while (a1 <= plan.a0) a1 += kTwoPi;
    }
    plan.s = a1 - plan.a0;
    const double steps =
        std::ceil(std::fabs(plan.s) / pieceAngle(segmentDegrees, chordTolerance, detailTolerance, plan.r));
    // A sweep is at most a little over one turn, so only a tiny or unusable step size gets here.
    if (!(segmentDegrees > 0) || !std::isfinite(steps) || steps > 1e6) return plan;
    plan.chord = false;
    plan.n = std::max<std::int64_t>(2, static_cast<std::int64_t>(steps));
    return plan;
}
} // namespace

void GeometryEngine::sampleArc(const Vec2& start, const Vec2& end, const Vec2& center, bool clockwise,
                               std::vector<Vec2>& out) const {
    const ArcPlan plan =
        planArc(arcSegmentDegrees, arcChordToleranceMM, detailToleranceMM, start, end, center, clockwise);
    if (plan.chord) {
        out.push_back(start);
        out.push_back(end);
        return;
    }
    for (std::int64_t i = 1; i <= plan.n; ++i) {
        const double a = plan.a0 + plan.s * static_cast<double>(i) / static_cast<double>(plan.n);
        out.push_back(Vec2{center.x + plan.r * std::cos(a), center.y + plan.r * std::sin(a)});
    }
}

std::int64_t GeometryEngine::sampledPointCount(const Vec2& start, const Vec2& end, const Vec2& center,
                                               bool clockwise) const {
    return planArc(arcSegmentDegrees, arcChordToleranceMM, detailToleranceMM, start, end, center, clockwise).n;
}

GeometryEngine GeometryEngine::forDrawing(double pxPerMM) {
    // A quarter pixel is below what antialiasing shows; the turn limit only matters for arcs a pixel or two
    // across, where the chord rule alone would allow half a turn in one piece.
    constexpr double kChordErrorPx = 0.25;
    constexpr double kMaxPieceDegrees = 90.0;
    GeometryEngine engine;
    engine.arcSegmentDegrees = kMaxPieceDegrees;
    if (pxPerMM > 0 && std::isfinite(pxPerMM)) engine.arcChordToleranceMM = kChordErrorPx / pxPerMM;
    return engine;
}

double GeometryEngine::distancePointSegment(const Vec2& p, const Vec2& a, const Vec2& b) {
    const double dx = b.x - a.x;
    const double dy = b.y - a.y;
    const double q = dx * dx + dy * dy;
    if (!(q > 1e-18)) return p.distance(a);
    double t = ((p.x - a.x) * dx + (p.y - a.y) * dy) / q;
    t = std::clamp(t, 0.0, 1.0);
    return p.distance(Vec2{a.x + t * dx, a.y + t * dy});
}

double GeometryEngine::distancePointArc(const Vec2& p, const Vec2& start, const Vec2& end, const Vec2& center,
                                        bool clockwise) {
    const double r = start.distance(center);
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
    if (within) return std::fabs(p.distance(center) - r);
    return std::min(p.distance(start), p.distance(end));
}

// Polygons

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

namespace {

// Bridges many holes with the outcome of bridgeHole applied hole after hole, without rescanning and copying
// the growing polygon each time: every non-horizontal edge of the bridged polygon is a piece of an edge of
// the island or of a hole, so the rays are cast against those edges (found through a grid of rows and
// columns), and the polygon is assembled once at the end.
class HoleBridger : GridAxes {
public:
    HoleBridger(const std::vector<Vec2>& outer, const std::vector<std::vector<Vec2>>& holes,
                const std::vector<std::size_t>& order) {
        addContour(outer);
        for (std::size_t i : order) {
            std::vector<Vec2> hole = holes[i];
            if (GeometryEngine::signedArea(hole) > 0) std::reverse(hole.begin(), hole.end());
            addContour(hole);
        }
        buildGrid();
        registerEdges(0);
        for (std::size_t c = 1; c < offset_.size(); ++c) {
            if (bridge(c)) registerEdges(c);
        }
    }

    std::vector<Vec2> assemble() const {
        // Attachments along each edge in the order the sequential bridging leaves them: nearer the edge's
        // start first; at one point, the later bridge first (it splits the piece before the earlier one).
        std::vector<std::size_t> sorted(attachments_.size());
        for (std::size_t i = 0; i < sorted.size(); ++i) sorted[i] = i;
        std::sort(sorted.begin(), sorted.end(), [&](std::size_t l, std::size_t r) {
            const Attachment& a = attachments_[l];
            const Attachment& b = attachments_[r];
            if (a.edge != b.edge) return a.edge < b.edge;
            if (a.t != b.t) return a.t < b.t;
            return l > r;
        });
        std::vector<std::size_t> firstOnEdge(points_.size() + 1, sorted.size());
        for (std::size_t k = sorted.size(); k-- > 0;) firstOnEdge[attachments_[sorted[k]].edge] = k;
        for (std::size_t e = points_.size(); e-- > 0;) firstOnEdge[e] = std::min(firstOnEdge[e], firstOnEdge[e + 1]);

        struct Frame {
            std::size_t contour, start, step, nextAttachment, endAttachment;
            const Attachment* via;  // the bridge this hole hangs from; none for the island
        };
        std::vector<Vec2> out;
        out.reserve(points_.size() + 3 * attachments_.size());
        std::vector<Frame> stack{Frame{0, 0, 0, 0, 0, nullptr}};
        while (!stack.empty()) {
            Frame& f = stack.back();
            if (f.nextAttachment < f.endAttachment) {
                const Attachment& a = attachments_[sorted[f.nextAttachment++]];
                out.push_back(a.b);
                stack.push_back(Frame{a.hole, a.m, 0, 0, 0, &a});
                continue;
            }
            const std::size_t size = size_[f.contour];
            if (f.step == size) {
                if (f.via) {
                    out.push_back(points_[offset_[f.via->hole] + f.via->m]);
                    out.push_back(f.via->b);
                }
                stack.pop_back();
                continue;
            }
            const std::size_t edge = offset_[f.contour] + (f.start + f.step) % size;
            ++f.step;
            out.push_back(points_[edge]);
            f.nextAttachment = firstOnEdge[edge];
            f.endAttachment = firstOnEdge[edge + 1];
        }
        return out;
    }

private:
    struct Attachment {
        std::size_t edge;  // global index of the edge's first point
        double t;          // squared distance of b from that point
        Vec2 b;
        std::size_t hole, m;  // the hole's contour and its rightmost point
    };
    std::vector<Vec2> points_;
    std::vector<std::size_t> offset_, size_, start_;  // start: the point where a contour enters the polygon
    std::vector<Attachment> attachments_;

    std::vector<std::int32_t> head_, nextReg_;
    std::vector<std::size_t> regEdge_, wide_;

    void addContour(const std::vector<Vec2>& c) {
        offset_.push_back(points_.size());
        size_.push_back(c.size());
        start_.push_back(0);
        points_.insert(points_.end(), c.begin(), c.end());
    }

    std::size_t edgeEnd(std::size_t e, std::size_t c) const {
        return e + 1 == offset_[c] + size_[c] ? offset_[c] : e + 1;
    }

    void buildGrid() {
        double maxX = -std::numeric_limits<double>::infinity();
        double maxY = maxX;
        minX_ = std::numeric_limits<double>::infinity();
        minY_ = minX_;
        for (const Vec2& p : points_) {
            if (!p.isFinite()) continue;
            minX_ = std::min(minX_, p.x);
            minY_ = std::min(minY_, p.y);
            maxX = std::max(maxX, p.x);
            maxY = std::max(maxY, p.y);
        }
        const double w = maxX - minX_;
        const double h = maxY - minY_;
        const double side = std::clamp(std::ceil(std::sqrt(static_cast<double>(points_.size()) / 4)), 1.0, 2048.0);
        gx_ = w > 0 && std::isfinite(w) ? static_cast<std::int32_t>(side) : 1;
        gy_ = h > 0 && std::isfinite(h) ? static_cast<std::int32_t>(side) : 1;
        scaleX_ = gx_ > 1 ? gx_ / w : 0;
        scaleY_ = gy_ > 1 ? gy_ / h : 0;
        head_.assign(static_cast<std::size_t>(gx_) * static_cast<std::size_t>(gy_), -1);
    }

    double pad() const { return 1e-9 + 1e-12 * std::max(std::fabs(minX_), std::fabs(minY_)); }

    // Files each edge that a ray can hit under every cell it passes through.
    void registerEdges(std::size_t c) {
        const double eps = pad();
        for (std::size_t e = offset_[c]; e < offset_[c] + size_[c]; ++e) {
            const Vec2& p = points_[e];
            const Vec2& q = points_[edgeEnd(e, c)];
            if (!p.isFinite() || !q.isFinite() || !(std::fabs(q.y - p.y) > 1e-12)) continue;
            const double lo = std::min(p.y, q.y);
            const double hi = std::max(p.y, q.y);
            const std::int32_t r0 = cellY(lo - eps);
            const std::int32_t r1 = cellY(hi + eps);
            const std::int32_t cols = std::abs(cellX(q.x) - cellX(p.x)) + 1;
            // A long edge would be filed under many cells: keep it aside and test it for every ray.
            if ((r1 - r0 + 1) + cols > 16) {
                wide_.push_back(e);
                continue;
            }
            for (std::int32_t r = r0; r <= r1; ++r) {
                double y0 = lo;
                double y1 = hi;
                if (scaleY_ > 0) {
                    y0 = std::max(lo, minY_ + r / scaleY_ - eps);
                    y1 = std::min(hi, minY_ + (r + 1) / scaleY_ + eps);
                }
                if (y0 > y1) continue;
                const double xa = p.x + (q.x - p.x) * (y0 - p.y) / (q.y - p.y);
                const double xb = p.x + (q.x - p.x) * (y1 - p.y) / (q.y - p.y);
                for (std::int32_t col = cellX(std::min(xa, xb) - eps); col <= cellX(std::max(xa, xb) + eps); ++col) {
                    const auto cell = static_cast<std::size_t>(r) * static_cast<std::size_t>(gx_) + static_cast<std::size_t>(col);
                    regEdge_.push_back(e);
                    nextReg_.push_back(head_[cell]);
                    head_[cell] = static_cast<std::int32_t>(regEdge_.size() - 1);
                }
            }
        }
    }

    // Casts the ray from the hole's rightmost point as bridgeHole does; false when the hole is dropped.
    bool bridge(std::size_t c) {
        const std::size_t n = size_[c];
        if (n == 0) return false;
        const std::size_t base = offset_[c];
        std::size_t mi = 0;
        for (std::size_t i = 1; i < n; ++i) {
            const Vec2& p = points_[base + i];
            const Vec2& m = points_[base + mi];
            if (p.x > m.x || (p.x == m.x && p.y > m.y)) mi = i;
        }
        const Vec2 m = points_[base + mi];
        if (!m.isFinite()) return false;
        const double eps = pad();
        const std::int32_t r = cellY(m.y);
        bool found = false;
        std::size_t bestEdge = 0;
        double bestX = 0;
        auto consider = [&](std::size_t e) {
            const Vec2& p = points_[e];
            const Vec2& q = points_[edgeEnd(e, contourOf(e))];
            const double lo = std::min(p.y, q.y);
            const double hi = std::max(p.y, q.y);
            if (!(lo <= m.y && m.y <= hi)) return;
            const double x = p.x + (q.x - p.x) * (m.y - p.y) / (q.y - p.y);
            if (!(x >= m.x - 1e-9)) return;
            if (!found || x < bestX || (x == bestX && order(e) < order(bestEdge))) {
                found = true;
                bestX = x;
                bestEdge = e;
            }
        };
        for (const std::size_t e : wide_) consider(e);
        for (std::int32_t col = cellX(m.x - 1e-9 - eps); col < gx_; ++col) {
            if (found && scaleX_ > 0 && minX_ + col / scaleX_ - eps > bestX) break;
            const auto cell = static_cast<std::size_t>(r) * static_cast<std::size_t>(gx_) + static_cast<std::size_t>(col);
            for (std::int32_t k = head_[cell]; k >= 0; k = nextReg_[static_cast<std::size_t>(k)]) {
                consider(regEdge_[static_cast<std::size_t>(k)]);
            }
        }
        if (!found) return false;
        start_[c] = mi;
        const Vec2 b{bestX, m.y};
        const Vec2& start = points_[bestEdge];
        const double dx = b.x - start.x;
        const double dy = b.y - start.y;
        attachments_.push_back(Attachment{bestEdge, dx * dx + dy * dy, b, c, mi});
        return true;
    }

    // Where two edges meet the ray at the same point, the one-by-one bridging takes the earlier edge of the
    // polygon. For two edges of one contour that is the earlier one counted from where the contour enters
    // the polygon; edges of different contours (holes touching each other) go by contour.
    std::pair<std::size_t, std::size_t> order(std::size_t e) const {
        const std::size_t c = contourOf(e);
        return {c, (e - offset_[c] + size_[c] - start_[c]) % size_[c]};
    }

    std::size_t contourOf(std::size_t e) const {
        return static_cast<std::size_t>(std::upper_bound(offset_.begin(), offset_.end(), e) - offset_.begin()) - 1;
    }
};

} // namespace

std::vector<Vec2> GeometryEngine::bridgeHoles(std::vector<Vec2> outer, const std::vector<std::vector<Vec2>>& holes) {
    outer = ensureCCW(std::move(outer));
    if (outer.empty()) return outer;
    std::vector<std::pair<double, std::size_t>> byRight;
    byRight.reserve(holes.size());
    for (std::size_t i = 0; i < holes.size(); ++i) {
        if (holes[i].empty()) continue;
        double right = -std::numeric_limits<double>::infinity();
        for (const Vec2& p : holes[i]) right = std::max(right, p.x);
        byRight.emplace_back(right, i);
    }
    // Rightmost first, so that no ray crosses a hole not yet cut; NaN sorts last so the order stays strict.
    std::stable_sort(byRight.begin(), byRight.end(), [](const auto& l, const auto& r) {
        return l.first > r.first || (!std::isnan(l.first) && std::isnan(r.first));
    });
    std::vector<std::size_t> order;
    order.reserve(byRight.size());
    for (const auto& entry : byRight) order.push_back(entry.second);
    return HoleBridger(outer, holes, order).assemble();
}

std::vector<Vec2> GeometryEngine::dedupeConsecutive(const std::vector<Vec2>& points) {
    if (points.size() < 2) return points;
    std::vector<Vec2> kept;
    kept.reserve(points.size());
    for (const Vec2& p : points) {
        if (kept.empty() || !(p.distance(kept.back()) < 1e-9)) kept.push_back(p);
    }
    if (kept.size() >= 2 && kept.front().distance(kept.back()) < 1e-9) kept.pop_back();
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

void GeometryEngine::polygonCorners(const Vec2& at, const ApertureShape::Polygon& polygon, std::vector<Vec2>& out) {
    if (!std::isfinite(polygon.diameter) || !std::isfinite(polygon.rotationDeg) || !at.isFinite()) return;
    const std::int64_t k = std::min(std::max<std::int64_t>(polygon.vertices, 3), maxPolygonVertices);
    const double radius = polygon.diameter / 2;
    for (std::int64_t j = 0; j < k; ++j) {
        const double alpha =
            (static_cast<double>(j) * 360.0 / static_cast<double>(k) + polygon.rotationDeg) * kPi / 180.0;
        out.push_back(Vec2{at.x + radius * std::cos(alpha), at.y + radius * std::sin(alpha)});
    }
}

std::vector<Contour> GeometryEngine::drawnOutline(const std::vector<Contour>& outline) const {
    const double tolerance = std::max(detailToleranceMM, arcChordToleranceMM);
    return tolerance > 0 ? thinnedOutline(outline, tolerance) : outline;
}

std::vector<Contour> GeometryEngine::thinnedOutline(const std::vector<Contour>& outline, double tolerance) {
    std::vector<Contour> out;
    out.reserve(outline.size());
    for (const Contour& c : outline) out.push_back(thinned(c, tolerance));
    return out;
}

Contour GeometryEngine::thinned(const Contour& contour, double tolerance) {
    const std::size_t n = contour.size();
    if (!(tolerance > 0) || n <= 3) return contour;
    // Two corners far apart split the ring into two open runs, each cut at its farthest corner while that
    // stands off the chord by more than the tolerance. Index n stands for corner 0 again.
    std::size_t far = 0;
    for (std::size_t i = 1; i < n; ++i)
        if (contour[i].distance(contour[0]) > contour[far].distance(contour[0])) far = i;
    if (far == 0) return contour;
    std::vector<char> keep(n, 0);
    keep[0] = keep[far] = 1;
    std::vector<std::pair<std::size_t, std::size_t>> runs{{0, far}, {far, n}};
    while (!runs.empty()) {
        const auto [a, b] = runs.back();
        runs.pop_back();
        std::size_t worst = a;
        double worstDistance = tolerance;
        for (std::size_t i = a + 1; i < b; ++i) {
            const double d = distancePointSegment(contour[i], contour[a], contour[b % n]);
            if (d > worstDistance || !std::isfinite(d)) {
                worst = i;
                worstDistance = std::isfinite(d) ? d : std::numeric_limits<double>::infinity();
            }
        }
        if (worst == a) continue;
        keep[worst] = 1;
        runs.emplace_back(a, worst);
        runs.emplace_back(worst, b);
    }
    Contour out;
    for (std::size_t i = 0; i < n; ++i)
        if (keep[i]) out.push_back(contour[i]);
    if (out.size() < 3) {
        // Smaller than the tolerance across: the corner farthest off the long chord keeps it an area.
        std::size_t widest = far == 1 ? 2 : 1;
        for (std::size_t i = 1; i < n; ++i)
            if (i != far && distancePointSegment(contour[i], contour[0], contour[far]) >
                                distancePointSegment(contour[widest], contour[0], contour[far]))
                widest = i;
        out.clear();
        for (std::size_t i = 0; i < n; ++i)
            if (i == 0 || i == far || i == widest) out.push_back(contour[i]);
    }
    return out;
}

} // namespace corvane
