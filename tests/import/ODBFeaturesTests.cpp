#include <gtest/gtest.h>

#include "ChildRun.hpp"

#include <cmath>

#include "import/ODBPPParser.hpp"

using namespace corvane;

namespace {

GerberDocument parseMM(std::string_view text, std::vector<std::string>* warnings = nullptr) {
    FeaturesParser p(ODBUnits::mm);
    GerberDocument doc = p.parse(text);
    if (warnings) *warnings = p.warnings;
    return doc;
}

const ApertureShape& shapeOf(const PCBObject& o) { return *o.apertureShape; }

double signedArea(const Contour& c) {
    double a = 0;
    for (std::size_t i = 0; i < c.size(); ++i) {
        const Vec2& p = c[i];
        const Vec2& q = c[(i + 1) % c.size()];
        a += p.x * q.y - q.x * p.y;
    }
    return a / 2;
}

ODBPPParser::MatrixLayerInfo layerNamed(std::string name) {
    ODBPPParser::MatrixLayerInfo l;
    l.name = std::move(name);
    l.type = "DRILL";
    return l;
}

} // namespace

TEST(ODBFeatureSymbols, StandardNamesGiveTheirShapesInMicrons) {
    std::vector<std::string> warnings;
    const auto doc = parseMM("$0 rect200x100\n$1 rect250\n$2 oval300x100\n$3 donut_r500x300\n$4 oct400\n"
                             "$5 poly600x5\n$6 s50\n$7 rect\n$8 R10\n$9 moire20x10\n"
                             "P 0 0 0 P 0 0\nP 0 0 1\nP 0 0 2\nP 0 0 3\nP 0 0 4\nP 0 0 5\nP 0 0 6\nP 0 0 7\n"
                             "P 0 0 8\nP 0 0 9\n",
                             &warnings);
    ASSERT_EQ(doc.objects.size(), 10u);
    EXPECT_EQ(shapeOf(doc.objects[0]), ApertureShape::rectangle(0.2, 0.1));
    EXPECT_EQ(shapeOf(doc.objects[1]), ApertureShape::rectangle(0.25, 0.25));
    EXPECT_EQ(shapeOf(doc.objects[2]), ApertureShape::obround(0.3, 0.1));
    EXPECT_EQ(shapeOf(doc.objects[3]), ApertureShape::circle(0.5));
    EXPECT_EQ(shapeOf(doc.objects[4]), ApertureShape::polygon(0.4, 8, 22.5));
    EXPECT_EQ(shapeOf(doc.objects[5]), ApertureShape::polygon(0.6, 5, 0));
    EXPECT_EQ(shapeOf(doc.objects[6]), ApertureShape::rectangle(0.05, 0.05));
    EXPECT_EQ(shapeOf(doc.objects[7]), ApertureShape::rectangle(1, 1));
    EXPECT_EQ(shapeOf(doc.objects[8]), ApertureShape::circle(0.01));
    EXPECT_EQ(shapeOf(doc.objects[9]), ApertureShape::macro("moire20x10", 0.5));
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0], "ODB++ symbol 'moire20x10' not modelled \u2014 using 0.5 mm circle.");
    for (std::size_t i = 0; i < doc.objects.size(); ++i) EXPECT_EQ(doc.objects[i].index, static_cast<std::int64_t>(i));
}

TEST(ODBFeatureSymbols, InchFilesScaleCoordinatesByInchesAndSizesByMils) {
    FeaturesParser p(ODBUnits::inch);
    const auto doc = p.parse("UNITS=INCH\n$0 r10\nP 1 2 0 P 0 0\n");
    ASSERT_EQ(doc.objects.size(), 1u);
    EXPECT_EQ(doc.objects[0].kind, PCBObjectKind::flash({25.4, 50.8}));
    EXPECT_DOUBLE_EQ(doc.objects[0].apertureShape->as<ApertureShape::Circle>()->diameter, 0.254);
    EXPECT_EQ(doc.units, Units::mm);
    EXPECT_NEAR(doc.bbox.minX, 25.4 - 0.127, 1e-12);
}

TEST(ODBFeatureRecords, PolarityUndefinedSymbolsAndShortRecords) {
    const auto doc = parseMM("# comment\n@0 .smd\n&0 text\nUNITS=MM\n$0 r100\n"
                             "P 1 1 0 N 0 0\n"      // clear pad
                             "L 0 0 1 0 0 P 0\n"    // dark line
                             "L 0 0 2 0 0\n"        // no polarity letter: dark
                             "P 5 5 3 P 0 0\n"      // undefined symbol
                             "P 5 5 -1 0 2 P 0 0\n" // resized pad
                             "L 0 0 1 0\n"          // too few numbers
                             "P 2 2 0 P 0 0;0=1,1\n");
    ASSERT_EQ(doc.objects.size(), 4u);
    EXPECT_EQ(doc.objects[0].polarity, Polarity::clear);
    EXPECT_EQ(doc.objects[1].polarity, Polarity::dark);
    EXPECT_EQ(doc.objects[1].kind, PCBObjectKind::stroke({0, 0}, {1, 0}));
    EXPECT_EQ(doc.objects[2].polarity, Polarity::dark);
    EXPECT_EQ(doc.objects[3].kind, PCBObjectKind::flash({2, 2}));
}

TEST(ODBFeatureRecords, ArcsHonourTheirDirectionToken) {
    const auto doc = parseMM("$0 r100\n"
                             "A 1 0 0 1 0 0 0 P 0 Y\n"
                             "A 1 0 0 1 0 0 0 P 0 N;1=2\n"
                             "A 1 0 0 1 0 0 0 P 0\n");
    ASSERT_EQ(doc.objects.size(), 3u);
    EXPECT_TRUE(doc.objects[0].kind.as<PCBObjectKind::ArcStroke>()->clockwise);
    EXPECT_FALSE(doc.objects[1].kind.as<PCBObjectKind::ArcStroke>()->clockwise);
    EXPECT_TRUE(doc.objects[2].kind.as<PCBObjectKind::ArcStroke>()->clockwise);
    // The counter-clockwise quarter from (1,0) to (0,1) stays in the first quadrant.
    EXPECT_NEAR(doc.objects[1].bbox.minX, -0.05, 1e-9);
    EXPECT_NEAR(doc.objects[0].bbox.minX, -1.05, 1e-9);
}

TEST(ODBFeatureSurfaces, ContoursNeedThreePointsAndAnOpenSurface) {
    const auto doc = parseMM("OS 5 5\nOB 0 0 I\nOE\n"
                             "S P 0\nOS 9 9\nOB 0 0 I\nOS 1 0\nOS 1 1\nOE\nSE\n"
                             "S N 0\nOB 0 0 I\nOS 1 0\nOE\nSE\n");
    ASSERT_EQ(doc.objects.size(), 1u);
    const auto* region = doc.objects[0].kind.as<PCBObjectKind::Region>();
    ASSERT_NE(region, nullptr);
    ASSERT_EQ(region->contours.size(), 1u);
    EXPECT_EQ(region->contours[0], (Contour{{0, 0}, {1, 0}, {1, 1}}));
    EXPECT_EQ(doc.objects[0].polarity, Polarity::dark);
    EXPECT_FALSE(doc.objects[0].apertureShape.has_value());
}

TEST(ODBFeatureSurfaces, HolesAreBridgedIntoTheirIslandAndIslandsStaySeparate) {
    // One island (clockwise, as ODB++ writes it) with two holes, then a second island.
    const auto doc = parseMM("S P 0\n"
                             "OB 0 0 I\nOS 0 10\nOS 10 10\nOS 10 0\nOE\n"
                             "OB 2 2 H\nOS 4 2\nOS 4 4\nOS 2 4\nOE\n"
                             "OB 6 6 H\nOS 8 6\nOS 8 8\nOS 6 8\nOE\n"
                             "OB 20 0 I\nOS 21 0\nOS 21 1\nOE\n"
                             "SE\n");
    ASSERT_EQ(doc.objects.size(), 2u);
    const auto& first = doc.objects[0].kind.as<PCBObjectKind::Region>()->contours;
    ASSERT_EQ(first.size(), 1u);
    // Island, plus each hole and its bridge (hole points + 3).
    EXPECT_EQ(first[0].size(), 4u + 2 * (4 + 3));
    // Net area = island minus both holes: the clearances stay open.
    EXPECT_NEAR(signedArea(first[0]), 100.0 - 4.0 - 4.0, 1e-9);
    const auto& second = doc.objects[1].kind.as<PCBObjectKind::Region>()->contours;
    EXPECT_EQ(second[0].size(), 3u);
    EXPECT_GT(signedArea(second[0]), 0);
}

TEST(ODBFeatureSurfaces, ContourArcsFollowTheirDirection) {
    // Quarter circle corners: counter-clockwise from (1,0) to (0,1) around the origin.
    const auto ccw = parseMM("S P 0\nOB 0 0 I\nOS 1 0\nOC 0 1 0 0 N\nOE\nSE\n");
    const auto cw = parseMM("S P 0\nOB 0 0 I\nOS 1 0\nOC 0 1 0 0 Y\nOE\nSE\n");
    const auto& a = ccw.objects.at(0).kind.as<PCBObjectKind::Region>()->contours[0];
    const auto& b = cw.objects.at(0).kind.as<PCBObjectKind::Region>()->contours[0];
    EXPECT_NEAR(std::fabs(signedArea(a)), 3.141592653589793 / 4, 0.01);
    EXPECT_NEAR(std::fabs(signedArea(b)), 3.141592653589793 * 3 / 4, 0.02);
    EXPECT_GE(ccw.bbox.minX, -1e-9);
    EXPECT_NEAR(cw.bbox.minX, -1, 0.01);
}

TEST(ODBFeatureSurfaces, AnOpenSurfaceAtTheEndKeepsFinishedContoursOnly) {
    const auto doc = parseMM("S P 0\nOB 0 0 I\nOS 1 0\nOS 1 1\nOE\nOB 5 5 I\nOS 6 5\nOS 6 6\n");
    ASSERT_EQ(doc.objects.size(), 1u);
}

TEST(ODBFeatureLines, CarriageReturnLineEndsReadLikeLineFeeds) {
    const auto doc = parseMM("UNITS=MM\r\n$0 r100\r\nP 1 2 0 P 0 0\r\nS P 0\r\nOB 0 0 I\r\nOS 1 0\r\nOS 1 1\r\nOE\r\nSE\r\n");
    ASSERT_EQ(doc.objects.size(), 2u);
    EXPECT_EQ(doc.objects[0].kind, PCBObjectKind::flash({1, 2}));
    EXPECT_EQ(doc.objects[1].kind.as<PCBObjectKind::Region>()->contours[0].size(), 3u);
}

TEST(ODBFeaturePads, RotationSwapsSidesAtQuarterTurnsAndDrawsOutlinesOtherwise) {
    const auto doc = parseMM("$0 rect200x100\n$1 oval300x100\n$2 poly600x5x10\n$3 r100\n"
                             "P 0 0 0 P 0 1\n"        // 90 degrees: sides swap
                             "P 0 0 0 P 0 2\n"        // 180: unchanged
                             "P 0 0 0 P 0 8 270\n"    // free angle 270: sides swap
                             "P 10 0 0 P 0 8 45\n"    // 45: rotated outline
                             "P 0 0 1 P 0 8 30\n"     // oval at 30: capsule outline
                             "P 0 0 2 P 0 9 20\n"     // mirrored polygon, then 20 clockwise
                             "P 0 0 3 P 0 8 33\n");   // circles ignore rotation
    ASSERT_EQ(doc.objects.size(), 7u);
    EXPECT_EQ(shapeOf(doc.objects[0]), ApertureShape::rectangle(0.1, 0.2));
    EXPECT_EQ(shapeOf(doc.objects[1]), ApertureShape::rectangle(0.2, 0.1));
    EXPECT_EQ(shapeOf(doc.objects[2]), ApertureShape::rectangle(0.1, 0.2));

    const auto* rect45 = doc.objects[3].kind.as<PCBObjectKind::Region>();
    ASSERT_NE(rect45, nullptr);
    EXPECT_NEAR(signedArea(rect45->contours[0]), 0.02, 1e-12);
    // The corner (+0.1, +0.05) turned 45 degrees clockwise.
    const double r = 1 / std::sqrt(2.0);
    EXPECT_NEAR(doc.objects[3].bbox.maxX, 10 + (0.1 + 0.05) * r, 1e-12);
    EXPECT_NEAR(doc.objects[3].bbox.maxY, (0.1 + 0.05) * r * 0 + (-0.1 * -r + 0.05 * r) * 1, 1e-12);

    const auto* oval30 = doc.objects[4].kind.as<PCBObjectKind::Region>();
    ASSERT_NE(oval30, nullptr);
    const double capsule = 0.2 * 0.1 + 3.141592653589793 * 0.05 * 0.05;
    EXPECT_NEAR(signedArea(oval30->contours[0]), capsule, capsule * 0.01);
    // Long axis turned 30 degrees clockwise: the right end dips below the x axis.
    EXPECT_NEAR(doc.objects[4].bbox.maxX, 0.1 * std::cos(3.141592653589793 / 6) + 0.05, 1e-3);

    EXPECT_EQ(shapeOf(doc.objects[5]), ApertureShape::polygon(0.6, 5, 150));
    EXPECT_EQ(shapeOf(doc.objects[6]), ApertureShape::circle(0.1));
}

TEST(ODBFeatureSafety, HostileNumbersAreSkippedNotDrawn) {
    std::vector<std::string> warnings;
    const auto doc = parseMM("$99999999999999999999 r10\n"      // symbol number overflows
                             "$0 r1e400\n$1 rnan\n$2 r-5\n"     // sizes that are no lengths
                             "$3 poly100x1e30\n$4 polyx\n$5 r100\n$6 poly100x1e300\n"
                             "P 0 0 0\nP 0 0 1\nP 0 0 2\nP 0 0 3\nP 0 0 4\n"
                             "P 1e999 0 5\nP nan 0 5\nP 1e308 0 5\nL 0 0 -1e300 0 5\nP 0 0 1e30\nP 0 0 nan\n"
                             "L 0 0 inf 0 5\nA 0 0 1 1 nan 0 5\n"
                             "P 1 1 5 P 0 8 nan\n"
                             "P 0 0 6\n"
                             "S P 0\nOB 0 0\nOS inf 0\nOS 1 1\nOC 2 2 nan 0 N\nOS 1 0\nOE\nSE\n",
                             &warnings);
    // Left: the out-of-range size as an unmodelled symbol, the default polygon, the pad
    // with an unreadable angle drawn unrotated, and the surface without its non-finite points.
    ASSERT_EQ(doc.objects.size(), 4u);
    EXPECT_EQ(shapeOf(doc.objects[0]), ApertureShape::macro("r1e400", 0.5));
    EXPECT_EQ(warnings.size(), 1u);
    EXPECT_EQ(shapeOf(doc.objects[1]), ApertureShape::polygon(1, 6, 0));
    EXPECT_EQ(doc.objects[2].kind, PCBObjectKind::flash({1, 1}));
    EXPECT_EQ(shapeOf(doc.objects[2]), ApertureShape::circle(0.1));
    // The clockwise island comes back counter-clockwise.
    EXPECT_EQ(doc.objects[3].kind.as<PCBObjectKind::Region>()->contours[0], (Contour{{1, 0}, {1, 1}, {0, 0}}));
    for (const auto& o : doc.objects) EXPECT_TRUE(std::isfinite(o.bbox.minX) && std::isfinite(o.bbox.maxY));
}

TEST(ODBFeatureSafety, ARecordLineOfAnyLengthKeepsItsFieldsOnly) {
    // An arc whose 60 MB line ends in its direction token: read as the short record, in memory of its
    // first fields (the line's tokens and numbers took some 700 MB).
    const auto outcome = corvane::testing::runInChild([] {
        std::string text = "$0 r100\nA 1 0 0 1 0 0 0 P 0";
        text.reserve(60'000'100);
        for (int i = 0; i < 30'000'000; ++i) text += " 7";
        text += " N\n";
        const auto doc = parseMM(text);
        if (doc.objects.size() != 1) return std::string("objects: ") + std::to_string(doc.objects.size());
        const auto* arc = doc.objects[0].kind.as<PCBObjectKind::ArcStroke>();
        return std::string(arc && !arc->clockwise ? "counter-clockwise arc" : "something else");
    });
    ASSERT_TRUE(outcome.finished);
    EXPECT_EQ(outcome.text, "counter-clockwise arc");
    EXPECT_LT(outcome.peakGrowthKB, 200 * 1024);
}

TEST(ODBFeatureDrills, OneToolPerHitWithPlatingFromNameAndAttributes) {
    FeaturesParser p(ODBUnits::mm);
    const auto doc = p.parseDrill("@0 .smd\n@1 .drill\n$0 r300\n$1 r10\n"
                                  "P 1 1 0 P 0 0\nP 2 1 0 P 0 0;1=1\nP 3 1 1 P 0 0;0,1=0\n"
                                  "P 9 9 7 P 0 0\nL 0 0 4 0 0 P 0\n",
                                  layerNamed("drill"));
    ASSERT_EQ(doc.hits.size(), 3u);
    EXPECT_EQ(doc.hits[0].toolNumber, 11);
    EXPECT_EQ(doc.hits[1].toolNumber, 12);
    EXPECT_EQ(doc.hits[0].plating, Plating::pth);
    EXPECT_EQ(doc.hits[1].plating, Plating::npth);
    EXPECT_EQ(doc.tools.at(12).plating, Plating::npth);
    EXPECT_EQ(doc.hits[2].plating, Plating::pth);
    EXPECT_DOUBLE_EQ(doc.tools.at(11).diameterMM, 0.3);
    EXPECT_DOUBLE_EQ(doc.tools.at(13).diameterMM, 0.05);
    ASSERT_EQ(doc.slots.size(), 1u);
    EXPECT_EQ(doc.slots[0].kind, PCBObjectKind::slot({0, 0}, {4, 0}, 0.3, true));
    EXPECT_EQ(doc.slots[0].apertureCode(), 14);
    EXPECT_EQ(doc.slots[0].index, 0);
    EXPECT_EQ(doc.totalCount(), 4);
    // Hit centres and slot outlines.
    EXPECT_EQ(doc.bbox, (BBox{-0.15, -0.15, 4.15, 1}));
    EXPECT_EQ(doc.fileName, "drill");

    FeaturesParser q(ODBUnits::inch);
    const auto npth = q.parseDrill("$0 r40\nP 1 0 0 P 0 0\nP 2 0 0 P 0 0\n", layerNamed("d_Npth"));
    ASSERT_EQ(npth.tools.size(), 2u);
    EXPECT_EQ(npth.tools.at(11).plating, Plating::npth);
    EXPECT_EQ(npth.tools.at(12).plating, Plating::npth);
    EXPECT_DOUBLE_EQ(npth.tools.at(11).diameterMM, npth.tools.at(12).diameterMM);
    EXPECT_EQ(npth.hits[1].position, (Vec2{50.8, 0}));
}
