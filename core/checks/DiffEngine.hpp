#pragma once
// Revision comparison: which primitives were added or removed on each layer between A and B.
#include <string>
#include <vector>

#include "model/Model.hpp"

namespace corvane {

struct ObjectDiff {
    std::vector<PCBObject> added;    // in b without a counterpart in a
    std::vector<PCBObject> removed;  // in a without a counterpart in b
};

struct DiffEngine {
    double toleranceMM = 0.0001;

    PackageDiff compare(const PCBPackage& a, const PCBPackage& b) const;
    ObjectDiff compareObjects(const std::vector<PCBObject>& a, const std::vector<PCBObject>& b) const;

    // The one-line text of a change: "Track / Line at (0.500, 0.000) Ø0.250 net GND".
    static std::string describe(const PCBObject& obj);
};

} // namespace corvane
