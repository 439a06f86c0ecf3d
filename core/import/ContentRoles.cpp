#include "ContentRoles.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <numeric>
#include <optional>
#include <set>
#include <unordered_map>

#include "LayerClassifier.hpp"

namespace corvane {

namespace {

// A pad drawn for a hole sits on its centre: CAD tools write both from one position, rounded to the
// files' resolution (2.4 inch format: 2.5 µm).
constexpr double kCentreToleranceMM = 0.05;
// A pad's copper rings its hole: its aperture is larger than the hole by more than rounding.
constexpr double kRingMarginMM = 0.02;
// Most of the holes, not all: mounting holes carry no pad on copper or mask.
constexpr double kMostHoles = 0.5;
// A drill symbol is drawn within about a hole's size of its centre (crosses, squares, circles of 1-2 mm).
constexpr double kSymbolReachMM = 1.5;
// No drill hole is this large: a symbol is looked for no farther out whatever size a file gives a hole.
constexpr double kLargestSymbolReachMM = 25.0;
// Strokes of a symbol balance about its hole; a track leaving a pad, or a silkscreen outline, does not.
constexpr double kSymbolBalanceShare = 0.15;
// Tracks are longer than a rounding artefact; pours cover more than the largest pad opening.
constexpr double kTrackLengthMM = 0.5;
constexpr double kPourAreaMM2 = 100.0;
// Copper carries tracks on a share of its pads at least; a mask may paint a few oblong pads.
constexpr double kTrackShare = 0.05;
constexpr std::size_t kMinTracks = 3;
// A solder mask opens over the component holes only (vias are mostly covered), each opening at least as
// large as the copper pad under it and mostly larger by the mask's expansion.
constexpr double kMaskHoleShare = 0.1;
constexpr std::size_t kMinMaskHoles = 4;
constexpr double kSizeRoundingMM = 0.005;
constexpr double kMaskNotSmallerShare = 0.9;
constexpr double kMaskLargerShare = 0.5;
// A drill-named Gerber file mostly of strokes is a drawing: drill data is flashes (and slots).
constexpr double kDrawingStrokeShare = 0.5;
// Outline ends meet within this; contours enclose the copper up to half a track's width of slack.
constexpr double kJoinToleranceMM = 0.02;
constexpr double kEnclosingSlackMM = 0.5;
// An outline fits its copper: a frame around a drawing sheet is far larger.
constexpr double kOutlineOversize = 2.0;
constexpr double kOutlineMarginMM = 10.0;

// Grid cells keyed by integer coordinates; huge coordinates are clamped so the key stays defined.
std::int64_t cellOf(double v, double cell) {
    constexpr double kLimit = 1e15;
    return static_cast<std::int64_t>(std::floor(std::clamp(v / cell, -kLimit, kLimit)));
}

// Points with an id, found again by distance.
class PointGrid {
public:
    explicit PointGrid(double cell) : cell_(cell) {}
    void add(const Vec2& p, std::size_t id) { cells_[key(cellOf(p.x, cell_), cellOf(p.y, cell_))].push_back({p, id}); }
    template <class F> void near(const Vec2& p, double radius, F&& f) const {
        if (!p.isFinite() || !(radius >= 0)) return;
        const std::int64_t x0 = cellOf(p.x - radius, cell_), x1 = cellOf(p.x + radius, cell_);
        const std::int64_t y0 = cellOf(p.y - radius, cell_), y1 = cellOf(p.y + radius, cell_);
        // A radius of many cells (a hole of a hostile size) looks at the points there are, not at every cell.
        if ((static_cast<double>(x1) - static_cast<double>(x0) + 1) * (static_cast<double>(y1) - static_cast<double>(y0) + 1) >
            static_cast<double>(cells_.size())) {
            for (const auto& [key, points] : cells_)
                for (const auto& [q, id] : points)
                    if (q.distance(p) <= radius) f(id, q);
            return;
        }
        for (std::int64_t x = x0; x <= x1; ++x)
            for (std::int64_t y = y0; y <= y1; ++y) {
                const auto it = cells_.find(key(x, y));
                if (it == cells_.end()) continue;
                for (const auto& [q, id] : it->second)
                    if (q.distance(p) <= radius) f(id, q);
            }
    }

private:
    static std::uint64_t key(std::int64_t x, std::int64_t y) {
        return static_cast<std::uint64_t>(x) * 0x9E3779B97F4A7C15ULL ^ static_cast<std::uint64_t>(y);
    }
    double cell_;
    std::unordered_map<std::uint64_t, std::vector<std::pair<Vec2, std::size_t>>> cells_;
};

struct Hole {
    Vec2 at;
    double diameter = 0;
};

std::vector<Hole> packageHoles(const std::vector<PackageFile>& files) {
    std::vector<Hole> holes;
    for (const auto& f : files) {
        if (!f.drill) continue;
        for (const auto& h : f.drill->hits) {
            const auto tool = f.drill->tools.find(h.toolNumber);
            holes.push_back({h.position, tool == f.drill->tools.end() ? 0.0 : tool->second.diameterMM});
        }
    }
    return holes;
}

bool isZeroLength(const PCBObject& o) {
    const auto* s = o.kind.as<PCBObjectKind::Stroke>();
    return s && s->start == s->end;
}

// A pad's position: a flash, or a stroke that does not move (older tools paint round pads so).
std::optional<Vec2> padCentre(const PCBObject& o) {
    if (const auto* f = o.kind.as<PCBObjectKind::Flash>()) return f->at;
    if (const auto* s = o.kind.as<PCBObjectKind::Stroke>(); s && s->start == s->end) return s->start;
    return std::nullopt;
}

double lengthOf(const PCBObject& o) {
    if (const auto* s = o.kind.as<PCBObjectKind::Stroke>()) return s->start.distance(s->end);
    if (o.kind.as<PCBObjectKind::ArcStroke>()) return std::max(o.bbox.width(), o.bbox.height());
    return 0;
}

bool isLine(const PCBObject& o) {
    return (o.kind.as<PCBObjectKind::Stroke>() && !isZeroLength(o)) || o.kind.as<PCBObjectKind::ArcStroke>();
}

// What a Gerber file draws on the package's holes.
struct OnHoles {
    std::vector<double> padOnHole;  // by hole: the largest pad centred on it, 0 for none
    std::size_t rings = 0;    // holes with a pad larger than the hole centred on them
    std::size_t marks = 0;    // holes with a flash no larger than the hole: a marker, not copper
    std::size_t symbols = 0;  // holes with a small drawing of strokes balanced about them
    std::size_t tracks = 0;
    std::size_t pours = 0;
    std::size_t lines = 0;
    std::size_t objects = 0;
};

OnHoles measureOnHoles(const GerberDocument& doc, const std::vector<Hole>& holes) {
    OnHoles m;
    PointGrid pads(1.0), lineCentres(kSymbolReachMM);
    std::vector<double> padSize;
    for (std::size_t i = 0; i < doc.objects.size(); ++i) {
        const PCBObject& o = doc.objects[i];
        if (o.polarity != Polarity::dark) continue;
        ++m.objects;
        if (const auto c = padCentre(o)) {
            pads.add(*c, padSize.size());
            padSize.push_back(o.apertureShape ? o.apertureShape->boundingDiameter() : 0.0);
        } else if (isLine(o)) {
            ++m.lines;
            if (lengthOf(o) >= kTrackLengthMM) ++m.tracks;
            lineCentres.add(o.bbox.center(), i);
        } else if (o.kind.as<PCBObjectKind::Region>() && o.bbox.width() * o.bbox.height() >= kPourAreaMM2) {
            ++m.pours;
        }
    }
    m.padOnHole.assign(holes.size(), 0.0);
    for (std::size_t k = 0; k < holes.size(); ++k) {
        const Hole& h = holes[k];
        std::optional<double> pad;
        pads.near(h.at, kCentreToleranceMM, [&](std::size_t id, const Vec2&) { pad = std::max(pad.value_or(0.0), padSize[id]); });
        if (pad) {
            const bool ring = *pad > h.diameter + kRingMarginMM;
            (ring ? m.rings : m.marks)++;
            if (ring) m.padOnHole[k] = *pad;
            continue;
        }
        // Strokes lying wholly within reach of the hole, whose centres balance on it.
        const double reach = std::clamp(h.diameter, kSymbolReachMM, kLargestSymbolReachMM);
        const BBox around{h.at.x - reach, h.at.y - reach, h.at.x + reach, h.at.y + reach};
        Vec2 sum{0, 0};
        std::size_t count = 0;
        lineCentres.near(h.at, reach, [&](std::size_t id, const Vec2& c) {
            const BBox& b = doc.objects[id].bbox;
            if (b.minX < around.minX || b.minY < around.minY || b.maxX > around.maxX || b.maxY > around.maxY) return;
            sum = Vec2{sum.x + c.x, sum.y + c.y};
            ++count;
        });
        if (count > 0 && Vec2{sum.x / count, sum.y / count}.distance(h.at) <= kSymbolBalanceShare * reach) ++m.symbols;
    }
    return m;
}

bool most(std::size_t part, std::size_t whole) {
    return whole > 0 && static_cast<double>(part) >= kMostHoles * static_cast<double>(whole);
}

bool isDrawing(const OnHoles& m, std::size_t holes) {
    return most(m.symbols, holes) || (most(m.marks, holes) && m.lines > 0);
}

enum class Found : std::uint8_t { nothing, copper, mask, drawing };

bool carriesTracks(const OnHoles& m) {
    return m.tracks >= std::max<std::size_t>(kMinTracks, static_cast<std::size_t>(kTrackShare * (m.rings + m.marks))) ||
           m.pours > 0;
}

// What a file is by what it draws on the holes alone: copper rings most of them and carries tracks.
Found classifyByHoles(const OnHoles& m, std::size_t holes) {
    if (most(m.rings, holes) && carriesTracks(m)) return Found::copper;
    return isDrawing(m, holes) ? Found::drawing : Found::nothing;
}

// A mask opens over a share of the holes with openings no smaller than the copper's pads there, mostly
// larger. Without copper to compare with, pads alone on most holes.
bool isMask(const OnHoles& m, const std::vector<double>& copperPads, std::size_t holes) {
    if (m.rings < std::max(kMinMaskHoles, static_cast<std::size_t>(kMaskHoleShare * static_cast<double>(holes)))) return false;
    std::size_t shared = 0, notSmaller = 0, larger = 0;
    for (std::size_t k = 0; k < copperPads.size(); ++k) {
        if (m.padOnHole[k] <= 0 || copperPads[k] <= 0) continue;
        ++shared;
        if (m.padOnHole[k] >= copperPads[k] - kSizeRoundingMM) ++notSmaller;
        if (m.padOnHole[k] > copperPads[k] + kSizeRoundingMM) ++larger;
    }
    if (shared == 0) return most(m.rings, holes) && !carriesTracks(m);
    // Openings the size of the pads (no expansion) tell a mask from inner copper by the tracks it lacks.
    return shared >= kMinMaskHoles && notSmaller >= kMaskNotSmallerShare * static_cast<double>(shared) &&
           (larger >= kMaskLargerShare * static_cast<double>(shared) || !carriesTracks(m));
}

// --- sides of inferred copper and masks --------------------------------------------------------

struct Inferred {
    std::size_t file;
    Found found;
};

bool hasSide(const std::vector<PackageFile>& files, bool copper, const CopperLayerID& side) {
    for (const auto& f : files) {
        const LayerType& t = f.layerType;
        const auto s = t.side();
        if (s && *s == side && (copper ? t.isCopper() : t.as<LayerType::SolderMask>() != nullptr)) return true;
    }
    return false;
}

std::int64_t highestInner(const std::vector<PackageFile>& files) {
    std::int64_t n = 0;
    for (const auto& f : files)
        if (const auto* c = f.layerType.as<LayerType::Copper>())
            if (const auto* in = c->side.as<CopperLayerID::Inner>()) n = std::max(n, in->number);
    return n;
}

// Sides from the names where they say one; the rest by their order: the first unnamed file on the free
// top, the last on the free bottom, copper between them inner in order.
void placeSides(std::vector<PackageFile>& files, const std::vector<std::size_t>& found, bool copper) {
    auto roleFor = [&](const CopperLayerID& side) { return copper ? LayerType::copper(side) : LayerType::solderMask(side); };
    std::vector<std::size_t> unnamed;
    for (std::size_t i : found) {
        if (auto side = LayerClassifier::sideNamed(files[i].fileName)) files[i].layerType = roleFor(*side);
        else unnamed.push_back(i);
    }
    if (unnamed.empty()) return;
    // Until placed, the unnamed files hold no side.
    for (std::size_t i : unnamed) files[i].layerType = LayerType::unknown();
    std::size_t first = 0, end = unnamed.size();
    if (!hasSide(files, copper, CopperLayerID::top())) files[unnamed[first++]].layerType = roleFor(CopperLayerID::top());
    if (first < end && !hasSide(files, copper, CopperLayerID::bottom()))
        files[unnamed[--end]].layerType = roleFor(CopperLayerID::bottom());
    std::int64_t inner = highestInner(files);
    for (std::size_t k = first; k < end; ++k)
        if (copper) files[unnamed[k]].layerType = LayerType::copper(CopperLayerID::inner(++inner));
}

// --- the outline -------------------------------------------------------------------------------

// Ends of lines joined into contours: a contour is closed when no end is left loose.
class Joins {
public:
    std::size_t node(const Vec2& p) {
        std::optional<std::size_t> found;
        grid_.near(p, kJoinToleranceMM, [&](std::size_t id, const Vec2&) { found = found ? std::min(*found, id) : id; });
        if (found) return *found;
        const std::size_t id = parent_.size();
        parent_.push_back(id);
        degree_.push_back(0);
        grid_.add(p, id);
        return id;
    }
    std::size_t root(std::size_t n) {
        while (parent_[n] != n) n = parent_[n] = parent_[parent_[n]];
        return n;
    }
    void link(std::size_t a, std::size_t b) {
        ++degree_[a];
        ++degree_[b];
        parent_[root(a)] = root(b);
    }
    std::size_t degree(std::size_t n) const { return degree_[n]; }
    std::size_t size() const { return parent_.size(); }

private:
    PointGrid grid_{1.0};
    std::vector<std::size_t> parent_;
    std::vector<std::size_t> degree_;
};

bool encloses(const BBox& outer, const BBox& inner) {
    const BBox grown = outer.outset(kEnclosingSlackMM);
    return grown.minX <= inner.minX && grown.minY <= inner.minY && inner.maxX <= grown.maxX && inner.maxY <= grown.maxY;
}

bool fits(const BBox& contour, const BBox& copper) {
    return contour.width() <= kOutlineOversize * copper.width() + kOutlineMarginMM &&
           contour.height() <= kOutlineOversize * copper.height() + kOutlineMarginMM;
}

// A closed contour around the copper: its box and how many of the file's drawn objects it takes.
struct Enclosing {
    BBox box;
    std::size_t objects = 0;
};

// The closed contours of a file that enclose the copper: chains of lines whose ends all meet, and regions.
std::vector<Enclosing> enclosingContours(const GerberDocument& doc, const BBox& copper) {
    Joins joins;
    std::vector<std::pair<std::size_t, BBox>> pieces;  // a line's first node and its box
    std::vector<Enclosing> found;
    for (const PCBObject& o : doc.objects) {
        if (o.polarity != Polarity::dark) continue;
        if (const auto* r = o.kind.as<PCBObjectKind::Region>()) {
            for (const Contour& c : r->contours) {
                BBox b = BBox::empty();
                for (const Vec2& p : c) b.include(p);
                if (encloses(b, copper)) found.push_back({b, 1});
            }
            continue;
        }
        Vec2 a, b;
        if (const auto* s = o.kind.as<PCBObjectKind::Stroke>()) {
            if (s->start == s->end) continue;
            a = s->start, b = s->end;
        } else if (const auto* arc = o.kind.as<PCBObjectKind::ArcStroke>()) {
            a = arc->start, b = arc->end;
        } else {
            continue;
        }
        const std::size_t na = joins.node(a), nb = joins.node(b);
        joins.link(na, nb);
        pieces.push_back({na, o.bbox});
    }
    std::map<std::size_t, Enclosing> chains;
    for (const auto& [n, box] : pieces) {
        Enclosing& chain = chains.try_emplace(joins.root(n), Enclosing{BBox::empty(), 0}).first->second;
        chain.box.include(box);
        ++chain.objects;
    }
    std::set<std::size_t> open;
    for (std::size_t n = 0; n < joins.size(); ++n)
        if (joins.degree(n) < 2) open.insert(joins.root(n));
    for (const auto& [root, chain] : chains)
        if (!open.contains(root) && encloses(chain.box, copper)) found.push_back(chain);
    return found;
}

std::size_t darkObjects(const GerberDocument& doc) {
    return static_cast<std::size_t>(std::count_if(doc.objects.begin(), doc.objects.end(),
                                                   [](const PCBObject& o) { return o.polarity == Polarity::dark; }));
}

std::optional<std::size_t> outlineByContour(const std::vector<PackageFile>& files) {
    BBox copper = BBox::empty();
    for (const auto& f : files) {
        if (f.layerType.isOutline()) return std::nullopt;
        if (f.layerType.isCopper() && f.gerber && f.gerber->bbox.isValid()) copper.include(f.gerber->bbox);
    }
    if (!copper.isValid()) return std::nullopt;
    // Files holding one such contour; a silkscreen may draw the board's edge too, beside its text, so where
    // several do, the one that holds little else is the outline.
    std::vector<std::size_t> holding, mostlyContour;
    for (std::size_t i = 0; i < files.size(); ++i) {
        const auto& f = files[i];
        if (!f.layerType.isUnknown() || f.confidence != DetectionConfidence::low || !f.gerber) continue;
        const std::vector<Enclosing> contours = enclosingContours(*f.gerber, copper);
        if (contours.size() != 1 || !fits(contours.front().box, copper)) continue;
        holding.push_back(i);
        if (2 * contours.front().objects >= darkObjects(*f.gerber)) mostlyContour.push_back(i);
    }
    if (holding.size() == 1) return holding.front();
    if (mostlyContour.size() == 1) return mostlyContour.front();
    return std::nullopt;  // several candidates alike: none is surely the outline
}

std::string inferredWarning(const PackageFile& f, bool drawing) {
    return "Inferred from content: '" + f.fileName + "' is " +
           (drawing ? std::string("a drill drawing (documentation)") : f.layerType.displayName()) + ".";
}

bool unplacedGerber(const PackageFile& f) {
    return f.layerType.isUnknown() && f.confidence == DetectionConfidence::low && f.gerber && !f.gerber->fileFunction;
}

bool drillNamedGerber(const PackageFile& f) { return f.layerType.isDrill() && f.gerber && !f.gerber->fileFunction; }

} // namespace

std::vector<std::string> inferRolesFromContent(std::vector<PackageFile>& files) {
    const std::vector<Hole> holes = packageHoles(files);
    // First copper and drawings by what they draw on the holes, then masks against the copper's pads.
    std::vector<Inferred> inferred;
    std::vector<std::pair<std::size_t, OnHoles>> undecided;
    std::vector<double> copperPads(holes.size(), 0.0);
    auto addCopperPads = [&](const OnHoles& m) {
        for (std::size_t k = 0; k < holes.size(); ++k) copperPads[k] = std::max(copperPads[k], m.padOnHole[k]);
    };
    std::vector<std::size_t> namedCopper;
    for (std::size_t i = 0; i < files.size(); ++i) {
        const PackageFile& f = files[i];
        if (f.layerType.isCopper() && f.gerber) namedCopper.push_back(i);
        if (!unplacedGerber(f) && !drillNamedGerber(f)) continue;
        OnHoles m = measureOnHoles(*f.gerber, holes);
        Found found = holes.empty() ? Found::nothing : classifyByHoles(m, holes.size());
        // Without holes to compare with, a drill-named file of strokes is still a drawing.
        if (holes.empty() && drillNamedGerber(f) && m.lines >= kDrawingStrokeShare * static_cast<double>(m.objects) && m.lines > 0)
            found = Found::drawing;
        if (drillNamedGerber(f) && found != Found::drawing) continue;
        if (found == Found::copper) addCopperPads(m);
        if (found != Found::nothing) inferred.push_back({i, found});
        else if (!holes.empty()) undecided.emplace_back(i, std::move(m));
    }
    // The named copper's pads matter only to files still undecided, as most packages have none.
    if (!undecided.empty())
        for (std::size_t i : namedCopper) addCopperPads(measureOnHoles(*files[i].gerber, holes));
    for (const auto& [i, m] : undecided)
        if (isMask(m, copperPads, holes.size())) inferred.push_back({i, Found::mask});
    std::stable_sort(inferred.begin(), inferred.end(), [](const Inferred& a, const Inferred& b) { return a.file < b.file; });

    std::vector<std::size_t> copper, masks;
    for (const auto& [i, found] : inferred) {
        if (found == Found::copper) copper.push_back(i);
        if (found == Found::mask) masks.push_back(i);
        if (found == Found::drawing) files[i].layerType = LayerType::unknown();
        files[i].confidence = DetectionConfidence::medium;
    }
    placeSides(files, copper, true);
    placeSides(files, masks, false);

    std::vector<std::string> warnings;
    for (const auto& [i, found] : inferred) {
        // A third mask has no side left: it stays unknown, with the note every unknown file gets.
        if (found != Found::drawing && files[i].layerType.isUnknown()) {
            files[i].confidence = DetectionConfidence::low;
            continue;
        }
        warnings.push_back(inferredWarning(files[i], found == Found::drawing));
    }
    if (const auto outline = outlineByContour(files)) {
        files[*outline].layerType = LayerType::outline();
        files[*outline].confidence = DetectionConfidence::medium;
        warnings.push_back(inferredWarning(files[*outline], false));
    }
    return warnings;
}

} // namespace corvane
