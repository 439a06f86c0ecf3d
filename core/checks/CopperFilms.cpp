#include "CopperFilms.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <optional>
#include <string_view>
#include <tuple>
#include <unordered_map>

#include "CellGrid.hpp"
#include "CopperBodies.hpp"
#include "model/Angles.hpp"
#include "model/Format.hpp"

namespace corvane::films {

namespace {

// A drill hit and what a layer draws on it share a centre to within this: the files of a package
// come from one design, each rounded to its own format (the coarsest, 2.4 inch, steps 2.54 µm).
constexpr double kOnHoleMM = 0.025;
// Fewer hole features than this tell too little to call a file a film.
constexpr std::size_t kMinFilmHoles = 8;
// Tracks end on the pads of drawn copper; on a film they are split lines, which now and then end
// in an antipad. At most one hole feature in this many may have one leave it.
constexpr std::size_t kConnectedShare = 20;
// Pads off the holes (surface-mount pads, fiducials) are drawn copper: at most one dark flash in
// this many lies off the holes.
constexpr std::size_t kOffHoleShare = 10;
// Thermal reliefs show a film when at least this many holes have one: a plane may connect few
// holes (a 3.3 V plane of a 10-layer card has ten thermals beside 2,400 antipads).
constexpr std::size_t kMinThermals = 4;
// Filled areas covering this share of the file's box are a pour: drawn copper. A film draws
// none, or a few voids.
constexpr double kMostFilmRegionShare = 0.05;
// Strokes covering this share of the file's box, overlaps counted twice, are a plane painted with
// strokes: drawn copper. A film's split lines, painted voids, thermals and title cover a fifth.
constexpr double kMostFilmStrokeShare = 0.5;
// A thermal drawn as strokes: short strokes around a hole at about one distance from it, no
// farther than this, at least kMinRingStrokes of them on three sides of it at least.
constexpr double kMostRingRadiusMM = 2.0;
constexpr std::size_t kMinRingStrokes = 4;
// Search steps (a hole or feature met, a corner of a filled area tested) the reading of one
// package may take, about a tenth of a second: what real packages need many times over, while
// hostile ones (a hundred thousand holes on one spot) would take minutes. Layers read past it
// are taken as drawn copper, as every layer was before films were known.
constexpr std::size_t kMaxReadingSteps = 20'000'000;
// An antipad or thermal is at most this wide around its hole: a larger flash on a hole is no hole
// feature, and none makes a search slow.
constexpr double kMostFeatureRadiusMM = 6.5;
// Cells of the grids that find holes and hole features.
constexpr double kHoleCellMM = 2.0;
constexpr double kFeatureCellMM = 2.0;

bool noStop() { return false; }

bool isNegative(const std::optional<std::string>& polarity) { return polarity && asciiLower(*polarity) == "negative"; }

// The letters of a name, upper-cased: "THERMAL30" and "Thermal_30" read alike.
std::string lettersOf(std::string_view name) {
    std::string out;
    for (char c : name)
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))
            out.push_back(c >= 'a' ? static_cast<char>(c - 'a' + 'A') : c);
    return out;
}

// What a layer draws on a hole, in rising order of what it tells: an antipad or pad, a ring, a
// thermal relief.
enum class HoleShape { plain, donut, thermal };

// Thermal reliefs come as macros of four sectors around an open centre (the thermal primitive),
// or as macros whose names say so (PADS "TER", "THERMAL…"), whose spokes are cut by exposure-off
// primitives the evaluated outline leaves out; rings as macros named for them ("ANN",
// "ANNULUS…", "DONUT"). The hole of a standard aperture is not kept by the reader, so a standard
// ring reads as a plain antipad.
HoleShape holeShapeOf(const PCBObject& o) {
    const auto* m = o.apertureShape ? o.apertureShape->as<ApertureShape::Macro>() : nullptr;
    if (!m) return HoleShape::plain;
    const std::string name = lettersOf(m->name);
    if (name.find("THERM") != std::string::npos || name == "TER" || name == "THR" || name == "THRM")
        return HoleShape::thermal;
    if (name.find("ANNUL") != std::string::npos || name.find("DONUT") != std::string::npos || name == "ANN" ||
        name == "RING")
        return HoleShape::donut;
    if (m->outline && !m->outline->empty() &&
        std::none_of(m->outline->begin(), m->outline->end(), [](const Contour& c) {
            return c.size() >= 3 && contourContains(c.data(), c.size(), Vec2{0, 0});
        }))
        return HoleShape::thermal;
    return HoleShape::plain;
}

// A name or X2 function that calls the layer a plane: support only, for a film of antipads alone.
bool namedPlane(const PackageFile& file) {
    const std::string name = asciiLower(file.fileName);
    for (const char* word : {"plane", "power", "ground", "supply"})
        if (name.find(word) != std::string::npos) return true;
    std::string token;
    auto isPlaneWord = [](const std::string& t) {
        return t == "gnd" || t == "pwr" || t == "pln" || t == "vcc" || t == "vdd" || t == "vss" || t == "vee";
    };
    for (char c : name + ".") {
        if (c >= 'a' && c <= 'z') {
            token.push_back(c);
            continue;
        }
        if (isPlaneWord(token)) return true;
        token.clear();
    }
    const std::optional<std::string>& function = file.gerber->fileFunction;
    return function && asciiLower(*function).find("plane") != std::string::npos;
}

struct Hole {
    Vec2 at;
    double radius = 0;
};

// The steps the package's reading has taken; every search counts its own.
struct Work {
    std::size_t steps = 0;
    // Counts n more steps; true once the budget is spent.
    bool take(std::size_t n = 1) {
        steps += n;
        return steps > kMaxReadingSteps;
    }
    bool spent() const { return steps > kMaxReadingSteps; }
};

// Holes on a grid, to find the one a point is centred on.
class Holes {
public:
    // Every drill hit of the package.
    static Holes drilled(const PCBPackage& package) {
        std::vector<Hole> holes;
        for (const auto& f : package.files) {
            if (!f.drill) continue;
            for (const DrillHit& h : f.drill->hits) {
                if (!h.position.isFinite()) continue;
                const auto tool = f.drill->tools.find(h.toolNumber);
                const double d = tool != f.drill->tools.end() && std::isfinite(tool->second.diameterMM)
                                     ? tool->second.diameterMM
                                     : 0.0;
                holes.push_back(Hole{h.position, std::max(d, 0.0) * 0.5});
            }
        }
        return Holes(std::move(holes));
    }

    // Without a drill file, a film's flashes stand on its holes: the centre of every dark flash.
    static Holes flashed(const GerberDocument& doc) {
        std::vector<Hole> holes;
        for (const PCBObject& o : doc.objects)
            if (const auto f = o.kind.as<PCBObjectKind::Flash>();
                f && o.polarity != Polarity::clear && f->at.isFinite())
                holes.push_back(Hole{f->at, 0.0});
        return Holes(std::move(holes));
    }

    // Holes closer together than kOnHoleMM are one: the same hole in two drill files, or a
    // hostile pile of them on one spot, which every search would otherwise walk.
    explicit Holes(std::vector<Hole> holes) {
        std::vector<std::pair<GridCellKey, std::uint32_t>> spots;
        spots.reserve(holes.size());
        for (std::uint32_t k = 0; k < holes.size(); ++k) spots.emplace_back(grid::cellOf(holes[k].at, kOnHoleMM), k);
        std::sort(spots.begin(), spots.end(), [](const auto& a, const auto& b) {
            return std::tie(a.first.x, a.first.y, a.second) < std::tie(b.first.x, b.first.y, b.second);
        });
        std::vector<std::uint32_t> kept;
        for (std::size_t i = 0; i < spots.size(); ++i)
            if (i == 0 || !(spots[i].first == spots[i - 1].first)) kept.push_back(spots[i].second);
        std::sort(kept.begin(), kept.end());
        holes_.reserve(kept.size());
        for (const std::uint32_t k : kept) holes_.push_back(holes[k]);
        std::vector<grid::CellRange> cells;
        cells.reserve(holes_.size());
        for (const Hole& h : holes_) cells.push_back(grid::rangeOf(BBox{h.at.x, h.at.y, h.at.x, h.at.y}, kHoleCellMM));
        grid_.build(cells, unlisted_, noStop);
    }

    bool empty() const { return holes_.empty(); }
    std::size_t size() const { return holes_.size(); }
    const Hole& operator[](std::size_t k) const { return holes_[k]; }

    // Calls f(hole) for each hole whose centre may lie within `reach` of p (and some farther),
    // until the work is spent.
    template <class F>
    void forEachNear(const Vec2& p, double reach, Work& work, F&& f) const {
        if (!p.isFinite()) return;
        const BBox around{p.x - reach, p.y - reach, p.x + reach, p.y + reach};
        grid::walkWindow(
            grid_, unlisted_, grid::rangeOf(around, kHoleCellMM), static_cast<std::uint32_t>(holes_.size()),
            [&](std::uint32_t k) {
                if (work.take()) return true;
                f(k);
                return false;
            },
            [&] { return work.spent(); });
    }

    // The hole p is centred on: the nearest within kOnHoleMM, the first listed of equals.
    std::optional<std::uint32_t> centredAt(const Vec2& p, Work& work) const {
        if (!p.isFinite()) return std::nullopt;
        std::optional<std::uint32_t> best;
        double bestDistance = kOnHoleMM;
        forEachNear(p, kOnHoleMM, work, [&](std::uint32_t k) {
            const double d = holes_[k].at.distance(p);
            if (d < bestDistance || (d == bestDistance && (!best || k < *best))) {
                best = k;
                bestDistance = d;
            }
        });
        return best;
    }

private:
    std::vector<Hole> holes_;
    grid::CellGrid grid_;
    std::vector<std::uint32_t> unlisted_; // holes the grid could not hold, met by every search
};

// What a layer draws on the package's holes, as far as films go.
struct HoleReading {
    // Hole features on many holes, no tracks leaving them, no pour, few pads elsewhere: a film's
    // form, or copper of isolated pads.
    bool filmLike = false;
    // Thermal reliefs or rings: what only a film draws on its holes.
    bool filmShapes = false;
    // The radius of the flash on each hole that has one, by hole.
    std::vector<std::pair<std::uint32_t, double>> flashRadius;
};

// What one layer draws on the package's holes.
class HoleFeatures {
public:
    HoleFeatures(const PackageFile& file, const Holes& holes, Work& work)
        : doc_(*file.gerber), holes_(holes), work_(work), radius_(holes.size(), -1.0),
          shape_(holes.size(), HoleShape::plain), connected_(holes.size(), 0) {}

    // Reads the layer once; a reading stops early when the layer is plainly drawn copper.
    HoleReading read() {
        HoleReading out;
        readFlashesAndRings();
        if (!flashRadius_.empty())
            for (const std::uint32_t h : featured_)
                if (flashRadius_[h] >= 0) out.flashRadius.emplace_back(h, flashRadius_[h]);
        std::sort(out.flashRadius.begin(), out.flashRadius.end());
        // The cheap tests first: most drawn copper has its pads off the holes, or a pour.
        if (flashesOffHoles_ * kOffHoleShare > flashes_ || isPoured()) return out;
        readStrokeRings();
        out.filmLike = featured_.size() >= kMinFilmHoles && readStrokes() && readRegions() && !work_.spent();
        std::size_t thermals = 0, donuts = 0;
        for (const std::uint32_t h : featured_) {
            thermals += shape_[h] == HoleShape::thermal ? 1 : 0;
            donuts += shape_[h] == HoleShape::donut ? 1 : 0;
        }
        out.filmShapes = thermals >= kMinThermals || donuts * 2 >= featured_.size();
        return out;
    }

private:
    // Marks hole h connected; false once more are than a film has.
    bool connect(std::uint32_t h) {
        if (!connected_[h]) {
            connected_[h] = 1;
            ++connectedCount_;
        }
        return connectedCount_ * kConnectedShare <= featured_.size();
    }

    void feature(std::uint32_t h, double radius, HoleShape shape) {
        if (radius_[h] < 0) featured_.push_back(h);
        radius_[h] = std::max(radius_[h], radius);
        if (shape > shape_[h]) shape_[h] = shape;
    }

    // Dark flashes on the holes, and arcs around them: an antipad drawn as a circle, a thermal as
    // four arcs.
    void readFlashesAndRings() {
        for (const PCBObject& o : doc_.objects) {
            if (o.polarity == Polarity::clear || !drawsCopper(o)) continue;
            if (auto f = o.kind.as<PCBObjectKind::Flash>()) {
                ++flashes_;
                const auto h = holes_.centredAt(f->at, work_);
                if (!h) {
                    ++flashesOffHoles_;
                    continue;
                }
                const double r = o.apertureShape ? o.apertureShape->boundingDiameter() * 0.5 : 0.0;
                if (!(r <= kMostFeatureRadiusMM)) {
                    ++flashesOffHoles_;
                    continue;
                }
                feature(*h, r, holeShapeOf(o));
                if (flashRadius_.empty()) flashRadius_.assign(holes_.size(), -1.0);
                flashRadius_[*h] = std::max(flashRadius_[*h], r);
            } else if (auto a = o.kind.as<PCBObjectKind::ArcStroke>()) {
                const auto h = holes_.centredAt(a->center, work_);
                const double r = a->start.distance(a->center);
                if (h && r > holes_[*h].radius && r <= kMostFeatureRadiusMM) feature(*h, r, HoleShape::thermal);
            }
        }
    }

    // Thermals drawn as strokes, the way arcs are drawn as short chords: each stroke that runs
    // round a hole, its ends at about one distance from it and out of the hole, counts for that
    // hole on the sides its middle lies; a hole with enough of them on three sides is a thermal.
    // Only holes without a flash, and without a short stroke across them: a film flashes an
    // antipad or draws a thermal, while strokes round a pad drawn on its hole are the clearance
    // of a painted pour.
    void readStrokeRings() {
        struct Ring {
            std::uint32_t strokes = 0;
            std::uint8_t sides = 0; // a bit per quadrant around the hole
            bool crossed = false;
            double radius = 0;
        };
        // The holes without a flash, on a grid of their own: drawn copper has few.
        std::vector<std::uint32_t> bare;
        std::vector<grid::CellRange> cells;
        for (std::uint32_t h = 0; h < holes_.size(); ++h)
            if (radius_[h] < 0) {
                bare.push_back(h);
                cells.push_back(
                    grid::rangeOf(BBox{holes_[h].at.x, holes_[h].at.y, holes_[h].at.x, holes_[h].at.y}, kHoleCellMM));
            }
        if (bare.empty()) return;
        grid::CellGrid bareGrid;
        std::vector<std::uint32_t> unlisted;
        bareGrid.build(cells, unlisted, noStop);
        std::unordered_map<std::uint32_t, Ring> rings;
        for (const PCBObject& o : doc_.objects) {
            const auto s = o.kind.as<PCBObjectKind::Stroke>();
            if (!s || o.polarity == Polarity::clear || !drawsCopper(o)) continue;
            const double length = s->start.distance(s->end);
            if (!(length <= 2 * kMostRingRadiusMM)) continue;
            const double halfWidth = o.apertureShape ? o.apertureShape->strokeNominalWidth() * 0.5 : 0.0;
            const Vec2 mid = (s->start + s->end) * 0.5;
            const double reach = length * 0.5 + kMostRingRadiusMM;
            const BBox around{mid.x - reach, mid.y - reach, mid.x + reach, mid.y + reach};
            grid::walkWindow(
                bareGrid, unlisted, grid::rangeOf(around, kHoleCellMM), static_cast<std::uint32_t>(bare.size()),
                [&](std::uint32_t k) {
                    if (work_.take()) return true;
                    const std::uint32_t h = bare[k];
                    const Hole& hole = holes_[h];
                    const double da = hole.at.distance(s->start), db = hole.at.distance(s->end);
                    const double nearest = std::min(da, db), farthest = std::max(da, db);
                    const double pass = closestPointsSegSeg(s->start, s->end, hole.at, hole.at).distance;
                    if (pass <= hole.radius) {
                        rings[h].crossed = true;
                        return false;
                    }
                    // Round the hole: no farther than a thermal reaches, at one distance within a
                    // third, a chord of at most about 70°, and never cutting towards it.
                    if (farthest > kMostRingRadiusMM || farthest - nearest > farthest / 3 || length > 1.2 * nearest ||
                        pass < 0.7 * nearest)
                        return false;
                    const Vec2 side = mid - hole.at;
                    Ring& ring = rings[h];
                    ring.strokes += 1;
                    ring.sides |= static_cast<std::uint8_t>(1u << ((side.x >= 0 ? 0 : 1) + (side.y >= 0 ? 0 : 2)));
                    ring.radius = std::max(ring.radius, farthest + halfWidth);
                    return false;
                },
                [&] { return work_.spent(); });
        }
        // In hole order, so that the features' order does not depend on the map's.
        std::vector<std::pair<std::uint32_t, Ring>> found(rings.begin(), rings.end());
        std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        for (const auto& [h, ring] : found)
            if (!ring.crossed && ring.strokes >= kMinRingStrokes && std::popcount(ring.sides) >= 3)
                feature(h, ring.radius, HoleShape::thermal);
    }

    // Tracks leaving the hole features, and spokes cut across them: strokes and arcs that are
    // not rings of a hole. False once too many holes are connected for a film.
    bool readStrokes() {
        std::vector<grid::CellRange> cells;
        for (const std::uint32_t h : featured_) cells.push_back(grid::rangeOf(featureBox(h), kFeatureCellMM));
        std::vector<std::uint32_t> unlisted;
        features_.build(cells, unlisted, noStop);
        // Features too many for the grid would make every search walk them: no film is that large.
        if (!unlisted.empty()) return false;
        for (const PCBObject& o : doc_.objects) {
            if (!drawsCopper(o)) continue;
            Vec2 a, b;
            if (auto s = o.kind.as<PCBObjectKind::Stroke>()) {
                a = s->start;
                b = s->end;
            } else if (auto arc = o.kind.as<PCBObjectKind::ArcStroke>()) {
                if (holes_.centredAt(arc->center, work_)) continue;
                a = arc->start;
                b = arc->end;
            } else {
                continue;
            }
            if (o.polarity == Polarity::clear) {
                markSpoke(a, b);
                continue;
            }
            if (!markLeaving(a, b) || !markLeaving(b, a)) return false;
        }
        return true;
    }

    BBox featureBox(std::uint32_t h) const {
        const Vec2& c = holes_[h].at;
        const double r = radius_[h] + kOnHoleMM;
        return BBox{c.x - r, c.y - r, c.x + r, c.y + r};
    }

    // Calls f(hole) for each hole feature p lies on.
    template <class F>
    void forFeaturesAt(const Vec2& p, F&& f) const {
        if (!p.isFinite()) return;
        for (const std::uint32_t k : features_.items(grid::cellOf(p, kFeatureCellMM))) {
            if (work_.take()) return;
            const std::uint32_t h = featured_[k];
            if (holes_[h].at.distance(p) <= radius_[h] + kOnHoleMM) f(h);
        }
    }

    // A stroke with an end on a hole feature that reaches out of it leaves it: a track, which may
    // end on the feature's edge. False once too many holes are connected for a film.
    bool markLeaving(const Vec2& end, const Vec2& other) {
        bool few = true;
        forFeaturesAt(end, [&](std::uint32_t h) {
            if (!(holes_[h].at.distance(other) <= radius_[h] + kOnHoleMM)) few = connect(h) && few;
        });
        return few;
    }

    // A clear stroke across a hole feature, through its hole, cuts a thermal's spoke: across the
    // whole ring or out from the hole, its middle lies on the feature.
    void markSpoke(const Vec2& a, const Vec2& b) {
        forFeaturesAt((a + b) * 0.5, [&](std::uint32_t h) {
            const Hole& hole = holes_[h];
            if (closestPointsSegSeg(a, b, hole.at, hole.at).distance <= std::max(hole.radius, kOnHoleMM))
                shape_[h] = HoleShape::thermal;
        });
    }

    // Whether filled areas or strokes cover so much of the file that they are a pour.
    bool isPoured() const {
        double regions = 0, strokes = 0;
        for (const PCBObject& o : doc_.objects) {
            if (o.polarity == Polarity::clear) continue;
            if (const auto g = o.kind.as<PCBObjectKind::Region>()) {
                for (const Contour& c : g->contours) {
                    double twice = 0;
                    for (std::size_t i = 0, j = c.size() - 1; i < c.size(); j = i++)
                        twice += c[j].x * c[i].y - c[i].x * c[j].y;
                    regions += std::fabs(twice) * 0.5;
                }
            } else if (const auto s = o.kind.as<PCBObjectKind::Stroke>(); s && o.apertureShape) {
                const double w = o.apertureShape->strokeNominalWidth();
                strokes += s->start.distance(s->end) * w + 0.25 * kPi * w * w;
            }
        }
        const BBox& box = doc_.bbox;
        const double area = box.isValid() ? box.width() * box.height() : 0.0;
        return regions > kMostFilmRegionShare * area || strokes > kMostFilmStrokeShare * area;
    }

    // Hole features inside filled areas are pads in a pour. False once too many are for a film, or
    // the work is spent.
    bool readRegions() {
        for (const PCBObject& o : doc_.objects) {
            const auto g = o.kind.as<PCBObjectKind::Region>();
            if (!g || o.polarity == Polarity::clear) continue;
            std::size_t points = 0;
            for (const Contour& c : g->contours) points += c.size();
            const grid::CellRange window = grid::rangeOf(o.bbox, kFeatureCellMM);
            // Drawn copper, or too costly to tell.
            bool drawn = work_.take(static_cast<std::size_t>(window.cellCount()));
            // A feature listed in several cells is tested in each: the work counts every test.
            grid::walkWindow(
                features_, {}, window, static_cast<std::uint32_t>(featured_.size()),
                [&](std::uint32_t k) {
                    if (drawn || work_.take(points)) return drawn = true;
                    const std::uint32_t h = featured_[k];
                    if (!o.bbox.contains(holes_[h].at) || connected_[h]) return false;
                    bool inside = false;
                    for (const Contour& c : g->contours)
                        if (c.size() >= 3 && contourContains(c.data(), c.size(), holes_[h].at)) inside = !inside;
                    return drawn = inside && !connect(h);
                },
                noStop);
            if (drawn) return false;
        }
        return true;
    }

    const GerberDocument& doc_;
    const Holes& holes_;
    Work& work_;
    std::vector<double> radius_;      // per hole: its feature's radius, −1 for none
    std::vector<double> flashRadius_; // per hole: its largest flash's radius, −1 for none; empty without any
    std::vector<HoleShape> shape_;
    std::vector<std::uint8_t> connected_;
    std::vector<std::uint32_t> featured_; // the holes with a feature, as first met
    grid::CellGrid features_;             // over featured_
    std::size_t flashes_ = 0, flashesOffHoles_ = 0, connectedCount_ = 0;
};

std::optional<FilmEvidence> polarityEvidence(const PackageFile& file) {
    if (isNegative(file.gerber->imagePolarity)) return FilmEvidence::imagePolarity;
    if (isNegative(file.gerber->filePolarity)) return FilmEvidence::filePolarity;
    return std::nullopt;
}

// Antipads stand clear of the copper around the hole, so they are larger than the pads the drawn
// copper layers flash on the same holes (isolated pads are not). At least this share of the
// holes a layer shares with them, and kMinFilmHoles of them.
constexpr double kLargerThanPadsShare = 0.8;

// Whether the layer's flashes are larger than the largest pad of the drawn copper on the same
// holes (`padRadius`, per hole, −1 for none), on most holes they share.
bool largerThanPads(const HoleReading& layer, const std::vector<double>& padRadius) {
    std::size_t shared = 0, larger = 0;
    for (const auto& [h, r] : layer.flashRadius) {
        if (padRadius[h] < 0) continue;
        ++shared;
        if (r > padRadius[h] + kOnHoleMM) ++larger;
    }
    return shared >= kMinFilmHoles && static_cast<double>(larger) >= kLargerThanPadsShare * static_cast<double>(shared);
}

} // namespace

std::vector<CopperFilm> copperFilms(const PCBPackage& package) {
    std::vector<CopperFilm> out;
    std::vector<std::size_t> copper;
    for (std::size_t k = 0; k < package.files.size(); ++k) {
        const PackageFile& f = package.files[k];
        if (!f.layerType.isCopper() || !f.gerber) continue;
        if (const auto evidence = polarityEvidence(f)) out.push_back(CopperFilm{k, *evidence});
        else copper.push_back(k);
    }
    const Holes holes = copper.empty() ? Holes({}) : Holes::drilled(package);
    Work work;
    if (holes.empty()) {
        // Without drill holes a film shows itself by its thermal reliefs alone.
        for (const std::size_t k : copper) {
            const Holes flashes = Holes::flashed(*package.files[k].gerber);
            const HoleReading r = HoleFeatures(package.files[k], flashes, work).read();
            if (r.filmLike && r.filmShapes) out.push_back(CopperFilm{k, FilmEvidence::drawnClearances});
        }
    } else {
        // What each layer draws on the holes; layers with tracks or pours are drawn copper, whose
        // pads tell antipads from pads.
        std::vector<HoleReading> readings;
        std::vector<double> padRadius(holes.size(), -1.0);
        for (const std::size_t k : copper) {
            readings.push_back(HoleFeatures(package.files[k], holes, work).read());
            if (readings.back().filmLike) continue;
            for (const auto& [h, r] : readings.back().flashRadius) padRadius[h] = std::max(padRadius[h], r);
        }
        for (std::size_t i = 0; i < copper.size(); ++i) {
            const HoleReading& r = readings[i];
            if (r.filmLike && (r.filmShapes || (namedPlane(package.files[copper[i]]) && largerThanPads(r, padRadius))))
                out.push_back(CopperFilm{copper[i], FilmEvidence::drawnClearances});
        }
    }
    std::sort(out.begin(), out.end(), [](const CopperFilm& a, const CopperFilm& b) { return a.file < b.file; });
    return out;
}

std::vector<bool> drawnCopperFiles(const PCBPackage& package, const std::vector<CopperFilm>& films) {
    std::vector<bool> drawn(package.files.size(), false);
    for (std::size_t k = 0; k < package.files.size(); ++k)
        drawn[k] = package.files[k].layerType.isCopper() && package.files[k].gerber.has_value();
    for (const CopperFilm& film : films) drawn[film.file] = false;
    return drawn;
}

CheckIssue filmWarning(const PCBPackage& package, const CopperFilm& film) {
    const std::string& name = package.files[film.file].fileName;
    std::string why;
    switch (film.evidence) {
    case FilmEvidence::imagePolarity: why = "has a negative image (%IPNEG)"; break;
    case FilmEvidence::filePolarity: why = "has the file polarity Negative"; break;
    case FilmEvidence::drawnClearances:
        why = "draws a plane's antipads and thermal reliefs on the holes and no tracks";
        break;
    }
    return CheckIssue{
        "copperFilmNotMeasured",
        CheckSeverity::warning,
        "Copper film not measured",
        "Copper film not measured: '" + name + "' " + why +
            ", so it shows where its copper is not; it is left out of the copper spacing check and of the "
            "board's pads, min track and min space.",
        name,
        std::nullopt};
}

} // namespace corvane::films
