#include "CopperIslands.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <numeric>
#include <unordered_map>

#include <polyclipping/clipper.hpp>

#include "model/GeometryEngine.hpp"
#include "model/ParallelFor.hpp"

namespace corvane::copper {

namespace {

namespace cl = ClipperLib;

// Polygon booleans work on integers: one unit is one nanometre.
constexpr double kUnitsPerMM = 1e6;
// Coordinates beyond a kilometre are stray data, not copper the booleans could hold.
constexpr double kLargestMM = 1e6;
// Filled areas with more edges than this get a row index for their inside test.
constexpr std::size_t kIndexedAreaEdges = 64;
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

double nominalWidth(const PCBObject& o) { return o.apertureShape ? o.apertureShape->strokeNominalWidth() : 0.0; }

GeometryEngine arcSampler() {
    GeometryEngine g;
    g.arcSegmentDegrees = 10.0;
    g.arcChordToleranceMM = kArcChordMM;
    return g;
}

// Start, then the chord corners of an arc within kArcChordMM of it.
void arcPoints(const GeometryEngine& sampler, const PCBObjectKind::ArcStroke& a, std::vector<Vec2>& out) {
    out.clear();
    out.push_back(a.start);
    sampler.sampleArc(a.start, a.end, a.center, a.clockwise, out);
}

bool finite(const Vec2& p) { return std::isfinite(p.x) && std::isfinite(p.y); }

// ---- union-find -------------------------------------------------------------------------------

class Islands {
public:
    explicit Islands(std::size_t n) : parent_(n) { std::iota(parent_.begin(), parent_.end(), 0u); }
    std::uint32_t find(std::uint32_t i) {
        std::uint32_t root = i;
        while (parent_[root] != root) root = parent_[root];
        while (parent_[i] != root) {
            const std::uint32_t next = parent_[i];
            parent_[i] = root;
            i = next;
        }
        return root;
    }
    void unite(std::uint32_t a, std::uint32_t b) {
        a = find(a);
        b = find(b);
        if (a != b) parent_[std::max(a, b)] = std::min(a, b);
    }

private:
    std::vector<std::uint32_t> parent_;
};

// ---- filled areas -----------------------------------------------------------------------------

// Even-odd inside test over several contours, with the edges sorted into rows for large areas.
class AreaTest {
public:
    AreaTest(const LayerCopper& layer, const FilledArea& area) : layer_(layer), area_(area) {
        std::size_t edges = 0;
        for (std::uint32_t c = 0; c < area.contourCount; ++c) edges += layer.contours[area.firstContour + c].size();
        if (edges <= kIndexedAreaEdges || !(area.box.height() > 0)) return;
        rows_ = std::min<std::size_t>(edges / 8 + 1, 4096);
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

private:
    struct Edge {
        Vec2 a, b;
    };
    std::size_t rowOf(double y) const {
        const double q = std::floor((y - area_.box.minY) / rowHeight_);
        if (!(q > 0)) return 0;
        return std::min(static_cast<std::size_t>(q), rows_ - 1);
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

// The pieces an area gives: one, or one per edge.
std::size_t areaPieces(const std::vector<Contour>& contours) { return isWhole(contours) ? 1 : pointCount(contours); }

class Builder {
public:
    Builder(std::span<const PCBObject> objects, NetTable& nets, LayerCopper& out)
        : objects_(objects), nets_(nets), out_(out), sampler_(arcSampler()) {}

    void addObject(std::uint32_t src) {
        const PCBObject& o = objects_[src];
        const std::int32_t net = nets_.intern(o.net);
        if (auto s = o.kind.as<PCBObjectKind::Stroke>()) {
            addPiece(CopperBodySet::capsule(s->start, s->end, nominalWidth(o)), src, net);
        } else if (auto a = o.kind.as<PCBObjectKind::ArcStroke>()) {
            if (!finite(a->start) || !finite(a->end) || !finite(a->center)) return;
            arcPoints(sampler_, *a, points_);
            const double w = nominalWidth(o);
            for (std::size_t k = 0; k + 1 < points_.size(); ++k)
                addPiece(CopperBodySet::capsule(points_[k], points_[k + 1], w), src, net, k > 0);
        } else if (auto f = o.kind.as<PCBObjectKind::Flash>()) {
            flashBodies_.clear();
            out_.bodies.flashBodies(f->at, o.apertureShape, flashBodies_);
            for (std::size_t k = 0; k < flashBodies_.size(); ++k) addPiece(flashBodies_[k], src, net, k > 0);
        } else if (auto g = o.kind.as<PCBObjectKind::Region>()) {
            for (const Contour& c : g->contours) addArea({c}, src, net);
        }
    }

    // A filled area: its contours are kept for inside tests, its edges become pieces.
    void addArea(std::vector<Contour> contours, std::uint32_t src, std::int32_t net) {
        if (isWhole(contours)) {
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
            for (const Vec2& p : c) ok = ok && finite(p);
            if (!ok) continue;
            for (std::size_t i = 0; i < c.size(); ++i) {
                area.box.include(c[i]);
                addPiece(CopperBodySet::capsule(c[i], c[(i + 1) % c.size()], 0.0), src, net,
                         out_.pieces.size() > area.firstPiece);
            }
            out_.contours.push_back(std::move(c));
            area.contourCount += 1;
        }
        if (area.contourCount > 0) out_.areas.push_back(area);
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
    void addPiece(const std::optional<CopperBody>& body, std::uint32_t src, std::int32_t net, bool joins = false) {
        if (!body || !grid::isFinite(body->box)) return;
        out_.pieces.push_back(Piece{*body, src, net});
        joinsPrevious_.push_back(joins ? 1 : 0);
    }

    std::span<const PCBObject> objects_;
    NetTable& nets_;
    LayerCopper& out_;
    GeometryEngine sampler_;
    std::vector<Vec2> points_;
    std::vector<CopperBody> flashBodies_;
    std::vector<std::uint8_t> joinsPrevious_;
};

// ---- polarity ---------------------------------------------------------------------------------

cl::IntPoint toInt(const Vec2& p) {
    return cl::IntPoint(static_cast<cl::cInt>(std::llround(p.x * kUnitsPerMM)),
                        static_cast<cl::cInt>(std::llround(p.y * kUnitsPerMM)));
}

Vec2 toMM(const cl::IntPoint& p) {
    return Vec2{static_cast<double>(p.X) / kUnitsPerMM, static_cast<double>(p.Y) / kUnitsPerMM};
}

bool withinRange(const BBox& b) {
    return grid::isFinite(b) && std::fabs(b.minX) < kLargestMM && std::fabs(b.maxX) < kLargestMM &&
           std::fabs(b.minY) < kLargestMM && std::fabs(b.maxY) < kLargestMM;
}

void addPositive(cl::Path path, cl::Paths& out) {
    if (path.size() < 3) return;
    if (!cl::Orientation(path)) cl::ReversePath(path);
    out.push_back(std::move(path));
}

// How round outlines of copper that clear objects cut become polygons. Their corners lie on the
// true outline of dark copper, so the polygon holds a little less copper than it; the outlines of
// clear objects are grown by the chord error, so they remove a little more. Either way a gap can
// only come out wider, by at most twice kCutChordMM, never narrower than it is.
constexpr double kCutChordMM = 0.001;

// A line of points (one point: a disc) grown by `radius` with round ends; clear outlines grown
// further by the chord error.
void addRounded(const std::vector<Vec2>& line, double radius, Polarity polarity, cl::Paths& out) {
    if (!(radius > 0) || line.empty()) return;
    if (polarity == Polarity::clear) radius += kCutChordMM;
    const bool point = std::all_of(line.begin(), line.end(), [&](const Vec2& p) { return p == line.front(); });
    if (point) {
        // Evenly spaced corners all round (the offsetter spaces a lone point's corners unevenly).
        const double step = 2.0 * std::acos(std::max(-1.0, 1.0 - kCutChordMM / radius));
        const int n = std::clamp(static_cast<int>(std::ceil(2.0 * 3.141592653589793 / step)), 8, 4096);
        cl::Path disc;
        for (int k = 0; k < n; ++k) {
            const double t = 2.0 * 3.141592653589793 * k / n;
            disc.push_back(toInt(line.front() + Vec2{radius * std::cos(t), radius * std::sin(t)}));
        }
        addPositive(std::move(disc), out);
        return;
    }
    cl::Path path;
    for (const Vec2& p : line) path.push_back(toInt(p));
    cl::ClipperOffset offset(2.0, kCutChordMM * kUnitsPerMM);
    offset.AddPath(path, cl::jtRound, cl::etOpenRound);
    cl::Paths grown;
    offset.Execute(grown, radius * kUnitsPerMM);
    for (auto& g : grown) addPositive(std::move(g), out);
}

// One copper body as positively oriented polygons.
void bodyPolygons(const CopperBodySet& shapes, const CopperBody& body, Polarity polarity, cl::Paths& out) {
    switch (body.shape) {
    case CopperBody::Shape::capsule:
        addRounded({body.a, body.b}, body.radius, polarity, out);
        break;
    case CopperBody::Shape::box: {
        const BBox& b = body.box;
        addPositive({toInt({b.minX, b.minY}), toInt({b.maxX, b.minY}), toInt({b.maxX, b.maxY}), toInt({b.minX, b.maxY})}, out);
        break;
    }
    case CopperBody::Shape::polygons:
        shapes.forEachContour(body, [&](const Vec2* pts, std::size_t n, const Vec2& offset) {
            cl::Path path;
            for (std::size_t k = 0; k < n; ++k) path.push_back(toInt(pts[k] + offset));
            addPositive(std::move(path), out);
        });
        break;
    }
}

// The copper of one object as positively oriented polygons.
void objectPolygons(const PCBObject& o, const GeometryEngine& sampler, cl::Paths& out) {
    if (!withinRange(o.bbox)) return;
    const double w = nominalWidth(o);
    if (auto s = o.kind.as<PCBObjectKind::Stroke>()) {
        addRounded({s->start, s->end}, w * 0.5, o.polarity, out);
    } else if (auto a = o.kind.as<PCBObjectKind::ArcStroke>()) {
        std::vector<Vec2> pts;
        arcPoints(sampler, *a, pts);
        addRounded(pts, w * 0.5, o.polarity, out);
    } else if (auto g = o.kind.as<PCBObjectKind::Region>()) {
        for (const Contour& c : g->contours) {
            cl::Path path;
            for (const Vec2& p : c) path.push_back(toInt(p));
            addPositive(std::move(path), out);
        }
    } else if (auto f = o.kind.as<PCBObjectKind::Flash>()) {
        CopperBodySet shapes;
        std::vector<CopperBody> bodies;
        shapes.flashBodies(f->at, o.apertureShape, bodies);
        for (const CopperBody& body : bodies) bodyPolygons(shapes, body, o.polarity, out);
    }
}

// A vertical band of the board in Clipper units, or the whole plane. Neighbouring columns share
// their bounds, so the pieces of one area meet at the seams; a seam lies inside the copper and
// can never make a gap narrower.
struct Column {
    cl::cInt x0 = std::numeric_limits<cl::cInt>::lowest();
    cl::cInt x1 = std::numeric_limits<cl::cInt>::max();

    bool whole() const { return x0 == Column{}.x0 && x1 == Column{}.x1; }
};

// The part of a closed path on one side of the vertical line at x (Sutherland–Hodgman).
cl::Path clipToSide(const cl::Path& in, cl::cInt x, bool keepRight) {
    cl::Path out;
    if (in.empty()) return out;
    const auto inside = [&](const cl::IntPoint& p) { return keepRight ? p.X >= x : p.X <= x; };
    for (std::size_t i = 0, prev = in.size() - 1; i < in.size(); prev = i++) {
        const cl::IntPoint& a = in[prev];
        const cl::IntPoint& b = in[i];
        if (inside(a) != inside(b)) {
            const double t = static_cast<double>(x - a.X) / static_cast<double>(b.X - a.X);
            out.emplace_back(x, a.Y + static_cast<cl::cInt>(std::llround(t * static_cast<double>(b.Y - a.Y))));
        }
        if (inside(b)) out.push_back(b);
    }
    return out;
}

void clipToColumn(cl::Paths& paths, const Column& column) {
    if (column.whole()) return;
    cl::Paths kept;
    for (const cl::Path& p : paths) {
        cl::Path c = clipToSide(clipToSide(p, column.x0, true), column.x1, false);
        if (c.size() >= 3) kept.push_back(std::move(c));
    }
    paths = std::move(kept);
}

// The polygons of one clear object with their horizontal extent.
struct ClearShape {
    cl::Paths paths;
    cl::cInt minX = 0;
    cl::cInt maxX = -1;
    std::size_t points = 0;

    void measure() {
        for (const cl::Path& p : paths)
            for (const cl::IntPoint& q : p) {
                minX = points == 0 ? q.X : std::min(minX, q.X);
                maxX = points == 0 ? q.X : std::max(maxX, q.X);
                ++points;
            }
    }
    bool meets(const Column& c) const { return points > 0 && maxX >= c.x0 && minX <= c.x1; }
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

LaterClears laterClears(std::span<const PCBObject> objects, double cell) {
    LaterClears out;
    out.start.assign(objects.size() + 1, 0);
    std::vector<std::uint32_t> clears;
    for (std::size_t k = 0; k < objects.size(); ++k)
        if (objects[k].polarity == Polarity::clear && withinRange(objects[k].bbox))
            clears.push_back(static_cast<std::uint32_t>(k));
    if (clears.empty()) return out;
    std::vector<grid::CellRange> ranges(clears.size());
    for (std::size_t c = 0; c < clears.size(); ++c) ranges[c] = grid::rangeOf(objects[clears[c]].bbox, cell);
    grid::CellGrid cells;
    std::vector<std::uint32_t> oversized;
    cells.build(ranges, oversized, [] { return false; });
    std::vector<std::int64_t> marker(clears.size(), -1);
    for (std::size_t k = 0; k < objects.size(); ++k) {
        out.start[k] = static_cast<std::uint32_t>(out.clears.size());
        const PCBObject& o = objects[k];
        if (o.polarity == Polarity::clear || !withinRange(o.bbox)) continue;
        const auto first = out.clears.size();
        auto consider = [&](std::uint32_t c) {
            if (marker[c] == static_cast<std::int64_t>(k)) return;
            marker[c] = static_cast<std::int64_t>(k);
            if (clears[c] > k && boxGap(o.bbox, objects[clears[c]].bbox) <= 0) out.clears.push_back(clears[c]);
        };
        const grid::CellRange r = grid::rangeOf(o.bbox, cell);
        if (r.cellCount() > grid::kMaxCellsPerItem) {
            for (std::uint32_t c = 0; c < clears.size(); ++c) consider(c);
        } else {
            for (std::int64_t x = r.x0; x <= r.x1; ++x)
                for (std::int64_t y = r.y0; y <= r.y1; ++y)
                    for (std::uint32_t c : cells.items(x, y)) consider(c);
        }
        for (std::uint32_t c : oversized) consider(c);
        std::sort(out.clears.begin() + static_cast<std::ptrdiff_t>(first), out.clears.end());
    }
    out.start[objects.size()] = static_cast<std::uint32_t>(out.clears.size());
    return out;
}

// A filled area as contours: an outer polygon, then its holes.
using CutArea = std::vector<Contour>;

// Each outer polygon with its holes is one filled area; polygons inside holes are areas of their own.
void collectCutAreas(const cl::PolyNode& node, std::vector<CutArea>& out) {
    auto contourOf = [](const cl::Path& path) {
        Contour c;
        c.reserve(path.size());
        for (const cl::IntPoint& p : path) c.push_back(toMM(p));
        return c;
    };
    for (const cl::PolyNode* outer : node.Childs) {
        CutArea area;
        area.push_back(contourOf(outer->Contour));
        for (const cl::PolyNode* hole : outer->Childs) area.push_back(contourOf(hole->Contour));
        out.push_back(std::move(area));
        for (const cl::PolyNode* hole : outer->Childs) collectCutAreas(*hole, out);
    }
}

// The copper an object keeps once the clear objects after it have removed what they cover.
class Cutter {
public:
    // `clearShapes` holds the polygons of each clear object, by object index.
    Cutter(std::span<const PCBObject> objects, const std::vector<ClearShape>& clearShapes)
        : objects_(objects), clearShapes_(clearShapes), sampler_(arcSampler()) {}

    // The filled areas left of object k within `column`; nothing when no clear object reaches
    // its copper, which then stays whole.
    std::optional<std::vector<CutArea>> cut(std::uint32_t k, std::span<const std::uint32_t> clears, const Column& column) {
        if (!reached(k, clears)) return std::nullopt;
        cl::Paths copper;
        objectPolygons(objects_[k], sampler_, copper);
        clipToColumn(copper, column);
        cl::Clipper c;
        c.AddPaths(copper, cl::ptSubject, true);
        for (std::uint32_t clear : clears)
            if (clearShapes_[clear].meets(column)) c.AddPaths(clearShapes_[clear].paths, cl::ptClip, true);
        cl::PolyTree kept;
        c.Execute(cl::ctDifference, kept, cl::pftNonZero, cl::pftNonZero);
        std::vector<CutArea> areas;
        collectCutAreas(kept, areas);
        return areas;
    }

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

    // Whether a clear object's copper meets the object's: boxes meeting is not enough.
    bool reached(std::uint32_t k, std::span<const std::uint32_t> clears) {
        if (!bodiesOf(objects_[k], dark_)) return true;
        for (std::uint32_t clear : clears) {
            auto [it, fresh] = clearBodies_.try_emplace(clear);
            if (fresh) it->second.known = bodiesOf(objects_[clear], it->second.bodies);
            if (!it->second.known) return true;
            for (const CopperBody& d : dark_)
                for (const CopperBody& c : it->second.bodies)
                    if (!(shapes_.gap(d, c).gap > 0)) return true;
        }
        return false;
    }

    struct ClearBodies {
        bool known = false;
        std::vector<CopperBody> bodies;
    };
    std::span<const PCBObject> objects_;
    const std::vector<ClearShape>& clearShapes_;
    GeometryEngine sampler_;
    CopperBodySet shapes_;
    std::vector<CopperBody> dark_;
    std::unordered_map<std::uint32_t, ClearBodies> clearBodies_;
};

// One cut to make: object reachable[slot], within one column.
struct CutJob {
    std::uint32_t slot = 0;
    Column column;
};

// The points of an object's outline where they can be many: a region's.
std::size_t outlinePoints(const PCBObject& o) {
    const auto g = o.kind.as<PCBObjectKind::Region>();
    return g ? pointCount(g->contours) : 0;
}

// The cuts of the reachable objects in slot order, a large one as columns of equal width.
std::vector<CutJob> cutJobs(std::span<const PCBObject> objects, std::span<const std::uint32_t> reachable,
                            const LaterClears& later, const std::vector<ClearShape>& clearShapes) {
    std::vector<CutJob> jobs;
    jobs.reserve(reachable.size());
    for (std::uint32_t slot = 0; slot < reachable.size(); ++slot) {
        const std::uint32_t k = reachable[slot];
        std::size_t points = outlinePoints(objects[k]);
        for (std::uint32_t c : later.of(k)) points += clearShapes[c].points;
        const std::size_t columns = std::min(points / kPointsPerCutColumn + 1, kMaxCutColumns);
        if (columns == 1) {
            jobs.push_back(CutJob{slot, Column{}});
            continue;
        }
        const BBox& box = objects[k].bbox;
        Column column;
        for (std::size_t c = 0; c < columns; ++c) {
            // The outer columns are open to the side, so no copper is lost to rounding of the box.
            column.x0 = c == 0 ? Column{}.x0 : column.x1;
            column.x1 = c + 1 == columns
                            ? Column{}.x1
                            : toInt({box.minX + box.width() * static_cast<double>(c + 1) / static_cast<double>(columns), 0}).X;
            jobs.push_back(CutJob{slot, column});
        }
    }
    return jobs;
}

// ---- islands ----------------------------------------------------------------------------------

bool buildGrid(LayerCopper& out, const std::function<bool()>& stop) {
    const std::size_t n = out.pieces.size();
    std::vector<grid::CellRange> ranges(n);
    for (std::size_t i = 0; i < n; ++i) ranges[i] = grid::rangeOf(out.pieces[i].box(), out.cell);
    if (!out.grid.build(ranges, out.oversized, stop)) return false;
    out.isOversized.assign(n, 0);
    for (std::uint32_t k : out.oversized) out.isOversized[k] = 1;
    return true;
}

// Pieces that touch or overlap are one conductor.
bool joinTouching(LayerCopper& out, const std::vector<std::uint8_t>& joinsPrevious, Islands& islands,
                  const std::function<bool()>& stop) {
    const auto n = static_cast<std::uint32_t>(out.pieces.size());
    for (std::uint32_t i = 1; i < n; ++i)
        if (joinsPrevious[i]) islands.unite(i - 1, i);
    std::vector<std::int64_t> marker(n, -1);
    for (std::uint32_t i = 0; i < n; ++i) {
        if ((i & 1023u) == 0 && stop()) return false;
        const Piece& a = out.pieces[i];
        forEachLaterNeighbour(out, i, windowOf(out, i, kTouchMM), marker, [&](std::uint32_t j) {
            const Piece& b = out.pieces[j];
            if (islands.find(i) == islands.find(j) || boxGap(a.box(), b.box()) > kTouchMM) return false;
            if (out.bodies.gap(a.body, b.body).gap <= kTouchMM) islands.unite(i, j);
            return false;
        });
    }
    return true;
}

// Copper lying wholly inside a filled area belongs to it, though it touches none of its edges.
bool joinEnclosed(LayerCopper& out, Islands& islands, const std::function<bool()>& stop) {
    std::vector<std::int64_t> marker(out.pieces.size(), -1);
    for (std::size_t a = 0; a < out.areas.size(); ++a) {
        if (stop()) return false;
        const FilledArea& area = out.areas[a];
        const AreaTest test(out, area);
        const grid::CellRange r = grid::rangeOf(area.box, out.cell);
        auto consider = [&](std::uint32_t j) {
            if (marker[j] == static_cast<std::int64_t>(a)) return;
            marker[j] = static_cast<std::int64_t>(a);
            if (islands.find(j) == islands.find(area.firstPiece)) return;
            const BBox& b = out.pieces[j].box();
            if (b.minX < area.box.minX || b.maxX > area.box.maxX || b.minY < area.box.minY || b.maxY > area.box.maxY)
                return;
            if (test.contains(pointOf(out, out.pieces[j]))) islands.unite(j, area.firstPiece);
        };
        if (r.cellCount() > grid::kMaxCellsPerItem) {
            for (std::uint32_t j = 0; j < out.pieces.size(); ++j) consider(j);
        } else {
            for (std::int64_t x = r.x0; x <= r.x1; ++x)
                for (std::int64_t y = r.y0; y <= r.y1; ++y)
                    for (std::uint32_t j : out.grid.items(x, y)) consider(j);
            for (std::uint32_t j : out.oversized) consider(j);
        }
    }
    return true;
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

// The pieces the builder will make, so that the piece list is allocated once: the edges of large
// areas, the chords of arcs, the bodies of flashes, one piece for anything else.
std::size_t expectedPieces(std::span<const PCBObject> objects, std::span<const std::uint32_t> reachable,
                           std::span<const CutJob> jobs, const std::vector<std::optional<std::vector<CutArea>>>& cuts) {
    std::vector<std::uint8_t> cut(objects.size(), 0);
    std::size_t n = 0;
    for (std::size_t j = 0; j < jobs.size(); ++j) {
        if (!cuts[j]) continue;
        cut[reachable[jobs[j].slot]] = 1;
        for (const CutArea& area : *cuts[j]) n += areaPieces(area);
    }
    const GeometryEngine sampler = arcSampler();
    std::vector<Vec2> points;
    std::unordered_map<const ApertureShape*, std::size_t> bodiesOfShape;
    for (std::size_t k = 0; k < objects.size(); ++k) {
        const PCBObject& o = objects[k];
        if (o.polarity == Polarity::clear || cut[k]) continue;
        if (auto g = o.kind.as<PCBObjectKind::Region>()) {
            for (const Contour& c : g->contours) n += isWhole(c) ? 1 : c.size();
        } else if (auto a = o.kind.as<PCBObjectKind::ArcStroke>()) {
            if (!finite(a->start) || !finite(a->end) || !finite(a->center)) continue;
            arcPoints(sampler, *a, points);
            n += points.size() - 1;
        } else if (o.kind.as<PCBObjectKind::Flash>()) {
            auto [it, fresh] = bodiesOfShape.try_emplace(o.apertureShape.get());
            if (fresh) it->second = CopperBodySet::flashBodyCount(o.apertureShape);
            n += it->second;
        } else {
            n += 1;
        }
    }
    return n;
}

// The polygons of every clear object, by object index; none when nothing is to be cut.
std::vector<ClearShape> clearShapesOf(std::span<const PCBObject> objects, bool needed) {
    std::vector<ClearShape> shapes(needed ? objects.size() : 0);
    std::vector<std::uint32_t> clears;
    for (std::size_t k = 0; k < shapes.size(); ++k)
        if (objects[k].polarity == Polarity::clear) clears.push_back(static_cast<std::uint32_t>(k));
    const std::size_t chunks = std::min<std::size_t>(clears.size() / kObjectsPerCutChunk + 1, kMaxCutChunks);
    parallelFor(
        chunks,
        [&](std::size_t chunk) {
            const GeometryEngine sampler = arcSampler();
            for (std::size_t i = chunk; i < clears.size(); i += chunks) {
                ClearShape& shape = shapes[clears[i]];
                objectPolygons(objects[clears[i]], sampler, shape.paths);
                shape.measure();
            }
        },
        defaultWorkerCount());
    return shapes;
}

// Makes every cut on the pool. Columns of one object are neighbours in `jobs`, so taking every
// chunks-th job spreads them over the chunks.
bool cutAll(std::span<const PCBObject> objects, std::span<const std::uint32_t> reachable, const LaterClears& later,
            const std::vector<ClearShape>& clearShapes, std::span<const CutJob> jobs,
            std::vector<std::optional<std::vector<CutArea>>>& cuts, const std::function<bool()>& stop) {
    const std::size_t columnJobs = jobs.size() - reachable.size();
    const std::size_t chunks =
        std::min({kMaxCutChunks, jobs.size() / kObjectsPerCutChunk + 1 + columnJobs, jobs.size()});
    std::atomic<bool> stopped{false};
    parallelFor(
        chunks,
        [&](std::size_t chunk) {
            Cutter cutter(objects, clearShapes);
            for (std::size_t i = chunk; i < jobs.size(); i += chunks) {
                if (stopped.load(std::memory_order_relaxed)) return;
                if ((i / chunks) % 64 == 0 && stop()) stopped = true;
                const std::uint32_t k = reachable[jobs[i].slot];
                cuts[i] = cutter.cut(k, later.of(k), jobs[i].column);
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
            continue;
        }
        std::size_t end = job;
        while (end < jobs.size() && jobs[end].slot == slot) ++end;
        // Whether clear objects reach the copper does not depend on the column.
        if (cuts[job]) {
            const std::int32_t net = nets.intern(objects[k].net);
            for (std::size_t j = job; j < end; ++j)
                for (CutArea& area : *cuts[j]) builder.addArea(std::move(area), src, net);
        } else {
            builder.addObject(src);
        }
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
    isOversized.clear();
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

bool buildLayerCopper(std::span<const PCBObject> objects, double cell, NetTable& nets, LayerCopper& out,
                      const std::function<bool()>& stop) {
    out.clear();
    out.cell = cell;
    const LaterClears later = laterClears(objects, cell);
    std::vector<std::uint32_t> reachable;
    for (std::size_t k = 0; k < objects.size(); ++k)
        if (objects[k].polarity != Polarity::clear && !later.of(k).empty()) reachable.push_back(static_cast<std::uint32_t>(k));
    const std::vector<ClearShape> clearShapes = clearShapesOf(objects, !reachable.empty());
    const std::vector<CutJob> jobs = cutJobs(objects, reachable, later, clearShapes);
    std::vector<std::optional<std::vector<CutArea>>> cuts(jobs.size());
    if (!cutAll(objects, reachable, later, clearShapes, jobs, cuts, stop)) return false;
    Builder builder(objects, nets, out);
    builder.reserve(expectedPieces(objects, reachable, jobs, cuts));
    if (!addCopper(objects, nets, reachable, jobs, cuts, builder, stop)) return false;
    if (!buildGrid(out, stop)) return false;
    Islands islands(out.pieces.size());
    if (!joinTouching(out, builder.joinsPrevious(), islands, stop) || !joinEnclosed(out, islands, stop)) return false;
    numberIslands(out, islands);
    return true;
}

} // namespace corvane::copper
