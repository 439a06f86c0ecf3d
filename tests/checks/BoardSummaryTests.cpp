#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cmath>
#include <limits>
#include <random>

#include "Builders.hpp"
#include "checks/BoardSummaryEngine.hpp"
#include "checks/CopperBodies.hpp"
#include "checks/MeasureEngine.hpp"

using namespace corvane;
using namespace corvane::testing;

namespace {

std::optional<double> space(std::vector<PCBObject> objects) {
    const auto e = BoardSummaryEngine().estimateMinSpace(objects);
    EXPECT_TRUE(e.completed);
    return e.value;
}

} // namespace

TEST(BoardSummaryEstimate, ExamplesOnCentreLinesAndDiscs) {
    EXPECT_EQ(space({track({0, 0}, {10, 0}), track({0, 0.3}, {10, 0.3})}), 0.3);
    // Copper that touches is one conductor: no gap to measure.
    EXPECT_EQ(space({track({0, 0}, {1, 0}), track({1, 0}, {1, 5})}), std::nullopt);
    // Every pair is met, far from a segment's first point too.
    EXPECT_NEAR(*space({track({0, 0}, {10, 0}), track({10, 0.5}, {10, 5})}), 0.5, 1e-12);
    EXPECT_NEAR(*space({pad({0, 0}, ApertureShape::circle(1)), pad({1.5, 0}, ApertureShape::circle(1))}), 0.5, 1e-15);
    EXPECT_EQ(space({pad({0, 0}, ApertureShape::circle(1)), pad({0.8, 0}, ApertureShape::circle(1))}), std::nullopt);
    // Conductors farther apart than the first search reach are still found.
    EXPECT_NEAR(*space({pad({0, 0}, ApertureShape::circle(1)), pad({20, 0}, ApertureShape::circle(1))}), 19.0, 1e-12);
    // Pads on one centre are one conductor; a lone pad measures nothing.
    EXPECT_EQ(space({pad({0, 0}, ApertureShape::circle(1)), pad({0, 0}, ApertureShape::rectangle(2, 2))}), std::nullopt);
    EXPECT_EQ(space({pad({3, 3}, ApertureShape::circle(1))}), std::nullopt);
    EXPECT_EQ(space({}), std::nullopt);
    // A flash without a shape is a point.
    EXPECT_NEAR(*space({pad({0, 0}, std::nullopt), track({0.5, -1}, {0.5, 1})}), 0.5, 1e-12);
}

TEST(BoardSummaryEstimate, MeasuresCopperAndSkipsKnownNets) {
    // 0.25 mm tracks 0.3 mm apart leave 0.05 mm of copper.
    EXPECT_NEAR(*space({track({0, 0}, {10, 0}, 0.25, "A"), track({0, 0.3}, {10, 0.3}, 0.25, "B")}), 0.05, 1e-12);
    // Connected copper of one net does not count; the closest other net does.
    EXPECT_NEAR(*space({track({0, 0}, {5, 0}, 0.2, "A"), track({5, 0}, {5, 5}, 0.2, "A"), pad({5, 5}, ApertureShape::circle(1), "A"),
                        track({6.1, 0}, {6.1, 4}, 0.2, "B")}),
                std::sqrt(1.1 * 1.1 + 1.0) - 0.5 - 0.1, 1e-12);
    // Without nets, connected copper is one conductor: the gap to the next one counts.
    EXPECT_NEAR(*space({track({0, 0}, {1, 0}, 0.2), track({1, 0}, {1, 1}, 0.2), track({2.1, 0}, {2.1, 1}, 0.2)}), 0.9, 1e-12);
    // Two known nets that touch are 0 apart.
    EXPECT_EQ(space({track({0, 0}, {1, 0}, 0.2, "A"), track({1, 0}, {1, 1}, 0.2, "B")}), 0.0);
    // Round pads measured as discs, diagonal neighbours included.
    EXPECT_NEAR(*space({pad({0, 0}, ApertureShape::circle(1), "A"), pad({1, 1}, ApertureShape::circle(1), "B")}),
                std::sqrt(2.0) - 1.0, 1e-12);
    // A pad against a region edge of another net.
    EXPECT_NEAR(*space({region({{{0, 0}, {4, 0}, {4, 4}, {0, 4}}}, "GND"), pad({5, 2}, ApertureShape::rectangle(1, 1), "S")}),
                0.5, 1e-12);
}

TEST(BoardSummaryEstimate, OneConductorOrTwoFarApartCompleteAtOnce) {
    // A plane: one ragged outline of 40,000 points, with 2,000 vias of its own inside it. Nothing
    // on it may be measured against itself, however large it is.
    Contour ragged;
    for (int k = 0; k < 40000; ++k) {
        const double t = 2 * 3.141592653589793 * k / 40000;
        ragged.push_back(Vec2{60 + (50 + 0.2 * (k % 2)) * std::cos(t), 60 + (50 + 0.2 * (k % 2)) * std::sin(t)});
    }
    std::vector<PCBObject> plane{region({ragged})};
    for (int k = 0; k < 2000; ++k) plane.push_back(pad({30 + (k % 50) * 1.2, 30 + (k / 50) * 1.2}, ApertureShape::circle(0.6)));
    BoardSummaryEngine e;
    auto r = e.estimateMinSpace(plane);
    EXPECT_TRUE(r.completed);
    EXPECT_EQ(r.value, std::nullopt);
    // Two such conductors 100 mm apart on an otherwise empty layer: found, and whole. The search
    // that widened its window until it met a pair walked every cell of it for every piece.
    std::vector<PCBObject> two = plane;
    for (const auto& o : plane) {
        PCBObject moved = o;
        if (auto f = o.kind.as<PCBObjectKind::Flash>()) moved = pad(f->at + Vec2{200.4, 0}, ApertureShape::circle(0.6));
        if (auto g = o.kind.as<PCBObjectKind::Region>()) {
            Contour c = g->contours[0];
            for (auto& p : c) p = p + Vec2{200.4, 0};
            moved = region({c});
        }
        two.push_back(moved);
    }
    r = e.estimateMinSpace(two);
    EXPECT_TRUE(r.completed);
    ASSERT_TRUE(r.value);
    EXPECT_NEAR(*r.value, 100.0, 0.01);
}

TEST(BoardSummary, CopperOfDifferentLayersIsNeverPaired) {
    auto pkg = package({copperFile("top.gtl", {track({0, 0}, {10, 0}, 0.2, "A"), track({0, 1}, {10, 1}, 0.2, "B")}),
                        copperFile("bot.gbl", {track({5, -5}, {5, 5}, 0.2, "C")}, CopperLayerID::bottom())});
    const auto s = BoardSummaryEngine().summarize(pkg);
    ASSERT_TRUE(s.minSpaceMM);
    EXPECT_NEAR(*s.minSpaceMM, 0.8, 1e-12);
    EXPECT_TRUE(s.minSpaceReliable);
}

TEST(BoardSummaryEstimate, BudgetExhaustedReportsIncomplete) {
    BoardSummaryEngine e;
    e.timeBudget = -1;
    std::vector<PCBObject> objects = {track({0, 0}, {10, 0}), track({0, 0.3}, {10, 0.3})};
    auto r = e.estimateMinSpace(objects);
    EXPECT_FALSE(r.completed);
    EXPECT_EQ(r.value, std::nullopt);
    // An empty list is complete whatever the budget.
    r = e.estimateMinSpace(std::vector<PCBObject>{});
    EXPECT_TRUE(r.completed);
    // Stopped while the grid is built.
    std::vector<PCBObject> many;
    for (int k = 0; k < 5000; ++k) many.push_back(track({k * 2.0, 0}, {k * 2.0, 1.5}));
    r = e.estimateMinSpace(many);
    EXPECT_FALSE(r.completed);
    auto pkg = package({copperFile("top.gtl", objects)});
    EXPECT_FALSE(e.summarize(pkg).minSpaceReliable);
}

TEST(BoardSummaryEstimate, PadGridGivesTheSameValueAsEveryPair) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> pos(0, 40), size(0.2, 1.5);
    std::uniform_int_distribution<int> kind(0, 3), net(0, 30);
    for (int round = 0; round < 5; ++round) {
        std::vector<PCBObject> pads;
        for (int k = 0; k < 400; ++k) {
            const double a = size(rng), b = size(rng);
            std::optional<ApertureShape> shape;
            switch (kind(rng)) {
            case 0: shape = ApertureShape::circle(a); break;
            case 1: shape = ApertureShape::rectangle(a, b); break;
            case 2: shape = ApertureShape::obround(a, b); break;
            default: shape = ApertureShape::polygon(a, 6, 15); break;
            }
            pads.push_back(pad({pos(rng), pos(rng)}, shape, "N" + std::to_string(net(rng))));
        }
        if (round == 4) pads.push_back(pad({20, 20}, ApertureShape::circle(30), "BIG"));  // larger than the grid's reach
        double expected = std::numeric_limits<double>::infinity();
        CopperBodySet set;
        std::vector<CopperBody> bodies;
        for (const auto& p : pads) bodies.push_back(*set.flash(p.kind.as<PCBObjectKind::Flash>()->at, p.apertureShape));
        for (std::size_t i = 0; i < pads.size(); ++i)
            for (std::size_t j = i + 1; j < pads.size(); ++j) {
                if (*pads[i].net() == *pads[j].net()) continue;
                expected = std::min(expected, set.gap(bodies[i], bodies[j]).gap);
            }
        const auto got = space(pads);
        ASSERT_TRUE(got);
        EXPECT_EQ(*got, expected) << round;
    }
}

TEST(BoardSummaryEstimate, StrayAndNonFiniteGeometryFinishQuickly) {
    std::vector<PCBObject> objects;
    for (int k = 0; k < 100; ++k) objects.push_back(track({k * 1.0, 0}, {k * 1.0, 5}, 0.2, "N" + std::to_string(k)));
    objects.push_back(track({-500000, 7}, {500000, 7}, 0.2, "STRAY"));
    objects.push_back(track({std::nan(""), 0}, {1, 1}, 0.1));
    objects.push_back(pad({std::numeric_limits<double>::infinity(), 0}, ApertureShape::circle(1)));
    objects.push_back(pad({1e300, 1e300}, ApertureShape::circle(1), "FAR"));
    objects.push_back(arc({0, 0}, {1, std::nan("")}, {0, 1}, true, 0.1));
    const auto t0 = std::chrono::steady_clock::now();
    const auto r = BoardSummaryEngine().estimateMinSpace(objects);
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(), 10.0);
    EXPECT_TRUE(r.completed);
    ASSERT_TRUE(r.value);
    EXPECT_NEAR(*r.value, 0.8, 1e-12);  // the stray track is 2 mm above every track end

    // An oversized segment is compared with everything after it, far from its first point too.
    const auto stray = BoardSummaryEngine().estimateMinSpace(
        std::vector<PCBObject>{track({-500000, 0}, {500000, 0}, 0.2, "A"), track({1000, 0.5}, {1001, 0.5}, 0.2, "B")});
    EXPECT_TRUE(stray.completed);
    ASSERT_TRUE(stray.value);
    EXPECT_NEAR(*stray.value, 0.3, 1e-12);
}

TEST(BoardSummary, FieldsFromAWholePackage) {
    auto copper = copperFile("top.gtl", {track({0, 0}, {10, 0}, 0.25, "A"), track({0, 1}, {10, 1}, 0.000001, "B"),
                                         arc({0, 3}, {2, 3}, {1, 3}, false, 0.18), pad({5, 5}, ApertureShape::circle(1)),
                                         pad({8, 5}, ApertureShape::rectangle(1, 2))});
    copper.drill = DrillDocument{};  // drill data of a copper file adds no copper
    copper.drill->hits = {{{1, 1}, 1, Plating::pth}};
    copper.drill->tools[1] = DrillTool{1, 0.6, Plating::pth};
    auto drills = drillFile("board.drl", {{1, 0.3, Plating::pth}, {2, 0.25, Plating::npth}, {3, 0.2, Plating::pth}},
                            {{{1, 1}, 1, Plating::pth}, {{2, 2}, 2, Plating::npth}, {{3, 3}, 1, Plating::unknown}});
    PCBObject slot;
    slot.kind = PCBObjectKind::slot({0, 0}, {1, 0}, 0.8, true);
    drills.drill->slots.push_back(slot);
    auto inner = copperFile("in1.g1", {}, CopperLayerID::inner(1));
    auto topAgain = copperFile("top2.gtl", {});
    auto outline = gerberFile("board.gko", LayerType::outline(), {arc({25, 0}, {25, 0}, {0, 0}, false, 0.1)});
    const auto s = BoardSummaryEngine().summarize(package({copper, drills, inner, topAgain, outline}));
    EXPECT_EQ(s.widthMM, 50.0);  // a full-circle arc outline: a round board, its whole sweep
    EXPECT_EQ(s.heightMM, 50.0);
    EXPECT_EQ(s.copperLayerCount, 3);
    EXPECT_EQ(s.padCount, 2);
    EXPECT_EQ(s.drillCount, 5);  // 1 + 3 hits and 1 slot
    EXPECT_EQ(s.pthCount, 3);    // the plated slot counts with the plated hits
    EXPECT_EQ(s.npthCount, 1);   // the hit of unknown plating is in neither count
    EXPECT_EQ(s.smallestDrillMM, 0.2);  // tool 3 has no hits
    EXPECT_EQ(s.minTrackMM, 0.18);
    EXPECT_TRUE(s.minSpaceReliable);
    EXPECT_EQ(BoardSummaryEngine::unstatedPlatingCount(s), 1);
    // Counts decoded from a stored summary may be anything: never a negative or overflowing remainder.
    BoardSummary stored;
    for (const auto& [drills, pth, npth, unstated] : std::vector<std::array<std::int64_t, 4>>{
             {5, 9, 0, 0}, {INT64_MAX, INT64_MIN, INT64_MIN, INT64_MAX}, {1918988098, INT64_MIN, 0, 1918988098},
             {INT64_MIN, 3, 3, 0}, {INT64_MAX, INT64_MAX, INT64_MAX, 0}, {10, 2, 3, 5}}) {
        stored.drillCount = drills, stored.pthCount = pth, stored.npthCount = npth;
        EXPECT_EQ(BoardSummaryEngine::unstatedPlatingCount(stored), unstated) << drills << " " << pth << " " << npth;
    }
}

TEST(BoardSummary, EmptyPackagesAndOutlineFallback) {
    const auto empty = BoardSummaryEngine().summarize(package({}));
    EXPECT_EQ(empty.widthMM, 0.0);
    EXPECT_EQ(empty.heightMM, 0.0);
    EXPECT_EQ(empty.copperLayerCount, 0);
    EXPECT_EQ(empty.drillCount, 0);
    EXPECT_FALSE(empty.minTrackMM);
    EXPECT_FALSE(empty.minSpaceMM);
    EXPECT_FALSE(empty.smallestDrillMM);
    EXPECT_TRUE(empty.minSpaceReliable);

    // An empty outline file: the size comes from the board box (the copper's extent).
    auto pkg = package({gerberFile("board.gko", LayerType::outline(), {}),
                        copperFile("top.gtl", {track({0, 0}, {10, 0}, 0.2), track({0, 4}, {10, 4}, 0.2)})});
    EXPECT_FALSE(BoardSummaryEngine::outlineCenterlineBBox(pkg));
    const auto s = BoardSummaryEngine().summarize(pkg);
    EXPECT_NEAR(s.widthMM, 10.2, 1e-12);
    EXPECT_NEAR(s.heightMM, 4.2, 1e-12);
    // The outline's centre lines, without aperture growth.
    pkg.files[0] = gerberFile("board.gko", LayerType::outline(), rectangleOutline(1, 2, 31, 22));
    EXPECT_EQ(*BoardSummaryEngine::outlineCenterlineBBox(pkg), (BBox{1, 2, 31, 22}));
    EXPECT_EQ(BoardSummaryEngine().summarize(pkg).widthMM, 30.0);
    // Stray outline corners so far apart that their distance passes the largest double: a size
    // still, not infinity.
    pkg.files[0] = gerberFile("board.gko", LayerType::outline(), rectangleOutline(-1.5e308, 0, 1.5e308, 1e-300));
    const auto stray = BoardSummaryEngine().summarize(pkg);
    EXPECT_EQ(stray.widthMM, std::numeric_limits<double>::max());
    EXPECT_EQ(stray.heightMM, 1e-300);
}

TEST(BoardSummary, EverySizeShownIsTheBoardBox) {
    // A mechanical layer with notes far beside the board, whose edge the importer found: the summary (and
    // with it the report) and the board-dimensions measurement give the edge, not the sheet.
    auto mechanical = gerberFile("board.gm1", LayerType::outline(), rectangleOutline(-100, -80, 160, 120));
    mechanical.boardEdgeBox = BBox{0, 0, 40, 30};
    auto copper = copperFile("top.gtl", {track({5, 5}, {35, 25}, 0.2)});
    auto legend = gerberFile("top.gto", LayerType::silkscreen(CopperLayerID::top()), {track({-50, 0}, {90, 0}, 0.2)});
    auto drills = drillFile("board.drl", {{1, 0.8, Plating::pth}}, {{{2, 28}, 1, Plating::pth}});
    auto agree = [](const PCBPackage& pkg, double w, double h) {
        const BoardSummary s = BoardSummaryEngine().summarize(pkg);
        EXPECT_NEAR(s.widthMM, w, 1e-9);
        EXPECT_NEAR(s.heightMM, h, 1e-9);
        const auto m = MeasureEngine().boardDimensionMeasurement(pkg, Units::mm);
        ASSERT_TRUE(m);
        EXPECT_EQ(*m->p1, (Vec2{pkg.boardBBox().minX, pkg.boardBBox().minY}));
        EXPECT_NEAR(m->valueMM, std::max(w, h), 1e-9);
    };
    const auto withOutline = package({copper, legend, drills, mechanical});
    agree(withOutline, 40, 30);
    EXPECT_EQ(BoardSummaryEngine::sizeSource(withOutline), BoardSizeSource::outline);
    // Without the outline: the copper and the holes, not the legend beyond them.
    const auto without = package({copper, legend, drills});
    agree(without, 35.1 - 2, 28 - 4.9);
    EXPECT_EQ(BoardSummaryEngine::sizeSource(without), BoardSizeSource::layerExtent);
}
