#include "SoftwareRenderer.hpp"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>
#include <new>
#include <span>
#include <unordered_map>
#include <vector>

#include "CoverageRaster.hpp"
#include "LayerDrawOrder.hpp"
#include "model/Angles.hpp"
#include "model/GeometryEngine.hpp"
#include "model/ParallelFor.hpp"

namespace corvane {

namespace {

// Inner copper layers take these in turn, inner 1 the first, so that the layers of a deep stack can be told
// apart; none is near the top (orange), bottom (blue), mask (green), outline (red) or silkscreen (white)
// colours. Every picture of a board (canvas, preview, report) colours its layers from here.
constexpr RGBAColor kInnerCopperPalette[] = {
    {0.80, 0.42, 0.95, 1.0}, {0.20, 0.78, 0.72, 1.0}, {0.95, 0.88, 0.30, 1.0}, {0.96, 0.46, 0.62, 1.0},
    {0.58, 0.85, 0.22, 1.0}, {0.55, 1.00, 0.75, 1.0}, {0.85, 0.75, 0.60, 1.0}, {0.40, 0.90, 1.00, 1.0},
    {0.95, 0.30, 0.85, 1.0}, {0.75, 0.75, 0.10, 1.0}, {1.00, 0.62, 0.50, 1.0}, {0.78, 0.72, 0.98, 1.0},
};

} // namespace

RGBAColor SoftwareRenderer::innerCopperColor(std::int64_t n) {
    constexpr auto count = static_cast<std::int64_t>(std::size(kInnerCopperPalette));
    // Numbers start at 1; anything else still gets a colour of the palette.
    const std::int64_t slot = ((n - 1) % count + count) % count;
    return kInnerCopperPalette[slot];
}

RGBAColor SoftwareRenderer::defaultColor(const LayerType& type) {
    if (const auto* copper = type.as<LayerType::Copper>()) {
        if (copper->side.as<CopperLayerID::Top>()) return {0.95, 0.62, 0.18, 1.0};
        if (copper->side.as<CopperLayerID::Bottom>()) return {0.3, 0.62, 0.95, 1.0};
        if (const auto* inner = copper->side.as<CopperLayerID::Inner>()) return innerCopperColor(inner->number);
        return kInnerCopperPalette[0];
    }
    if (type.as<LayerType::SolderMask>()) return {0.1, 0.65, 0.35, 0.55};
    if (type.as<LayerType::Silkscreen>()) return {0.95, 0.95, 0.95, 0.9};
    if (type.as<LayerType::Paste>()) return {0.85, 0.85, 0.88, 0.8};
    if (type.isOutline()) return {1.0, 0.35, 0.35, 1.0};
    // Holes are drawn light, as review tools draw them: a dark hole vanishes on the dark background, and a hole
    // off the board is a defect that must show.
    if (type.isDrill()) return {0.86, 0.88, 0.91, 1.0};
    return {0.6, 0.6, 0.6, 1.0};
}

namespace {

// Round shapes (discs, round ends) are drawn as polygons whose sides stand at most this far (pixels) off
// the curve, either way: their corners lie a little outside it and the middles of their sides inside.
constexpr double kRoundErrorPx = 0.125;
// A flash or stroke without an aperture shape is drawn this wide (mm).
constexpr double kNoShapeWidthMM = 0.2;
// How far paint reaches past an object's box, in pixels: lines are widened to one pixel.
constexpr double kPaintReachPx = 1.0;
// Bands of the picture are painted side by side; each paints every file in turn, so a band needs no more
// memory than its own rows, whatever the number of files. Two bands per thread across the board keep the
// threads busy even where one half of a board holds all the work; taller bands meet fewer objects twice.
constexpr int kBandsPerWorker = 2;
constexpr int kMinBandRows = 16, kMaxBandRows = 64;
// The objects that make another painting thread worth its start: a small board is painted sooner by one
// thread than by several waiting to be scheduled.
constexpr std::size_t kObjectsPerWorker = 20000;

struct Mapper {
    double s, offX, offY, W, H, minX, minY;
    bool flipX;
    double X(double x) const {
        const double v = offX + s * (x - minX);
        return flipX ? W - v : v;
    }
    double Y(double y) const { return H - offY - s * (y - minY); }
    Vec2 map(const Vec2& p) const { return Vec2{X(p.x), Y(p.y)}; }
};

// cos and sin of i·π/k for i = 0 … 2k (a full turn in 2k steps, or half a turn in k), and how far out the
// corners of such a polygon go so that its sides straddle the circle.
class TurnTable {
public:
    static constexpr int kTabled = 64;
    struct Turn {
        std::span<const Vec2> steps;
        double cornerScale;
    };
    Turn steps(int k) const {
        if (k <= kTabled) return {tables_[k], cornerScales_[k]};
        thread_local std::vector<Vec2> wide;
        wide = make(k);
        return {wide, cornerScale(k)};
    }
    static const TurnTable& shared() {
        static const TurnTable table;
        return table;
    }

private:
    TurnTable() {
        for (int k = 1; k <= kTabled; ++k) {
            tables_[k] = make(k);
            cornerScales_[k] = cornerScale(k);
        }
    }
    static std::vector<Vec2> make(int k) {
        std::vector<Vec2> out;
        out.reserve(static_cast<std::size_t>(2 * k + 1));
        for (int i = 0; i <= 2 * k; ++i) {
            const double a = kPi * i / k;
            out.push_back(Vec2{std::cos(a), std::sin(a)});
        }
        return out;
    }
    // Corners at r·f and side middles at r·f·cos(π/2k) stand equally far outside and inside the circle.
    static double cornerScale(int k) { return 2 / (1 + std::cos(kPi / (2 * k))); }
    std::vector<Vec2> tables_[kTabled + 1];
    double cornerScales_[kTabled + 1] = {};
};

// Steps in half a turn of a circle of radius r (pixels), so that sides straddling it stand no further
// off than kRoundErrorPx: a chord's sagitta may be twice that.
int halfTurnSteps(double r) {
    if (!(r > kRoundErrorPx * 4)) return 2;
    const double steps = std::ceil(kPi / (2 * std::acos(1 - 2 * kRoundErrorPx / r)));
    return static_cast<int>(std::min(steps, 4096.0));
}

// Turns a file's primitives into outlines for the coverage raster. Consecutive primitives that paint
// alike (same colour, or clearing) are painted together when the colour is opaque or the operation
// clears: their union once gives the same pixels as each in turn. Translucent colours are painted one
// by one so overlaps darken as they would primitive by primitive. Every shape that joins others runs the
// same way round, so overlaps add up instead of cancelling; region and macro contours, whose winding is
// the file's, are painted alone.
// Macro outlines as drawn (GeometryEngine::drawnOutline), by the outline they are drawn from. Thinned once per
// file before its bands are painted, so that the painting threads share them and allocate nothing for them.
// Lives within one render, while the package and its shapes stand still.
using DrawnOutlines = std::unordered_map<const std::vector<Contour>*, std::vector<Contour>>;

// A pour's outline is met by every band across its height, and nearly all of its edges lie in other bands.
// Its edges are taken in runs, each with the height it spans, so that a band maps and adds only the runs that
// reach its rows: the edges of the others would have added nothing there.
constexpr std::size_t kEdgesPerRun = 32;
constexpr std::size_t kLongOutlinePoints = 4 * kEdgesPerRun;

struct OutlineRuns {
    BBox box;                                   // of the outline's points
    std::vector<std::pair<double, double>> ys;  // per run of kEdgesPerRun edges: its lowest and highest y
};
using LongOutlines = std::unordered_map<const Contour*, OutlineRuns>;

// The runs of a long outline; nothing when a point is not finite, which the whole outline's path handles.
std::optional<OutlineRuns> outlineRuns(const Contour& outline) {
    OutlineRuns out{BBox::empty(), {}};
    const std::size_t n = outline.size();
    out.ys.reserve((n + kEdgesPerRun - 1) / kEdgesPerRun);
    for (std::size_t from = 0; from < n; from += kEdgesPerRun) {
        double lo = std::numeric_limits<double>::infinity(), hi = -lo;
        for (std::size_t i = from, to = std::min(n, from + kEdgesPerRun); i <= to; ++i) {
            const Vec2& p = outline[i == n ? 0 : i];
            if (!std::isfinite(p.x) || !std::isfinite(p.y)) return std::nullopt;
            lo = std::min(lo, p.y);
            hi = std::max(hi, p.y);
            out.box.minX = std::min(out.box.minX, p.x);
            out.box.maxX = std::max(out.box.maxX, p.x);
        }
        out.box.minY = std::min(out.box.minY, lo);
        out.box.maxY = std::max(out.box.maxY, hi);
        out.ys.emplace_back(lo, hi);
    }
    return out;
}

struct Painter {
    CoverageRaster& raster;
    const Mapper& m;
    const GeometryEngine& engine;
    std::vector<Vec2>& points;  // scratch
    std::vector<Vec2>& outlinePoints;  // scratch
    const DrawnOutlines& drawnOutlines; // the file's
    RGBAColor paint;  // the file's colour, for every primitive it draws
    const LongOutlines* longOutlines = nullptr;  // the file's
    bool clearing = false;

    struct Pending {
        bool active = false;
        bool joins = false;
        RGBAColor color;
        bool clearing = false;
    } pending;

    void flush() {
        if (!pending.active) return;
        if (pending.clearing) {
            raster.erase();
        } else {
            const RGBAColor& c = pending.color;
            raster.paint(CoverageRaster::premultiplied(c.r, c.g, c.b, c.a));
        }
        pending.active = false;
    }

    // Adds one primitive's outlines through `addShape`, painting what came before first unless it paints alike.
    template <class F> void add(const RGBAColor& color, bool batchable, F&& addShape) {
        const bool joins = batchable && (color.a >= 1.0 || clearing);
        if (pending.active && !(joins && pending.joins && pending.color == color && pending.clearing == clearing)) flush();
        addShape();
        pending = Pending{true, joins, color, clearing};
        if (!joins) flush();
    }

    double halfWidthPx(double widthMM) const { return std::max(widthMM * m.s, 1.0) / 2; }

    // halfTurnSteps, for the last radius asked again: a file's tracks and pads come in few sizes.
    int turnSteps(double r) {
        if (r != stepsRadius) {
            stepsRadius = r;
            steps = halfTurnSteps(r);
        }
        return steps;
    }
    double stepsRadius = std::numeric_limits<double>::quiet_NaN();
    int steps = 0;

    // A segment with round ends, `h` pixels either side, from picture point a to b.
    void capsule(const Vec2& a, const Vec2& b, double h) {
        const double dx = b.x - a.x, dy = b.y - a.y, len = std::sqrt(dx * dx + dy * dy);
        if (!std::isfinite(len) || !std::isfinite(h)) return;
        if (!(len > 1e-9)) return disc(a, h);
        const Vec2 u{dx / len, dy / len}, n{-u.y, u.x};
        const int k = turnSteps(h);
        const auto turn = TurnTable::shared().steps(k);
        outlinePoints.clear();
        // Each end turns half a circle from one side to the other; the sides themselves stay straight.
        for (const auto& [end, sign] : {std::pair{b, 1.0}, std::pair{a, -1.0}})
            for (int i = 0; i <= k; ++i) {
                const double r = sign * h * (i == 0 || i == k ? 1.0 : turn.cornerScale);
                const Vec2& t = turn.steps[i];
                outlinePoints.push_back(Vec2{end.x + r * (n.x * t.x + u.x * t.y), end.y + r * (n.y * t.x + u.y * t.y)});
            }
        raster.addOutline(outlinePoints);
    }

    // A disc of radius r pixels, turning the way capsules turn.
    void disc(const Vec2& c, double r) {
        if (!std::isfinite(r) || !std::isfinite(c.x) || !std::isfinite(c.y)) return;
        const int k = turnSteps(r);
        const auto turn = TurnTable::shared().steps(k);
        const double corner = r * turn.cornerScale;
        outlinePoints.clear();
        for (int i = 0; i < 2 * k; ++i) outlinePoints.push_back(Vec2{c.x + corner * turn.steps[i].x, c.y - corner * turn.steps[i].y});
        raster.addOutline(outlinePoints);
    }

    void line(const Vec2& a, const Vec2& b, const RGBAColor& color, double widthMM) {
        add(color, true, [&] { capsule(m.map(a), m.map(b), halfWidthPx(widthMM)); });
    }

    void arc(const PCBObjectKind::ArcStroke& a, double widthMM) {
        // Round joins cover each chord's corners, so both edges stand no further off than the centre line.
        add(paint, true, [&] {
            points.clear();
            points.push_back(a.start);
            engine.sampleArc(a.start, a.end, a.center, a.clockwise, points);
            const double h = halfWidthPx(widthMM);
            for (std::size_t i = 1; i < points.size(); ++i) capsule(m.map(points[i - 1]), m.map(points[i]), h);
        });
    }

    void circle(const Vec2& c, double diameter) {
        add(paint, true, [&] { disc(m.map(c), std::abs(diameter) * 0.5 * m.s); });
    }

    void rectangle(const Vec2& at, double width, double height) {
        if (!std::isfinite(width) || !std::isfinite(height)) return;
        const double x0 = std::min(m.X(at.x - width / 2), m.X(at.x + width / 2));
        const double x1 = std::max(m.X(at.x - width / 2), m.X(at.x + width / 2));
        const double y0 = std::min(m.Y(at.y - height / 2), m.Y(at.y + height / 2));
        const double y1 = std::max(m.Y(at.y - height / 2), m.Y(at.y + height / 2));
        add(paint, true, [&] {
            const Vec2 corners[4] = {{x0, y0}, {x0, y1}, {x1, y1}, {x1, y0}};
            raster.addOutline(corners);
        });
    }

    // A rectangle whose short sides are half discs: a capsule along the long side.
    void obround(const Vec2& at, double width, double height) {
        const double w = std::abs(width) * m.s, h = std::abs(height) * m.s;
        if (!std::isfinite(w) || !std::isfinite(h) || w <= 0 || h <= 0) return;
        const double r = std::min(w, h) / 2, reach = std::max(w, h) / 2 - r;
        const Vec2 c = m.map(at), along = w >= h ? Vec2{reach, 0} : Vec2{0, reach};
        add(paint, true, [&] { capsule(c - along, c + along, r); });
    }

    void contour(const std::vector<Vec2>& pts, const Vec2& offset) {
        if (pts.size() < 3) return;
        add(paint, false, [&] {
            outlinePoints.clear();
            for (const Vec2& p : pts) outlinePoints.push_back(m.map(p + offset));
            raster.addOutline(outlinePoints);
        });
    }

    // A region's outline, by its runs where it has them: the same edges in the same order as contour()
    // adds, less those that lie wholly above or below the rows.
    void regionContour(const Contour& pts) {
        const OutlineRuns* found = nullptr;
        if (longOutlines)
            if (const auto it = longOutlines->find(&pts); it != longOutlines->end()) found = &it->second;
        if (!found) return contour(pts, Vec2{0, 0});
        const OutlineRuns& runs = *found;
        // contour() adds nothing when a point maps to no finite place. The map keeps the order of each
        // axis, so the farthest points are the box's.
        for (double v : {m.X(runs.box.minX), m.X(runs.box.maxX), m.Y(runs.box.minY), m.Y(runs.box.maxY)})
            if (!std::isfinite(v)) return;
        add(paint, false, [&] {
            const double top = raster.top(), rows = raster.rows();
            const std::size_t n = pts.size();
            for (std::size_t k = 0; k < runs.ys.size(); ++k) {
                // Rows run down the picture as y runs up: a run's lowest y stands on its lowest row.
                if (m.Y(runs.ys[k].first) - top <= 0 || m.Y(runs.ys[k].second) - top >= rows) continue;
                outlinePoints.clear();
                const std::size_t from = k * kEdgesPerRun, to = std::min(n, from + kEdgesPerRun);
                for (std::size_t i = from; i <= to; ++i) outlinePoints.push_back(m.map(pts[i == n ? 0 : i] + Vec2{0, 0}));
                raster.addPath(outlinePoints);
            }
        });
    }

    void polygonFlash(const Vec2& at, const ApertureShape::Polygon& polygon) {
        points.clear();
        GeometryEngine::polygonCorners(at, polygon, points);
        if (points.size() < 3) return;
        add(paint, true, [&] {
            outlinePoints.clear();
            double area2 = 0;  // twice the signed area in picture pixels; capsules and discs give a negative one
            for (const Vec2& p : points) outlinePoints.push_back(m.map(p));
            for (std::size_t i = 0; i < outlinePoints.size(); ++i) {
                const Vec2& p = outlinePoints[i];
                const Vec2& q = outlinePoints[i + 1 == outlinePoints.size() ? 0 : i + 1];
                area2 += p.x * q.y - q.x * p.y;
            }
            if (area2 > 0) std::reverse(outlinePoints.begin(), outlinePoints.end());
            raster.addOutline(outlinePoints);
        });
    }

    void draw(const PCBObject& obj) {
        // Only strokes are drawn as wide as their aperture.
        auto width = [&] { return obj.apertureShape ? obj.apertureShape->strokeNominalWidth() : kNoShapeWidthMM; };
        if (const auto* s = obj.kind.as<PCBObjectKind::Stroke>()) {
            const double w = width();
            if (!std::isfinite(w)) return;
            line(s->start, s->end, paint, w);
        } else if (const auto* a = obj.kind.as<PCBObjectKind::ArcStroke>()) {
            const double w = width();
            if (!std::isfinite(w)) return;
            arc(*a, w);
        } else if (const auto* f = obj.kind.as<PCBObjectKind::Flash>()) {
            flash(f->at, obj.apertureShape);
        } else if (const auto* r = obj.kind.as<PCBObjectKind::Region>()) {
            for (const auto& c : r->contours) regionContour(c);
        } else if (const auto* d = obj.kind.as<PCBObjectKind::Drill>()) {
            circle(d->at, d->diameterMM);
        } else if (const auto* sl = obj.kind.as<PCBObjectKind::Slot>()) {
            if (!std::isfinite(sl->diameterMM)) return;
            line(sl->start, sl->end, paint, sl->diameterMM);
        }
    }

    template <class F>
    void eachDrawnContour(const std::vector<Contour>& outline, F&& f) {
        if (const auto it = drawnOutlines.find(&outline); it != drawnOutlines.end()) {
            for (const Contour& c : it->second) f(c);
        } else {
            for (const Contour& c : engine.drawnOutline(outline)) f(c);
        }
    }

    // Every flash takes its aperture's true shape, as the desktop canvas draws it.
    void flash(const Vec2& at, ShapeRef shape) {
        if (!shape) return circle(at, kNoShapeWidthMM);
        if (const auto* c = shape->as<ApertureShape::Circle>()) return circle(at, c->diameter);
        if (const auto* r = shape->as<ApertureShape::Rectangle>()) return rectangle(at, r->width, r->height);
        if (const auto* o = shape->as<ApertureShape::Obround>()) return obround(at, o->width, o->height);
        if (const auto* p = shape->as<ApertureShape::Polygon>()) return polygonFlash(at, *p);
        if (const auto* mac = shape->as<ApertureShape::Macro>()) {
            if (mac->outline && !mac->outline->empty()) {
                eachDrawnContour(*mac->outline, [&](const Contour& c) { contour(c, at); });
                return;
            }
            return circle(at, mac->boundingDiameter);
        }
    }
};

// The primitives of one file in drawing order (Gerber objects, drill hits, then slots, as
// PackageFile::objects lists them) without building that list.
struct FileObjects {
    const PackageFile& file;

    std::size_t gerberCount() const { return file.gerber ? file.gerber->objects.size() : 0; }
    std::size_t hitCount() const { return file.drill ? file.drill->hits.size() : 0; }
    std::size_t size() const { return gerberCount() + hitCount() + (file.drill ? file.drill->slots.size() : 0); }

    BBox box(std::size_t i) const {
        if (i < gerberCount()) return file.gerber->objects[i].bbox;
        i -= gerberCount();
        if (i < hitCount()) return file.drill->hitBBox(i);
        return file.drill->slots[i - hitCount()].bbox;
    }
    bool clears(std::size_t i) const { return i < gerberCount() && file.gerber->objects[i].polarity == Polarity::clear; }
    const PCBObjectKind::Region* region(std::size_t i) const {
        return i < gerberCount() ? file.gerber->objects[i].kind.as<PCBObjectKind::Region>() : nullptr;
    }
    // The evaluated outline a flash of a macro aperture is drawn from, if object i is one.
    const std::vector<Contour>* macroOutline(std::size_t i) const {
        if (i >= gerberCount()) return nullptr;
        const PCBObject& o = file.gerber->objects[i];
        if (!o.kind.as<PCBObjectKind::Flash>() || !o.apertureShape) return nullptr;
        const auto* mac = o.apertureShape->as<ApertureShape::Macro>();
        return mac && mac->outline && !mac->outline->empty() ? &*mac->outline : nullptr;
    }

    // Asks for object i ahead of its turn: a band visits a file's objects far apart in memory.
    void prefetch(std::size_t i) const {
        if (i < gerberCount()) __builtin_prefetch(&file.gerber->objects[i]);
    }

    template <class F> void visit(std::size_t i, F&& f) const {
        if (i < gerberCount()) return f(file.gerber->objects[i]);
        i -= gerberCount();
        if (i < hitCount()) return f(file.drill->hitObject(i));
        f(file.drill->slots[i - hitCount()]);
    }
};

// One file's objects sorted into the bands they reach, in file order within each band. Only the bands
// the file reaches are held, so a small file costs little however tall the picture.
struct FileBands {
    int firstBand = 0;
    std::vector<std::uint32_t> starts;   // per band from firstBand: where its objects begin, then the end
    std::vector<std::uint32_t> objects;  // object indices
    std::vector<char> clears;            // per band from firstBand: whether a clear object is among them
    LongOutlines longOutlines;           // of the regions that reach more than one band
    DrawnOutlines drawnOutlines;         // of the macro flashes that reach the picture

    int endBand() const { return firstBand + static_cast<int>(clears.size()); }
    std::span<const std::uint32_t> of(int band) const {
        if (band < firstBand || band >= endBand()) return {};
        const auto k = static_cast<std::size_t>(band - firstBand);
        return std::span<const std::uint32_t>(objects).subspan(starts[k], starts[k + 1] - starts[k]);
    }
    bool clearsIn(int band) const { return band >= firstBand && band < endBand() && clears[band - firstBand]; }
};

// The first and last band an object can paint, or nothing when it cannot reach the picture.
std::optional<std::pair<int, int>> bandsOf(const BBox& b, const Mapper& m, int bandRows, int bandCount) {
    if (!b.isValid()) return std::nullopt;  // empty geometry draws nothing
    const double xs[2] = {m.X(b.minX), m.X(b.maxX)};
    const double ys[2] = {m.Y(b.minY), m.Y(b.maxY)};
    for (double v : {xs[0], xs[1], ys[0], ys[1]})
        if (!std::isfinite(v)) return std::nullopt;
    const double reach = kNoShapeWidthMM / 2 * m.s + kPaintReachPx;
    const double lx = std::min(xs[0], xs[1]) - reach, hx = std::max(xs[0], xs[1]) + reach;
    const double ly = std::min(ys[0], ys[1]) - reach, hy = std::max(ys[0], ys[1]) + reach;
    if (hx < 0 || lx > m.W || hy < 0 || ly > m.H) return std::nullopt;
    const int first = static_cast<int>(std::max(0.0, ly) / bandRows);
    const int last = static_cast<int>(std::min(hy, m.H) / bandRows);
    return std::pair{std::min(first, bandCount - 1), std::min(last, bandCount - 1)};
}

FileBands sortIntoBands(const FileObjects& objects, const Mapper& m, const GeometryEngine& engine, int bandRows,
                        int bandCount) {
    FileBands out;
    const std::size_t n = objects.size();
    std::vector<std::pair<int, int>> reach(n, {1, 0});  // empty unless the object reaches the picture
    int lo = bandCount, hi = -1;
    for (std::size_t i = 0; i < n; ++i) {
        if (const auto bands = bandsOf(objects.box(i), m, bandRows, bandCount)) {
            reach[i] = *bands;
            lo = std::min(lo, bands->first);
            hi = std::max(hi, bands->second);
        }
    }
    if (hi < lo) return out;
    out.firstBand = lo;
    const auto span = static_cast<std::size_t>(hi - lo + 1);
    out.starts.assign(span + 1, 0);
    out.clears.assign(span, 0);
    for (std::size_t i = 0; i < n; ++i)
        for (int b = reach[i].first; b <= reach[i].second; ++b) {
            ++out.starts[static_cast<std::size_t>(b - lo) + 1];
            if (objects.clears(i)) out.clears[static_cast<std::size_t>(b - lo)] = 1;
        }
    // The shapes the bands share: the runs of long region outlines met by more than one band, and the macro
    // outlines as drawn.
    for (std::size_t i = 0; i < n; ++i) {
        if (reach[i].second > reach[i].first)
            if (const auto* region = objects.region(i))
                for (const Contour& c : region->contours)
                    if (c.size() >= kLongOutlinePoints)
                        if (auto runs = outlineRuns(c)) out.longOutlines.emplace(&c, std::move(*runs));
        if (reach[i].second >= reach[i].first)
            if (const auto* outline = objects.macroOutline(i))
                if (auto [it, fresh] = out.drawnOutlines.try_emplace(outline); fresh)
                    it->second = engine.drawnOutline(*outline);
    }
    for (std::size_t k = 0; k < span; ++k) out.starts[k + 1] += out.starts[k];
    out.objects.resize(out.starts[span]);
    std::vector<std::uint32_t> next(out.starts.begin(), out.starts.end() - 1);
    for (std::size_t i = 0; i < n; ++i)
        for (int b = reach[i].first; b <= reach[i].second; ++b)
            out.objects[next[static_cast<std::size_t>(b - lo)]++] = static_cast<std::uint32_t>(i);
    return out;
}

// Everything one render shares between the threads that paint its bands.
struct Picture {
    const Mapper& mapper;
    const GeometryEngine& engine;
    std::uint32_t background;
    int width, height, bandRows, bandCount;
    std::uint32_t* pixels;
    std::vector<const PackageFile*> files;  // in drawing order
    std::vector<FileBands> bands;           // per file
};

// What one painting thread keeps from band to band.
struct BandWorker {
    CoverageRaster raster;
    std::vector<std::uint32_t> layer;  // a file with clear objects is drawn here alone
    std::vector<Vec2> points, outlinePoints;
};

// Paints one band: the background, then every file in drawing order. A file whose objects here are all
// dark goes straight onto the picture, which gives the same pixels as a layer of its own laid over it;
// one with clear objects is drawn alone into the worker's layer, so that they cut only that file, and
// then laid over.
void paintBand(const Picture& pic, int band, BandWorker& worker) {
    const int top = band * pic.bandRows, rows = std::min(pic.bandRows, pic.height - top);
    const std::size_t count = static_cast<std::size_t>(pic.width) * static_cast<std::size_t>(rows);
    std::uint32_t* target = pic.pixels + static_cast<std::size_t>(top) * static_cast<std::size_t>(pic.width);
    std::fill(target, target + count, pic.background);

    for (std::size_t k = 0; k < pic.files.size(); ++k) {
        const auto indices = pic.bands[k].of(band);
        if (indices.empty()) continue;
        const bool alone = pic.bands[k].clearsIn(band);
        if (alone) worker.layer.assign(count, 0);
        worker.raster.target(alone ? worker.layer.data() : target, pic.width, rows, top);
        const FileObjects objects{*pic.files[k]};
        const RGBAColor color = SoftwareRenderer::defaultColor(pic.files[k]->layerType);
        Painter painter{worker.raster,
                        pic.mapper,
                        pic.engine,
                        worker.points,
                        worker.outlinePoints,
                        pic.bands[k].drawnOutlines,
                        color,
                        &pic.bands[k].longOutlines};
        constexpr std::size_t kAhead = 8;
        for (std::size_t j = 0; j < indices.size(); ++j) {
            if (j + kAhead < indices.size()) objects.prefetch(indices[j + kAhead]);
            objects.visit(indices[j], [&](const PCBObject& obj) {
                painter.clearing = obj.polarity == Polarity::clear;
                painter.draw(obj);
            });
        }
        painter.flush();
        if (alone) CoverageRaster::layOver(target, worker.layer.data(), count);
    }
}

// The visible files in the order every picture of the board lays them over each other.
std::vector<const PackageFile*> drawingOrder(const PCBPackage& package,
                                             const std::optional<std::set<std::string>>& visibleFileNames, bool flipX) {
    std::vector<const PackageFile*> shown;
    std::vector<LayerType> types;
    for (const auto& f : package.files) {
        if (visibleFileNames && !visibleFileNames->count(f.fileName)) continue;
        shown.push_back(&f);
        types.push_back(f.layerType);
    }
    std::vector<const PackageFile*> order;
    order.reserve(shown.size());
    for (std::size_t i : layerDrawOrder(types, flipX ? ViewedSide::bottom : ViewedSide::top)) order.push_back(shown[i]);
    return order;
}

} // namespace

std::optional<RasterImage> SoftwareRenderer::render(const PCBPackage& package, SizePx sizePx,
                                              const std::optional<std::set<std::string>>& visibleFileNames,
                                              bool flipX) {
    const BBox box = package.boardBBox();
    const double W = sizePx.width, H = sizePx.height;
    if (!box.isValid() || !(W > 4) || !(H > 4)) return std::nullopt;
    const double bw = std::max(0.0, box.maxX - box.minX);
    const double bh = std::max(0.0, box.maxY - box.minY);
    const double s = std::min(W / (bw + 4), H / (bh + 4));
    pxScale = s;
    if (!std::isfinite(W) || !std::isfinite(H) || W > 32767 || H > 32767 || !std::isfinite(s)) return std::nullopt;

    const int iw = static_cast<int>(W), ih = static_cast<int>(H);
    const Mapper mapper{s, (W - s * bw) / 2, (H - s * bh) / 2, W, H, box.minX, box.minY, flipX};
    const GeometryEngine engine = GeometryEngine::forDrawing(s);

    try {
        auto pixels = std::make_shared<std::vector<std::uint32_t>>(static_cast<std::size_t>(iw) * ih);
        std::vector<const PackageFile*> files = drawingOrder(package, visibleFileNames, flipX);
        std::size_t objectCount = 0;
        for (const PackageFile* f : files) objectCount += FileObjects{*f}.size();
        const auto workers = static_cast<unsigned>(
            std::clamp<std::size_t>((objectCount + kObjectsPerWorker - 1) / kObjectsPerWorker, 1, defaultWorkerCount()));
        const double boardRows = std::ceil(s * bh / (kBandsPerWorker * workers));
        const int bandRows = static_cast<int>(std::clamp(boardRows, double{kMinBandRows}, double{kMaxBandRows}));
        Picture pic{mapper,
                    engine,
                    CoverageRaster::premultiplied(background.r, background.g, background.b, background.a),
                    iw,
                    ih,
                    bandRows,
                    (ih + bandRows - 1) / bandRows,
                    pixels->data(),
                    std::move(files),
                    {}};
        pic.bands.resize(pic.files.size());
        parallelFor(
            pic.files.size(),
            [&](std::size_t k) {
                pic.bands[k] = sortIntoBands(FileObjects{*pic.files[k]}, mapper, engine, pic.bandRows, pic.bandCount);
            },
            workers);
        // Each worker takes the next band when done with one, keeping its buffers.
        parallelForWithState(
            static_cast<std::size_t>(pic.bandCount), [] { return BandWorker{}; },
            [&](BandWorker& worker, std::size_t band) { paintBand(pic, static_cast<int>(band), worker); }, workers);
        return RasterImage{iw, ih, std::move(pixels)};
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

} // namespace corvane
