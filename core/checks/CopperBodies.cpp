#include "CopperBodies.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "model/Angles.hpp"

namespace corvane {

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr std::int64_t kMaxPolygonVertices = 1024;

double dot(const Vec2& a, const Vec2& b) { return a.x * b.x + a.y * b.y; }
double clamp01(double v) { return v < 0 ? 0 : (v > 1 ? 1 : v); }
double nonNegative(double v) { return v > 0 ? v : 0.0; }

Vec2 clampInto(const Vec2& p, const BBox& b) {
    return Vec2{std::min(std::max(p.x, b.minX), b.maxX), std::min(std::max(p.y, b.minY), b.maxY)};
}

// Moves the nearest points of two skeletons (centre lines, outlines) out to the copper surfaces.
CopperGap surfaceGap(const ClosestPoints& cp, double firstRadius, double secondRadius) {
    const double g = cp.distance - firstRadius - secondRadius;
    if (!(g > 0)) return CopperGap{0.0, cp.onFirst, cp.onSecond};
    const Vec2 d = cp.onSecond - cp.onFirst;
    const Vec2 u = d * (1.0 / cp.distance);
    return CopperGap{g, cp.onFirst + u * firstRadius, cp.onSecond - u * secondRadius};
}

} // namespace

ClosestPoints closestPointsSegSeg(const Vec2& p1, const Vec2& q1, const Vec2& p2, const Vec2& q2) {
    constexpr double eps = 1e-12;
    const Vec2 d1 = q1 - p1;
    const Vec2 d2 = q2 - p2;
    const Vec2 r = p1 - p2;
    const double a = dot(d1, d1);
    const double e = dot(d2, d2);
    const double f = dot(d2, r);
    double s = 0;
    double t = 0;
    if (a <= eps) {
        s = 0;
        t = e > eps ? clamp01(f / e) : 0.0;
    } else {
        const double c = dot(d1, r);
        if (e <= eps) {
            t = 0;
            s = clamp01(-c / a);
        } else {
            const double b = dot(d1, d2);
            const double denom = a * e - b * b;
            s = denom > eps ? clamp01((b * f - c * e) / denom) : 0.0;
            t = (b * s + f) / e;
            if (t < 0) {
                t = 0;
                s = clamp01(-c / a);
            } else if (t > 1) {
                t = 1;
                s = clamp01((b - c) / a);
            }
        }
    }
    const Vec2 c1 = p1 + d1 * s;
    const Vec2 c2 = p2 + d2 * t;
    return ClosestPoints{c1.distance(c2), c1, c2};
}

ClosestPoints segRectDistance(const Vec2& p, const Vec2& q, const BBox& box) {
    if (box.contains(p) || box.contains(q)) return ClosestPoints{0.0, p, box.center()};
    const Vec2 corners[4] = {{box.minX, box.minY}, {box.maxX, box.minY}, {box.maxX, box.maxY}, {box.minX, box.maxY}};
    ClosestPoints best{kInf, p, p};
    for (int k = 0; k < 4; ++k) {
        const ClosestPoints c = closestPointsSegSeg(p, q, corners[k], corners[(k + 1) % 4]);
        if (c.distance < best.distance) best = c;
    }
    return best;
}

bool isZeroSize(const ApertureShape& shape) {
    if (const auto* m = shape.as<ApertureShape::Macro>()) {
        if (!m->outline) return false;
        return std::none_of(m->outline->begin(), m->outline->end(), [](const Contour& c) { return !c.empty(); });
    }
    return shape.boundingDiameter() <= kZeroSizeMM;
}

bool contourContains(const Vec2* pts, std::size_t n, const Vec2& p) {
    bool inside = false;
    for (std::size_t i = 0, j = n - 1; i < n; j = i++) {
        const Vec2& a = pts[i];
        const Vec2& b = pts[j];
        if ((a.y > p.y) != (b.y > p.y)) {
            const double x = (b.x - a.x) * (p.y - a.y) / (b.y - a.y) + a.x;
            if (p.x < x) inside = !inside;
        }
    }
    return inside;
}

Vec2 CopperBody::center() const {
    if (shape == Shape::capsule) return Vec2{(a.x + b.x) * 0.5, (a.y + b.y) * 0.5};
    return box.center();
}

void CopperBodySet::clear() {
    points_.clear();
    contours_.clear();
}

std::optional<CopperBody> CopperBodySet::capsule(const Vec2& a, const Vec2& b, double width) {
    if (!std::isfinite(a.x) || !std::isfinite(a.y) || !std::isfinite(b.x) || !std::isfinite(b.y) ||
        !std::isfinite(width))
        return std::nullopt;
    CopperBody body;
    body.shape = CopperBody::Shape::capsule;
    body.a = a;
    body.b = b;
    body.radius = nonNegative(width) * 0.5;
    const double r = body.radius;
    body.box = BBox{std::min(a.x, b.x) - r, std::min(a.y, b.y) - r, std::max(a.x, b.x) + r, std::max(a.y, b.y) + r};
    return body;
}

std::optional<CopperBody> CopperBodySet::flash(const Vec2& at, ShapeRef shape) {
    if (!std::isfinite(at.x) || !std::isfinite(at.y)) return std::nullopt;
    if (!shape) return capsule(at, at, 0.0);
    if (auto c = shape->as<ApertureShape::Circle>()) return capsule(at, at, c->diameter);
    if (auto r = shape->as<ApertureShape::Rectangle>()) {
        if (!std::isfinite(r->width) || !std::isfinite(r->height)) return std::nullopt;
        CopperBody body;
        body.shape = CopperBody::Shape::box;
        const double hw = nonNegative(r->width) * 0.5;
        const double hh = nonNegative(r->height) * 0.5;
        body.box = BBox{at.x - hw, at.y - hh, at.x + hw, at.y + hh};
        return body;
    }
    if (auto o = shape->as<ApertureShape::Obround>()) {
        if (!std::isfinite(o->width) || !std::isfinite(o->height)) return std::nullopt;
        const double w = nonNegative(o->width);
        const double h = nonNegative(o->height);
        if (w > h) return capsule(Vec2{at.x - (w - h) * 0.5, at.y}, Vec2{at.x + (w - h) * 0.5, at.y}, h);
        return capsule(Vec2{at.x, at.y - (h - w) * 0.5}, Vec2{at.x, at.y + (h - w) * 0.5}, w);
    }
    CopperBody body;
    body.shape = CopperBody::Shape::polygons;
    body.box = BBox::empty();
    body.firstContour = static_cast<std::uint32_t>(contours_.size());
    if (auto p = shape->as<ApertureShape::Polygon>()) {
        if (!std::isfinite(p->diameter) || !std::isfinite(p->rotationDeg)) return std::nullopt;
        const std::int64_t k = std::clamp<std::int64_t>(p->vertices, 3, kMaxPolygonVertices);
        const double radius = nonNegative(p->diameter) * 0.5;
        ContourRef ref{nullptr, static_cast<std::uint32_t>(points_.size()), static_cast<std::uint32_t>(k), BBox::empty()};
        for (std::int64_t i = 0; i < k; ++i) {
            const double deg = p->rotationDeg + 360.0 * static_cast<double>(i) / static_cast<double>(k);
            const double th = deg * kPi / 180.0;
            const Vec2 v{radius * std::cos(th), radius * std::sin(th)};
            points_.push_back(v);
            ref.box.include(at + v);
        }
        body.offset = at;
        body.box = ref.box;
        contours_.push_back(ref);
        body.contourCount = 1;
        return body;
    }
    const auto* m = shape->as<ApertureShape::Macro>();
    if (m->outline) {
        bool finite = true;
        for (const Contour& c : *m->outline)
            if (!c.empty() && c.size() <= std::numeric_limits<std::uint32_t>::max()) finite = addOutlineContour(at, c, body) && finite;
        body.offset = at;
        if (finite && body.contourCount > 0) return body;
        contours_.resize(body.firstContour);
    }
    // A macro that could not be evaluated covers at most its bounding circle.
    return capsule(at, at, m->boundingDiameter);
}

Vec2 CopperBodySet::anyPoint(const CopperBody& b) const {
    switch (b.shape) {
    case CopperBody::Shape::capsule: return b.a;
    case CopperBody::Shape::box: return b.box.center();
    case CopperBody::Shape::polygons: break;
    }
    const PolyView v = view(b);
    if (v.count == 0 || v.contours[0].count == 0) return b.box.center();
    return v.contourPoints(0)[0] + v.offset;
}

namespace {

// The circle a contour of an evaluated macro stands for: its points evenly on one circle, as many
// as the evaluation gives a circle of that size.
std::optional<std::pair<Vec2, double>> macroCircle(const Contour& c) {
    const std::size_t n = c.size();
    if (n < 6) return std::nullopt;
    Vec2 centre;
    for (const Vec2& p : c) centre = centre + p;
    centre = centre * (1.0 / static_cast<double>(n));
    const double r = c[0].distance(centre);
    if (!(r > 0) || !std::isfinite(r)) return std::nullopt;
    const double tolerance = 1e-9 * std::max(1.0, r);
    const double side = c[0].distance(c[n - 1]);
    for (std::size_t k = 0; k < n; ++k) {
        if (std::fabs(c[k].distance(centre) - r) > tolerance) return std::nullopt;
        if (k > 0 && std::fabs(c[k].distance(c[k - 1]) - side) > tolerance) return std::nullopt;
    }
    const auto count = static_cast<std::size_t>(outlineDiscSides(2 * r));
    if (count != n && static_cast<std::size_t>(outlineDiscSides(2 * r * (1 + 1e-9))) != n &&
        static_cast<std::size_t>(outlineDiscSides(2 * r * (1 - 1e-9))) != n)
        return std::nullopt;
    return std::pair{centre, r};
}

} // namespace

std::optional<CopperBody> CopperBodySet::polygon(const Contour& points) {
    if (points.size() < 3 || points.size() > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
    ContourRef ref{nullptr, static_cast<std::uint32_t>(points_.size()), static_cast<std::uint32_t>(points.size()),
                   BBox::empty()};
    for (const Vec2& p : points) {
        if (!std::isfinite(p.x) || !std::isfinite(p.y)) return std::nullopt;
        ref.box.include(p);
    }
    points_.insert(points_.end(), points.begin(), points.end());
    CopperBody body;
    body.shape = CopperBody::Shape::polygons;
    body.box = ref.box;
    body.firstContour = static_cast<std::uint32_t>(contours_.size());
    body.contourCount = 1;
    contours_.push_back(ref);
    return body;
}

std::size_t CopperBodySet::flashBodyCount(ShapeRef shape) {
    const auto* m = shape ? shape->as<ApertureShape::Macro>() : nullptr;
    if (!m || !m->outline) return 1;
    std::size_t discs = 0;
    bool rest = false;
    for (const Contour& c : *m->outline) {
        if (c.empty() || c.size() > std::numeric_limits<std::uint32_t>::max()) continue;
        if (macroCircle(c)) {
            ++discs;
        } else {
            rest = true;
        }
    }
    return discs + (rest ? 1 : 0);
}

std::size_t CopperBodySet::flashStorageBytes(ShapeRef shape) {
    if (!shape) return 0;
    if (auto p = shape->as<ApertureShape::Polygon>())
        return polygonStorageBytes(static_cast<std::size_t>(std::clamp<std::int64_t>(p->vertices, 3, kMaxPolygonVertices)));
    const auto* m = shape->as<ApertureShape::Macro>();
    // An evaluated macro's points stay the aperture's own; only a reference per contour is kept.
    return m && m->outline ? m->outline->size() * sizeof(ContourRef) : 0;
}

void CopperBodySet::flashBodies(const Vec2& at, ShapeRef shape,
                                std::vector<CopperBody>& out) {
    const auto* m = shape ? shape->as<ApertureShape::Macro>() : nullptr;
    if (!m || !m->outline) {
        if (auto body = flash(at, shape)) out.push_back(*body);
        return;
    }
    if (!std::isfinite(at.x) || !std::isfinite(at.y)) return;
    CopperBody rest;
    rest.shape = CopperBody::Shape::polygons;
    rest.box = BBox::empty();
    rest.firstContour = static_cast<std::uint32_t>(contours_.size());
    rest.offset = at;
    const std::size_t firstDisc = out.size();
    bool finite = true;
    for (const Contour& c : *m->outline) {
        if (c.empty() || c.size() > std::numeric_limits<std::uint32_t>::max()) continue;
        if (auto circle = macroCircle(c)) {
            if (auto disc = capsule(at + circle->first, at + circle->first, 2 * circle->second)) out.push_back(*disc);
            continue;
        }
        finite = addOutlineContour(at, c, rest) && finite;
    }
    if (!finite) {
        contours_.resize(rest.firstContour);
        out.resize(firstDisc);
        if (auto body = capsule(at, at, m->boundingDiameter)) out.push_back(*body);
        return;
    }
    if (rest.contourCount > 0) out.push_back(rest);
}

bool CopperBodySet::addOutlineContour(const Vec2& at, const Contour& c, CopperBody& body) {
    ContourRef ref{c.data(), 0, static_cast<std::uint32_t>(c.size()), BBox::empty()};
    bool finite = true;
    for (const Vec2& v : c) {
        const Vec2 w = at + v;
        if (!std::isfinite(w.x) || !std::isfinite(w.y)) finite = false;
        ref.box.include(w);
    }
    body.box.include(ref.box);
    contours_.push_back(ref);
    body.contourCount += 1;
    return finite;
}

CopperBodySet::PolyView CopperBodySet::view(const CopperBody& b) const {
    return PolyView{contours_.data() + b.firstContour, b.contourCount, points_.data(), b.offset};
}

CopperBodySet::PolyView CopperBodySet::boxView(const BBox& box, ContourRef& ref, Vec2 (&pts)[4]) {
    pts[0] = Vec2{box.minX, box.minY};
    pts[1] = Vec2{box.maxX, box.minY};
    pts[2] = Vec2{box.maxX, box.maxY};
    pts[3] = Vec2{box.minX, box.maxY};
    ref = ContourRef{pts, 0, 4, box};
    return PolyView{&ref, 1, pts, Vec2{}};
}

namespace {

BBox segmentBox(const Vec2& a, const Vec2& b) {
    return BBox{std::min(a.x, b.x), std::min(a.y, b.y), std::max(a.x, b.x), std::max(a.y, b.y)};
}

// Edges and contours whose boxes lie no nearer than the best distance so far are skipped: a
// rounded pad has a few hundred edges, and only the facing ones matter.
// Lowers `best` to the nearest approach of the segment p–q (whose box is segBox) to the edges of
// one contour; edges whose boxes lie no nearer than `best` are skipped. True once best is 0.
bool approachContour(const Vec2& p, const Vec2& q, const BBox& segBox, const Vec2* pts, std::size_t n,
                     const Vec2& offset, ClosestPoints& best) {
    for (std::size_t i = 0; i < n; ++i) {
        const Vec2 e0 = pts[i] + offset;
        const Vec2 e1 = pts[(i + 1) % n] + offset;
        if (boxGap(segBox, segmentBox(e0, e1)) >= best.distance) continue;
        const ClosestPoints e = closestPointsSegSeg(p, q, e0, e1);
        if (e.distance < best.distance) best = e;
        if (best.distance == 0) return true;
    }
    return false;
}

// A search that started from `below` and found nothing nearer answers infinity: the bound itself,
// less a radius, could round to just under it.
ClosestPoints nothingBelow(ClosestPoints best, double below) {
    if (!(best.distance < below)) best.distance = kInf;
    return best;
}

template <class View>
ClosestPoints segmentToPolygons(const Vec2& p, const Vec2& q, const View& poly, double below) {
    ClosestPoints best{below, p, p};
    const BBox segBox = segmentBox(p, q);
    for (std::uint32_t c = 0; c < poly.count; ++c) {
        const auto& ref = poly.contours[c];
        const double contourGap = boxGap(segBox, ref.box);
        if (contourGap >= best.distance) continue;
        const Vec2* pts = poly.contourPoints(c);
        if (approachContour(p, q, segBox, pts, ref.count, poly.offset, best)) return best;
        // No edge touched: the segment lies wholly inside or wholly outside this contour.
        if (contourGap == 0 && contourContains(pts, ref.count, p - poly.offset)) return ClosestPoints{0.0, p, p};
    }
    return nothingBelow(best, below);
}

template <class View>
ClosestPoints polygonsToPolygons(const View& A, const View& B, std::vector<ContourPair>& pairs, double below) {
    using Pair = ContourPair;
    ClosestPoints best{below, Vec2{}, Vec2{}};
    pairs.clear();
    for (std::uint32_t ca = 0; ca < A.count; ++ca)
        for (std::uint32_t cb = 0; cb < B.count; ++cb)
            pairs.push_back(Pair{boxGap(A.contours[ca].box, B.contours[cb].box), ca, cb});
    // Nearest contour pairs first, so that the bound tightens early.
    std::stable_sort(pairs.begin(), pairs.end(), [](const Pair& x, const Pair& y) { return x.gap < y.gap; });
    for (const Pair& pr : pairs) {
        if (pr.gap >= best.distance) break;
        const auto& ra = A.contours[pr.a];
        const auto& rb = B.contours[pr.b];
        const Vec2* pa = A.contourPoints(pr.a);
        const Vec2* pb = B.contourPoints(pr.b);
        const std::size_t na = ra.count;
        const std::size_t nb = rb.count;
        for (std::size_t i = 0; i < na; ++i) {
            const Vec2 a0 = pa[i] + A.offset;
            const Vec2 a1 = pa[(i + 1) % na] + A.offset;
            const BBox ea = segmentBox(a0, a1);
            if (boxGap(ea, rb.box) >= best.distance) continue;
            if (approachContour(a0, a1, ea, pb, nb, B.offset, best)) return best;
        }
        // Edges apart, boxes overlapping: one contour may hold the other.
        const Vec2 a0 = pa[0] + A.offset;
        const Vec2 b0 = pb[0] + B.offset;
        if (pr.gap == 0 && (contourContains(pb, nb, a0 - B.offset) || contourContains(pa, na, b0 - A.offset)))
            return ClosestPoints{0.0, a0, a0};
    }
    return nothingBelow(best, below);
}

CopperGap swapped(const CopperGap& g) { return CopperGap{g.gap, g.onSecond, g.onFirst}; }

} // namespace

CopperGap CopperBodySet::gap(const CopperBody& first, const CopperBody& second, double below) const {
    using S = CopperBody::Shape;
    if (first.shape == S::capsule) {
        switch (second.shape) {
        case S::capsule:
            return surfaceGap(closestPointsSegSeg(first.a, first.b, second.a, second.b), first.radius, second.radius);
        case S::box:
            return surfaceGap(segRectDistance(first.a, first.b, second.box), first.radius, 0.0);
        case S::polygons:
            return surfaceGap(segmentToPolygons(first.a, first.b, view(second), below + first.radius), first.radius, 0.0);
        }
        return CopperGap{};
    }
    if (second.shape == S::capsule) return swapped(gap(second, first, below));
    if (first.shape == S::box && second.shape == S::box) {
        const BBox& a = first.box;
        const BBox& b = second.box;
        const double gx = std::max(0.0, std::max(a.minX - b.maxX, b.minX - a.maxX));
        const double gy = std::max(0.0, std::max(a.minY - b.maxY, b.minY - a.maxY));
        return CopperGap{std::sqrt(gx * gx + gy * gy), clampInto(b.center(), a), clampInto(a.center(), b)};
    }
    ContourRef refA, refB;
    Vec2 ptsA[4], ptsB[4];
    const PolyView va = first.shape == S::box ? boxView(first.box, refA, ptsA) : view(first);
    const PolyView vb = second.shape == S::box ? boxView(second.box, refB, ptsB) : view(second);
    // One scratch list per thread: the searches measure one layer's copper on several threads.
    thread_local std::vector<ContourPair> pairs;
    return surfaceGap(polygonsToPolygons(va, vb, pairs, below), 0.0, 0.0);
}

} // namespace corvane
