#pragma once
// The plane geometry of the board model: arcs sampled into points, distances to centre lines and polygons,
// polygon orientation, hole bridging and inside tests, and the corners of polygon apertures. Computed in
// double precision.
#include <cstdint>
#include <vector>

#include "Geometry.hpp"
#include "Primitives.hpp"

namespace corvane {

struct GeometryEngine {
    // Largest angle one straight piece of a sampled arc may span; must be greater than 0.
    double arcSegmentDegrees = 8.0;
    // When greater than 0, also the largest distance (mm) a piece may stand off its arc (the sagitta), so
    // large arcs get as many pieces as their size needs and small ones keep few. 0 leaves only the angle.
    double arcChordToleranceMM = 0.0;
    // When greater than 0, how far (mm) a drawn curve may stand off its true circle, for curves drawn at a
    // known scale: arcs then get only as many pieces as keep within it (never more than without it), and so
    // do the round ends, discs and obround ends of the canvas's meshes. 0 keeps the fixed piece counts.
    double detailToleranceMM = 0.0;

    // Polygon apertures take their vertex count from the file; more than this is drawn with this many.
    static constexpr std::int64_t maxPolygonVertices = 1024;

    // Settings for drawing straight into pixels, `pxPerMM` of them per millimetre: arcs are cut into chords
    // standing at most a quarter pixel off their circle, so a small arc keeps few pieces and a large one
    // gets as many as its size needs.
    static GeometryEngine forDrawing(double pxPerMM);

    // The corners of a polygon aperture flashed at `at`, counter-clockwise from the one at its rotation, at
    // most maxPolygonVertices of them, appended to `out`. None when its size or rotation is not finite.
    static void polygonCorners(const Vec2& at, const ApertureShape::Polygon& polygon, std::vector<Vec2>& out);

    // A macro outline as drawn: its curves are far finer than a picture needs, so each contour keeps only
    // the corners that hold it within the coarser of detailToleranceMM and arcChordToleranceMM (all of them
    // when both are 0).
    std::vector<Contour> drawnOutline(const std::vector<Contour>& outline) const;
    // Each contour of the outline thinned to `tolerance` (see thinned), without the memo.
    static std::vector<Contour> thinnedOutline(const std::vector<Contour>& outline, double tolerance);
    // The corners of a closed contour that keep every dropped one within `tolerance` of the outline they
    // leave (Douglas-Peucker), in order, never fewer than three of a contour that had them.
    static Contour thinned(const Contour& contour, double tolerance);

    // The points of an arc after its start point; equal start and end angles give a full turn.
    std::vector<Vec2> sampleArc(const Vec2& start, const Vec2& end, const Vec2& center, bool clockwise) const;
    // Same, appending to `out` (reusable scratch storage).
    void sampleArc(const Vec2& start, const Vec2& end, const Vec2& center, bool clockwise,
                   std::vector<Vec2>& out) const;
    // How many points sampleArc appends for this arc, without making them.
    std::int64_t sampledPointCount(const Vec2& start, const Vec2& end, const Vec2& center, bool clockwise) const;

    static double distancePointSegment(const Vec2& p, const Vec2& a, const Vec2& b);
    static double distancePointArc(const Vec2& p, const Vec2& start, const Vec2& end, const Vec2& center,
                                   bool clockwise);

    // Polygons: implicitly closed point lists. Signed area is positive for counter-clockwise order.
    static double signedArea(const std::vector<Vec2>& points);
    static std::vector<Vec2> ensureCCW(std::vector<Vec2> points);
    // Cuts `hole` (expected clockwise) into `outer` (counter-clockwise) through a zero-width bridge from the
    // hole's rightmost point; returns `outer` unchanged when no bridge can be cast.
    static std::vector<Vec2> bridgeHole(const std::vector<Vec2>& outer, const std::vector<Vec2>& hole);
    // One island with its holes (either orientation) as a single polygon to fill: the island made
    // counter-clockwise, each hole clockwise, bridged from the rightmost hole leftwards so that no bridge runs
    // through a hole not yet cut. The result is that of bridgeHole applied hole by hole in that order.
    static std::vector<Vec2> bridgeHoles(std::vector<Vec2> outer, const std::vector<std::vector<Vec2>>& holes);
    static std::vector<Vec2> dedupeConsecutive(const std::vector<Vec2>& points);
    // Even-odd rule.
    static bool pointInPolygon(const Vec2& point, const std::vector<Vec2>& polygon);
    // 0 inside, infinity for an empty polygon.
    static double distancePointPolygon(const Vec2& point, const std::vector<Vec2>& polygon);
};

} // namespace corvane
