#include <gtest/gtest.h>

#include <cmath>

#include "Builders.hpp"
#include "checks/DFMEngine.hpp"

using namespace corvane;
using namespace corvane::testing;

namespace {

ManufacturingPreset preset(double trace, double space, double drill) { return ManufacturingPreset{"Fab", trace, space, drill, 0.1}; }

std::vector<std::string> ids(const DFMReport& r) {
    std::vector<std::string> out;
    for (const auto& i : r.issues) out.push_back(i.id);
    return out;
}

const CheckIssue* find(const DFMReport& r, const std::string& id) {
    for (const auto& i : r.issues)
        if (i.id == id) return &i;
    return nullptr;
}

PackageFile outlineFile(std::vector<PCBObject> objects, std::string name = "board.gko") {
    return gerberFile(std::move(name), LayerType::outline(), std::move(objects));
}

PackageFile plainDrill() { return drillFile("board.drl", {{1, 0.3, Plating::pth}}, {{{5, 5}, 1, Plating::pth}}); }

// A board 10 × 10 with outline and drill, clean at every preset below.
std::vector<PackageFile> cleanBoard() {
    return {copperFile("board.gtl", {track({1, 1}, {9, 1}, 0.2, "A"), track({1, 3}, {9, 3}, 0.2, "B")}),
            outlineFile(rectangleOutline(0, 0, 10, 10)), plainDrill()};
}

} // namespace

TEST(DFMEngine, EmptyPackageGivesExactlyTheTwoMissingFileErrors) {
    const auto r = DFMEngine().runChecks(package({}), preset(0.15, 0.15, 0.2));
    ASSERT_EQ(ids(r), (std::vector<std::string>{"missingBoardOutline", "missingDrillFile"}));
    EXPECT_EQ(r.issues[0].title, "Missing board outline");
    EXPECT_EQ(r.issues[0].message,
              "Missing board outline: no file in the package was classified as the board outline (profile) layer.");
    EXPECT_EQ(r.issues[1].title, "Missing drill file");
    EXPECT_EQ(r.issues[1].message, "Missing drill file: no Excellon drill data was found in the package.");
    EXPECT_FALSE(r.issues[0].fileName);
    EXPECT_FALSE(r.issues[0].position);
    EXPECT_EQ(r.presetName, "Fab");
    EXPECT_EQ(r.errorCount(), 2);
}

TEST(DFMEngine, CleanBoardAndNilPreset) {
    EXPECT_TRUE(DFMEngine().runChecks(package(cleanBoard()), preset(0.15, 0.15, 0.2)).issues.empty());
    // Without a preset the size rows never appear.
    auto files = cleanBoard();
    files[0] = copperFile("board.gtl", {track({1, 1}, {9, 1}, 0.01, "A"), track({1, 1.05}, {9, 1.05}, 0.01, "B")});
    const auto r = DFMEngine().runChecks(package(files));
    EXPECT_TRUE(r.issues.empty());
    EXPECT_FALSE(r.presetName);
    // A drill layer without a drill document still counts as drill data.
    PackageFile typedOnly = gerberFile("drill.gbr", LayerType::drill(), {});
    EXPECT_EQ(find(DFMEngine().runChecks(package({typedOnly})), "missingDrillFile"), nullptr);
}

TEST(DFMEngine, DuplicateLayersGroupByKeyInKeyOrder) {
    const auto top = [](std::string n) { return copperFile(std::move(n), {}); };
    auto r = DFMEngine().runChecks(package({top("a.gtl"), top("b.gtl")}));
    const CheckIssue* d = find(r, "duplicateLayer");
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->severity, CheckSeverity::warning);
    EXPECT_EQ(d->title, "Duplicate layer");
    EXPECT_EQ(d->message, "Duplicate layer: files 'a.gtl' and 'b.gtl' were all classified as 'Top Copper' (copper:Top).");
    EXPECT_EQ(d->fileName, "a.gtl");

    r = DFMEngine().runChecks(package({top("a"), top("b"), top("c")}));
    EXPECT_EQ(find(r, "duplicateLayer")->message,
              "Duplicate layer: files 'a', 'b', 'c' were all classified as 'Top Copper' (copper:Top).");

    // Groups in key order: "copper:Bottom" < "outline". Unrecognised files are warned of once each, for that
    // alone: neither as duplicates of each other nor as doubtfully classified.
    auto unknown = [](std::string n) { return gerberFile(std::move(n), LayerType::unknown(), {}); };
    auto bottom = [](std::string n) { return copperFile(std::move(n), {}, CopperLayerID::bottom()); };
    PackageFile doubtful = unknown("x3");
    doubtful.confidence = DetectionConfidence::low;
    r = DFMEngine().runChecks(package({unknown("x1"), outlineFile(rectangleOutline(0, 0, 5, 5), "o1"), unknown("x2"),
                                       bottom("b1"), outlineFile(rectangleOutline(0, 0, 5, 5), "o2"), bottom("b2"),
                                       doubtful}));
    std::vector<std::string> dupFiles, unexpected;
    for (const auto& i : r.issues) {
        if (i.id == "duplicateLayer") dupFiles.push_back(*i.fileName);
        if (i.id == "unexpectedLayer") unexpected.push_back(*i.fileName);
    }
    EXPECT_EQ(dupFiles, (std::vector<std::string>{"b1", "o1"}));
    EXPECT_EQ(unexpected, (std::vector<std::string>{"x1", "x2", "x3"}));
    EXPECT_EQ(find(r, "layerMisclassification"), nullptr);
    const CheckIssue* u = find(r, "unexpectedLayer");
    EXPECT_EQ(u->title, "Unrecognized layer");
    EXPECT_EQ(u->message, "Unexpected layer: file 'x1' could not be classified and is skipped by layer-aware checks.");
}

TEST(DFMEngine, SplitDrillFilesAreNotDuplicates) {
    auto files = cleanBoard();
    files.push_back(drillFile("board-NPTH.drl", {{1, 3.0, Plating::npth}}, {{{2, 2}, 1, Plating::npth}}));
    files.push_back(drillFile("board-slots.drl", {{1, 0.8, Plating::pth}}, {}));
    EXPECT_EQ(find(DFMEngine().runChecks(package(files)), "duplicateLayer"), nullptr);
}

TEST(DFMEngine, LowConfidenceLayers) {
    auto files = cleanBoard();
    files.push_back(gerberFile("maybe.gbr", LayerType::silkscreen(CopperLayerID::bottom()), {}, DetectionConfidence::low));
    const auto r = DFMEngine().runChecks(package(files));
    ASSERT_EQ(r.issues.size(), 1u);
    EXPECT_EQ(r.issues[0].id, "layerMisclassification");
    EXPECT_EQ(r.issues[0].title, "Low-confidence layer classification");
    EXPECT_EQ(r.issues[0].message,
              "Layer misclassification risk: 'maybe.gbr' was classified as 'Bottom Silkscreen' with low confidence.");
    EXPECT_EQ(r.issues[0].fileName, "maybe.gbr");
}

TEST(DFMEngine, OutlineClosure) {
    const double tol = 0.01;
    EXPECT_TRUE(DFMEngine::outlineIsClosed(rectangleOutline(0, 0, 10, 10), tol));
    auto gapAt = [](double g) {
        return std::vector<PCBObject>{track({0, 0}, {10, 0}), track({10, 0}, {10, 10}), track({10, 10}, {0, 10}),
                                      track({0, 10}, {0, g})};
    };
    EXPECT_TRUE(DFMEngine::outlineIsClosed(gapAt(0.005), tol));
    EXPECT_TRUE(DFMEngine::outlineIsClosed(gapAt(0.0099), tol));
    EXPECT_FALSE(DFMEngine::outlineIsClosed(gapAt(0.0101), tol));
    EXPECT_FALSE(DFMEngine::outlineIsClosed(gapAt(0.02), tol));
    // A region makes any outline closed; no stroke ends at all is closed too.
    auto withRegion = gapAt(1.0);
    withRegion.push_back(region({{{0, 0}, {1, 0}, {1, 1}}}));
    EXPECT_TRUE(DFMEngine::outlineIsClosed(withRegion, tol));
    EXPECT_TRUE(DFMEngine::outlineIsClosed({pad({0, 0}, ApertureShape::circle(1))}, tol));
    EXPECT_TRUE(DFMEngine::outlineIsClosed({}, tol));
    // One full-circle arc: both ends belong to the same object.
    EXPECT_FALSE(DFMEngine::outlineIsClosed({arc({5, 0}, {5, 0}, {0, 0}, false, 0.1)}, tol));
    // Two half circles close.
    EXPECT_TRUE(DFMEngine::outlineIsClosed({arc({5, 0}, {-5, 0}, {0, 0}, false), arc({-5, 0}, {5, 0}, {0, 0}, false)}, tol));
    // An end that is not a number meets nothing: the outline cannot be shown closed.
    auto withNaN = rectangleOutline(0, 0, 10, 10);
    withNaN[1] = track({10, 0}, {std::nan(""), 10});
    withNaN[2] = track({std::nan(""), 10}, {0, 10});
    EXPECT_FALSE(DFMEngine::outlineIsClosed(withNaN, tol));
    // Ends far apart in huge coordinates still fail, quickly.
    EXPECT_FALSE(DFMEngine::outlineIsClosed({track({-1e300, 0}, {1e300, 0}), track({1e300, 1}, {-1e300, 1})}, tol));

    auto files = cleanBoard();
    files[1] = outlineFile(gapAt(0.02), "edge.gm1");
    const auto r = DFMEngine().runChecks(package(files));
    const CheckIssue* u = find(r, "unclosedOutline");
    ASSERT_NE(u, nullptr);
    EXPECT_EQ(u->title, "Unclosed board outline");
    EXPECT_EQ(u->message, "Unclosed board outline: the outline geometry in 'edge.gm1' does not form a closed loop.");
    EXPECT_EQ(u->fileName, "edge.gm1");
}

TEST(DFMEngine, DrillHitsOutsideTheOutlineWithGrace) {
    // The board's edge is the centre of its outline strokes: (0, 0)-(10, 10).
    auto files = cleanBoard();
    std::vector<DrillHit> hits = {{{5, 5}, 1, Plating::pth}, {{11.0, 5}, 1, Plating::pth}, {{5, -1.0}, 1, Plating::pth}};
    files[2] = drillFile("board.drl", {{1, 0.3, Plating::pth}}, hits);
    EXPECT_TRUE(DFMEngine::drillHitsOutside(package(files), 1.0).empty());

    for (int k = 0; k < 12; ++k) hits.push_back({{20.0 + k, 30.5}, 1, Plating::pth});
    files[2] = drillFile("board.drl", {{1, 0.3, Plating::pth}}, hits);
    const auto r = DFMEngine().runChecks(package(files));
    const CheckIssue* d = find(r, "drillOutsideBoard");
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->title, "Drill hit outside board");
    EXPECT_EQ(d->message,
              "Drill outside board: 12 drill hit(s) lie outside the board outline with 1.0 mm grace: (20.000, 30.500), "
              "(21.000, 30.500), (22.000, 30.500), (23.000, 30.500), (24.000, 30.500), (25.000, 30.500), (26.000, "
              "30.500), (27.000, 30.500), (28.000, 30.500), (29.000, 30.500)");
    EXPECT_EQ(d->position, (Vec2{20, 30.5}));
    EXPECT_FALSE(d->fileName);

    // No outline: no drill position check whatever the drills.
    files.erase(files.begin() + 1);
    const auto noOutline = DFMEngine().runChecks(package(files));
    EXPECT_NE(find(noOutline, "missingBoardOutline"), nullptr);
    EXPECT_EQ(find(noOutline, "drillOutsideBoard"), nullptr);
}

TEST(DFMEngine, TraceWidthAgainstThePreset) {
    auto withTraces = [](std::vector<PCBObject> traces) {
        auto files = cleanBoard();
        files[0] = copperFile("board.gtl", std::move(traces));
        return DFMEngine().runChecks(package(files), preset(0.15, 0, 0.2));
    };
    EXPECT_TRUE(withTraces({track({1, 1}, {2, 1}, 0.1499995)}).issues.empty());
    EXPECT_TRUE(withTraces({track({1, 1}, {2, 1}, 0.15)}).issues.empty());
    auto r = withTraces({track({1, 1}, {2, 1}, 0.2), track({3, 3}, {4, 3}, 0.1499), track({5, 5}, {6, 5}, 0.1499)});
    ASSERT_EQ(r.issues.size(), 1u);
    EXPECT_EQ(r.issues[0].id, "minTraceBelowPreset");
    EXPECT_EQ(r.issues[0].title, "Trace width below preset");
    EXPECT_EQ(r.issues[0].message, "Minimum trace width 0.150 mm is below the preset minimum 0.150 mm.");
    EXPECT_EQ(r.issues[0].fileName, "board.gtl");
    EXPECT_EQ(r.issues[0].position, (Vec2{3, 3}));  // the first of the narrowest
    // Arcs count with their start point; flashes and shapeless strokes do not.
    r = withTraces({pad({1, 1}, ApertureShape::circle(0.05)), track({2, 2}, {3, 2}),
                    arc({4, 4}, {4, 4}, {4, 5}, true, 0.1), track({6, 6}, {7, 6}, 0.12)});
    ASSERT_EQ(r.issues.size(), 1u);
    EXPECT_EQ(r.issues[0].message, "Minimum trace width 0.100 mm is below the preset minimum 0.150 mm.");
    EXPECT_EQ(r.issues[0].position, (Vec2{4, 4}));
    // Non-copper layers are not looked at.
    auto files = cleanBoard();
    files.push_back(gerberFile("silk.gto", LayerType::silkscreen(CopperLayerID::top()), {track({1, 1}, {2, 1}, 0.05)}));
    EXPECT_TRUE(DFMEngine().runChecks(package(files), preset(0.15, 0, 0.2)).issues.empty());
}

TEST(DFMEngine, DrillDiameterAgainstThePreset) {
    auto files = cleanBoard();
    files[2] = drillFile("a.drl", {{1, 0.2, Plating::pth}, {2, 0.8, Plating::pth}}, {{{5, 5}, 1, Plating::pth}});
    EXPECT_TRUE(DFMEngine().runChecks(package(files), preset(0, 0, 0.2)).issues.empty());
    // Tools without hits count; the first file wins a tie.
    files[2] = drillFile("a.drl", {{1, 0.3, Plating::pth}, {7, 0.15, Plating::pth}}, {{{5, 5}, 1, Plating::pth}});
    files.push_back(drillFile("b.drl", {{1, 0.15, Plating::npth}}, {}));
    const auto r = DFMEngine().runChecks(package(files), preset(0, 0, 0.2));
    ASSERT_EQ(r.issues.size(), 1u);
    EXPECT_EQ(r.issues[0].id, "minDrillBelowPreset");
    EXPECT_EQ(r.issues[0].title, "Drill diameter below preset");
    EXPECT_EQ(r.issues[0].message, "Smallest drill diameter 0.150 mm is below the preset minimum 0.200 mm.");
    EXPECT_EQ(r.issues[0].fileName, "a.drl");
    EXPECT_FALSE(r.issues[0].position);
}

TEST(DFMEngine, SpacingRowsComeLastAmongErrorsAndWarningsFollow) {
    auto files = cleanBoard();
    files[0] = copperFile("board.gtl", {track({1, 1}, {9, 1}, 0.2, "A"), track({1, 1.3}, {9, 1.3}, 0.2, "B"),
                                        track({1, 5}, {2, 5}, 0.1, "C")});
    files.push_back(gerberFile("notes.txt", LayerType::unknown(), {}));
    files.push_back(drillFile("small.drl", {{1, 0.1, Plating::pth}}, {{{30, 30}, 1, Plating::pth}}));
    const auto r = DFMEngine().runChecks(package(files), preset(0.15, 0.15, 0.2));
    EXPECT_EQ(ids(r), (std::vector<std::string>{"drillOutsideBoard", "minTraceBelowPreset", "minDrillBelowPreset",
                                                 "minSpaceBelowPreset", "unexpectedLayer"}));
    EXPECT_EQ(r.errorCount(), 4);
    EXPECT_EQ(r.warningCount(), 1);
    EXPECT_EQ(find(r, "minSpaceBelowPreset")->message, "Copper spacing 0.100 mm is below the preset minimum 0.150 mm.");
    // A zero spacing minimum switches the spacing row off.
    EXPECT_EQ(find(DFMEngine().runChecks(package(files), preset(0.15, 0, 0.2)), "minSpaceBelowPreset"), nullptr);
}
