#pragma once
// Copper bodies with their real shapes and the exact gap between two of them.
//
// Spacing figures must measure copper, not centre lines or boxes: a track is a capsule of its
// width, a round pad a disc, an obround a capsule, a rectangle its rectangle, a polygon or an
// evaluated macro its polygons. Round pads measured as squares, or tracks as lines, give both
// false alarms and, worse, passes for copper that is too close.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

#include "model/Geometry.hpp"
#include "model/Primitives.hpp"

namespace corvane {

// Two nearest points and their distance, the first point on the first operand.
struct ClosestPoints {
    double distance = 0;
    Vec2 onFirst;
    Vec2 onSecond;
};

// Nearest points of the segments p1–q1 and p2–q2 (the clamped parametric solution).
ClosestPoints closestPointsSegSeg(const Vec2& p1, const Vec2& q1, const Vec2& p2, const Vec2& q2);

// Segment p–q against a filled axis-aligned box. An end inside the box gives distance 0 with p
// and the box centre; otherwise the nearest of the edges bottom, right, top, left (first wins ties).
ClosestPoints segRectDistance(const Vec2& p, const Vec2& q, const BBox& box);

// Euclidean distance between two boxes, 0 when they touch or overlap. Inline: the searches call it
// for every candidate pair before any exact measure.
inline double boxGap(const BBox& a, const BBox& b) {
    const double gx = std::max(0.0, std::max(a.minX - b.maxX, b.minX - a.maxX));
    const double gy = std::max(0.0, std::max(a.minY - b.maxY, b.minY - a.maxY));
    return std::sqrt(gx * gx + gy * gy);
}

// Even-odd containment of p in one closed contour (edges wrap from the last point to the first).
bool contourContains(const Vec2* pts, std::size_t n, const Vec2& p);

// An aperture no larger than this across draws nothing. Eagle writes the board outline into both
// copper files with a circle of size 0: no copper, no track, no pad.
inline constexpr double kZeroSizeMM = 1e-6;

// Whether a stroke, arc or flash of this aperture draws nothing at all. A macro does only when its
// evaluated outline holds no contour, since an unmeasured macro reports a bounding size of 0.
bool isZeroSize(const ApertureShape& shape);

// Whether an object adds to the copper it is drawn on: not when a zero-size aperture draws it. An
// object without an aperture shape is a line or a point of copper, as its size is not known.
inline bool drawsCopper(const PCBObject& o) {
    const bool apertureDrawn = o.kind.as<PCBObjectKind::Stroke>() || o.kind.as<PCBObjectKind::ArcStroke>() ||
                               o.kind.as<PCBObjectKind::Flash>();
    return !(apertureDrawn && o.apertureShape && isZeroSize(*o.apertureShape));
}

struct CopperBody {
    enum class Shape : std::uint8_t { capsule, box, polygons };
    Shape shape = Shape::capsule;
    Vec2 a;              // capsule centre line from a to b; a == b for a disc
    Vec2 b;
    double radius = 0;   // capsule
    BBox box;            // the copper's extent; for `box` the rectangle itself
    std::uint32_t firstContour = 0;  // polygons: contours [firstContour, firstContour + contourCount)
    std::uint32_t contourCount = 0;
    Vec2 offset;                     // polygons: where the contours' origin lies on the board

    // Midpoint of a capsule's centre line, else the box centre.
    Vec2 center() const;
};

struct CopperGap {
    double gap = 0;  // 0 when the bodies touch or overlap
    Vec2 onFirst;    // nearest copper points, meaningful when gap > 0
    Vec2 onSecond;
};

struct ContourPair {
    double gap = 0;
    std::uint32_t a = 0;
    std::uint32_t b = 0;
};

// Holds the polygon contours of the bodies it makes. Bodies refer to it by index, so a body is
// only meaningful with the set that made it. An evaluated macro outline is not copied: its body
// refers to the aperture's own contours, which must outlive the set.
class CopperBodySet {
public:
    void clear();

    // A capsule of `width` around a–b. Returns nullopt for non-finite input.
    static std::optional<CopperBody> capsule(const Vec2& a, const Vec2& b, double width);
    // The copper of a flash at `at` with the given aperture. Without a shape it is a point.
    // Returns nullopt for non-finite input.
    std::optional<CopperBody> flash(const Vec2& at, ShapeRef shape);

    // A filled polygon, its points copied. Returns nullopt for non-finite input or fewer than 3 points.
    std::optional<CopperBody> polygon(const Contour& points);
    // The copper of a flash as bodies: one for most shapes. An evaluated macro holds its circles
    // only as polygons through their points; each such circle becomes an exact disc here, and the
    // macro's other contours one polygons body. Appends to `out`; nothing for non-finite input.
    void flashBodies(const Vec2& at, ShapeRef shape, std::vector<CopperBody>& out);
    // How many bodies flashBodies makes of a flash of this shape at a finite position.
    static std::size_t flashBodyCount(ShapeRef shape);
    // The bytes the set keeps for each flash of this shape: its contours and their points. A shape
    // of many contours or vertices costs that much again with every flash.
    static std::size_t flashStorageBytes(ShapeRef shape);
    // The bytes the set keeps for a polygon of `points` points.
    static std::size_t polygonStorageBytes(std::size_t points) { return sizeof(ContourRef) + points * sizeof(Vec2); }

    // Exact when the gap lies below `below`; otherwise some value at or above it, found sooner:
    // edges farther than `below` are never measured. Safe to call from several threads at once.
    CopperGap gap(const CopperBody& first, const CopperBody& second,
                  double below = std::numeric_limits<double>::infinity()) const;

    // A point of the body's copper.
    Vec2 anyPoint(const CopperBody& b) const;
    // Calls f(points, count, offset) for each contour of a polygons body; the board position of a
    // point is point + offset.
    template <class F>
    void forEachContour(const CopperBody& b, F&& f) const {
        if (b.shape != CopperBody::Shape::polygons) return;
        const PolyView v = view(b);
        for (std::uint32_t c = 0; c < v.count; ++c) f(v.contourPoints(c), std::size_t{v.contours[c].count}, v.offset);
    }

private:
    struct ContourRef {
        const Vec2* external = nullptr;  // else points_[begin, begin + count)
        std::uint32_t begin = 0;
        std::uint32_t count = 0;
        BBox box;  // on the board
    };
    struct PolyView {
        const ContourRef* contours = nullptr;
        std::uint32_t count = 0;
        const Vec2* points = nullptr;
        Vec2 offset;
        const Vec2* contourPoints(std::uint32_t c) const {
            return contours[c].external ? contours[c].external : points + contours[c].begin;
        }
    };
    PolyView view(const CopperBody& b) const;
    // Adds one contour of an evaluated macro outline, flashed at `at`, to a polygons body; false
    // when a point of it is not finite on the board.
    bool addOutlineContour(const Vec2& at, const Contour& c, CopperBody& body);
    static PolyView boxView(const BBox& box, ContourRef& ref, Vec2 (&pts)[4]);

    std::vector<Vec2> points_;
    std::vector<ContourRef> contours_;
};

} // namespace corvane
