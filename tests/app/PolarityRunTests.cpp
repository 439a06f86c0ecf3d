#include <gtest/gtest.h>

#include <limits>

#include "mesh/Tessellator.hpp"

using namespace corvane;

namespace {

PCBObject flash(double x, Polarity polarity, double diameter = 1.0) {
    return PCBObject(PCBObjectKind::flash(Vec2{x, 0}), std::nullopt, ApertureShape::circle(diameter), polarity,
                     std::nullopt, std::nullopt, std::nullopt, std::nullopt, 0);
}

std::int64_t vertices(const TriangleMesh& m) { return static_cast<std::int64_t>(m.vertices().size() / 2); }

} // namespace

TEST(PolarityRuns, FollowFileOrderAsRangesIntoEachMesh) {
    const Tessellator g;
    const std::int64_t perFlash = vertices(g.tessellate({flash(0, Polarity::dark)}).dark);
    ASSERT_GT(perFlash, 0);

    // dark dark | clear | dark | clear clear
    const auto layer = g.tessellate({flash(0, Polarity::dark), flash(1, Polarity::dark), flash(2, Polarity::clear),
                                     flash(3, Polarity::dark), flash(4, Polarity::clear),
                                     flash(5, Polarity::clear)});
    const std::vector<PolarityRun> expected{
        {Polarity::dark, 0, 2 * perFlash},
        {Polarity::clear, 0, perFlash},
        {Polarity::dark, 2 * perFlash, perFlash},
        {Polarity::clear, perFlash, 2 * perFlash},
    };
    EXPECT_EQ(layer.runs, expected);
    EXPECT_EQ(vertices(layer.dark), 3 * perFlash);
    EXPECT_EQ(vertices(layer.clear), 3 * perFlash);
}

TEST(PolarityRuns, PrimitivesWithoutTrianglesNeitherSplitNorOpenRuns) {
    const Tessellator g;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    // The clear flash of NaN size draws nothing, so the dark flashes around it stay one run.
    const auto layer = g.tessellate({flash(0, Polarity::dark), flash(1, Polarity::clear, nan),
                                     flash(2, Polarity::dark)});
    ASSERT_EQ(layer.runs.size(), 1u);
    EXPECT_EQ(layer.runs[0].polarity, Polarity::dark);
    EXPECT_EQ(layer.runs[0].firstVertex, 0);
    EXPECT_EQ(layer.runs[0].vertexCount, vertices(layer.dark));
    EXPECT_TRUE(layer.clear.vertices().empty());

    EXPECT_TRUE(g.tessellate({}).runs.empty());
}

TEST(PolarityRuns, StrokesArcsAndSlotsCarryTheirCentreLinesInTheirRun) {
    const Tessellator g;
    const auto object = [](PCBObjectKind kind, Polarity polarity) {
        return PCBObject(std::move(kind), std::nullopt, ApertureShape::circle(0.1), polarity, std::nullopt,
                         std::nullopt, std::nullopt, std::nullopt, 0);
    };
    // stroke | arc (clear) | flash slot (dark)
    const auto layer = g.tessellate({object(PCBObjectKind::stroke({0, 0}, {4, 0}), Polarity::dark),
                                     object(PCBObjectKind::arcStroke({1, 0}, {-1, 0}, {0, 0}, false), Polarity::clear),
                                     flash(5, Polarity::dark),
                                     object(PCBObjectKind::slot({6, 0}, {7, 1}, 0.8, true), Polarity::dark)});
    // The samples after the start: one piece each.
    const std::int64_t arcPieces = static_cast<std::int64_t>(g.sampleArc({1, 0}, {-1, 0}, {0, 0}, false).size());
    ASSERT_GT(arcPieces, 1);
    ASSERT_EQ(layer.runs.size(), 3u);
    EXPECT_EQ(layer.runs[0].firstLineVertex, 0);
    EXPECT_EQ(layer.runs[0].lineVertexCount, 2);
    EXPECT_EQ(layer.runs[1].firstLineVertex, 2);
    EXPECT_EQ(layer.runs[1].lineVertexCount, 2 * arcPieces);
    EXPECT_EQ(layer.runs[2].firstLineVertex, 2 + 2 * arcPieces);
    EXPECT_EQ(layer.runs[2].lineVertexCount, 2);  // the flash has none, the slot one piece
    ASSERT_EQ(layer.centreLines.size(), static_cast<std::size_t>(2 * (4 + 2 * arcPieces)));
    EXPECT_EQ((std::vector<float>(layer.centreLines.begin(), layer.centreLines.begin() + 4)),
              (std::vector<float>{0, 0, 4, 0}));
    EXPECT_EQ((std::vector<float>(layer.centreLines.end() - 4, layer.centreLines.end())), (std::vector<float>{6, 0, 7, 1}));
    // The arc's pieces join end to end from its start to its end.
    const float* arc = layer.centreLines.data() + 4;
    EXPECT_FLOAT_EQ(arc[0], 1);
    EXPECT_FLOAT_EQ(arc[4 * arcPieces - 2], -1);
}
