#pragma once
// Manufacturing checks: package structure, board outline and the preset's minimum sizes.
#include <optional>
#include <vector>

#include "CellGrid.hpp"
#include "model/Model.hpp"

namespace corvane {

class DFMEngine {
public:
    DFMEngine() = default;

    DFMReport runChecks(const PCBPackage& package, const std::optional<ManufacturingPreset>& preset) const;
    DFMReport runChecks(const PCBPackage& package) const { return runChecks(package, std::nullopt); }

    // True when every stroke and arc end meets an end of another object closer than the tolerance.
    // Any region counts as a closed outline. An end with non-finite coordinates meets nothing.
    static bool outlineIsClosed(const std::vector<PCBObject>& objects, double toleranceMM);
    // Drill hits outside the union of the outline layers' boxes grown by `graceMM`, edges inside.
    static std::vector<DrillHit> drillHitsOutside(const PCBPackage& package, double graceMM);
};

} // namespace corvane
