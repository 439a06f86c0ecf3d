#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "model/CameraState.hpp"
#include "canvas/CanvasTransform.hpp"

using namespace corvane;

namespace {

void expectNear(const Vec2& actual, const Vec2& expected, double tolerance) {
    EXPECT_NEAR(actual.x, expected.x, tolerance);
    EXPECT_NEAR(actual.y, expected.y, tolerance);
}

// The clip-space position the mesh shader computes, turned into view points (y down).
Vec2 shaderView(const CanvasTransform& t, const Vec2& board) {
    const CanvasTransform::Clip c = t.clip();
    const double cx = (board.x - c.centerX) * c.scaleX;
    const double cy = (board.y - c.centerY) * c.scaleY;
    return Vec2{(cx + 1) / 2 * t.viewWidth(), (1 - cy) / 2 * t.viewHeight()};
}

} // namespace

TEST(CameraState, DefaultsAndZoomLimits) {
    const CameraState camera;
    EXPECT_EQ(camera.center, Vec2::zero());
    EXPECT_EQ(camera.pxPerMM, 8.0);
    EXPECT_FALSE(camera.mirrored);
    EXPECT_EQ(camera, (CameraState{Vec2{0, 0}, 8.0, false}));
    EXPECT_NE(camera, (CameraState{Vec2{0, 0}, 8.0, true}));

    EXPECT_EQ(CameraState::clampedScale(0.05), 0.05);
    EXPECT_EQ(CameraState::clampedScale(0.01), 0.05);
    EXPECT_EQ(CameraState::clampedScale(-3), 0.05);
    EXPECT_EQ(CameraState::clampedScale(std::numeric_limits<double>::quiet_NaN()), 0.05);
    EXPECT_EQ(CameraState::clampedScale(0.0500001), 0.0500001);
    EXPECT_EQ(CameraState::clampedScale(4000), 4000);
    EXPECT_EQ(CameraState::clampedScale(4000.5), 4000);
    EXPECT_EQ(CameraState::clampedScale(std::numeric_limits<double>::infinity()), 4000);
}

TEST(CanvasTransform, BoardPointsLandWhereTheCanvasConventionPutsThem) {
    const CameraState camera{Vec2{10, 20}, 4.0, false};
    const CanvasTransform t(200, 100, camera);
    expectNear(t.toView(Vec2{10, 20}), Vec2{100, 50}, 0);
    // Board +x right, board +y up: Qt's y runs down.
    expectNear(t.toView(Vec2{15, 20}), Vec2{120, 50}, 1e-12);
    expectNear(t.toView(Vec2{10, 25}), Vec2{100, 30}, 1e-12);

    CameraState bottom = camera;
    bottom.mirrored = true;
    const CanvasTransform m(200, 100, bottom);
    EXPECT_EQ(m.mirrorSign(), -1.0);
    expectNear(m.toView(Vec2{15, 20}), Vec2{80, 50}, 1e-12);
    expectNear(m.toView(Vec2{10, 25}), Vec2{100, 30}, 1e-12); // y is not mirrored
    const QPointF p = m.toViewPoint(Vec2{15, 25});
    EXPECT_NEAR(p.x(), 80, 1e-12);
    EXPECT_NEAR(p.y(), 30, 1e-12);
}

TEST(CanvasTransform, InverseRoundTripsPlainAndMirrored) {
    const Vec2 boards[] = {{0, 0}, {-123.456, 78.9}, {1e4, -3e3}, {0.001, 0.002}};
    const Vec2 views[] = {{0, 0}, {1280, 820}, {-50.25, 13.5}, {640.125, 409.875}};
    for (bool mirrored : {false, true}) {
        for (double k : {0.05, 1.0, 8.0, 37.5, 4000.0}) {
            const CanvasTransform t(QSizeF(1280, 820), CameraState{Vec2{-42.5, 17.25}, k, mirrored});
            for (const Vec2& b : boards) {
                const Vec2 back = t.toBoard(t.toView(b));
                const double tolerance = 1e-12 * (1 + std::fabs(b.x) + std::fabs(b.y)) * (1 + 1 / k);
                expectNear(back, b, tolerance);
            }
            for (const Vec2& v : views) {
                expectNear(t.toView(t.toBoard(v)), v, 1e-9);
                const Vec2 viaQt = t.toBoard(QPointF(v.x, v.y));
                expectNear(viaQt, t.toBoard(v), 0);
            }
        }
    }
}

TEST(CanvasTransform, ShaderClipMappingAgreesWithTheViewMapping) {
    for (bool mirrored : {false, true}) {
        const CanvasTransform t(301, 97, CameraState{Vec2{3.5, -2.25}, 12.5, mirrored});
        for (const Vec2& b : {Vec2{3.5, -2.25}, Vec2{0, 0}, Vec2{10, 1}, Vec2{-7, -5}}) {
            expectNear(shaderView(t, b), t.toView(b), 1e-9);
        }
    }
}
