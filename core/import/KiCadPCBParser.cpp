#include "KiCadPCBParser.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <numbers>
#include <optional>
#include <span>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "LayerOrder.hpp"
#include "model/GeometryEngine.hpp"
#include "io/SizeLimits.hpp"
#include "model/Format.hpp"
#include "io/TextDecoding.hpp"

namespace corvane {

namespace {

constexpr std::string_view kWarning = "Imported from KiCad PCB \xE2\x80\x94 component/net metadata comes from footprints.";
constexpr std::string_view kDrillFileName = "kicad-vias.drl";
// The format version KiCad 5 wrote; KiCad 6 and later write higher ones.
constexpr double kLastKiCad5Version = 20171130;

bool endsWith(std::string_view s, std::string_view suffix) {
    return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

// Inner layer number written in an "In<n>.Cu" name.
std::optional<std::int64_t> innerNumber(std::string_view name) {
    if (name.size() < 6 || name.substr(0, 2) != "In" || !endsWith(name, ".Cu")) return std::nullopt;
    const std::string_view digits = name.substr(2, name.size() - 5);
    if (digits.empty()) return std::nullopt;
    for (char c : digits)
        if (c < '0' || c > '9') return std::nullopt;
    std::int64_t n = 0;
    if (!parseInt64(digits, n)) return std::nullopt;
    return n;
}

// Exact values at multiples of 90 degrees keep axis-aligned pads free of rounding noise.
std::pair<double, double> sinCosDegrees(double degrees) {
    if (!std::isfinite(degrees)) return {0.0, 1.0};
    const double r = std::fmod(degrees, 360.0);
    const double a = r < 0 ? r + 360.0 : r;
    if (a == 0.0) return {0.0, 1.0};
    if (a == 90.0) return {1.0, 0.0};
    if (a == 180.0) return {0.0, -1.0};
    if (a == 270.0) return {-1.0, 0.0};
    const double rad = a * std::numbers::pi / 180.0;
    return {std::sin(rad), std::cos(rad)};
}

// KiCad's rotation in its own y-down coordinates: a positive angle turns counter-clockwise on screen.
Vec2 rotateKiCad(const Vec2& p, double degrees) {
    const auto [s, c] = sinCosDegrees(degrees);
    return Vec2{p.x * c + p.y * s, -p.x * s + p.y * c};
}

// KiCad's y axis points down; the board's Gerber plots (and this model) point up.
Vec2 toBoard(const Vec2& kicad) { return Vec2{kicad.x, 0.0 - kicad.y}; }

Vec2 xyOf(const SExprNode& n) { return Vec2{n.doubleAt(0), n.doubleAt(1)}; }

// Points of a polygon: every xy of every pts list, else the node's own xy children.
Contour polygonPoints(const SExprNode& poly) {
    Contour points;
    for (const auto& child : poly.children) {
        if (child->name != "pts") continue;
        for (const auto& xy : child->children)
            if (xy->name == "xy") points.push_back(xyOf(*xy));
    }
    if (points.empty()) {
        for (const auto& xy : poly.children)
            if (xy->name == "xy") points.push_back(xyOf(*xy));
    }
    return points;
}

// Line width of a board graphic: a width list, or the one inside its stroke list.
double graphicWidth(const SExprNode& g) {
    if (const SExprNode* w = g.firstChild("width")) return w->doubleAt(0);
    if (const SExprNode* stroke = g.firstChild("stroke"))
        if (const SExprNode* w = stroke->firstChild("width")) return w->doubleAt(0);
    return 0.1;
}

// A flag list: bare in older files, "yes" or "no" in newer ones.
bool flagSet(const SExprNode& element, std::string_view name) {
    const SExprNode* flag = element.firstChild(name);
    return flag && (flag->strings.empty() || flag->strings.front() != "no");
}

// A graphic whose fill is switched off is an outline, not a filled area.
bool fillIsOff(const SExprNode& g) {
    const SExprNode* fill = g.firstChild("fill");
    if (!fill || fill->strings.empty()) return false;
    const std::string_view f = fill->strings.front();
    return f == "none" || f == "no";
}

PCBObject makeObject(PCBObjectKind kind, std::optional<ApertureShape> shape, std::optional<std::string> net,
                     std::optional<std::string> component, std::optional<std::string> function) {
    return PCBObject(std::move(kind), std::nullopt, std::move(shape), Polarity::dark, std::move(net),
                     std::move(component), std::nullopt, std::move(function), 0);
}

enum class PadForm { circle, rectangle, obround, roundRect, trapezoid };

// Corners of a pad in the order its outline runs through them (in KiCad's y-down pad coordinates:
// top right, bottom right, bottom left, top left), as bits of the set a chamfer list names.
enum PadCorner : unsigned { topRight = 1, bottomRight = 2, bottomLeft = 4, topLeft = 8 };

// The copper form of a pad in its own coordinates, before it is turned and placed.
struct PadShape {
    PadForm form = PadForm::circle;
    double w = 0, h = 0;
    double cornerRadius = 0;  // rounded rectangles
    Vec2 delta;               // trapezoids
    double chamfer = 0;       // how far a chamfered corner is cut back along each side
    unsigned chamfered = 0;   // PadCorner bits
};

// A plated hole on the board: a slot from a to b, or a round hole where they are one point.
struct Hole {
    Vec2 a, b;
    double radius = 0;
};

double distanceSegments(const Vec2& a, const Vec2& b, const Vec2& c, const Vec2& d) {
    const auto side = [](const Vec2& p, const Vec2& q, const Vec2& r) { return (q.x - p.x) * (r.y - p.y) - (q.y - p.y) * (r.x - p.x); };
    const double s1 = side(a, b, c), s2 = side(a, b, d), s3 = side(c, d, a), s4 = side(c, d, b);
    if (((s1 < 0 && s2 > 0) || (s1 > 0 && s2 < 0)) && ((s3 < 0 && s4 > 0) || (s3 > 0 && s4 < 0))) return 0;
    return std::min({GeometryEngine::distancePointSegment(a, c, d), GeometryEngine::distancePointSegment(b, c, d),
                     GeometryEngine::distancePointSegment(c, a, b), GeometryEngine::distancePointSegment(d, a, b)});
}

// Copper by layer and net that can keep a pad's or via's ring on a layer where it would shed it:
// tracks, zone fills, the rings of vias and pads that keep theirs. KiCad counts a ring as used
// where such copper reaches its plated hole, or where a zone fill holds the end of a thermal spoke.
class Connections {
public:
    void addTrack(const std::string& layer, const std::string& net, const Vec2& a, const Vec2& b, double width) {
        lists_[key(layer, net)].tracks.push_back(Track{a, b, width});
    }
    // A fill whose copper reaches `margin` past its polygon.
    void addFill(const std::string& layer, const std::string& net, Contour fill, double margin) {
        lists_[key(layer, net)].fills.push_back(Fill{std::move(fill), margin});
    }
    void addVia(const std::string& layer, const std::string& net, const Vec2& centre, double diameter) {
        lists_[key(layer, net)].vias.push_back(Track{centre, centre, diameter});
    }
    void addPad(const std::string& layer, const std::string& net, Contour outline) {
        lists_[key(layer, net)].pads.push_back(std::move(outline));
    }

    // Whether a track, a pad's copper or (with `vias`) a via's ring of the net reaches the hole.
    bool reachesHole(const std::string& layer, const std::optional<std::string>& net, const Hole& hole, bool vias) const {
        const Lists* l = find(layer, net);
        if (!l) return false;
        for (const Track& t : l->tracks)
            if (distanceSegments(hole.a, hole.b, t.a, t.b) <= hole.radius + t.width / 2) return true;
        if (vias)
            for (const Track& v : l->vias)
                if (GeometryEngine::distancePointSegment(v.a, hole.a, hole.b) <= hole.radius + v.width / 2) return true;
        const Vec2 middle = (hole.a + hole.b) * 0.5;
        for (const Contour& pad : l->pads)
            for (const Vec2& p : {hole.a, middle, hole.b})
                if (GeometryEngine::distancePointPolygon(p, pad) <= hole.radius) return true;
        return false;
    }

    // Whether a zone fill of the net on the layer holds one of the points.
    bool fillHolds(const std::string& layer, const std::optional<std::string>& net, std::span<const Vec2> points) const {
        const Lists* l = find(layer, net);
        if (!l) return false;
        for (const Fill& fill : l->fills)
            for (const Vec2& p : points)
                if (GeometryEngine::distancePointPolygon(p, fill.outline) <= fill.margin) return true;
        return false;
    }

private:
    struct Track {
        Vec2 a, b;
        double width = 0;
    };
    struct Fill {
        Contour outline;
        double margin = 0;
    };
    struct Lists {
        std::vector<Track> tracks;
        std::vector<Fill> fills;
        std::vector<Track> vias;
        std::vector<Contour> pads;
    };
    static std::string key(const std::string& layer, const std::string& net) { return layer + '\n' + net; }
    const Lists* find(const std::string& layer, const std::optional<std::string>& net) const {
        if (!net) return nullptr;
        auto it = lists_.find(key(layer, *net));
        return it == lists_.end() ? nullptr : &it->second;
    }
    std::unordered_map<std::string, Lists> lists_;
};

class BoardReader {
public:
    BoardReader(const SExprNode& root, std::string fileName) : root_(root), fileName_(std::move(fileName)) {}

    PCBPackage read() {
        readNetTable();
        readDeclaredLayers();
        readConnections();
        for (const auto& child : root_.children)
            if (child->name == "footprint") readFootprint(*child);
        for (const auto& child : root_.children)
            if (child->name == "segment") readSegment(*child);
        readVias();
        for (const auto& child : root_.children)
            if (child->name == "zone") readZone(*child);
        for (const auto& child : root_.children) readGraphic(*child);
        if (layerNames_.empty()) throw KiCadParseError::malformed("no recognized layers");
        return finish();
    }

private:
    // ---- nets and layers -------------------------------------------------------------------

    void readNetTable() {
        for (const auto& child : root_.children) {
            if (child->name != "net" || child->strings.empty() || child->bareDoubles.empty()) continue;
            if (auto number = netNumber(*child)) netTable_.try_emplace(*number, std::string(child->strings.back()));
        }
    }

    static std::optional<std::int64_t> netNumber(const SExprNode& net) {
        const double d = net.doubleAt(0);
        if (net.bareDoubles.empty() || !std::isfinite(d) || d != std::floor(d) || std::fabs(d) > 9.0e15)
            return std::nullopt;
        return static_cast<std::int64_t>(d);
    }

    // The element's net: the name in its net list, else the board's name for the net number.
    // An empty name is KiCad's "no net" and gives none, so unconnected copper never shares a net.
    std::optional<std::string> netOf(const SExprNode& element) const {
        const SExprNode* net = element.firstChild("net");
        if (!net) return std::nullopt;
        std::optional<std::string> name;
        if (!net->strings.empty()) {
            name = std::string(net->strings.back());
        } else if (auto number = netNumber(*net)) {
            auto it = netTable_.find(*number);
            if (it != netTable_.end()) name = it->second;
        }
        if (name && name->empty()) return std::nullopt;
        return name;
    }

    // Where tracks, zone fills and the rings that stay lie, before pads and vias decide the layers
    // they keep rings on.
    // Only a pad or via that may shed rings asks where they lie, and most boards have none.
    void readConnections() {
        if (!anyRingMayGo()) return;
        const auto stack = copperStack();
        for (const auto& child : root_.children) {
            if (child->name == "footprint") {
                registerPadCopper(*child);
            } else if (child->name == "via") {
                const ViaSpan via = viaSpan(*child);
                if (!via.net || via.trimmed) continue;
                for (const auto& layer : stack)
                    if (via.spans(layer)) connections_.addVia(layer, *via.net, via.position, via.diameter);
            } else if (child->name == "segment") {
                const SExprNode* start = child->firstChild("start");
                const SExprNode* end = child->firstChild("end");
                auto layer = child->firstString("layer");
                auto net = netOf(*child);
                const SExprNode* width = child->firstChild("width");
                if (start && end && layer && net)
                    connections_.addTrack(std::string(*layer), *net, toBoard(xyOf(*start)), toBoard(xyOf(*end)),
                                          width ? width->doubleAt(0) : 0.2);
            } else if (child->name == "zone") {
                auto net = zoneNet(*child);
                if (!net) continue;
                const double stroke = fillStroke(*child);
                for (const auto& poly : child->children) {
                    if (poly->name != "filled_polygon") continue;
                    Contour points = polygonPoints(*poly);
                    for (auto& p : points) p = toBoard(p);
                    if (points.size() >= 3) connections_.addFill(fillLayer(*child, *poly), *net, std::move(points), stroke / 2);
                }
            }
        }
    }

    bool anyRingMayGo() const {
        for (const auto& child : root_.children) {
            if (child->name == "via" && flagSet(*child, "remove_unused_layers")) return true;
            if (child->name != "footprint") continue;
            for (const auto& pad : child->children)
                if (pad->name == "pad" && flagSet(*pad, "remove_unused_layers")) return true;
        }
        return false;
    }

    void readDeclaredLayers() {
        const SExprNode* layers = root_.firstChild("layers");
        if (!layers) return;
        for (const auto& entry : layers->children) {
            if (entry->strings.empty()) continue;
            const std::string_view name = entry->strings.front();
            if (endsWith(name, ".Cu") && name != "F.Cu" && name != "B.Cu" && name != "*.Cu" && name != "F&B.Cu")
                declaredInner_.emplace_back(name);
        }
    }

    // Copper layers a pad's layer entry stands for.
    void expandCopper(std::string_view entry, std::vector<std::string>& out) const {
        if (entry == "*.Cu") {
            out.emplace_back("F.Cu");
            out.insert(out.end(), declaredInner_.begin(), declaredInner_.end());
            out.emplace_back("B.Cu");
        } else if (entry == "F&B.Cu") {
            out.emplace_back("F.Cu");
            out.emplace_back("B.Cu");
        } else if (endsWith(entry, ".Cu")) {
            out.emplace_back(entry);
        }
    }

    void add(const std::string& layer, PCBObject object) {
        // Numbers such as inf, nan and 1e999999 read as numbers; what they place is no copper.
        if (!object.isFinite()) {
            leftOutNotFinite_ = true;
            return;
        }
        count(object);
        intern_(object);
        auto it = layerIndex_.find(layer);
        if (it != layerIndex_.end()) {
            documents_[it->second].objects.push_back(std::move(object));
            return;
        }
        // Every layer becomes a file of the package, and the drill file comes on top.
        requirePackageFileCount(documents_.size() + 2);
        layerIndex_.emplace(layer, documents_.size());
        layerNames_.push_back(layer);
        GerberDocument doc;
        doc.format = SourceFormat::unknown;
        doc.units = Units::mm;
        doc.objects.push_back(std::move(object));
        documents_.push_back(std::move(doc));
    }

    // ---- drills ----------------------------------------------------------------------------

    std::int64_t newTool(double diameter, Plating plating) {
        if (toolCounter_ == std::numeric_limits<std::int64_t>::max())
            throw KiCadParseError::malformed("too many drills");
        ++toolCounter_;
        tools_.emplace(toolCounter_, DrillTool{toolCounter_, diameter, plating});
        return toolCounter_;
    }

    // A pad or polygon repeated on many layers costs each time: count every copy and its points.
    void count(const PCBObject& object) {
        built_.object();
        if (const auto* region = object.kind.as<PCBObjectKind::Region>())
            for (const auto& contour : region->contours) built_.vertices(contour.size());
    }

    void addHit(const Vec2& at, double diameter, Plating plating) {
        if (!reachesFinitely(at, diameter / 2)) {
            leftOutNotFinite_ = true;
            return;
        }
        built_.object();
        const std::int64_t tool = newTool(diameter, plating);
        hits_.push_back(DrillHit{at, tool, plating});
    }

    void addSlot(const Vec2& start, const Vec2& end, double diameter, Plating plating) {
        PCBObject slot(PCBObjectKind::slot(start, end, diameter, plating == Plating::pth), std::nullopt,
                       ApertureShape::circle(diameter), Polarity::dark, std::nullopt, std::nullopt, std::nullopt,
                       std::nullopt, static_cast<std::int64_t>(slots_.size()));
        if (!slot.isFinite()) {
            leftOutNotFinite_ = true;
            return;
        }
        built_.object();
        slot.setApertureCode(newTool(diameter, plating));
        intern_(slot);
        slots_.push_back(std::move(slot));
    }

    // ---- footprints and pads ---------------------------------------------------------------

    static std::optional<std::string> referenceOf(const SExprNode& fp) {
        for (const auto& c : fp.children) {
            if (c->name != "property" || c->strings.empty() || c->strings.front() != "Reference") continue;
            if (c->strings.size() >= 2) return std::string(c->strings[1]);
            break;
        }
        for (const auto& c : fp.children) {
            if (c->name != "fp_text" || c->strings.empty() || c->strings.front() != "reference") continue;
            if (c->strings.size() >= 2) return std::string(c->strings[1]);
            break;
        }
        return std::nullopt;
    }

    // The shape atom follows the pad type atom ("1" smd rect); older files without it may carry
    // a shape list.
    static std::string padShapeKeyword(const SExprNode& pad) {
        static constexpr std::string_view types[] = {"thru_hole", "np_thru_hole", "smd", "connect"};
        static constexpr std::string_view shapes[] = {"circle", "rect", "oval", "roundrect", "trapezoid", "custom"};
        const auto& s = pad.strings;
        for (std::size_t i = 0; i + 1 < s.size(); ++i) {
            if (std::find(std::begin(types), std::end(types), s[i]) == std::end(types)) continue;
            if (std::find(std::begin(shapes), std::end(shapes), s[i + 1]) != std::end(shapes)) return std::string(s[i + 1]);
        }
        if (auto shape = pad.firstString("shape")) return std::string(*shape);
        return "circle";
    }

    static PadForm formOf(const SExprNode& pad, const std::string& keyword) {
        if (keyword == "rect") return PadForm::rectangle;
        if (keyword == "roundrect") return PadForm::roundRect;
        if (keyword == "custom") {
            // A custom pad's own copper is its anchor, a circle or (by default) a rectangle.
            if (const SExprNode* options = pad.firstChild("options"))
                if (auto anchor = options->firstString("anchor"); anchor && *anchor == "circle") return PadForm::circle;
            return PadForm::rectangle;
        }
        if (keyword == "oval") return PadForm::obround;
        if (keyword == "trapezoid") return PadForm::trapezoid;
        return PadForm::circle;
    }

    // Points of a quarter or half turn of radius r about c, from angle `from` (degrees) on, both
    // ends included, within kOutlineChordMM of the arc. A corner where the arc reaches farthest from
    // the pad centre makes the outline's extent, and so the pad's bounding diameter, the true one.
    static void addArc(Contour& c, const Vec2& centre, double r, double from, double sweep) {
        double far = std::atan2(centre.y, centre.x) * 180.0 / std::numbers::pi;
        far += 360.0 * std::ceil((from - far) / 360.0);
        if (!(centre == Vec2{}) && far > from && far < from + sweep) {
            addArcPart(c, centre, r, from, far - from);
            c.pop_back();
            addArcPart(c, centre, r, far, from + sweep - far);
        } else {
            addArcPart(c, centre, r, from, sweep);
        }
    }

    static void addArcPart(Contour& c, const Vec2& centre, double r, double from, double sweep) {
        const std::int64_t n = outlineChords(r, sweep * std::numbers::pi / 180.0);
        for (std::int64_t i = 0; i <= n; ++i) {
            const auto [s, co] = sinCosDegrees(from + sweep * static_cast<double>(i) / static_cast<double>(n));
            c.push_back(Vec2{centre.x + r * co, centre.y + r * s});
        }
    }

    // Outline of a pad centred on the origin, in pad coordinates: a rectangle whose corners are
    // rounded with its radius (an obround's ends are half circles) or cut back where chamfered.
    static Contour padOutline(const PadShape& pad) {
        double w = pad.w, h = pad.h, r = pad.cornerRadius;
        if (pad.form == PadForm::trapezoid) {
            // The sides narrow by `delta`: its y across the pad's width, its x across its height.
            const double hx = w / 2, hy = h / 2, dx = pad.delta.x / 2, dy = pad.delta.y / 2;
            return {Vec2{-hx - dy, hy + dx}, Vec2{-hx + dy, -hy - dx}, Vec2{hx - dy, -hy + dx}, Vec2{hx + dy, hy - dx}};
        }
        if (pad.form == PadForm::rectangle) r = 0;
        if (pad.form == PadForm::obround) r = std::min(w, h) / 2;
        if (pad.form == PadForm::circle) r = w / 2, h = w;
        r = std::clamp(r, 0.0, std::min(w, h) / 2);
        if (!(r > 0) && pad.chamfered == 0)
            return {Vec2{-w / 2, -h / 2}, Vec2{w / 2, -h / 2}, Vec2{w / 2, h / 2}, Vec2{-w / 2, h / 2}};
        const Vec2 corners[4] = {{w / 2, -h / 2}, {w / 2, h / 2}, {-w / 2, h / 2}, {-w / 2, -h / 2}};
        const double x = w / 2 - r, y = h / 2 - r;
        const Vec2 arcCentres[4] = {{x, -y}, {x, y}, {-x, y}, {-x, -y}};
        const double chamfer = std::clamp(pad.chamfer, 0.0, std::min(w, h) / 2);
        Contour c;
        for (int k = 0; k < 4; ++k) {
            const Vec2& at = corners[k];
            if (pad.chamfered & (1u << k)) {
                // Cut back along the side it comes in on and the side it leaves by.
                for (const Vec2& side : {corners[(k + 3) % 4], corners[(k + 1) % 4]}) {
                    const Vec2 along = side - at;
                    const double length = along.length();
                    c.push_back(length > 0 ? at + along * (chamfer / length) : at);
                }
            } else if (r > 0) {
                addArc(c, arcCentres[k], r, -90.0 + 90.0 * k, 90);
            } else {
                c.push_back(at);
            }
        }
        // Arcs or cuts meeting where a side has no length left leave a corner twice.
        c.erase(std::unique(c.begin(), c.end()), c.end());
        if (c.size() > 1 && c.front() == c.back()) c.pop_back();
        return c;
    }

    // Which corners a pad's chamfer list cuts, and how far: its ratio of the shorter side.
    static void readChamfer(const SExprNode& pad, PadShape& shape) {
        const SExprNode* list = pad.firstChild("chamfer");
        if (!list || (shape.form != PadForm::roundRect && shape.form != PadForm::rectangle)) return;
        static constexpr std::pair<std::string_view, PadCorner> names[] = {
            {"top_right", topRight}, {"bottom_right", bottomRight}, {"bottom_left", bottomLeft}, {"top_left", topLeft}};
        for (const auto& corner : list->strings)
            for (const auto& [name, bit] : names)
                if (corner == name) shape.chamfered |= bit;
        // KiCad's own default ratio when none is written.
        constexpr double kDefaultChamferRatio = 0.2;
        const SExprNode* ratio = pad.firstChild("chamfer_ratio");
        shape.chamfer = std::clamp(ratio ? ratio->doubleAt(0) : kDefaultChamferRatio, 0.0, 0.5) * std::min(shape.w, shape.h);
    }

    // Where a footprint sits and how it is turned; pads are placed from it.
    struct FootprintPlace {
        Vec2 origin;
        double angle = 0;
    };

    static FootprintPlace footprintPlace(const SExprNode& fp) {
        FootprintPlace place;
        if (const SExprNode* at = fp.firstChild("at")) {
            place.origin = xyOf(*at);
            place.angle = at->doubleAt(2);
        }
        return place;
    }

    // A pad as placed on the board, read once for the copper it gives and for what it connects.
    struct PlacedPad {
        Vec2 position;  // of its hole, in KiCad coordinates
        Vec2 centre;    // of its copper, moved off the hole by the drill offset
        double angle = 0;
        std::string keyword;
        PadShape shape;
        bool plated = true;
        double holeW = 0, holeH = 0;  // 0 when not drilled
        std::vector<std::string> layers;
    };

    PlacedPad placePad(const SExprNode& pad, const FootprintPlace& fp) const {
        PlacedPad placed;
        const SExprNode* at = pad.firstChild("at");
        // Pad offsets are relative to the footprint; the pad's own angle is already absolute.
        placed.position = fp.origin + rotateKiCad(xyOf(*at), fp.angle);
        placed.angle = at->doubleAt(2);
        double w = 0.6, h = 0.6;
        if (const SExprNode* size = pad.firstChild("size")) {
            w = size->doubleAt(0);
            h = size->doubleAt(1);
        }
        placed.keyword = padShapeKeyword(pad);
        placed.shape = PadShape{formOf(pad, placed.keyword), w, h};
        const SExprNode* ratio = pad.firstChild("roundrect_rratio");
        placed.shape.cornerRadius = (ratio ? ratio->doubleAt(0) : 0.25) * std::min(w, h);
        if (const SExprNode* delta = pad.firstChild("rect_delta")) placed.shape.delta = xyOf(*delta);
        readChamfer(pad, placed.shape);
        for (const auto& s : pad.strings)
            if (s.find("np_thru") != std::string::npos) placed.plated = false;
        Vec2 copperOffset;
        if (const SExprNode* drill = pad.firstChild("drill")) {
            if (const SExprNode* offset = drill->firstChild("offset")) copperOffset = xyOf(*offset);
            if (drill->doubleAt(0) > 0) {
                const bool oval = std::find(drill->strings.begin(), drill->strings.end(), "oval") != drill->strings.end();
                placed.holeW = drill->doubleAt(0);
                placed.holeH = oval && drill->doubleAt(1) > 0 ? drill->doubleAt(1) : placed.holeW;
            }
        }
        placed.centre = placed.position + rotateKiCad(copperOffset, placed.angle);
        if (const SExprNode* list = pad.firstChild("layers")) {
            for (const auto& entry : list->strings) expandCopper(entry, placed.layers);
        } else {
            expandCopper("*.Cu", placed.layers);
        }
        return placed;
    }

    // The plated hole of a drilled pad on the board: a slot along the long side of an oval one.
    static Hole holeOf(const PlacedPad& pad) {
        const double d = std::min(pad.holeW, pad.holeH);
        const double half = (std::max(pad.holeW, pad.holeH) - d) / 2;
        const Vec2 a = rotateKiCad(pad.holeW > pad.holeH ? Vec2{half, 0} : Vec2{0, half}, pad.angle);
        return Hole{toBoard(pad.position + a), toBoard(pad.position - a), d / 2};
    }

    // The outline of a pad's own copper (a custom pad's anchor) on the board.
    static Contour boardOutline(const PlacedPad& pad) {
        Contour c = padOutline(pad.shape);
        for (Vec2& p : c) p = toBoard(pad.centre + rotateKiCad(p, pad.angle));
        return c;
    }

    // The points where a zone's thermal spokes meet a pad: on its edge along its axes, or along
    // its diagonals for a round pad. A zone fill holding one of them is connected to the pad.
    static std::array<Vec2, 4> spokeEnds(const PlacedPad& pad) {
        const PadShape& s = pad.shape;
        std::array<Vec2, 4> ends;
        if (s.form == PadForm::circle) {
            const double r = s.w / 2 * std::numbers::sqrt2 / 2;
            ends = {Vec2{r, r}, Vec2{-r, r}, Vec2{-r, -r}, Vec2{r, -r}};
        } else {
            ends = {Vec2{s.w / 2, 0}, Vec2{0, s.h / 2}, Vec2{-s.w / 2, 0}, Vec2{0, -s.h / 2}};
        }
        for (Vec2& p : ends) p = toBoard(pad.centre + rotateKiCad(p, pad.angle));
        return ends;
    }

    // Whether a pad sheds its ring on the copper layers where nothing of its net reaches it: only a
    // plated hole does, and then not on its end layers when it keeps those.
    static bool shedsRing(const SExprNode& pad, const PlacedPad& placed, const std::string& layer) {
        if (!placed.plated || !(placed.holeW > 0) || !flagSet(pad, "remove_unused_layers")) return false;
        return !(flagSet(pad, "keep_end_layers") && (layer == placed.layers.front() || layer == placed.layers.back()));
    }

    // Pads whose ring stays on a layer, and through vias, connect what reaches them there.
    void registerPadCopper(const SExprNode& fp) {
        const FootprintPlace place = footprintPlace(fp);
        for (const auto& pad : fp.children) {
            if (pad->name != "pad" || !pad->firstChild("at")) continue;
            const std::optional<std::string> net = netOf(*pad);
            if (!net) continue;
            const PlacedPad placed = placePad(*pad, place);
            const Contour outline = boardOutline(placed);
            for (const auto& layer : placed.layers)
                if (!shedsRing(*pad, placed, layer)) connections_.addPad(layer, *net, outline);
        }
    }

    void readFootprint(const SExprNode& fp) {
        const std::optional<std::string> reference = referenceOf(fp);
        const FootprintPlace place = footprintPlace(fp);
        // Pads of one number are one pin: without a net they still connect to each other.
        std::unordered_map<std::string_view, int> netless;
        for (const auto& child : fp.children)
            if (child->name == "pad" && !child->strings.empty() && !netOf(*child)) netless[child->strings.front()] += 1;
        for (const auto& child : fp.children) {
            if (child->name != "pad" || !child->firstChild("at")) continue;
            std::optional<std::string> pinNet;
            if (!child->strings.empty() && !child->strings.front().empty() && netless[child->strings.front()] > 1)
                pinNet = "unconnected-(" + reference.value_or("") + "-Pad" + std::string(child->strings.front()) + ")";
            readPad(*child, placePad(*child, place), reference, pinNet);
        }
    }

    void readPad(const SExprNode& pad, const PlacedPad& placed, const std::optional<std::string>& reference,
                 const std::optional<std::string>& pinNet) {
        const std::optional<std::string> ownNet = netOf(pad);
        const std::optional<std::string> net = ownNet ? ownNet : pinNet;
        const Plating plating = placed.plated ? Plating::pth : Plating::npth;
        const double holeW = placed.holeW, holeH = placed.holeH;
        if (holeW > 0) {
            if (holeW != holeH) {
                const Hole slot = holeOf(placed);
                addSlot(slot.a, slot.b, 2 * slot.radius, plating);
            } else {
                addHit(toBoard(placed.position), holeW, plating);
            }
        }
        // A mounting hole whose copper fits inside the hole leaves no copper behind.
        const PadShape& shape = placed.shape;
        if (!placed.plated && holeW > 0) {
            const double copperW = shape.w, copperH = shape.form == PadForm::circle ? shape.w : shape.h;
            if (copperW <= holeW && copperH <= holeH) return;
        }
        if (placed.layers.empty()) return;

        std::vector<Contour> extra;
        if (placed.keyword == "custom") {
            for (const auto& group : pad.children) {
                if (group->name != "primitives") continue;
                for (const auto& prim : group->children) {
                    Contour points;
                    if (prim->name == "gr_poly") points = polygonPoints(*prim);
                    else if (prim->name == "gr_rect" && primitiveFilled(*prim)) points = primitiveRectangle(*prim);
                    if (points.size() >= 3) extra.push_back(std::move(points));
                }
            }
        }
        std::vector<PCBObject> copper;
        copper.push_back(padCopper(shape, placed.centre, placed.angle, extra, net, reference));
        if (placed.keyword == "custom") customPadStrokes(pad, placed.centre, placed.angle, net, reference, copper);
        for (const auto& layer : placed.layers) {
            // A ring shed where no copper of its net reaches the hole (vias and pads that keep
            // theirs, tracks), and no zone fill holds a spoke end.
            if (shedsRing(pad, placed, layer) && !connections_.reachesHole(layer, ownNet, holeOf(placed), true) &&
                !connections_.fillHolds(layer, ownNet, spokeEnds(placed)))
                continue;
            for (const auto& object : copper) add(layer, object);
        }
    }

    // The copper of a pad: a flash of a plain aperture where one fits (circles, and rectangles and
    // obrounds at multiples of 90 degrees), else a flash of its exact outline turned to its angle,
    // together with the filled polygons of a custom pad (`extra`, in pad coordinates).
    static PCBObject padCopper(PadShape pad, const Vec2& centre, double angle, const std::vector<Contour>& extra,
                               const std::optional<std::string>& net, const std::optional<std::string>& reference) {
        const Vec2 at = toBoard(centre);
        PadForm& form = pad.form;
        const double w = pad.w, h = pad.h;
        if (form == PadForm::roundRect && !(pad.cornerRadius > 0)) form = PadForm::rectangle;
        if (form == PadForm::trapezoid && pad.delta.x == 0 && pad.delta.y == 0) form = PadForm::rectangle;
        if (extra.empty() && pad.chamfered == 0) {
            if (form == PadForm::circle)
                return makeObject(PCBObjectKind::flash(at), ApertureShape::circle(w), net, reference, "Pad");
            const double turned = std::isfinite(angle) ? std::fmod(angle, 180.0) : 0.0;
            const double a = turned < 0 ? turned + 180.0 : turned;
            constexpr double tolerance = 1e-9;
            const bool straight = a < tolerance || 180.0 - a < tolerance;
            const bool quarter = std::fabs(a - 90.0) < tolerance;
            if ((straight || quarter) && (form == PadForm::rectangle || form == PadForm::obround)) {
                // Sides swapped at 90 and 270 degrees.
                const double sw = straight ? w : h, sh = straight ? h : w;
                ApertureShape shape = form == PadForm::rectangle ? ApertureShape::rectangle(sw, sh)
                                                                 : ApertureShape::obround(sw, sh);
                return makeObject(PCBObjectKind::flash(at), std::move(shape), net, reference, "Pad");
            }
        }
        std::vector<Contour> outline{padOutline(pad)};
        outline.insert(outline.end(), extra.begin(), extra.end());
        double reach = 0;
        for (Contour& c : outline)
            for (Vec2& p : c) {
                const Vec2 turned = rotateKiCad(p, angle);
                p = Vec2{turned.x, 0.0 - turned.y};  // aperture coordinates point up, as the board's do
                reach = std::max(reach, p.length());
            }
        return makeObject(PCBObjectKind::flash(at), ApertureShape::macro("KiCadPad", 2 * reach, std::move(outline)), net,
                          reference, "Pad");
    }

    // The arc of a custom pad's primitive through its start, mid and end points, placed on the board;
    // a straight stroke when the three points are in line.
    static PCBObjectKind threePointArc(const Vec2& a, const Vec2& m, const Vec2& b) {
        const double cross = (m.x - a.x) * (b.y - m.y) - (m.y - a.y) * (b.x - m.x);
        const double d = 2.0 * (a.x * (m.y - b.y) + m.x * (b.y - a.y) + b.x * (a.y - m.y));
        if (cross == 0 || !std::isfinite(d) || d == 0) return PCBObjectKind::stroke(a, b);
        const double aa = a.x * a.x + a.y * a.y, mm = m.x * m.x + m.y * m.y, bb = b.x * b.x + b.y * b.y;
        const Vec2 centre{(aa * (m.y - b.y) + mm * (b.y - a.y) + bb * (a.y - m.y)) / d,
                          (aa * (b.x - m.x) + mm * (a.x - b.x) + bb * (m.x - a.x)) / d};
        if (!std::isfinite(centre.x) || !std::isfinite(centre.y)) return PCBObjectKind::stroke(a, b);
        return PCBObjectKind::arcStroke(a, b, centre, cross < 0);
    }

    // A circle or rectangle of a custom pad is an area only when its fill says so.
    static bool primitiveFilled(const SExprNode& prim) { return prim.firstChild("fill") && !fillIsOff(prim); }

    // The corners of a custom pad's rectangle primitive, in pad coordinates; none without both ends.
    static Contour primitiveRectangle(const SExprNode& prim) {
        const SExprNode* start = prim.firstChild("start");
        const SExprNode* end = prim.firstChild("end");
        if (!start || !end) return {};
        const Vec2 a = xyOf(*start), b = xyOf(*end);
        return {a, Vec2{b.x, a.y}, b, Vec2{a.x, b.y}};
    }

    // Lines, arcs and circles of a custom pad's primitives, and the edges of its polygons and
    // rectangles drawn with a width, as strokes and flashes about the pad centre.
    static void customPadStrokes(const SExprNode& pad, const Vec2& centre, double angle,
                                 const std::optional<std::string>& net, const std::optional<std::string>& reference,
                                 std::vector<PCBObject>& out) {
        auto placePoint = [&](const Vec2& p) { return toBoard(centre + rotateKiCad(p, angle)); };
        auto place = [&](const SExprNode& n) { return placePoint(xyOf(n)); };
        for (const auto& group : pad.children) {
            if (group->name != "primitives") continue;
            for (const auto& prim : group->children) {
                const double width = graphicWidth(*prim);
                // A polygon or rectangle drawn with a width has that stroke along its edges too.
                if (prim->name == "gr_poly" || prim->name == "gr_rect") {
                    const Contour edge = prim->name == "gr_poly" ? polygonPoints(*prim) : primitiveRectangle(*prim);
                    if (!(width > 0) || edge.size() < 2) continue;
                    for (std::size_t i = 0; i < edge.size(); ++i)
                        out.push_back(makeObject(PCBObjectKind::stroke(placePoint(edge[i]), placePoint(edge[(i + 1) % edge.size()])),
                                                 ApertureShape::circle(width), net, reference, "Pad"));
                    continue;
                }
                const SExprNode* start = prim->firstChild(prim->name == "gr_circle" ? "center" : "start");
                const SExprNode* end = prim->firstChild("end");
                if (!start || !end) continue;
                if (prim->name == "gr_line") {
                    out.push_back(makeObject(PCBObjectKind::stroke(place(*start), place(*end)), ApertureShape::circle(width),
                                             net, reference, "Pad"));
                } else if (const SExprNode* mid = prim->firstChild("mid"); mid && prim->name == "gr_arc") {
                    out.push_back(makeObject(threePointArc(place(*start), place(*mid), place(*end)),
                                             ApertureShape::circle(width), net, reference, "Pad"));
                } else if (prim->name == "gr_circle") {
                    const Vec2 c = place(*start), e = place(*end);
                    if (primitiveFilled(*prim))
                        out.push_back(makeObject(PCBObjectKind::flash(c), ApertureShape::circle(2 * c.distance(e) + width),
                                                 net, reference, "Pad"));
                    else
                        out.push_back(makeObject(PCBObjectKind::arcStroke(e, e, c, false), ApertureShape::circle(width), net,
                                                 reference, "Pad"));
                }
            }
        }
    }

    // ---- tracks, vias, zones, graphics -----------------------------------------------------

    void readSegment(const SExprNode& seg) {
        const SExprNode* start = seg.firstChild("start");
        const SExprNode* end = seg.firstChild("end");
        const SExprNode* layer = seg.firstChild("layer");
        if (!start || !end || !layer) return;
        const std::string layerName = layer->strings.empty() ? std::string("F.Cu") : std::string(layer->strings.front());
        const SExprNode* width = seg.firstChild("width");
        const double w = width ? width->doubleAt(0) : 0.2;
        add(layerName, makeObject(PCBObjectKind::stroke(toBoard(xyOf(*start)), toBoard(xyOf(*end))),
                                  ApertureShape::circle(w), netOf(seg), std::nullopt, std::nullopt));
    }

    // Order of a copper layer from the top: F.Cu, In1.Cu, In2.Cu, …, B.Cu.
    static std::int64_t stackPosition(std::string_view layer) {
        if (layer == "F.Cu") return 0;
        if (auto n = innerNumber(layer)) return std::clamp<std::int64_t>(*n, 1, std::numeric_limits<std::int64_t>::max() - 1);
        return std::numeric_limits<std::int64_t>::max();
    }

    // What a via is: where, how large, on which layers, and whether it sheds unused rings.
    struct ViaSpan {
        Vec2 position;
        double diameter = 0.6, hole = 0.3;
        std::optional<std::string> net;
        std::int64_t top = 0, bottom = std::numeric_limits<std::int64_t>::max();
        bool trimmed = false, keepEnds = false;

        bool spans(std::string_view layer) const {
            const std::int64_t at = stackPosition(layer);
            return at >= top && at <= bottom;
        }
        bool isEnd(std::string_view layer) const {
            const std::int64_t at = stackPosition(layer);
            return at == top || at == bottom;
        }
    };

    ViaSpan viaSpan(const SExprNode& via) const {
        ViaSpan span;
        if (const SExprNode* at = via.firstChild("at")) span.position = toBoard(xyOf(*at));
        if (const SExprNode* size = via.firstChild("size"); size && !size->bareDoubles.empty())
            span.diameter = size->bareDoubles.front();
        if (const SExprNode* drill = via.firstChild("drill"); drill && !drill->bareDoubles.empty())
            span.hole = drill->bareDoubles.front();
        span.net = netOf(via);
        // Only a blind or micro via stops at its layer pair; any other runs through the board.
        const bool partial = std::find(via.strings.begin(), via.strings.end(), "blind") != via.strings.end() ||
                             std::find(via.strings.begin(), via.strings.end(), "micro") != via.strings.end();
        if (const SExprNode* pair = via.firstChild("layers"); partial && pair && pair->strings.size() >= 2) {
            span.top = std::min(stackPosition(pair->strings[0]), stackPosition(pair->strings[1]));
            span.bottom = std::max(stackPosition(pair->strings[0]), stackPosition(pair->strings[1]));
        }
        span.trimmed = flagSet(via, "remove_unused_layers");
        span.keepEnds = flagSet(via, "keep_end_layers");
        return span;
    }

    // Every copper layer the board declares, from the top.
    std::vector<std::string> copperStack() const {
        std::vector<std::string> stack;
        expandCopper("*.Cu", stack);
        return stack;
    }

    void readVias() {
        // Vias land on the copper layers in use so far, fixed before the first via.
        std::vector<std::string> copper;
        for (const auto& name : layerNames_)
            if (endsWith(name, ".Cu")) copper.push_back(name);
        if (copper.empty()) copper.emplace_back("F.Cu");
        for (const auto& child : root_.children) {
            if (child->name != "via" || !child->firstChild("at")) continue;
            const ViaSpan via = viaSpan(*child);
            const PCBObject flash =
                makeObject(PCBObjectKind::flash(via.position), ApertureShape::circle(via.diameter), via.net, std::nullopt, "Via");
            // One that sheds unused rings keeps them where a track or pad of its net reaches its hole or
            // a zone fill holds a spoke end, and on its end layers when asked to.
            const double r = via.diameter / 2;
            const std::array<Vec2, 4> spokes = {via.position + Vec2{r, 0}, via.position + Vec2{0, r},
                                                via.position + Vec2{-r, 0}, via.position + Vec2{0, -r}};
            for (const auto& layer : copper) {
                if (!via.spans(layer)) continue;
                if (via.trimmed && !(via.keepEnds && via.isEnd(layer)) &&
                    !connections_.reachesHole(layer, via.net, Hole{via.position, via.position, via.hole / 2}, false) &&
                    !connections_.fillHolds(layer, via.net, spokes))
                    continue;
                add(layer, flash);
            }
            addHit(via.position, via.hole, Plating::pth);
        }
    }

    std::optional<std::string> zoneNet(const SExprNode& zone) const {
        if (auto name = zone.firstString("net_name"); name && !name->empty()) return std::string(*name);
        return netOf(zone);
    }

    // A fill's layer: its own, else its zone's (KiCad 5 names one, later versions list them).
    static std::string fillLayer(const SExprNode& zone, const SExprNode& poly) {
        if (auto l = poly.firstString("layer")) return std::string(*l);
        if (auto zl = zone.firstString("layer")) return std::string(*zl);
        if (auto zl = zone.firstString("layers")) return std::string(*zl);
        return "F.Cu";
    }

    // Fills of the older kind are their polygons with the edges stroked at the zone's minimum
    // thickness: the copper stands half that width outside them. KiCad 5 drew every fill so, and KiCad
    // 6 says so of the fills it kept from it; later files neither do nor say.
    double fillStroke(const SExprNode& zone) const {
        const auto mode = zone.firstString("filled_areas_thickness");
        const SExprNode* thickness = zone.firstChild("min_thickness");
        if (!thickness || !(mode ? *mode == "yes" : fileVersion() <= kLastKiCad5Version)) return 0;
        const double w = thickness->doubleAt(0);
        return std::isfinite(w) && w > 0 ? w : 0;
    }

    double fileVersion() const {
        const SExprNode* version = root_.firstChild("version");
        return version ? version->doubleAt(0) : 0;
    }

    void readZone(const SExprNode& zone) {
        const std::optional<std::string> net = zoneNet(zone);
        const double stroke = fillStroke(zone);
        for (const auto& poly : zone.children) {
            if (poly->name != "filled_polygon") continue;
            const std::string layer = fillLayer(zone, *poly);
            Contour points = polygonPoints(*poly);
            if (points.size() < 3) continue;
            for (auto& p : points) p = toBoard(p);
            if (stroke > 0) addClosedOutline(layer, points, stroke, net);
            add(layer, makeObject(PCBObjectKind::region({std::move(points)}), std::nullopt, net, std::nullopt, std::nullopt));
        }
    }

    void addClosedOutline(const std::string& layer, const Contour& points, double width,
                          const std::optional<std::string>& net = std::nullopt) {
        for (std::size_t i = 0; i < points.size(); ++i)
            add(layer, makeObject(PCBObjectKind::stroke(points[i], points[(i + 1) % points.size()]),
                                  ApertureShape::circle(width), net, std::nullopt, std::nullopt));
    }

    void readGraphic(const SExprNode& g) {
        const bool line = g.name == "gr_line", rect = g.name == "gr_rect", poly = g.name == "gr_poly";
        if (!line && !rect && !poly) return;
        const SExprNode* layerNode = g.firstChild("layer");
        if (!layerNode || layerNode->strings.empty()) return;
        const std::string layer(layerNode->strings.front());
        const double width = graphicWidth(g);
        // Board edges are cut lines, never filled areas.
        const bool outlineOnly = layer == "Edge.Cuts" || fillIsOff(g);
        if (line || rect) {
            const SExprNode* start = g.firstChild("start");
            const SExprNode* end = g.firstChild("end");
            if (!start || !end) return;
            const Vec2 s = xyOf(*start), e = xyOf(*end);
            if (line) {
                add(layer, makeObject(PCBObjectKind::stroke(toBoard(s), toBoard(e)), ApertureShape::circle(width),
                                      std::nullopt, std::nullopt, std::nullopt));
                return;
            }
            const Contour corners = {toBoard(s), toBoard(Vec2{e.x, s.y}), toBoard(e), toBoard(Vec2{s.x, e.y})};
            if (outlineOnly)
                addClosedOutline(layer, corners, width);
            else
                add(layer, makeObject(PCBObjectKind::region({corners}), std::nullopt, std::nullopt, std::nullopt, std::nullopt));
            return;
        }
        Contour points = polygonPoints(g);
        if (points.size() < 3) return;
        for (auto& p : points) p = toBoard(p);
        if (outlineOnly)
            addClosedOutline(layer, points, width);
        else
            add(layer, makeObject(PCBObjectKind::region({std::move(points)}), std::nullopt, std::nullopt, std::nullopt, std::nullopt));
    }

    // ---- package ---------------------------------------------------------------------------

    std::vector<LayerType> layerTypes() const {
        // Copper names outside the "In<n>.Cu" scheme are numbered after the highest inner layer.
        std::int64_t highest = 0;
        for (const auto& name : layerNames_)
            if (auto n = innerNumber(name)) highest = std::max(highest, *n);
        std::vector<LayerType> types;
        types.reserve(layerNames_.size());
        for (const auto& name : layerNames_) {
            if (name == "F.Cu") types.push_back(LayerType::copper(CopperLayerID::top()));
            else if (name == "B.Cu") types.push_back(LayerType::copper(CopperLayerID::bottom()));
            else if (name == "Edge.Cuts") types.push_back(LayerType::outline());
            else if (name == "F.Silkscreen" || name == "F.SilkS") types.push_back(LayerType::silkscreen(CopperLayerID::top()));
            else if (name == "B.Silkscreen" || name == "B.SilkS") types.push_back(LayerType::silkscreen(CopperLayerID::bottom()));
            else if (name == "F.Mask") types.push_back(LayerType::solderMask(CopperLayerID::top()));
            else if (name == "B.Mask") types.push_back(LayerType::solderMask(CopperLayerID::bottom()));
            else if (name == "F.Paste") types.push_back(LayerType::paste(CopperLayerID::top()));
            else if (name == "B.Paste") types.push_back(LayerType::paste(CopperLayerID::bottom()));
            else if (auto n = innerNumber(name)) types.push_back(LayerType::copper(CopperLayerID::inner(*n)));
            else if (endsWith(name, ".Cu")) {
                if (highest < std::numeric_limits<std::int64_t>::max()) ++highest;
                types.push_back(LayerType::copper(CopperLayerID::inner(highest)));
            } else types.push_back(LayerType::unknown());
        }
        return types;
    }

    PCBPackage finish() {
        const std::vector<LayerType> types = layerTypes();
        std::vector<PackageFile> files;
        files.reserve(layerNames_.size() + 1);
        for (std::size_t i = 0; i < layerNames_.size(); ++i) {
            GerberDocument& doc = documents_[i];
            doc.bbox = BBox::empty();
            for (const auto& o : doc.objects) doc.bbox.include(o.bbox);
            PackageFile file;
            file.fileName = "kicad-" + layerNames_[i] + ".gbr";
            file.relativePath = fileName_ + "#" + layerNames_[i];
            file.format = SourceFormat::unknown;
            file.layerType = types[i];
            file.confidence = DetectionConfidence::high;
            file.gerber = std::move(doc);
            files.push_back(std::move(file));
        }
        if (!hits_.empty() || !slots_.empty()) {
            DrillDocument drill;
            drill.tools = std::move(tools_);
            drill.units = Units::mm;
            drill.fileName = std::string(kDrillFileName);
            drill.bbox = BBox::empty();
            for (const auto& h : hits_) drill.bbox.include(h.position);
            for (const auto& s : slots_) drill.bbox.include(s.bbox);
            drill.hits = std::move(hits_);
            drill.slots = std::move(slots_);
            PackageFile file;
            file.fileName = std::string(kDrillFileName);
            file.relativePath = fileName_;
            file.format = SourceFormat::excellon;
            file.layerType = LayerType::drill();
            file.confidence = DetectionConfidence::high;
            file.drill = std::move(drill);
            files.push_back(std::move(file));
        }
        std::stable_sort(files.begin(), files.end(), [](const PackageFile& a, const PackageFile& b) {
            return layerOrder(a.layerType) < layerOrder(b.layerType);
        });

        PCBPackage package;
        const auto dot = fileName_.rfind('.');
        package.name = dot == std::string::npos || dot == 0 ? fileName_ : fileName_.substr(0, dot);
        package.sourceFileName = fileName_;
        package.files = std::move(files);
        package.warnings.emplace_back(kWarning);
        if (leftOutNotFinite_) package.warnings.emplace_back(kNonFiniteObjectsWarning);
        package.importedAt = Date::now();
        return package;
    }

    const SExprNode& root_;
    std::string fileName_;
    std::unordered_map<std::int64_t, std::string> netTable_;
    std::vector<std::string> declaredInner_;
    std::vector<std::string> layerNames_;
    std::vector<GerberDocument> documents_;
    std::unordered_map<std::string, std::size_t> layerIndex_;
    std::map<std::int64_t, DrillTool> tools_;
    std::vector<DrillHit> hits_;
    std::vector<PCBObject> slots_;
    ObjectInterner intern_;
    Connections connections_;
    std::int64_t toolCounter_ = 10;
    bool leftOutNotFinite_ = false;
    BuildCounter built_;
};

// ---- what the reader leaves out ---------------------------------------------------------------

// What a board holds that the reader does not draw, counted so that nothing is left out without a word.
struct UnreadCounts {
    std::int64_t trackArcs = 0;
    std::int64_t boardArcsAndCircles = 0;
    std::int64_t boardTexts = 0;
    std::int64_t footprintGraphics = 0;
    std::int64_t customPadPrimitives = 0;  // other than the polygons, lines and circles the reader draws
    std::int64_t padsWithOpenings = 0;     // pads on mask or paste layers
    std::int64_t kicad5Footprints = 0;
};

bool isFootprintGraphic(std::string_view name) {
    static constexpr std::string_view kinds[] = {"fp_line", "fp_arc",  "fp_circle", "fp_rect",
                                                 "fp_poly", "fp_curve", "fp_text",  "fp_text_box"};
    return std::find(std::begin(kinds), std::end(kinds), name) != std::end(kinds);
}

void countUnreadInPad(const SExprNode& pad, UnreadCounts& counts) {
    for (const auto& group : pad.children) {
        if (group->name != "primitives") continue;
        for (const auto& prim : group->children)
            if (prim->name != "gr_poly" && prim->name != "gr_line" && prim->name != "gr_circle" &&
                prim->name != "gr_arc" && prim->name != "gr_rect")
                ++counts.customPadPrimitives;
    }
    if (const SExprNode* layers = pad.firstChild("layers")) {
        for (const auto& entry : layers->strings) {
            if (endsWith(entry, ".Mask") || endsWith(entry, ".Paste")) {
                ++counts.padsWithOpenings;
                break;
            }
        }
    }
}

UnreadCounts countUnread(const SExprNode& root) {
    UnreadCounts counts;
    for (const auto& child : root.children) {
        const std::string_view name = child->name;
        if (name == "arc") ++counts.trackArcs;
        else if (name == "gr_arc" || name == "gr_circle") ++counts.boardArcsAndCircles;
        else if (name == "gr_text" || name == "gr_text_box") ++counts.boardTexts;
        else if (name == "module") ++counts.kicad5Footprints;
        else if (name == "footprint") {
            for (const auto& part : child->children) {
                if (isFootprintGraphic(part->name)) ++counts.footprintGraphics;
                else if (part->name == "pad") countUnreadInPad(*part, counts);
            }
        }
    }
    return counts;
}

// "180 track arcs were not read." / "1 track arc was not read."
std::string notReadText(std::int64_t n, std::string_view one, std::string_view many) {
    return formatInt(n) + " " + std::string(n == 1 ? one : many) + (n == 1 ? " was" : " were") + " not read.";
}

std::vector<std::string> unreadWarnings(const UnreadCounts& c) {
    std::vector<std::string> out;
    if (c.trackArcs > 0) out.push_back(notReadText(c.trackArcs, "track arc", "track arcs"));
    if (c.boardArcsAndCircles > 0)
        out.push_back(notReadText(c.boardArcsAndCircles, "board arc or circle", "board arcs and circles"));
    if (c.boardTexts > 0) out.push_back(notReadText(c.boardTexts, "board text", "board texts"));
    if (c.footprintGraphics > 0)
        out.push_back(notReadText(c.footprintGraphics, "footprint graphic", "footprint graphics"));
    if (c.customPadPrimitives > 0)
        out.push_back(notReadText(c.customPadPrimitives, "custom pad curve", "custom pad curves"));
    if (c.padsWithOpenings > 0)
        out.push_back("Pad openings on mask and paste layers are not read (" + formatInt(c.padsWithOpenings) +
                      (c.padsWithOpenings == 1 ? " pad)." : " pads)."));
    if (c.kicad5Footprints > 0)
        out.push_back("KiCad 5 footprints ('module') are not read: " + formatInt(c.kicad5Footprints) +
                      (c.kicad5Footprints == 1 ? " footprint left out." : " footprints left out."));
    return out;
}

} // namespace

PCBPackage KiCadPCBParser::parse(const std::string& fileName, std::span<const std::uint8_t> data) const {
    if (!validatesAsUTF8(data)) throw KiCadParseError::malformed("not UTF-8");
    const std::string_view text(reinterpret_cast<const char*>(data.data()), data.size());
    const SExprTree tree = SExprNode::parse(text);
    if (tree->name != "kicad_pcb") throw KiCadParseError::malformed("root is not kicad_pcb");
    PCBPackage package = BoardReader(tree.root(), fileName).read();
    for (auto& w : unreadWarnings(countUnread(tree.root()))) package.warnings.push_back(std::move(w));
    return package;
}

} // namespace corvane
