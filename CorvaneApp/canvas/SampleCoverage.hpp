#pragma once
// Which triangles of a layer can colour a multisampled target at all. A fitted board of hundreds of thousands
// of objects is drawn as millions of triangles, almost half of them slivers of round pads and arcs that lie
// between the target's sample points: they cover no sample, so they change no pixel, but on a processor
// rasteriser every one still costs its setup. Leaving them out draws the same picture sooner.
#include <QSize>

#include <cstdint>
#include <vector>

#include "mesh/Tessellator.hpp"

namespace corvane {

// Board millimetres to target pixels (GL's rows, bottom up), as the canvas's shaders place them.
struct TargetTransform {
    double scaleX, centerX, scaleY, centerY; // clip = (p − centre) · scale, per axis
    QSize pixels;

    double pixelX(double x) const { return ((x - centerX) * scaleX + 1) * 0.5 * pixels.width(); }
    double pixelY(double y) const { return ((y - centerY) * scaleY + 1) * 0.5 * pixels.height(); }
};

// The sample points of one pixel, as offsets from its bottom left corner in 0 … 1.
struct SamplePattern {
    std::vector<double> x, y;
};

// Copies the triangles among the `count` of `mesh` from `firstTriangle` that may cover a sample point inside the
// target into `out`, flat (x, y pairs, three vertices a triangle) and in order, and returns the vertices
// written. A triangle is left out only when the box around its corners, grown by far more than the rasteriser
// moves a corner when it snaps it to its grid, holds no sample point of the target; one with a corner that is
// not a finite number is kept, for the rasteriser to judge as before.
std::int64_t keepCoveringTriangles(const TriangleMesh& mesh, std::int64_t firstTriangle, std::int64_t count,
                                   const TargetTransform& transform, const SamplePattern& samples, float* out);

} // namespace corvane
