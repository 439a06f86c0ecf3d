#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <random>

#include "Builders.hpp"
#include "ChildRun.hpp"
#include "checks/BoardSummaryEngine.hpp"
#include "checks/CopperSpacing.hpp"
#include "checks/DFMEngine.hpp"
#include "checks/MemoryAllowance.hpp"
#include "checks/PolygonBooleans.hpp"
#include "import/GerberParser.hpp"
#include "import/KiCadPCBParser.hpp"
#include "import/PackageImporter.hpp"
#include "model/Format.hpp"
#include "model/GeometryEngine.hpp"

using namespace corvane;
using namespace corvane::testing;
using spacing::Clock;

namespace {

constexpr double kSqrt2 = 1.4142135623730951;

Clock::time_point later() { return Clock::now() + std::chrono::seconds(30); }

spacing::SpacingResult check(std::vector<PCBObject> objects, double limit) {
    return spacing::checkCopperSpacing(package({copperFile("top.gtl", std::move(objects))}), limit, later());
}

// The copper of one layer's objects, on the grid a 0.15 mm check uses.
copper::LayerCopper layerOf(const std::vector<PCBObject>& objects, Clock::time_point deadline = later()) {
    copper::NetTable nets;
    copper::LayerCopper layer;
    copper::buildLayerCopper(objects, spacing::cellSizeFor(0.15), nets, layer, [&] { return Clock::now() >= deadline; });
    return layer;
}

// The exact copper gap of two objects of one layer as the check measures it: between the closest
// of their pieces (a long slanted track is a chain of them).
double gapOf(const PCBObject& a, const PCBObject& b) {
    const std::vector<PCBObject> objects{a, b};  // macro bodies refer to the objects' outlines
    const copper::LayerCopper layer = layerOf(objects);
    double best = std::numeric_limits<double>::infinity();
    for (const auto& p : layer.pieces)
        for (const auto& q : layer.pieces)
            if (p.source == 0 && q.source == 1) best = std::min(best, layer.bodies.gap(p.body, q.body).gap);
    return best;
}

ApertureShape rotatedSquareMacro(double side, double deg) {
    const double th = deg * 3.141592653589793 / 180.0;
    Contour c;
    const double h = side / 2;
    for (auto [x, y] : {std::pair{-h, -h}, {h, -h}, {h, h}, {-h, h}})
        c.push_back(Vec2{x * std::cos(th) - y * std::sin(th), x * std::sin(th) + y * std::cos(th)});
    return ApertureShape::macro("RotRect", side * kSqrt2, std::vector<Contour>{c});
}

// A rounded rectangle as an evaluated macro outline: the rectangle through the corner centres,
// four edge bands of the corner radius and four corner discs (as polygons), all rotated.
ApertureShape roundRect(double w, double h, double r, double deg) {
    const double th = deg * 3.141592653589793 / 180.0;
    auto rot = [&](Vec2 p) { return Vec2{p.x * std::cos(th) - p.y * std::sin(th), p.x * std::sin(th) + p.y * std::cos(th)}; };
    const double cx = w / 2 - r, cy = h / 2 - r;
    std::vector<Contour> contours;
    auto rect = [&](double x0, double y0, double x1, double y1) {
        contours.push_back({rot({x0, y0}), rot({x1, y0}), rot({x1, y1}), rot({x0, y1})});
    };
    rect(-cx, -cy, cx, cy);
    rect(-cx, -h / 2, cx, -cy);
    rect(-cx, cy, cx, h / 2);
    rect(-w / 2, -cy, -cx, cy);
    rect(cx, -cy, w / 2, cy);
    for (auto [sx, sy] : {std::pair{1, 1}, {-1, 1}, {-1, -1}, {1, -1}}) {
        Contour disc;
        for (int k = 0; k < 36; ++k)
            disc.push_back(rot({sx * cx + r * std::cos(k * 3.141592653589793 / 18), sy * cy + r * std::sin(k * 3.141592653589793 / 18)}));
        contours.push_back(disc);
    }
    return ApertureShape::macro("RoundRect", std::sqrt(w * w + h * h), contours);
}

} // namespace

TEST(CopperSpacing, ParallelCentreLinesReportGapAndMidpoint) {
    auto r = check({track({0, 0}, {10, 0}, std::nullopt, "A"), track({0, 0.1}, {10, 0.1}, std::nullopt, "B")}, 0.15);
    ASSERT_EQ(r.issues.size(), 1u);
    const auto& i = r.issues[0];
    EXPECT_EQ(i.id, "minSpaceBelowPreset");
    EXPECT_EQ(i.severity, CheckSeverity::error);
    EXPECT_EQ(i.title, "Spacing below preset");
    EXPECT_EQ(i.message, "Copper spacing 0.100 mm is below the preset minimum 0.150 mm.");
    EXPECT_EQ(i.fileName, "top.gtl");
    ASSERT_TRUE(i.position);
    EXPECT_NEAR(i.position->y, 0.05, 1e-12);
    EXPECT_GE(i.position->x, 0.0);
    EXPECT_LE(i.position->x, 10.0);
    EXPECT_FALSE(r.incomplete);
}

TEST(CopperSpacing, NetsAndSharedEndsExcludePairs) {
    EXPECT_TRUE(check({track({0, 0}, {10, 0}, std::nullopt, "A"), track({0, 0.1}, {10, 0.1}, std::nullopt, "A")}, 0.15)
                    .issues.empty());
    EXPECT_EQ(check({track({0, 0}, {10, 0}, std::nullopt, "A"), track({0, 0.1}, {10, 0.1})}, 0.15).issues.size(), 1u);
    EXPECT_EQ(check({track({0, 0}, {10, 0}), track({0, 0.1}, {10, 0.1})}, 0.15).issues.size(), 1u);
    // Two pieces of one track meeting at a corner; on different known nets they are a short.
    EXPECT_TRUE(check({track({0, 0}, {5, 0}, 0.2, "A"), track({5, 0}, {5, 5}, 0.2, "A")}, 0.15).issues.empty());
    EXPECT_TRUE(check({track({0, 0}, {5, 0}, 0.2), track({5, 0}, {5, 5}, 0.2)}, 0.15).issues.empty());
    EXPECT_EQ(check({track({0, 0}, {5, 0}, 0.2, "A"), track({5, 0}, {5, 5}, 0.2, "B")}, 0.15).issues.size(), 1u);
    // A track ending on a pad of its own net; another net's pad is a short.
    EXPECT_TRUE(check({track({0, 0}, {5, 0}, 0.2, "A"), pad({5, 0}, ApertureShape::circle(1), "A")}, 0.15).issues.empty());
    EXPECT_EQ(check({track({0, 0}, {5, 0}, 0.2, "A"), pad({5, 0}, ApertureShape::circle(1), "B")}, 0.15).issues.size(), 1u);
}

TEST(CopperSpacing, CrossingTracksOfDifferentNetsTouch) {
    auto r = check({track({0, 0}, {4, 4}, 0.2, "A"), track({0, 4}, {4, 0}, 0.2, "B")}, 0.15);
    ASSERT_EQ(r.issues.size(), 1u);
    EXPECT_EQ(r.issues[0].message, "Copper spacing 0.000 mm is below the preset minimum 0.150 mm.");
    EXPECT_EQ(*r.issues[0].position, (Vec2{2, 2}));
}

TEST(CopperSpacing, TrackWidthsCountInTheGap) {
    // 0.3 mm centre to centre minus two half widths of 0.125 leaves 0.05 mm of copper gap.
    auto r = check({track({0, 0}, {10, 0}, 0.25, "A"), track({0, 0.3}, {10, 0.3}, 0.25, "B")}, 0.15);
    ASSERT_EQ(r.issues.size(), 1u);
    EXPECT_EQ(r.issues[0].message, "Copper spacing 0.050 mm is below the preset minimum 0.150 mm.");
    EXPECT_NEAR(r.issues[0].position->y, 0.15, 1e-12);
    EXPECT_TRUE(check({track({0, 0}, {10, 0}, 0.1, "A"), track({0, 0.3}, {10, 0.3}, 0.1, "B")}, 0.15).issues.empty());
}

TEST(CopperSpacing, OnlyGapsVisiblyBelowTheMinimumAreFindings) {
    auto discs = [](double centreDistance) {
        return check({pad({0, 0}, ApertureShape::circle(1.0), "A"), pad({centreDistance, 0}, ApertureShape::circle(1.0), "B")},
                     0.15);
    };
    EXPECT_TRUE(discs(1.15).issues.empty());
    // A gap that prints as the minimum itself is no finding.
    EXPECT_TRUE(discs(1.15 - 0.0004).issues.empty());
    ASSERT_EQ(discs(1.15 - 0.0006).issues.size(), 1u);
    EXPECT_EQ(discs(1.15 - 0.0006).issues[0].message, "Copper spacing 0.149 mm is below the preset minimum 0.150 mm.");
    // A 45° track beside a straight one at exactly the minimum, in the coordinates a plot rounds to.
    const double d = 0.15 + 0.2;  // centre-line distance for 0.2 mm tracks
    EXPECT_TRUE(check({track({0, 0}, {5, 5}, 0.2, "A"), track({d * kSqrt2, 0}, {5 + d * kSqrt2, 5}, 0.2, "B")}, 0.15)
                    .issues.empty());
    // 1 mm discs 1.05 mm apart with a 0.1 mm limit: the gap is 0.05 mm.
    auto r = spacing::checkCopperSpacing(
        package({copperFile("t", {pad({0, 0}, ApertureShape::circle(1.0), "A"), pad({1.05, 0}, ApertureShape::circle(1.0), "B")})}),
        0.1, later());
    ASSERT_EQ(r.issues.size(), 1u);
    EXPECT_EQ(r.issues[0].message, "Copper spacing 0.050 mm is below the preset minimum 0.100 mm.");
    EXPECT_NEAR(r.issues[0].position->x, 0.525, 1e-12);
}

TEST(CopperSpacing, ExactGapsBetweenBodyShapes) {
    const auto disc1 = ApertureShape::circle(1.0);
    // Diagonal round pads: the disc gap, not the square-box gap.
    EXPECT_NEAR(gapOf(pad({0, 0}, disc1), pad({1, 1}, disc1)), kSqrt2 - 1.0, 1e-12);
    // Diagonal rectangles: the corner-to-corner distance.
    const auto sq = ApertureShape::rectangle(1, 1);
    EXPECT_NEAR(gapOf(pad({0, 0}, sq), pad({1.3, 1.4}, sq)), std::sqrt(0.3 * 0.3 + 0.4 * 0.4), 1e-12);
    // A track passing the corner region of a round pad: its square box would touch the track.
    const double c = 0.5 + 0.2;  // the track's line lies 0.2 mm from the disc's rim
    const Vec2 a{c * kSqrt2 - 5, 5}, b{c * kSqrt2 + 5, -5};
    EXPECT_NEAR(gapOf(pad({0, 0}, disc1), track(a, b)), 0.2, 1e-9);
    EXPECT_TRUE(check({pad({0, 0}, disc1, "A"), track(a, b, std::nullopt, "B")}, 0.15).issues.empty());
    // A via (disc) beside a track: gap = centre distance − radius − half width.
    EXPECT_NEAR(gapOf(pad({0, 0.6}, ApertureShape::circle(0.6)), track({-3, 0}, {3, 0}, 0.2)), 0.6 - 0.3 - 0.1, 1e-12);
    // An obround is a capsule along its long side, not a square of its short side.
    EXPECT_NEAR(gapOf(pad({0, 0}, ApertureShape::obround(2, 1)), pad({1.35, 0}, ApertureShape::circle(0.5))), 0.1, 1e-12);
    EXPECT_NEAR(gapOf(pad({0, 0}, ApertureShape::obround(1, 2)), pad({0, 1.35}, ApertureShape::circle(0.5))), 0.1, 1e-12);
    // A rectangle against a disc beyond its corner.
    EXPECT_NEAR(gapOf(pad({0, 0}, sq), pad({1, 1}, ApertureShape::circle(0.2))), std::sqrt(0.5) - 0.1, 1e-12);
    // A hexagon (polygon flash) with a vertex pointing at a disc.
    EXPECT_NEAR(gapOf(pad({0, 0}, ApertureShape::polygon(2, 6, 0)), pad({1.5, 0}, ApertureShape::circle(0.6))), 0.2, 1e-12);
    // Rotated squares (evaluated macro outlines) whose boxes overlap but whose copper is apart:
    // two diamonds of half diagonal s/√2 tip to tip.
    const auto diamond = rotatedSquareMacro(1.0, 45);
    EXPECT_NEAR(gapOf(pad({0, 0}, diamond), pad({kSqrt2 + 0.2, 0}, diamond)), 0.2, 1e-9);
    // Diagonal neighbours face each other with parallel edges x + y = const.
    EXPECT_NEAR(gapOf(pad({0, 0}, diamond), pad({0.8, 0.8}, diamond)), 1.6 / kSqrt2 - 1.0, 1e-9);
    EXPECT_EQ(gapOf(pad({0, 0}, diamond), pad({0.6, 0.6}, diamond)), 0.0);
    // A rectangle against a hexagon's vertex, and against an obround's round end.
    EXPECT_NEAR(gapOf(pad({0, 0}, sq), pad({2.5, 0}, ApertureShape::polygon(2, 6, 0))), 1.0, 1e-12);
    EXPECT_NEAR(gapOf(pad({0, 0}, ApertureShape::obround(1, 3)), pad({0, 2.25}, ApertureShape::rectangle(2, 0.5))), 0.5, 1e-12);
    // A macro without an outline is its bounding circle.
    EXPECT_NEAR(gapOf(pad({0, 0}, ApertureShape::macro("M", 1.0)), pad({1.2, 0}, disc1)), 0.2, 1e-12);
    // Overlapping and nested shapes are 0 apart.
    EXPECT_EQ(gapOf(pad({0, 0}, ApertureShape::rectangle(4, 4)), track({-1, 0}, {1, 0}, 0.1)), 0.0);
    EXPECT_EQ(gapOf(pad({0, 0}, rotatedSquareMacro(4, 30)), pad({0.2, 0}, diamond)), 0.0);
    EXPECT_EQ(gapOf(pad({0, 0}, ApertureShape::polygon(4, 8, 0)), track({-0.5, 0}, {0.5, 0}, 0.1)), 0.0);
}

TEST(CopperSpacing, RotatedRoundedRectanglePadsAreNotTheirBoxes) {
    // Fine-pitch pads rotated by 45°: their boxes overlap, their copper is 0.2 mm apart.
    const auto p = rotatedSquareMacro(1.0, 45);
    auto r = check({pad({0, 0}, p, "A"), pad({kSqrt2 + 0.2, 0}, p, "B")}, 0.15);
    EXPECT_TRUE(r.issues.empty());
    r = check({pad({0, 0}, p, "A"), pad({kSqrt2 + 0.1, 0}, p, "B")}, 0.15);
    ASSERT_EQ(r.issues.size(), 1u);
    EXPECT_EQ(r.issues[0].message, "Copper spacing 0.100 mm is below the preset minimum 0.150 mm.");
    EXPECT_NEAR(r.issues[0].position->x, kSqrt2 / 2 + 0.05, 1e-9);
    EXPECT_NEAR(r.issues[0].position->y, 0.0, 1e-9);
}

TEST(CopperSpacing, RotatedRoundRectPadsSideBySide) {
    // 1.0 × 0.6 pads rotated by 30°, placed along their rotated long axis: the flat ends face each
    // other, so the gap is the centre distance minus the length, while their boxes overlap.
    const auto p = roundRect(1.0, 0.6, 0.1, 30);
    const Vec2 axis{std::cos(3.141592653589793 / 6), std::sin(3.141592653589793 / 6)};
    auto at = [&](double d) { return Vec2{axis.x * d, axis.y * d}; };
    EXPECT_NEAR(gapOf(pad({0, 0}, p), pad(at(1.12), p)), 0.12, 1e-9);
    EXPECT_TRUE(check({pad({0, 0}, p, "A"), pad(at(1.2), p, "B")}, 0.15).issues.empty());
    auto r = check({pad({0, 0}, p, "A"), pad(at(1.12), p, "B")}, 0.15);
    ASSERT_EQ(r.issues.size(), 1u);
    EXPECT_EQ(r.issues[0].message, "Copper spacing 0.120 mm is below the preset minimum 0.150 mm.");
    // A track running past the pad's rounded corner at 0.2 mm from its arc.
    const Vec2 corner{0.4, 0.2};  // corner disc centre in pad coordinates, before rotation
    const double th = 3.141592653589793 / 6;
    const Vec2 c{corner.x * std::cos(th) - corner.y * std::sin(th), corner.x * std::sin(th) + corner.y * std::cos(th)};
    const Vec2 dir{std::cos(th + 3.141592653589793 / 4), std::sin(th + 3.141592653589793 / 4)};
    const Vec2 touch = c + dir * (0.1 + 0.2 + 0.05);  // 0.05 = the track's half width
    const Vec2 along{-dir.y, dir.x};
    EXPECT_NEAR(gapOf(pad({0, 0}, p), track(touch + along * 2.0, touch - along * 2.0, 0.1)), 0.2, 2e-3);
}

TEST(CopperSpacing, RoundRectFlashesAtExactlyTheMinimum) {
    // Rounded rectangles as KiCad writes them: a macro whose corners are circle primitives, which
    // the evaluated outline holds only as polygons through their points; measured as circles.
    auto layer = [](Vec2 second) {
        auto coordinate = [](double mm) { return std::to_string(std::llround(mm * 1e6)); };
        const std::string text =
            "%FSLAX46Y46*%\n%MOMM*%\n%AMRoundRect*\n4,1,4,$2,$3,$4,$5,$6,$7,$8,$9,$2,$3,0*\n1,1,$1+$1,$2,$3*\n"
            "1,1,$1+$1,$4,$5*\n1,1,$1+$1,$6,$7*\n1,1,$1+$1,$8,$9*\n20,1,$1+$1,$2,$3,$4,$5,0*\n"
            "20,1,$1+$1,$4,$5,$6,$7,0*\n20,1,$1+$1,$6,$7,$8,$9,0*\n20,1,$1+$1,$8,$9,$2,$3,0*%\n"
            "%ADD10RoundRect,0.25X-0.5X0.5X-0.5X-0.5X0.5X-0.5X0.5X0.5X0*%\nD10*\nX0Y0D03*\nX" +
            coordinate(second.x) + "Y" + coordinate(second.y) + "D03*\nM02*\n";
        return GerberParser().parse("pads.gbr", std::string_view(text)).objects;
    };
    // Corner circles of radius 0.25 centred 0.5 mm off each axis: diagonal neighbours face corner to corner.
    const double diagonal = 1.0 + 0.65 / kSqrt2;
    EXPECT_TRUE(check(layer({diagonal, diagonal}), 0.15).issues.empty());
    EXPECT_TRUE(check(layer({1.65, 0.3}), 0.15).issues.empty());
    auto r = check(layer({diagonal - 0.001 / kSqrt2, diagonal - 0.001 / kSqrt2}), 0.15);
    ASSERT_EQ(r.issues.size(), 1u);
    EXPECT_EQ(r.issues[0].message, "Copper spacing 0.149 mm is below the preset minimum 0.150 mm.");
    // Four corner discs and the rest as one body; the count the piece list is sized by agrees.
    const auto pads = layer({diagonal, diagonal});
    CopperBodySet set;
    std::vector<CopperBody> bodies;
    set.flashBodies({0, 0}, pads[0].apertureShape, bodies);
    EXPECT_EQ(bodies.size(), 5u);
    EXPECT_EQ(CopperBodySet::flashBodyCount(pads[0].apertureShape), bodies.size());
    EXPECT_EQ(layerOf(pads).pieces.size(), 10u);
    // The board summary measures the same copper.
    const auto summary = BoardSummaryEngine().estimateMinSpace(layer({diagonal, diagonal}));
    ASSERT_TRUE(summary.value);
    EXPECT_NEAR(*summary.value, 0.15, 2e-6);
}

TEST(CopperSpacing, KiCadRoundRectPadsAtExactlyTheMinimum) {
    // 1 × 1 mm pads with corners of radius 0.25 mm; the second one `at` from the first.
    auto check = [](Vec2 at, double angle) {
        auto n = [](double v) { return std::to_string(v); };
        const std::string board = "(kicad_pcb (net 1 \"A\") (net 2 \"B\") (footprint \"R\" (at 0 0)"
                                  " (pad \"1\" smd roundrect (at 0 0 " + n(angle) + ") (size 1 1) (layers \"F.Cu\") (roundrect_rratio 0.25) (net 1 \"A\"))"
                                  " (pad \"2\" smd roundrect (at " + n(at.x) + " " + n(at.y) + " " + n(angle) +
                                  ") (size 1 1) (layers \"F.Cu\") (roundrect_rratio 0.25) (net 2 \"B\"))))";
        const auto data = std::span(reinterpret_cast<const std::uint8_t*>(board.data()), board.size());
        return spacing::checkCopperSpacing(KiCadPCBParser().parse("r.kicad_pcb", data), 0.15, later()).issues;
    };
    // Side by side, and corner to corner where the rounded corners face each other.
    const double diagonal = 0.5 + 0.65 / kSqrt2;
    EXPECT_TRUE(check({1.15, 0}, 0).empty());
    EXPECT_TRUE(check({diagonal, diagonal}, 0).empty());
    // Turned by 45 degrees, side by side along their turned axis (KiCad's y points down).
    EXPECT_TRUE(check({1.15 / kSqrt2, -1.15 / kSqrt2}, 45).empty());
    EXPECT_EQ(check({1.149 / kSqrt2, -1.149 / kSqrt2}, 45).size(), 1u);
    const auto close = check({diagonal - 0.001 / kSqrt2, diagonal - 0.001 / kSqrt2}, 0);
    ASSERT_EQ(close.size(), 1u);
    EXPECT_EQ(close[0].message, "Copper spacing 0.149 mm is below the preset minimum 0.150 mm.");
}

TEST(CopperSpacing, AlignedRectanglesKeepTheClampedCentreMidpoint) {
    auto r = check({pad({0, 0}, ApertureShape::rectangle(1, 1), "A"), pad({1.1, 0.3}, ApertureShape::rectangle(1, 1), "B")}, 0.15);
    ASSERT_EQ(r.issues.size(), 1u);
    EXPECT_EQ(r.issues[0].message, "Copper spacing 0.100 mm is below the preset minimum 0.150 mm.");
    // a's centre clamped into b is (0.6, 0); b's centre clamped into a is (0.5, 0.3).
    EXPECT_NEAR(r.issues[0].position->x, 0.55, 1e-12);
    EXPECT_NEAR(r.issues[0].position->y, 0.15, 1e-12);
}

TEST(CopperSpacing, ArcsAreMeasuredAsArcs) {
    // A half circle of radius 2 around the origin and a disc just outside its top: one finding for
    // the pair, however many straight pieces stand in for the arc.
    auto r = check({arc({2, 0}, {-2, 0}, {0, 0}, false, 0.2, "A"), pad({0, 2.4}, ApertureShape::circle(0.4), "B")}, 0.15);
    ASSERT_EQ(r.issues.size(), 1u);
    EXPECT_EQ(r.issues[0].message, "Copper spacing 0.100 mm is below the preset minimum 0.150 mm.");
    EXPECT_TRUE(check({arc({2, 0}, {-2, 0}, {0, 0}, true, 0.2, "A"), pad({0, 2.4}, ApertureShape::circle(0.4), "B")}, 0.15)
                    .issues.empty());
    // A small wide ring overlaps itself across its centre: still one piece of copper.
    EXPECT_TRUE(check({arc({0.1, 0}, {0.1, 0}, {0, 0}, false, 0.25), pad({5, 5}, ApertureShape::circle(1))}, 0.15).issues.empty());
    // Two such rings of different nets overlap: one short.
    r = check({arc({0.1, 0}, {0.1, 0}, {0, 0}, false, 0.25, "A"), arc({0.5, 0}, {0.5, 0}, {0.4, 0}, false, 0.25, "B")}, 0.15);
    ASSERT_EQ(r.issues.size(), 1u);
    EXPECT_EQ(r.issues[0].message, "Copper spacing 0.000 mm is below the preset minimum 0.150 mm.");
    // Concentric 0.2 mm arc tracks exactly 0.15 mm apart, small and large: no finding; 1 µm closer is one.
    for (double radius : {0.5, 3.0, 40.0}) {
        auto ring = [](double rr, const char* net) {
            const double a0 = 10 * 3.141592653589793 / 180, a1 = 170 * 3.141592653589793 / 180;
            return arc({rr * std::cos(a0), rr * std::sin(a0)}, {rr * std::cos(a1), rr * std::sin(a1)}, {0, 0}, false, 0.2, net);
        };
        EXPECT_TRUE(check({ring(radius, "A"), ring(radius + 0.35, "B")}, 0.15).issues.empty()) << radius;
        r = check({ring(radius, "A"), ring(radius + 0.349, "B")}, 0.15);
        ASSERT_EQ(r.issues.size(), 1u) << radius;
        EXPECT_EQ(r.issues[0].message, "Copper spacing 0.149 mm is below the preset minimum 0.150 mm.");
    }
    // Non-finite arcs give no copper.
    EXPECT_TRUE(check({arc({1, 0}, {0, std::nan("")}, {0, 0}, false, 0.2, "A"), track({0, 0}, {1, 0}, 0.2, "B")}, 0.15)
                    .issues.empty());
}

TEST(CopperSpacing, CopperThatTouchesIsOneConductor) {
    const auto disc = [](double d) { return ApertureShape::circle(d); };
    // A drill mark flashed inside a pad, without nets.
    EXPECT_TRUE(check({pad({0, 0}, disc(1.5)), pad({0, 0}, disc(0.2)), pad({0.2, 0}, disc(0.1))}, 0.15).issues.empty());
    // Glyph strokes crossing and meeting: one letter; a second letter 0.1 mm away is a real finding.
    std::vector<PCBObject> glyphs = {track({0, 0}, {1, 1.5}, 0.15), track({0, 1.5}, {1, 0}, 0.15),
                                     track({0.5, 0.75}, {0.5, 0.2}, 0.15)};
    EXPECT_TRUE(check(glyphs, 0.15).issues.empty());
    glyphs.push_back(track({1.25, 0}, {1.25, 1.5}, 0.15));  // 1.25 − 1 − 0.075 − 0.075 = 0.1 from both ends of the X
    auto r = check(glyphs, 0.15);
    ASSERT_EQ(r.issues.size(), 2u);
    for (const auto& i : r.issues) EXPECT_EQ(i.message, "Copper spacing 0.100 mm is below the preset minimum 0.150 mm.");
    // A track chain without nets that turns back on itself and runs into a pad; another pad
    // 0.1 mm beyond the first is a finding, the chain's own legs 0.05 mm apart are not.
    std::vector<PCBObject> chain = {track({0, 0}, {5, 0}, 0.2), track({5, 0}, {5, 0.25}, 0.2), track({5, 0.25}, {0, 0.25}, 0.2),
                                    track({0, 0.25}, {0, 3}, 0.2), pad({0, 3}, ApertureShape::rectangle(1, 1))};
    EXPECT_TRUE(check(chain, 0.15).issues.empty());
    chain.push_back(pad({0, 4.1}, ApertureShape::rectangle(1, 1)));
    r = check(chain, 0.15);
    ASSERT_EQ(r.issues.size(), 1u);
    EXPECT_NEAR(r.issues[0].position->y, 3.55, 1e-12);
    // Two islands of one known net are not a finding, even through copper without a net.
    EXPECT_TRUE(check({track({0, 0}, {5, 0}, 0.2, "A"), track({5, 0}, {5, 2}, 0.2), pad({5.7, 2}, disc(1), "A")}, 0.15).issues.empty());
    // A region is copper: a via wholly inside a pour belongs to it; a track of another net beside
    // the pour is measured from the pour's edge.
    const Contour square = {{0, 0}, {10, 0}, {10, 10}, {0, 10}};
    EXPECT_TRUE(check({region({square}), pad({5, 5}, disc(0.6)), pad({5, 7}, disc(0.6), "GND")}, 0.15).issues.empty());
    r = check({region({square}, "GND"), track({0, 10.2}, {10, 10.2}, 0.2, "SIG")}, 0.15);
    ASSERT_EQ(r.issues.size(), 1u);
    EXPECT_EQ(r.issues[0].message, "Copper spacing 0.100 mm is below the preset minimum 0.150 mm.");
    // A pad of another net wholly inside a pour overlaps it, though no edge of the pour is near.
    r = check({region({square}, "GND"), pad({5, 5}, disc(0.6), "SIG")}, 0.15);
    ASSERT_EQ(r.issues.size(), 1u);
    EXPECT_EQ(r.issues[0].message, "Copper spacing 0.000 mm is below the preset minimum 0.150 mm.");
    EXPECT_EQ(*r.issues[0].position, Vec2(5, 5));
    EXPECT_EQ(BoardSummaryEngine().estimateMinSpace({region({square}, "GND"), pad({5, 5}, disc(0.6), "SIG")}).value, 0.0);
    // A pad standing in a hole of a pour (one contour cut in to the hole) is its own island.
    const Contour holed = {{0, 0}, {10, 0}, {10, 10}, {0, 10}, {0, 5}, {4, 5}, {4, 6}, {6, 6}, {6, 4}, {4, 4}, {4, 5}, {0, 5}};
    EXPECT_TRUE(check({region({holed}), pad({5, 5}, disc(1.6))}, 0.15).issues.empty());
    r = check({region({holed}), pad({5, 5}, disc(1.8))}, 0.15);
    ASSERT_EQ(r.issues.size(), 1u);
    EXPECT_EQ(r.issues[0].message, "Copper spacing 0.100 mm is below the preset minimum 0.150 mm.");
}

TEST(CopperSpacing, ClearObjectsCutTheCopper) {
    auto clear = [](PCBObject o) {
        o.polarity = Polarity::clear;
        return o;
    };
    const Contour square = {{0, 0}, {10, 0}, {10, 10}, {0, 10}};
    // A pour with a clear clearance around a pad of another island drawn after it.
    auto pour = [&](double clearance) {
        return std::vector<PCBObject>{region({square}), clear(pad({5, 5}, ApertureShape::circle(1.0 + 2 * clearance))),
                                      pad({5, 5}, ApertureShape::circle(1.0))};
    };
    EXPECT_TRUE(check(pour(0.3), 0.15).issues.empty());
    auto r = check(pour(0.1), 0.15);
    ASSERT_EQ(r.issues.size(), 1u);
    EXPECT_EQ(r.issues[0].message, "Copper spacing 0.100 mm is below the preset minimum 0.150 mm.");
    // Two tracks joined only through pour that a later clear strip removes are not connected.
    std::vector<PCBObject> split = {track({-3, 5}, {2, 5}, 0.2), track({8, 5}, {13, 5}, 0.2), region({square})};
    EXPECT_TRUE(check(split, 0.15).issues.empty());
    split.push_back(clear(pad({5, 5}, ApertureShape::rectangle(0.1, 12))));
    r = check(split, 0.15);
    ASSERT_EQ(r.issues.size(), 1u);
    EXPECT_EQ(r.issues[0].message, "Copper spacing 0.100 mm is below the preset minimum 0.150 mm.");
    // Dark copper drawn after the clear strip joins the halves again.
    split.push_back(track({4, 8}, {6, 8}, 0.3));
    EXPECT_TRUE(check(split, 0.15).issues.empty());

    // A plane with hundreds of clearances is cut in pieces side by side; the pieces are still one
    // conductor, and every pad keeps its true gap wherever the pieces meet.
    std::vector<PCBObject> plane = {region({{{0, 0}, {100, 0}, {100, 18}, {0, 18}}})};
    std::vector<PCBObject> pads;
    for (int row = 0; row < 6; ++row)
        for (int col = 0; col < 50; ++col) {
            const Vec2 at{1.0 + 2.0 * col, 1.5 + 3.0 * row};
            const double clearance = row == 0 ? 0.1 : 0.3;
            plane.push_back(clear(pad(at, ApertureShape::circle(1.0 + 2 * clearance))));
            pads.push_back(pad(at, ApertureShape::circle(1.0)));
        }
    plane.insert(plane.end(), pads.begin(), pads.end());
    const copper::LayerCopper layer = layerOf(plane);
    EXPECT_EQ(layer.islandCount, 1u + pads.size());
    const auto found = spacing::findSpaceViolations(layer, 0.15, SIZE_MAX, later(), "top.gtl");
    ASSERT_EQ(found.issues.size(), 50u);
    for (const auto& i : found.issues) {
        EXPECT_EQ(i.message, "Copper spacing 0.100 mm is below the preset minimum 0.150 mm.");
        EXPECT_NEAR(i.position->y, 1.5, 0.61);
    }
}

TEST(CopperSpacing, PolygonBooleansGiveAreasWithTheirHolesOrNothing) {
    using namespace booleans;
    auto square = [](double from, double to) {
        // Clockwise, as files often give them: the door turns filled outlines round.
        return Path{toUnits({from, from}), toUnits({from, to}), toUnits({to, to}), toUnits({to, from})};
    };
    Paths board, middle, ring;
    addFilled(square(0, 10), board);
    addFilled(square(4, 6), middle);
    addFilled(square(0, 10), ring);
    addHole(square(2, 8), ring);
    auto area = [](const Contour& c) { return std::fabs(GeometryEngine::signedArea(c)); };

    Difference cut;
    cut.addSubject(board);
    cut.addClip(middle);
    const auto left = cut.areas();
    ASSERT_TRUE(left.has_value());
    ASSERT_EQ(left->size(), 1u);
    ASSERT_EQ((*left)[0].size(), 2u); // the outline and the hole the middle left
    EXPECT_NEAR(area((*left)[0][0]) - area((*left)[0][1]), 96, 1e-9);

    // A hole is a hole in what surrounds it; what the clip leaves inside a hole is an area of its own.
    Difference holed;
    holed.addSubject(ring);
    holed.addSubject(middle);
    holed.addClip(square(-1, 1));
    const auto pieces = holed.areas();
    ASSERT_TRUE(pieces.has_value());
    EXPECT_EQ(pieces->size(), 2u);

    // An outline past the library's range spoils the whole result: nothing, rather than less copper.
    Difference refused;
    refused.addSubject(board);
    const Coord far = Coord{1} << 62;
    refused.addClip(Path{{far, 0}, {far + 10, 0}, {far, 10}});
    EXPECT_FALSE(refused.areas().has_value());

    // The library cannot be stopped once it runs, so a boolean whose sweep would outlast its budget
    // is not started. A 3,000-point star crossing itself some two million times takes the library
    // seconds; a zigzag of 18,000 points whose closing edge touches every tooth piles up thousands of
    // edges at every local minimum. Neither is cut. 3,000 clearances of 32 points in a pour are.
    Paths star, zigzag, clearances;
    Path points;
    for (int k = 0; k < 3000; ++k) {
        const double a = 2 * 3.141592653589793 * k * 1499 / 3000;
        points.push_back(toUnits({5 + 4 * std::cos(a), 5 + 4 * std::sin(a)}));
    }
    star.push_back(points);
    points = {toUnits({1, 5})};
    for (int k = 0; k < 6000; ++k) {
        points.push_back(toUnits({1 + (2 * k + 1) * 1e-4, 6}));
        points.push_back(toUnits({1 + (2 * k + 2) * 1e-4, 4}));
        points.push_back(toUnits({1 + (2 * k + 2) * 1e-4, 5}));
    }
    zigzag.push_back(points);
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> at(0.5, 9.5);
    for (int k = 0; k < 3000; ++k) {
        const Vec2 c{at(rng), at(rng)};
        Path circle;
        for (int j = 0; j < 32; ++j) circle.push_back(toUnits(c + Vec2{0.05 * std::cos(j * 3.141592653589793 / 16), 0.05 * std::sin(j * 3.141592653589793 / 16)}));
        clearances.push_back(circle);
    }
    EXPECT_FALSE(withinBooleanBudget(board, star));
    EXPECT_FALSE(withinBooleanBudget(board, zigzag));
    ASSERT_TRUE(withinBooleanBudget(board, clearances));
    Difference crossing;
    crossing.addSubject(board);
    crossing.addClip(star);
    EXPECT_FALSE(crossing.areas().has_value());
    Difference pour;
    pour.addSubject(board);
    pour.addClip(clearances);
    EXPECT_TRUE(pour.areas().has_value());
}

TEST(CopperSpacing, CellSizeFollowsTheLimit) {
    EXPECT_EQ(spacing::cellSizeFor(0.1), 0.5);
    EXPECT_EQ(spacing::cellSizeFor(0.125), 0.5);
    EXPECT_NEAR(spacing::cellSizeFor(0.2), 0.8, 1e-15);
}

TEST(CopperSpacing, LimitZeroAndLonePrimitivesGiveNothing) {
    auto objects = std::vector<PCBObject>{track({0, 0}, {1, 0}, 0.2, "A"), track({0, 0.1}, {1, 0.1}, 0.2, "B")};
    EXPECT_TRUE(check(objects, 0.0).issues.empty());
    EXPECT_TRUE(check(objects, -1.0).issues.empty());
    EXPECT_TRUE(check(objects, std::nan("")).issues.empty());
    EXPECT_TRUE(check({track({0, 0}, {1, 0}, 0.2, "A")}, 0.15).issues.empty());
    // Non-copper layers are never examined.
    auto r = spacing::checkCopperSpacing(package({gerberFile("silk", LayerType::silkscreen(CopperLayerID::top()), objects)}),
                                         0.15, later());
    EXPECT_TRUE(r.issues.empty());
}

TEST(CopperSpacing, TwentyIssuesAtMostInVisitingOrder) {
    // 25 pads on net A each with a neighbour on net B 0.05 mm to the right, far from each other.
    std::vector<PCBObject> first;
    for (int k = 0; k < 25; ++k) {
        first.push_back(pad({k * 5.0, 0}, ApertureShape::circle(1), "A" + std::to_string(k)));
        first.push_back(pad({k * 5.0 + 1.05, 0}, ApertureShape::circle(1), "B" + std::to_string(k)));
    }
    std::vector<PCBObject> second = {track({0, 0}, {1, 0}, 0.2, "A"), track({0, 0.2}, {1, 0.2}, 0.2, "B")};
    auto r = spacing::checkCopperSpacing(package({copperFile("top.gtl", first), copperFile("bot.gbl", second, CopperLayerID::bottom())}),
                                         0.1, later());
    ASSERT_EQ(r.issues.size(), 20u);
    for (int k = 0; k < 20; ++k) {
        EXPECT_EQ(r.issues[k].fileName, "top.gtl");
        EXPECT_NEAR(r.issues[k].position->x, k * 5.0 + 0.525, 1e-9) << k;
    }
    EXPECT_FALSE(r.incomplete);  // stopping at the cap is not a silent pass
}

TEST(CopperSpacing, DeadlineStopsAndIsReportedAsIncomplete) {
    auto pkg = package({copperFile("top.gtl", {track({0, 0}, {1, 0}, 0.2, "A"), track({0, 0.2}, {1, 0.2}, 0.2, "B")}),
                        copperFile("bot.gbl", {track({0, 0}, {1, 0}, 0.2, "A"), track({0, 0.2}, {1, 0.2}, 0.2, "B")},
                                   CopperLayerID::bottom())});
    const auto past = Clock::now() - std::chrono::seconds(1);
    auto r = spacing::checkCopperSpacing(pkg, 0.15, past);
    EXPECT_TRUE(r.issues.empty());
    EXPECT_TRUE(r.incomplete);
    EXPECT_EQ(r.unfinishedFile, "top.gtl");

    std::vector<CheckIssue> rows;
    spacing::appendSpacingIssues(pkg, 0.15, past, rows);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].id, "spacingCheckIncomplete");
    EXPECT_EQ(rows[0].severity, CheckSeverity::warning);
    EXPECT_EQ(rows[0].title, "Spacing check incomplete");
    EXPECT_EQ(rows[0].message,
              "Spacing check incomplete: the copper spacing check ran out of time before every copper layer was "
              "examined, so spacing below the preset minimum may remain unreported.");
    EXPECT_EQ(rows[0].fileName, "top.gtl");
    rows.clear();
    spacing::appendSpacingIssues(pkg, 0.15, later(), rows);
    EXPECT_EQ(rows.size(), 2u);  // one finding per layer, no warning

    // A layer finished after the deadline keeps its findings.
    auto layer = spacing::findSpaceViolations(layerOf(pkg.files[0].gerber->objects), 0.15, 20, past, "top.gtl");
    EXPECT_EQ(layer.issues.size(), 1u);
    EXPECT_TRUE(layer.stopped);
    EXPECT_FALSE(layer.timedOut);

    // Building a large layer polls the deadline too.
    std::vector<PCBObject> many;
    for (int k = 0; k < 3000; ++k) many.push_back(track({k * 1.0, 0}, {k * 1.0 + 0.5, 0}, 0.2, "N" + std::to_string(k)));
    copper::NetTable nets;
    copper::LayerCopper big;
    EXPECT_FALSE(copper::buildLayerCopper(many, 0.5, nets, big, [] { return true; }));
    // So does one object made into tens of thousands of pieces (a full arc of radius 1e9 mm, its chords
    // and their chains), between its pieces: the deadline, passed as the first one is made, stops it
    // within a few thousand.
    const std::vector<PCBObject> giant{arc({1e9, 0}, {1e9, 0}, {0, 0}, true, 0.1)};
    copper::LayerCopper arcCopper;
    EXPECT_FALSE(copper::buildLayerCopper(giant, 0.5, nets, arcCopper, [&] { return !arcCopper.pieces.empty(); }));
    EXPECT_LE(arcCopper.pieces.size(), 4096u);
}

TEST(CopperSpacing, LayersPastTheAllowanceAreLeftUnexamined) {
    // 5,000 tracks take more than a 1 MB allowance holds; two tracks of different nets 0.1 mm apart
    // on the other layer do not.
    std::vector<PCBObject> many;
    for (int k = 0; k < 5000; ++k) many.push_back(track({k * 1.0, 0}, {k * 1.0 + 0.5, 0}, 0.2, "N" + std::to_string(k)));
    const auto pkg = package({copperFile("top.gtl", many),
                              copperFile("bot.gbl", {track({0, 0}, {1, 0}, 0.1, "A"), track({0, 0.2}, {1, 0.2}, 0.1, "B")},
                                         CopperLayerID::bottom())});
    constexpr std::size_t kSmall = 1 << 20;
    MemoryAllowance small(kSmall);
    const auto r = spacing::checkCopperSpacing(pkg, 0.15, later(), small);
    ASSERT_EQ(r.issues.size(), 1u);
    EXPECT_EQ(r.issues[0].fileName, "bot.gbl");  // the layer that fits is still examined
    EXPECT_TRUE(r.incomplete);
    EXPECT_EQ(r.tooLargeFile, "top.gtl");
    EXPECT_FALSE(r.unfinishedFile);
    EXPECT_EQ(small.left(), kSmall);  // all given back

    std::vector<CheckIssue> rows;
    spacing::appendSpacingIssues(pkg, 0.15, later(), rows, small);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].id, "spacingCheckIncomplete");
    EXPECT_EQ(rows[1].title, "Spacing check incomplete");
    EXPECT_EQ(rows[1].message,
              "Spacing check incomplete: the copper of a layer is too large or too intricate for the copper spacing "
              "check to examine, so spacing below the preset minimum may remain unreported.");
    EXPECT_EQ(rows[1].fileName, "top.gtl");

    // The smallest gap is then an estimate: measured where the copper fits, and marked incomplete.
    const std::vector<std::span<const PCBObject>> layers{pkg.files[0].gerber->objects, pkg.files[1].gerber->objects};
    const auto gap = spacing::smallestGapOfLayers(layers, later(), small);
    EXPECT_FALSE(gap.completed);
    ASSERT_TRUE(gap.value);
    EXPECT_NEAR(*gap.value, 0.1, 1e-9);
    EXPECT_EQ(small.left(), kSmall);

    // Four full arcs of radius 1e9 mm (their chords' cells alone would take gigabytes), and a pour
    // cut by one clear region of 990,000 points whose closing edge touches every tooth: with time to
    // spare, each is left unexamined for its size at once, not worked at until the deadline.
    const auto hostile = [](const char* name) { return PackageImporter().importAny(std::string(CORVANE_TEST_DATA) + "/hostile/" + name); };
    MemoryAllowance some(std::size_t{64} << 20);
    for (const char* name : {"zip_giant_arc_4cu.zip", "zip_clear_cross_990k.zip"}) {
        const PCBPackage p = hostile(name);
        const auto check = spacing::checkCopperSpacing(p, 0.15, later(), some);
        EXPECT_TRUE(check.incomplete) << name;
        EXPECT_TRUE(check.tooLargeFile) << name;
        EXPECT_FALSE(check.unfinishedFile) << name;
        std::vector<std::span<const PCBObject>> copper;
        for (const auto& f : p.files) copper.emplace_back(f.gerber->objects);
        EXPECT_FALSE(spacing::smallestGapOfLayers(copper, later(), some).completed) << name;
        EXPECT_EQ(some.left(), std::size_t{64} << 20) << name;
    }
}

TEST(CopperSpacing, StrayGeometryAndNaNFinishQuickly) {
    std::vector<PCBObject> objects;
    for (int k = 0; k < 200; ++k) objects.push_back(track({k * 0.5, 0}, {k * 0.5, 5}, 0.1, "N" + std::to_string(k)));
    // A 1 km stray segment crossing every track, on its own net: an oversized primitive.
    objects.push_back(track({-500000, 2}, {500000, 2}, 0.1, "STRAY"));
    objects.push_back(track({std::nan(""), 0}, {1, 1}, 0.1, "X"));
    objects.push_back(pad({std::numeric_limits<double>::infinity(), 0}, ApertureShape::circle(1), "Y"));
    objects.push_back(pad({1e300, -1e300}, ApertureShape::circle(1), "Z"));
    const auto t0 = Clock::now();
    auto r = check(objects, 0.15);
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - t0).count(), 1.5);
    ASSERT_EQ(r.issues.size(), 20u);
    EXPECT_EQ(r.issues[0].message, "Copper spacing 0.000 mm is below the preset minimum 0.150 mm.");
    EXPECT_FALSE(r.incomplete);
    // A slanted stray whose finite ends lie too far apart for their difference to be a number stays
    // copper: the chain it is cut into never overflows.
    EXPECT_EQ(layerOf({track({-1.5e308, -1.5e308}, {1.5e308, 1.5e308}, 0.1)}).pieces.size(), 256u);
}

TEST(CopperSpacing, AnAreaCrossingItselfAllOverCostsWhatItsEdgesCost) {
    // A filled area drawn as the star {20001/10000}, every edge spanning nearly the area's height and
    // crossing most others, under another net's track. Its inside test listed each edge in every row
    // it spans: thirty million entries, a gigabyte, and seconds past the summary's budget.
    Contour star;
    constexpr std::int64_t kPoints = 20001, kStep = 10000;
    for (std::int64_t k = 0; k < kPoints; ++k) {
        const double a = 2 * 3.141592653589793 * static_cast<double>((k * kStep) % kPoints) / kPoints;
        star.push_back(Vec2{50 + 45 * std::cos(a), 50 + 45 * std::sin(a)});
    }
    const PCBPackage pkg = package({copperFile("top.gtl", {region({star}, "GND"), track({1, 1}, {99, 99}, 0.2, "SIG")})});
    const auto outcome = runInChild([&] {
        BoardSummaryEngine summary;
        summary.timeBudget = 60;
        const BoardSummary s = summary.summarize(pkg);
        return std::string(s.minSpaceReliable ? "complete " : "incomplete ") +
               (s.minSpaceMM ? formatFixed(*s.minSpaceMM, 3) : std::string("none"));
    });
    ASSERT_TRUE(outcome.finished);
    EXPECT_EQ(outcome.text, "complete 0.000");
    EXPECT_LT(outcome.peakGrowthKB, 200 * 1024);
}

TEST(CopperSpacing, PrunedShapeDistanceMatchesEveryEdgePair) {
    // Random multi-contour outlines (star-shaped, so simple) against each other and against tracks.
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> u(0, 1);
    auto star = [&](Vec2 c, int n) {
        Contour k;
        for (int i = 0; i < n; ++i) {
            const double th = 2 * 3.141592653589793 * i / n;
            const double r = 0.2 + 0.5 * u(rng);
            k.push_back(Vec2{c.x + r * std::cos(th), c.y + r * std::sin(th)});
        }
        return k;
    };
    auto brute = [](const std::vector<Contour>& A, const std::vector<Contour>& B) {
        double best = std::numeric_limits<double>::infinity();
        for (const auto& a : A)
            for (const auto& b : B) {
                double local = std::numeric_limits<double>::infinity();
                for (std::size_t i = 0; i < a.size(); ++i)
                    for (std::size_t j = 0; j < b.size(); ++j)
                        local = std::min(local, closestPointsSegSeg(a[i], a[(i + 1) % a.size()], b[j], b[(j + 1) % b.size()]).distance);
                if (local > 0 && (contourContains(b.data(), b.size(), a[0]) || contourContains(a.data(), a.size(), b[0]))) local = 0;
                best = std::min(best, local);
            }
        return best;
    };
    for (int round = 0; round < 300; ++round) {
        std::vector<Contour> A, B;
        for (int k = 0; k < 3; ++k) A.push_back(star({u(rng) * 2, u(rng) * 2}, 5 + k * 7));
        for (int k = 0; k < 2; ++k) B.push_back(star({1.5 + u(rng) * 2, u(rng) * 2}, 6 + k * 5));
        const double expected = brute(A, B);
        const double got = gapOf(pad({0, 0}, ApertureShape::macro("A", 4, A)), pad({0, 0}, ApertureShape::macro("B", 4, B)));
        ASSERT_NEAR(got, expected, 1e-12) << round;
        // A zero-width track along B's first edge measures like that edge.
        const Contour edge = {B[0][0], B[0][1]};
        EXPECT_NEAR(gapOf(pad({0, 0}, ApertureShape::macro("A", 4, A)), track(B[0][0], B[0][1])), brute(A, {edge}), 1e-12)
            << round;
    }
}

TEST(CopperSpacing, CutPoursHaveNoSeams) {
    // A pour whose clearances lie in two staggered rows, so that every vertical line crosses one,
    // a pad alone in each: wherever the cut is split, each pad is its clearance from the pour.
    auto clear = [](PCBObject o) {
        o.polarity = Polarity::clear;
        return o;
    };
    const double width = 120, clearance = 0.2, padDiameter = 1.2, holeRadius = padDiameter / 2 + clearance;
    auto halfDisc = [&](Vec2 at, double from) {
        Contour c;
        for (int k = 0; k <= 64; ++k) {
            const double t = from + 3.141592653589793 * k / 64;
            c.push_back(at + Vec2{holeRadius / std::cos(3.141592653589793 / 128) * std::cos(t),
                                  holeRadius / std::cos(3.141592653589793 / 128) * std::sin(t)});
        }
        return c;
    };
    // The same copper written three ways: a plain outline, one with thousands of points along its
    // edge (cut in many more columns), and holes as pairs of clear half discs meeting edge to edge.
    auto pour = [&](int extraPoints, bool halves) {
        Contour outline{{0, 0}, {width, 0}, {width, 10}};
        for (int k = 1; k <= extraPoints; ++k) outline.push_back({width - k * width / (extraPoints + 1), 10});
        outline.push_back({0, 10});
        std::vector<PCBObject> objects{region({outline})}, pads;
        for (int k = 0; k < 119; ++k) {
            const Vec2 at{1.0 + k, k % 2 ? 3.0 : 7.0};
            if (halves) {
                objects.push_back(clear(region({halfDisc(at, -3.141592653589793 / 2)})));
                objects.push_back(clear(region({halfDisc(at, 3.141592653589793 / 2)})));
            } else {
                objects.push_back(clear(pad(at, ApertureShape::circle(2 * holeRadius))));
            }
            pads.push_back(pad(at, ApertureShape::circle(padDiameter)));
        }
        objects.insert(objects.end(), pads.begin(), pads.end());
        return objects;
    };
    for (const auto& [extra, halves] : {std::pair{0, false}, {30000, false}, {0, true}}) {
        const copper::LayerCopper layer = layerOf(pour(extra, halves));
        EXPECT_EQ(layer.islandCount, 120u);
        const auto found = spacing::findSpaceViolations(layer, clearance + 0.01, SIZE_MAX, later(), "top.gtl");
        ASSERT_EQ(found.issues.size(), 119u) << extra << halves;
        // One finding in each hole, midway across the gap around its pad.
        std::vector<int> perPad(119, 0);
        for (const auto& issue : found.issues) {
            EXPECT_TRUE(issue.message.starts_with("Copper spacing 0.200 mm")) << issue.message;
            auto centre = [](int k) { return Vec2{1.0 + k, k % 2 ? 3.0 : 7.0}; };
            int k = 0;
            for (int q = 1; q < 119; ++q)
                if (issue.position->distance(centre(q)) < issue.position->distance(centre(k))) k = q;
            perPad[k] += 1;
            EXPECT_NEAR(issue.position->distance(centre(k)), padDiameter / 2 + clearance / 2, 0.002);
        }
        EXPECT_EQ(std::count(perPad.begin(), perPad.end(), 1), 119);
        const auto smallest = spacing::smallestGap(layer, later());
        ASSERT_TRUE(smallest.value);
        EXPECT_NEAR(*smallest.value, clearance, 0.001);
    }
}

TEST(CopperSpacing, OneFindingPerPlace) {
    const auto disc = [](double d) { return ApertureShape::circle(d); };
    // A pad flashed twice at one centre beside another net's track: one finding.
    auto r = check({pad({0, 0}, disc(1), "A"), pad({0, 0}, disc(1), "A"), track({0.6, -2}, {0.6, 2}, 0.1, "B")}, 0.15);
    ASSERT_EQ(r.issues.size(), 1u);
    EXPECT_EQ(r.issues[0].message, "Copper spacing 0.050 mm is below the preset minimum 0.150 mm.");
    // A pad whose gap to another island passes through a track of its own island: the track,
    // nearer, marks the gap there, and the pad's wider gap across it is no finding.
    r = check({pad({0, 0}, disc(1)), track({0.55, -2}, {0.55, 2}, 0.1), track({0.7, -2}, {0.7, 2}, 0.1)}, 0.2);
    ASSERT_EQ(r.issues.size(), 1u);
    EXPECT_EQ(r.issues[0].message, "Copper spacing 0.050 mm is below the preset minimum 0.200 mm.");
    EXPECT_NEAR(r.issues[0].position->x, 0.625, 1e-9);
}

namespace {

// A Gerber file in millimetres (4.6 format) from aperture definitions and drawing lines.
std::vector<PCBObject> gerberObjects(const std::string& apertures, const std::string& body) {
    const std::string text = "%FSLAX46Y46*%\n%MOMM*%\n%LPD*%\n" + apertures + body + "M02*\n";
    return GerberParser().parse("layer.gbr", std::string_view(text)).objects;
}

std::string at(double x, double y) {
    return "X" + std::to_string(std::llround(x * 1e6)) + "Y" + std::to_string(std::llround(y * 1e6));
}

std::string line(Vec2 a, Vec2 b) { return at(a.x, a.y) + "D02*\n" + at(b.x, b.y) + "D01*\n"; }

} // namespace

TEST(CopperSpacing, OnePlaceBetweenTwoConductorsIsOneFinding) {
    // A pad painted as 16 parallel strokes, as old CAD tools draw them, beside another conductor's
    // track 0.1 mm from its right edge: every stroke end meets the track, one place.
    std::string painted = "D10*\n";
    for (int k = 0; k < 16; ++k) painted += line({0.05, 0.05 + 0.1 * k}, {1.45, 0.05 + 0.1 * k});
    painted += "D11*\n" + line({1.7, -1}, {1.7, 3});
    auto r = check(gerberObjects("%ADD10C,0.1*%\n%ADD11C,0.2*%\n", painted), 0.15);
    ASSERT_EQ(r.issues.size(), 1u);
    EXPECT_EQ(r.issues[0].message, "Copper spacing 0.100 mm is below the preset minimum 0.150 mm.");
    EXPECT_NEAR(r.issues[0].position->x, 1.55, 1e-9);

    // Stroked text beside a pour: each letter is its own conductor, the strokes of one letter are
    // one place. An "E" lying on its back, its three arms 0.1 mm above the pour's top edge, and an "L".
    std::string text = "G36*\n" + line({-1, -3}, {6, -3}) + at(6, 0).append("D01*\n") + at(-1, 0).append("D01*\n") +
                       at(-1, -3).append("D01*\nG37*\nD10*\n");
    for (const auto& [a, b] : {std::pair{Vec2{0, 1.5}, Vec2{0.8, 1.5}}, {Vec2{0, 1.5}, Vec2{0, 0.15}}, {Vec2{0.4, 1.5}, Vec2{0.4, 0.15}},
                               {Vec2{0.8, 1.5}, Vec2{0.8, 0.15}}, {Vec2{2, 1.5}, Vec2{2.8, 1.5}}, {Vec2{2.8, 1.5}, Vec2{2.8, 0.15}}})
        text += line(a, b);
    r = check(gerberObjects("%ADD10C,0.1*%\n", text), 0.15);
    ASSERT_EQ(r.issues.size(), 2u);
    EXPECT_LT(r.issues[0].position->x, 1.0);
    EXPECT_GT(r.issues[1].position->x, 1.9);

    // A straight run meeting its arc beside another conductor's pad at the joint: the stroke and
    // the arc's first chord give the same gap a few micrometres apart.
    const auto disc = [](double d) { return ApertureShape::circle(d); };
    r = check({track({0, 0}, {5, 0}, 0.2), arc({5, 0}, {7, 2}, {5, 2}, false, 0.2), pad({5.01, -0.62}, disc(1))}, 0.15);
    ASSERT_EQ(r.issues.size(), 1u);
    EXPECT_EQ(r.issues[0].message, "Copper spacing 0.020 mm is below the preset minimum 0.150 mm.");

    // Two pads overlapping in a neck above another conductor's track: the narrowest gap, and a
    // second, wider one 0.15 mm along, are one place with the narrowest gap.
    r = check({pad({0, 0}, disc(1)), pad({0.15, 0.01}, disc(1)), track({-2, -0.6}, {2, -0.6}, 0.1)}, 0.15);
    ASSERT_EQ(r.issues.size(), 1u);
    EXPECT_EQ(r.issues[0].message, "Copper spacing 0.050 mm is below the preset minimum 0.150 mm.");
    EXPECT_NEAR(r.issues[0].position->x, 0.0, 1e-9);

    // The same two conductors at two places 3 mm apart, and two conductors side by side at one
    // place, stay two findings each.
    r = check({pad({0, 0}, disc(1)), pad({3, 0}, disc(1)), track({0, 0}, {3, 0}, 0.3), track({-1, 0.6}, {4, 0.6}, 0.1)}, 0.15);
    EXPECT_EQ(r.issues.size(), 2u);
    r = check({pad({0, 0}, disc(0.3)), pad({0.5, 0}, disc(0.3)), track({-1, 0.25}, {1.5, 0.25}, 0.1)}, 0.15);
    EXPECT_EQ(r.issues.size(), 2u);
}

TEST(CopperSpacing, HostileFilesEndAtTheirDeadlines) {
    for (const char* name : {"gbr_clip_storm.gtl", "gbr_far_pour.gtl", "gbr_far_pads.gtl", "gbr_far_walk.gtl"}) {
        PCBPackage pkg = PackageImporter().importAny(std::string(CORVANE_TEST_DATA) + "/hostile/" + name);
        // Two of them say %IPNEG, which leaves a film unmeasured: their geometry is measured all the same.
        for (auto& f : pkg.files)
            if (f.gerber) f.gerber->imagePolarity.reset();
        BoardSummaryEngine summary;
        summary.timeBudget = 0.2;
        const auto t0 = Clock::now();
        summary.summarize(pkg);
        const auto summaryEnd = Clock::now();
        spacing::checkCopperSpacing(pkg, 0.15, summaryEnd + std::chrono::milliseconds(200));
        const auto checkEnd = Clock::now();
        // Generous against a loaded machine: before, these ran for seconds past their budget.
        EXPECT_LT(std::chrono::duration<double>(summaryEnd - t0).count(), 1.0) << name;
        EXPECT_LT(std::chrono::duration<double>(checkEnd - summaryEnd).count(), 1.0) << name;
    }
}

TEST(CopperSpacing, HatchedPoursCompleteWithinTheBudget) {
    // A hatched pour as Eagle and older tools write one: two families of long 45° tracks crossing
    // each other, each track's box covering thousands of cells. Pads sit in two of its diamonds.
    std::vector<PCBObject> objects;
    constexpr double pitch = 1.0, width = 0.1, pad = 0.3;
    for (int k = -100; k <= 100; ++k) objects.push_back(track({0, k * pitch}, {100, k * pitch + 100}, width));
    for (int k = 0; k <= 200; ++k) objects.push_back(track({0, k * pitch}, {100, k * pitch - 100}, width));
    // Diamond centres: midway between two lines of each family.
    for (const Vec2 at : {Vec2{50, 50.5}, Vec2{20, 30.5}}) objects.push_back(corvane::testing::pad(at, ApertureShape::circle(pad)));
    const double expected = pitch / (2 * std::sqrt(2.0)) - width / 2 - pad / 2;
    const PCBPackage pkg = package({copperFile("hatched.gtl", objects)});
    const BoardSummary summary = BoardSummaryEngine().summarize(pkg);
    EXPECT_TRUE(summary.minSpaceReliable);
    ASSERT_TRUE(summary.minSpaceMM);
    EXPECT_NEAR(*summary.minSpaceMM, expected, 1e-6);
    const auto r = spacing::checkCopperSpacing(pkg, 0.2, Clock::now() + std::chrono::seconds(2));
    EXPECT_FALSE(r.incomplete);
    // Each pad against the four sides of its diamond: one place, beside the pad.
    ASSERT_EQ(r.issues.size(), 2u);
    for (const auto& issue : r.issues) EXPECT_EQ(issue.message, "Copper spacing 0.154 mm is below the preset minimum 0.200 mm.");
    EXPECT_LT(r.issues[0].position->distance({50, 50.5}), 0.3);
    EXPECT_LT(r.issues[1].position->distance({20, 30.5}), 0.3);
}

TEST(CopperSpacing, ZeroSizeAperturesDrawNothing) {
    // Eagle's copper file: the board outline stroked with a circle of size 0 around a pour 0.17 mm
    // inside it, a zero-size flash in the pour, and two real tracks 0.246 mm apart beside a pad.
    const std::string text = "G04 EAGLE Gerber RS-274X export*\n%FSLAX34Y34*%\n%MOMM*%\n%LPD*%\n"
                             "%ADD10C,0.0000*%\n%ADD11C,0.2540*%\n%ADD12C,1.2000*%\n"
                             "D10*\nX0Y0D02*\nX500000Y0D01*\nX500000Y300000D01*\nX0Y300000D01*\nX0Y0D01*\n"
                             "X50000Y50000D03*\n"
                             "G36*\nX1700Y1700D02*\nX200000Y1700D01*\nX200000Y298300D01*\nX1700Y298300D01*\nX1700Y1700D01*\nG37*\n"
                             "D11*\nX300000Y100000D02*\nX450000Y100000D01*\nX300000Y105000D02*\nX450000Y105000D01*\n"
                             "D12*\nX400000Y200000D03*\nM02*\n";
    const PCBPackage pkg = package({copperFile("board.cmp", GerberParser().parse("board.cmp", std::string_view(text)).objects)});
    EXPECT_TRUE(spacing::checkCopperSpacing(pkg, 0.2, later()).issues.empty());
    const auto tracks = spacing::checkCopperSpacing(pkg, 0.25, later());
    ASSERT_EQ(tracks.issues.size(), 1u);
    EXPECT_EQ(tracks.issues[0].message, "Copper spacing 0.246 mm is below the preset minimum 0.250 mm.");
    const BoardSummary s = BoardSummaryEngine().summarize(pkg);
    ASSERT_TRUE(s.minSpaceMM);
    EXPECT_NEAR(*s.minSpaceMM, 0.246, 1e-9);
    EXPECT_EQ(s.padCount, 1);
    EXPECT_EQ(s.minTrackMM, 0.254);
    // Nor is the outline a track below any minimum.
    const DFMReport report = DFMEngine().runChecks(pkg, ManufacturingPreset{"Fab", 0.2, 0.1, 0.3, 0.1});
    EXPECT_TRUE(std::none_of(report.issues.begin(), report.issues.end(),
                             [](const CheckIssue& i) { return i.id == "minTraceBelowPreset"; }));
}
