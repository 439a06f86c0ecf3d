#include "Primitives.hpp"

#include <algorithm>
#include <cmath>

#include "Angles.hpp"
#include "Overloaded.hpp"

namespace corvane {

namespace {
constexpr double kSqrt2 = 1.4142135623730951;

void includePoint(BBox& box, const Vec2& p, double r) {
    box.include(Vec2{p.x - r, p.y - r});
    box.include(Vec2{p.x + r, p.y + r});
}
} // namespace

std::int64_t outlineChords(double radiusMM, double sweepRadians) {
    const double r = std::fabs(radiusMM), sweep = std::fabs(sweepRadians);
    if (!(r > kOutlineChordMM) || !std::isfinite(r) || !std::isfinite(sweep)) return 1;
    const double chords = std::ceil(sweep / (2.0 * std::acos(1.0 - kOutlineChordMM / r)));
    if (!(chords < static_cast<double>(kOutlineMostChords))) return kOutlineMostChords;
    return std::max<std::int64_t>(1, static_cast<std::int64_t>(chords));
}

std::int64_t outlineDiscSides(double diameterMM) {
    constexpr std::int64_t leastSides = 6;
    return std::max<std::int64_t>(leastSides, outlineChords(diameterMM * 0.5, kTwoPi));
}

double ApertureShape::boundingDiameter() const {
    return std::visit(Overloaded{
        [](const Circle& c) { return c.diameter; },
        [](const Rectangle& r) { return std::max(r.width, r.height) * kSqrt2; },
        [](const Obround& o) { return std::max(o.width, o.height); },
        [](const Polygon& p) { return p.diameter; },
        [](const Macro& m) { return m.boundingDiameter; },
    }, value);
}

double ApertureShape::strokeNominalWidth() const {
    return std::visit(Overloaded{
        [](const Circle& c) { return c.diameter; },
        [](const Rectangle& r) { return (r.width + r.height) * 0.5; },
        [](const Obround& o) { return std::min(o.width, o.height); },
        [](const Polygon& p) { return p.diameter; },
        [](const Macro& m) { return m.boundingDiameter; },
    }, value);
}

bool ApertureShape::isFinite() const {
    return std::visit(Overloaded{
        [](const Circle& c) { return std::isfinite(c.diameter); },
        [](const Rectangle& r) { return std::isfinite(r.width) && std::isfinite(r.height); },
        [](const Obround& o) { return std::isfinite(o.width) && std::isfinite(o.height); },
        [](const Polygon& p) { return std::isfinite(p.diameter) && std::isfinite(p.rotationDeg); },
        [](const Macro& m) {
            if (!std::isfinite(m.boundingDiameter)) return false;
            if (m.outline)
                for (const auto& c : *m.outline)
                    for (const auto& p : c)
                        if (!p.isFinite()) return false;
            return true;
        },
    }, value) && std::isfinite(boundingDiameter());
}

std::string ApertureShape::description() const {
    return std::visit(Overloaded{
        [](const Circle& c) { return "circle \u00D8" + formatFixed(c.diameter, 3); },
        [](const Rectangle& r) { return "rect " + formatFixed(r.width, 3) + "\u00D7" + formatFixed(r.height, 3); },
        [](const Obround& o) { return "obround " + formatFixed(o.width, 3) + "\u00D7" + formatFixed(o.height, 3); },
        [](const Polygon& p) {
            return "polygon \u00D8" + formatFixed(p.diameter, 3) + " \u00D7" + formatInt(p.vertices) + " @" +
                   formatFixed(p.rotationDeg, 0) + "\u00B0";
        },
        [](const Macro& m) { return "macro " + m.name + " (\u00D8\u2248" + formatFixed(m.boundingDiameter, 3) + ")"; },
    }, value);
}

void includeArcExtent(BBox& box, const Vec2& start, const Vec2& end, const Vec2& center, bool clockwise, double r) {
    includePoint(box, start, r);
    includePoint(box, end, r);
    const double dx = start.x - center.x;
    const double dy = start.y - center.y;
    const double radius = std::sqrt(dx * dx + dy * dy);
    if (!(radius > 1e-9) || !std::isfinite(radius)) return;
    const double a0 = std::atan2(dy, dx);
    double a1 = std::atan2(end.y - center.y, end.x - center.x);
    if (!std::isfinite(a0) || !std::isfinite(a1)) return;
    if (clockwise) {
        while (a1 >= a0) a1 -= kTwoPi;
    } else {
        while (a1 <= a0) a1 += kTwoPi;
    }
    const double lo = std::min(a0, a1);
    const double hi = std::max(a0, a1);
    // Axis directions 0°, 90°, 180°, 270°; any 2π multiple of them inside [lo, hi] is on the arc.
    static const double axes[4] = {0.0, kPi * 0.5, kPi, kPi * 1.5};
    static const double ux[4] = {1, 0, -1, 0};
    static const double uy[4] = {0, 1, 0, -1};
    for (int k = 0; k < 4; ++k) {
        const double m = std::ceil((lo - axes[k]) / kTwoPi);
        const double phi = axes[k] + m * kTwoPi;
        if (phi >= lo && phi <= hi) {
            includePoint(box, Vec2{center.x + radius * ux[k], center.y + radius * uy[k]}, r);
        }
    }
}

void includeCentreLines(BBox& box, const PCBObject& object) {
    if (const auto* s = object.kind.as<PCBObjectKind::Stroke>()) {
        box.include(s->start);
        box.include(s->end);
    } else if (const auto* a = object.kind.as<PCBObjectKind::ArcStroke>()) {
        includeArcExtent(box, a->start, a->end, a->center, a->clockwise, 0.0);
    } else if (const auto* f = object.kind.as<PCBObjectKind::Flash>()) {
        box.include(f->at);
    } else if (const auto* g = object.kind.as<PCBObjectKind::Region>()) {
        for (const auto& c : g->contours)
            for (const auto& p : c) box.include(p);
    }
}

BBox PCBObject::computeBBox(const PCBObjectKind& kind, ShapeRef shape) {
    BBox box = BBox::empty();
    const double r = shape ? shape->boundingDiameter() * 0.5 : 0.0;
    kind.visit(Overloaded{
        [&](const PCBObjectKind::Stroke& s) { includePoint(box, s.start, r); includePoint(box, s.end, r); },
        [&](const PCBObjectKind::ArcStroke& a) { includeArcExtent(box, a.start, a.end, a.center, a.clockwise, r); },
        [&](const PCBObjectKind::Flash& f) { includePoint(box, f.at, r); },
        [&](const PCBObjectKind::Region& g) {
            for (const auto& c : g.contours)
                for (const auto& p : c) box.include(p);
        },
        [&](const PCBObjectKind::Drill& d) { includePoint(box, d.at, d.diameterMM * 0.5); },
        [&](const PCBObjectKind::Slot& s) {
            includePoint(box, s.start, s.diameterMM * 0.5);
            includePoint(box, s.end, s.diameterMM * 0.5);
        },
    });
    return box;
}

PCBObject::PCBObject(PCBObjectKind kind_, std::optional<std::int64_t> apertureCode_, SharedShape apertureShape_,
                     Polarity polarity_, SharedText net_, SharedText component_, SharedText pin_,
                     SharedText apertureFunction_, std::int64_t index_)
    : kind(std::move(kind_)), polarity(polarity_), hasApertureCode_(apertureCode_.has_value()),
      apertureCode_(apertureCode_.value_or(0)), apertureShape(std::move(apertureShape_)), index(index_) {
    bbox = computeBBox(kind, apertureShape);
    attributes_ = sharedAttributes({std::move(net_), std::move(component_), std::move(pin_), std::move(apertureFunction_)});
}

bool PCBObject::isFinite() const {
    if (apertureShape && !apertureShape->isFinite()) return false;
    const double r = apertureShape ? apertureShape->boundingDiameter() * 0.5 : 0.0;
    const bool points = kind.visit(Overloaded{
        [&](const PCBObjectKind::Stroke& s) { return reachesFinitely(s.start, r) && reachesFinitely(s.end, r); },
        [&](const PCBObjectKind::ArcStroke& a) {
            const double radius = std::hypot(a.start.x - a.center.x, a.start.y - a.center.y);
            return reachesFinitely(a.start, r) && reachesFinitely(a.end, r) && reachesFinitely(a.center, radius + std::fabs(r));
        },
        [&](const PCBObjectKind::Flash& f) { return reachesFinitely(f.at, r); },
        [&](const PCBObjectKind::Region& g) {
            for (const auto& c : g.contours)
                for (const auto& p : c)
                    if (!p.isFinite()) return false;
            return true;
        },
        [&](const PCBObjectKind::Drill& d) { return reachesFinitely(d.at, d.diameterMM * 0.5); },
        [&](const PCBObjectKind::Slot& s) {
            return reachesFinitely(s.start, s.diameterMM * 0.5) && reachesFinitely(s.end, s.diameterMM * 0.5);
        },
    });
    return points && (!bbox.isValid() || bbox.isFinite());
}

std::string PCBObject::typeName() const {
    static const char* names[] = {"Track / Line", "Arc", "Flash (Pad)", "Region (Fill)", "Drill Hit", "Slot"};
    return names[kind.value.index()];
}

std::optional<double> PCBObject::strokeWidth() const {
    if (!apertureShape) return std::nullopt;
    return apertureShape->strokeNominalWidth();
}

} // namespace corvane

using namespace corvane;

std::size_t std::hash<ApertureShape>::operator()(const ApertureShape& s) const noexcept {
    std::size_t seed = s.value.index();
    std::visit(Overloaded{
        [&](const ApertureShape::Circle& c) { hashCombineValue(seed, c.diameter); },
        [&](const ApertureShape::Rectangle& r) { hashCombineValue(seed, r.width); hashCombineValue(seed, r.height); },
        [&](const ApertureShape::Obround& o) { hashCombineValue(seed, o.width); hashCombineValue(seed, o.height); },
        [&](const ApertureShape::Polygon& p) {
            hashCombineValue(seed, p.diameter); hashCombineValue(seed, p.vertices); hashCombineValue(seed, p.rotationDeg);
        },
        [&](const ApertureShape::Macro& m) {
            hashCombineValue(seed, m.name); hashCombineValue(seed, m.boundingDiameter);
            if (m.outline) hashCombine(seed, m.outline->size());
        },
    }, s.value);
    return seed;
}

std::size_t std::hash<Aperture>::operator()(const Aperture& a) const noexcept {
    std::size_t seed = 0;
    hashCombineValue(seed, a.code);
    hashCombineValue(seed, a.shape);
    hashCombine(seed, a.holeDiameter ? hashDouble(*a.holeDiameter) : 0x51ed);
    return seed;
}

std::size_t std::hash<PCBObjectKind>::operator()(const PCBObjectKind& k) const noexcept {
    std::size_t seed = k.value.index();
    k.visit(Overloaded{
        [&](const PCBObjectKind::Stroke& s) { hashCombineValue(seed, s.start); hashCombineValue(seed, s.end); },
        [&](const PCBObjectKind::ArcStroke& a) {
            hashCombineValue(seed, a.start); hashCombineValue(seed, a.end); hashCombineValue(seed, a.center);
            hashCombineValue(seed, a.clockwise);
        },
        [&](const PCBObjectKind::Flash& f) { hashCombineValue(seed, f.at); },
        [&](const PCBObjectKind::Region& g) {
            for (const auto& c : g.contours) {
                hashCombine(seed, c.size());
                for (const auto& p : c) hashCombineValue(seed, p);
            }
        },
        [&](const PCBObjectKind::Drill& d) {
            hashCombineValue(seed, d.at); hashCombineValue(seed, d.diameterMM); hashCombineValue(seed, d.plated);
        },
        [&](const PCBObjectKind::Slot& s) {
            hashCombineValue(seed, s.start); hashCombineValue(seed, s.end); hashCombineValue(seed, s.diameterMM);
            hashCombineValue(seed, s.plated);
        },
    });
    return seed;
}

std::size_t std::hash<PCBObject>::operator()(const PCBObject& o) const noexcept {
    std::size_t seed = 0;
    auto opt = [&](const auto& v) {
        if (v) hashCombineValue(seed, *v); else hashCombine(seed, 0x51ed);
    };
    hashCombineValue(seed, o.kind);
    opt(o.apertureCode());
    opt(o.apertureShape);
    hashCombineValue(seed, o.polarity);
    opt(o.net()); opt(o.component()); opt(o.pin()); opt(o.apertureFunction());
    hashCombineValue(seed, o.bbox);
    hashCombineValue(seed, o.index);
    return seed;
}

namespace corvane {

void ObjectInterner::operator()(PCBObject& o) {
    if (o.apertureShape) {
        auto [it, added] = shapes_.try_emplace(*o.apertureShape, o.apertureShape);
        if (!added) o.apertureShape = it->second;
    }
    if (o.attributes()) o.setAttributes(record(*o.attributes()));
}

SharedAttributes ObjectInterner::record(ObjectAttributes names) {
    if (names.empty()) return {};
    for (SharedText* text : {&names.net, &names.component, &names.pin, &names.apertureFunction}) texts_.intern(*text);
    const std::array key{names.net.get(), names.component.get(), names.pin.get(), names.apertureFunction.get()};
    auto [it, added] = records_.try_emplace(key);
    if (added) it->second = SharedAttributes(std::move(names));
    return it->second;
}

std::size_t ObjectInterner::RecordHash::operator()(const std::array<const std::string*, 4>& texts) const noexcept {
    std::size_t seed = 0;
    for (const std::string* text : texts) hashCombine(seed, std::hash<const void*>{}(text));
    return seed;
}

} // namespace corvane
