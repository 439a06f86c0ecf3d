#include "GeometryEngine.hpp"

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>

#include <sys/mman.h>

namespace corvane {

namespace {
constexpr double kPi = 3.141592653589793;
constexpr double kTwoPi = 6.283185307179586;

bool finite(const Vec2& p) { return std::isfinite(p.x) && std::isfinite(p.y); }

double distanceBetween(const Vec2& a, const Vec2& b) {
    const double dx = a.x - b.x;
    const double dy = a.y - b.y;
    return std::sqrt(dx * dx + dy * dy);
}

// Columns and rows of a uniform grid over a box; anything outside the box, or not a number, falls into a
// border cell, so a lookup is always in range.
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
} // namespace

// TriangleMesh

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
    plan.r = distanceBetween(start, center);
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
            if (!finite(p)) continue;
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
            if (!finite(p) || !finite(q) || !(std::fabs(q.y - p.y) > 1e-12)) continue;
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
        if (!finite(m)) return false;
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
        if (kept.empty() || !(distanceBetween(p, kept.back()) < 1e-9)) kept.push_back(p);
    }
    if (kept.size() >= 2 && distanceBetween(kept.front(), kept.back()) < 1e-9) kept.pop_back();
    return kept;
}

// Ear clipping

namespace {

double turn(const Vec2& a, const Vec2& b, const Vec2& d) {
    return (b.x - a.x) * (d.y - a.y) - (b.y - a.y) * (d.x - a.x);
}

// Ear clipping that always takes the lowest-index ear, made fast by two facts: a vertex that is not an ear
// stays so until one of its neighbours or the point that blocks it goes, and only points near the candidate
// triangle can block it (a uniform grid over the points finds them).
// One instance per thread is reused, so that the many small contours of a layer do not each allocate its
// working arrays.
class EarClipper : GridAxes {
public:
    void run(const std::vector<Vec2>& points, std::vector<Triangle>& out) {
        reset(points);
        dropZeroTurns();
        buildGrid();
        clip(out);
        if (remaining_ == 3) {
            std::int32_t first = 0;
            while (!alive_[static_cast<std::size_t>(first)]) ++first;
            const std::int32_t second = next(first);
            out.push_back(Triangle{pt(first), pt(second), pt(next(second))});
        }
        p_ = nullptr;
        // Do not keep the arrays of an exceptional contour for the rest of the thread's life.
        if (prev_.capacity() > (1u << 16)) *this = EarClipper();
    }

private:
    void reset(const std::vector<Vec2>& points) {
        p_ = &points;
        n_ = static_cast<std::int32_t>(points.size());
        prev_.resize(static_cast<std::size_t>(n_));
        next_.resize(static_cast<std::size_t>(n_));
        for (std::int32_t i = 0; i < n_; ++i) {
            prev_[static_cast<std::size_t>(i)] = i == 0 ? n_ - 1 : i - 1;
            next_[static_cast<std::size_t>(i)] = i + 1 == n_ ? 0 : i + 1;
        }
        alive_.assign(static_cast<std::size_t>(n_), 1);
        remaining_ = n_;
    }

    const std::vector<Vec2>* p_ = nullptr;
    std::int32_t n_ = 0;
    std::int32_t remaining_ = 0;
    std::vector<std::int32_t> prev_, next_;
    std::vector<std::uint8_t> alive_;

    // Grid of the remaining points: cell `c` holds items_[start_[c] .. start_[c] + count_[c]).
    // Items carry their point so that scanning a cell reads memory in order.
    struct Item {
        Vec2 p;
        std::int32_t index;
    };
    std::vector<std::int32_t> start_, count_, slot_, cellOf_;
    std::vector<Item> items_;

    // Per vertex: whether it waits in the heap, and the point that blocks it (-1 for none).
    std::vector<std::uint8_t> queued_;
    std::vector<std::int32_t> blocker_, dependHead_, dependNext_, dependPrev_;
    std::vector<std::int32_t> heap_;

    const Vec2& pt(std::int32_t i) const { return (*p_)[static_cast<std::size_t>(i)]; }
    std::int32_t next(std::int32_t i) const { return next_[static_cast<std::size_t>(i)]; }
    std::int32_t prev(std::int32_t i) const { return prev_[static_cast<std::size_t>(i)]; }

    void unlink(std::int32_t i) {
        const auto u = static_cast<std::size_t>(i);
        alive_[u] = 0;
        next_[static_cast<std::size_t>(prev_[u])] = next_[u];
        prev_[static_cast<std::size_t>(next_[u])] = prev_[u];
        --remaining_;
    }

    // Collinear runs, 180° spikes and repeated points add no area but break the ear test: drop them until
    // none is left, keeping at least a triangle.
    void dropZeroTurns() {
        std::vector<std::int32_t>& work = heap_;  // free until clipping starts
        work.clear();
        for (std::int32_t i = n_ - 1; i >= 0; --i) work.push_back(i);
        while (!work.empty() && remaining_ > 3) {
            const std::int32_t b = work.back();
            work.pop_back();
            if (!alive_[static_cast<std::size_t>(b)]) continue;
            const std::int32_t a = prev(b);
            const std::int32_t d = next(b);
            const bool flat = std::fabs(turn(pt(a), pt(b), pt(d))) <= 1e-12 ||
                              distanceBetween(pt(a), pt(b)) < 1e-9 || distanceBetween(pt(b), pt(d)) < 1e-9;
            if (!flat) continue;
            unlink(b);
            work.push_back(d);
            work.push_back(a);
        }
    }

    void buildGrid() {
        double maxX = -std::numeric_limits<double>::infinity();
        double maxY = maxX;
        minX_ = std::numeric_limits<double>::infinity();
        minY_ = minX_;
        for (std::int32_t i = 0; i < n_; ++i) {
            if (!alive_[static_cast<std::size_t>(i)]) continue;
            minX_ = std::min(minX_, pt(i).x);
            minY_ = std::min(minY_, pt(i).y);
            maxX = std::max(maxX, pt(i).x);
            maxY = std::max(maxY, pt(i).y);
        }
        const double w = maxX - minX_;
        const double h = maxY - minY_;
        // About two points per cell, shaped like the points' box; small contours are quicker scanned whole.
        const double cells = remaining_ <= 32 ? 1.0 : remaining_ / 2.0;
        double nx = 1;
        double ny = 1;
        if (w > 0 && h > 0 && std::isfinite(w / h)) {
            nx = std::sqrt(cells * w / h);
            ny = cells / std::max(nx, 1.0);
        } else if (w > 0) {
            nx = cells;
        } else if (h > 0) {
            ny = cells;
        }
        gx_ = static_cast<std::int32_t>(std::clamp(std::ceil(nx), 1.0, 4096.0));
        gy_ = static_cast<std::int32_t>(std::clamp(std::ceil(ny), 1.0, 4096.0));
        scaleX_ = w > 0 && std::isfinite(w) ? gx_ / w : 0;
        scaleY_ = h > 0 && std::isfinite(h) ? gy_ / h : 0;

        const auto cellCount = static_cast<std::size_t>(gx_) * static_cast<std::size_t>(gy_);
        start_.assign(cellCount + 1, 0);
        count_.assign(cellCount, 0);
        cellOf_.assign(static_cast<std::size_t>(n_), 0);
        slot_.assign(static_cast<std::size_t>(n_), 0);
        for (std::int32_t i = 0; i < n_; ++i) {
            if (!alive_[static_cast<std::size_t>(i)]) continue;
            const std::int32_t c = cellY(pt(i).y) * gx_ + cellX(pt(i).x);
            cellOf_[static_cast<std::size_t>(i)] = c;
            ++count_[static_cast<std::size_t>(c)];
        }
        for (std::size_t c = 0; c < cellCount; ++c) start_[c + 1] = start_[c] + count_[c];
        std::vector<std::int32_t>& fill = heap_;  // free until clipping starts
        fill.assign(start_.begin(), start_.end() - 1);
        items_.assign(static_cast<std::size_t>(remaining_), Item{});
        for (std::int32_t i = 0; i < n_; ++i) {
            if (!alive_[static_cast<std::size_t>(i)]) continue;
            const auto c = static_cast<std::size_t>(cellOf_[static_cast<std::size_t>(i)]);
            slot_[static_cast<std::size_t>(i)] = fill[c];
            items_[static_cast<std::size_t>(fill[c]++)] = Item{pt(i), i};
        }
    }

    void removeFromGrid(std::int32_t i) {
        const auto c = static_cast<std::size_t>(cellOf_[static_cast<std::size_t>(i)]);
        const std::int32_t last = start_[c] + --count_[c];
        const Item moved = items_[static_cast<std::size_t>(last)];
        const std::int32_t at = slot_[static_cast<std::size_t>(i)];
        items_[static_cast<std::size_t>(at)] = moved;
        slot_[static_cast<std::size_t>(moved.index)] = at;
    }

    // A point blocks the ear (a, b, d) when it lies inside or on the triangle, unless it sits on a corner:
    // a vertex on the diagonal would otherwise let the rest of the polygon touch itself.
    static bool blocks(const Vec2& p, const Vec2& a, const Vec2& b, const Vec2& d) {
        if (!(turn(a, b, p) >= -1e-12 && turn(b, d, p) >= -1e-12 && turn(d, a, p) >= -1e-12)) return false;
        return !(distanceBetween(p, a) < 1e-9 || distanceBetween(p, b) < 1e-9 || distanceBetween(p, d) < 1e-9);
    }

    // Any remaining point that blocks the ear at b, or -1.
    std::int32_t findBlocker(std::int32_t ia, std::int32_t ib, std::int32_t id) const {
        const Vec2 tri[3] = {pt(ia), pt(ib), pt(id)};
        if (gx_ == 1 && gy_ == 1) {
            for (std::int32_t k = 0; k < count_[0]; ++k) {
                const Item& item = items_[static_cast<std::size_t>(k)];
                if (blocks(item.p, tri[0], tri[1], tri[2])) return item.index;
            }
            return -1;
        }
        // Points within the tolerance of the edge tests lie in a slightly larger triangle: each edge moved
        // outward until its cross product reaches -1e-12. Its corners are where neighbouring moved edges meet.
        Vec2 grown[3];
        double nxs[3], nys[3], cs[3];
        for (int e = 0; e < 3; ++e) {
            const Vec2& s = tri[e];
            const Vec2& t = tri[(e + 1) % 3];
            nxs[e] = -(t.y - s.y);
            nys[e] = t.x - s.x;
            cs[e] = nxs[e] * s.x + nys[e] * s.y - 1e-12;
        }
        double lo[2] = {std::numeric_limits<double>::infinity(), std::numeric_limits<double>::infinity()};
        double hi[2] = {-lo[0], -lo[1]};
        bool usable = true;
        for (int v = 0; v < 3; ++v) {
            const int e1 = (v + 2) % 3;  // edge ending at v
            const int e2 = v;            // edge starting at v
            const double det = nxs[e1] * nys[e2] - nys[e1] * nxs[e2];
            grown[v] = Vec2{(cs[e1] * nys[e2] - cs[e2] * nys[e1]) / det, (nxs[e1] * cs[e2] - nxs[e2] * cs[e1]) / det};
            if (!finite(grown[v])) usable = false;
            for (const Vec2& q : {tri[v], grown[v]}) {
                lo[0] = std::min(lo[0], q.x);
                lo[1] = std::min(lo[1], q.y);
                hi[0] = std::max(hi[0], q.x);
                hi[1] = std::max(hi[1], q.y);
            }
        }
        if (!usable) return findBlockerEverywhere(ia, ib, id);
        const double pad = 1e-9 + 1e-12 * std::max({std::fabs(lo[0]), std::fabs(lo[1]), std::fabs(hi[0]), std::fabs(hi[1])});
        const std::int32_t r0 = cellY(lo[1] - pad);
        const std::int32_t r1 = cellY(hi[1] + pad);
        const std::int32_t c0 = cellX(lo[0] - pad);
        const std::int32_t c1 = cellX(hi[0] + pad);
        for (std::int32_t r = r0; r <= r1; ++r) {
            std::int32_t from = c0;
            std::int32_t to = c1;
            if (r1 - r0 > 1 && scaleY_ > 0) {
                // Only the cells this row's band of the grown triangle touches.
                const double y0 = std::max(lo[1], minY_ + r / scaleY_) - pad;
                const double y1 = std::min(hi[1], minY_ + (r + 1) / scaleY_) + pad;
                double xMin = std::numeric_limits<double>::infinity();
                double xMax = -xMin;
                for (int e = 0; e < 3; ++e) {
                    const Vec2& s = grown[e];
                    const Vec2& t = grown[(e + 1) % 3];
                    const double eyLo = std::max(std::min(s.y, t.y), y0);
                    const double eyHi = std::min(std::max(s.y, t.y), y1);
                    if (eyLo > eyHi) continue;
                    if (s.y == t.y) {
                        xMin = std::min({xMin, s.x, t.x});
                        xMax = std::max({xMax, s.x, t.x});
                        continue;
                    }
                    for (const double yy : {eyLo, eyHi}) {
                        const double xx = s.x + (t.x - s.x) * (yy - s.y) / (t.y - s.y);
                        xMin = std::min(xMin, xx);
                        xMax = std::max(xMax, xx);
                    }
                }
                if (!(xMin <= xMax)) continue;
                from = std::max(c0, cellX(xMin - pad));
                to = std::min(c1, cellX(xMax + pad));
            }
            for (std::int32_t c = from; c <= to; ++c) {
                const auto cell = static_cast<std::size_t>(r * gx_ + c);
                const std::int32_t begin = start_[cell];
                const std::int32_t end = begin + count_[cell];
                for (std::int32_t k = begin; k < end; ++k) {
                    const Item& item = items_[static_cast<std::size_t>(k)];
                    if (blocks(item.p, tri[0], tri[1], tri[2])) return item.index;
                }
            }
        }
        return -1;
    }

    std::int32_t findBlockerEverywhere(std::int32_t ia, std::int32_t ib, std::int32_t id) const {
        for (std::int32_t j = next(id); j != ia; j = next(j)) {
            if (blocks(pt(j), pt(ia), pt(ib), pt(id))) return j;
        }
        return -1;
    }

    void push(std::int32_t i) {
        if (queued_[static_cast<std::size_t>(i)]) return;
        queued_[static_cast<std::size_t>(i)] = 1;
        heap_.push_back(i);
        std::push_heap(heap_.begin(), heap_.end(), std::greater<>());
    }

    void setBlocker(std::int32_t i, std::int32_t by) {
        const auto u = static_cast<std::size_t>(i);
        blocker_[u] = by;
        dependPrev_[u] = -1;
        dependNext_[u] = dependHead_[static_cast<std::size_t>(by)];
        if (dependNext_[u] >= 0) dependPrev_[static_cast<std::size_t>(dependNext_[u])] = i;
        dependHead_[static_cast<std::size_t>(by)] = i;
    }

    void clearBlocker(std::int32_t i) {
        const auto u = static_cast<std::size_t>(i);
        const std::int32_t by = blocker_[u];
        if (by < 0) return;
        if (dependPrev_[u] >= 0) {
            dependNext_[static_cast<std::size_t>(dependPrev_[u])] = dependNext_[u];
        } else {
            dependHead_[static_cast<std::size_t>(by)] = dependNext_[u];
        }
        if (dependNext_[u] >= 0) dependPrev_[static_cast<std::size_t>(dependNext_[u])] = dependPrev_[u];
        blocker_[u] = -1;
    }

    // The vertex's ear test is stale: test it again in index order.
    void reconsider(std::int32_t i) {
        clearBlocker(i);
        push(i);
    }

    void clip(std::vector<Triangle>& out) {
        const auto n = static_cast<std::size_t>(n_);
        queued_.assign(n, 0);
        blocker_.assign(n, -1);
        dependHead_.assign(n, -1);
        dependNext_.assign(n, -1);
        dependPrev_.assign(n, -1);
        heap_.clear();
        // Ascending order is already a min-heap.
        for (std::int32_t i = 0; i < n_; ++i) {
            if (!alive_[static_cast<std::size_t>(i)]) continue;
            queued_[static_cast<std::size_t>(i)] = 1;
            heap_.push_back(i);
        }
        out.reserve(out.size() + static_cast<std::size_t>(std::max(remaining_ - 2, 0)));
        while (remaining_ >= 4 && !heap_.empty()) {
            std::pop_heap(heap_.begin(), heap_.end(), std::greater<>());
            const std::int32_t b = heap_.back();
            heap_.pop_back();
            queued_[static_cast<std::size_t>(b)] = 0;
            if (!alive_[static_cast<std::size_t>(b)]) continue;
            const std::int32_t a = prev(b);
            const std::int32_t d = next(b);
            if (!(turn(pt(a), pt(b), pt(d)) > 1e-12)) continue;  // waits for a neighbour to change
            const std::int32_t by = findBlocker(a, b, d);
            if (by >= 0) {
                setBlocker(b, by);
                continue;
            }
            out.push_back(Triangle{pt(a), pt(b), pt(d)});
            unlink(b);
            removeFromGrid(b);
            clearBlocker(b);
            reconsider(a);
            reconsider(d);
            while (dependHead_[static_cast<std::size_t>(b)] >= 0) reconsider(dependHead_[static_cast<std::size_t>(b)]);
        }
    }
};

} // namespace

std::vector<Triangle> GeometryEngine::earClip(const std::vector<Vec2>& polygon) {
    const std::vector<Vec2> points = dedupeConsecutive(polygon);
    std::vector<Triangle> triangles;
    if (points.size() < 3 || points.size() >= static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
        return triangles;
    }
    for (const Vec2& p : points) {
        if (!finite(p)) return triangles;
    }
    thread_local EarClipper clipper;
    clipper.run(points, triangles);
    return triangles;
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

// Tessellation

namespace {

template <class... Ts> struct Overloaded : Ts... { using Ts::operator()...; };
template <class... Ts> Overloaded(Ts...) -> Overloaded<Ts...>;

constexpr std::int64_t kTabledSegments = 64;

// Unit rim offsets of the fans whose angles never change (full discs from 0°, obround half discs), computed
// exactly as TriangleMesh::addFan computes them, so the fast path gives the same floats.
struct FanTables {
    // [kind][k] holds k + 1 (cos, sin) pairs; kind 0 = full turn from 0°, 1-4 = half turns from -90, 90, 0, 180.
    std::vector<float> table[5][kTabledSegments + 1];
    // cos and sin of i·180°/k for half-turn caps at any start angle, in double.
    std::vector<double> halfTurn[kTabledSegments + 1];

    FanTables() {
        static const double starts[5] = {0, -90, 90, 0, 180};
        for (int kind = 0; kind < 5; ++kind) {
            const double sweep = kind == 0 ? 360.0 : 180.0;
            for (std::int64_t k = 3; k <= kTabledSegments; ++k) {
                auto& t = table[kind][k];
                t.reserve(static_cast<std::size_t>(2 * (k + 1)));
                for (std::int64_t i = 0; i <= k; ++i) {
                    const double deg = starts[kind] + sweep * static_cast<double>(i) / static_cast<double>(k);
                    const float phi = static_cast<float>(deg) * 3.1415925f / 180.0f;
                    t.push_back(std::cos(phi));
                    t.push_back(std::sin(phi));
                }
            }
        }
        for (std::int64_t k = 3; k <= kTabledSegments; ++k) {
            for (std::int64_t i = 0; i <= k; ++i) {
                const double a = kPi * static_cast<double>(i) / static_cast<double>(k);
                halfTurn[k].push_back(std::cos(a));
                halfTurn[k].push_back(std::sin(a));
            }
        }
    }
};

const FanTables& fanTables() {
    static const FanTables tables;
    return tables;
}

enum class FixedFan { disc = 0, halfFromMinus90 = 1, halfFrom90 = 2, halfFrom0 = 3, halfFrom180 = 4 };

// Appends a fan whose angles are those of `kind`; same floats as addFan with the matching angles.
void addFixedFan(TriangleMesh& mesh, const Vec2& center, double radius, FixedFan kind, std::int64_t segments) {
    const std::int64_t k = std::max<std::int64_t>(segments, 3);
    if (k > kTabledSegments) {
        static const double starts[5] = {0, -90, 90, 0, 180};
        const auto idx = static_cast<int>(kind);
        mesh.addFan(center, radius, starts[idx], idx == 0 ? 360.0 : 180.0, k);
        return;
    }
    const float* t = fanTables().table[static_cast<int>(kind)][k].data();
    const float cx = static_cast<float>(center.x);
    const float cy = static_cast<float>(center.y);
    const float r = static_cast<float>(radius);
    auto& v = mesh.vertices;
    const std::size_t base = v.size();
    v.resize(base + static_cast<std::size_t>(k) * 6);
    float* out = v.data() + base;
    float px = cx + r * t[0];
    float py = cy + r * t[1];
    for (std::int64_t i = 1; i <= k; ++i) {
        const float nx = cx + r * t[2 * i];
        const float ny = cy + r * t[2 * i + 1];
        out[0] = cx;
        out[1] = cy;
        out[2] = px;
        out[3] = py;
        out[4] = nx;
        out[5] = ny;
        out += 6;
        px = nx;
        py = ny;
    }
}

// m(d): drills, circle and macro flashes grow in resolution with size, up to 48 segments.
std::int64_t discSegments(double diameter) {
    const double m = std::min(std::max(4.0 * std::ceil(diameter / 0.2), 6.0), 48.0);
    return static_cast<std::int64_t>(m);
}

// Pieces for `span` radians of a circle of `radius` under a detail tolerance: `most` without one, else as
// few as keep every chord within it, but no fewer than `least`.
std::int64_t piecesWithin(double radius, double span, double tolerance, std::int64_t most, std::int64_t least) {
    if (!(tolerance > 0)) return most;
    if (!(radius > tolerance)) return std::min(least, most);
    const double pieces = std::ceil(span / (2.0 * std::acos(1.0 - tolerance / radius)));
    if (!std::isfinite(pieces)) return most;
    return std::clamp(static_cast<std::int64_t>(pieces), std::min(least, most), most);
}

// Fewest pieces of a drawn full circle and of a half circle: a square and three chords.
constexpr std::int64_t kLeastDiscPieces = 4;
constexpr std::int64_t kLeastHalfPieces = 3;

void addDisc(TriangleMesh& mesh, const Vec2& center, double diameter, double tolerance) {
    if (!std::isfinite(diameter) || !finite(center)) return;
    const double r = diameter * 0.5;
    addFixedFan(mesh, center, r, FixedFan::disc,
                piecesWithin(std::fabs(r), kTwoPi, tolerance, discSegments(diameter), kLeastDiscPieces));
}

// One contour as a region fills it: counter-clockwise, without repeats, ear-clipped, with a fan from the first
// point when clipping finds nothing at all. A contour holding a number that is not finite gives nothing.
void triangulateContour(const std::vector<Vec2>& contour, std::vector<Triangle>& out) {
    for (const Vec2& p : contour) {
        if (!finite(p)) return;
    }
    const std::vector<Vec2> polygon = GeometryEngine::dedupeConsecutive(GeometryEngine::ensureCCW(contour));
    const std::vector<Triangle> triangles = GeometryEngine::earClip(polygon);
    if (!triangles.empty()) {
        out.insert(out.end(), triangles.begin(), triangles.end());
        return;
    }
    for (std::size_t i = 1; i + 1 < polygon.size(); ++i) out.push_back(Triangle{polygon[0], polygon[i], polygon[i + 1]});
}

void addTriangles(TriangleMesh& mesh, const std::vector<Triangle>& triangles, const Vec2& offset) {
    for (const Triangle& t : triangles) mesh.addTriangle(t[0] + offset, t[1] + offset, t[2] + offset);
}

// Layer meshes run to hundreds of megabytes; backing them with huge pages saves most of the page faults
// their first write would take. Only a hint: the kernel may ignore it.
void adviseHugePages(std::vector<float>& v) {
    constexpr std::uintptr_t huge = 2u << 20;
    const std::size_t bytes = v.capacity() * sizeof(float);
    // Below this the huge page the last triangles touch, resident however little of it they fill, is a large
    // share of the mesh.
    if (bytes < 16 * huge) return;
    const auto begin = reinterpret_cast<std::uintptr_t>(v.data());
    const std::uintptr_t first = (begin + huge - 1) & ~(huge - 1);
    const std::uintptr_t last = (begin + bytes) & ~(huge - 1);
    if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

// The triangles flashShape gives, or an upper bound for macro outlines.
std::int64_t flashTriangles(ShapeRef shape, std::int64_t n, double tolerance) {
    if (!shape) return n;
    return std::visit(
        Overloaded{
            [&](const ApertureShape::Circle& c) {
                if (!std::isfinite(c.diameter)) return std::int64_t{0};
                return piecesWithin(std::fabs(c.diameter * 0.5), kTwoPi, tolerance, discSegments(c.diameter),
                                    kLeastDiscPieces);
            },
            [](const ApertureShape::Rectangle&) { return std::int64_t{2}; },
            [&](const ApertureShape::Obround&) { return 2 + 2 * n; },
            [](const ApertureShape::Polygon& p) {
                return std::min(std::max<std::int64_t>(p.vertices, 3), GeometryEngine::maxPolygonVertices);
            },
            [](const ApertureShape::Macro& m) {
                if (!m.outline) return std::isfinite(m.boundingDiameter) ? discSegments(m.boundingDiameter) : 0;
                std::int64_t points = 0;
                for (const Contour& c : *m.outline) points += static_cast<std::int64_t>(c.size());
                return points;
            },
        },
        shape->value);
}

double strokeWidthOf(const PCBObject& obj) {
    return obj.apertureShape ? obj.apertureShape->strokeNominalWidth() : 0.2;
}

} // namespace

TessellatedLayer GeometryEngine::tessellate(const std::vector<PCBObject>& objects) const {
    TessellatedLayer layer;
    const std::int64_t n = std::max<std::int64_t>(capSegments, 3);
    // As strokeSegment makes them.
    const auto strokeTriangles = [&](double width) -> std::int64_t {
        const double h = std::fabs(width * 0.5);
        if (detailToleranceMM > 0 && !(h > detailToleranceMM)) return 2;
        return 2 + 2 * piecesWithin(h, kPi, detailToleranceMM, n, kLeastHalfPieces);
    };
    auto trianglesOf = [&](const PCBObject& obj) {
        return obj.kind.visit(
            Overloaded{
                [&](const PCBObjectKind::Stroke&) { return strokeTriangles(strokeWidthOf(obj)); },
                [&](const PCBObjectKind::ArcStroke& a) {
                    return strokeTriangles(strokeWidthOf(obj)) * planArc(arcSegmentDegrees, arcChordToleranceMM,
                                                                         detailToleranceMM, a.start, a.end, a.center,
                                                                         a.clockwise)
                                                                     .n;
                },
                [&](const PCBObjectKind::Flash&) { return flashTriangles(obj.apertureShape, n, detailToleranceMM); },
                [&](const PCBObjectKind::Region& r) {
                    std::int64_t points = 0;
                    for (const auto& c : r.contours) points += static_cast<std::int64_t>(c.size());
                    return points;
                },
                [&](const PCBObjectKind::Drill& d) {
                    return std::isfinite(d.diameterMM) ? discSegments(d.diameterMM) : 0;
                },
                [&](const PCBObjectKind::Slot& s) { return strokeTriangles(s.diameterMM); },
            });
    };
    // Reserve once instead of doubling through hundreds of megabytes. A big layer is sized from an even
    // sample of its primitives with room to spare: reading every primitive twice costs more than reserving
    // too much, which only takes address space until it is written.
    const std::size_t count = objects.size();
    const std::size_t stride = count <= 8192 ? 1 : count / 4096;
    double darkFloats = 0;
    double clearFloats = 0;
    for (std::size_t i = 0; i < count; i += stride) {
        const PCBObject& obj = objects[i];
        (obj.polarity == Polarity::clear ? clearFloats : darkFloats) += static_cast<double>(trianglesOf(obj)) * 6;
    }
    const double scale = stride == 1 ? 1.0 : static_cast<double>(stride) * 1.25;
    layer.dark.vertices.reserve(static_cast<std::size_t>(darkFloats * scale));
    layer.clear.vertices.reserve(static_cast<std::size_t>(clearFloats * scale));
    adviseHugePages(layer.dark.vertices);
    adviseHugePages(layer.clear.vertices);
    for (const PCBObject& obj : objects) {
        const bool isClear = obj.polarity == Polarity::clear;
        TriangleMesh& mesh = isClear ? layer.clear : layer.dark;
        const auto before = static_cast<std::int64_t>(mesh.vertices.size() / 2);
        append(obj, mesh);
        const auto added = static_cast<std::int64_t>(mesh.vertices.size() / 2) - before;
        if (added == 0) continue;
        const auto linesBefore = static_cast<std::int64_t>(layer.centreLines.size() / 2);
        appendCentreLine(obj, layer.centreLines);
        const auto linesAdded = static_cast<std::int64_t>(layer.centreLines.size() / 2) - linesBefore;
        if (!layer.runs.empty() && layer.runs.back().polarity == obj.polarity) {
            layer.runs.back().vertexCount += added;
            layer.runs.back().lineVertexCount += linesAdded;
        } else {
            layer.runs.push_back(PolarityRun{obj.polarity, before, added, linesBefore, linesAdded});
        }
    }
    return layer;
}

void GeometryEngine::appendCentreLine(const PCBObject& obj, std::vector<float>& lines) const {
    const auto piece = [&lines](const Vec2& a, const Vec2& b) {
        if (!finite(a) || !finite(b)) return;
        lines.insert(lines.end(), {static_cast<float>(a.x), static_cast<float>(a.y), static_cast<float>(b.x),
                                   static_cast<float>(b.y)});
    };
    if (const auto* s = obj.kind.as<PCBObjectKind::Stroke>()) return piece(s->start, s->end);
    if (const auto* s = obj.kind.as<PCBObjectKind::Slot>()) return piece(s->start, s->end);
    if (const auto* a = obj.kind.as<PCBObjectKind::ArcStroke>()) {
        thread_local std::vector<Vec2> points;
        points.clear();
        points.push_back(a->start);
        sampleArc(a->start, a->end, a->center, a->clockwise, points);
        for (std::size_t i = 1; i < points.size(); ++i) piece(points[i - 1], points[i]);
    }
}

void GeometryEngine::append(const PCBObject& obj, TriangleMesh& mesh) const {
    obj.kind.visit(Overloaded{
                   [&](const PCBObjectKind::Stroke& s) { strokeSegment(s.start, s.end, strokeWidthOf(obj), mesh); },
                   [&](const PCBObjectKind::ArcStroke& a) {
                       thread_local std::vector<Vec2> points;
                       points.clear();
                       points.push_back(a.start);
                       sampleArc(a.start, a.end, a.center, a.clockwise, points);
                       strokePolyline(points, strokeWidthOf(obj), mesh);
                   },
                   [&](const PCBObjectKind::Flash& f) { flashShape(f.at, obj.apertureShape, mesh); },
                   [&](const PCBObjectKind::Region& r) { fillRegion(r.contours, mesh); },
                   [&](const PCBObjectKind::Drill& d) { addDisc(mesh, d.at, d.diameterMM, detailToleranceMM); },
                   [&](const PCBObjectKind::Slot& s) { strokeSegment(s.start, s.end, s.diameterMM, mesh); },
               });
}

void GeometryEngine::strokeSegment(const Vec2& a, const Vec2& b, double width, TriangleMesh& mesh) const {
    if (!std::isfinite(width) || !finite(a) || !finite(b)) return;
    const double h = width * 0.5;
    const std::int64_t full = std::max<std::int64_t>(capSegments, 3);
    const double dx = b.x - a.x;
    const double dy = b.y - a.y;
    const double len = std::sqrt(dx * dx + dy * dy);
    if (!std::isfinite(len)) return;
    if (!(len > 1e-9)) {
        addFixedFan(mesh, a, h, FixedFan::disc, piecesWithin(std::fabs(h), kTwoPi, detailToleranceMM, full, kLeastDiscPieces));
        return;
    }
    // Under a detail tolerance the caps have as few pieces as it allows, and none where it exceeds them.
    const bool plainEnds = detailToleranceMM > 0 && !(std::fabs(h) > detailToleranceMM);
    const std::int64_t n =
        plainEnds ? 0 : piecesWithin(std::fabs(h), kPi, detailToleranceMM, full, kLeastHalfPieces);
    const double ux = dx / len;
    const double uy = dy / len;
    const Vec2 o{h * -uy, h * ux};
    if (n > kTabledSegments || n == 0) {
        mesh.addTriangle(a + o, b + o, b - o);
        mesh.addTriangle(a + o, b - o, a - o);
        if (n == 0) return;
        const double theta = std::atan2(-o.y, -o.x) * 180.0 / 3.141592653589793;
        mesh.addFan(b, h, theta, 180, n);
        mesh.addFan(a, h, theta + 180, 180, n);
        return;
    }
    // The caps start on the right side (the direction of -o) and turn through half a circle; the start
    // cap is the end cap's rim mirrored through the centre.
    const double ex = h >= 0 ? uy : -uy;
    const double ey = h >= 0 ? -ux : ux;
    const double* turn = fanTables().halfTurn[n].data();
    auto& v = mesh.vertices;
    const std::size_t base = v.size();
    v.resize(base + static_cast<std::size_t>(2 + 2 * n) * 6);
    float* out = v.data() + base;
    auto put = [&out](double x, double y) {
        *out++ = static_cast<float>(x);
        *out++ = static_cast<float>(y);
    };
    put(a.x + o.x, a.y + o.y);
    put(b.x + o.x, b.y + o.y);
    put(b.x - o.x, b.y - o.y);
    put(a.x + o.x, a.y + o.y);
    put(b.x - o.x, b.y - o.y);
    put(a.x - o.x, a.y - o.y);
    for (int cap = 0; cap < 2; ++cap) {
        const Vec2& c = cap == 0 ? b : a;
        const double s = cap == 0 ? h : -h;
        const float cx = static_cast<float>(c.x);
        const float cy = static_cast<float>(c.y);
        float px = static_cast<float>(c.x + s * ex);
        float py = static_cast<float>(c.y + s * ey);
        for (std::int64_t i = 1; i <= n; ++i) {
            const double cs = turn[2 * i];
            const double sn = turn[2 * i + 1];
            const float nx = static_cast<float>(c.x + s * (ex * cs - ey * sn));
            const float ny = static_cast<float>(c.y + s * (ey * cs + ex * sn));
            *out++ = cx;
            *out++ = cy;
            *out++ = px;
            *out++ = py;
            *out++ = nx;
            *out++ = ny;
            px = nx;
            py = ny;
        }
    }
}

void GeometryEngine::strokePolyline(const std::vector<Vec2>& points, double width, TriangleMesh& mesh) const {
    for (std::size_t i = 1; i < points.size(); ++i) strokeSegment(points[i - 1], points[i], width, mesh);
}

namespace {

// The last macro outline drawn on this thread, thinned to a tolerance, and its triangles once made.
struct DrawnMacro {
    std::vector<Contour> outline;
    double tolerance = 0;
    std::vector<Contour> contours;
    std::optional<std::vector<Triangle>> triangles;
};

DrawnMacro& drawnMacro(const std::vector<Contour>& outline, double tolerance) {
    thread_local DrawnMacro memo;
    if (memo.outline != outline || memo.tolerance != tolerance) {
        memo.contours.clear();
        for (const Contour& c : outline) memo.contours.push_back(GeometryEngine::thinned(c, tolerance));
        memo.outline = outline;
        memo.tolerance = tolerance;
        memo.triangles.reset();
    }
    return memo;
}

} // namespace

void GeometryEngine::flashShape(const Vec2& at, ShapeRef shape, TriangleMesh& mesh) const {
    if (!finite(at)) return;
    const std::int64_t n = std::max<std::int64_t>(capSegments, 3);
    if (!shape) {
        addFixedFan(mesh, at, 0.2, FixedFan::disc, piecesWithin(0.2, kTwoPi, detailToleranceMM, n, kLeastDiscPieces));
        return;
    }
    const double x = at.x;
    const double y = at.y;
    std::visit(
        Overloaded{
            [&](const ApertureShape::Circle& c) { addDisc(mesh, at, c.diameter, detailToleranceMM); },
            [&](const ApertureShape::Rectangle& r) {
                if (!std::isfinite(r.width) || !std::isfinite(r.height)) return;
                const double w = r.width / 2;
                const double h = r.height / 2;
                mesh.addQuad(Vec2{x - w, y - h}, Vec2{x + w, y - h}, Vec2{x + w, y + h}, Vec2{x - w, y + h});
            },
            [&](const ApertureShape::Obround& o) {
                if (!std::isfinite(o.width) || !std::isfinite(o.height)) return;
                const auto ends = [&](double r) {
                    return piecesWithin(std::fabs(r), kPi, detailToleranceMM, n, kLeastHalfPieces);
                };
                if (o.height <= o.width) {
                    const double r = o.height / 2;
                    const double e = o.width / 2 - r;
                    mesh.addQuad(Vec2{x - e, y - r}, Vec2{x + e, y - r}, Vec2{x + e, y + r}, Vec2{x - e, y + r});
                    addFixedFan(mesh, Vec2{x + e, y}, r, FixedFan::halfFromMinus90, ends(r));
                    addFixedFan(mesh, Vec2{x - e, y}, r, FixedFan::halfFrom90, ends(r));
                } else {
                    const double r = o.width / 2;
                    const double e = o.height / 2 - r;
                    mesh.addQuad(Vec2{x - r, y - e}, Vec2{x + r, y - e}, Vec2{x + r, y + e}, Vec2{x - r, y + e});
                    addFixedFan(mesh, Vec2{x, y + e}, r, FixedFan::halfFrom0, ends(r));
                    addFixedFan(mesh, Vec2{x, y - e}, r, FixedFan::halfFrom180, ends(r));
                }
            },
            [&](const ApertureShape::Polygon& p) {
                thread_local std::vector<Vec2> corners;
                corners.clear();
                polygonCorners(at, p, corners);
                for (std::size_t j = 0; j < corners.size(); ++j)
                    mesh.addTriangle(at, corners[j], corners[j + 1 == corners.size() ? 0 : j + 1]);
            },
            [&](const ApertureShape::Macro& m) {
                if (!m.outline) {
                    addDisc(mesh, at, m.boundingDiameter, detailToleranceMM);
                    return;
                }
                // Pads of one aperture follow one another in a layer: clip the outline once, in aperture
                // coordinates, and place its triangles at each flash.
                DrawnMacro& drawn = drawnMacro(*m.outline, std::max(detailToleranceMM, arcChordToleranceMM));
                if (!drawn.triangles) {
                    drawn.triangles.emplace();
                    for (const Contour& contour : drawn.contours) triangulateContour(contour, *drawn.triangles);
                }
                addTriangles(mesh, *drawn.triangles, at);
            },
        },
        shape->value);
}

const std::vector<Contour>& GeometryEngine::drawnOutline(const std::vector<Contour>& outline) const {
    const double tolerance = std::max(detailToleranceMM, arcChordToleranceMM);
    if (!(tolerance > 0)) return outline;
    return drawnMacro(outline, tolerance).contours;
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

void GeometryEngine::polygonCorners(const Vec2& at, const ApertureShape::Polygon& polygon, std::vector<Vec2>& out) {
    if (!std::isfinite(polygon.diameter) || !std::isfinite(polygon.rotationDeg) || !finite(at)) return;
    const std::int64_t k = std::min(std::max<std::int64_t>(polygon.vertices, 3), maxPolygonVertices);
    const double radius = polygon.diameter / 2;
    for (std::int64_t j = 0; j < k; ++j) {
        const double alpha =
            (static_cast<double>(j) * 360.0 / static_cast<double>(k) + polygon.rotationDeg) * kPi / 180.0;
        out.push_back(Vec2{at.x + radius * std::cos(alpha), at.y + radius * std::sin(alpha)});
    }
}

void GeometryEngine::fillRegion(const std::vector<Contour>& contours, TriangleMesh& mesh) const {
    std::vector<Triangle> triangles;
    for (const Contour& contour : contours) {
        triangles.clear();
        triangulateContour(contour, triangles);
        for (const Triangle& t : triangles) mesh.addTriangle(t[0], t[1], t[2]);
    }
}

} // namespace corvane
