#pragma once
// The one door to the Clipper library, for copper that clear objects cut: outlines in millimetres go in as
// integer nanometres, filled under the non-zero rule, and a difference comes back as filled areas in
// millimetres, or as nothing when the library refused or failed, or when the difference would cost
// more than a boolean may: the library cannot be stopped once it runs.
#include <optional>
#include <vector>

#include <polyclipping/clipper.hpp>

#include "model/Geometry.hpp"
#include "model/Primitives.hpp"

namespace corvane::booleans {

using Coord = ClipperLib::cInt;
using Point = ClipperLib::IntPoint;
using Path = ClipperLib::Path;
using Paths = ClipperLib::Paths;

// Polygon booleans work on integers: one unit is one nanometre.
inline constexpr double kUnitsPerMM = 1e6;
// Coordinates beyond a kilometre are stray data, not copper the booleans could hold.
inline constexpr double kLargestMM = 1e6;

Point toUnits(const Vec2& p);
Vec2 toMM(const Point& p);
// Whether a box is finite and within kLargestMM of the origin on every side, so that its outlines fit.
bool withinRange(const BBox& b);

// Adds a closed outline that fills what it surrounds: turned counter-clockwise. Fewer than three points add
// nothing.
void addFilled(Path path, Paths& out);
// Adds a closed outline that cuts a hole in a filled one around it: turned clockwise.
void addHole(Path path, Paths& out);

// A filled area as contours: an outer polygon, then its holes.
using Area = std::vector<Contour>;

// What is left of the subject outlines once the clip outlines are taken away.
class Difference {
public:
    void addSubject(const Paths& paths);
    void addClip(const Paths& paths);
    void addClip(const Path& path);
    // Each outer polygon with its holes as one area; polygons inside holes are areas of their own. Absent
    // when the library refused an outline or could not make the difference, or when the outlines hold
    // more work than one boolean may start (see withinBooleanBudget): what the library would leave then
    // is not the copper, or not in time, and must not be taken for it.
    std::optional<std::vector<Area>> areas();

private:
    Paths subject_;
    Paths clip_;
};

// Whether the library's sweep over these outlines, subject and clip together, fits the work one boolean
// may take: about a tenth of a second on one core. Counted are what the sweep really meets: every point,
// the active edges it walks at every local minimum, horizontal edge and beam between vertex heights, and
// every crossing or touch of two edges, self-crossings included.
bool withinBooleanBudget(const Paths& subject, const Paths& clip);

} // namespace corvane::booleans
