#include "CopperIslands.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <memory>
#include <numeric>
#include <unordered_map>

#include "BoxTree.hpp"
#include "PolygonBooleans.hpp"
#include "model/Angles.hpp"
#include "model/GeometryEngine.hpp"
#include "model/ParallelFor.hpp"

namespace corvane::copper {

namespace {

using booleans::Coord;
using booleans::Path;
using booleans::Paths;
using booleans::Point;
using booleans::toMM;
using booleans::toUnits;
using booleans::withinRange;
// Filled areas with more edges than this get a row index for their inside test.
constexpr std::size_t kIndexedAreaEdges = 64;
// Entries the row index of an area may hold per edge: an edge is listed in every row it spans, and an
// outline crossing itself all over (a star of thousands of points) spans every row with every edge.
// Such an area gets fewer rows, so that its index stays the size of its edges.
constexpr double kAreaRowEntriesPerEdge = 16;
// Edges an inside test may examine for one step of a window walk, so that walks over areas whose rows
// hold thousands of edges still ask for the deadline often.
constexpr std::size_t kAreaEdgesPerStep = 64;
// Areas of one contour with at most this many edges are one piece.
constexpr std::size_t kWholeAreaEdges = 256;
// Objects that clear objects may cut are shared out to the pool in this many chunks at most,
// each of at least about this many objects.
constexpr std::size_t kMaxCutChunks = 32;
constexpr std::size_t kObjectsPerCutChunk = 64;
// Clipper's time grows faster than the edges it is given, and one object is one task: an object
// whose outline and clear objects hold more points than this is cut column by column, in
// parallel, each column with only the clear objects that meet it.
constexpr std::size_t kPointsPerCutColumn = 512;
constexpr std::size_t kMaxCutColumns = 64;
// No cut may outlast the deadline, and the boolean cannot be stopped once started: an object
// whose outline and clear objects hold more points than this leaves its layer unexamined.
constexpr std::size_t kMaxCutPoints = 1'000'000;
// Clear outlines reaching past a column are cut back to this far beyond it, so that what the
// cutting leaves along the line lies off the copper, which ends at the line.
constexpr Coord kClearMarginUnits = 1000;

double nominalWidth(const PCBObject& o) { return o.apertureShape ? o.apertureShape->strokeNominalWidth() : 0.0; }

// The most chords an arc of copper becomes: enough to keep any arc up to a metre across within
// kArcChordMM, and a bound on what stray arcs of kilometres can cost.
constexpr double kMaxArcChords = 16384;

// Start, then the chord corners of an arc within kArcChordMM of it (coarser only past kMaxArcChords).
void arcPoints(const PCBObjectKind::ArcStroke& a, std::vector<Vec2>& out) {
    const double r = a.start.distance(a.center);
    GeometryEngine sampler;
    sampler.arcSegmentDegrees = 10.0;
    sampler.arcChordToleranceMM = std::max(kArcChordMM, r * (1.0 - std::cos(kPi / kMaxArcChords)));
    out.clear();
    out.push_back(a.start);
    sampler.sampleArc(a.start, a.end, a.center, a.clockwise, out);
}

// ---- union-find -------------------------------------------------------------------------------

// Safe to use from several threads at once: a root is only ever linked under a smaller root, by
// compare-and-swap, so links never form a cycle, and paths are only ever shortened to an ancestor.
// Which pieces end up together does not depend on the order of the joins.
class Islands {
public:
    explicit Islands(std::size_t n) : parent_(n) {
        for (std::size_t i = 0; i < n; ++i) parent_[i].store(static_cast<std::uint32_t>(i), std::memory_order_relaxed);
    }
    std::uint32_t find(std::uint32_t i) {
        for (;;) {
            std::uint32_t parent = parent_[i].load(std::memory_order_relaxed);
            if (parent == i) return i;
            const std::uint32_t grand = parent_[parent].load(std::memory_order_relaxed);
            if (grand != parent) parent_[i].compare_exchange_weak(parent, grand, std::memory_order_relaxed);
            i = grand;
        }
    }
    void unite(std::uint32_t a, std::uint32_t b) {
        for (;;) {
            a = find(a);
            b = find(b);
            if (a == b) return;
            if (a < b) std::swap(a, b);
            std::uint32_t root = a;
            if (parent_[a].compare_exchange_strong(root, b, std::memory_order_relaxed)) return;
        }
    }

private:
    std::vector<std::atomic<std::uint32_t>> parent_;
};

// ---- filled areas -----------------------------------------------------------------------------

// Even-odd inside test over several contours, with the edges sorted into rows for large areas.
class AreaTest {
public:
    AreaTest(const LayerCopper& layer, const FilledArea& area) : layer_(layer), area_(area) {
        std::size_t edges = 0;
        for (std::uint32_t c = 0; c < area.contourCount; ++c) edges += layer.contours[area.firstContour + c].size();
        if (edges <= kIndexedAreaEdges || !(area.box.height() > 0)) return;
        rows_ = std::min(edges / 8 + 1, std::min<std::size_t>(4096, rowsWithinEntries(edges)));
        rowHeight_ = area.box.height() / static_cast<double>(rows_);
        rowStart_.assign(rows_ + 1, 0);
        forEachEdge([&](std::size_t r0, std::size_t r1, const Vec2&, const Vec2&) {
            for (std::size_t r = r0; r <= r1; ++r) rowStart_[r + 1] += 1;
        });
        for (std::size_t r = 0; r < rows_; ++r) rowStart_[r + 1] += rowStart_[r];
        edges_.resize(rowStart_.back());
        std::vector<std::size_t> fill(rowStart_.begin(), rowStart_.end() - 1);
        forEachEdge([&](std::size_t r0, std::size_t r1, const Vec2& a, const Vec2& b) {
            for (std::size_t r = r0; r <= r1; ++r) edges_[fill[r]++] = Edge{a, b};
        });
    }

    bool contains(const Vec2& p) const {
        if (!area_.box.contains(p)) return false;
        bool inside = false;
        auto cross = [&](const Vec2& a, const Vec2& b) {
            if ((a.y > p.y) != (b.y > p.y)) {
                const double x = (b.x - a.x) * (p.y - a.y) / (b.y - a.y) + a.x;
                if (p.x < x) inside = !inside;
            }
        };
        if (rows_ == 0) {
            for (std::uint32_t c = 0; c < area_.contourCount; ++c) {
                const Contour& k = layer_.contours[area_.firstContour + c];
                for (std::size_t i = 0, j = k.size() - 1; i < k.size(); j = i++) cross(k[i], k[j]);
            }
            return inside;
        }
        const std::size_t r = rowOf(p.y);
        for (std::size_t e = rowStart_[r]; e < rowStart_[r + 1]; ++e) cross(edges_[e].a, edges_[e].b);
        return inside;
    }

    // The edges contains(p) examines.
    std::size_t cost(const Vec2& p) const {
        if (!area_.box.contains(p)) return 0;
        if (rows_ == 0) return kIndexedAreaEdges;
        const std::size_t r = rowOf(p.y);
        return rowStart_[r + 1] - rowStart_[r];
    }

private:
    struct Edge {
        Vec2 a, b;
    };
    std::size_t rowOf(double y) const {
        const double q = std::floor((y - area_.box.minY) / rowHeight_);
        if (!(q > 0)) return 0;
        return std::min(static_cast<std::size_t>(q), rows_ - 1);
    }
    // Most rows for which the index holds kAreaRowEntriesPerEdge entries an edge: an edge is listed in
    // at most its height over the row height, plus two, rows.
    std::size_t rowsWithinEntries(std::size_t edges) const {
        double heights = 0;  // the edges' heights, in area heights
        for (std::uint32_t c = 0; c < area_.contourCount; ++c) {
            const Contour& k = layer_.contours[area_.firstContour + c];
            for (std::size_t i = 0, j = k.size() - 1; i < k.size(); j = i++) heights += std::fabs(k[i].y - k[j].y);
        }
        heights /= area_.box.height();
        const double spare = (kAreaRowEntriesPerEdge - 2) * static_cast<double>(edges);
        if (!(heights * 4096 > spare)) return 4096;
        return std::max<std::size_t>(1, static_cast<std::size_t>(spare / heights));
    }
    template <class F>
    void forEachEdge(F&& f) const {
        for (std::uint32_t c = 0; c < area_.contourCount; ++c) {
            const Contour& k = layer_.contours[area_.firstContour + c];
            for (std::size_t i = 0, j = k.size() - 1; i < k.size(); j = i++)
                f(rowOf(std::min(k[i].y, k[j].y)), rowOf(std::max(k[i].y, k[j].y)), k[i], k[j]);
        }
    }

    const LayerCopper& layer_;
    const FilledArea& area_;
    std::size_t rows_ = 0;
    double rowHeight_ = 0;
    std::vector<std::size_t> rowStart_;
    std::vector<Edge> edges_;
};

// A point of a piece's copper: inside a filled area when the whole piece is, for a piece that
// crosses none of the area's edges.
Vec2 pointOf(const LayerCopper& layer, const Piece& p) { return layer.bodies.anyPoint(p.body); }

// ---- building pieces --------------------------------------------------------------------------

// A small area without holes measures well as one polygon; a large one is cut into edges so that
// only its nearby edges meet other copper.
bool isWhole(const Contour& outline) { return outline.size() >= 3 && outline.size() <= kWholeAreaEdges; }
bool isWhole(const std::vector<Contour>& contours) { return contours.size() == 1 && isWhole(contours[0]); }

std::size_t pointCount(const std::vector<Contour>& contours) {
    std::size_t n = 0;
    for (const Contour& c : contours) n += c.size();
    return n;
}

// A long slanted stroke or edge would be listed in every cell of its box, and met by the window of
// every piece there: it is cut into a chain of capsules at most this many cells across one way or
// the other, whose union is the same copper.
constexpr double kChainSpanCells = 8;
// Most pieces one segment is cut into, and most pieces the chains of one layer may add: past them a
// hostile length or count keeps large boxes (slower, still held to the deadline), not a large count.
constexpr std::size_t kMostChainPieces = 256;
constexpr std::size_t kChainBudget = std::size_t{1} << 16;

std::size_t chainPieces(const Vec2& a, const Vec2& b, double cell) {
    const double span = std::min(std::fabs(b.x - a.x), std::fabs(b.y - a.y)) / (kChainSpanCells * cell);
    if (!(span > 1)) return 1;
    return span >= static_cast<double>(kMostChainPieces) ? kMostChainPieces : static_cast<std::size_t>(std::ceil(span));
}

// The pieces of a segment beyond its first, before the layer's chain budget.
std::size_t chainExtra(const Vec2& a, const Vec2& b, double cell) { return chainPieces(a, b, cell) - 1; }

std::size_t edgeExtra(const Contour& c, double cell) {
    std::size_t n = 0;
    for (std::size_t i = 0; i < c.size(); ++i) n += chainExtra(c[i], c[(i + 1) % c.size()], cell);
    return n;
}

// An area gives one piece, or one per edge and the chains' extra pieces.
std::size_t areaPieces(const std::vector<Contour>& contours, bool split, double cell, std::size_t& extra) {
    if (!split && isWhole(contours)) return 1;
    for (const Contour& c : contours) extra += edgeExtra(c, cell);
    return pointCount(contours);
}

// The seams of one column of a cut polygon, where the cut, not the copper, ends the column: its
// bounds in millimetres (NaN on an open side), with the box of the whole cut polygon.
struct Seams {
    double left = std::numeric_limits<double>::quiet_NaN();
    double right = std::numeric_limits<double>::quiet_NaN();
    BBox polygonBox;

    // Whether the edge a–b runs along a seam. Seams lie off every corner of the polygons cut, so
    // no edge that a file draws runs along one.
    bool holds(const Vec2& a, const Vec2& b) const {
        return (a.x == left && b.x == left) || (a.x == right && b.x == right);
    }
};

// Pieces made between two readings of the deadline: one arc of kilometres makes tens of thousands.
constexpr std::size_t kPiecesPerPoll = 4096;

class Builder {
public:
    Builder(std::span<const PCBObject> objects, NetTable& nets, LayerCopper& out, const std::function<bool()>& stop)
        : objects_(objects), nets_(nets), out_(out), stop_(stop) {}

    // Whether `stop` ended the making of pieces: what was made is then no layer.
    bool stopped() const { return stopped_; }

    void addObject(std::uint32_t src) {
        const PCBObject& o = objects_[src];
        if (!drawsCopper(o)) return;
        const std::int32_t net = nets_.intern(o.net());
        if (auto s = o.kind.as<PCBObjectKind::Stroke>()) {
            addSegment(s->start, s->end, nominalWidth(o), src, net, false);
        } else if (auto a = o.kind.as<PCBObjectKind::ArcStroke>()) {
            if (!a->start.isFinite() || !a->end.isFinite() || !a->center.isFinite()) return;
            arcPoints(*a, points_);
            const double w = nominalWidth(o);
            for (std::size_t k = 0; k + 1 < points_.size() && !stopped_; ++k)
                addSegment(points_[k], points_[k + 1], w, src, net, k > 0);
        } else if (auto f = o.kind.as<PCBObjectKind::Flash>()) {
            flashBodies_.clear();
            out_.bodies.flashBodies(f->at, o.apertureShape, flashBodies_);
            for (std::size_t k = 0; k < flashBodies_.size(); ++k) addPiece(flashBodies_[k], src, net, k > 0);
        } else if (auto g = o.kind.as<PCBObjectKind::Region>()) {
            for (const Contour& c : g->contours) addArea({c}, src, net);
        }
    }

    // A filled area: its contours are kept for inside tests, its edges become pieces. An area
    // that is one column of a cut polygon gets no pieces on the column's seams, which the cut
    // made and no file draws, and its inside reaches over the whole polygon's box.
    void addArea(std::vector<Contour> contours, std::uint32_t src, std::int32_t net, const Seams* seams = nullptr) {
        if (!seams && isWhole(contours)) {
            addPiece(out_.bodies.polygon(contours[0]), src, net);
            return;
        }
        FilledArea area;
        area.firstContour = static_cast<std::uint32_t>(out_.contours.size());
        area.firstPiece = static_cast<std::uint32_t>(out_.pieces.size());
        area.box = BBox::empty();
        for (Contour& c : contours) {
            if (c.size() < 3) continue;
            bool ok = true;
            for (const Vec2& p : c) ok = ok && p.isFinite();
            if (!ok) continue;
            for (std::size_t i = 0; i < c.size() && !stopped_; ++i) {
                const Vec2& a = c[i];
                const Vec2& b = c[(i + 1) % c.size()];
                area.box.include(a);
                if (seams && seams->holds(a, b)) continue;
                addSegment(a, b, 0.0, src, net, out_.pieces.size() > area.firstPiece);
            }
            out_.contours.push_back(std::move(c));
            area.contourCount += 1;
        }
        area.endPiece = static_cast<std::uint32_t>(out_.pieces.size());
        area.enclosing = seams ? seams->polygonBox : area.box;
        if (area.contourCount > 0 && area.endPiece > area.firstPiece) out_.areas.push_back(area);
    }

    // Per piece: whether it is known to join the piece before it (pieces of one arc or area).
    std::vector<std::uint8_t>& joinsPrevious() { return joinsPrevious_; }

    // Room for about `pieces` pieces at once: a list grown by doubling holds up to twice what it
    // needs, and every layer of a package is built at the same time.
    void reserve(std::size_t pieces) {
        out_.pieces.reserve(pieces);
        joinsPrevious_.reserve(pieces);
    }

private:
    // The capsule a–b as a chain of pieces (see chainPieces), the first joining the piece before it
    // when `joins` says so.
    void addSegment(const Vec2& a, const Vec2& b, double width, std::uint32_t src, std::int32_t net, bool joins) {
        const std::size_t k = std::min(chainPieces(a, b, out_.cell), chainBudget_ + 1);
        chainBudget_ -= k - 1;
        Vec2 from = a;
        for (std::size_t i = 1; i <= k && !stopped_; ++i) {
            // Weighted, not a + (b − a)·t: the difference of far-apart finite ends may overflow.
            const double t = static_cast<double>(i) / static_cast<double>(k);
            const Vec2 to = i == k ? b : a * (1 - t) + b * t;
            joins = addPiece(CopperBodySet::capsule(from, to, width), src, net, joins) || joins;
            from = to;
        }
    }

    // Whether the piece was kept: one whose box is not finite is left out.
    bool addPiece(const std::optional<CopperBody>& body, std::uint32_t src, std::int32_t net, bool joins = false) {
        if (!body || !grid::isFinite(body->box)) return false;
        out_.pieces.push_back(Piece{*body, src, net});
        joinsPrevious_.push_back(joins ? 1 : 0);
        if (++sincePoll_ == kPiecesPerPoll) {
            sincePoll_ = 0;
            stopped_ = stop_();
        }
        return true;
    }

    std::span<const PCBObject> objects_;
    NetTable& nets_;
    LayerCopper& out_;
    std::vector<Vec2> points_;
    std::vector<CopperBody> flashBodies_;
    std::vector<std::uint8_t> joinsPrevious_;
    std::size_t chainBudget_ = kChainBudget;
    const std::function<bool()>& stop_;
    std::size_t sincePoll_ = 0;
    bool stopped_ = false;
};

// ---- polarity ---------------------------------------------------------------------------------

// How round outlines of copper that clear objects cut become polygons. Their corners lie on the
// true outline of dark copper, so the polygon holds a little less copper than it; the outlines of
// clear objects are grown by the chord error, so they remove a little more. Either way a gap can
// only come out wider, by at most twice kCutChordMM, never narrower than it is.
constexpr double kCutChordMM = 0.001;

// How many chords keep an arc of `radius` over `sweep` radians within kCutChordMM of its circle.
int chordCount(double radius, double sweep) {
    const double step = 2.0 * std::acos(std::max(-1.0, 1.0 - kCutChordMM / radius));
    return std::clamp(static_cast<int>(std::ceil(std::fabs(sweep) / step)), 1, 4096);
}

// Corners evenly spaced on a circle from angle `from` to `to`, both included; the first left out
// when it continues a path that ends there.
void addCircleCorners(const Vec2& centre, double radius, double from, double to, Path& out, bool skipFirst = false) {
    const int n = chordCount(radius, to - from);
    for (int k = skipFirst ? 1 : 0; k <= n; ++k) {
        const double t = from + (to - from) * k / n;
        out.push_back(toUnits(centre + Vec2{radius * std::cos(t), radius * std::sin(t)}));
    }
}

// A disc (a == b) or straight capsule a–b: corners evenly spaced on its circles and its straight
// sides exact. Built directly: the offsetter costs more than the cut itself, and spaces a lone
// point's corners unevenly.
Path capsulePath(const Vec2& a, const Vec2& b, double radius) {
    Path path;
    if (a == b) {
        addCircleCorners(a, radius, 0, 2.0 * kPi, path);
        path.pop_back();  // the full turn ends where it began
        return path;
    }
    const double th = std::atan2(b.y - a.y, b.x - a.x);
    addCircleCorners(b, radius, th - kPi / 2, th + kPi / 2, path);
    addCircleCorners(a, radius, th + kPi / 2, th + 3 * kPi / 2, path);
    return path;
}

// The copper of an arc stroke of half width `hw`, as polygons that together cover it: within the
// chord error inside its true outline for dark copper, outside it for clear. Where the stroke is
// narrower than its arc: the outer arc, the end's round cap, the inner arc back and the start's
// cap, as one outline (two circles for a full turn); where it is wider, the sector swept out to
// the outer arc and a disc at each end. Corners lie on the true circles where the copper is
// convex; on a hollow inner arc they stand out so that chords never dip into the hole.
void addArcStroke(const PCBObjectKind::ArcStroke& a, double hw, Polarity polarity, Paths& out) {
    const double grow = polarity == Polarity::clear ? kCutChordMM : 0.0;
    const Vec2 d0 = a.start - a.center;
    const Vec2 d1 = a.end - a.center;
    const double r = std::sqrt(d0.x * d0.x + d0.y * d0.y);
    const double a0 = std::atan2(d0.y, d0.x);
    double a1 = std::atan2(d1.y, d1.x);
    if (a.clockwise) {
        while (a1 >= a0) a1 -= 2.0 * kPi;
    } else {
        while (a1 <= a0) a1 += 2.0 * kPi;
    }
    const bool fullTurn = !(std::fabs(a1 - a0) < 2.0 * kPi - 1e-9);
    const bool hollow = r - hw > 2 * kCutChordMM;
    const double outer = r + hw + grow;
    const double inner = r - hw + (grow > 0 ? -grow : kCutChordMM);
    const Vec2 s = a.center + Vec2{r * std::cos(a0), r * std::sin(a0)};
    const Vec2 e = a.center + Vec2{r * std::cos(a1), r * std::sin(a1)};
    Path path;
    if (fullTurn) {
        addCircleCorners(a.center, outer, 0, 2.0 * kPi, path);
        path.pop_back();
        booleans::addFilled(std::move(path), out);
        if (!hollow) return;
        Path hole;
        addCircleCorners(a.center, inner, 0, 2.0 * kPi, hole);
        hole.pop_back();
        booleans::addHole(std::move(hole), out);
        return;
    }
    if (!hollow) {
        path.push_back(toUnits(a.center));
        addCircleCorners(a.center, outer, a0, a1, path);
        booleans::addFilled(std::move(path), out);
        booleans::addFilled(capsulePath(s, s, hw + grow), out);
        booleans::addFilled(capsulePath(e, e, hw + grow), out);
        return;
    }
    const double turn = a.clockwise ? -kPi : kPi;
    addCircleCorners(a.center, outer, a0, a1, path);
    addCircleCorners(e, hw + grow, a1, a1 + turn, path, true);
    addCircleCorners(a.center, inner, a1, a0, path, true);
    addCircleCorners(s, hw + grow, a0 + turn, a0 + 2 * turn, path, true);
    path.pop_back();  // the start cap ends where the outer arc began
    booleans::addFilled(std::move(path), out);
}

// A disc or straight capsule grown by `radius`; clear outlines grown further by the chord error.
void addRounded(const Vec2& a, const Vec2& b, double radius, Polarity polarity, Paths& out) {
    if (!(radius > 0)) return;
    if (polarity == Polarity::clear) radius += kCutChordMM;
    booleans::addFilled(capsulePath(a, b, radius), out);
}

// One copper body as positively oriented polygons.
void bodyPolygons(const CopperBodySet& shapes, const CopperBody& body, Polarity polarity, Paths& out) {
    switch (body.shape) {
    case CopperBody::Shape::capsule:
        addRounded(body.a, body.b, body.radius, polarity, out);
        break;
    case CopperBody::Shape::box: {
        const BBox& b = body.box;
        booleans::addFilled({toUnits({b.minX, b.minY}), toUnits({b.maxX, b.minY}), toUnits({b.maxX, b.maxY}),
                             toUnits({b.minX, b.maxY})},
                            out);
        break;
    }
    case CopperBody::Shape::polygons:
        shapes.forEachContour(body, [&](const Vec2* pts, std::size_t n, const Vec2& offset) {
            Path path;
            for (std::size_t k = 0; k < n; ++k) path.push_back(toUnits(pts[k] + offset));
            booleans::addFilled(std::move(path), out);
        });
        break;
    }
}

// The copper of one object as positively oriented polygons.
void objectPolygons(const PCBObject& o, Paths& out) {
    if (!withinRange(o.bbox)) return;
    const double w = nominalWidth(o);
    if (auto s = o.kind.as<PCBObjectKind::Stroke>()) {
        addRounded(s->start, s->end, w * 0.5, o.polarity, out);
    } else if (auto a = o.kind.as<PCBObjectKind::ArcStroke>()) {
        if (w > 0) addArcStroke(*a, w * 0.5, o.polarity, out);
    } else if (auto g = o.kind.as<PCBObjectKind::Region>()) {
        for (const Contour& c : g->contours) {
            Path path;
            for (const Vec2& p : c) path.push_back(toUnits(p));
            booleans::addFilled(std::move(path), out);
        }
    } else if (auto f = o.kind.as<PCBObjectKind::Flash>()) {
        CopperBodySet shapes;
        std::vector<CopperBody> bodies;
        shapes.flashBodies(f->at, o.apertureShape, bodies);
        for (const CopperBody& body : bodies) bodyPolygons(shapes, body, o.polarity, out);
    }
}

// The part of a closed path on one side of the vertical line at x (Sutherland–Hodgman). A concave
// path may come out with edges doubling back along the line; they enclose nothing.
Path clipToSide(const Path& in, Coord x, bool keepRight) {
    Path out;
    if (in.empty()) return out;
    const auto inside = [&](const Point& p) { return keepRight ? p.X >= x : p.X <= x; };
    for (std::size_t i = 0, prev = in.size() - 1; i < in.size(); prev = i++) {
        const Point& a = in[prev];
        const Point& b = in[i];
        if (inside(a) != inside(b)) {
            const double t = static_cast<double>(x - a.X) / static_cast<double>(b.X - a.X);
            out.emplace_back(x, a.Y + static_cast<Coord>(std::llround(t * static_cast<double>(b.Y - a.Y))));
        }
        if (inside(b)) out.push_back(b);
    }
    return out;
}

// A vertical band of the board in Clipper units, or the whole plane. Neighbouring columns share
// their bounds; the edges a cut leaves along them are not copper edges and never become pieces
// (see Seams), so the copper of the columns together is the copper of one uncut polygon.
struct Column {
    Coord x0 = std::numeric_limits<Coord>::lowest();
    Coord x1 = std::numeric_limits<Coord>::max();

    bool whole() const { return x0 == Column{}.x0 && x1 == Column{}.x1; }
    // The part of a path within `margin` of the column; an open side cuts nothing.
    Path clipWithMargin(const Path& p, Coord margin) const {
        Path out = x0 == Column{}.x0 ? p : clipToSide(p, x0 - margin, true);
        return x1 == Column{}.x1 ? out : clipToSide(out, x1 + margin, false);
    }
    Seams seams(const BBox& polygonBox) const {
        Seams s;
        if (x0 != Column{}.x0) s.left = toMM({x0, 0}).x;
        if (x1 != Column{}.x1) s.right = toMM({x1, 0}).x;
        s.polygonBox = polygonBox;
        return s;
    }
};

// An axis-aligned box in Clipper units.
struct IntBox {
    Coord minX = 0, minY = 0, maxX = -1, maxY = -1;
};

IntBox boxOf(const Paths& paths) {
    IntBox b{std::numeric_limits<Coord>::max(), std::numeric_limits<Coord>::max(), std::numeric_limits<Coord>::lowest(),
             std::numeric_limits<Coord>::lowest()};
    for (const Path& p : paths)
        for (const Point& q : p) {
            b.minX = std::min(b.minX, q.X);
            b.maxX = std::max(b.maxX, q.X);
            b.minY = std::min(b.minY, q.Y);
            b.maxY = std::max(b.maxY, q.Y);
        }
    return b;
}

Paths clipToColumn(const Paths& paths, const Column& column) {
    if (column.whole()) return paths;
    Paths kept;
    for (const Path& p : paths) {
        if (Path c = column.clipWithMargin(p, 0); c.size() >= 3) kept.push_back(std::move(c));
    }
    return kept;
}

// The polygons of one clear object with their extent.
struct ClearShape {
    Paths paths;
    IntBox box;
    std::size_t points = 0;

    void measure() {
        box = boxOf(paths);
        for (const Path& p : paths) points += p.size();
    }
    bool meets(const Column& c) const { return points > 0 && box.maxX >= c.x0 && box.minX <= c.x1; }
    bool within(const Column& c) const { return box.minX >= c.x0 && box.maxX <= c.x1; }
};

// For each dark object, the clear objects after it whose boxes meet its box: the ones that may cut
// it, since a clear object removes what was drawn before it.
struct LaterClears {
    std::vector<std::uint32_t> start;  // per object, into `clears`; one more entry at the end
    std::vector<std::uint32_t> clears;
    std::span<const std::uint32_t> of(std::size_t k) const {
        return std::span<const std::uint32_t>(clears.data() + start[k], start[k + 1] - start[k]);
    }
};

// Appends v to the list unless the room it grows into passes the allowance.
template <class T>
bool pushWithin(std::vector<T>& list, const T& v, AllowanceHold& hold) {
    if (list.size() == list.capacity() && !hold.takeFor<T>(std::max<std::size_t>(list.capacity(), 16))) return false;
    list.push_back(v);
    return true;
}

// Nothing when `stop` ended it or the allowance cannot hold the list: dark objects under many large
// clear ones make it quadratic.
std::optional<LaterClears> laterClears(std::span<const PCBObject> objects, const std::function<bool()>& stop,
                                       AllowanceHold& scratch) {
    LaterClears out;
    out.start.assign(objects.size() + 1, 0);
    std::vector<std::uint32_t> clears;
    std::vector<BBox> boxes;
    for (std::size_t k = 0; k < objects.size(); ++k)
        if (objects[k].polarity == Polarity::clear && withinRange(objects[k].bbox) && drawsCopper(objects[k])) {
            clears.push_back(static_cast<std::uint32_t>(k));
            boxes.push_back(objects[k].bbox);
        }
    if (clears.empty()) return out;
    tree::BoxTree t;
    t.build(boxes);
    for (std::size_t k = 0; k < objects.size(); ++k) {
        if ((k & 1023u) == 0 && stop()) return std::nullopt;
        out.start[k] = static_cast<std::uint32_t>(out.clears.size());
        const PCBObject& o = objects[k];
        if (o.polarity == Polarity::clear || !withinRange(o.bbox) || !drawsCopper(o)) continue;
        const auto first = out.clears.size();
        bool full = false;
        const bool stopped = t.near(
            o.bbox, 0.0,
            [&](std::uint32_t c) {
                full = clears[c] > k && !pushWithin(out.clears, clears[c], scratch);
                return full;
            },
            stop);
        if (stopped) return std::nullopt;
        std::sort(out.clears.begin() + static_cast<std::ptrdiff_t>(first), out.clears.end());
    }
    out.start[objects.size()] = static_cast<std::uint32_t>(out.clears.size());
    return out;
}

// A filled area as contours: an outer polygon, then its holes.
using CutArea = booleans::Area;

// The copper an object keeps once the clear objects after it have removed what they cover.
class Cutter {
public:
    // `clearShapes` holds the polygons of each clear object, by object index.
    Cutter(std::span<const PCBObject> objects, const std::vector<ClearShape>& clearShapes)
        : objects_(objects), clearShapes_(clearShapes) {}

    // The filled areas left of object k within `column`; nothing when no clear object reaches
    // its copper, which then stays whole.
    std::optional<std::vector<CutArea>> cut(std::uint32_t k, std::span<const std::uint32_t> clears,
                                            const Column& column, const Paths* polygons) {
        switch (reach(k, clears)) {
        case Reach::none: return std::nullopt;
        case Reach::whole: return std::vector<CutArea>{};
        case Reach::partly: break;
        }
        Paths copper;
        if (polygons)
            copper = clipToColumn(*polygons, column);
        else
            objectPolygons(objects_[k], copper);
        booleans::Difference cut;
        cut.addSubject(copper);
        for (std::uint32_t clear : clears) {
            const ClearShape& shape = clearShapes_[clear];
            if (!shape.meets(column)) continue;
            if (shape.within(column)) {
                cut.addClip(shape.paths);
                continue;
            }
            for (const Path& p : shape.paths)
                if (Path part = column.clipWithMargin(p, kClearMarginUnits); part.size() >= 3) cut.addClip(part);
        }
        std::optional<std::vector<CutArea>> left = cut.areas();
        // Copper the booleans could not cut is not known: the layer goes unexamined rather than short of it.
        if (!left) failed_ = true;
        return left ? std::move(left) : std::vector<CutArea>{};
    }

    // Whether a cut failed, which leaves the layer unexamined.
    bool failed() const { return failed_; }

private:
    // Bodies of strokes and flashes; none for other objects, which are then taken as reached.
    bool bodiesOf(const PCBObject& o, std::vector<CopperBody>& out) {
        out.clear();
        if (auto s = o.kind.as<PCBObjectKind::Stroke>()) {
            if (auto body = CopperBodySet::capsule(s->start, s->end, nominalWidth(o))) out.push_back(*body);
        } else if (auto f = o.kind.as<PCBObjectKind::Flash>()) {
            shapes_.flashBodies(f->at, o.apertureShape, out);
        } else {
            return false;
        }
        return !out.empty();
    }

    // How far clear objects reach into the object's copper: not at all (boxes meeting is not
    // enough), over all of it (a via under a larger clearance), or partly.
    enum class Reach { none, whole, partly };
    Reach reach(std::uint32_t k, std::span<const std::uint32_t> clears) {
        if (!bodiesOf(objects_[k], dark_)) return Reach::partly;
        covered_.assign(dark_.size(), 0);
        bool met = false;
        for (std::uint32_t clear : clears) {
            auto [it, fresh] = clearBodies_.try_emplace(clear);
            if (fresh) it->second.known = bodiesOf(objects_[clear], it->second.bodies);
            if (!it->second.known) return Reach::partly;
            for (std::size_t d = 0; d < dark_.size(); ++d)
                for (const CopperBody& c : it->second.bodies) {
                    if (shapes_.gap(dark_[d], c, kTouchMM).gap > 0) continue;
                    met = true;
                    covered_[d] = covered_[d] || covers(c, dark_[d]);
                }
        }
        if (!met) return Reach::none;
        return std::all_of(covered_.begin(), covered_.end(), [](std::uint8_t c) { return c != 0; }) ? Reach::whole
                                                                                                    : Reach::partly;
    }

    // Whether convex clear copper holds all of a capsule or box: every end disc or corner inside it.
    static bool covers(const CopperBody& clear, const CopperBody& dark) {
        using S = CopperBody::Shape;
        auto holdsDisc = [&](const Vec2& p, double r) {
            if (clear.shape == S::capsule)
                return closestPointsSegSeg(p, p, clear.a, clear.b).distance + r <= clear.radius;
            const BBox& b = clear.box;
            return clear.shape == S::box && p.x - r >= b.minX && p.x + r <= b.maxX && p.y - r >= b.minY && p.y + r <= b.maxY;
        };
        if (dark.shape == S::capsule) return holdsDisc(dark.a, dark.radius) && holdsDisc(dark.b, dark.radius);
        if (dark.shape != S::box) return false;
        const BBox& b = dark.box;
        return holdsDisc({b.minX, b.minY}, 0) && holdsDisc({b.maxX, b.minY}, 0) && holdsDisc({b.maxX, b.maxY}, 0) &&
               holdsDisc({b.minX, b.maxY}, 0);
    }

    struct ClearBodies {
        bool known = false;
        std::vector<CopperBody> bodies;
    };
    std::span<const PCBObject> objects_;
    const std::vector<ClearShape>& clearShapes_;
    CopperBodySet shapes_;
    std::vector<CopperBody> dark_;
    std::vector<std::uint8_t> covered_;
    std::unordered_map<std::uint32_t, ClearBodies> clearBodies_;
    bool failed_ = false;
};

// One cut to make: object reachable[slot], within one column. The columns of one object share its
// polygons, made once.
struct CutJob {
    std::uint32_t slot = 0;
    Column column;
    std::shared_ptr<const Paths> copper;
};

// The points of an object's outline where they can be many: a region's.
std::size_t outlinePoints(const PCBObject& o) {
    const auto g = o.kind.as<PCBObjectKind::Region>();
    return g ? pointCount(g->contours) : 0;
}

// The corners' x positions of an object's copper and of the clear objects that may cut it, sorted
// and without repeats.
std::vector<Coord> cornersX(const Paths& copper, std::span<const std::uint32_t> clears,
                            const std::vector<ClearShape>& clearShapes) {
    std::vector<Coord> xs;
    auto add = [&](const Paths& paths) {
        for (const Path& p : paths)
            for (const Point& q : p) xs.push_back(q.X);
    };
    add(copper);
    for (std::uint32_t c : clears) add(clearShapes[c].paths);
    std::sort(xs.begin(), xs.end());
    xs.erase(std::unique(xs.begin(), xs.end()), xs.end());
    return xs;
}

// The first x at or after `x` that is no corner's.
Coord offCorners(Coord x, const std::vector<Coord>& corners) {
    for (auto it = std::lower_bound(corners.begin(), corners.end(), x); it != corners.end() && *it == x; ++it) ++x;
    return x;
}

// Columns of about equal width over the object's box, open at both ends so that no copper is
// lost to rounding of the box, their inner bounds moved off the corners of the polygons cut.
void addColumns(std::uint32_t slot, const BBox& box, std::size_t columns, const std::vector<Coord>& corners,
                const std::shared_ptr<const Paths>& copper, std::vector<CutJob>& jobs) {
    Column column;
    for (std::size_t c = 0; c + 1 < columns; ++c) {
        const double at = box.minX + box.width() * static_cast<double>(c + 1) / static_cast<double>(columns);
        const Coord x = offCorners(toUnits({at, 0}).X, corners);
        if (column.x0 != Column{}.x0 && x <= column.x0) continue;  // a box too narrow for so many
        column.x1 = x;
        jobs.push_back(CutJob{slot, column, copper});
        column.x0 = x;
    }
    column.x1 = Column{}.x1;
    jobs.push_back(CutJob{slot, column, copper});
}

// The cuts of the reachable objects in slot order, a large one as columns; nothing when one is
// too large to cut.
std::optional<std::vector<CutJob>> cutJobs(std::span<const PCBObject> objects, std::span<const std::uint32_t> reachable,
                                           const LaterClears& later, const std::vector<ClearShape>& clearShapes) {
    std::vector<CutJob> jobs;
    jobs.reserve(reachable.size());
    for (std::uint32_t slot = 0; slot < reachable.size(); ++slot) {
        const std::uint32_t k = reachable[slot];
        std::size_t points = outlinePoints(objects[k]);
        for (std::uint32_t c : later.of(k)) points += clearShapes[c].points;
        if (points > kMaxCutPoints) return std::nullopt;
        const std::size_t columns = std::min(points / kPointsPerCutColumn + 1, kMaxCutColumns);
        if (columns == 1) {
            jobs.push_back(CutJob{slot, Column{}});
            continue;
        }
        auto copper = std::make_shared<Paths>();
        objectPolygons(objects[k], *copper);
        addColumns(slot, objects[k].bbox, columns, cornersX(*copper, later.of(k), clearShapes), copper, jobs);
    }
    return jobs;
}

// ---- islands ----------------------------------------------------------------------------------

bool buildGrid(LayerCopper& out, const std::function<bool()>& stop, MemoryAllowance* allowance) {
    const std::size_t n = out.pieces.size();
    std::vector<grid::CellRange> ranges(n);
    for (std::size_t i = 0; i < n; ++i) ranges[i] = grid::rangeOf(out.pieces[i].box(), out.cell);
    return out.grid.build(ranges, out.oversized, stop, allowance);
}

// Work of one layer shared out to the pool: blocks of this many pieces or areas, dealt round.
constexpr std::uint32_t kPiecesPerBlock = 1024;

// Calls body(scratch, first, end) for the blocks of [0, n) on the pool, each worker with its own
// scratch from makeScratch(); false when `stop` ended it.
template <class MakeScratch, class Body>
bool forBlocks(std::uint32_t n, std::uint32_t perBlock, const std::function<bool()>& stop, MakeScratch&& makeScratch,
               Body&& body) {
    const std::uint32_t blocks = (n + perBlock - 1) / perBlock;
    std::atomic<std::uint32_t> next{0};
    std::atomic<bool> stopped{false};
    parallelFor(
        std::min<std::uint32_t>(blocks, defaultWorkerCount()),
        [&](std::size_t) {
            auto scratch = makeScratch();
            for (std::uint32_t b; (b = next.fetch_add(1)) < blocks;) {
                if (stopped.load(std::memory_order_relaxed) || stop()) {
                    stopped = true;
                    return;
                }
                const std::uint32_t first = b * perBlock;
                if (!body(scratch, first, std::min(n, first + perBlock))) stopped = true;
            }
        },
        defaultWorkerCount());
    return !stopped;
}

// Pieces that touch or overlap are one conductor. Blocks of pieces are searched on the pool, each
// pair that may still join measured once.
bool joinTouching(LayerCopper& out, const std::vector<std::uint8_t>& joinsPrevious, Islands& islands,
                  const std::function<bool()>& stop) {
    const auto n = static_cast<std::uint32_t>(out.pieces.size());
    // The pieces of one chain (an arc's chords, an area's edges) are joined already and numbered
    // one after another, so a neighbour is skipped by its number alone: most neighbours of an
    // area's edge are its other edges.
    std::vector<std::uint32_t> chainEnd(n);
    for (std::uint32_t i = n; i-- > 0;) chainEnd[i] = i + 1 < n && joinsPrevious[i + 1] ? chainEnd[i + 1] : i + 1;
    for (std::uint32_t i = 1; i < n; ++i)
        if (joinsPrevious[i]) islands.unite(i - 1, i);
    auto markers = [n] { return std::vector<std::int64_t>(n, -1); };
    return forBlocks(n, kPiecesPerBlock, stop, markers, [&](std::vector<std::int64_t>& marker, std::uint32_t first, std::uint32_t end) {
        grid::Poll poll;
        for (std::uint32_t i = first; i < end; ++i) {
            const Piece& a = out.pieces[i];
            const std::uint32_t chain = chainEnd[i];
            const bool stopped = forEachLaterNeighbour(
                out, i, windowOf(out, i, kTouchMM), marker,
                [&](std::uint32_t j) {
                    const Piece& b = out.pieces[j];
                    if (boxGap(a.box(), b.box()) > kTouchMM || islands.find(i) == islands.find(j)) return false;
                    if (out.bodies.gap(a.body, b.body, 2 * kTouchMM).gap <= kTouchMM) islands.unite(i, j);
                    return false;
                },
                stop, poll, chain);
            if (stopped) return false;
        }
        return true;
    });
}

// Whether piece j touches an edge of the area, all of whose edges are pieces of its own.
bool touchesEdge(const LayerCopper& out, const FilledArea& area, std::uint32_t j, const std::function<bool()>& stop,
                 grid::Poll& poll, bool& stopped) {
    const Piece& p = out.pieces[j];
    bool touches = false;
    stopped = grid::walkWindow(
        out.grid, out.oversized, windowOf(out, j, kTouchMM), static_cast<std::uint32_t>(out.pieces.size()),
        [&](std::uint32_t k) {
            if (k < area.firstPiece || k >= area.endPiece || boxGap(p.box(), out.pieces[k].box()) > kTouchMM) return false;
            touches = out.bodies.gap(p.body, out.pieces[k].body, 2 * kTouchMM).gap <= kTouchMM;
            return touches;
        },
        stop, poll);
    stopped = stopped && !touches;
    return touches;
}

// Copper lying wholly inside a filled area belongs to it, though it touches none of its edges.
// The areas are searched on the pool; what they hold is joined after, area by area.
bool joinEnclosed(LayerCopper& out, Islands& islands, const std::function<bool()>& stop) {
    const auto n = static_cast<std::uint32_t>(out.pieces.size());
    const auto areas = static_cast<std::uint32_t>(out.areas.size());
    struct Held {
        std::uint32_t piece = 0;
        bool interior = false;
        bool otherNet = false;
    };
    std::vector<std::vector<Held>> held(areas);
    auto markers = [n] { return std::vector<std::int64_t>(n, -1); };
    const bool done = forBlocks(areas, 1, stop, markers, [&](std::vector<std::int64_t>& marker, std::uint32_t a, std::uint32_t) {
        const FilledArea& area = out.areas[a];
        const std::int32_t areaNet = out.pieces[area.firstPiece].net;
        const AreaTest test(out, area);
        bool stopped = false;
        grid::Poll poll;
        auto consider = [&](std::uint32_t j) {
            if (marker[j] == static_cast<std::int64_t>(a)) return false;
            marker[j] = static_cast<std::int64_t>(a);
            if (j >= area.firstPiece && j < area.endPiece) return false;
            const BBox& b = out.pieces[j].box();
            const BBox& e = area.enclosing;
            if (b.minX < e.minX || b.maxX > e.maxX || b.minY < e.minY || b.maxY > e.maxY) return false;
            const Vec2 point = pointOf(out, out.pieces[j]);
            if (poll.advance(test.cost(point) / kAreaEdgesPerStep, stop)) {
                stopped = true;
                return true;
            }
            if (!test.contains(point)) return false;
            const std::int32_t net = out.pieces[j].net;
            const bool otherNet = net >= 0 && areaNet >= 0 && net != areaNet;
            // A piece of its own net, where the area has none, keeps its own pairs.
            const bool interior = (net < 0 || net == areaNet) && !touchesEdge(out, area, j, stop, poll, stopped);
            held[a].push_back(Held{j, interior, otherNet});
            return stopped;
        };
        return !grid::walkWindow(out.grid, out.oversized, grid::rangeOf(area.box, out.cell), n, consider, stop, poll);
    });
    out.interior.assign(n, 0);
    out.enclosedShorts.clear();
    for (std::uint32_t a = 0; a < areas; ++a)
        for (const Held& h : held[a]) {
            islands.unite(h.piece, out.areas[a].firstPiece);
            if (h.interior) out.interior[h.piece] = 1;
            if (h.otherNet) out.enclosedShorts.emplace_back(h.piece, out.areas[a].firstPiece);
        }
    return done;
}

void numberIslands(LayerCopper& out, Islands& islands) {
    const auto n = static_cast<std::uint32_t>(out.pieces.size());
    std::vector<std::uint32_t> idOfRoot(n, UINT32_MAX);
    out.island.resize(n);
    out.islandCount = 0;
    out.islandNet.clear();
    constexpr std::int32_t kUnset = -2;
    for (std::uint32_t i = 0; i < n; ++i) {
        const std::uint32_t root = islands.find(i);
        if (idOfRoot[root] == UINT32_MAX) {
            idOfRoot[root] = out.islandCount++;
            out.islandNet.push_back(kUnset);
        }
        const std::uint32_t id = idOfRoot[root];
        out.island[i] = id;
        const std::int32_t net = out.pieces[i].net;
        std::int32_t& known = out.islandNet[id];
        if (net < 0 || known == net) continue;
        known = known == kUnset ? net : -1;
    }
    for (auto& net : out.islandNet)
        if (net == kUnset) net = -1;
}

// What each piece costs from its making to the end of the layer's search: the piece, its chain and
// interior flags, its grid range and entry flag, its island links and number, its chain's end, a
// last-met marker on every worker, and its box and place in the closest-pair tree.
std::size_t bytesPerPiece() {
    return sizeof(Piece) + 3 * sizeof(std::uint8_t) + sizeof(grid::CellRange) + 5 * sizeof(std::uint32_t) +
           (defaultWorkerCount() + 1) * sizeof(std::int64_t) + 2 * sizeof(BBox) + 2 * sizeof(std::uint32_t);
}

// What the builder will make, so that the piece list is allocated once and the layer's memory is
// known before it is spent: the pieces (the edges of large areas, the chords of arcs, the bodies of
// flashes, one piece for anything else) and, in `storage`, the bytes of the contours and points kept
// for them beyond what the cuts left, which is taken already. Nothing when `stop` ended it: stray arcs
// of kilometres take thousands of chords each.
std::optional<std::size_t> expectedPieces(std::span<const PCBObject> objects, std::span<const std::uint32_t> reachable,
                                          std::span<const CutJob> jobs,
                                          const std::vector<std::optional<std::vector<CutArea>>>& cuts, double cell,
                                          std::size_t& storage, const std::function<bool()>& stop) {
    std::vector<std::uint8_t> cut(objects.size(), 0);
    std::size_t n = 0;
    std::size_t extra = 0;
    for (std::size_t j = 0; j < jobs.size(); ++j) {
        if (!cuts[j]) continue;
        cut[reachable[jobs[j].slot]] = 1;
        const bool split = (j > 0 && jobs[j - 1].slot == jobs[j].slot) || (j + 1 < jobs.size() && jobs[j + 1].slot == jobs[j].slot);
        for (const CutArea& area : *cuts[j]) n += areaPieces(area, split, cell, extra);
    }
    std::vector<Vec2> points;
    struct ShapeCost {
        std::size_t bodies = 0, bytes = 0;
    };
    std::unordered_map<const ApertureShape*, ShapeCost> costOfShape;
    storage = 0;
    constexpr std::size_t kArcPointsPerPoll = 65536;
    std::size_t sincePoll = 0;
    for (std::size_t k = 0; k < objects.size(); ++k) {
        const PCBObject& o = objects[k];
        if (o.polarity == Polarity::clear || cut[k] || !drawsCopper(o)) continue;
        if (auto g = o.kind.as<PCBObjectKind::Region>()) {
            for (const Contour& c : g->contours) {
                n += isWhole(c) ? 1 : c.size();
                if (!isWhole(c)) extra += edgeExtra(c, cell);
                storage += CopperBodySet::polygonStorageBytes(c.size()) + sizeof(Contour) + sizeof(FilledArea);
            }
        } else if (auto s = o.kind.as<PCBObjectKind::Stroke>()) {
            n += 1;
            extra += chainExtra(s->start, s->end, cell);
        } else if (auto a = o.kind.as<PCBObjectKind::ArcStroke>()) {
            if (!a->start.isFinite() || !a->end.isFinite() || !a->center.isFinite()) continue;
            arcPoints(*a, points);
            n += points.size() - 1;
            for (std::size_t i = 0; i + 1 < points.size(); ++i) extra += chainExtra(points[i], points[i + 1], cell);
            sincePoll += points.size();
            if (sincePoll >= kArcPointsPerPoll) {
                sincePoll = 0;
                if (stop()) return std::nullopt;
            }
        } else if (o.kind.as<PCBObjectKind::Flash>()) {
            auto [it, fresh] = costOfShape.try_emplace(o.apertureShape.get());
            if (fresh)
                it->second = ShapeCost{CopperBodySet::flashBodyCount(o.apertureShape),
                                       CopperBodySet::flashStorageBytes(o.apertureShape)};
            n += it->second.bodies;
            storage += it->second.bytes;
        } else {
            n += 1;
        }
    }
    return n + std::min(extra, kChainBudget);
}

// The polygons of every clear object, by object index; none when nothing is to be cut. Nothing when
// `stop` ended it or the allowance cannot hold the polygons.
std::optional<std::vector<ClearShape>> clearShapesOf(std::span<const PCBObject> objects, bool needed,
                                                     const std::function<bool()>& stop, AllowanceHold& scratch) {
    std::vector<ClearShape> shapes(needed ? objects.size() : 0);
    std::atomic<bool> ended{false};
    std::vector<std::uint32_t> clears;
    for (std::size_t k = 0; k < shapes.size(); ++k)
        if (objects[k].polarity == Polarity::clear && drawsCopper(objects[k])) clears.push_back(static_cast<std::uint32_t>(k));
    const std::size_t chunks = std::min<std::size_t>(clears.size() / kObjectsPerCutChunk + 1, kMaxCutChunks);
    parallelFor(
        chunks,
        [&](std::size_t chunk) {
            for (std::size_t i = chunk; i < clears.size(); i += chunks) {
                if (ended.load(std::memory_order_relaxed) || ((i / chunks) % 64 == 0 && stop())) {
                    ended = true;
                    return;
                }
                ClearShape& shape = shapes[clears[i]];
                objectPolygons(objects[clears[i]], shape.paths);
                shape.measure();
                if (!scratch.takeFor<Point>(shape.points)) ended = true;
            }
        },
        defaultWorkerCount());
    if (ended) return std::nullopt;
    return shapes;
}

// What the cut areas keep: their points, which become the layer's contours.
std::size_t pointsOf(const std::vector<CutArea>& areas) {
    std::size_t n = 0;
    for (const CutArea& a : areas) n += pointCount(a);
    return n;
}

// Makes every cut on the pool; false when `stop` ended it or a cut failed. Columns of one object are
// neighbours in `jobs`, so taking every chunks-th job spreads them over the chunks.

bool cutAll(std::span<const PCBObject> objects, std::span<const std::uint32_t> reachable, const LaterClears& later,
            const std::vector<ClearShape>& clearShapes, std::span<const CutJob> jobs,
            std::vector<std::optional<std::vector<CutArea>>>& cuts, const std::function<bool()>& stop,
            AllowanceHold& kept) {
    const std::size_t columnJobs = jobs.size() - reachable.size();
    const std::size_t chunks =
        std::min({kMaxCutChunks, jobs.size() / kObjectsPerCutChunk + 1 + columnJobs, jobs.size()});
    std::atomic<bool> stopped{false};
    parallelFor(
        chunks,
        [&](std::size_t chunk) {
            Cutter cutter(objects, clearShapes);
            for (std::size_t i = chunk; i < jobs.size(); i += chunks) {
                // A boolean cannot be stopped once started: the clock is read before each.
                if (stopped.load(std::memory_order_relaxed) || stop()) {
                    stopped = true;
                    return;
                }
                const std::uint32_t k = reachable[jobs[i].slot];
                cuts[i] = cutter.cut(k, later.of(k), jobs[i].column, jobs[i].copper.get());
                if (cutter.failed() || (cuts[i] && !kept.takeFor<Vec2>(pointsOf(*cuts[i])))) stopped = true;
            }
        },
        defaultWorkerCount());
    return !stopped;
}

// The dark copper in object order: what the cuts left of reachable objects (every column of
// one), the other objects whole.
bool addCopper(std::span<const PCBObject> objects, NetTable& nets, std::span<const std::uint32_t> reachable,
               std::span<const CutJob> jobs, std::vector<std::optional<std::vector<CutArea>>>& cuts, Builder& builder,
               const std::function<bool()>& stop) {
    std::size_t slot = 0;
    std::size_t job = 0;
    for (std::size_t k = 0; k < objects.size(); ++k) {
        if ((k & 1023u) == 0 && stop()) return false;
        if (objects[k].polarity == Polarity::clear) continue;
        const auto src = static_cast<std::uint32_t>(k);
        if (slot >= reachable.size() || reachable[slot] != src) {
            builder.addObject(src);
            if (builder.stopped()) return false;
            continue;
        }
        std::size_t end = job;
        while (end < jobs.size() && jobs[end].slot == slot) ++end;
        // Whether clear objects reach the copper does not depend on the column.
        if (cuts[job]) {
            const std::int32_t net = nets.intern(objects[k].net());
            const bool split = end - job > 1;
            for (std::size_t j = job; j < end; ++j) {
                const Seams seams = jobs[j].column.seams(objects[k].bbox);
                for (CutArea& area : *cuts[j]) builder.addArea(std::move(area), src, net, split ? &seams : nullptr);
            }
        } else {
            builder.addObject(src);
        }
        if (builder.stopped()) return false;
        job = end;
        ++slot;
    }
    return true;
}

} // namespace

// ---- public -----------------------------------------------------------------------------------

std::int32_t NetTable::intern(const SharedText& net) {
    if (!net || net->empty() || *net == "N/C") return -1;
    return ids_.try_emplace(*net, static_cast<std::int32_t>(ids_.size())).first->second;
}

void LayerCopper::clear() {
    bodies.clear();
    pieces.clear();
    contours.clear();
    areas.clear();
    island.clear();
    islandNet.clear();
    islandCount = 0;
    oversized.clear();
    interior.clear();
    enclosedShorts.clear();
    hold.release();
    tooLarge = false;
}

bool LayerCopper::connected(std::uint32_t i, std::uint32_t j) const {
    const std::uint32_t a = island[i], b = island[j];
    return a == b || (islandNet[a] >= 0 && islandNet[a] == islandNet[b]);
}

bool LayerCopper::mayViolate(std::uint32_t i, std::uint32_t j) const {
    const std::int32_t a = pieces[i].net, b = pieces[j].net;
    if (a >= 0 && b >= 0) return a != b;
    return !connected(i, j);
}

grid::CellRange windowOf(const LayerCopper& layer, std::uint32_t i, double reach) {
    return grid::rangeOf(layer.pieces[i].box().outset(reach), layer.cell);
}

namespace {

bool joinAll(LayerCopper& out, const std::vector<std::uint8_t>& joinsPrevious, const std::function<bool()>& stop) {
    Islands islands(out.pieces.size());
    if (!joinTouching(out, joinsPrevious, islands, stop) || !joinEnclosed(out, islands, stop)) return false;
    numberIslands(out, islands);
    return true;
}

bool buildCopper(std::span<const PCBObject> objects, NetTable& nets, LayerCopper& out, const std::function<bool()>& stop,
                 MemoryAllowance* allowance) {
    // What only the cutting needs, given back once the copper is made.
    AllowanceHold scratch = allowance ? AllowanceHold(*allowance) : AllowanceHold();
    const std::optional<LaterClears> later = laterClears(objects, stop, scratch);
    if (!later) return false;
    std::vector<std::uint32_t> reachable;
    for (std::size_t k = 0; k < objects.size(); ++k)
        if (objects[k].polarity != Polarity::clear && !later->of(k).empty()) reachable.push_back(static_cast<std::uint32_t>(k));
    const std::optional<std::vector<ClearShape>> clearShapes = clearShapesOf(objects, !reachable.empty(), stop, scratch);
    if (!clearShapes || stop()) return false;
    const std::optional<std::vector<CutJob>> jobs = cutJobs(objects, reachable, *later, *clearShapes);
    if (!jobs) return false;
    std::vector<std::optional<std::vector<CutArea>>> cuts(jobs->size());
    if (!cutAll(objects, reachable, *later, *clearShapes, *jobs, cuts, stop, out.hold)) return false;
    std::size_t storage = 0;
    const std::optional<std::size_t> pieces = expectedPieces(objects, reachable, *jobs, cuts, out.cell, storage, stop);
    // Pieces are numbered in 32 bits, and what they will cost is taken before any is made.
    if (!pieces || *pieces > UINT32_MAX || !out.hold.take(storage) || !out.hold.takeFor(*pieces, bytesPerPiece()))
        return false;
    Builder builder(objects, nets, out, stop);
    builder.reserve(*pieces);
    return addCopper(objects, nets, reachable, *jobs, cuts, builder, stop) && buildGrid(out, stop, allowance) &&
           joinAll(out, builder.joinsPrevious(), stop);
}

} // namespace

bool buildLayerCopper(std::span<const PCBObject> objects, double cell, NetTable& nets, LayerCopper& out,
                      const std::function<bool()>& stop, MemoryAllowance* allowance) {
    out.clear();
    out.cell = cell;
    out.hold = allowance ? AllowanceHold(*allowance) : AllowanceHold();
    if (buildCopper(objects, nets, out, stop, allowance)) return true;
    out.tooLarge = !stop();
    return false;
}

} // namespace corvane::copper
