#include "CopperFilms.hpp"

#include <algorithm>
#include <cmath>
#include <optional>
#include <string_view>
#include <unordered_map>

#include "CellGrid.hpp"
#include "CopperBodies.hpp"
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
// Thermal reliefs show a film when at least one hole feature in this many is one, and at least
// kMinThermals are.
constexpr std::size_t kThermalShare = 20;
constexpr std::size_t kMinThermals = 4;
// A film draws its split lines, its border and perhaps its title; a plane painted with strokes,
// or a signal layer, draws many more strokes than it has holes.
constexpr std::size_t kFilmStrokesPerHole = 2;
constexpr std::size_t kFilmStrokesBesides = 200;
// Filled areas covering this share of the file's box are a pour: drawn copper.
constexpr double kMostFilmRegionShare = 0.05;
// Inside tests of hole features against filled areas one file may cost; past them the file is
// taken as drawn copper, as every file was before films were known.
constexpr std::size_t kMaxContainmentWork = 20'000'000;
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
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) out.push_back(c >= 'a' ? static_cast<char>(c - 'a' + 'A') : c);
    return out;
}

// What a flash on a hole draws there, by its aperture.
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
    if (name.find("THERM") != std::string::npos || name == "TER" || name == "THR" || name == "THRM") return HoleShape::thermal;
    if (name.find("ANNUL") != std::string::npos || name.find("DONUT") != std::string::npos || name == "ANN" || name == "RING")
        return HoleShape::donut;
    if (m->outline && !m->outline->empty() && std::none_of(m->outline->begin(), m->outline->end(), [](const Contour& c) {
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

// Every drill hit of the package, on a grid to find the one a point is centred on.
class Holes {
public:
    explicit Holes(const PCBPackage& package) {
        for (const auto& f : package.files) {
            if (!f.drill) continue;
            for (const DrillHit& h : f.drill->hits) {
                if (!h.position.isFinite()) continue;
                const auto tool = f.drill->tools.find(h.toolNumber);
                const double d = tool != f.drill->tools.end() && std::isfinite(tool->second.diameterMM) ? tool->second.diameterMM : 0.0;
                holes_.push_back(Hole{h.position, std::max(d, 0.0) * 0.5});
            }
        }
        std::vector<grid::CellRange> cells;
        cells.reserve(holes_.size());
        for (const Hole& h : holes_) cells.push_back(grid::rangeOf(BBox{h.at.x, h.at.y, h.at.x, h.at.y}, kHoleCellMM));
        grid_.build(cells, unlisted_, noStop);
    }

    bool empty() const { return holes_.empty(); }
    std::size_t size() const { return holes_.size(); }
    const Hole& operator[](std::size_t k) const { return holes_[k]; }

    // The hole p is centred on: the nearest within kOnHoleMM, the first listed of equals.
    std::optional<std::uint32_t> centredAt(const Vec2& p) const {
        if (!p.isFinite()) return std::nullopt;
        std::optional<std::uint32_t> best;
        double bestDistance = kOnHoleMM;
        const BBox around{p.x - kOnHoleMM, p.y - kOnHoleMM, p.x + kOnHoleMM, p.y + kOnHoleMM};
        grid::walkWindow(grid_, unlisted_, grid::rangeOf(around, kHoleCellMM), static_cast<std::uint32_t>(holes_.size()),
                         [&](std::uint32_t k) {
                             const double d = holes_[k].at.distance(p);
                             if (d < bestDistance || (d == bestDistance && (!best || k < *best))) {
                                 best = k;
                                 bestDistance = d;
                             }
                             return false;
                         },
                         noStop);
        return best;
    }

private:
    std::vector<Hole> holes_;
    grid::CellGrid grid_;
    std::vector<std::uint32_t> unlisted_;  // holes the grid could not hold, met by every search
};

// What one layer draws on the package's holes.
class HoleFeatures {
public:
    HoleFeatures(const PackageFile& file, const Holes& holes)
        : doc_(*file.gerber), holes_(holes), radius_(holes.size(), -1.0), shape_(holes.size(), HoleShape::plain),
          connected_(holes.size(), 0) {}

    // Whether the layer reads as a film, all counts taken.
    bool isFilm(bool named) {
        readFlashesAndRings();
        if (featured_.size() < kMinFilmHoles || flashesOffHoles_ * kOffHoleShare > flashes_ || isPoured()) return false;
        if (!readStrokes() || !readRegions()) return false;
        std::size_t thermals = 0, donuts = 0;
        for (const std::uint32_t h : featured_) {
            thermals += shape_[h] == HoleShape::thermal ? 1 : 0;
            donuts += shape_[h] == HoleShape::donut ? 1 : 0;
        }
        const std::size_t n = featured_.size();
        return thermals >= std::max(kMinThermals, n / kThermalShare) || donuts * 2 >= n || named;
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
                const auto h = holes_.centredAt(f->at);
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
            } else if (auto a = o.kind.as<PCBObjectKind::ArcStroke>()) {
                const auto h = holes_.centredAt(a->center);
                const double r = a->start.distance(a->center);
                if (h && r > holes_[*h].radius && r <= kMostFeatureRadiusMM) feature(*h, r, HoleShape::thermal);
            }
        }
    }

    // Tracks leaving the hole features, and spokes cut across them: strokes and arcs that are
    // not rings of a hole. False when the layer has too many strokes for a film.
    bool readStrokes() {
        std::vector<grid::CellRange> cells;
        for (const std::uint32_t h : featured_) cells.push_back(grid::rangeOf(featureBox(h), kFeatureCellMM));
        std::vector<std::uint32_t> unlisted;
        features_.build(cells, unlisted, noStop);
        // Features too many for the grid would make every search walk them: no film is that large.
        if (!unlisted.empty()) return false;
        std::size_t strokes = 0;
        for (const PCBObject& o : doc_.objects) {
            if (!drawsCopper(o)) continue;
            Vec2 a, b;
            if (auto s = o.kind.as<PCBObjectKind::Stroke>()) {
                a = s->start;
                b = s->end;
            } else if (auto arc = o.kind.as<PCBObjectKind::ArcStroke>()) {
                if (holes_.centredAt(arc->center)) continue;
                a = arc->start;
                b = arc->end;
            } else {
                continue;
            }
            if (o.polarity == Polarity::clear) {
                markSpoke(a, b);
                continue;
            }
            if (++strokes > featured_.size() * kFilmStrokesPerHole + kFilmStrokesBesides) return false;
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
            if (closestPointsSegSeg(a, b, hole.at, hole.at).distance <= std::max(hole.radius, kOnHoleMM)) shape_[h] = HoleShape::thermal;
        });
    }

    // Whether filled areas cover so much of the file that they are a pour.
    bool isPoured() const {
        double area = 0;
        for (const PCBObject& o : doc_.objects) {
            const auto g = o.kind.as<PCBObjectKind::Region>();
            if (!g || o.polarity == Polarity::clear) continue;
            for (const Contour& c : g->contours) {
                double twice = 0;
                for (std::size_t i = 0, j = c.size() - 1; i < c.size(); j = i++) twice += c[j].x * c[i].y - c[i].x * c[j].y;
                area += std::fabs(twice) * 0.5;
            }
        }
        const BBox& box = doc_.bbox;
        return area > kMostFilmRegionShare * (box.isValid() ? box.width() * box.height() : 0.0);
    }

    // Hole features inside filled areas are pads in a pour. False once too many are for a film, or
    // the tests cost too much.
    bool readRegions() {
        std::size_t work = 0;
        for (const PCBObject& o : doc_.objects) {
            const auto g = o.kind.as<PCBObjectKind::Region>();
            if (!g || o.polarity == Polarity::clear) continue;
            std::size_t points = 0;
            for (const Contour& c : g->contours) points += c.size();
            const grid::CellRange window = grid::rangeOf(o.bbox, kFeatureCellMM);
            work += static_cast<std::size_t>(window.cellCount());
            // Drawn copper, or too costly to tell.
            bool drawn = work > kMaxContainmentWork;
            // A feature listed in several cells is tested in each: the work counts every test.
            grid::walkWindow(features_, {}, window, static_cast<std::uint32_t>(featured_.size()),
                             [&](std::uint32_t k) {
                                 work += points;
                                 if (drawn || work > kMaxContainmentWork) return drawn = true;
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
    std::vector<double> radius_;  // per hole: its feature's radius, −1 for none
    std::vector<HoleShape> shape_;
    std::vector<std::uint8_t> connected_;
    std::vector<std::uint32_t> featured_;  // the holes with a feature, as first met
    grid::CellGrid features_;              // over featured_
    std::size_t flashes_ = 0, flashesOffHoles_ = 0, connectedCount_ = 0;
};

std::optional<FilmEvidence> evidenceOf(const PackageFile& file, const std::optional<Holes>& holes) {
    if (isNegative(file.gerber->imagePolarity)) return FilmEvidence::imagePolarity;
    if (isNegative(file.gerber->filePolarity)) return FilmEvidence::filePolarity;
    if (holes && HoleFeatures(file, *holes).isFilm(namedPlane(file))) return FilmEvidence::drawnClearances;
    return std::nullopt;
}

} // namespace

std::vector<CopperFilm> copperFilms(const PCBPackage& package) {
    std::optional<Holes> holes;
    std::vector<CopperFilm> out;
    for (std::size_t k = 0; k < package.files.size(); ++k) {
        const PackageFile& f = package.files[k];
        if (!f.layerType.isCopper() || !f.gerber) continue;
        if (!holes) {
            holes.emplace(package);
            if (holes->empty()) holes.reset();
        }
        if (const auto evidence = evidenceOf(f, holes)) out.push_back(CopperFilm{k, *evidence});
    }
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
    case FilmEvidence::drawnClearances: why = "draws a plane's antipads and thermal reliefs on the holes and no tracks"; break;
    }
    return CheckIssue{"copperFilmNotMeasured",
                      CheckSeverity::warning,
                      "Copper film not measured",
                      "Copper film not measured: '" + name + "' " + why +
                          ", so it shows where its copper is not; it is left out of the copper spacing check and of the "
                          "board's pads, min track and min space.",
                      name,
                      std::nullopt};
}

} // namespace corvane::films
