#pragma once
// Records the analysis engines hand back: presets, check findings, comparisons, summaries.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Date.hpp"
#include "Geometry.hpp"
#include "RawValueEnum.hpp"

namespace corvane {

struct ManufacturingPreset {
    std::string name;
    double minTraceMM = 0;
    double minSpaceMM = 0;
    double minDrillMM = 0;
    double minAnnularRingMM = 0;
    bool operator==(const ManufacturingPreset&) const = default;
};

class CheckSeverity : public RawValueCases<CheckSeverity, 3> {
public:
    enum Value : std::uint8_t { error, warning, info };
    constexpr CheckSeverity() = default;
    constexpr CheckSeverity(Value v) : v_(v) {}
    constexpr operator Value() const { return v_; }
    static constexpr std::array<std::string_view, 3> raws{"error", "warning", "info"};
    static constexpr const char* typeName() { return "CheckSeverity"; }

private:
    Value v_ = error;
};

struct CheckIssue {
    std::string id;
    CheckSeverity severity;
    std::string title;
    std::string message;
    std::optional<std::string> fileName;
    std::optional<Vec2> position;
    bool operator==(const CheckIssue&) const = default;
};

struct DFMReport {
    std::vector<CheckIssue> issues;
    std::optional<std::string> presetName;
    Date checkedAt;

    DFMReport() = default;
    // Orders the issues errors first, keeping the given order within one severity.
    DFMReport(std::vector<CheckIssue> issues, std::optional<std::string> presetName, Date checkedAt);
    std::int64_t errorCount() const;
    std::int64_t warningCount() const;
};

struct DiffChange {
    std::string kind;
    std::string objectType;
    Vec2 position;
    BBox bbox;
    std::string description;
    bool operator==(const DiffChange&) const = default;
};

struct LayerDiffResult {
    std::string layerKey;
    std::string fileNameA;
    std::string fileNameB;
    std::vector<DiffChange> added;
    std::vector<DiffChange> removed;
    std::int64_t changeCount() const { return static_cast<std::int64_t>(added.size() + removed.size()); }
};

struct PackageDiff {
    std::vector<LayerDiffResult> layers;
    std::vector<std::string> unmatchedFilesA;
    std::vector<std::string> unmatchedFilesB;
    std::string nameA;
    std::string nameB;
    std::int64_t totalChanges() const {
        std::int64_t n = 0;
        for (const auto& l : layers) n += l.changeCount();
        return n;
    }
};

struct BoardSummary {
    double widthMM = 0;
    double heightMM = 0;
    std::int64_t copperLayerCount = 0;
    std::int64_t padCount = 0;
    std::int64_t drillCount = 0;
    std::optional<double> minTrackMM;
    std::optional<double> minSpaceMM;
    bool minSpaceReliable = true;
    std::optional<double> smallestDrillMM;
    std::int64_t pthCount = 0;
    std::int64_t npthCount = 0;
};

} // namespace corvane

template <> struct std::hash<corvane::ManufacturingPreset> {
    std::size_t operator()(const corvane::ManufacturingPreset& p) const noexcept {
        std::size_t s = 0;
        corvane::hashCombineValue(s, p.name);
        corvane::hashCombineValue(s, p.minTraceMM);
        corvane::hashCombineValue(s, p.minSpaceMM);
        corvane::hashCombineValue(s, p.minDrillMM);
        corvane::hashCombineValue(s, p.minAnnularRingMM);
        return s;
    }
};
template <> struct std::hash<corvane::CheckSeverity> {
    std::size_t operator()(corvane::CheckSeverity c) const noexcept { return static_cast<std::size_t>(c.operator corvane::CheckSeverity::Value()); }
};
template <> struct std::hash<corvane::CheckIssue> {
    std::size_t operator()(const corvane::CheckIssue& i) const noexcept {
        std::size_t s = 0;
        corvane::hashCombineValue(s, i.id);
        corvane::hashCombineValue(s, i.severity);
        corvane::hashCombineValue(s, i.title);
        corvane::hashCombineValue(s, i.message);
        if (i.fileName) corvane::hashCombineValue(s, *i.fileName); else corvane::hashCombine(s, 0x51ed);
        if (i.position) corvane::hashCombineValue(s, *i.position); else corvane::hashCombine(s, 0x51ed);
        return s;
    }
};
template <> struct std::hash<corvane::DiffChange> {
    std::size_t operator()(const corvane::DiffChange& c) const noexcept {
        std::size_t s = 0;
        corvane::hashCombineValue(s, c.kind);
        corvane::hashCombineValue(s, c.objectType);
        corvane::hashCombineValue(s, c.position);
        corvane::hashCombineValue(s, c.bbox);
        corvane::hashCombineValue(s, c.description);
        return s;
    }
};
