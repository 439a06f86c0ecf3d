#pragma once
// Rows of the layer list, the compare list and the drill tables.
#include <cstdint>
#include <string>
#include <vector>

#include <QColor>

#include "model/Model.hpp"

namespace corvane {

// One row of the layer list, one per package file.
struct LayerState {
    std::string id;           // the file name: also the solo key and, after "layer:", the renderer id
    std::string displayName;  // the file name
    std::string typeName;     // the layer type's display name
    bool visible = true;
    double opacity = 1.0;
    QColor color;
    std::int64_t categoryOrder = 0;
    std::int64_t objectCount = 0;

    // Rows are one layer whatever their current choices.
    bool operator==(const LayerState& other) const { return id == other.id; }
};

// One row of the compare list.
struct CompareRow {
    std::string layerKey;
    std::int64_t addedCount = 0;
    std::int64_t removedCount = 0;
    std::vector<DiffChange> added;
    std::vector<DiffChange> removed;
    // The file of each revision the row compares; both empty for a row that takes every file of its role
    // (the drill row joins all drill files).
    std::string fileNameA;
    std::string fileNameB;
};

// The drill table of one drill file.
struct DrillFileStats {
    std::string fileName;
    std::vector<DrillStat> stats;
    std::int64_t pthCount = 0;   // hits and slots plated through
    std::int64_t npthCount = 0;  // hits and slots not plated; those of unknown plating are in neither count
};

} // namespace corvane
