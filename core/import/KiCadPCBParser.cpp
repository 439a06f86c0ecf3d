#include "KiCadPCBParser.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "PackageImporter.hpp"
#include "SizeLimits.hpp"
#include "model/Format.hpp"
#include "TextDecoding.hpp"

namespace corvane {

namespace {

constexpr std::string_view kWarning = "Imported from KiCad PCB \xE2\x80\x94 component/net metadata comes from footprints.";
constexpr std::string_view kDrillFileName = "kicad-vias.drl";
// Segments per half circle of a capsule outline: under 0.5 % of the radius off the true arc.
constexpr int kCapsuleSegments = 16;

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

enum class PadForm { circle, rectangle, obround };

class BoardReader {
public:
    BoardReader(const SExprNode& root, std::string fileName) : root_(root), fileName_(std::move(fileName)) {}

    PCBPackage read() {
        readNetTable();
        readDeclaredLayers();
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
        built_.object();
        const std::int64_t tool = newTool(diameter, plating);
        hits_.push_back(DrillHit{at, tool, plating});
    }

    void addSlot(const Vec2& start, const Vec2& end, double diameter, Plating plating) {
        built_.object();
        const std::int64_t tool = newTool(diameter, plating);
        PCBObject slot(PCBObjectKind::slot(start, end, diameter, plating == Plating::pth), tool,
                       ApertureShape::circle(diameter), Polarity::dark, std::nullopt, std::nullopt, std::nullopt,
                       std::nullopt, static_cast<std::int64_t>(slots_.size()));
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
        if (keyword == "rect" || keyword == "roundrect") return PadForm::rectangle;
        if (keyword == "custom") {
            // A custom pad's own copper is its anchor, a circle or (by default) a rectangle.
            if (const SExprNode* options = pad.firstChild("options"))
                if (auto anchor = options->firstString("anchor"); anchor && *anchor == "circle") return PadForm::circle;
            return PadForm::rectangle;
        }
        if (keyword == "oval" || keyword == "trapezoid") return PadForm::obround;
        return PadForm::circle;
    }

    // Outline of a w × h rectangle or obround centred on the origin, in pad coordinates.
    static Contour padOutline(PadForm form, double w, double h) {
        Contour c;
        if (form == PadForm::rectangle) {
            c = {Vec2{-w / 2, -h / 2}, Vec2{w / 2, -h / 2}, Vec2{w / 2, h / 2}, Vec2{-w / 2, h / 2}};
            return c;
        }
        const bool alongX = w >= h;
        const double r = (alongX ? h : w) / 2;
        const double half = (alongX ? w - h : h - w) / 2;
        c.reserve(2 * (kCapsuleSegments + 1));
        for (int end = 0; end < 2; ++end) {
            const double sign = end == 0 ? 1.0 : -1.0;
            const Vec2 centre = alongX ? Vec2{sign * half, 0} : Vec2{0, sign * half};
            const double startAngle = (alongX ? -90.0 : 0.0) + end * 180.0;
            for (int i = 0; i <= kCapsuleSegments; ++i) {
                const auto [s, co] = sinCosDegrees(startAngle + 180.0 * i / kCapsuleSegments);
                c.push_back(Vec2{centre.x + r * co, centre.y + r * s});
            }
        }
        return c;
    }

    void readFootprint(const SExprNode& fp) {
        const std::optional<std::string> reference = referenceOf(fp);
        Vec2 origin;
        double angle = 0;
        if (const SExprNode* at = fp.firstChild("at")) {
            origin = xyOf(*at);
            angle = at->doubleAt(2);
        }
        for (const auto& child : fp.children)
            if (child->name == "pad") readPad(*child, origin, angle, reference);
    }

    void readPad(const SExprNode& pad, const Vec2& fpOrigin, double fpAngle, const std::optional<std::string>& reference) {
        const SExprNode* at = pad.firstChild("at");
        if (!at) return;
        // Pad offsets are relative to the footprint; the pad's own angle is already absolute.
        const Vec2 position = fpOrigin + rotateKiCad(xyOf(*at), fpAngle);
        const double padAngle = at->doubleAt(2);

        double w = 0.6, h = 0.6;
        if (const SExprNode* size = pad.firstChild("size")) {
            w = size->doubleAt(0);
            h = size->doubleAt(1);
        }
        const std::string keyword = padShapeKeyword(pad);
        const PadForm form = formOf(pad, keyword);
        const std::optional<std::string> net = netOf(pad);

        bool nonPlated = false;
        for (const auto& s : pad.strings)
            if (s.find("np_thru") != std::string::npos) nonPlated = true;
        const Plating plating = nonPlated ? Plating::npth : Plating::pth;

        Vec2 copperOffset;
        bool drilled = false;
        double holeW = 0, holeH = 0;
        if (const SExprNode* drill = pad.firstChild("drill")) {
            if (const SExprNode* offset = drill->firstChild("offset")) copperOffset = xyOf(*offset);
            if (drill->doubleAt(0) > 0) {
                drilled = true;
                const bool oval = std::find(drill->strings.begin(), drill->strings.end(), "oval") != drill->strings.end();
                holeW = drill->doubleAt(0);
                holeH = oval && drill->doubleAt(1) > 0 ? drill->doubleAt(1) : holeW;
                if (holeW != holeH) {
                    // An oval hole is a slot along its long side, turned with the pad.
                    const double d = std::min(holeW, holeH);
                    const double half = (std::max(holeW, holeH) - d) / 2;
                    const Vec2 axis = holeW > holeH ? Vec2{half, 0} : Vec2{0, half};
                    const Vec2 a = rotateKiCad(axis, padAngle);
                    addSlot(toBoard(position + a), toBoard(position - a), d, plating);
                } else {
                    addHit(toBoard(position), holeW, plating);
                }
            }
        }

        // A mounting hole whose copper fits inside the hole leaves no copper behind.
        if (nonPlated && drilled) {
            const double copperW = w, copperH = form == PadForm::circle ? w : h;
            if (copperW <= holeW && copperH <= holeH) return;
        }

        std::vector<std::string> layers;
        if (const SExprNode* list = pad.firstChild("layers")) {
            for (const auto& entry : list->strings) expandCopper(entry, layers);
        } else {
            expandCopper("*.Cu", layers);
        }
        if (layers.empty()) return;

        const Vec2 centre = position + rotateKiCad(copperOffset, padAngle);
        std::vector<PCBObject> copper;
        copper.push_back(padCopper(form, w, h, centre, padAngle, net, reference));
        if (keyword == "custom") {
            for (const auto& group : pad.children) {
                if (group->name != "primitives") continue;
                for (const auto& prim : group->children) {
                    if (prim->name != "gr_poly") continue;
                    Contour points = polygonPoints(*prim);
                    if (points.size() < 3) continue;
                    for (auto& p : points) p = toBoard(centre + rotateKiCad(p, padAngle));
                    copper.push_back(makeObject(PCBObjectKind::region({std::move(points)}), std::nullopt, net,
                                                reference, "Pad"));
                }
            }
        }
        for (const auto& layer : layers)
            for (const auto& object : copper) add(layer, object);
    }

    static PCBObject padCopper(PadForm form, double w, double h, const Vec2& centre, double angle,
                               const std::optional<std::string>& net, const std::optional<std::string>& reference) {
        const Vec2 at = toBoard(centre);
        if (form == PadForm::circle)
            return makeObject(PCBObjectKind::flash(at), ApertureShape::circle(w), net, reference, "Pad");
        // Rectangles and obrounds stay flashes at multiples of 90 degrees, sides swapped at 90 and 270.
        const double turned = std::isfinite(angle) ? std::fmod(angle, 180.0) : 0.0;
        const double a = turned < 0 ? turned + 180.0 : turned;
        constexpr double tolerance = 1e-9;
        const bool straight = a < tolerance || 180.0 - a < tolerance;
        const bool quarter = std::fabs(a - 90.0) < tolerance;
        if (straight || quarter) {
            const double sw = straight ? w : h, sh = straight ? h : w;
            ApertureShape shape = form == PadForm::rectangle ? ApertureShape::rectangle(sw, sh)
                                                             : ApertureShape::obround(sw, sh);
            return makeObject(PCBObjectKind::flash(at), std::move(shape), net, reference, "Pad");
        }
        Contour outline = padOutline(form, w, h);
        for (auto& p : outline) p = toBoard(centre + rotateKiCad(p, angle));
        return makeObject(PCBObjectKind::region({std::move(outline)}), std::nullopt, net, reference, "Pad");
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

    void readVias() {
        // Vias land on the copper layers in use so far, fixed before the first via.
        std::vector<std::string> copper;
        for (const auto& name : layerNames_)
            if (endsWith(name, ".Cu")) copper.push_back(name);
        if (copper.empty()) copper.emplace_back("F.Cu");
        for (const auto& child : root_.children) {
            if (child->name != "via") continue;
            const SExprNode* at = child->firstChild("at");
            if (!at) continue;
            const Vec2 position = toBoard(xyOf(*at));
            const SExprNode* size = child->firstChild("size");
            const double d = size && !size->bareDoubles.empty() ? size->bareDoubles.front() : 0.6;
            const SExprNode* drill = child->firstChild("drill");
            const double hole = drill && !drill->bareDoubles.empty() ? drill->bareDoubles.front() : 0.3;
            const PCBObject flash =
                makeObject(PCBObjectKind::flash(position), ApertureShape::circle(d), netOf(*child), std::nullopt, "Via");
            for (const auto& layer : copper) add(layer, flash);
            addHit(position, hole, Plating::pth);
        }
    }

    void readZone(const SExprNode& zone) {
        std::optional<std::string> net;
        if (auto name = zone.firstString("net_name"); name && !name->empty()) net = std::string(*name);
        else net = netOf(zone);
        for (const auto& poly : zone.children) {
            if (poly->name != "filled_polygon") continue;
            std::string layer = "F.Cu";
            if (auto l = poly->firstString("layer"))
                layer = *l;
            else if (auto zl = zone.firstString("layers"))
                layer = *zl;
            Contour points = polygonPoints(*poly);
            if (points.size() < 3) continue;
            for (auto& p : points) p = toBoard(p);
            add(layer, makeObject(PCBObjectKind::region({std::move(points)}), std::nullopt, net, std::nullopt, std::nullopt));
        }
    }

    void addClosedOutline(const std::string& layer, const Contour& points, double width) {
        for (std::size_t i = 0; i < points.size(); ++i)
            add(layer, makeObject(PCBObjectKind::stroke(points[i], points[(i + 1) % points.size()]),
                                  ApertureShape::circle(width), std::nullopt, std::nullopt, std::nullopt));
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
            return PackageImporter::layerOrder(a.layerType) < PackageImporter::layerOrder(b.layerType);
        });

        PCBPackage package;
        const auto dot = fileName_.rfind('.');
        package.name = dot == std::string::npos || dot == 0 ? fileName_ : fileName_.substr(0, dot);
        package.sourceFileName = fileName_;
        package.files = std::move(files);
        package.warnings.emplace_back(kWarning);
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
    std::int64_t toolCounter_ = 10;
    BuildCounter built_;
};

// ---- what the reader leaves out ---------------------------------------------------------------

// What a board holds that the reader does not draw, counted so that nothing is left out without a word.
struct UnreadCounts {
    std::int64_t trackArcs = 0;
    std::int64_t boardArcsAndCircles = 0;
    std::int64_t boardTexts = 0;
    std::int64_t footprintGraphics = 0;
    std::int64_t customPadPrimitives = 0;  // other than the polygons the reader draws
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
            if (prim->name != "gr_poly") ++counts.customPadPrimitives;
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
        out.push_back(notReadText(c.customPadPrimitives, "custom pad primitive other than a polygon",
                                  "custom pad primitives other than polygons"));
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
