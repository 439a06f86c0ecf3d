#include <gtest/gtest.h>

#include <cmath>
#include <tuple>

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

// Four drawings without a role in A, the second dropped in B and the others changed by 1, 2 and 3 lines: each
// is compared with its namesake, not with the file that took its place in the list, and the dropped one is the
// one named only in A. A revision that renamed its project ("RevA-" to "RevB-") pairs its files alike.
TEST(DiffPackages, FilesSharingARoleArePairedByName) {
    const char* roles[] = {"Cmts_User.gbr", "Dwgs_User.gbr", "Eco1_User.gbr", "Eco2_User.gbr"};
    const auto drawing = [](int i, int lines) {
        std::vector<PCBObject> out;
        for (int j = 0; j < lines; ++j) out.push_back(stroke({0, double(10 * i + j)}, {5, double(10 * i + j)}, 0.1));
        return out;
    };
    const auto revision = [&](const std::string& name, const std::string& prefix, bool b) {
        std::vector<PackageFile> files{gerberFile(prefix + "F_Cu.gbr", kTop, {stroke({0, 0}, {1, 0})})};
        for (int i = 0; i < 4; ++i) {
            if (b && i == 0) continue;  // B drops the first drawing
            files.push_back(gerberFile(prefix + roles[i], LayerType::unknown(), drawing(i, 2 + (b ? i : 0))));
        }
        return package(name, std::move(files));
    };
    for (const std::string prefixB : {"ESP32_RevA-", "ESP32_RevB-"}) {
        const PackageDiff d = DiffEngine{}.compare(revision("A", "ESP32_RevA-", false), revision("B", prefixB, true));
        EXPECT_EQ(d.unmatchedFilesA, (std::vector<std::string>{"ESP32_RevA-Cmts_User.gbr"})) << prefixB;
        EXPECT_TRUE(d.unmatchedFilesB.empty()) << prefixB;
        std::vector<std::tuple<std::string, std::string, std::size_t, std::size_t>> pairs;
        for (const auto& l : d.layers)
            if (l.layerKey == "Unknown") pairs.emplace_back(l.fileNameA, l.fileNameB, l.added.size(), l.removed.size());
        EXPECT_EQ(pairs, (std::vector<std::tuple<std::string, std::string, std::size_t, std::size_t>>{
                             {"ESP32_RevA-Dwgs_User.gbr", prefixB + "Dwgs_User.gbr", 1, 0},
                             {"ESP32_RevA-Eco1_User.gbr", prefixB + "Eco1_User.gbr", 2, 0},
                             {"ESP32_RevA-Eco2_User.gbr", prefixB + "Eco2_User.gbr", 3, 0}}))
            << prefixB;
        EXPECT_EQ(d.totalChanges(), 6) << prefixB;
    }
    // Files whose names tell nothing apart are still paired in their order, the surplus unmatched.
    const PackageDiff d = DiffEngine{}.compare(
        package("A", {gerberFile("x.gbr", LayerType::unknown(), drawing(0, 1)), gerberFile("y.gbr", LayerType::unknown(), drawing(1, 1))}),
        package("B", {gerberFile("p.gbr", LayerType::unknown(), drawing(0, 1)), gerberFile("q.gbr", LayerType::unknown(), drawing(1, 1)),
                      gerberFile("r.gbr", LayerType::unknown(), {})}));
    ASSERT_EQ(d.layers.size(), 2u);
    EXPECT_EQ(d.layers[0].fileNameB, "p.gbr");
    EXPECT_EQ(d.layers[1].fileNameB, "q.gbr");
    EXPECT_EQ(d.totalChanges(), 0);
    EXPECT_EQ(d.unmatchedFilesB, (std::vector<std::string>{"r.gbr"}));
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
