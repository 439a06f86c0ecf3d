#pragma once
// The GPU canvas's meshes: primitives turned into flat triangle meshes, dark and clear, with their polarity
// runs and stroke centre lines. Geometry is computed in double precision; meshes store single precision.
#include <array>
#include <cstdint>
#include <vector>

#include "model/GeometryEngine.hpp"

namespace corvane {

// Three vertices per triangle, x and y each: six floats per triangle, no index list.
struct TriangleMesh {
    std::vector<float> vertices;

    std::int64_t triangleCount() const { return static_cast<std::int64_t>(vertices.size() / 6); }

    void addTriangle(const Vec2& a, const Vec2& b, const Vec2& c);
    void addQuad(const Vec2& a, const Vec2& b, const Vec2& c, const Vec2& d);
    // Rim points are computed in single precision; gives max(segments, 3) triangles.
    void addFan(const Vec2& center, double radius, double startDeg, double sweepDeg, std::int64_t segments);
    static std::array<float, 12> verticesOfQuad(double minX, double minY, double maxX, double maxY);
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
