#include "canvas/SampleCoverage.hpp"

#include <algorithm>
#include <cmath>

namespace corvane {

namespace {

// How far a triangle's box is grown, in pixels: rasterisers snap corners to a grid of a 256th of a pixel or
// finer, and the shader's single precision moves them by far less than that on any target.
constexpr double kSnapMarginPx = 1.0 / 64.0;

// Whether some sample point of some pixel lies in [x0, x1] × [y0, y1] (target pixels).
bool holdsSample(double x0, double x1, double y0, double y1, const SamplePattern& samples) {
    const std::size_t n = std::min(samples.x.size(), samples.y.size());
    const bool wide = x1 - x0 >= 1;
    const bool tall = y1 - y0 >= 1;
    if (wide && tall) return n > 0;
    const auto within = [](double v, double lo, double hi) { return v >= lo && v <= hi; };
    // A box a pixel wide or more finds every offset of a sample in some column, so only its rows need a
    // look, and the other way round; a box smaller both ways spans at most two pixels each way.
    if (wide) {
        for (double py = std::floor(y0); py <= y1; ++py)
            for (std::size_t s = 0; s < n; ++s)
                if (within(py + samples.y[s], y0, y1)) return true;
        return false;
    }
    if (tall) {
        for (double px = std::floor(x0); px <= x1; ++px)
            for (std::size_t s = 0; s < n; ++s)
                if (within(px + samples.x[s], x0, x1)) return true;
        return false;
    }
    for (double py = std::floor(y0); py <= y1; ++py)
        for (double px = std::floor(x0); px <= x1; ++px)
            for (std::size_t s = 0; s < n; ++s)
                if (within(px + samples.x[s], x0, x1) && within(py + samples.y[s], y0, y1)) return true;
    return false;
}

// Whether the triangle with corners a, b and c may cover a sample point inside the target.
bool mayCoverSample(const float* a, const float* b, const float* c, const TargetTransform& transform,
                    const SamplePattern& samples) {
    const double ax = transform.pixelX(a[0]), bx = transform.pixelX(b[0]), cx = transform.pixelX(c[0]);
    const double ay = transform.pixelY(a[1]), by = transform.pixelY(b[1]), cy = transform.pixelY(c[1]);
    const double x0 = std::min({ax, bx, cx}) - kSnapMarginPx, x1 = std::max({ax, bx, cx}) + kSnapMarginPx;
    const double y0 = std::min({ay, by, cy}) - kSnapMarginPx, y1 = std::max({ay, by, cy}) + kSnapMarginPx;
    if (!std::isfinite(x0) || !std::isfinite(x1) || !std::isfinite(y0) || !std::isfinite(y1)) return true;
    // Outside the target every sample is outside too.
    const bool inside = x1 >= 0 && x0 <= transform.pixels.width() && y1 >= 0 && y0 <= transform.pixels.height();
    return inside && holdsSample(x0, x1, y0, y1, samples);
}

} // namespace

std::int64_t keepCoveringTriangles(const TriangleMesh& mesh, std::int64_t firstTriangle, std::int64_t count,
                                   const TargetTransform& transform, const SamplePattern& samples, float* out) {
    std::int64_t written = 0;
    mesh.forEachTriangle(firstTriangle, count, [&](const float* a, const float* b, const float* c) {
        if (!mayCoverSample(a, b, c, transform, samples)) return;
        float* v = out + written * 2;
        std::copy_n(a, 2, v);
        std::copy_n(b, 2, v + 2);
        std::copy_n(c, 2, v + 4);
        written += 3;
    });
    return written;
}

} // namespace corvane
