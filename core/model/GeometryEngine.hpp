#pragma once
// Turns primitives into flat triangle meshes for the GPU canvas, samples arcs and measures distances.
// Geometry is computed in double precision; meshes store single precision.
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "Geometry.hpp"
#include "Primitives.hpp"

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

struct GeometryEngine {
    // Largest angle one straight piece of a sampled arc may span; must be greater than 0.
    double arcSegmentDegrees = 8.0;
    // When greater than 0, also the largest distance (mm) a piece may stand off its arc (the sagitta), so
    // large arcs get as many pieces as their size needs and small ones keep few. 0 leaves only the angle.
    double arcChordToleranceMM = 0.0;
    // Triangles per round cap, obround end and zero-length stroke disc; values below 3 act as 3.
    std::int64_t capSegments = 8;
    // When greater than 0, how far (mm) a drawn curve may stand off its true circle, for meshes drawn at a
    // known scale: round ends, discs, obround ends and arcs then get only as many pieces as keep within it
    // (never more than without it), and a stroke no wider than twice it gets plain ends. 0 keeps the fixed
    // piece counts.
    double detailToleranceMM = 0.0;

    // Polygon apertures take their vertex count from the file; more than this is drawn with this many.
    static constexpr std::int64_t maxPolygonVertices = 1024;

    // Settings for drawing straight into pixels, `pxPerMM` of them per millimetre: arcs are cut into chords
    // standing at most a quarter pixel off their circle, so a small arc keeps few pieces and a large one
    // gets as many as its size needs.
    static GeometryEngine forDrawing(double pxPerMM);

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
    // A macro outline as drawn: its curves are far finer than a picture needs, so each contour keeps only
    // the corners that hold it within the coarser of detailToleranceMM and arcChordToleranceMM (all of them
    // when both are 0). Flashes of one aperture follow one another, so the last outline thinned is kept
    // per thread; the reference holds until this thread's next call.
    const std::vector<Contour>& drawnOutline(const std::vector<Contour>& outline) const;
    // The corners of a closed contour that keep every dropped one within `tolerance` of the outline they
    // leave (Douglas-Peucker), in order, never fewer than three of a contour that had them.
    static Contour thinned(const Contour& contour, double tolerance);
    // Fills every contour on its own (contours of one region are separate areas, not holes).
    void fillRegion(const std::vector<Contour>& contours, TriangleMesh& mesh) const;
    // The corners of a polygon aperture flashed at `at`, counter-clockwise from the one at its rotation, at
    // most maxPolygonVertices of them, appended to `out`. None when its size or rotation is not finite.
    static void polygonCorners(const Vec2& at, const ApertureShape::Polygon& polygon, std::vector<Vec2>& out);

    // The points of an arc after its start point; equal start and end angles give a full turn.
    std::vector<Vec2> sampleArc(const Vec2& start, const Vec2& end, const Vec2& center, bool clockwise) const;
    // Same, appending to `out` (reusable scratch storage).
    void sampleArc(const Vec2& start, const Vec2& end, const Vec2& center, bool clockwise,
                   std::vector<Vec2>& out) const;

    static double distancePointSegment(const Vec2& p, const Vec2& a, const Vec2& b);
    static double distancePointArc(const Vec2& p, const Vec2& start, const Vec2& end, const Vec2& center,
                                   bool clockwise);

    // Polygons: implicitly closed point lists. Signed area is positive for counter-clockwise order.
    static double signedArea(const std::vector<Vec2>& points);
    static std::vector<Vec2> ensureCCW(std::vector<Vec2> points);
    // Cuts `hole` (expected clockwise) into `outer` (counter-clockwise) through a zero-width bridge from the
    // hole's rightmost point; returns `outer` unchanged when no bridge can be cast.
    static std::vector<Vec2> bridgeHole(const std::vector<Vec2>& outer, const std::vector<Vec2>& hole);
    // One island with its holes (either orientation) as a single polygon for fillRegion: the island made
    // counter-clockwise, each hole clockwise, bridged from the rightmost hole leftwards so that no bridge runs
    // through a hole not yet cut. The result is that of bridgeHole applied hole by hole in that order.
    static std::vector<Vec2> bridgeHoles(std::vector<Vec2> outer, const std::vector<std::vector<Vec2>>& holes);
    static std::vector<Vec2> dedupeConsecutive(const std::vector<Vec2>& points);
    // Triangulates a counter-clockwise polygon, always clipping the lowest-index ear. A point on or inside a
    // candidate ear blocks it (except on its corners); points where the outline does not turn are dropped
    // first. Stops with what it has when no ear is left.
    static std::vector<Triangle> earClip(const std::vector<Vec2>& polygon);
    // Even-odd rule.
    static bool pointInPolygon(const Vec2& point, const std::vector<Vec2>& polygon);
    // 0 inside, infinity for an empty polygon.
    static double distancePointPolygon(const Vec2& point, const std::vector<Vec2>& polygon);
};

} // namespace corvane
