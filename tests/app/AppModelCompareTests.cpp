#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>

#include <set>

#include "AppTestSupport.hpp"
#include "canvas/CanvasTransform.hpp"
#include "model/NotificationHub.hpp"

using namespace corvane;
using namespace corvane::testing;

namespace {

using Ptr = AppModel::PackagePtr;

Ptr share(PCBPackage p) { return std::make_shared<const PCBPackage>(std::move(p)); }

// Revision B of sampleBoard: one track moved, one added.
PCBPackage revisedBoard() {
    PCBPackage p = sampleBoard("board-revB");
    auto& objects = p.files[0].gerber->objects;
    objects[1] = stroke({20, 5}, {20, 25});
    objects.push_back(stroke({25, 5}, {30, 5}));
    objects = numbered(objects);
    return p;
}

std::vector<Vec2> drillPositions(const std::vector<PCBObject>& objects) {
    std::vector<Vec2> out;
    for (const auto& o : objects) out.push_back(o.kind.as<PCBObjectKind::Drill>()->at);
    return out;
}

BoardMeasurement userMeasurement(AppModel& m, double length) {
    return m.measureEngine().distanceMeasurement({0, 0}, {length, 0}, MeasurementKind::pointToPoint, Units::mm);
}

} // namespace

TEST(AppCompare, StartCompareShowsRowsStatusAndColouredLayers) {
    Fixture f;
    f.model.canvasSizeChanged(QSizeF(800, 600));
    f.model.loadPackage(sampleBoard("board"));
    QSignalSpy checks(&f.model, &AppModel::checksFinished);
    ASSERT_TRUE(checks.wait(20000));
    const auto summary = f.model.boardSummary();
    const auto measurements = f.model.measurements();

    QSignalSpy rowsSpy(&f.model, &AppModel::compareRowsChanged);
    f.model.startCompare(share(sampleBoard("board")), "board.zip", share(revisedBoard()));

    // Both revisions named alike: revision A's archive without ".zip", as revision B's package is.
    EXPECT_EQ(f.model.statusMessage(), "Compare board \u2192 board-revB: 3 changes");
    EXPECT_EQ(f.model.compareBaseName(), "board");
    EXPECT_EQ(f.model.revisionTitles()[0], "Revision A \u2014 board");
    ASSERT_TRUE(f.model.compareBase());
    ASSERT_TRUE(f.model.compareDiff());
    EXPECT_EQ(f.model.package()->name, "board-revB");
    EXPECT_GE(rowsSpy.count(), 1);

    // The changed layer first; rows of equal totals keep the comparison's order.
    const auto& rows = f.model.compareRows();
    ASSERT_EQ(rows.size(), f.model.compareDiff()->layers.size());
    EXPECT_EQ(rows[0].layerKey, "Top Copper");
    EXPECT_EQ(rows[0].addedCount, 2);
    EXPECT_EQ(rows[0].removedCount, 1);
    EXPECT_EQ(rows[0].added.size(), 2u);
    std::vector<std::string> rest, diffOrder;
    for (std::size_t i = 1; i < rows.size(); ++i) rest.push_back(rows[i].layerKey);
    for (const auto& l : f.model.compareDiff()->layers)
        if (l.layerKey != "Top Copper") diffOrder.push_back(l.layerKey);
    EXPECT_EQ(rest, diffOrder);

    std::vector<std::string> expectedIds;
    for (const auto& r : rows)
        for (const char* part : {":same", ":removed", ":added"}) expectedIds.push_back("diff:" + r.layerKey + part);
    EXPECT_EQ(f.renderer.ids(), expectedIds);
    const auto& same = *f.renderer.find("diff:Top Copper:same");
    const auto& removed = *f.renderer.find("diff:Top Copper:removed");
    const auto& added = *f.renderer.find("diff:Top Copper:added");
    EXPECT_EQ(same.color, (BoardRenderer::Color{0.55f, 0.57f, 0.60f, 1.0f}));
    EXPECT_EQ(same.opacity, 0.5f);
    EXPECT_EQ(removed.color, (BoardRenderer::Color{1.0f, 0.28f, 0.28f, 1.0f}));
    EXPECT_EQ(removed.opacity, 0.95f);
    EXPECT_EQ(added.color, (BoardRenderer::Color{0.30f, 0.90f, 0.40f, 1.0f}));
    for (const auto& l : f.renderer.layers) EXPECT_TRUE(l.visible) << l.id;
    EXPECT_FALSE(removed.geometry->dark.vertices().empty());
    EXPECT_FALSE(added.geometry->dark.vertices().empty());

    // However started, the comparison holds both revisions whole: each has its drill tables and summary at
    // once, and its checks run after the comparison is drawn. The measurements stay.
    EXPECT_EQ(f.model.boardSummary()->widthMM, summary->widthMM);
    ASSERT_TRUE(f.model.compareBaseSummary());
    EXPECT_EQ(f.model.compareBaseSummary()->drillCount, 3);
    ASSERT_EQ(f.model.drillFiles().size(), 1u);
    ASSERT_EQ(f.model.compareBaseDrillFiles().size(), 1u);
    EXPECT_EQ(f.model.compareBaseDrillFiles()[0].stats, f.model.drillFiles()[0].stats);
    EXPECT_EQ(f.model.measurements(), measurements);
    EXPECT_FALSE(f.model.dfmReport());
    EXPECT_TRUE(f.model.checksPending());
    QTRY_VERIFY_WITH_TIMEOUT(!f.model.checksPending(), 20000);
    ASSERT_TRUE(f.model.dfmReport());
    ASSERT_TRUE(f.model.compareBaseReport());
    // A new preset checks both revisions again.
    f.model.setActivePreset(f.model.presets().front());
    QTRY_VERIFY_WITH_TIMEOUT(!f.model.checksPending(), 20000);
    EXPECT_EQ(f.model.compareBaseReport()->presetName, f.model.presets().front().name);
    EXPECT_EQ(f.model.dfmReport()->presetName, f.model.presets().front().name);

    // Leaving compare mode uploads the plain layers again and keeps the base name.
    f.model.clearCompare();
    EXPECT_FALSE(f.model.compareDiff());
    EXPECT_FALSE(f.model.compareBase());
    EXPECT_FALSE(f.model.compareBaseReport());
    EXPECT_TRUE(f.model.compareBaseDrillFiles().empty());
    EXPECT_TRUE(f.model.compareRows().empty());
    EXPECT_EQ(f.model.compareBaseName(), "board");
    EXPECT_EQ(f.renderer.ids(), (std::vector<std::string>{"layer:board-F_Cu.gbr", "layer:board-Edge_Cuts.gbr", "layer:board.drl"}));
}

TEST(AppCompare, IdenticalPackagesAreAllGrey) {
    Fixture f;
    f.model.startCompare(share(sampleBoard()), "same.zip", share(sampleBoard()));
    EXPECT_EQ(f.model.statusMessage(), "Compare same \u2192 board: 0 changes");
    ASSERT_FALSE(f.renderer.layers.empty());
    {
        // One change is counted as one.
        Fixture one;
        PCBPackage b = sampleBoard();
        b.files[0].gerber->objects.push_back(stroke({25, 5}, {30, 5}));
        one.model.startCompare(share(sampleBoard()), "same.zip", share(b));
        EXPECT_EQ(one.model.statusMessage(), "Compare same \u2192 board: 1 change");
    }
    for (const auto& l : f.renderer.layers) {
        const bool isSame = l.id.size() > 5 && l.id.compare(l.id.size() - 5, 5, ":same") == 0;
        if (isSame) {
            EXPECT_FALSE(l.geometry->dark.vertices().empty()) << l.id;
            EXPECT_EQ(l.opacity, 0.5f);
        } else {
            EXPECT_TRUE(l.geometry->dark.vertices().empty() && l.geometry->clear.vertices().empty()) << l.id;
        }
    }
}

TEST(AppCompare, RowsJoiningSeveralFilesKeepUnrelatedObjects) {
    PCBPackage a, b;
    a.name = "a";
    b.name = "b";
    const DrillTool small{1, 0.3, Plating::pth}, big{1, 3.0, Plating::npth};
    a.files.push_back(drillFile("plated.drl", {small}, {hit({1, 1}), hit({2, 2})}));
    a.files.push_back(drillFile("npth.drl", {big}, {hit({5, 5}, 1, Plating::npth)}));
    b.files.push_back(drillFile("plated.drl", {small}, {hit({2, 2})}));
    b.files.push_back(drillFile("npth.drl", {big}, {hit({5, 5}, 1, Plating::npth)}));
    const CompareRow row{"Drill", 0, 1, {}, {}};
    const auto groups = AppModel::compareGroupedObjects(row, a, b);
    ASSERT_EQ(groups.removed.size(), 1u);
    EXPECT_EQ(drillPositions(groups.removed), (std::vector<Vec2>{{1, 1}}));
    EXPECT_TRUE(groups.added.empty());
    // The first hit of npth.drl shares its stored index with the removed hit and must stay.
    EXPECT_EQ(drillPositions(groups.same), (std::vector<Vec2>{{2, 2}, {5, 5}}));
    EXPECT_EQ(groups.removed[0].index, 0);
    EXPECT_EQ(groups.same[0].index, 1);
    EXPECT_EQ(groups.same[1].index, 0);

    // A single-file row: same is A without exactly the removed objects.
    const PCBPackage base = sampleBoard(), revised = revisedBoard();
    const auto top = AppModel::compareGroupedObjects(CompareRow{"Top Copper"}, base, revised);
    EXPECT_EQ(top.same.size(), 2u);
    EXPECT_EQ(top.removed.size(), 1u);
    EXPECT_EQ(top.added.size(), 2u);
    EXPECT_EQ(top.removed[0].index, 1);

    const auto none = AppModel::compareGroupedObjects(CompareRow{"Bottom Silkscreen"}, base, revised);
    EXPECT_TRUE(none.same.empty() && none.removed.empty() && none.added.empty());
}

// Four mechanical drawings the classifier left as "Unknown", each changed, and a board whose copper changed
// least: every drawing is a row of its own, named by its file, and compares that file alone; copper leads.
TEST(AppCompare, RolesSharedBySeveralFilesAreNamedByTheFileAndCopperLeads) {
    const auto revision = [](const std::string& name, int revision) {
        PCBPackage p = sampleBoard(name);
        auto& copper = p.files[0].gerber->objects;
        if (revision == 2) copper.push_back(stroke({25, 5}, {30, 5}));
        copper = numbered(copper);
        for (int i = 1; i <= 4; ++i) {
            std::vector<PCBObject> drawing;
            // Drawing i gains i + 1 lines in revision B: the later drawings changed most.
            for (int j = 0; j < 2 + (revision == 2 ? i + 1 : 0); ++j)
                drawing.push_back(stroke({double(10 * i), double(j)}, {double(10 * i + 5), double(j)}, 0.1));
            p.files.push_back(gerberFile(name + "-Mech" + std::to_string(i) + ".gbr", LayerType::unknown(), numbered(drawing)));
        }
        return p;
    };
    Fixture f;
    f.model.canvasSizeChanged(QSizeF(800, 600));
    PCBPackage a = revision("card", 1), b = revision("card", 2);
    f.model.startCompare(share(a), "card.zip", share(b));

    std::vector<std::string> keys;
    for (const auto& row : f.model.compareRows()) keys.push_back(row.layerKey);
    EXPECT_EQ(keys, (std::vector<std::string>{"Top Copper", "card-Mech4.gbr", "card-Mech3.gbr", "card-Mech2.gbr",
                                              "card-Mech1.gbr", "Board Outline", "Drill"}));
    // The comparison the report prints names them alike.
    std::set<std::string> diffKeys;
    for (const auto& l : f.model.compareDiff()->layers) diffKeys.insert(l.layerKey);
    EXPECT_EQ(diffKeys, std::set<std::string>(keys.begin(), keys.end()));
    const CompareRow& mech2 = f.model.compareRows()[3];
    EXPECT_EQ(mech2.addedCount, 3);
    EXPECT_EQ(mech2.fileNameA, "card-Mech2.gbr");
    EXPECT_EQ(mech2.fileNameB, "card-Mech2.gbr");
    // Each row's picture is its own file's: the objects of the other drawings are not in it.
    const auto groups = f.model.compareGroups("card-Mech2.gbr");
    ASSERT_TRUE(groups);
    EXPECT_EQ(groups->same.size(), 2u);
    EXPECT_EQ(groups->added.size(), 3u);
    EXPECT_TRUE(groups->removed.empty());
    for (const auto& o : groups->added) EXPECT_EQ(o.bbox.minX, 20 - 0.05);
    const auto* added = f.renderer.find("diff:card-Mech2.gbr:added");
    ASSERT_TRUE(added);
    EXPECT_FALSE(added->geometry->dark.vertices().empty());
    EXPECT_EQ(f.model.statusMessage(), "Compare card \u2192 card: 15 changes");
}

TEST(AppCompare, ARowMatchingNoFileUploadsNothing) {
    Fixture f;
    f.model.startCompare(share(sampleBoard()), "a.zip", share(revisedBoard()));
    f.model.setCompareRows({CompareRow{"Bottom Silkscreen"}, CompareRow{"Top Copper", 2, 1, {}, {}}});
    f.model.syncRenderer();
    EXPECT_EQ(f.renderer.ids(), (std::vector<std::string>{"diff:Top Copper:same", "diff:Top Copper:removed",
                                                          "diff:Top Copper:added"}));
    EXPECT_FALSE(f.model.compareGroups("Bottom Silkscreen")->same.size());
    EXPECT_EQ(f.model.compareGroups("Top Copper")->added.size(), 2u);
    EXPECT_EQ(f.model.compareGroups("Nothing"), nullptr);
}

TEST(AppCompare, LoadingLeavesCompareMode) {
    Fixture f;
    f.model.startCompare(share(sampleBoard()), "a.zip", share(revisedBoard()));
    f.model.setCompareHighlight(f.model.compareRows()[0].added[0]);
    f.model.loadPackage(sampleBoard("next"));
    EXPECT_FALSE(f.model.compareDiff());
    EXPECT_FALSE(f.model.compareHighlight());
    EXPECT_TRUE(f.model.compareRows().empty());
    EXPECT_EQ(f.renderer.ids().front(), "layer:board-F_Cu.gbr");
    EXPECT_EQ(f.model.compareGroups("Top Copper"), nullptr);
}

// ---- Camera -----------------------------------------------------------------------------------------------

TEST(AppCamera, FitCentresAndScalesAndTellsEveryone) {
    Fixture f;
    f.model.canvasSizeChanged(QSizeF(1000, 500));
    int overlay = 0;
    QObject context;
    Notifications::observe(Notifications::overlayNeedsDisplay, &context, [&] { ++overlay; });
    QSignalSpy camera(&f.model, &AppModel::cameraChanged);
    f.model.fitBBox(BBox{10, 10, 110, 30});
    EXPECT_EQ(f.model.camera().center, (Vec2{60, 20}));
    EXPECT_DOUBLE_EQ(f.model.camera().pxPerMM, std::min(1000 / 160.0, 500 / 32.0));
    EXPECT_EQ(overlay, 1);
    EXPECT_EQ(camera.count(), 1);
    ASSERT_TRUE(f.renderer.cameraSet);
    EXPECT_EQ(f.renderer.camera(), f.model.camera());

    // A single point is fitted with the smallest divisor on both axes.
    f.model.fitBBox(BBox{3, 4, 3, 4});
    EXPECT_EQ(f.model.camera().center, (Vec2{3, 4}));
    EXPECT_DOUBLE_EQ(f.model.camera().pxPerMM, 500 / 0.5);

    // Fitting does not clamp: a board 1e20 mm wide gets a tiny scale.
    f.model.fitBBox(BBox{0, 0, 1e20, 1e20});
    EXPECT_DOUBLE_EQ(f.model.camera().pxPerMM, 500 / 1.6e20);
    EXPECT_GT(f.model.camera().pxPerMM, 0);
    EXPECT_DOUBLE_EQ(f.model.camera().center.x, 5e19);

    // Boxes that would give no usable scale leave the camera alone.
    const CameraState before = f.model.camera();
    f.model.fitBBox(BBox::empty());
    f.model.fitBBox(BBox{-1e308, -1e308, 1e308, 1e308});
    f.model.fitBBox(BBox{0, 0, std::numeric_limits<double>::infinity(), 1});
    f.model.fitBBox(BBox{std::numeric_limits<double>::quiet_NaN(), 0, 1, 1});
    EXPECT_EQ(f.model.camera(), before);
    EXPECT_EQ(camera.count(), 3);

    f.model.canvasSizeChanged(QSizeF(10, 500));
    f.model.fitBBox(BBox{0, 0, 1, 1});
    EXPECT_EQ(f.model.camera(), before);
}

TEST(AppCamera, ALayoutWithoutHeightDoesNotUseUpTheFirstFit) {
    Fixture f;
    f.model.canvasSizeChanged(QSizeF(1280, 0));
    f.model.loadPackage(sampleBoard());
    EXPECT_FALSE(f.model.hasFitted());
    EXPECT_EQ(f.model.camera(), CameraState{});
    f.model.canvasSizeChanged(QSizeF(1280, 0));
    EXPECT_FALSE(f.model.hasFitted());
    EXPECT_EQ(f.model.camera(), CameraState{});
    f.model.canvasSizeChanged(QSizeF(1280, 800));
    EXPECT_TRUE(f.model.hasFitted());
    EXPECT_EQ(f.model.camera().center, (Vec2{20, 15}));
    EXPECT_DOUBLE_EQ(f.model.camera().pxPerMM, std::min(1280 / 64.0, 800 / 48.0));
    // Only the first usable size fits.
    f.model.setCamera(CameraState{{1, 1}, 3.0, true});
    f.model.canvasSizeChanged(QSizeF(5, 5));
    f.model.canvasSizeChanged(QSizeF(900, 700));
    EXPECT_EQ(f.model.camera(), (CameraState{{1, 1}, 3.0, true}));
}

TEST(AppCamera, GrowingToExactlyTenPointsUsesTheFitWithoutMovingTheCamera) {
    Fixture f;
    f.model.canvasSizeChanged(QSizeF(5, 5));
    f.model.loadPackage(sampleBoard());
    EXPECT_FALSE(f.model.hasFitted());
    f.model.canvasSizeChanged(QSizeF(10, 10));
    EXPECT_TRUE(f.model.hasFitted());
    EXPECT_EQ(f.model.camera(), CameraState{});
    EXPECT_EQ(f.model.canvasSize(), QSizeF(10, 10));
}

TEST(AppCamera, NoBoardOrNoBoxMeansNoFit) {
    Fixture f;
    f.model.canvasSizeChanged(QSizeF(800, 600));
    EXPECT_FALSE(f.model.hasFitted());
    PCBPackage empty;
    empty.name = "empty";
    empty.files.push_back(gerberFile("x.gbr", LayerType::unknown(), {}));
    f.model.loadPackage(empty);
    EXPECT_FALSE(f.model.hasFitted());
    EXPECT_EQ(f.model.camera(), CameraState{});
}

TEST(AppCamera, ZoomToCentresAndShowsTheSpan) {
    Fixture f;
    QSignalSpy camera(&f.model, &AppModel::cameraChanged);
    f.model.canvasSizeChanged(QSizeF(10, 400));
    f.model.zoomTo({5, 6}, 12);
    EXPECT_EQ(f.model.camera().center, (Vec2{5, 6}));
    EXPECT_EQ(f.model.camera().pxPerMM, 8.0);
    f.model.canvasSizeChanged(QSizeF(600, 400));
    f.model.zoomTo({7, 8}, 12);
    EXPECT_EQ(f.model.camera().center, (Vec2{7, 8}));
    EXPECT_DOUBLE_EQ(f.model.camera().pxPerMM, 400 / 12.0);
    f.model.zoomTo({7, 8}, 0);
    EXPECT_DOUBLE_EQ(f.model.camera().pxPerMM, 400 / 0.5);
    EXPECT_EQ(camera.count(), 3);
    EXPECT_EQ(f.renderer.camera(), f.model.camera());
}

// A change is shown with what is around it: never closer than the span Locate shows, so that a small pad
// does not fill the canvas alone; a large change is fitted whole.
TEST(AppCamera, AChangeIsShownWithItsSurroundings) {
    Fixture f;
    f.model.canvasSizeChanged(QSizeF(800, 600));
    DiffChange pad{"Added", "Flash (Pad)", {10, 20}, BBox{9.85, 19.85, 10.15, 20.15}, ""};
    f.model.showChange(pad);
    EXPECT_EQ(f.model.compareHighlight(), pad);
    EXPECT_EQ(f.model.camera().center, (Vec2{10, 20}));
    EXPECT_DOUBLE_EQ(f.model.camera().pxPerMM, 600 / AppModel::locateSpanMM);

    DiffChange pour{"Removed", "Region (Fill)", {50, 40}, BBox{20, 30, 80, 50}, ""};
    f.model.showChange(pour);
    EXPECT_EQ(f.model.camera().center, (Vec2{50, 40}));
    EXPECT_DOUBLE_EQ(f.model.camera().pxPerMM, std::min(800 / (1.6 * 60), 600 / (1.6 * 20)));
    EXPECT_EQ(f.renderer.camera(), f.model.camera());
}

// Locate into a part of the canvas (what a sheet beside it leaves free): the place lands in the middle of that
// part, the span across its shorter side, from either side of the board; the object there is ringed.
TEST(AppCamera, LocateShowsThePlaceInTheMiddleOfTheFreePart) {
    Fixture f;
    f.model.canvasSizeChanged(QSizeF(800, 600));
    f.model.loadPackage(sampleBoard());
    const QRectF free(500, 0, 300, 600);
    for (bool mirrored : {false, true}) {
        CameraState camera = f.model.camera();
        camera.mirrored = mirrored;
        f.model.setCamera(camera);
        f.model.locate(Vec2{10, 10}, AppModel::locateSpanMM, free);
        EXPECT_DOUBLE_EQ(f.model.camera().pxPerMM, 300 / AppModel::locateSpanMM);
        const Vec2 at = CanvasTransform(800, 600, f.model.camera()).toView(Vec2{10, 10});
        EXPECT_NEAR(at.x, 650, 1e-9) << mirrored;
        EXPECT_NEAR(at.y, 300, 1e-9) << mirrored;
        EXPECT_EQ(f.model.locatedPoint(), (Vec2{10, 10}));
        // The pad at (10, 10) with its hole: the pad, the larger, is ringed whole.
        ASSERT_TRUE(f.model.locatedObjectBox());
        EXPECT_EQ(*f.model.locatedObjectBox(), (BBox{9.5, 9.5, 10.5, 10.5}));
    }
    // Between objects nothing is ringed; without a part the whole canvas is used, as before.
    f.model.locate(Vec2{30, 10}, AppModel::locateSpanMM);
    EXPECT_FALSE(f.model.locatedObjectBox());
    EXPECT_EQ(f.model.camera().center, (Vec2{30, 10}));
    EXPECT_DOUBLE_EQ(f.model.camera().pxPerMM, 600 / AppModel::locateSpanMM);
}

// ---- Measurements -----------------------------------------------------------------------------------------

TEST(AppMeasurements, NewestFirstAtMostTwenty) {
    Fixture f;
    for (int i = 1; i <= 21; ++i) f.model.addMeasurement(userMeasurement(f.model, i));
    ASSERT_EQ(f.model.measurements().size(), 20u);
    EXPECT_EQ(f.model.measurements().front().valueMM, 21);
    EXPECT_EQ(f.model.measurements().back().valueMM, 2);  // the first one was pushed out
    f.model.clearMeasurements();
    EXPECT_TRUE(f.model.measurements().empty());
}

TEST(AppMeasurements, BoardDimensionsStayFirstAndSurviveClearing) {
    Fixture f;
    f.model.loadPackage(sampleBoard());
    ASSERT_EQ(f.model.measurements().size(), 1u);
    QSignalSpy changed(&f.model, &AppModel::measurementsChanged);
    for (int i = 1; i <= 21; ++i) f.model.addMeasurement(userMeasurement(f.model, i));
    EXPECT_EQ(changed.count(), 21);
    ASSERT_EQ(f.model.measurements().size(), 20u);
    EXPECT_EQ(f.model.measurements()[0].kind, MeasurementKind::boardDimensions);
    EXPECT_EQ(f.model.measurements()[1].valueMM, 21);
    EXPECT_EQ(f.model.measurements()[19].valueMM, 3);  // 19 user measurements beside the dimensions
    f.model.clearMeasurements();
    ASSERT_EQ(f.model.measurements().size(), 1u);
    EXPECT_EQ(f.model.measurements()[0].kind, MeasurementKind::boardDimensions);
}
