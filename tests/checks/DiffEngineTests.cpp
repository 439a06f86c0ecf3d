#include <gtest/gtest.h>

#include <cmath>

#include "TestPackages.hpp"
#include "checks/DiffEngine.hpp"

using namespace corvane;
using namespace corvane::testing;

namespace {
const LayerType kTop = LayerType::copper(CopperLayerID::top());
}

TEST(DiffObjects, ToleranceEdgesAndRoundingHalvesAwayFromZero) {
    DiffEngine e{0.0001};
    // 1.00004 rounds to 10000 and 1.00006 to 10001: one removal, one addition.
    auto d = e.compareObjects({stroke({1.00004, 0}, {2, 0})}, {stroke({1.00006, 0}, {2, 0})});
    EXPECT_EQ(d.added.size(), 1u);
    EXPECT_EQ(d.removed.size(), 1u);
    // Within the same rounding step: no change.
    d = e.compareObjects({stroke({1.00001, 0}, {2, 0})}, {stroke({1.00004, 0}, {2, 0})});
    EXPECT_TRUE(d.added.empty());
    EXPECT_TRUE(d.removed.empty());
    // Negative halves round away from zero on both sides alike.
    d = e.compareObjects({stroke({-0.00005, 0}, {2, 0})}, {stroke({-0.0001, 0}, {2, 0})});
    EXPECT_TRUE(d.added.empty());
}

TEST(DiffObjects, DuplicatesCancelByCountKeepingTheTail) {
    DiffEngine e;
    auto flash = [](std::int64_t index) {
        auto o = obj(PCBObjectKind::flash({1, 1}), ApertureShape::circle(1));
        o.index = index;
        return o;
    };
    auto d = e.compareObjects({flash(0), flash(1), flash(2)}, {flash(7)});
    ASSERT_EQ(d.removed.size(), 2u);
    EXPECT_EQ(d.removed[0].index, 1);
    EXPECT_EQ(d.removed[1].index, 2);
    EXPECT_TRUE(d.added.empty());
}

TEST(DiffObjects, PolarityAndApertureCountNetDoesNot) {
    DiffEngine e;
    auto base = obj(PCBObjectKind::flash({1, 1}), ApertureShape::circle(1), Polarity::dark, "GND");
    auto clear = base;
    clear.polarity = Polarity::clear;
    auto wider = obj(PCBObjectKind::flash({1, 1}), ApertureShape::circle(1.001), Polarity::dark, "GND");
    auto renamed = obj(PCBObjectKind::flash({1, 1}), ApertureShape::circle(1), Polarity::dark, "VCC");
    EXPECT_EQ(e.compareObjects({base}, {clear}).added.size(), 1u);
    EXPECT_EQ(e.compareObjects({base}, {wider}).added.size(), 1u);
    EXPECT_TRUE(e.compareObjects({base}, {renamed}).added.empty());
    // A rectangle and a circle of the same nominal width are the same key, as are shapes without an aperture.
    auto rect = obj(PCBObjectKind::flash({1, 1}), ApertureShape::rectangle(0.5, 1.5));
    EXPECT_TRUE(e.compareObjects({base}, {rect}).added.empty());
    auto bare = obj(PCBObjectKind::flash({1, 1}));
    EXPECT_EQ(e.compareObjects({base}, {bare}).added.size(), 1u);
}

TEST(DiffObjects, RegionContoursAndOutOfRangeValuesStayDistinct) {
    DiffEngine e;
    auto region = [](std::vector<Contour> c) { return obj(PCBObjectKind::region(std::move(c))); };
    auto a = region({{{0, 0}, {1, 0}, {1, 1}}, {{2, 2}, {3, 2}, {3, 3}}});
    auto b = region({{{0, 0}, {1, 0}, {1, 1}, {2, 2}, {3, 2}, {3, 3}}});
    EXPECT_EQ(e.compareObjects({a}, {b}).added.size(), 1u);
    // Huge or non-finite coordinates neither trap nor collide with each other.
    auto huge1 = stroke({1e300, 0}, {0, 0});
    auto huge2 = stroke({2e300, 0}, {0, 0});
    auto nan = stroke({NAN, 0}, {0, 0});
    EXPECT_EQ(e.compareObjects({huge1}, {huge2}).added.size(), 1u);
    EXPECT_TRUE(e.compareObjects({huge1}, {huge1}).added.empty());
    EXPECT_TRUE(e.compareObjects({nan}, {nan}).added.empty());
    EXPECT_EQ(e.compareObjects({nan}, {huge1}).added.size(), 1u);
}

TEST(DiffDescribe, TextsOfChanges) {
    auto s = obj(PCBObjectKind::stroke({0, 0}, {1, 0}), ApertureShape::circle(0.25), Polarity::dark, "GND");
    EXPECT_EQ(DiffEngine::describe(s), "Track / Line at (0.500, 0.000) \u00D80.250 net GND");
    auto d = obj(PCBObjectKind::drill({2, 3}, 0.8, true));
    EXPECT_EQ(DiffEngine::describe(d), "Drill Hit at (2.000, 3.000) \u00D80.800");
    auto r = obj(PCBObjectKind::region({{{0, 0}, {2, 0}, {2, 2}}}), std::nullopt, Polarity::dark, "");
    EXPECT_EQ(DiffEngine::describe(r), "Region (Fill) at (1.000, 1.000) net ");
}

TEST(DiffPackages, PairingUnmatchedFilesDrillMergingAndOrder) {
    auto a = package("A", {
        gerberFile("a-top.gtl", kTop, {stroke({0, 0}, {1, 0})}),
        gerberFile("a-top2.gtl", kTop, {}),
        gerberFile("a-bottom.gbl", LayerType::copper(CopperLayerID::bottom()), {}),
        gerberFile("a-in2.g2", LayerType::copper(CopperLayerID::inner(2)), {}),
        gerberFile("a-mask.gts", LayerType::solderMask(CopperLayerID::top()), {}),
        gerberFile("a-edge.gko", LayerType::outline(), {}),
        gerberFile("a-silk.gto", LayerType::silkscreen(CopperLayerID::top()), {}),
        gerberFile("a-unk.gbr", LayerType::unknown(), {}),
        drillFile("a-pth.drl", {{{1, 1}, 0.8}}),
        drillFile("a-npth.drl", {{{5, 5}, 3.0}}, Plating::npth),
    });
    auto b = package("B", {
        gerberFile("b-top.gtl", kTop, {stroke({0, 0}, {1, 0}), stroke({0, 1}, {1, 1})}),
        gerberFile("b-bottom.gbl", LayerType::copper(CopperLayerID::bottom()), {}),
        gerberFile("b-in2.g2", LayerType::copper(CopperLayerID::inner(2)), {}),
        gerberFile("b-mask.gts", LayerType::solderMask(CopperLayerID::top()), {}),
        gerberFile("b-mask-bot.gbs", LayerType::solderMask(CopperLayerID::bottom()), {}),
        gerberFile("b-edge.gko", LayerType::outline(), {}),
        gerberFile("b-silk.gto", LayerType::silkscreen(CopperLayerID::top()), {}),
        gerberFile("b-unk.gbr", LayerType::unknown(), {}),
        drillFile("b.drl", {{{1, 1}, 0.8}, {{5, 5}, 3.0}}),
    });
    DiffEngine e;
    const PackageDiff d = e.compare(a, b);
    EXPECT_EQ(d.nameA, "A");
    EXPECT_EQ(d.nameB, "B");
    std::vector<std::string> keys;
    for (const auto& l : d.layers) keys.push_back(l.layerKey);
    EXPECT_EQ(keys, (std::vector<std::string>{"Top Copper", "Inner 2 Copper", "Bottom Copper", "Top Solder Mask",
                                              "Top Silkscreen", "Board Outline", "Drill", "Unknown"}));
    EXPECT_EQ(d.layers[0].fileNameA, "a-top.gtl");
    EXPECT_EQ(d.layers[0].added.size(), 1u);
    EXPECT_EQ(d.layers[0].added[0].kind, "Added");
    EXPECT_EQ(d.layers[0].added[0].objectType, "Track / Line");
    EXPECT_EQ(d.layers[6].fileNameA, "a-pth.drl, a-npth.drl");
    // Plating is not part of a drill's key: the split files of A match the merged file of B.
    EXPECT_EQ(d.layers[6].changeCount(), 0);
    EXPECT_EQ(d.unmatchedFilesA, (std::vector<std::string>{"a-top2.gtl"}));
    EXPECT_EQ(d.unmatchedFilesB, (std::vector<std::string>{"b-mask-bot.gbs"}));
    EXPECT_EQ(d.totalChanges(), 1);
}

TEST(DiffPackages, DrillOnOneSideOnlyIsUnmatchedFirst) {
    auto a = package("A", {gerberFile("x.gm1", LayerType::outline(), {}), drillFile("a.drl", {{{1, 1}, 1}})});
    auto b = package("B", {gerberFile("z.gbr", LayerType::unknown(), {})});
    const PackageDiff d = DiffEngine{}.compare(a, b);
    EXPECT_TRUE(d.layers.empty());
    EXPECT_EQ(d.unmatchedFilesA, (std::vector<std::string>{"a.drl", "x.gm1"}));
    EXPECT_EQ(d.unmatchedFilesB, (std::vector<std::string>{"z.gbr"}));
    EXPECT_TRUE(DiffEngine{}.compare(package("e", {}), package("f", {})).layers.empty());
}
