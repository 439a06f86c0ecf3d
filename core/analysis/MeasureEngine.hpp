#pragma once
// Hit testing, snapping, measurements and the inspector's rows.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "model/Model.hpp"
#include "model/UUID.hpp"

namespace corvane {

class MeasurementKind {
public:
    enum Value : std::uint8_t { pointToPoint, xDelta, yDelta, trackWidth, padSize, holeDiameter, boardDimensions };
    constexpr MeasurementKind() = default;
    constexpr MeasurementKind(Value v) : v_(v) {}
    constexpr operator Value() const { return v_; }
    std::string_view rawValue() const {
        static constexpr std::string_view raws[] = {"Point \u2192 Point", "X Delta", "Y Delta", "Track Width",
                                                    "Pad Size", "Hole Diameter", "Board Dimensions"};
        return raws[v_];
    }
    static std::optional<MeasurementKind> fromRawValue(std::string_view raw) {
        for (auto c : allCases())
            if (c.rawValue() == raw) return c;
        return std::nullopt;
    }
    static constexpr std::array<MeasurementKind, 7> allCases() {
        return {MeasurementKind(pointToPoint), MeasurementKind(xDelta), MeasurementKind(yDelta),
                MeasurementKind(trackWidth), MeasurementKind(padSize), MeasurementKind(holeDiameter),
                MeasurementKind(boardDimensions)};
    }
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

struct HitResult {
    PCBObject object;
    std::string fileName;
    LayerType layerType;
    double distanceMM = 0;
};

using InspectorRow = std::pair<std::string, std::string>;

struct MeasureEngine {
    std::optional<HitResult> hitTest(const std::vector<PackageFile>& files, Vec2 at, double toleranceMM) const;
    std::optional<Vec2> snap(const std::vector<PackageFile>& files, Vec2 at, double toleranceMM) const;
    BoardMeasurement distanceMeasurement(Vec2 from, Vec2 to, MeasurementKind kind, Units units) const;
    std::vector<InspectorRow> inspect(const HitResult& hit, Units units) const;
    std::optional<BoardMeasurement> boardDimensionMeasurement(const PCBPackage& package, Units units) const;
    static double distance(const PCBObject& object, Vec2 at);
    static std::string formatPoint(Vec2 p, Units units);
};

} // namespace corvane
