// Words, D codes, arcs, flashes, regions and the objects they make.
#include <gtest/gtest.h>

#include <cmath>

#include "import/GerberTestHelpers.hpp"

using namespace corvane;
using namespace corvane::test;

namespace {

const PCBObjectKind::Flash& flashAt(const GerberDocument& doc, std::size_t i) {
    static const PCBObjectKind::Flash none{};
    if (i >= doc.objects.size()) {
        ADD_FAILURE() << "no object " << i;
        return none;
    }
    const auto* f = doc.objects[i].kind.as<PCBObjectKind::Flash>();
    if (!f) ADD_FAILURE() << "object " << i << " is a " << doc.objects[i].kind.caseName();
    return f ? *f : none;
}

PCBObjectKind::ArcStroke onlyArc(std::string_view body) {
    const GerberDocument doc = parseDoc(mmFile("%ADD10C,0.1*%\nD10*\n" + std::string(body)));
    EXPECT_EQ(doc.objects.size(), 1u);
    const auto* a = doc.objects.empty() ? nullptr : doc.objects[0].kind.as<PCBObjectKind::ArcStroke>();
    EXPECT_NE(a, nullptr);
    return a ? *a : PCBObjectKind::ArcStroke{};
}

Contour onlyContour(const GerberDocument& doc) {
    if (doc.objects.size() != 1) {
        ADD_FAILURE() << doc.objects.size() << " objects";
        return {};
    }
    const auto* r = doc.objects[0].kind.as<PCBObjectKind::Region>();
    if (!r || r->contours.size() != 1) {
        ADD_FAILURE() << "not one region contour";
        return {};
    }
    return r->contours[0];
}

} // namespace

TEST(GerberParserWords, ApertureSelectionAndCodesWithoutCoordinates) {
    // D01, D02 and D03 without coordinates act at the current point.
    const GerberDocument doc = parseDoc(mmFile("D01*\nD03*\n%ADD10C,0.5*%\n%ADD11R,1X2*%\nX1000000Y2000000D02*\n"
                                               "D10*\nD03*\nD01*\nD02*\nG55D03*\nG54D11*\nD03*"));
    ASSERT_EQ(doc.objects.size(), 4u);
    expectPoint(flashAt(doc, 0).at, 1, 2);
    EXPECT_EQ(doc.objects[0].apertureCode(), 10);
    const auto* dot = doc.objects[1].kind.as<PCBObjectKind::Stroke>();
    ASSERT_NE(dot, nullptr);
    expectPoint(dot->start, 1, 2);
    expectPoint(dot->end, 1, 2);
    expectPoint(flashAt(doc, 2).at, 1, 2);  // G55D03
    EXPECT_EQ(doc.objects[3].apertureCode(), 11);
    EXPECT_EQ(doc.objects[3].apertureShape, ApertureShape::rectangle(1, 2));
}

TEST(GerberParserWords, MoveThenFlashAsAltiumWritesPads) {
    const GerberDocument doc = parseDoc(mmFile("%ADD10C,0.5*%\nD10*\nX1000000Y1000000D02*\nD03*\n"
                                               "X2000000Y1000000D02*\nD03*\nX3000000Y1000000D02*\nD03*"));
    ASSERT_EQ(doc.objects.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        expectPoint(flashAt(doc, i).at, 1.0 + static_cast<double>(i), 1.0);
        EXPECT_EQ(doc.objects[i].index, static_cast<std::int64_t>(i));
    }
}

TEST(GerberParserWords, CoordinatesWithoutDCodeRepeatTheLastOne) {
    const GerberDocument doc = parseDoc(mmFile("%ADD10C,0.5*%\nD10*\n"
                                               "X0Y0*\n"                      // no D code yet: a draw
                                               "X1000000Y0D03*\nX2000000Y0*\n"  // flash, then another flash
                                               "X3000000Y0D02*\nX4000000Y0*\n"  // move, then another move
                                               "X5000000Y0D01*\nY1000000*"));   // draw, then another draw
    ASSERT_EQ(doc.objects.size(), 5u);
    EXPECT_NE(doc.objects[0].kind.as<PCBObjectKind::Stroke>(), nullptr);
    expectPoint(flashAt(doc, 1).at, 1, 0);
    expectPoint(flashAt(doc, 2).at, 2, 0);
    const auto* s1 = doc.objects[3].kind.as<PCBObjectKind::Stroke>();
    const auto* s2 = doc.objects[4].kind.as<PCBObjectKind::Stroke>();
    ASSERT_TRUE(s1 && s2);
    expectPoint(s1->start, 4, 0);
    expectPoint(s1->end, 5, 0);
    expectPoint(s2->start, 5, 0);
    expectPoint(s2->end, 5, 1);
}

TEST(GerberParserWords, SelectionWithCoordinatesDoesNotMoveAndNoApertureDrawsNothing) {
    const GerberDocument doc = parseDoc(mmFile("X1000000Y1000000D01*\n%ADD10C,0.5*%\nX5000000Y5000000D10*\n"
                                               "X2000000Y1000000D01*"));
    ASSERT_EQ(doc.objects.size(), 1u);
    const auto* s = doc.objects[0].kind.as<PCBObjectKind::Stroke>();
    ASSERT_NE(s, nullptr);
    expectPoint(s->start, 1, 1);  // the aperture-less draw still moved the point; D10 did not
    expectPoint(s->end, 2, 1);
}

TEST(GerberParserWords, GCodeWithDigitsKeepsItsCoordinates) {
    const GerberDocument doc = parseDoc(mmFile("%ADD10C,0.5*%\nD10*\nX0Y0D02*\nG1X1000000Y1000000D01*\n"
                                               "G01X2000000Y1000000D01*"));
    ASSERT_EQ(doc.objects.size(), 2u);
    expectPoint(doc.objects[0].kind.as<PCBObjectKind::Stroke>()->end, 1, 1);
    expectPoint(doc.objects[1].kind.as<PCBObjectKind::Stroke>()->end, 2, 1);
}

TEST(GerberParserWords, StrokesCarryApertureAndBox) {
    const GerberDocument doc = parseDoc(mmFile("%ADD10C,0.5*%\n%ADD20C,1*%\nD10*\nX0Y0D02*\nX2000000Y0D01*\n"
                                               "D30*\nX3000000Y0D01*"));
    ASSERT_EQ(doc.objects.size(), 2u);
    const PCBObject& s = doc.objects[0];
    EXPECT_EQ(s.apertureShape, ApertureShape::circle(0.5));
    EXPECT_EQ(s.bbox, (BBox{-0.25, -0.25, 2.25, 0.25}));
    // An undefined code still draws, without a shape.
    EXPECT_EQ(doc.objects[1].apertureCode(), 30);
    EXPECT_FALSE(doc.objects[1].apertureShape.has_value());
    EXPECT_EQ(doc.bbox, (BBox{-0.25, -0.25, 3.0, 0.25}));
    EXPECT_EQ(doc.objects[1].typeName(), "Track / Line");
}

TEST(GerberParserArcs, MultiQuadrantUsesSignedOffsets) {
    const auto a = onlyArc("G75*\nX0Y0D02*\nG02X0Y0I-1000000J0D01*");
    expectPoint(a.center, -1, 0);
    EXPECT_TRUE(a.clockwise);
    // I and J without X and Y: a full circle about the current point's offset.
    const auto full = onlyArc("G75*\nG03*\nX1000000Y0D02*\nI-1000000J0D01*");
    expectPoint(full.start, 1, 0);
    expectPoint(full.end, 1, 0);
    expectPoint(full.center, 0, 0);
    EXPECT_FALSE(full.clockwise);
}

TEST(GerberParserArcs, SingleQuadrantPicksTheShortArcInTheDrawingDirection) {
    // The two centres (1, -1) and (1, 1) both fit; each direction has its own quarter arc.
    const auto cw = onlyArc("G74*\nX0Y0D02*\nG02X2000000Y0I1000000J1000000D01*");
    expectPoint(cw.center, 1, -1);
    EXPECT_TRUE(cw.clockwise);
    const auto ccw = onlyArc("G74*\nX0Y0D02*\nG03X2000000Y0I1000000J1000000D01*");
    expectPoint(ccw.center, 1, 1);
    EXPECT_FALSE(ccw.clockwise);
    // Rounded corners as older tools write them, offsets unsigned.
    expectPoint(onlyArc("G74*\nX1000000Y0D02*\nG03X0Y1000000I1000000J0D01*").center, 0, 0);
    expectPoint(onlyArc("G74*\nX0Y1000000D02*\nG02X1000000Y0I0J1000000D01*").center, 0, 0);
    expectPoint(onlyArc("G74*\nX-1000000Y0D02*\nG02X0Y1000000I1000000J0D01*").center, 0, 0);
    // No quarter arc fits: the best fit of the four, earlier on ties.
    expectPoint(onlyArc("G74*\nX0Y0D02*\nG02X2000000Y0I1000000J0D01*").center, 1, 0);
    expectPoint(onlyArc("G74*\nX0Y0D02*\nG02X2000000Y0D01*").center, 0, 0);
}

TEST(GerberParserArcs, ArcsBeforeAnyQuadrantMode) {
    // Signed offsets that fit: the multi-quadrant centre.
    expectPoint(onlyArc("X0Y1000000D02*\nG02X1000000Y0I0J-1000000D01*").center, 0, 0);
    expectPoint(onlyArc("X1000000Y0D02*\nG03X1000000Y0I-1000000J0D01*").center, 0, 0);
    // Unsigned offsets that do not: the single-quadrant rule.
    expectPoint(onlyArc("X0Y1000000D02*\nG02X1000000Y0I0J1000000D01*").center, 0, 0);
}

TEST(GerberParserRegions, SquareContourStartsAtTheCurrentPoint) {
    const GerberDocument doc = parseDoc(mmFile("G36*\nX0Y0D02*\nX1000000Y0D01*\nX1000000Y1000000D01*\n"
                                               "X0Y1000000D01*\nG37*"));
    const Contour c = onlyContour(doc);
    ASSERT_EQ(c.size(), 4u);
    expectPoint(c[0], 0, 0);
    expectPoint(c[3], 0, 1);
    EXPECT_FALSE(doc.objects[0].apertureCode().has_value());
    EXPECT_FALSE(doc.objects[0].apertureShape.has_value());
    EXPECT_EQ(doc.objects[0].bbox, (BBox{0, 0, 1, 1}));
}

TEST(GerberParserRegions, ContoursSplitByMovesAndShortOnesDropped) {
    const GerberDocument doc = parseDoc(mmFile(
        "%ADD10C,0.5*%\nD10*\nG36*\n"
        "X0Y0D02*\nX1000000Y0D01*\nX1000000Y1000000D01*\nX0Y0D01*\n"
        "X5000000Y0D02*\nX6000000Y0D01*\n"  // two points: dropped
        "X2000000Y0D02*\nX3000000Y0D01*\nX3000000Y1000000D01*\n"
        "X9000000Y9000000D03*\n"              // a flash inside a region is emitted like any other
        "G37*\n"
        "G36*\nX0Y0D02*\nX1000000Y0D01*\nG37*\n"  // nothing left: no region
        "G36*\nX0Y0D02*\nX1000000Y0D01*\nX1000000Y1000000D01*"));  // never closed: not emitted
    ASSERT_EQ(doc.objects.size(), 2u);
    EXPECT_NE(doc.objects[0].kind.as<PCBObjectKind::Flash>(), nullptr);
    const auto* region = doc.objects[1].kind.as<PCBObjectKind::Region>();
    ASSERT_NE(region, nullptr);
    ASSERT_EQ(region->contours.size(), 2u);
    EXPECT_EQ(region->contours[0].size(), 4u);
    EXPECT_EQ(region->contours[1].size(), 3u);
    EXPECT_EQ(doc.objects[1].index, 1);
}

TEST(GerberParserRegions, ArcsAreSampledEveryTenDegrees) {
    // A full circle in either direction: the start, then 36 points ending back at the start.
    for (const char* dir : {"G02", "G03"}) {
        const GerberDocument doc = parseDoc(mmFile(std::string("G75*\nG36*\nX1000000Y0D02*\n") + dir +
                                                   "X1000000Y0I-1000000J0D01*\nG01*\nG37*"));
        const Contour c = onlyContour(doc);
        ASSERT_EQ(c.size(), 37u) << dir;
        expectPoint(c[0], 1, 0);
        expectPoint(c[36], 1, 0, 1e-12);
        expectPoint(c[9], 0, dir[2] == '3' ? 1 : -1, 1e-12);
    }
    // A 5 degree arc still takes 4 points; a centre on the start adds only the end point.
    const double x = std::cos(5.0 * 3.141592653589793 / 180.0), y = std::sin(5.0 * 3.141592653589793 / 180.0);
    const std::string arc5 = "G75*\nG36*\nX1000000Y0D02*\nG03X" + std::to_string(static_cast<long long>(x * 1e6)) +
                             "Y" + std::to_string(static_cast<long long>(y * 1e6)) +
                             "I-1000000J0D01*\nG01X0Y0D01*\nG37*";
    EXPECT_EQ(onlyContour(parseDoc(mmFile(arc5))).size(), 6u);
    const Contour dot = onlyContour(parseDoc(mmFile("G75*\nG36*\nX0Y0D02*\nG03X1000000Y1000000I0J0D01*\n"
                                                     "G01X0Y1000000D01*\nG37*")));
    ASSERT_EQ(dot.size(), 3u);
    expectPoint(dot[1], 1, 1);
}

TEST(GerberParserRegions, SingleQuadrantArcInRegion) {
    const Contour c = onlyContour(parseDoc(mmFile("G74*\nG36*\nX1000000Y0D02*\nG03X0Y1000000I1000000J0D01*\n"
                                                   "G01X0Y0D01*\nG37*")));
    // Start, 9 points of the quarter, the origin.
    ASSERT_EQ(c.size(), 11u);
    for (std::size_t i = 1; i <= 9; ++i) EXPECT_NEAR(std::sqrt(c[i].x * c[i].x + c[i].y * c[i].y), 1.0, 1e-12);
}

TEST(GerberParserRegions, ArcStrokeBoxCoversItsBulge) {
    const GerberDocument doc = parseDoc(mmFile("%ADD10C,0.2*%\nD10*\nG75*\nX-1000000Y0D02*\n"
                                               "G02X1000000Y0I1000000J0D01*"));
    ASSERT_EQ(doc.objects.size(), 1u);
    EXPECT_NEAR(doc.objects[0].bbox.maxY, 1.1, 1e-12);
    EXPECT_EQ(doc.objects[0].typeName(), "Arc");
}

TEST(GerberParserArcs, SingleQuadrantQuarterArcsInEveryQuadrant) {
    // Quarter arcs of the unit circle about (3, 3), offsets written without signs as single-quadrant
    // files do; every quadrant and both directions must find the true centre.
    const double sx[4] = {4, 3, 2, 3}, sy[4] = {3, 4, 3, 2};
    for (int k = 0; k < 4; ++k) {
        const int n = (k + 1) % 4;
        for (const bool ccw : {true, false}) {
            const int from = ccw ? k : n, to = ccw ? n : k;
            const double i = std::abs(sx[from] - 3), j = std::abs(sy[from] - 3);
            auto coord = [](double v) { return std::to_string(static_cast<long long>(v * 1e6)); };
            const std::string body = "G74*\nX" + coord(sx[from]) + "Y" + coord(sy[from]) + "D02*\n" +
                                     (ccw ? "G03" : "G02") + "X" + coord(sx[to]) + "Y" + coord(sy[to]) + "I" +
                                     coord(i) + "J" + coord(j) + "D01*";
            const auto a = onlyArc(body);
            expectPoint(a.center, 3, 3);
            EXPECT_EQ(a.clockwise, !ccw) << body;
        }
    }
}
