#pragma once
// Apertures and the drawable primitives every reader produces.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "Geometry.hpp"
#include "RawValueEnum.hpp"
#include "Shared.hpp"

namespace corvane {

using Contour = std::vector<Vec2>;

// Curves of an evaluated aperture outline (a macro's circles, the arcs of its thermals and moirés, a
// KiCad pad's rounded corners) are chords whose corners lie on the curve and whose middles stand at most
// this far inside it: an outline is then as true as a sampled arc, and a gap measured to it is right to a
// tenth of a micrometre.
inline constexpr double kOutlineChordMM = 1e-4;
// Most chords one curve of an outline is cut into: a full circle keeps kOutlineChordMM up to a radius
// of about 340 mm, and no single hostile size costs more.
inline constexpr std::int64_t kOutlineMostChords = 4096;
// Chords for `sweepRadians` of a circle of `radiusMM` within kOutlineChordMM: at least one, at most
// kOutlineMostChords.
std::int64_t outlineChords(double radiusMM, double sweepRadians);
// Sides of the polygon that stands for a full circle of an outline (a macro's circle) of the given diameter:
// its corners on the circle, its sides within kOutlineChordMM of it, never fewer than six, below which it
// would no longer read as round.
std::int64_t outlineDiscSides(double diameterMM);

struct ApertureShape {
    struct Circle { double diameter = 0; bool operator==(const Circle&) const = default; };
    struct Rectangle { double width = 0; double height = 0; bool operator==(const Rectangle&) const = default; };
    struct Obround { double width = 0; double height = 0; bool operator==(const Obround&) const = default; };
    struct Polygon {
        double diameter = 0;
        std::int64_t vertices = 0;
        double rotationDeg = 0;
        bool operator==(const Polygon&) const = default;
    };
    struct Macro {
        std::string name;
        double boundingDiameter = 0;
        // Evaluated exposed outline in aperture coordinates (mm), when the macro body could be evaluated.
        std::optional<std::vector<Contour>> outline;
        bool operator==(const Macro&) const = default;
    };
    using Storage = std::variant<Circle, Rectangle, Obround, Polygon, Macro>;
    // Named explicitly: g++ judges Circle not default-constructible while this class is incomplete,
    // which would delete the default constructor.
    Storage value = Circle{};

    static ApertureShape circle(double diameter) { return {Circle{diameter}}; }
    static ApertureShape rectangle(double w, double h) { return {Rectangle{w, h}}; }
    static ApertureShape obround(double w, double h) { return {Obround{w, h}}; }
    static ApertureShape polygon(double d, std::int64_t vertices, double rotationDeg) { return {Polygon{d, vertices, rotationDeg}}; }
    static ApertureShape macro(std::string name, double boundingDiameter,
                               std::optional<std::vector<Contour>> outline = std::nullopt) {
        return {Macro{std::move(name), boundingDiameter, std::move(outline)}};
    }
    static constexpr const char* caseNames[] = {"circle", "rectangle", "obround", "polygon", "macro"};
    std::string_view caseName() const { return caseNames[value.index()]; }
    template <class C> const C* as() const { return std::get_if<C>(&value); }
    template <class C> C* as() { return std::get_if<C>(&value); }

    double boundingDiameter() const;
    double strokeNominalWidth() const;
    std::string description() const;
    // Whether every size of the shape, and every point of a macro's outline, is a finite number.
    bool isFinite() const;
    bool operator==(const ApertureShape&) const = default;
};

struct Aperture {
    std::int64_t code = 0;
    ApertureShape shape;
    std::optional<double> holeDiameter;
    bool operator==(const Aperture&) const = default;
};

class Polarity : public RawValueCases<Polarity, 2> {
public:
    enum Value : std::uint8_t { dark, clear };
    constexpr Polarity() = default;
    constexpr Polarity(Value v) : v_(v) {}
    constexpr operator Value() const { return v_; }
    static constexpr std::array<std::string_view, 2> raws{"dark", "clear"};
    static constexpr const char* typeName() { return "Polarity"; }

private:
    Value v_ = dark;
};

struct PCBObjectKind {
    struct Stroke { Vec2 start; Vec2 end; bool operator==(const Stroke&) const = default; };
    struct ArcStroke {
        Vec2 start; Vec2 end; Vec2 center; bool clockwise = false;
        bool operator==(const ArcStroke&) const = default;
    };
    struct Flash { Vec2 at; bool operator==(const Flash&) const = default; };
    struct Region { std::vector<Contour> contours; bool operator==(const Region&) const = default; };
    struct Drill {
        Vec2 at; double diameterMM = 0; bool plated = false;
        bool operator==(const Drill&) const = default;
    };
    struct Slot {
        Vec2 start; Vec2 end; double diameterMM = 0; bool plated = false;
        bool operator==(const Slot&) const = default;
    };
    // Arcs and slots, the two large and less common cases, are held by reference so that every
    // primitive is only as large as a stroke. Reach the cases through as<>() and visit(), which see
    // through the boxes.
    using Storage = std::variant<Stroke, Boxed<ArcStroke>, Flash, Region, Drill, Boxed<Slot>>;
    // Potentially overlapping, so that a PCBObject can keep small fields in the variant's tail.
    [[no_unique_address]] Storage value;

    static PCBObjectKind stroke(Vec2 a, Vec2 b) { return {Stroke{a, b}}; }
    static PCBObjectKind arcStroke(Vec2 a, Vec2 b, Vec2 c, bool cw) { return {ArcStroke{a, b, c, cw}}; }
    static PCBObjectKind flash(Vec2 at) { return {Flash{at}}; }
    static PCBObjectKind region(std::vector<Contour> contours) { return {Region{std::move(contours)}}; }
    static PCBObjectKind drill(Vec2 at, double d, bool plated) { return {Drill{at, d, plated}}; }
    static PCBObjectKind slot(Vec2 a, Vec2 b, double d, bool plated) { return {Slot{a, b, d, plated}}; }
    static constexpr const char* caseNames[] = {"stroke", "arcStroke", "flash", "region", "drill", "slot"};
    std::string_view caseName() const { return caseNames[value.index()]; }

    template <class C> const C* as() const {
        if constexpr (isBoxed<C>) {
            const auto* b = std::get_if<Boxed<C>>(&value);
            return b ? &b->get() : nullptr;
        } else {
            return std::get_if<C>(&value);
        }
    }
    template <class C> C* as() {
        if constexpr (isBoxed<C>) {
            auto* b = std::get_if<Boxed<C>>(&value);
            return b ? &b->edit() : nullptr;
        } else {
            return std::get_if<C>(&value);
        }
    }
    // Replaces the case, constructing it in place.
    template <class C, class... A> void emplace(A&&... args) {
        if constexpr (isBoxed<C>) value.template emplace<Boxed<C>>(C{std::forward<A>(args)...});
        else value.template emplace<C>(std::forward<A>(args)...);
    }
    // std::visit over the cases themselves (never the boxes).
    template <class F> decltype(auto) visit(F&& f) const {
        return std::visit([&](const auto& c) -> decltype(auto) { return f(unboxed(c)); }, value);
    }
    bool operator==(const PCBObjectKind&) const = default;

private:
    template <class C> static constexpr bool isBoxed = std::is_same_v<C, ArcStroke> || std::is_same_v<C, Slot>;
    template <class C> static const C& unboxed(const C& c) { return c; }
    template <class C> static const C& unboxed(const Boxed<C>& c) { return c.get(); }
};

using SharedShape = Shared<ApertureShape>;
// An aperture shape passed to a function, from wherever the caller keeps it; absent for none.
using ShapeRef = OptionalRef<ApertureShape>;

// The names a primitive carries from its file. Most primitives carry none, and runs of them carry the same,
// so primitives share one record of them.
struct ObjectAttributes {
    SharedText net;
    SharedText component;
    SharedText pin;
    SharedText apertureFunction;

    bool empty() const { return !net && !component && !pin && !apertureFunction; }
    bool operator==(const ObjectAttributes&) const = default;
};
using SharedAttributes = Shared<ObjectAttributes>;

// One record of these names; none when they name nothing, so that such objects compare equal however made.
inline SharedAttributes sharedAttributes(ObjectAttributes names) {
    return names.empty() ? SharedAttributes() : SharedAttributes(std::move(names));
}

// One drawable primitive. Kept small, since boards have millions: the aperture shape and the attribute
// record are shared with every primitive drawn alike (see Shared), arcs and slots are boxed, and the
// polarity sits in the kind's spare bytes.
struct PCBObject {
    [[no_unique_address]] PCBObjectKind kind;
    Polarity polarity;

private:
    // Whether apertureCode_ holds the code: beside the polarity, in the kind's spare bytes.
    bool hasApertureCode_ = false;
    std::int64_t apertureCode_ = 0;

public:
    SharedShape apertureShape;
    BBox bbox = BBox::empty();
    std::int64_t index = 0;

    PCBObject() = default;
    // Computes bbox from the kind and aperture shape.
    PCBObject(PCBObjectKind kind, std::optional<std::int64_t> apertureCode, SharedShape apertureShape,
              Polarity polarity, SharedText net, SharedText component, SharedText pin, SharedText apertureFunction,
              std::int64_t index);

    std::optional<std::int64_t> apertureCode() const {
        return hasApertureCode_ ? std::optional<std::int64_t>(apertureCode_) : std::nullopt;
    }
    void setApertureCode(std::optional<std::int64_t> code) {
        hasApertureCode_ = code.has_value();
        apertureCode_ = code.value_or(0);
    }
    const SharedText& net() const { return attributes_ ? attributes_->net : kNoText; }
    const SharedText& component() const { return attributes_ ? attributes_->component : kNoText; }
    const SharedText& pin() const { return attributes_ ? attributes_->pin : kNoText; }
    const SharedText& apertureFunction() const { return attributes_ ? attributes_->apertureFunction : kNoText; }
    void setNet(SharedText text) { editAttributes([&](ObjectAttributes& a) { a.net = std::move(text); }); }
    void setComponent(SharedText text) { editAttributes([&](ObjectAttributes& a) { a.component = std::move(text); }); }
    void setPin(SharedText text) { editAttributes([&](ObjectAttributes& a) { a.pin = std::move(text); }); }
    void setApertureFunction(SharedText text) {
        editAttributes([&](ObjectAttributes& a) { a.apertureFunction = std::move(text); });
    }
    // The whole record, for readers that hand one to a run of primitives. Absent when it names nothing.
    const SharedAttributes& attributes() const { return attributes_; }
    void setAttributes(SharedAttributes record) { attributes_ = record && record->empty() ? SharedAttributes() : std::move(record); }

    static BBox computeBBox(const PCBObjectKind& kind, ShapeRef shape);
    // Whether every point and size of the object, its shape's and its box are finite numbers. Readers keep
    // no other object: one at infinity would take the board's box and every figure measured on it along.
    bool isFinite() const;
    std::string typeName() const;
    std::optional<double> strokeWidth() const;
    bool operator==(const PCBObject&) const = default;

private:
    inline static const SharedText kNoText{};

    template <class Change> void editAttributes(Change&& change) {
        ObjectAttributes record = attributes_ ? *attributes_ : ObjectAttributes{};
        change(record);
        attributes_ = sharedAttributes(std::move(record));
    }

    SharedAttributes attributes_;
};

// What a reader says, once per file, when it left out objects that are not finite (PCBObject::isFinite).
inline constexpr std::string_view kNonFiniteObjectsWarning =
    "Objects whose coordinates or sizes are not finite numbers were left out.";

// Grows `box` by the true extent of a circular arc (the sweep as GeometryEngine::sampleArc
// walks it, equal ends meaning a full turn), each point grown by half-size r.
void includeArcExtent(BBox& box, const Vec2& start, const Vec2& end, const Vec2& center, bool clockwise, double r);

// Grows `box` by the path an object draws, without its aperture: stroke ends, an arc's sweep, a flash's
// position, a region's points. Drill hits and slots add nothing. How far a board's edge reaches.
void includeCentreLines(BBox& box, const PCBObject& object);

} // namespace corvane

template <> struct std::hash<corvane::ApertureShape> { std::size_t operator()(const corvane::ApertureShape& s) const noexcept; };
template <> struct std::hash<corvane::Aperture> { std::size_t operator()(const corvane::Aperture& a) const noexcept; };
template <> struct std::hash<corvane::Polarity> {
    std::size_t operator()(corvane::Polarity p) const noexcept { return static_cast<std::size_t>(p.operator corvane::Polarity::Value()); }
};
template <> struct std::hash<corvane::PCBObjectKind> { std::size_t operator()(const corvane::PCBObjectKind& k) const noexcept; };
template <> struct std::hash<corvane::PCBObject> { std::size_t operator()(const corvane::PCBObject& o) const noexcept; };

namespace corvane {

// Points the shape and texts of objects built one by one at one shared copy per distinct value, so that
// a document keeps each net name or pad shape once however many objects carry it. One per document.
class ObjectInterner {
public:
    void operator()(PCBObject& object);

private:
    SharedAttributes record(ObjectAttributes names);

    struct RecordHash {
        std::size_t operator()(const std::array<const std::string*, 4>& texts) const noexcept;
    };
    TextInterner texts_;
    std::unordered_map<ApertureShape, SharedShape> shapes_;
    // By the shared texts they hold, each interned first: one record per distinct set of names.
    std::unordered_map<std::array<const std::string*, 4>, SharedAttributes, RecordHash> records_;
};

} // namespace corvane
