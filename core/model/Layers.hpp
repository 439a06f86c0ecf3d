#pragma once
// Layer roles, package files and whole board packages.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "Date.hpp"
#include "Documents.hpp"
#include "RawValueEnum.hpp"

namespace corvane {

struct CopperLayerID {
    struct Top { bool operator==(const Top&) const = default; };
    struct Inner { std::int64_t number = 0; bool operator==(const Inner&) const = default; };
    struct Bottom { bool operator==(const Bottom&) const = default; };
    using Storage = std::variant<Top, Inner, Bottom>;
    Storage value;

    static CopperLayerID top() { return {Top{}}; }
    static CopperLayerID inner(std::int64_t n) { return {Inner{n}}; }
    static CopperLayerID bottom() { return {Bottom{}}; }
    static constexpr const char* caseNames[] = {"top", "inner", "bottom"};
    std::string_view caseName() const { return caseNames[value.index()]; }
    template <class C> const C* as() const { return std::get_if<C>(&value); }

    std::int64_t sortOrder() const;
    std::string displayName() const;
    bool operator==(const CopperLayerID&) const = default;
};

struct LayerType {
    struct Copper { CopperLayerID side; bool operator==(const Copper&) const = default; };
    struct SolderMask { CopperLayerID side; bool operator==(const SolderMask&) const = default; };
    struct Silkscreen { CopperLayerID side; bool operator==(const Silkscreen&) const = default; };
    struct Paste { CopperLayerID side; bool operator==(const Paste&) const = default; };
    struct Outline { bool operator==(const Outline&) const = default; };
    struct Drill { bool operator==(const Drill&) const = default; };
    struct Unknown { bool operator==(const Unknown&) const = default; };
    using Storage = std::variant<Copper, SolderMask, Silkscreen, Paste, Outline, Drill, Unknown>;
    Storage value;

    static LayerType copper(CopperLayerID s) { return {Copper{std::move(s)}}; }
    static LayerType solderMask(CopperLayerID s) { return {SolderMask{std::move(s)}}; }
    static LayerType silkscreen(CopperLayerID s) { return {Silkscreen{std::move(s)}}; }
    static LayerType paste(CopperLayerID s) { return {Paste{std::move(s)}}; }
    static LayerType outline() { return {Outline{}}; }
    static LayerType drill() { return {Drill{}}; }
    static LayerType unknown() { return {Unknown{}}; }
    static constexpr const char* caseNames[] = {"copper", "solderMask", "silkscreen", "paste", "outline", "drill", "unknown"};
    std::string_view caseName() const { return caseNames[value.index()]; }
    template <class C> const C* as() const { return std::get_if<C>(&value); }

    // The side of the four sided roles, absent for outline, drill and unknown.
    std::optional<CopperLayerID> side() const;
    bool isCopper() const { return value.index() == 0; }
    bool isOutline() const { return value.index() == 4; }
    bool isDrill() const { return value.index() == 5; }
    bool isUnknown() const { return value.index() == 6; }

    std::string displayName() const;
    std::string matchKey() const;
    bool operator==(const LayerType&) const = default;
};

class DetectionConfidence : public RawValueCases<DetectionConfidence, 4> {
public:
    enum Value : std::uint8_t { high, medium, low, manual };
    constexpr DetectionConfidence() = default;
    constexpr DetectionConfidence(Value v) : v_(v) {}
    constexpr operator Value() const { return v_; }
    static constexpr std::array<std::string_view, 4> raws{"high", "medium", "low", "manual"};
    static constexpr const char* typeName() { return "DetectionConfidence"; }

private:
    Value v_ = low;
};

struct PackageFile {
    std::string fileName;
    std::string relativePath;
    SourceFormat format;
    LayerType layerType;
    DetectionConfidence confidence;
    // Shared by copies of the file until one is changed: packages are passed around whole, and a copy
    // made to change a layer's role must not copy every primitive.
    CopyOnWrite<GerberDocument> gerber;
    CopyOnWrite<DrillDocument> drill;
    std::string dataHash;
    // The box of the board's edge as this outline file draws it, once the importer has examined the file: its
    // one closed contour around the copper, so that the notes, tables and frames a mechanical layer draws
    // beside the board do not make the board larger. Absent where no importer looked (other readers, a role
    // set by hand): the file's centre lines are the edge then.
    std::optional<BBox> boardEdgeBox;
    // The box of what this copper or mask film draws of the board, where every such film of a package without an
    // outline also draws one sheet around it (a frame, dimension lines, a title block): what it draws near the
    // holes. Absent where the film's whole box is the board's.
    std::optional<BBox> boardPartBox;

    // Builds a fresh list on every call: never call it in a loop.
    std::vector<PCBObject> objects() const;
    bool filePolarityNegative() const;
};

struct PCBPackage {
    std::string name;
    std::string sourceFileName;
    std::vector<PackageFile> files;
    std::vector<std::string> warnings;
    Date importedAt;

    // The box of the board's edge drawn by the outline layers (each file's examined edge, else its centre
    // lines, arcs by their sweep, without aperture growth); empty (not valid) without one.
    BBox outlineBBox() const;
    // The same of a list of files not yet made a package.
    static BBox outlineBBoxOf(const std::vector<PackageFile>& files);
    // The board's box, which every board size shown reads: the outline's; without one, the extent of the
    // copper, solder mask and drill data (legends and drawings reach beyond the board, as does a sheet every
    // film draws); failing those, of every layer.
    BBox boardBBox() const;
    // How far from the nearest copper a mounting hole or a board's own drawing may still sit.
    static constexpr double kNearBoardMM = 5.0;
    // The box `board` is grown to before what lies outside it is well outside: by kNearBoardMM, or a tenth of
    // the board's size where that is more.
    static BBox nearBoard(const BBox& board);
    // Whether most of a drill file's holes fall outside nearBoard(`board`): written against another origin, or
    // in a number format that cannot be placed.
    static bool drillLiesOffBoard(const DrillDocument& drill, const BBox& board);
    std::vector<CopperLayerID> copperLayerIDs() const;
    std::vector<PackageFile> filesOf(const LayerType& type) const;
};

} // namespace corvane

template <> struct std::hash<corvane::CopperLayerID> {
    std::size_t operator()(const corvane::CopperLayerID& c) const noexcept {
        std::size_t s = c.value.index();
        if (auto in = c.as<corvane::CopperLayerID::Inner>()) corvane::hashCombineValue(s, in->number);
        return s;
    }
};
template <> struct std::hash<corvane::LayerType> {
    std::size_t operator()(const corvane::LayerType& t) const noexcept {
        std::size_t s = t.value.index();
        if (auto side = t.side()) corvane::hashCombineValue(s, *side);
        return s;
    }
};
template <> struct std::hash<corvane::DetectionConfidence> {
    std::size_t operator()(corvane::DetectionConfidence c) const noexcept {
        return static_cast<std::size_t>(c.operator corvane::DetectionConfidence::Value());
    }
};
