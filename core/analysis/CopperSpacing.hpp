#pragma once
// The copper spacing check: pieces of copper of different nets closer than a preset minimum,
// layer by layer, under a deadline and a cap on the number of findings.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "CellGrid.hpp"
#include "CopperBodies.hpp"
#include "model/GeometryEngine.hpp"
#include "model/Model.hpp"

namespace corvane::spacing {

using Clock = std::chrono::steady_clock;

inline constexpr std::size_t kMaxIssues = 20;
inline constexpr double kDeadlineSeconds = 2.0;
// Gaps this much under the minimum still pass; exact gaps otherwise fail on rounding.
inline constexpr double kTolerance = 1e-6;

// One piece of copper. `isTrack` marks bodies made from strokes and arcs (the connected-track
// rule applies between two of them); `net` is an interned net name, −1 without one; `source` is
// the object's position in its file (the pieces of one arc share it: they are one copper).
struct SpacePrim {
    CopperBody body;
    bool isTrack = false;
    std::int32_t net = -1;
    BBox bbox;
    std::size_t source = 0;
};

struct SpacePrimList {
    CopperBodySet bodies;
    std::vector<SpacePrim> prims;
    void clear() {
        bodies.clear();
        prims.clear();
    }
};

// The corner points of the straight pieces of an arc: start, then one point per 10° step (at
// least one step); equal ends make a full turn, a radius of 1e-9 or less one piece start–end.
void arcPieces(const GeometryEngine& tenDegrees, const Vec2& start, const Vec2& end, const Vec2& center,
               bool clockwise, std::vector<Vec2>& out);

// The copper of one file; empty unless the file is copper with a Gerber document. Primitives
// with non-finite geometry are left out.
void collectSpacingPrimitives(const PackageFile& file, SpacePrimList& out);

double cellSizeFor(double limit);

std::optional<CheckIssue> spaceViolation(const SpacePrimList& list, const SpacePrim& a, const SpacePrim& b,
                                         double limit, double limitSq, const std::string& fileName);

struct LayerResult {
    std::vector<CheckIssue> issues;
    bool stopped = false;   // the run must end here (cap reached or deadline passed)
    bool timedOut = false;  // pairs of this layer were left unexamined because of the deadline
};

LayerResult findSpaceViolations(const SpacePrimList& list, double cell, double limit, std::size_t maxIssues,
                                Clock::time_point deadline, const std::string& fileName);

struct SpacingResult {
    std::vector<CheckIssue> issues;
    // The deadline passed before every copper layer was examined: the absence of findings
    // proves nothing.
    bool incomplete = false;
    std::optional<std::string> unfinishedFile;
};

// The whole check over a package; nothing when limit ≤ 0.
SpacingResult checkCopperSpacing(const PCBPackage& package, double limit, Clock::time_point deadline);

// The check's findings as report rows, followed by a warning when it could not finish.
void appendSpacingIssues(const PCBPackage& package, double limit, Clock::time_point deadline,
                         std::vector<CheckIssue>& issues);

} // namespace corvane::spacing
