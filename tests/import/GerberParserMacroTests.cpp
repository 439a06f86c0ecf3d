// Aperture macros evaluated into outlines: the forms real CAD tools write.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <tuple>
#include <utility>

#include "Guards.hpp"
#include "import/ApertureMacro.hpp"
#include "import/GerberTestHelpers.hpp"
#include "model/Format.hpp"
#include "model/GeometryEngine.hpp"

using namespace corvane;
using namespace corvane::test;

namespace {

const ApertureShape::Macro& macroOf(const GerberDocument& doc, std::int64_t code) {
    static const ApertureShape::Macro none{};
    const auto it = doc.apertures.find(code);
    if (it == doc.apertures.end()) {
        ADD_FAILURE() << "aperture " << code << " not defined";
        return none;
    }
    const auto* m = it->second.shape.as<ApertureShape::Macro>();
    if (!m) ADD_FAILURE() << "aperture " << code << " is a " << it->second.shape.caseName();
    return m ? *m : none;
}

// Whether the drawn aperture covers the point: every contour is filled on its own.
bool covers(const ApertureShape::Macro& m, double x, double y) {
    if (!m.outline) return false;
    for (const Contour& c : *m.outline)
        if (GeometryEngine::pointInPolygon(Vec2{x, y}, c)) return true;
    return false;
}

BBox outlineBox(const ApertureShape::Macro& m) {
    BBox b = BBox::empty();
    if (m.outline)
        for (const Contour& c : *m.outline)
            for (const Vec2& p : c) b.include(p);
    return b;
}

const char* const kKiCadRoundRect =
    "%AMRoundRect*\n0 Rectangle with rounded corners*\n0 $1 Rounding radius*\n"
    "0 $2 $3 $4 $5 $6 $7 $8 $9 X,Y pos of 4 corners*\n0 Add a 4 corners polygon primitive as box body*\n"
    "4,1,4,$2,$3,$4,$5,$6,$7,$8,$9,$2,$3,0*\n0 Add four circle primitives for the rounded corners*\n"
    "1,1,$1+$1,$2,$3*\n1,1,$1+$1,$4,$5*\n1,1,$1+$1,$6,$7*\n1,1,$1+$1,$8,$9*\n"
    "0 Add four rect primitives between the rounded corners*\n20,1,$1+$1,$2,$3,$4,$5,0*\n"
    "20,1,$1+$1,$4,$5,$6,$7,0*\n20,1,$1+$1,$6,$7,$8,$9,0*\n20,1,$1+$1,$8,$9,$2,$3,0*%\n";

// A KiCad rounded rectangle: the four corner centres (±cx, ±cy) turned by `deg` about the origin, as
// its plot writes them, with corner radius r.
std::string kicadRoundRect(int code, double r, double cx, double cy, double deg) {
    const double a = deg * 3.141592653589793 / 180, c = std::cos(a), s = std::sin(a);
    std::string def = "%ADD" + std::to_string(code) + "RoundRect," + formatFixed(r, 12);
    for (const auto& [x, y] : {std::pair{-cx, -cy}, std::pair{cx, -cy}, std::pair{cx, cy}, std::pair{-cx, cy}})
        def += "X" + formatFixed(x * c - y * s, 12) + "X" + formatFixed(x * s + y * c, 12);
    return def + "*%\n";
}

// Signed distance from p to a rounded rectangle centred on the origin, turned by `deg`, with corner centres
// at (±cx, ±cy) and corner radius r: negative inside.
double roundRectDistance(Vec2 p, double r, double cx, double cy, double deg) {
    const double a = -deg * 3.141592653589793 / 180;
    const Vec2 q{std::fabs(p.x * std::cos(a) - p.y * std::sin(a)) - cx, std::fabs(p.x * std::sin(a) + p.y * std::cos(a)) - cy};
    return std::hypot(std::max(q.x, 0.0), std::max(q.y, 0.0)) + std::min(std::max(q.x, q.y), 0.0) - r;
}

// How far p lies outside the flashed outline: 0 inside a contour, else the distance to the nearest edge.
double distanceOutside(const ApertureShape::Macro& m, const Vec2& p, const Vec2& at = Vec2{}) {
    double best = std::numeric_limits<double>::infinity();
    for (const Contour& c : *m.outline) {
        Contour placed;
        for (const Vec2& v : c) placed.push_back(v + at);
        if (GeometryEngine::pointInPolygon(p, placed)) return 0;
        for (std::size_t i = 0; i < placed.size(); ++i)
            best = std::min(best, GeometryEngine::distancePointSegment(p, placed[i], placed[(i + 1) % placed.size()]));
    }
    return best;
}

} // namespace

TEST(GerberParserMacros, KiCadRoundRectLiesWithinATenthOfAMicrometreOfItsTrueShape) {
    // Small corners (0.08 mm radius) once came out as hexagons, up to 10 µm inside the pad.
    for (const auto& [r, cx, cy, deg] : {std::tuple{0.08, 0.25, 0.1, 0.0}, std::tuple{0.25, 0.5, 0.25, 30.0},
                                         std::tuple{1.2, 2.0, 0.3, 117.0}}) {
        SCOPED_TRACE(deg);
        const GerberDocument doc = parseDoc(mmFile(std::string(kKiCadRoundRect) + kicadRoundRect(10, r, cx, cy, deg)));
        const ApertureShape::Macro& m = macroOf(doc, 10);
        ASSERT_TRUE(m.outline.has_value());
        EXPECT_NEAR(m.boundingDiameter, 2 * (std::hypot(cx, cy) + r), 1e-9);
        for (const Contour& c : *m.outline)
            for (const Vec2& v : c) EXPECT_LE(roundRectDistance(v, r, cx, cy, deg), 1e-9);
        // Every point of the true edge is covered to within the chord tolerance.
        const double a = deg * 3.141592653589793 / 180;
        double worst = 0;
        for (int k = 0; k < 4000; ++k) {
            const double t = 6.283185307179586 * k / 4000;
            const Vec2 corner{cx * (std::cos(t) > 0 ? 1 : -1), cy * (std::sin(t) > 0 ? 1 : -1)};
            const Vec2 local{corner.x + r * std::cos(t), corner.y + r * std::sin(t)};
            const Vec2 edge{local.x * std::cos(a) - local.y * std::sin(a), local.x * std::sin(a) + local.y * std::cos(a)};
            worst = std::max(worst, distanceOutside(m, edge));
        }
        EXPECT_LE(worst, kOutlineChordMM + 1e-9);
    }
}

TEST(GerberParserMacros, RoundRectCornersFacingAtTheMinimumKeepTheirTrueGap) {
    // Two 0.16 mm-cornered pads flashed so that their nearest corners face along 30 degrees, 0.2 mm
    // apart: the outlines stand no closer than that, and no more than two chord errors farther.
    const double r = 0.08, cx = 0.3, cy = 0.2, gap = 0.2;
    const GerberDocument doc = parseDoc(mmFile(std::string(kKiCadRoundRect) + kicadRoundRect(10, r, cx, cy, 0)));
    const ApertureShape::Macro& m = macroOf(doc, 10);
    ASSERT_TRUE(m.outline.has_value());
    const double reach = gap + 2 * r, a = 3.141592653589793 / 6;
    const Vec2 b = Vec2{2 * cx + reach * std::cos(a), 2 * cy + reach * std::sin(a)};
    double measured = std::numeric_limits<double>::infinity();
    for (const Contour& c : *m.outline)
        for (const Vec2& v : c) {
            measured = std::min(measured, distanceOutside(m, v, b));
            measured = std::min(measured, distanceOutside(m, v + b));
        }
    EXPECT_GE(measured, gap - 1e-9);
    EXPECT_LE(measured, gap + 2 * kOutlineChordMM);
}

TEST(GerberParserMacros, KiCadRoundRectWithVariables) {
    const GerberParseResult r = parseGerber(mmFile(std::string(kKiCadRoundRect) +
        "%ADD10RoundRect,0.25X-0.5X-0.25X0.5X-0.25X0.5X0.25X-0.5X0.25X0*%\nD10*\nX1000000Y1000000D03*"));
    const ApertureShape::Macro& m = macroOf(r.document, 10);
    ASSERT_TRUE(m.outline.has_value());
    EXPECT_EQ(m.outline->size(), 9u);  // body, four corners, four edges
    const BBox box = outlineBox(m);
    EXPECT_NEAR(box.minX, -0.75, 1e-12);
    EXPECT_NEAR(box.maxX, 0.75, 1e-12);
    EXPECT_NEAR(box.minY, -0.5, 1e-12);
    EXPECT_NEAR(box.maxY, 0.5, 1e-12);
    EXPECT_TRUE(covers(m, 0, 0));
    EXPECT_TRUE(covers(m, 0.7, 0));
    EXPECT_TRUE(covers(m, 0.6, 0.4));
    EXPECT_FALSE(covers(m, 0.74, 0.49));  // the rounded corner is open
    // Not measurable from plain numbers: the size comes from the outline, with no warning.
    EXPECT_NEAR(m.boundingDiameter, 2 * (std::hypot(0.5, 0.25) + 0.25), 1e-12);
    EXPECT_TRUE(r.internalWarnings.empty());
    // The flash carries the outline with its shape.
    ASSERT_EQ(r.document.objects.size(), 1u);
    const auto* flashed = r.document.objects[0].apertureShape->as<ApertureShape::Macro>();
    ASSERT_NE(flashed, nullptr);
    EXPECT_EQ(flashed->outline, m.outline);
}

TEST(GerberParserMacros, AltiumParameterlessDefinition) {
    const GerberDocument doc = parseDoc(mmFile("%AMROUNDEDRECTD19*\n21,1,0.6,0.3,0,0,0*\n21,1,0.4,0.5,0,0,0*\n"
                                               "1,1,0.2,0.2,-0.15*\n1,1,0.2,-0.2,-0.15*\n1,1,0.2,-0.2,0.15*\n"
                                               "1,1,0.2,0.2,0.15*\n%\n%ADD19ROUNDEDRECTD19*%\nD19*\nX0Y0D03*"));
    const ApertureShape::Macro& m = macroOf(doc, 19);
    EXPECT_EQ(m.name, "ROUNDEDRECTD19");
    // The size is what the outline covers: its corner circles reach 0.35 mm out.
    EXPECT_NEAR(m.boundingDiameter, 2 * (std::hypot(0.2, 0.15) + 0.1), 1e-12);
    ASSERT_TRUE(m.outline.has_value());
    EXPECT_EQ(m.outline->size(), 6u);
    const BBox box = outlineBox(m);
    EXPECT_NEAR(box.maxX, 0.3, 1e-12);
    EXPECT_NEAR(box.maxY, 0.25, 1e-12);
    ASSERT_EQ(doc.objects.size(), 1u);
    EXPECT_EQ(doc.objects[0].apertureCode(), 19);
}

TEST(GerberParserMacros, KiCadOutline4PIsAMacroNotAPolygon) {
    const GerberDocument doc = parseDoc(mmFile(
        "%AMOutline4P*\n0 Free polygon, 4 corners , with rotation*\n0 The origin of the aperture is its center*\n"
        "0 number of corners: usually 4*\n0 $1 to $8 corner X, Y*\n0 $9 Rotation angle, in degrees counterclockwise*\n"
        "0 create outline with 4 corners*\n4,1,4,$1,$2,$3,$4,$5,$6,$7,$8,$1,$2,$9*%\n"
        "%ADD11Outline4P,-0.5X0.3X0.5X0.3X0.5X-0.3X-0.5X-0.3X90.000000*%\n"));
    const ApertureShape::Macro& m = macroOf(doc, 11);
    ASSERT_TRUE(m.outline.has_value());
    ASSERT_EQ(m.outline->size(), 1u);
    const Contour& c = (*m.outline)[0];
    ASSERT_EQ(c.size(), 4u);  // the closing point is not repeated
    expectPoint(c[0], -0.3, -0.5, 1e-12);  // (-0.5, 0.3) turned a quarter counter-clockwise
    expectPoint(c[1], -0.3, 0.5, 1e-12);
    EXPECT_TRUE(covers(m, 0.25, 0.45));
    EXPECT_FALSE(covers(m, 0.45, 0.25));
}

TEST(GerberParserMacros, ThermalIsFourRingSegments) {
    const GerberDocument doc = parseDoc(mmFile("%AMTHERMAL*7,0,0,1.0,0.6,0.2,45*%\n%ADD12THERMAL*%\n"
                                               "%AMTHERM0*7,0,0,1.0,0.6,0.2,0*%\n%ADD13THERM0*%\n"));
    const ApertureShape::Macro& rotated = macroOf(doc, 12);
    ASSERT_TRUE(rotated.outline.has_value());
    EXPECT_EQ(rotated.outline->size(), 4u);
    EXPECT_NEAR(rotated.boundingDiameter, 1.0, 1e-12);
    // Rotated 45°: the spokes (gaps) lie on the diagonals, copper on the axes.
    EXPECT_TRUE(covers(rotated, 0.4, 0));
    EXPECT_TRUE(covers(rotated, 0, -0.4));
    EXPECT_FALSE(covers(rotated, 0.4 * std::sqrt(0.5), 0.4 * std::sqrt(0.5)));
    EXPECT_FALSE(covers(rotated, 0, 0));
    EXPECT_FALSE(covers(rotated, 0.2, 0));  // inside the inner diameter
    const ApertureShape::Macro& straight = macroOf(doc, 13);
    EXPECT_FALSE(covers(straight, 0.4, 0));
    EXPECT_TRUE(covers(straight, 0.28, 0.28));
}

TEST(GerberParserMacros, RotatedOutlineAndArithmetic) {
    const GerberDocument doc = parseDoc(mmFile(
        "%AMSQ*4,1,4,-0.5,-0.5,0.5,-0.5,0.5,0.5,-0.5,0.5,-0.5,-0.5,$1*%\n%ADD10SQ,30*%\n"
        "%AMARITH*$3=$1x2*$4=($2+$1)/2-0.5*21,1,$3,$4,0,0,0*1,1,$1X0.5,-(1+1)/4,0*1,1,1+2x3,20,0*%\n"
        "%ADD11ARITH,0.5X1.5*%\n"));
    const ApertureShape::Macro& sq = macroOf(doc, 10);
    ASSERT_TRUE(sq.outline.has_value());
    const double c30 = std::cos(3.141592653589793 / 6), s30 = std::sin(3.141592653589793 / 6);
    expectPoint((*sq.outline)[0][2], 0.5 * c30 - 0.5 * s30, 0.5 * s30 + 0.5 * c30, 1e-12);

    const ApertureShape::Macro& ar = macroOf(doc, 11);
    ASSERT_TRUE(ar.outline.has_value());
    ASSERT_EQ(ar.outline->size(), 3u);
    const Contour& rect = (*ar.outline)[0];
    expectPoint(rect[0], -0.5, -0.25);  // $3 = 1.0 wide, $4 = 0.5 high
    expectPoint(rect[2], 0.5, 0.25);
    const Contour& dot = (*ar.outline)[1];
    expectPoint(dot[0], -0.625, 0);  // diameter 0.25 about (-0.5, 0), from where it reaches farthest
    const Contour& big = (*ar.outline)[2];
    expectPoint(big[0], 23.5, 0);  // 1 + 2 x 3 = 7: radius 3.5 about (20, 0)
}

TEST(GerberParserMacros, ExposureMoireAndPolygon) {
    const GerberDocument doc = parseDoc(mmFile(
        "%AMDONUT*1,1,1.0,0,0*1,0,0.5,0,0*%\n%ADD10DONUT*%\n"
        "%AMMOIRE*6,0,0,1.0,0.1,0.1,2,0.05,1.2,0*%\n%ADD11MOIRE*%\n"
        "%AMOC8*5,1,8,0,0,1.08239X$1,22.5*%\n%ADD12OC8,1.0*%\n"));
    // Exposure-off primitives are left out.
    ASSERT_TRUE(macroOf(doc, 10).outline.has_value());
    EXPECT_EQ(macroOf(doc, 10).outline->size(), 1u);
    // Two rings of two halves each, and the two cross hairs.
    const ApertureShape::Macro& moire = macroOf(doc, 11);
    ASSERT_TRUE(moire.outline.has_value());
    EXPECT_EQ(moire.outline->size(), 6u);
    EXPECT_TRUE(covers(moire, 0.43, 0.15));
    EXPECT_FALSE(covers(moire, 0.35, 0.1));  // the gap between the rings
    EXPECT_TRUE(covers(moire, 0.58, 0));     // the cross hair reaches past the rings
    const ApertureShape::Macro& oc8 = macroOf(doc, 12);
    ASSERT_TRUE(oc8.outline.has_value());
    const Contour& octagon = (*oc8.outline)[0];
    ASSERT_EQ(octagon.size(), 8u);
    const double r = 1.08239 * 0.5;
    expectPoint(octagon[0], r * std::cos(22.5 * 3.141592653589793 / 180), r * std::sin(22.5 * 3.141592653589793 / 180),
                1e-12);
}

TEST(GerberParserMacros, InchMacrosAreScaledToMillimetres) {
    const GerberDocument doc = parseDoc("%FSLAX24Y24*%%MOIN*%\n%AMBOX*21,1,$1,$2,0,0,0*%\n%ADD10BOX,0.1X0.05*%\n");
    const ApertureShape::Macro& m = macroOf(doc, 10);
    ASSERT_TRUE(m.outline.has_value());
    const BBox box = outlineBox(m);
    EXPECT_NEAR(box.maxX, 1.27, 1e-12);
    EXPECT_NEAR(box.maxY, 0.635, 1e-12);

    // Eagle's octagon: its size comes from the evaluated outline, not from the plain numbers of its
    // body (which read 22.5 inches wide and blew the board box up by hundreds of millimetres).
    const GerberDocument eagle = parseDoc("G75*\n%MOIN*%\n%FSLAX24Y24*%\n%AMOC8*\n5,1,8,0,0,1.08239X$1,22.5*\n%\n"
                                          "%ADD12OC8,0.0740*%\nD12*\nX010000Y010000D03*\n");
    const double across = 0.0740 * 1.08239 * 25.4;
    EXPECT_NEAR(macroOf(eagle, 12).boundingDiameter, across, 1e-9);
    EXPECT_NEAR(eagle.bbox.maxX - eagle.bbox.minX, across, 1e-9);
}

TEST(GerberParserMacros, BodiesThatCannotBeEvaluatedKeepTheMeasure) {
    std::string deep = "1,1,";
    for (int i = 0; i < 200; ++i) deep += "(";
    deep += "1";
    for (int i = 0; i < 200; ++i) deep += ")";
    deep += ",0,0";
    std::string manyVertices = "4,1,5000";
    for (int i = 0; i < 5001; ++i) manyVertices += ",0,0";
    const GerberParseResult r = parseGerber(mmFile(
        "%AMDEEP*" + deep + "*%\n%ADD10DEEP*%\n"
        "%AMDIV*1,1,1/0,0,0*%\n%ADD11DIV*%\n"
        "%AMUNKNOWN*1,1,0.5,0,0*9,1,2,3*%\n%ADD12UNKNOWN*%\n"
        "%AMMANY*" + manyVertices + ",0*%\n%ADD13MANY*%\n"
        "%AMMISSING*1,1*%\n%ADD14MISSING*%\n"
        "%AMUNSET*1,1,$7+0.5,0,0*%\n%ADD15UNSET*%\n"));
    for (std::int64_t code : {10, 11, 12, 13, 14}) EXPECT_FALSE(macroOf(r.document, code).outline.has_value()) << code;
    EXPECT_NEAR(macroOf(r.document, 12).boundingDiameter, 0.5, 1e-12);  // the measure is unchanged
    // An unset variable reads 0.
    ASSERT_TRUE(macroOf(r.document, 15).outline.has_value());
    EXPECT_NEAR(macroOf(r.document, 15).boundingDiameter, 0.5, 1e-12);
}

TEST(GerberParserMacros, MeasureReadsOnlyPlainNumbers) {
    // "1.08239X$1" is dropped and 22.5 moves into its place.
    EXPECT_NEAR(ApertureMacro::measureBoundingDiameter({"5,1,8,0,0,1.08239X$1,22.5"}), 22.5, 1e-12);
    EXPECT_NEAR(ApertureMacro::measureBoundingDiameter({"4,1,2,0,0,3,4,0,1,0"}), 10.0, 1e-12);
    EXPECT_NEAR(ApertureMacro::measureBoundingDiameter({"4,1,0,3,4,9,9"}), 10.0, 1e-12);  // only the first vertex
    EXPECT_NEAR(ApertureMacro::measureBoundingDiameter({"7,0,0,1.0,0.6,0.2,45"}), 1.0, 1e-12);
    EXPECT_NEAR(ApertureMacro::measureBoundingDiameter({"20,1,0.2,0,0,3,4,0"}), 10.2, 1e-12);
    EXPECT_EQ(ApertureMacro::measureBoundingDiameter({"1,1,nan,0,0", "1e400,1,1,1,1", "3,1,2"}), 0.0);
    EXPECT_EQ(ApertureMacro::measureBoundingDiameter({}), 0.0);
}

TEST(GerberParserMacros, DiscSegments) {
    // The fewest sides that keep every chord within the tolerance, and never fewer than six.
    EXPECT_EQ(ApertureMacro::discSegments(0.001), 6);
    for (const double d : {0.01, 0.16, 0.5, 5.0, 50.0}) {
        const auto n = static_cast<double>(ApertureMacro::discSegments(d));
        EXPECT_LE(d / 2 * (1 - std::cos(3.141592653589793 / n)), kOutlineChordMM) << d;
        EXPECT_TRUE(n == 6 || d / 2 * (1 - std::cos(3.141592653589793 / (n - 1))) > kOutlineChordMM) << d;
    }
    EXPECT_EQ(ApertureMacro::discSegments(1e9), kOutlineMostChords);
}

TEST(GerberParserMacros, OlderLinePrimitives) {
    // Code 2 is the older name of the vector line; 22 places a rectangle by its lower-left corner.
    const GerberDocument doc = parseDoc(mmFile("%AMVL*2,1,0.2,0,0,1,0,90*%\n%ADD10VL*%\n"
                                               "%AMLL*22,1,1,0.5,0.5,0.25,0*%\n%ADD11LL*%\n"));
    const ApertureShape::Macro& vl = macroOf(doc, 10);
    ASSERT_TRUE(vl.outline.has_value());
    const BBox v = outlineBox(vl);  // along x, then turned a quarter: along y
    EXPECT_NEAR(v.minX, -0.1, 1e-12);
    EXPECT_NEAR(v.maxX, 0.1, 1e-12);
    EXPECT_NEAR(v.minY, 0, 1e-12);
    EXPECT_NEAR(v.maxY, 1, 1e-12);
    const BBox l = outlineBox(macroOf(doc, 11));
    EXPECT_NEAR(l.minX, 0.5, 1e-12);
    EXPECT_NEAR(l.minY, 0.25, 1e-12);
    EXPECT_NEAR(l.maxX, 1.5, 1e-12);
    EXPECT_NEAR(l.maxY, 0.75, 1e-12);
}

TEST(GerberParserMacros, FlashesReferToTheirOutlineWithoutCopyingIt) {
    // A macro of 60 outlines of 1024 vertices each (about 1 MB evaluated), flashed 3000 times: the flashes
    // refer to the aperture's one outline, so the document stays small however often it is flashed.
    std::string body = "%AMMANY*\n";
    for (int k = 0; k < 60; ++k) {
        body += "4,1,1024";
        for (int v = 0; v <= 1024; ++v) {
            const double a = 6.283185307179586 * v / 1024;
            body += "," + std::to_string(0.1 * k + std::cos(a)) + "," + std::to_string(std::sin(a));
        }
        body += ",0*\n";
    }
    body += "%\n%ADD10MANY*%\nD10*\n";
    for (int i = 0; i < 3000; ++i) body += "X" + std::to_string(i * 1000) + "Y0D03*\n";
    const std::string text = mmFile(body);

    const std::size_t heapBefore = corvane::testing::heapBytesInUse();
    GerberDocument doc;
    {
        const corvane::testing::Watchdog guard(std::chrono::seconds(120), "reading 3000 macro flashes");
        doc = parseDoc(text);
    }
    const std::size_t kept = corvane::testing::heapBytesInUse() - heapBefore;

    ASSERT_EQ(doc.objects.size(), 3000u);
    const auto* first = doc.objects.front().apertureShape->as<ApertureShape::Macro>();
    ASSERT_TRUE(first && first->outline);
    EXPECT_EQ(first->outline->size(), 60u);
    std::size_t withOutline = 0;
    for (const PCBObject& o : doc.objects) {
        const auto* m = o.apertureShape->as<ApertureShape::Macro>();
        ASSERT_NE(m, nullptr);
        if (!m->outline) continue;
        ++withOutline;
        EXPECT_TRUE(o.apertureShape.sameAs(doc.objects.front().apertureShape));
    }
    EXPECT_GT(withOutline, 0u);
    // The outline is held by the aperture table and once for the flashes: a copy per flash would keep
    // gigabytes.
    EXPECT_LT(kept, std::size_t{32} << 20);
}
