#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "canvas/SampleCoverage.hpp"

using namespace corvane;

namespace {

// Four samples a pixel where OpenGL puts them by default, and a target whose pixels are board millimetres:
// 100 × 80 pixels over x 0 … 100, y 0 … 80.
const SamplePattern kFourSamples{{0.375, 0.875, 0.125, 0.625}, {0.125, 0.375, 0.625, 0.875}};
const TargetTransform kTarget{2.0 / 100, 50, 2.0 / 80, 40, QSize(100, 80)};

std::vector<float> kept(const std::vector<float>& triangles, const TargetTransform& target = kTarget) {
    std::vector<float> out(triangles.size());
    const TriangleMesh mesh = TriangleMesh::ofTriangles(triangles);
    out.resize(static_cast<std::size_t>(
                   keepCoveringTriangles(mesh, 0, mesh.triangleCount(), target, kFourSamples, out.data())) * 2);
    return out;
}

// Whether point p lies in the triangle or on its edges.
bool inside(double px, double py, const float* t) {
    double sign = 0;
    for (int i = 0; i < 3; ++i) {
        const double ax = t[2 * i], ay = t[2 * i + 1], bx = t[2 * ((i + 1) % 3)], by = t[2 * ((i + 1) % 3) + 1];
        const double cross = (bx - ax) * (py - ay) - (by - ay) * (px - ax);
        if (cross == 0) continue;
        if (sign == 0) sign = cross;
        else if ((cross > 0) != (sign > 0)) return false;
    }
    return true;
}

} // namespace

TEST(SampleCoverage, SliversBetweenSamplesGoTheRestStayInOrder) {
    const std::vector<float> between{10.4f, 10.2f, 10.6f, 10.2f, 10.5f, 10.3f};     // under every sample of its pixel
    const std::vector<float> onSample{10.3f, 10.1f, 10.45f, 10.1f, 10.375f, 10.2f};  // holds (10.375, 10.125)
    const std::vector<float> nearSample{10.39f, 10.13f, 10.5f, 10.13f, 10.45f, 10.2f}; // a hundredth of a pixel off
    const std::vector<float> large{20, 20, 30, 20, 25, 21};
    const std::vector<float> outside{-5, -5, -2, -5, -3, -1};
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const std::vector<float> notFinite{nan, 10, 12, 10, 11, 12};
    std::vector<float> all;
    for (const auto* t : {&between, &onSample, &nearSample, &large, &outside, &notFinite}) all.insert(all.end(), t->begin(), t->end());
    const std::vector<float> out = kept(all);
    ASSERT_EQ(out.size(), 4u * 6);
    EXPECT_TRUE(std::equal(onSample.begin(), onSample.end(), out.begin()));
    EXPECT_TRUE(std::equal(nearSample.begin(), nearSample.end(), out.begin() + 6));
    EXPECT_TRUE(std::equal(large.begin(), large.end(), out.begin() + 12));
    EXPECT_TRUE(std::isnan(out[18]));
    // Without the driver's sample points nothing can be judged: every triangle is kept.
    std::vector<float> none(all.size());
    EXPECT_EQ(keepCoveringTriangles(TriangleMesh::ofTriangles(all), 0, 6, kTarget, SamplePattern{}, none.data()), 3);
}

// Whatever a triangle is, one that holds a sample point of the target is never left out, mirrored or not.
TEST(SampleCoverage, NoTriangleHoldingASampleIsLeftOut) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> at(-2, 102), size(-1.5f, 1.5f);
    for (const bool mirrored : {false, true}) {
        TargetTransform target = kTarget;
        if (mirrored) target.scaleX = -target.scaleX;
        std::vector<float> triangles;
        for (int i = 0; i < 20000; ++i) {
            const float x = at(rng), y = at(rng) * 0.8f;
            triangles.insert(triangles.end(), {x, y, x + size(rng), y + size(rng), x + size(rng) * 0.3f, y + size(rng) * 0.3f});
        }
        const std::vector<float> out = kept(triangles, target);
        std::size_t next = 0, left = 0;
        for (std::size_t t = 0; t < triangles.size(); t += 6) {
            const bool keptHere = next < out.size() && std::equal(out.begin() + next, out.begin() + next + 6, triangles.begin() + t);
            if (keptHere) {
                next += 6;
                continue;
            }
            ++left;
            float pixel[6];
            for (int v = 0; v < 3; ++v) {
                pixel[2 * v] = static_cast<float>(target.pixelX(triangles[t + 2 * v]));
                pixel[2 * v + 1] = static_cast<float>(target.pixelY(triangles[t + 2 * v + 1]));
            }
            const auto lo = [&](int k) { return static_cast<int>(std::floor(std::min({pixel[k], pixel[k + 2], pixel[k + 4]}))) - 1; };
            const auto hi = [&](int k) { return static_cast<int>(std::ceil(std::max({pixel[k], pixel[k + 2], pixel[k + 4]}))) + 1; };
            for (int py = lo(1); py <= hi(1); ++py)
                for (int px = lo(0); px <= hi(0); ++px)
                    for (std::size_t s = 0; s < 4; ++s) {
                        const double sx = px + kFourSamples.x[s], sy = py + kFourSamples.y[s];
                        if (sx < 0 || sy < 0 || sx > 100 || sy > 80) continue;
                        ASSERT_FALSE(inside(sx, sy, pixel)) << "triangle " << t / 6 << " left out over a sample";
                    }
        }
        EXPECT_EQ(next, out.size());
        EXPECT_GT(left, 2000u) << "slivers between the samples are left out";
    }
}
