#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "model/Model.hpp"

using namespace corvane;

namespace {
DrillDocument drillFile(std::map<std::int64_t, DrillTool> tools, std::vector<DrillHit> hits,
                        std::vector<PCBObject> slots = {}) {
    DrillDocument d;
    d.tools = std::move(tools);
    d.hits = std::move(hits);
    d.slots = std::move(slots);
    d.fileName = "board.drl";
    return d;
}

DrillHit hit(double x, std::int64_t tool, Plating plating) { return DrillHit{Vec2{x, 0}, tool, plating}; }

PCBObject slotObject(std::int64_t index, std::optional<std::int64_t> tool = std::nullopt) {
    return PCBObject(PCBObjectKind::slot({0, 0}, {1, 0}, 0.5, true), tool, std::nullopt, Polarity::dark,
                     std::nullopt, std::nullopt, std::nullopt, std::nullopt, index);
}
} // namespace

TEST(DrillTable, GroupsByFourDecimalsAndHitPlating) {
    const auto doc = drillFile(
        {{1, {1, 0.80001, Plating::npth}}, {2, {2, 0.80004, Plating::pth}}, {3, {3, 0.80006, Plating::pth}}},
        {hit(0, 2, Plating::pth), hit(1, 1, Plating::pth), hit(2, 3, Plating::pth), hit(3, 1, Plating::pth)});
    const auto stats = doc.stats();
    ASSERT_EQ(stats.size(), 2u);
    // 0.80001 and 0.80004 both read 0.8000: one row with the diameter of the tool hit first.
    EXPECT_EQ(stats[0], (DrillStat{0.80004, Plating::pth, 3}));
    EXPECT_EQ(stats[1], (DrillStat{0.80006, Plating::pth, 1}));
}

TEST(DrillTable, AscendingWithADeterministicOrderForEqualDiameters) {
    const auto doc = drillFile({{1, {1, 1.0, Plating::pth}}, {2, {2, 0.3, Plating::pth}}},
                               {hit(0, 1, Plating::unknown), hit(1, 1, Plating::npth), hit(2, 2, Plating::npth),
                                hit(3, 1, Plating::pth), hit(4, 1, Plating::npth)});
    const std::vector<DrillStat> expected{{0.3, Plating::npth, 1},
                                          {1.0, Plating::pth, 1},
                                          {1.0, Plating::npth, 2},
                                          {1.0, Plating::unknown, 1}};
    EXPECT_EQ(doc.stats(), expected);
}

TEST(DrillTable, MissingToolsSlotsAndNaNDiameters) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const auto doc = drillFile({{1, {1, nan, Plating::pth}}, {2, {2, 0.5, Plating::pth}}, {3, {3, 0.5, Plating::npth}}},
                               {hit(0, 7, Plating::pth), hit(1, 1, Plating::pth), hit(2, 2, Plating::pth),
                                hit(3, 0, Plating::pth)},
                               {slotObject(0), slotObject(1), slotObject(2, 3)});
    const auto stats = doc.stats();
    ASSERT_EQ(stats.size(), 4u);
    EXPECT_EQ(stats[0].diameterMM, 0.5);
    EXPECT_TRUE(std::isnan(stats[1].diameterMM));  // not-a-number rows come last among the holes
    EXPECT_EQ(stats[0].count + stats[1].count, 2);
    // Slots follow in rows of their own; their tool's plating wins over what the slot records.
    EXPECT_EQ(stats[2], (DrillStat{0.5, Plating::pth, 2, true}));
    EXPECT_EQ(stats[3], (DrillStat{0.5, Plating::npth, 1, true}));
    EXPECT_EQ(doc.totalCount(), 7);
    // Every hit and slot of known plating is counted once, whether or not its tool is known.
    EXPECT_EQ(doc.platingCounts().pth, 6);
    EXPECT_EQ(doc.platingCounts().npth, 1);

    const auto noTools = drillFile({}, {hit(0, 1, Plating::pth), hit(1, 2, Plating::npth)});
    EXPECT_TRUE(noTools.stats().empty());
    EXPECT_FALSE(noTools.smallestDrillMM().has_value());
}

TEST(DrillTable, SmallestDrillLooksAtEveryTool) {
    const auto doc = drillFile({{1, {1, 0.8, Plating::pth}}, {5, {5, 0.2, Plating::npth}}}, {hit(0, 1, Plating::pth)});
    EXPECT_EQ(doc.smallestDrillMM(), 0.2);
    EXPECT_EQ(doc.stats().size(), 1u);
}

TEST(DrillPrimitives, HitsBecomeDrillsFollowedBySlots) {
    const auto doc = drillFile({{1, {1, 1.0, Plating::pth}}},
                               {hit(2, 1, Plating::pth), hit(4, 9, Plating::unknown), hit(6, 1, Plating::npth)},
                               {slotObject(0), slotObject(1)});
    const auto objects = doc.objectsAsPCB();
    ASSERT_EQ(objects.size(), 5u);
    const auto* first = objects[0].kind.as<PCBObjectKind::Drill>();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->diameterMM, 1.0);
    EXPECT_TRUE(first->plated);
    EXPECT_EQ(objects[0].bbox, (BBox{1.5, -0.5, 2.5, 0.5}));
    EXPECT_EQ(objects[0].polarity, Polarity::dark);
    EXPECT_FALSE(objects[0].apertureShape.has_value());

    const auto* missing = objects[1].kind.as<PCBObjectKind::Drill>();
    ASSERT_NE(missing, nullptr);
    EXPECT_EQ(missing->diameterMM, 0.1);  // tool not in the table
    EXPECT_FALSE(missing->plated);        // unknown plating is not plated
    EXPECT_FALSE(objects[2].kind.as<PCBObjectKind::Drill>()->plated);
    EXPECT_EQ(objects[2].index, 2);
    EXPECT_EQ(objects[3], slotObject(0));
    EXPECT_EQ(objects[4].index, 1);
}

TEST(DrillPrimitives, NegativeDiameterStillGivesAnOrderedBox) {
    const auto doc = drillFile({{1, {1, -1.0, Plating::pth}}}, {hit(0, 1, Plating::pth)});
    EXPECT_EQ(doc.objectsAsPCB()[0].bbox, (BBox{-0.5, -0.5, 0.5, 0.5}));
}

TEST(LayerDocumentEnums, RawValuesAreExact) {
    EXPECT_EQ(SourceFormat::fromRawValue("Gerber X2"), SourceFormat(SourceFormat::gerberX2));
    EXPECT_EQ(SourceFormat(SourceFormat::gerberRS274X).rawValue(), "RS-274X");
    for (const char* bad : {"gerber x2", "Excellon ", "unknown", "RS274X"})
        EXPECT_FALSE(SourceFormat::fromRawValue(bad).has_value()) << bad;
    EXPECT_EQ(Plating::fromRawValue("npth"), Plating(Plating::npth));
    for (const char* bad : {"PTH", " pth", "Unknown"}) EXPECT_FALSE(Plating::fromRawValue(bad).has_value()) << bad;
    EXPECT_EQ(std::hash<DrillTool>{}(DrillTool{1, 0.0, Plating::pth}), std::hash<DrillTool>{}(DrillTool{1, -0.0, Plating::pth}));
}
