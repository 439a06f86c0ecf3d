#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "TestPackages.hpp"
#include "checks/MeasureEngine.hpp"

using namespace corvane;
using namespace corvane::testing;

namespace {
const LayerType kTop = LayerType::copper(CopperLayerID::top());
}

TEST(MeasureDistance, EveryKind) {
    // Strokes count from the centre line, whatever their width.
    EXPECT_DOUBLE_EQ(MeasureEngine::distance(stroke({0, 0}, {10, 0}, 5), {5, 1}), 1.0);
    // Flashes and drills count from the rim, 0 inside.
    EXPECT_DOUBLE_EQ(MeasureEngine::distance(obj(PCBObjectKind::flash({0, 0}), ApertureShape::circle(2)), {3, 0}), 2.0);
    EXPECT_DOUBLE_EQ(MeasureEngine::distance(obj(PCBObjectKind::flash({0, 0}), ApertureShape::circle(2)), {0.5, 0}), 0.0);
    EXPECT_DOUBLE_EQ(MeasureEngine::distance(obj(PCBObjectKind::flash({0, 0})), {1, 0}), 0.9);
    EXPECT_DOUBLE_EQ(MeasureEngine::distance(obj(PCBObjectKind::drill({0, 0}, 1, true)), {2, 0}), 1.5);
    EXPECT_DOUBLE_EQ(MeasureEngine::distance(obj(PCBObjectKind::slot({0, 0}, {4, 0}, 2, false)), {2, 3}), 3.0);
    // A counter-clockwise quarter arc from (1,0) to (0,1): inside its sweep the distance is radial,
    // outside it is to the nearer end.
    auto ccw = obj(PCBObjectKind::arcStroke({1, 0}, {0, 1}, {0, 0}, false));
    EXPECT_NEAR(MeasureEngine::distance(ccw, {2, 2}), std::sqrt(8.0) - 1, 1e-12);
    EXPECT_NEAR(MeasureEngine::distance(ccw, {3, -1}), std::sqrt(5.0), 1e-12);
    // The same end points clockwise sweep the other three quarters.
    auto cw = obj(PCBObjectKind::arcStroke({1, 0}, {0, 1}, {0, 0}, true));
    EXPECT_NEAR(MeasureEngine::distance(cw, {3, -1}), std::sqrt(10.0) - 1, 1e-12);
    EXPECT_NEAR(MeasureEngine::distance(cw, {2, 2}), std::sqrt(5.0), 1e-12);
    // Regions: even-odd per contour, and inside a hole contour counts as inside.
    auto region = obj(PCBObjectKind::region({{{0, 0}, {10, 0}, {10, 10}, {0, 10}}, {{4, 4}, {6, 4}, {6, 6}, {4, 6}}}));
    EXPECT_EQ(MeasureEngine::distance(region, {5, 5}), 0.0);
    EXPECT_EQ(MeasureEngine::distance(region, {2, 2}), 0.0);
    EXPECT_DOUBLE_EQ(MeasureEngine::distance(region, {13, 5}), 3.0);
    EXPECT_TRUE(std::isinf(MeasureEngine::distance(obj(PCBObjectKind::region({})), {0, 0})));
}

TEST(MeasureHitTest, SmallBeatsLargeFirstWinsAndPlainDistance) {
    auto plane = obj(PCBObjectKind::region({{{0, 0}, {10, 0}, {10, 10}, {0, 10}}}));
    auto pad = obj(PCBObjectKind::flash({5, 5}), ApertureShape::circle(1));
    std::vector<PackageFile> files{gerberFile("top.gtl", kTop, {plane, pad})};
    MeasureEngine m;
    auto hit = m.hitTest(files, {5.2, 5}, 0.1);
    ASSERT_TRUE(hit);
    EXPECT_TRUE(hit->object.kind.as<PCBObjectKind::Flash>());
    EXPECT_EQ(hit->fileName, "top.gtl");

    // A track is hit only near its centre line; distanceMM is the plain distance.
    std::vector<PackageFile> tracks{gerberFile("t.gtl", kTop, {stroke({0, 0}, {10, 0}, 2)})};
    EXPECT_FALSE(m.hitTest(tracks, {5, 0.5}, 0.2));
    hit = m.hitTest(tracks, {5, 0.15}, 0.2);
    ASSERT_TRUE(hit);
    EXPECT_DOUBLE_EQ(hit->distanceMM, 0.15);

    // Two identical objects: the earlier file wins.
    std::vector<PackageFile> twins{gerberFile("first.gtl", kTop, {pad}), gerberFile("second.gtl", kTop, {pad})};
    EXPECT_EQ(m.hitTest(twins, {5, 5}, 0.1)->fileName, "first.gtl");

    // Drill hits are tested like the objects the drill file turns into.
    std::vector<PackageFile> drills{drillFile("d.drl", {{{3, 3}, 1.0}})};
    hit = m.hitTest(drills, {3.4, 3}, 0.05);
    ASSERT_TRUE(hit);
    EXPECT_EQ(hit->object.typeName(), "Drill Hit");
    EXPECT_EQ(hit->layerType, LayerType::drill());
}

TEST(MeasureSnap, CandidatesPerKind) {
    MeasureEngine m;
    std::vector<PackageFile> files{gerberFile("t.gtl", kTop, {stroke({0, 0}, {10, 0})})};
    EXPECT_EQ(*m.snap(files, {5.1, 0.1}, 0.5), (Vec2{5, 0}));  // midpoint
    EXPECT_FALSE(m.snap(files, {5.5, 0}, 0.5));               // exactly at the tolerance
    std::vector<PackageFile> arcs{gerberFile("a.gtl", kTop, {obj(PCBObjectKind::arcStroke({1, 0}, {-1, 0}, {0, 0}, false))})};
    EXPECT_FALSE(m.snap(arcs, {0, 0}, 0.5));  // never the centre
    Contour many;
    for (int i = 0; i < 40; ++i) many.push_back(Vec2{static_cast<double>(i), 0});
    std::vector<PackageFile> regions{gerberFile("r.gtl", kTop, {obj(PCBObjectKind::region({many}))})};
    EXPECT_EQ(*m.snap(regions, {15.1, 0}, 0.5), (Vec2{15, 0}));
    EXPECT_FALSE(m.snap(regions, {20, 0}, 0.5));  // only the first 16 vertices
}

TEST(MeasureTexts, MeasurementsAndPoints) {
    MeasureEngine m;
    auto dx = m.distanceMeasurement({5, 0}, {2, 0}, MeasurementKind::xDelta, Units::mm);
    EXPECT_EQ(dx.valueMM, -3);
    EXPECT_EQ(dx.label, "\u0394X 3.00 mm");
    EXPECT_EQ(*dx.xDeltaMM(), -3);
    auto dy = m.distanceMeasurement({0, 0}, {0, 2.54}, MeasurementKind::yDelta, Units::mil);
    EXPECT_EQ(dy.label, "\u0394Y 100.0 mil");
    auto p2p = m.distanceMeasurement({0, 0}, {3, 4}, MeasurementKind::pointToPoint, Units::mm);
    EXPECT_EQ(p2p.valueMM, 5);
    EXPECT_EQ(p2p.label, "5.00 mm");
    EXPECT_NE(p2p.id, dx.id);
    EXPECT_EQ(MeasureEngine::formatPoint({2.54, -1}, Units::mil), "(100.0, -39.4) mil");
    EXPECT_EQ(MeasureEngine::formatPoint({1.2345, 0}, Units::mm), "(1.234, 0.000) mm");
    EXPECT_EQ(MeasurementKind::fromRawValue("Point \u2192 Point"), MeasurementKind::pointToPoint);
    EXPECT_FALSE(MeasurementKind::fromRawValue("point to point"));

    auto board = m.boardDimensionMeasurement(
        package("b", {gerberFile("e.gko", LayerType::outline(), {stroke({0, 0}, {100, 80}, 0)})}), Units::mm);
    ASSERT_TRUE(board);
    EXPECT_EQ(board->valueMM, 100);
    EXPECT_EQ(board->label, "Board 100.00 mm \u00D7 80.00 mm");
    EXPECT_FALSE(m.boardDimensionMeasurement(package("e", {}), Units::mm));
}

TEST(MeasureInspector, RowsInOrder) {
    MeasureEngine m;
    PCBObject pad = obj(PCBObjectKind::flash({1, 2}), ApertureShape::rectangle(1, 2));
    pad.setApertureCode(11);
    pad.setNet("GND");
    pad.setPin("3");  // no component: no Pin row
    pad.setApertureFunction("SMDPad,CuDef");
    auto rows = m.inspect(HitResult{pad, "top.gtl", kTop, 0}, Units::mm);
    std::vector<InspectorRow> expected{{"Layer", "Top Copper"},
                                       {"File", "top.gtl"},
                                       {"Type", "Flash (Pad)"},
                                       {"Position", "(1.000, 2.000) mm"},
                                       {"Pad Size", "2.83 mm"},
                                       {"Aperture", "rect 1.000\u00D72.000"},
                                       {"Polarity", "Dark (add)"},
                                       {"Net", "GND"},
                                       {"Aperture Function", "SMDPad,CuDef"},
                                       {"Aperture Code", "D11"}};
    EXPECT_EQ(rows, expected);

    PCBObject hole = obj(PCBObjectKind::slot({0, 0}, {2, 0}, 0.8, false), std::nullopt, Polarity::clear);
    hole.setComponent("J1");
    hole.setPin("");
    rows = m.inspect(HitResult{hole, "d.drl", LayerType::drill(), 0}, Units::mm);
    expected = {{"Layer", "Drill"},          {"File", "d.drl"},          {"Type", "Slot"},
                {"Start", "(0.000, 0.000) mm"}, {"End", "(2.000, 0.000) mm"}, {"Hole Diameter", "0.80 mm"},
                {"Plating", "NPTH (non-plated)"}, {"Polarity", "Clear (remove)"}, {"Component", "J1"},
                {"Aperture Code", "\u2014"}};
    EXPECT_EQ(rows, expected);

    auto region = obj(PCBObjectKind::region({{{0, 0}, {4, 0}, {4, 2}}}));
    rows = m.inspect(HitResult{region, "r", kTop, 0}, Units::mm);
    EXPECT_EQ(rows[4], (InspectorRow{"Size", "4.00 mm \u00D7 2.00 mm"}));
}

TEST(MeasureIndexQueries, SameAnswersAsAFullScan) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> pos(0, 60), len(-3, 3);
    std::vector<PCBObject> top, bottom;
    for (int i = 0; i < 1500; ++i) {
        const Vec2 a{pos(rng), pos(rng)};
        switch (i % 5) {
        case 0: top.push_back(stroke(a, a + Vec2{len(rng), len(rng)}, 0.3)); break;
        case 1: top.push_back(obj(PCBObjectKind::flash(a), ApertureShape::rectangle(1, 0.6))); break;
        case 2: top.push_back(obj(PCBObjectKind::arcStroke(a, a + Vec2{2, 0}, a + Vec2{1, 0}, i % 2 == 0))); break;
        case 3: bottom.push_back(obj(PCBObjectKind::region({{a, a + Vec2{2, 0}, a + Vec2{2, 2}, a + Vec2{0, 2}}}))); break;
        default: bottom.push_back(stroke(a, a, 0.2)); break;
        }
    }
    // One plane over everything, and an object with no geometry.
    bottom.push_back(obj(PCBObjectKind::region({{{-5, -5}, {65, -5}, {65, 65}, {-5, 65}}})));
    bottom.push_back(obj(PCBObjectKind::region({})));
    std::vector<std::pair<Vec2, double>> holes;
    for (int i = 0; i < 200; ++i) holes.push_back({{pos(rng), pos(rng)}, 0.8});
    std::vector<PackageFile> files{gerberFile("top.gtl", kTop, top), gerberFile("empty.gbr", LayerType::unknown(), {}),
                                   gerberFile("bottom.gbl", LayerType::copper(CopperLayerID::bottom()), bottom),
                                   drillFile("d.drl", holes)};
    files.back().drill->slots.push_back(obj(PCBObjectKind::slot({1, 1}, {4, 1}, 0.6, true)));
    const MeasureIndex index(files);
    ASSERT_TRUE(index.matches(files));
    MeasureEngine m;
    for (int i = 0; i < 400; ++i) {
        const Vec2 p{pos(rng), pos(rng)};
        for (double t : {0.05, 0.5, 2.0}) {
            const auto a = m.hitTest(files, p, t), b = m.hitTest(files, p, t, &index);
            ASSERT_EQ(a.has_value(), b.has_value());
            if (a) {
                EXPECT_EQ(a->object, b->object);
                EXPECT_EQ(a->fileName, b->fileName);
            }
            EXPECT_EQ(m.snap(files, p, t), m.snap(files, p, t, &index));
        }
    }
    // An index built for other files is not used.
    std::vector<PackageFile> other{gerberFile("x.gtl", kTop, {stroke({0, 0}, {1, 0})})};
    EXPECT_FALSE(index.matches(other));
    EXPECT_TRUE(m.hitTest(other, {0.5, 0}, 0.1, &index));
}

TEST(MeasureJSON, MeasurementRoundTripAndStrictKinds) {
    MeasureEngine m;
    const auto dx = m.distanceMeasurement({5, 0}, {2, 0}, MeasurementKind::xDelta, Units::mm);
    const Json j = Json::parse(encodeJSON(dx));
    EXPECT_EQ(j["kind"], "X Delta");
    EXPECT_EQ(j["id"], dx.id.uuidString());
    EXPECT_EQ(j["p1"]["x"], 5.0);
    EXPECT_EQ(decodeJSON<BoardMeasurement>(encodeJSON(dx)), dx);

    BoardMeasurement noPoints = dx;
    noPoints.p1.reset();
    noPoints.p2.reset();
    const Json k = Json::parse(encodeJSON(noPoints));
    EXPECT_FALSE(k.contains("p1"));
    EXPECT_FALSE(noPoints.xDeltaMM());

    Json bad = j;
    bad["kind"] = "x delta";
    EXPECT_THROW(decodeJSON<BoardMeasurement>(bad.dump()), DecodingError);
    bad = j;
    bad["id"] = "not-a-uuid";
    EXPECT_THROW(decodeJSON<BoardMeasurement>(bad.dump()), DecodingError);
}
