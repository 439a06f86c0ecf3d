#pragma once
// Parsed layer files: Gerber layers and drill files.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Primitives.hpp"
#include "RawValueEnum.hpp"

namespace corvane {

class SourceFormat : public RawValueCases<SourceFormat, 4> {
public:
    enum Value : std::uint8_t { gerberRS274X, gerberX2, excellon, unknown };
    constexpr SourceFormat() = default;
    constexpr SourceFormat(Value v) : v_(v) {}
    constexpr operator Value() const { return v_; }
    static constexpr std::array<std::string_view, 4> raws{"RS-274X", "Gerber X2", "Excellon", "Unknown"};
    static constexpr const char* typeName() { return "SourceFormat"; }

private:
    Value v_ = unknown;
};

struct GerberDocument {
    SourceFormat format;
    Units units;
    std::vector<PCBObject> objects;
    std::map<std::int64_t, Aperture> apertures;
    std::optional<std::string> fileFunction;
    std::optional<std::string> filePolarity;
    // What the file's %IP statement says of the whole image, "Positive" or "Negative"; absent
    // without one. A negative image draws where the copper is not.
    std::optional<std::string> imagePolarity;
    std::map<std::string, std::string> fileAttributes;
    std::optional<std::string> projectID;
    std::optional<std::string> creationDate;
    BBox bbox = BBox::empty();
};

class Plating : public RawValueCases<Plating, 3> {
public:
    enum Value : std::uint8_t { pth, npth, unknown };
    constexpr Plating() = default;
    constexpr Plating(Value v) : v_(v) {}
    constexpr operator Value() const { return v_; }
    static constexpr std::array<std::string_view, 3> raws{"pth", "npth", "unknown"};
    static constexpr const char* typeName() { return "Plating"; }

private:
    Value v_ = unknown;
};

struct DrillTool {
    std::int64_t number = 0;
    double diameterMM = 0;
    Plating plating;
    bool operator==(const DrillTool&) const = default;
};

struct DrillHit {
    Vec2 position;
    std::int64_t toolNumber = 0;
    Plating plating;
    bool operator==(const DrillHit&) const = default;
};

struct DrillStat {
    double diameterMM = 0;
    Plating plated;
    std::int64_t count = 0;
    bool slot = false;  // a row of slots (oval or routed holes) rather than round hits
    bool operator==(const DrillStat&) const = default;
};

struct DrillDocument {
    std::map<std::int64_t, DrillTool> tools;
    std::vector<DrillHit> hits;
    std::vector<PCBObject> slots;
    Units units;
    BBox bbox = BBox::empty();
    std::string fileName;

    std::int64_t totalCount() const { return static_cast<std::int64_t>(hits.size() + slots.size()); }
    std::optional<double> smallestDrillMM() const;
    // One row per distinct (diameter to 4 decimals, plating) of the hits, ascending by diameter; equal
    // diameters come pth, npth, unknown so the table reads the same on every run. The slots follow in
    // rows of their own, in the same order, so the counts add up to totalCount().
    std::vector<DrillStat> stats() const;
    // The plating of slot i: its tool's, else plated or unknown as the slot itself records.
    Plating slotPlating(std::size_t i) const;
    // Hits and slots plated through and not plated; those of unknown plating are in neither count.
    struct PlatingCounts {
        std::int64_t pth = 0;
        std::int64_t npth = 0;
    };
    PlatingCounts platingCounts() const;
    std::vector<PCBObject> objectsAsPCB() const;
    // The drill primitive of hit i, exactly as objectsAsPCB() makes it (for callers that visit
    // hits without building the whole list).
    PCBObject hitObject(std::size_t i) const;
    // The box of hit i's drill primitive: its tool's circle (0.1 mm without a tool).
    BBox hitBBox(std::size_t i) const;
};

} // namespace corvane

template <> struct std::hash<corvane::SourceFormat> {
    std::size_t operator()(corvane::SourceFormat f) const noexcept { return std::hash<std::string_view>{}(f.rawValue()); }
};
template <> struct std::hash<corvane::Plating> {
    std::size_t operator()(corvane::Plating p) const noexcept { return std::hash<std::string_view>{}(p.rawValue()); }
};
template <> struct std::hash<corvane::DrillTool> {
    std::size_t operator()(const corvane::DrillTool& t) const noexcept {
        std::size_t s = 0;
        corvane::hashCombineValue(s, t.number); corvane::hashCombineValue(s, t.diameterMM); corvane::hashCombineValue(s, t.plating);
        return s;
    }
};
template <> struct std::hash<corvane::DrillHit> {
    std::size_t operator()(const corvane::DrillHit& h) const noexcept {
        std::size_t s = 0;
        corvane::hashCombineValue(s, h.position); corvane::hashCombineValue(s, h.toolNumber); corvane::hashCombineValue(s, h.plating);
        return s;
    }
};
template <> struct std::hash<corvane::DrillStat> {
    std::size_t operator()(const corvane::DrillStat& d) const noexcept {
        std::size_t s = 0;
        corvane::hashCombineValue(s, d.diameterMM); corvane::hashCombineValue(s, d.plated); corvane::hashCombineValue(s, d.count);
        corvane::hashCombineValue(s, d.slot);
        return s;
    }
};
