#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <unordered_set>

#include "model/Model.hpp"

using namespace corvane;

namespace {
const double kNaN = std::numeric_limits<double>::quiet_NaN();

PCBObject plain(PCBObjectKind kind, std::optional<ApertureShape> shape = std::nullopt, std::int64_t index = 0) {
    return PCBObject(std::move(kind), std::nullopt, std::move(shape), Polarity::dark, std::nullopt, std::nullopt,
                     std::nullopt, std::nullopt, index);
}

void expectBox(const BBox& actual, const BBox& expected) {
    EXPECT_NEAR(actual.minX, expected.minX, 1e-12);
    EXPECT_NEAR(actual.minY, expected.minY, 1e-12);
    EXPECT_NEAR(actual.maxX, expected.maxX, 1e-12);
    EXPECT_NEAR(actual.maxY, expected.maxY, 1e-12);
}
} // namespace

TEST(ApertureSizes, BoundingDiameterAndStrokeWidthPerShape) {
    const auto rect = ApertureShape::rectangle(3, 4);
    EXPECT_EQ(rect.boundingDiameter(), 4 * 1.4142135623730951);
    EXPECT_GT(rect.boundingDiameter(), 5.0);  // larger side times sqrt 2, not the diagonal
    EXPECT_EQ(rect.strokeNominalWidth(), 3.5);

    const auto ob = ApertureShape::obround(1, 2);
    EXPECT_EQ(ob.boundingDiameter(), 2.0);
    EXPECT_EQ(ob.strokeNominalWidth(), 1.0);
    EXPECT_EQ(ApertureShape::obround(2, 1).strokeNominalWidth(), 1.0);

    EXPECT_EQ(ApertureShape::circle(0.25).boundingDiameter(), 0.25);
    EXPECT_EQ(ApertureShape::polygon(1, 6, 30).strokeNominalWidth(), 1.0);
    EXPECT_EQ(ApertureShape::macro("THERMAL", 1.8).boundingDiameter(), 1.8);
    EXPECT_EQ(ApertureShape::macro("THERMAL", 1.8).strokeNominalWidth(), 1.8);
}

TEST(ApertureSizes, InspectorDescriptions) {
    EXPECT_EQ(ApertureShape::circle(0.25).description(), "circle \u00D80.250");
    EXPECT_EQ(ApertureShape::rectangle(3, 4).description(), "rect 3.000\u00D74.000");
    EXPECT_EQ(ApertureShape::obround(1, 2.5).description(), "obround 1.000\u00D72.500");
    EXPECT_EQ(ApertureShape::polygon(1, 6, 30).description(), "polygon \u00D81.000 \u00D76 @30\u00B0");
    EXPECT_EQ(ApertureShape::macro("RR_1", 1.2345).description(), "macro RR_1 (\u00D8\u22481.234)");
}

TEST(ApertureEquality, ShapesCompareCaseAndPayload) {
    EXPECT_NE(ApertureShape::rectangle(1, 2), ApertureShape::obround(1, 2));
    EXPECT_NE(ApertureShape::rectangle(1, 2), ApertureShape::rectangle(2, 1));
    EXPECT_EQ((Aperture{10, ApertureShape::circle(0.5), {}}), (Aperture{10, ApertureShape::circle(0.5), std::nullopt}));
    EXPECT_NE((Aperture{10, ApertureShape::circle(0.5), {}}), (Aperture{10, ApertureShape::circle(0.5), 0.1}));
    std::unordered_set<ApertureShape> shapes{ApertureShape::circle(0.0), ApertureShape::circle(-0.0)};
    EXPECT_EQ(shapes.size(), 1u);
    EXPECT_EQ(ApertureShape{}.caseName(), "circle");
}

TEST(PrimitiveNames, TypeNameAndStrokeWidth) {
    const Vec2 o{0, 0};
    EXPECT_EQ(plain(PCBObjectKind::stroke(o, o)).typeName(), "Track / Line");
    EXPECT_EQ(plain(PCBObjectKind::arcStroke(o, o, o, true)).typeName(), "Arc");
    EXPECT_EQ(plain(PCBObjectKind::flash(o)).typeName(), "Flash (Pad)");
    EXPECT_EQ(plain(PCBObjectKind::region({})).typeName(), "Region (Fill)");
    EXPECT_EQ(plain(PCBObjectKind::drill(o, 1, true)).typeName(), "Drill Hit");
    EXPECT_EQ(plain(PCBObjectKind::slot(o, o, 1, false)).typeName(), "Slot");

    EXPECT_FALSE(plain(PCBObjectKind::flash(o)).strokeWidth().has_value());  // absent, not 0
    EXPECT_EQ(plain(PCBObjectKind::flash(o), ApertureShape::rectangle(1, 2)).strokeWidth(), 1.5);
}

TEST(PrimitiveEquality, IndexAndStoredBoxTakePart) {
    const auto a = plain(PCBObjectKind::flash(Vec2{1, 1}), ApertureShape::circle(1), 0);
    auto b = plain(PCBObjectKind::flash(Vec2{1, 1}), ApertureShape::circle(1), 1);
    EXPECT_NE(a, b);
    b.index = 0;
    EXPECT_EQ(a, b);
    EXPECT_EQ(std::hash<PCBObject>{}(a), std::hash<PCBObject>{}(b));
    // The box is computed once; changing the kind later does not move it.
    b.kind = PCBObjectKind::flash(Vec2{9, 9});
    EXPECT_EQ(b.bbox, a.bbox);
}

TEST(PrimitiveBoxes, StrokesFlashesDrillsSlotsAndRegions) {
    expectBox(plain(PCBObjectKind::stroke({0, 0}, {10, 0}), ApertureShape::circle(0.2)).bbox, BBox{-0.1, -0.1, 10.1, 0.1});
    EXPECT_EQ(plain(PCBObjectKind::stroke({0, 0}, {10, 0})).bbox, (BBox{0, 0, 10, 0}));
    EXPECT_EQ(plain(PCBObjectKind::flash({2, 3})).bbox, (BBox{2, 3, 2, 3}));
    // A flash uses the square of the bounding diameter whatever the shape.
    const double half = 2 * 1.4142135623730951 * 0.5;
    expectBox(plain(PCBObjectKind::flash({0, 0}), ApertureShape::rectangle(2, 1)).bbox, BBox{-half, -half, half, half});
    EXPECT_EQ(plain(PCBObjectKind::drill({5, 5}, 1, true)).bbox, (BBox{4.5, 4.5, 5.5, 5.5}));
    EXPECT_EQ(plain(PCBObjectKind::slot({0, 0}, {2, 0}, 1, false)).bbox, (BBox{-0.5, -0.5, 2.5, 0.5}));

    // A region ignores the aperture; with no points it keeps the empty box.
    EXPECT_EQ(plain(PCBObjectKind::region({{{0, 0}, {4, 1}, {1, 3}}}), ApertureShape::circle(5)).bbox, (BBox{0, 0, 4, 3}));
    EXPECT_EQ(plain(PCBObjectKind::region({})).bbox, BBox::empty());
    EXPECT_EQ(plain(PCBObjectKind::region({{}, {}})).bbox, BBox::empty());
    BBox layer{0, 0, 1, 1};
    layer.include(plain(PCBObjectKind::region({})).bbox);
    EXPECT_EQ(layer, (BBox{0, 0, 1, 1}));
}

TEST(PrimitiveBoxes, ObjectsReachingPastTheLargestDoubleAreNotFinite) {
    const double inf = std::numeric_limits<double>::infinity();
    const double big = std::numeric_limits<double>::max() / 2 * 1.5;
    EXPECT_TRUE(plain(PCBObjectKind::stroke({0, 0}, {big, 0}), ApertureShape::circle(1)).isFinite());
    EXPECT_TRUE(plain(PCBObjectKind::region({})).isFinite());
    // A point, a size, or what the size reaches around a point that no double holds.
    EXPECT_FALSE(plain(PCBObjectKind::stroke({0, 0}, {inf, 0})).isFinite());
    EXPECT_FALSE(plain(PCBObjectKind::flash({kNaN, 0})).isFinite());
    EXPECT_FALSE(plain(PCBObjectKind::flash({0, 0}), ApertureShape::circle(kNaN)).isFinite());
    EXPECT_FALSE(plain(PCBObjectKind::flash({0, 0}), ApertureShape::rectangle(big, 1)).isFinite());  // its diagonal
    EXPECT_FALSE(plain(PCBObjectKind::flash({0, 0}), ApertureShape::macro("M", 1, std::vector<Contour>{{{0, 0}, {kNaN, 1}, {1, 0}}}))
                     .isFinite());
    EXPECT_FALSE(plain(PCBObjectKind::flash({big, 0}), ApertureShape::circle(big)).isFinite());
    EXPECT_FALSE(plain(PCBObjectKind::region({{{0, 0}, {kNaN, 1}, {1, 3}}})).isFinite());
    EXPECT_FALSE(plain(PCBObjectKind::arcStroke({big, 0}, {big, 0}, {-big, 0}, true)).isFinite());
    EXPECT_FALSE(plain(PCBObjectKind::drill({big, 0}, big, true)).isFinite());
    EXPECT_FALSE(plain(PCBObjectKind::slot({0, 0}, {1, inf}, 1, true)).isFinite());
    // The box such an object is given stays finite all the same.
    EXPECT_TRUE(plain(PCBObjectKind::stroke({0, 0}, {inf, kNaN})).bbox.isFinite());
}

TEST(PrimitiveBoxes, ArcsReachTheirTrueExtent) {
    const auto circle = ApertureShape::circle(0.2);
    // Half circle counter-clockwise over the top: the box reaches y = 1 + r.
    expectBox(plain(PCBObjectKind::arcStroke({1, 0}, {-1, 0}, {0, 0}, false), circle).bbox, BBox{-1.1, -0.1, 1.1, 1.1});
    // The same ends clockwise bulge downwards.
    expectBox(plain(PCBObjectKind::arcStroke({1, 0}, {-1, 0}, {0, 0}, true), circle).bbox, BBox{-1.1, -1.1, 1.1, 0.1});
    // A quarter arc holds no axis point beyond its ends; the centre is not in the box.
    expectBox(plain(PCBObjectKind::arcStroke({1, 0}, {0, 1}, {0, 0}, false)).bbox, BBox{0, 0, 1, 1});
    // The long way round from (1,0) to (0,1) clockwise passes 270 deg and 180 deg.
    expectBox(plain(PCBObjectKind::arcStroke({1, 0}, {0, 1}, {0, 0}, true)).bbox, BBox{-1, -1, 1, 1});
    // A shallow arc with a far centre stays near its chord.
    const auto shallow = plain(PCBObjectKind::arcStroke({-1, 0}, {1, 0}, {0, -100}, true)).bbox;
    EXPECT_NEAR(shallow.minY, 0.0, 1e-9);
    EXPECT_NEAR(shallow.maxY, std::sqrt(10001.0) - 100, 1e-9);
}

TEST(PrimitiveBoxes, FullCircleAndDegenerateArcs) {
    // Equal ends make a full turn in either direction: a round outline gets its whole disc.
    for (bool cw : {false, true}) {
        expectBox(plain(PCBObjectKind::arcStroke({5, 2}, {5, 2}, {2, 2}, cw), ApertureShape::circle(0.2)).bbox,
                  BBox{-1.1, -1.1, 5.1, 5.1});
    }
    // Centre on the start: start and end only.
    EXPECT_EQ(plain(PCBObjectKind::arcStroke({1, 1}, {3, 1}, {1, 1}, false)).bbox, (BBox{1, 1, 3, 1}));
    // NaN and infinite inputs neither crash nor produce a box beyond the finite points.
    const auto nanArc = plain(PCBObjectKind::arcStroke({kNaN, 0}, {1, 1}, {0, 0}, false)).bbox;
    EXPECT_EQ(nanArc.maxX, 1.0);
    const double big = std::numeric_limits<double>::max();
    const auto hugeArc = plain(PCBObjectKind::arcStroke({big, 0}, {-big, 0}, {0, 0}, false)).bbox;
    EXPECT_EQ(hugeArc.maxX, big);
}

TEST(PrimitiveSharing, CopiesShareShapesAndTextsYetCompareByValue) {
    std::vector<Contour> outline(3, Contour(500, Vec2{1, 2}));
    PCBObject a = plain(PCBObjectKind::flash({0, 0}), ApertureShape::macro("M", 2, outline));
    a.setNet("GND");
    a.setComponent(std::string("U1"));
    const PCBObject b = a;
    EXPECT_TRUE(b.apertureShape.sameAs(a.apertureShape));  // one outline, however many flashes
    EXPECT_TRUE(b.net().sameAs(a.net()));
    EXPECT_EQ(*b.net(), "GND");
    EXPECT_EQ(b.pin(), std::nullopt);

    // Equal values held apart are equal; a different value is not.
    PCBObject c = plain(PCBObjectKind::flash({0, 0}), ApertureShape::macro("M", 2, outline));
    c.setNet(std::optional<std::string>("GND"));
    c.setComponent("U1");
    EXPECT_FALSE(c.apertureShape.sameAs(a.apertureShape));
    EXPECT_EQ(c, a);
    EXPECT_EQ(std::hash<PCBObject>{}(c), std::hash<PCBObject>{}(a));
    c.setNet("GND2");
    EXPECT_NE(c, a);
    c.setNet(std::nullopt);
    EXPECT_FALSE(c.net().has_value());
    EXPECT_EQ(c.net().value_or("none"), "none");
    // A change to one object's names leaves the objects that shared them alone; with no names left it
    // equals an object that never had any.
    EXPECT_EQ(a.net(), "GND");
    c.setComponent(std::nullopt);
    EXPECT_FALSE(c.attributes());
    EXPECT_EQ(c, plain(PCBObjectKind::flash({0, 0}), ApertureShape::macro("M", 2, outline)));

    // Arcs and slots are kept by reference too, but changing a copy leaves the original alone.
    const PCBObject arc = plain(PCBObjectKind::arcStroke({1, 0}, {0, 1}, {0, 0}, false));
    PCBObject moved = arc;
    moved.kind.as<PCBObjectKind::ArcStroke>()->end = Vec2{-1, 0};
    EXPECT_EQ(arc.kind.as<PCBObjectKind::ArcStroke>()->end, (Vec2{0, 1}));
    EXPECT_NE(moved.kind, arc.kind);
    EXPECT_EQ(moved.kind.as<PCBObjectKind::Slot>(), nullptr);
}

TEST(PrimitiveSharing, InternerKeepsOneCopyPerDistinctValue) {
    ObjectInterner intern;
    std::vector<PCBObject> objects;
    for (int i = 0; i < 4; ++i) {
        objects.push_back(PCBObject(PCBObjectKind::flash({double(i), 0}), 10, ApertureShape::circle(i % 2 ? 1 : 2),
                                    Polarity::dark, i == 3 ? "VCC" : "GND", std::nullopt, std::nullopt, "Pad", i));
        intern(objects.back());
    }
    EXPECT_TRUE(objects[2].apertureShape.sameAs(objects[0].apertureShape));
    EXPECT_FALSE(objects[1].apertureShape.sameAs(objects[0].apertureShape));
    EXPECT_TRUE(objects[3].apertureShape.sameAs(objects[1].apertureShape));
    EXPECT_TRUE(objects[2].attributes().sameAs(objects[0].attributes()));
    EXPECT_FALSE(objects[3].attributes().sameAs(objects[0].attributes()));
    EXPECT_EQ(objects[3].net(), "VCC");
    EXPECT_TRUE(objects[3].apertureFunction().sameAs(objects[0].apertureFunction()));
    EXPECT_EQ(objects[1].apertureShape, ApertureShape::circle(1));
}
