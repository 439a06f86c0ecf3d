#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "model/GeometryEngine.hpp"

using namespace corvane;

namespace {
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

double angleOf(const Vec2& p, const Vec2& c) { return std::atan2(p.y - c.y, p.x - c.x); }
} // namespace

// Arc sampling

TEST(SampleArc, StepCountFollowsSweepAndDirection) {
    const GeometryEngine g;
    const Vec2 c{0, 0};
    // Quarter turn counter-clockwise: 90 / 8 rounded up.
    auto quarter = g.sampleArc(Vec2{1, 0}, Vec2{0, 1}, c, false);
    ASSERT_EQ(quarter.size(), 12u);
    EXPECT_NEAR(quarter.back().x, 0, 1e-12);
    EXPECT_NEAR(quarter.back().y, 1, 1e-12);
    for (const Vec2& p : quarter) EXPECT_NEAR(p.length(), 1, 1e-12);
    EXPECT_GT(angleOf(quarter[0], c), 0);

    // The same ends clockwise go the long way round: 270 degrees.
    auto longWay = g.sampleArc(Vec2{1, 0}, Vec2{0, 1}, c, true);
    ASSERT_EQ(longWay.size(), 34u);
    EXPECT_LT(angleOf(longWay[0], c), 0);
    EXPECT_NEAR(longWay.back().y, 1, 1e-12);

    // Tiny sweeps still give two points.
    const double a = 0.5 * 3.141592653589793 / 180;
    EXPECT_EQ(g.sampleArc(Vec2{1, 0}, Vec2{std::cos(a), std::sin(a)}, c, false).size(), 2u);
}

TEST(SampleArc, ChordToleranceBoundsHowFarPiecesStandOffTheArc) {
    GeometryEngine g;
    g.arcChordToleranceMM = 1e-4;
    const Vec2 c{0, 0};
    for (double r : {0.05, 0.1, 1.0, 63.5, 127.0}) {
        auto pts = g.sampleArc(Vec2{r, 0}, Vec2{-r, 0}, c, false);
        pts.insert(pts.begin(), Vec2{r, 0});
        double worst = 0;
        for (std::size_t i = 1; i < pts.size(); ++i) worst = std::max(worst, r - ((pts[i - 1] + pts[i]) * 0.5).length());
        EXPECT_LE(worst, 1e-4 + 1e-12) << "radius " << r;
        // Never finer than needed: one piece fewer would stand off further than the tolerance.
        const double fewer = static_cast<double>(pts.size() - 2);
        if (fewer >= 23) {
            EXPECT_GT(r * (1 - std::cos(3.141592653589793 / fewer / 2)), 1e-4) << "radius " << r;
        }
    }
    // Small arcs keep the angle rule's few pieces; a tolerance finer than any double can hold stays bounded.
    EXPECT_EQ(g.sampleArc(Vec2{0.01, 0}, Vec2{0, 0.01}, c, false).size(), 12u);
    g.arcChordToleranceMM = 1e-300;
    EXPECT_EQ(g.sampleArc(Vec2{100, 0}, Vec2{100, 0}, c, false).size(), 65536u);
}

TEST(SampleArc, EqualEndsGiveAFullTurnEitherWay) {
    const GeometryEngine g;
    auto ccw = g.sampleArc(Vec2{2, 0}, Vec2{2, 0}, Vec2{0, 0}, false);
    auto cw = g.sampleArc(Vec2{2, 0}, Vec2{2, 0}, Vec2{0, 0}, true);
    ASSERT_EQ(ccw.size(), 45u);
    ASSERT_EQ(cw.size(), 45u);
    EXPECT_GT(ccw[0].y, 0);
    EXPECT_LT(cw[0].y, 0);
    EXPECT_NEAR(ccw.back().x, 2, 1e-12);
    EXPECT_NEAR(cw.back().y, 0, 1e-12);
}

TEST(SampleArc, PointsLieOnTheStartRadius) {
    const GeometryEngine g;
    // The end point sits on a larger circle; the last sample keeps the start's radius at the end's angle.
    auto pts = g.sampleArc(Vec2{1, 0}, Vec2{0, 3}, Vec2{0, 0}, false);
    EXPECT_NEAR(pts.back().x, 0, 1e-12);
    EXPECT_NEAR(pts.back().y, 1, 1e-12);
}

TEST(SampleArc, DegenerateArcsGiveTheirEndsOnly) {
    GeometryEngine g;
    auto zero = g.sampleArc(Vec2{1, 1}, Vec2{2, 2}, Vec2{1, 1}, false);
    ASSERT_EQ(zero.size(), 2u);
    EXPECT_EQ(zero[0], (Vec2{1, 1}));
    EXPECT_EQ(zero[1], (Vec2{2, 2}));
    EXPECT_EQ(g.sampleArc(Vec2{kNaN, 0}, Vec2{0, 1}, Vec2{0, 0}, false).size(), 2u);
    EXPECT_EQ(g.sampleArc(Vec2{1, 0}, Vec2{0, 1}, Vec2{kInf, 0}, true).size(), 2u);
    g.arcSegmentDegrees = 0;
    EXPECT_EQ(g.sampleArc(Vec2{1, 0}, Vec2{0, 1}, Vec2{0, 0}, false).size(), 2u);
    g.arcSegmentDegrees = -5;
    EXPECT_EQ(g.sampleArc(Vec2{1, 0}, Vec2{0, 1}, Vec2{0, 0}, false).size(), 2u);
    g.arcSegmentDegrees = 1e-300;
    EXPECT_EQ(g.sampleArc(Vec2{1, 0}, Vec2{0, 1}, Vec2{0, 0}, false).size(), 2u);
}

// Distances

TEST(Distance, PointToSegment) {
    EXPECT_DOUBLE_EQ(GeometryEngine::distancePointSegment(Vec2{1, 1}, Vec2{0, 0}, Vec2{2, 0}), 1.0);
    EXPECT_DOUBLE_EQ(GeometryEngine::distancePointSegment(Vec2{5, 4}, Vec2{0, 0}, Vec2{2, 0}), 5.0);
    EXPECT_DOUBLE_EQ(GeometryEngine::distancePointSegment(Vec2{-3, 4}, Vec2{0, 0}, Vec2{2, 0}), 5.0);
    // A zero-length segment measures to its start.
    EXPECT_DOUBLE_EQ(GeometryEngine::distancePointSegment(Vec2{3, 4}, Vec2{0, 0}, Vec2{0, 0}), 5.0);
}

TEST(Distance, PointToArcInsideAndOutsideTheSweep) {
    const Vec2 c{0, 0};
    // Counter-clockwise quarter from +x to +y.
    EXPECT_NEAR(GeometryEngine::distancePointArc(Vec2{2, 2}, Vec2{1, 0}, Vec2{0, 1}, c, false),
                std::sqrt(8.0) - 1, 1e-12);
    EXPECT_NEAR(GeometryEngine::distancePointArc(Vec2{0, -2}, Vec2{1, 0}, Vec2{0, 1}, c, false),
                std::sqrt(5.0), 1e-12);
    // Clockwise between the same ends covers the other three quarters.
    EXPECT_NEAR(GeometryEngine::distancePointArc(Vec2{0, -2}, Vec2{1, 0}, Vec2{0, 1}, c, true), 1.0, 1e-12);
    EXPECT_NEAR(GeometryEngine::distancePointArc(Vec2{2, 2}, Vec2{1, 0}, Vec2{0, 1}, c, true),
                std::sqrt(5.0), 1e-12);
    // Equal ends: a full circle.
    EXPECT_NEAR(GeometryEngine::distancePointArc(Vec2{-3, 0}, Vec2{1, 0}, Vec2{1, 0}, c, false), 2.0, 1e-12);
    // Zero radius falls back to the chord.
    EXPECT_NEAR(GeometryEngine::distancePointArc(Vec2{1, 1}, Vec2{0, 0}, Vec2{2, 0}, c, false), 1.0, 1e-12);
}

// Polygon queries

TEST(PolygonQueries, EvenOddInsideAndDistance) {
    const std::vector<Vec2> square{{0, 0}, {4, 0}, {4, 4}, {0, 4}};
    EXPECT_TRUE(GeometryEngine::pointInPolygon(Vec2{1, 1}, square));
    EXPECT_FALSE(GeometryEngine::pointInPolygon(Vec2{5, 1}, square));
    EXPECT_FALSE(GeometryEngine::pointInPolygon(Vec2{1, 1}, {}));
    EXPECT_EQ(GeometryEngine::distancePointPolygon(Vec2{1, 1}, square), 0.0);
    EXPECT_DOUBLE_EQ(GeometryEngine::distancePointPolygon(Vec2{7, 8}, square), 5.0);
    EXPECT_EQ(GeometryEngine::distancePointPolygon(Vec2{1, 1}, {}), kInf);

    // A bridged square with a square hole: the hole counts as outside.
    const std::vector<Vec2> hole{{1, 1}, {1, 3}, {3, 3}, {3, 1}};
    const auto bridged = GeometryEngine::bridgeHole(square, hole);
    EXPECT_TRUE(GeometryEngine::pointInPolygon(Vec2{0.5, 2}, bridged));
    EXPECT_FALSE(GeometryEngine::pointInPolygon(Vec2{2, 2.5}, bridged));
    EXPECT_DOUBLE_EQ(GeometryEngine::distancePointPolygon(Vec2{2, 2.5}, bridged), 0.5);
}

// Hole bridging

TEST(BridgeHole, CutsFromTheRightmostHolePointToTheNearestEdge) {
    const std::vector<Vec2> outer{{0, 0}, {10, 0}, {10, 10}, {0, 10}};
    // Clockwise hole whose rightmost points tie on x; the upper one wins.
    const std::vector<Vec2> hole{{2, 2}, {2, 4}, {4, 4}, {4, 2}};
    const auto r = GeometryEngine::bridgeHole(outer, hole);
    const std::vector<Vec2> expected{{0, 0}, {10, 0}, {10, 4}, {4, 4}, {4, 2}, {2, 2}, {2, 4},
                                     {4, 4}, {10, 4}, {10, 10}, {0, 10}};
    EXPECT_EQ(r, expected);
    EXPECT_NEAR(GeometryEngine::signedArea(r), 100 - 4, 1e-12);
}

TEST(BridgeHole, NearestCrossingWinsAndUnreachableHolesAreDropped) {
    // A notched outline: the ray from the hole first meets the notch's left wall at x = 6.
    const std::vector<Vec2> outer{{0, 0}, {10, 0}, {10, 10}, {6, 10}, {6, 3}, {5, 3}, {5, 10}, {0, 10}};
    const std::vector<Vec2> hole{{1, 5}, {1, 6}, {2, 6}, {2, 5}};
    const auto r = GeometryEngine::bridgeHole(outer, hole);
    ASSERT_EQ(r.size(), outer.size() + hole.size() + 3);
    EXPECT_EQ(r[6], (Vec2{5, 6}));
    EXPECT_EQ(r[7], (Vec2{2, 6}));

    const std::vector<Vec2> outside{{20, 5}, {20, 6}, {21, 6}};
    EXPECT_EQ(GeometryEngine::bridgeHole(outer, outside), outer);
    EXPECT_EQ(GeometryEngine::bridgeHole(outer, {}), outer);
    EXPECT_TRUE(GeometryEngine::bridgeHole({}, hole).empty());
    // A ray along a horizontal edge only crosses the sloped or vertical ones.
    const std::vector<Vec2> flat{{0, 0}, {10, 0}, {10, 10}, {0, 10}};
    const std::vector<Vec2> onEdgeLevel{{1, 0}, {2, 1}, {3, 0}};
    const auto f = GeometryEngine::bridgeHole(flat, onEdgeLevel);
    ASSERT_EQ(f.size(), 10u);
    EXPECT_EQ(f[1], (Vec2{10, 0}));
    EXPECT_EQ(f[2], (Vec2{10, 0}));
}

TEST(PolygonHelpers, DedupeAndOrientation) {
    const std::vector<Vec2> pts{{0, 0}, {0, 0}, {1, 0}, {1, 1e-10}, {1, 1}, {0, 1}, {0, 1e-10}};
    const std::vector<Vec2> expected{{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    EXPECT_EQ(GeometryEngine::dedupeConsecutive(pts), expected);
    EXPECT_EQ(GeometryEngine::dedupeConsecutive({{1, 1}}).size(), 1u);
    EXPECT_EQ(GeometryEngine::dedupeConsecutive({{1, 1}, {1, 1}}).size(), 1u);

    std::vector<Vec2> cw{{0, 0}, {0, 1}, {1, 1}, {1, 0}};
    const auto ccw = GeometryEngine::ensureCCW(cw);
    EXPECT_GT(GeometryEngine::signedArea(ccw), 0);
    EXPECT_EQ(ccw.front(), (Vec2{1, 0}));
    EXPECT_EQ(GeometryEngine::ensureCCW(ccw), ccw);
    const std::vector<Vec2> flat{{0, 0}, {1, 0}, {2, 0}};
    EXPECT_EQ(GeometryEngine::ensureCCW(flat), flat);
}
