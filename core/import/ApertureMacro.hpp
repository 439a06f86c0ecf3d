#pragma once
// Aperture macro bodies: the quick size estimate taken when an aperture is defined, and the full
// evaluation of a body into the exposed outline of one aperture instance.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "model/Primitives.hpp"

namespace corvane {

class ApertureMacro {
public:
    // Limits on what one evaluation may do; a body beyond them is not evaluated.
    static constexpr std::size_t maxStatements = 10000;
    static constexpr std::int64_t maxVerticesPerPrimitive = 1024;
    static constexpr std::size_t maxOutlinePoints = 65536;
    static constexpr int maxExpressionDepth = 64;
    static constexpr std::int64_t maxVariableIndex = 9999;
    static constexpr std::int64_t maxMoireRings = 256;

    // Diameter (file units) of a circle about the origin holding the primitives, read from the numeric
    // fields only: variables and expressions are not evaluated, and fields that are not plain numbers
    // are dropped so later values move up. 0 when nothing could be measured.
    static double measureBoundingDiameter(const std::vector<std::string>& statements);

    // Evaluates the body with the definition's parameters ($1, $2, … in file units) and returns the
    // exposed primitives as closed contours in millimetres, in aperture coordinates. Exposure-off
    // primitives are left out. Absent when the body cannot be evaluated (unknown primitive, malformed
    // expression, a count out of range, a non-finite value) or holds no primitive at all.
    // `workBudget` is shared by all evaluations of one file and shrinks by the statements and points
    // produced; an evaluation that would exhaust it gives up.
    static std::optional<std::vector<Contour>> evaluate(const std::vector<std::string>& statements,
                                                        std::span<const double> parameters, double mmPerUnit,
                                                        std::size_t& workBudget);

    // A count written as a number: the finite value truncated toward zero, when it fits 64 bits.
    static std::optional<std::int64_t> truncatedCount(double value);

    // Sides of the polygon that stands for a macro circle of the given diameter (mm): its corners on the
    // circle, its sides within kOutlineChordMM of it, never fewer than six (outlineDiscSides).
    static std::int64_t discSegments(double diameterMM);
};

} // namespace corvane
