// Feature records of ODB++ layers: symbols, pads, lines, arcs, surfaces and drill pads.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include "import/ODBPPParser.hpp"
#include "model/GeometryEngine.hpp"
#include "import/ODBText.hpp"
#include "io/TextDecoding.hpp"
#include "model/Angles.hpp"
#include "model/Format.hpp"

namespace corvane {

namespace {

constexpr double kMinDrillMM = 0.05;
// Segments per half circle when a rotated oval pad becomes an outline.
constexpr int kCapSegments = 16;

// A whole token read as a number. Out-of-range magnitudes count as numbers (they
// occupy a field) but come back non-finite or zero, so the record using them is skipped
// instead of its later fields sliding into place.
bool tokenNumber(std::string_view tok, double& out) {
    if (parseDouble(tok, out)) return true;
    const char* b = tok.data();
    const char* e = b + tok.size();
    if (b != e && (*b == '+' || *b == '-')) ++b;
    double ignored = 0;
    const auto res = std::from_chars(b, e, ignored, std::chars_format::general);
    if (res.ec != std::errc::result_out_of_range || res.ptr != e) return false;
    const std::size_t ex = tok.find_first_of("eE");
    const bool tiny = ex != std::string_view::npos && ex + 1 < tok.size() && tok[ex + 1] == '-';
    out = tiny ? 0.0 : std::numeric_limits<double>::infinity();
    return true;
}

// Truncates toward zero; nothing for NaN or values outside the 64-bit range.
std::optional<std::int64_t> truncToInt64(double v) {
    if (!std::isfinite(v)) return std::nullopt;
    const double t = std::trunc(v);
    if (t < -9223372036854775808.0 || t >= 9223372036854775808.0) return std::nullopt;
    return static_cast<std::int64_t>(t);
}

// One record line, cut before its attribute list (";..."), split at spaces.
struct Record {
    // The longest record (an arc) has a dozen fields: past this many a line's tokens are not kept, so a
    // line of any length costs the same; its last token, which some records end with, still is.
    static constexpr std::size_t kMaxTokens = 32;

    std::vector<std::string_view> tokens;
    std::string_view lastToken;
    std::vector<double> numbers;
    std::string_view attributes;  // the text after the first ";", empty when none

    void read(std::string_view line) {
        tokens.clear();
        numbers.clear();
        lastToken = {};
        const std::size_t semi = line.find(';');
        attributes = semi == std::string_view::npos ? std::string_view{} : line.substr(semi + 1);
        const std::string_view body = semi == std::string_view::npos ? line : line.substr(0, semi);
        std::size_t i = 0;
        while (i < body.size() && tokens.size() < kMaxTokens) {
            while (i < body.size() && body[i] == ' ') ++i;
            std::size_t j = i;
            while (j < body.size() && body[j] != ' ') ++j;
            if (j > i) {
                lastToken = body.substr(i, j - i);
                tokens.push_back(lastToken);
            }
            i = j;
        }
        // Past the tokens kept, only the last one counts: it is read from the line's end.
        std::size_t end = body.size();
        while (end > i && body[end - 1] == ' ') --end;
        std::size_t start = end;
        while (start > i && body[start - 1] != ' ') --start;
        if (end > start) lastToken = body.substr(start, end - start);
        for (std::size_t k = 1; k < tokens.size(); ++k) {
            double v = 0;
            if (tokenNumber(tokens[k], v)) numbers.push_back(v);
        }
    }
    // Dark unless the first polarity letter after the record letter says clear.
    Polarity polarity() const {
        for (std::size_t k = 1; k < tokens.size(); ++k) {
            if (tokens[k] == "P") return Polarity::dark;
            if (tokens[k] == "N") return Polarity::clear;
        }
        return Polarity::dark;
    }
    // Arc direction token: "N" turns counter-clockwise; anything else keeps clockwise.
    bool clockwise() const { return tokens.size() < 2 || lastToken != "N"; }
};

// Coordinates and sizes beyond a kilometre are no board: they would only overflow the boxes
// and areas built from them, so such records are skipped like unreadable ones.
constexpr double kLimitMM = 1e6;
bool plausible(double v) { return std::fabs(v) <= kLimitMM; }  // false for NaN
bool plausiblePoint(const Vec2& p) { return plausible(p.x) && plausible(p.y); }

// Parts of a symbol size text: pieces between "x" with every "px" removed, numbers only.
std::vector<double> sizeParts(std::string_view text) {
    std::vector<double> parts;
    std::size_t i = 0;
    while (i <= text.size()) {
        std::size_t j = text.find('x', i);
        if (j == std::string_view::npos) j = text.size();
        std::string_view piece = text.substr(i, j - i);
        i = j + 1;
        if (piece.empty()) continue;
        std::string cleaned;
        for (std::size_t k = 0; k < piece.size();) {
            if (piece.compare(k, 2, "px") == 0) { k += 2; continue; }
            cleaned += piece[k++];
        }
        double v = 0;
        if (parseDouble(cleaned, v)) parts.push_back(v);
    }
    return parts;
}

// Rotates (x, y) clockwise by `deg` degrees, the sense of ODB++ pad angles.
Vec2 rotateCW(Vec2 p, double deg) {
    const double a = deg * kPi / 180.0;
    const double c = std::cos(a), s = std::sin(a);
    return Vec2{p.x * c + p.y * s, -p.x * s + p.y * c};
}

// Outline of a rectangle or obround centred on the origin, counter-clockwise.
Contour shapeOutline(const ApertureShape& shape) {
    Contour out;
    if (auto r = shape.as<ApertureShape::Rectangle>()) {
        const double w = r->width * 0.5, h = r->height * 0.5;
        out = {{-w, -h}, {w, -h}, {w, h}, {-w, h}};
    } else if (auto o = shape.as<ApertureShape::Obround>()) {
        const bool wide = o->width >= o->height;
        const double rad = (wide ? o->height : o->width) * 0.5;
        const double off = (wide ? o->width : o->height) * 0.5 - rad;
        // Two half circles: right then left for a wide oval, top then bottom for a tall one.
        const Vec2 c1 = wide ? Vec2{off, 0} : Vec2{0, off};
        const Vec2 c2 = wide ? Vec2{-off, 0} : Vec2{0, -off};
        const double start = wide ? -90.0 : 0.0;
        for (int half = 0; half < 2; ++half) {
            const Vec2 c = half == 0 ? c1 : c2;
            for (int i = 0; i <= kCapSegments; ++i) {
                const double a = (start + half * 180.0 + 180.0 * i / kCapSegments) * kPi / 180.0;
                out.push_back(Vec2{c.x + rad * std::cos(a), c.y + rad * std::sin(a)});
            }
        }
    }
    return out;
}

} // namespace

void FeaturesParser::addContourPoint(Contour& contour, Vec2 p) {
    built_.vertices(1);
    contour.push_back(p);
}

void FeaturesParser::append(PCBObjectKind kind, SharedShape shape, Polarity polarity) {
    built_.object();
    const auto index = static_cast<std::int64_t>(objects.size());
    objects.emplace_back(std::move(kind), std::nullopt, std::move(shape), polarity, std::nullopt, std::nullopt,
                         std::nullopt, std::nullopt, index);
    intern_(objects.back());
}

const FeaturesParser::Symbol* FeaturesParser::symbolNumbered(double number) const {
    const auto id = truncToInt64(number);
    if (!id) return nullptr;
    const auto it = symbols.find(*id);
    return it == symbols.end() ? nullptr : &it->second;
}

void FeaturesParser::defineSymbol(std::string_view line) {
    std::size_t sp = line.find(' ');
    if (sp == std::string_view::npos) return;
    const std::string_view numberText = line.substr(1, sp - 1);
    while (sp < line.size() && line[sp] == ' ') ++sp;
    if (sp >= line.size()) return;
    std::size_t end = line.find(' ', sp);
    if (end == std::string_view::npos) end = line.size();
    std::int64_t number = 0;
    if (!parseInt64(numberText, number)) return;
    const std::string name = asciiLower(line.substr(sp, end - sp));
    const auto symbolName = [&] {
        return decodeUTF8OrLatin1({reinterpret_cast<const std::uint8_t*>(name.data()), name.size()});
    };
    const std::string_view n = name;
    const double k = sizeScale();

    const auto rest = [&](std::size_t prefix, double& d) { return parseDouble(n.substr(prefix), d); };
    const auto partOr = [](const std::vector<double>& p, std::size_t i, double fallback) {
        return i < p.size() ? p[i] : fallback;
    };
    std::optional<Symbol> symbol;
    double d = 0;
    if (n.starts_with("r") && !n.starts_with("rect") && rest(1, d)) {
        symbol = Symbol{ApertureShape::circle(d * k), d * k};
    } else if (n.starts_with("rect")) {
        const auto p = sizeParts(n.substr(4));
        const double w = partOr(p, 0, 1000) * k;
        const double h = partOr(p, 1, p.empty() ? 1000 : p[0]) * k;
        symbol = Symbol{ApertureShape::rectangle(w, h), (w + h) / 2};
    } else if (n.starts_with("oval")) {
        const auto p = sizeParts(n.substr(4));
        const double w = partOr(p, 0, 1000) * k;
        const double h = partOr(p, 1, p.empty() ? 1000 : p[0]) * k;
        symbol = Symbol{ApertureShape::obround(w, h), std::min(w, h)};
    } else if (n.starts_with("s") && rest(1, d)) {
        symbol = Symbol{ApertureShape::rectangle(d * k, d * k), d * k};
    } else if (n.starts_with("donut_r")) {
        const auto p = sizeParts(n.substr(7));
        const double outer = partOr(p, 0, 1000) * k;
        symbol = Symbol{ApertureShape::circle(outer), outer};
    } else if (n.starts_with("oct") && rest(3, d)) {
        symbol = Symbol{ApertureShape::polygon(d * k, 8, 22.5), d * k};
    } else if (n.starts_with("poly")) {
        const auto p = sizeParts(n.substr(4));
        const double dia = partOr(p, 0, 1000) * k;
        const auto vertices = p.size() >= 2 ? truncToInt64(p[1]) : std::optional<std::int64_t>(6);
        const double rot = partOr(p, 2, 0);
        if (!vertices || !std::isfinite(rot)) return;
        symbol = Symbol{ApertureShape::polygon(dia, *vertices, rot), dia};
    } else {
        warnings.push_back("ODB++ symbol '" + symbolName() + "' not modelled \u2014 using 0.5 mm circle.");
        symbol = Symbol{ApertureShape::macro(symbolName(), 0.5), 0.5};
    }
    // A size that is not a finite, non-negative length defines nothing: the records
    // naming it are then skipped like those naming an undefined symbol.
    const double size = symbol->diameterMM;
    const double bound = symbol->shape.boundingDiameter();
    if (!plausible(size) || size < 0 || !plausible(bound) || bound < 0) return;
    if (auto r = symbol->shape.as<ApertureShape::Rectangle>(); r && (r->width < 0 || r->height < 0)) return;
    if (auto o = symbol->shape.as<ApertureShape::Obround>(); o && (o->width < 0 || o->height < 0)) return;
    symbols.insert_or_assign(number, std::move(*symbol));
}

GerberDocument FeaturesParser::parse(std::string_view text) {
    symbols.clear();
    warnings.clear();
    objects.clear();
    // A record takes some 30 bytes; the reservation is capped so that a large file of
    // comments or junk does not claim memory up front.
    objects.reserve(std::min<std::size_t>(text.size() / 48, std::size_t{1} << 20));

    const double c = coordScale();
    const GeometryEngine engine;
    Record rec;

    // The open surface: islands gather the holes that follow them until the next island or
    // the surface's end; each island becomes one region with its holes bridged in.
    bool surfaceOpen = false;
    Polarity surfacePolarity = Polarity::dark;
    bool contourStarted = false;
    bool contourIsHole = false;
    Contour contour;
    std::optional<Contour> island;
    std::vector<Contour> holes;

    const auto emitIsland = [&] {
        if (!island) return;
        // A pour's clearances are bridged in all at once: one by one, each bridge would rescan and copy
        // the growing outline, which is quadratic in the clearances of a large plane.
        Contour outline = GeometryEngine::bridgeHoles(std::move(*island), holes);
        island.reset();
        holes.clear();
        append(PCBObjectKind::region({std::move(outline)}), std::nullopt, surfacePolarity);
    };
    const auto closeSurface = [&] {
        emitIsland();
        holes.clear();
        surfaceOpen = false;
        contourStarted = false;
        contour.clear();
    };

    odbtext::forEachLine(text, [&](std::string_view line) {
        if (line.empty() || line.front() == '#') return true;
        if (line.front() == '$') {
            defineSymbol(line);
            return true;
        }
        rec.read(line);
        if (rec.tokens.empty()) return true;
        const std::string_view kind = rec.tokens[0];
        const auto& v = rec.numbers;
        if (kind == "P") {
            if (v.size() < 3) return true;
            const Symbol* sym = symbolNumbered(v[2]);
            const Vec2 at{v[0] * c, v[1] * c};
            if (!sym || !plausiblePoint(at)) return true;
            addPad(at, *sym, v, rec.polarity());
        } else if (kind == "L") {
            if (v.size() < 5) return true;
            const Symbol* sym = symbolNumbered(v[4]);
            const Vec2 a{v[0] * c, v[1] * c}, b{v[2] * c, v[3] * c};
            if (!sym || !plausiblePoint(a) || !plausiblePoint(b)) return true;
            append(PCBObjectKind::stroke(a, b), sym->shape, rec.polarity());
        } else if (kind == "A") {
            if (v.size() < 7) return true;
            const Symbol* sym = symbolNumbered(v[6]);
            const Vec2 a{v[0] * c, v[1] * c}, b{v[2] * c, v[3] * c}, m{v[4] * c, v[5] * c};
            if (!sym || !plausiblePoint(a) || !plausiblePoint(b) || !plausiblePoint(m)) return true;
            append(PCBObjectKind::arcStroke(a, b, m, rec.clockwise()), sym->shape, rec.polarity());
        } else if (kind == "S") {
            closeSurface();
            surfaceOpen = true;
            surfacePolarity = rec.tokens.size() >= 2 && rec.tokens[1] == "N" ? Polarity::clear : Polarity::dark;
        } else if (kind == "SE") {
            if (surfaceOpen) closeSurface();
        } else if (kind == "OB") {
            if (!surfaceOpen || v.size() < 2) return true;
            const Vec2 p{v[0] * c, v[1] * c};
            contour.clear();
            contourStarted = plausiblePoint(p);
            if (contourStarted) addContourPoint(contour, p);
            contourIsHole = rec.lastToken == "H";
        } else if (kind == "OS") {
            if (!surfaceOpen || !contourStarted || v.size() < 2) return true;
            const Vec2 p{v[0] * c, v[1] * c};
            if (plausiblePoint(p)) addContourPoint(contour, p);
        } else if (kind == "OC") {
            if (!surfaceOpen || !contourStarted || v.size() < 4) return true;
            const Vec2 e{v[0] * c, v[1] * c}, m{v[2] * c, v[3] * c};
            if (!plausiblePoint(e) || !plausiblePoint(m)) return true;
            const Vec2 from = contour.back();
            const std::size_t before = contour.size();
            engine.sampleArc(from, e, m, rec.clockwise(), contour);
            built_.vertices(contour.size() - before);
        } else if (kind == "OE") {
            if (!surfaceOpen || !contourStarted || contour.size() < 3) return true;
            if (contourIsHole) {
                // A hole before any island has nothing to cut into.
                if (island) holes.push_back(std::move(contour));
            } else {
                emitIsland();
                island = std::move(contour);
            }
            contour.clear();
            contourStarted = false;
        }
        return true;
    });
    // A surface left open at the end keeps its finished contours; an unfinished one is lost.
    closeSurface();

    GerberDocument doc;
    doc.format = SourceFormat::unknown;
    doc.units = Units::mm;
    doc.objects = std::move(objects);
    objects.clear();
    doc.bbox = ODBPPParser::bbox(doc);
    return doc;
}

void FeaturesParser::addPad(Vec2 at, const Symbol& symbol, const std::vector<double>& numbers, Polarity polarity) {
    // Orientation: numbers after x, y, symbol are the D code and the orientation code;
    // codes 0-7 are quarter turns (4-7 mirrored), 8 and 9 carry a free angle (9 mirrored).
    double angle = 0;
    bool mirror = false;
    if (numbers.size() >= 5) {
        const auto code = truncToInt64(numbers[4]);
        if (code && *code >= 0 && *code <= 7) {
            angle = static_cast<double>(*code % 4) * 90.0;
            mirror = *code >= 4;
        } else if (code && (*code == 8 || *code == 9)) {
            angle = numbers.size() >= 6 && std::isfinite(numbers[5]) ? numbers[5] : 0.0;
            mirror = *code == 9;
        }
    }
    angle = std::fmod(angle, 360.0);
    if (angle < 0) angle += 360.0;
    const auto near = [&](double target) { return std::fabs(angle - target) < 1e-9; };

    ApertureShape shape = symbol.shape;
    if (auto poly = shape.as<ApertureShape::Polygon>()) {
        double rot = mirror ? 180.0 - poly->rotationDeg : poly->rotationDeg;
        rot = std::fmod(rot - angle, 360.0);
        if (rot < 0) rot += 360.0;
        poly->rotationDeg = rot;
    } else if (shape.as<ApertureShape::Rectangle>() || shape.as<ApertureShape::Obround>()) {
        if (near(90) || near(270)) {
            if (auto r = shape.as<ApertureShape::Rectangle>()) std::swap(r->width, r->height);
            if (auto o = shape.as<ApertureShape::Obround>()) std::swap(o->width, o->height);
        } else if (!(near(0) || near(180) || near(360))) {
            // Rectangles and ovals are mirror-symmetric, so only the angle shapes the outline.
            Contour outline = shapeOutline(shape);
            for (auto& p : outline) {
                const Vec2 r = rotateCW(p, angle);
                p = Vec2{at.x + r.x, at.y + r.y};
            }
            append(PCBObjectKind::region({std::move(outline)}), std::nullopt, polarity);
            return;
        }
    }
    append(PCBObjectKind::flash(at), std::move(shape), polarity);
}

DrillDocument FeaturesParser::parseDrill(std::string_view text, const ODBPPParser::MatrixLayerInfo& layer) {
    symbols.clear();
    const std::string upperName = odbtext::upper(layer.name);
    const Plating layerPlating = upperName.find("NON-PLATED") != std::string::npos ||
                                         upperName.find("NPTH") != std::string::npos
                                     ? Plating::npth
                                     : Plating::pth;
    const double c = coordScale();
    DrillDocument doc;
    doc.units = Units::mm;
    doc.fileName = layer.name;
    std::int64_t lastTool = 10;
    std::optional<std::int64_t> drillAttribute;  // index of the ".drill" attribute name
    BBox box = BBox::empty();
    Record rec;

    // The record's own ".drill" attribute overrides the layer rule when it says non-plated
    // (option 1 of plated, non_plated, via; some writers spell the option out).
    const auto platingOf = [&](std::string_view attributes) {
        if (!drillAttribute || attributes.empty()) return layerPlating;
        std::size_t i = 0;
        while (i <= attributes.size()) {
            std::size_t j = attributes.find(',', i);
            if (j == std::string_view::npos) j = attributes.size();
            const std::string_view item = attributes.substr(i, j - i);
            i = j + 1;
            const std::size_t eq = item.find('=');
            if (eq == std::string_view::npos) continue;
            std::int64_t idx = 0;
            if (!parseInt64(odbtext::trim(item.substr(0, eq)), idx) || idx != *drillAttribute) continue;
            const std::string value = asciiLower(odbtext::trim(item.substr(eq + 1)));
            if (value == "1" || value == "non_plated") return Plating(Plating::npth);
        }
        return layerPlating;
    };
    const auto newTool = [&](double diameter, Plating plating) {
        lastTool += 1;
        doc.tools[lastTool] = DrillTool{lastTool, std::max(diameter, kMinDrillMM), plating};
        return lastTool;
    };

    odbtext::forEachLine(text, [&](std::string_view line) {
        if (line.empty() || line.front() == '#') return true;
        if (line.front() == '$') {
            defineSymbol(line);
            return true;
        }
        if (line.front() == '@') {
            const std::size_t sp = line.find(' ');
            std::int64_t idx = 0;
            if (sp != std::string_view::npos && parseInt64(line.substr(1, sp - 1), idx) &&
                odbtext::trim(line.substr(sp + 1)) == ".drill")
                drillAttribute = idx;
            return true;
        }
        rec.read(line);
        if (rec.tokens.empty()) return true;
        const auto& v = rec.numbers;
        if (rec.tokens[0] == "P" && v.size() >= 3) {
            const Symbol* sym = symbolNumbered(v[2]);
            const Vec2 at{v[0] * c, v[1] * c};
            if (!sym || !plausiblePoint(at)) return true;
            const Plating plating = platingOf(rec.attributes);
            const std::int64_t tool = newTool(sym->diameterMM, plating);
            built_.object();
            doc.hits.push_back(DrillHit{at, tool, plating});
            box.include(at);
        } else if (rec.tokens[0] == "L" && v.size() >= 5) {
            const Symbol* sym = symbolNumbered(v[4]);
            const Vec2 a{v[0] * c, v[1] * c}, b{v[2] * c, v[3] * c};
            if (!sym || !plausiblePoint(a) || !plausiblePoint(b)) return true;
            const Plating plating = platingOf(rec.attributes);
            const std::int64_t tool = newTool(sym->diameterMM, plating);
            built_.object();
            const double d = doc.tools[tool].diameterMM;
            PCBObject slot(PCBObjectKind::slot(a, b, d, plating == Plating::pth), tool, ApertureShape::circle(d),
                           Polarity::dark, std::nullopt, std::nullopt, std::nullopt, std::nullopt,
                           static_cast<std::int64_t>(doc.slots.size()));
            box.include(slot.bbox);
            doc.slots.push_back(std::move(slot));
        }
        return true;
    });
    doc.bbox = box;
    return doc;
}

} // namespace corvane
