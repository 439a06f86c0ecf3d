#pragma once
// Hit testing, snapping, measurements and the inspector's rows.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "model/Codable.hpp"
#include "model/Model.hpp"
#include "model/UUID.hpp"
#include "model/RawValueEnum.hpp"

namespace corvane {

class MeasurementKind : public RawValueCases<MeasurementKind, 7> {
public:
    enum Value : std::uint8_t { pointToPoint, xDelta, yDelta, trackWidth, padSize, holeDiameter, boardDimensions };
    constexpr MeasurementKind() = default;
    constexpr MeasurementKind(Value v) : v_(v) {}
    constexpr operator Value() const { return v_; }
    static constexpr std::array<std::string_view, 7> raws{"Point \u2192 Point", "X Delta",       "Y Delta",
                                                          "Track Width",        "Pad Size",      "Hole Diameter",
                                                          "Board Dimensions"};
    static constexpr const char* typeName() { return "MeasurementKind"; }

private:
    Value v_ = pointToPoint;
};

struct BoardMeasurement {
    UUID id;
    MeasurementKind kind;
    std::optional<Vec2> p1;
    std::optional<Vec2> p2;
    double valueMM = 0;
    std::string label;
    Date createdAt;

    std::optional<double> xDeltaMM() const {
        if (!p1 || !p2) return std::nullopt;
        return p2->x - p1->x;
    }
    std::optional<double> yDeltaMM() const {
        if (!p1 || !p2) return std::nullopt;
        return p2->y - p1->y;
    }
    bool operator==(const BoardMeasurement&) const = default;
};

// JSON form: "id", "kind" (its raw text), "p1" and "p2" (left out when absent), "valueMM", "label", "createdAt".
Json encodeValue(const BoardMeasurement& value, const CodingOptions& options);
void decodeValue(const Json& json, BoardMeasurement& out, const CodingOptions& options);

struct HitResult {
    PCBObject object;
    std::string fileName;
    LayerType layerType;
    double distanceMM = 0;
};

using InspectorRow = std::pair<std::string, std::string>;

// A spatial index over the objects of a list of files, built once per loaded board so that hit tests
// and snapping under the moving pointer look at nearby objects only. Queries through it give exactly
// the results of a full scan: candidates are visited in (file, object) order.
class MeasureIndex {
public:
    MeasureIndex();
    explicit MeasureIndex(const std::vector<PackageFile>& files);
    ~MeasureIndex();
    MeasureIndex(MeasureIndex&&) noexcept;
    MeasureIndex& operator=(MeasureIndex&&) noexcept;

    // Whether the index was built for files of these object counts (otherwise queries scan).
    bool matches(const std::vector<PackageFile>& files) const;
    // Global object numbers (in file order, then PackageFile::objects order) that may lie within
    // `reach` of `at`, ascending; absent when the index cannot narrow the search.
    std::optional<std::vector<std::uint32_t>> candidates(Vec2 at, double reach) const;
    // File of a global object number and the object's position in PackageFile::objects.
    std::pair<std::size_t, std::size_t> locate(std::uint32_t id) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

struct MeasureEngine {
    // With an index built for `files`, only nearby objects are looked at; the result is the same.
    std::optional<HitResult> hitTest(const std::vector<PackageFile>& files, Vec2 at, double toleranceMM,
                                     const MeasureIndex* index = nullptr) const;
    std::optional<Vec2> snap(const std::vector<PackageFile>& files, Vec2 at, double toleranceMM,
                             const MeasureIndex* index = nullptr) const;
    BoardMeasurement distanceMeasurement(Vec2 from, Vec2 to, MeasurementKind kind, Units units) const;
    std::vector<InspectorRow> inspect(const HitResult& hit, Units units) const;
    std::optional<BoardMeasurement> boardDimensionMeasurement(const PCBPackage& package, Units units) const;
    static double distance(const PCBObject& object, Vec2 at);
    static std::string formatPoint(Vec2 p, Units units);
};

} // namespace corvane
