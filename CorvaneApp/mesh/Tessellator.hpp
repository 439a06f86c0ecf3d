#pragma once
// The GPU canvas's meshes: primitives turned into flat triangle meshes, dark and clear, with their polarity
// runs and stroke centre lines. Geometry is computed in double precision; meshes store single precision.
#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "model/GeometryEngine.hpp"

namespace corvane {

// An allocator that leaves new floats as they are: a mesh writes every float it makes room for, and
// clearing the room first doubled the writes of its largest layers.
template <class T> struct UnclearedAllocator : std::allocator<T> {
    template <class U> struct rebind {
        using other = UnclearedAllocator<U>;
    };
    UnclearedAllocator() = default;
    template <class U> UnclearedAllocator(const UnclearedAllocator<U>&) noexcept {}
    template <class U> void construct(U* p) noexcept { ::new (static_cast<void*>(p)) U; }
    template <class U, class... Args> void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};

// Triangles kept as fans: a fan of n points (n >= 3) stands for the n - 2 triangles (p0, pi, pi+1), i = 1 ...
// n - 2, in that order. A disc or a round cap is one fan, a quad or a stroke's body a fan of four, anything
// else single triangles: less than half the floats of a flat list on a board of tracks and pads. The canvas
// reads the flat triangles back piece by piece, float for float as they were made.
class TriangleMesh {
public:
    std::int64_t triangleCount() const { return triangles_; }
    // Vertices of the flat list: three a triangle.
    std::int64_t vertexCount() const { return 3 * triangles_; }
    bool empty() const { return triangles_ == 0; }

    void addTriangle(const Vec2& a, const Vec2& b, const Vec2& c);
    void addQuad(const Vec2& a, const Vec2& b, const Vec2& c, const Vec2& d);
    // Rim points are computed in single precision; gives max(segments, 3) triangles.
    void addFan(const Vec2& center, double radius, double startDeg, double sweepDeg, std::int64_t segments);
    // Room for one fan of `points` points (at least 3) at the end, for the caller to fill with x, y floats.
    float* addFanPoints(std::int64_t points);
    void append(const TriangleMesh& other);
    // Room for `floats` point coordinates and `fans` fans, taken only as they are written.
    void reserve(std::int64_t floats, std::int64_t fans);

    // The flat vertices (x, y floats, three a triangle) of the `count` triangles from `firstTriangle`, into `out`.
    void copyTriangles(std::int64_t firstTriangle, std::int64_t count, float* out) const;
    // Every triangle, flat.
    std::vector<float> vertices() const;
    // Each three vertices of `flat` one triangle; a trailing part of one is dropped.
    static TriangleMesh ofTriangles(const std::vector<float>& flat);
    // The extent of the corners of the `count` triangles from `firstTriangle`, as {minX, minY, maxX, maxY};
    // coordinates that are not numbers are left out. Infinite bounds inverted when there are none.
    std::array<float, 4> extent(std::int64_t firstTriangle, std::int64_t count) const;
    // The fans' point coordinates, fan after fan.
    const std::vector<float, UnclearedAllocator<float>>& points() const { return points_; }
    // Calls visit(a, b, c) with the x, y of each corner of the `count` triangles from `first`, in order.
    template <class Visit> void forEachTriangle(std::int64_t first, std::int64_t count, Visit&& visit) const {
        forEachFan(first, count, [&](const float* centre, std::int64_t, std::int64_t from, std::int64_t to) {
            for (std::int64_t i = from; i <= to; ++i) visit(centre, centre + 2 * (i + 1), centre + 2 * (i + 2));
        });
    }

    static std::array<float, 12> verticesOfQuad(double minX, double minY, double maxX, double maxY);

private:
    // `fans` fans of `points` points each, one after another.
    struct FanRun {
        std::uint32_t points;
        std::uint32_t fans;
    };
    // Where a run starts, kept every kRunsPerMark runs so that a triangle is found without walking them all.
    struct Mark {
        std::int64_t triangle;
        std::int64_t point;
    };
    static constexpr std::size_t kRunsPerMark = 64;
    // Where triangle `t` is: its run, its fan in the run and its triangle in the fan, and the fan's centre.
    struct Cursor {
        std::size_t run;
        std::int64_t fan, inFan, point;
    };
    Cursor seek(std::int64_t triangle) const;
    // Calls visit(centre, points, from, to) for each fan that the `count` triangles from `first` reach, with
    // the fan's first and last triangle among them.
    template <class Visit> void forEachFan(std::int64_t first, std::int64_t count, Visit&& visit) const {
        if (first < 0) {
            count += first;
            first = 0;
        }
        count = std::min(count, triangles_ - first);
        if (count <= 0) return;
        Cursor at = seek(first);
        while (count > 0) {
            const std::int64_t points = runs_[at.run].points;
            const std::int64_t take = std::min(count, points - 2 - at.inFan);
            visit(points_.data() + 2 * at.point, points, at.inFan, at.inFan + take - 1);
            count -= take;
            at.inFan = 0;
            at.point += points;
            if (++at.fan == runs_[at.run].fans) {
                at.fan = 0;
                ++at.run;
            }
        }
    }
    // Whether a triangle with these first two corners continues the last fan: its centre, then its last point.
    bool extendsLastFan(float ax, float ay, float bx, float by) const;
    std::int64_t pointCount() const { return static_cast<std::int64_t>(points_.size() / 2); }

    std::vector<float, UnclearedAllocator<float>> points_;
    std::vector<FanRun> runs_;
    std::vector<Mark> marks_;
    std::int64_t triangles_ = 0;
};

// Consecutive primitives of one polarity in file order, as a range of vertices (not floats) of the mesh of
// that polarity. Drawing the runs in order lets a dark object that follows a clear one survive it.
struct PolarityRun {
    Polarity polarity;
    std::int64_t firstVertex = 0;
    std::int64_t vertexCount = 0;
    // The run's stroke centre lines: a range of vertices of TessellatedLayer::centreLines.
    std::int64_t firstLineVertex = 0;
    std::int64_t lineVertexCount = 0;

    bool operator==(const PolarityRun&) const = default;
};

struct TessellatedLayer {
    TriangleMesh dark;
    TriangleMesh clear;
    // The centre line of every stroke, arc and slot, two vertices (x, y floats) per straight piece, in file
    // order: drawn as lines one pixel wide over the triangles, they keep a stroke narrower than a pixel from
    // vanishing.
    std::vector<float> centreLines;
    // Covers both meshes in file order; primitives without triangles leave no run, neighbours of one
    // polarity share one, so dark and clear runs alternate.
    std::vector<PolarityRun> runs;

    std::int64_t totalTriangles() const { return dark.triangleCount() + clear.triangleCount(); }
};

using Triangle = std::array<Vec2, 3>;

// The geometry engine's arc settings (its detail tolerance holds the round ends and discs too), plus the
// pieces of a round cap.
struct Tessellator : GeometryEngine {
    // Triangles per round cap, obround end and zero-length stroke disc; values below 3 act as 3.
    std::int64_t capSegments = 8;

    TessellatedLayer tessellate(const std::vector<PCBObject>& objects) const;

    // Building blocks of tessellate, appending to the mesh given. Sizes or coordinates that are not finite
    // give no triangles.
    void append(const PCBObject& obj, TriangleMesh& mesh) const;
    // The centre line of a stroke, arc or slot as vertex pairs; nothing for other primitives.
    void appendCentreLine(const PCBObject& obj, std::vector<float>& lines) const;
    void strokeSegment(const Vec2& a, const Vec2& b, double width, TriangleMesh& mesh) const;
    void strokePolyline(const std::vector<Vec2>& points, double width, TriangleMesh& mesh) const;
    // A macro aperture with an evaluated outline is drawn as that outline (see drawnOutline), each contour
    // filled as a region contour; without one it is a disc of its bounding diameter.
    void flashShape(const Vec2& at, ShapeRef shape, TriangleMesh& mesh) const;
    // Fills every contour on its own (contours of one region are separate areas, not holes).
    void fillRegion(const std::vector<Contour>& contours, TriangleMesh& mesh) const;

    // Triangulates a counter-clockwise polygon, always clipping the lowest-index ear. A point on or inside a
    // candidate ear blocks it (except on its corners); points where the outline does not turn are dropped
    // first. Stops with what it has when no ear is left.
    static std::vector<Triangle> earClip(const std::vector<Vec2>& polygon);
};

} // namespace corvane
