#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTest>
#include <QThreadPool>

#include "AppTestSupport.hpp"
#include "checks/BoardSummaryEngine.hpp"
#include "import/DocumentCache.hpp"
#include "io/VellZipWriter.hpp"
#include "model/Codable.hpp"

using namespace corvane;
using namespace corvane::testing;

namespace {

const LayerState& stateOf(const AppModel& m, const std::string& id) {
    for (const auto& s : m.layerStates())
        if (s.id == id) return s;
    throw std::runtime_error("no layer " + id);
}

std::vector<float> floats(const std::array<float, 12>& a) { return {a.begin(), a.end()}; }

bool waitFor(QSignalSpy& spy, int count, int timeoutMs = 20000) {
    while (spy.count() < count)
        if (!spy.wait(timeoutMs)) return false;
    return true;
}

// A package in deliberately mixed order: bottom copper first, an unknown file, a mask, top copper.
PCBPackage mixedOrderPackage() {
    PCBPackage p;
    p.name = "mixed";
    p.files.push_back(gerberFile("b.gbr", LayerType::copper(CopperLayerID::bottom()), {stroke({0, 0}, {5, 0})}));
    p.files.push_back(gerberFile("u.gbr", LayerType::unknown(), {disc({1, 1})}));
    p.files.push_back(gerberFile("m.gbr", LayerType::solderMask(CopperLayerID::top()), {disc({2, 2})}));
    p.files.push_back(gerberFile("i2.gbr", LayerType::copper(CopperLayerID::inner(2)), {disc({3, 3})}));
    p.files.push_back(gerberFile("t.gbr", LayerType::copper(CopperLayerID::top()), {disc({4, 4})}));
    p.files.push_back(gerberFile("s.gbr", LayerType::silkscreen(CopperLayerID::bottom()), {disc({5, 5})}));
    p.files.push_back(gerberFile("p.gbr", LayerType::paste(CopperLayerID::top()), {disc({6, 6})}));
    return p;
}

} // namespace

TEST(AppLoading, LoadingInstallsLayersTablesSummaryAndDimensions) {
    Fixture f;
    f.model.canvasSizeChanged(QSizeF(1000, 800));
    QSignalSpy packageSpy(&f.model, &AppModel::packageChanged);
    QSignalSpy layersSpy(&f.model, &AppModel::layerStatesChanged);
    QSignalSpy checks(&f.model, &AppModel::checksFinished);
    const PCBPackage board = sampleBoard();
    f.model.loadPackage(board);

    EXPECT_EQ(packageSpy.count(), 1);
    EXPECT_GE(layersSpy.count(), 1);
    ASSERT_EQ(f.model.layerStates().size(), 3u);
    const auto& top = f.model.layerStates()[0];
    EXPECT_EQ(top.id, "board-F_Cu.gbr");
    EXPECT_EQ(top.displayName, "board-F_Cu.gbr");
    EXPECT_EQ(top.typeName, "Top Copper");
    EXPECT_EQ(top.categoryOrder, 100);
    EXPECT_EQ(top.objectCount, 3);
    EXPECT_TRUE(top.visible);
    EXPECT_EQ(top.opacity, 1.0);
    EXPECT_NEAR(top.color.redF(), 0.95, 1e-4);
    EXPECT_NEAR(top.color.greenF(), 0.62, 1e-4);
    EXPECT_NEAR(top.color.blueF(), 0.18, 1e-4);
    EXPECT_EQ(f.model.layerStates()[1].typeName, "Board Outline");
    EXPECT_EQ(f.model.layerStates()[1].categoryOrder, 500);
    EXPECT_EQ(f.model.layerStates()[2].typeName, "Drill");
    EXPECT_EQ(f.model.layerStates()[2].objectCount, 3);
    EXPECT_EQ(f.model.layerStates()[2].categoryOrder, 600);

    ASSERT_EQ(f.model.drillFiles().size(), 1u);
    const auto& drill = f.model.drillFiles()[0];
    EXPECT_EQ(drill.fileName, "board.drl");
    EXPECT_EQ(drill.pthCount, 1);
    EXPECT_EQ(drill.npthCount, 1);  // the hit of unknown plating is in neither count
    EXPECT_EQ(drill.stats, board.files[2].drill->stats());

    ASSERT_TRUE(f.model.boardSummary());
    EXPECT_EQ(f.model.boardSummary()->widthMM, BoardSummaryEngine().summarize(board).widthMM);
    EXPECT_EQ(f.model.boardSummary()->copperLayerCount, 1);

    ASSERT_EQ(f.model.measurements().size(), 1u);
    EXPECT_EQ(f.model.measurements()[0].kind, MeasurementKind::boardDimensions);

    EXPECT_TRUE(f.model.hasFitted());
    EXPECT_EQ(f.model.camera().center, (Vec2{20, 15}));
    EXPECT_DOUBLE_EQ(f.model.camera().pxPerMM, std::min(1000 / (1.6 * 40), 800 / (1.6 * 30)));
    ASSERT_TRUE(f.renderer.cameraSet);
    EXPECT_EQ(f.renderer.camera(), f.model.camera());

    ASSERT_TRUE(waitFor(checks, 1));
    ASSERT_TRUE(f.model.dfmReport());
    EXPECT_FALSE(f.model.dfmReport()->presetName);
}

TEST(AppLoading, ChecksUseTheActivePreset) {
    Fixture f;
    f.model.setActivePreset(f.model.presets()[1]);
    QSignalSpy checks(&f.model, &AppModel::checksFinished);
    f.model.loadPackage(sampleBoard());
    ASSERT_TRUE(waitFor(checks, 1));
    ASSERT_TRUE(f.model.dfmReport());
    EXPECT_EQ(f.model.dfmReport()->presetName, std::optional<std::string>("JLCPCB (editable)"));
    // Choosing another preset runs the checks again.
    f.model.setActivePreset(f.model.presets()[2]);
    ASSERT_TRUE(waitFor(checks, 2));
    EXPECT_EQ(f.model.dfmReport()->presetName, std::optional<std::string>("PCBWay (editable)"));
}

TEST(AppLoading, LayersAreListedInCategoryOrderAndDrawnFarSideFirst) {
    Fixture f;
    f.model.loadPackage(mixedOrderPackage());
    std::vector<std::string> listed;
    for (const auto& s : f.model.layerStates()) listed.push_back(s.id);
    const std::vector<std::string> categoryOrder{"t.gbr", "i2.gbr", "m.gbr", "p.gbr", "s.gbr", "u.gbr", "b.gbr"};
    EXPECT_EQ(listed, categoryOrder);
    // Seen from the top the bottom side lies beneath the inner and top layers; unknown files stay on top.
    EXPECT_EQ(f.renderer.ids(), (std::vector<std::string>{"layer:s.gbr", "layer:b.gbr", "layer:i2.gbr", "layer:t.gbr",
                                                          "layer:m.gbr", "layer:p.gbr", "layer:u.gbr"}));
    // Turned over, the other side faces the viewer; the list keeps its order.
    CameraState turned = f.model.camera();
    turned.mirrored = true;
    f.model.setCamera(turned);
    EXPECT_EQ(f.renderer.ids(), (std::vector<std::string>{"layer:p.gbr", "layer:m.gbr", "layer:t.gbr", "layer:i2.gbr",
                                                          "layer:b.gbr", "layer:s.gbr", "layer:u.gbr"}));
    listed.clear();
    for (const auto& s : f.model.layerStates()) listed.push_back(s.id);
    EXPECT_EQ(listed, categoryOrder);
    EXPECT_EQ(stateOf(f.model, "i2.gbr").categoryOrder, 102);
    EXPECT_EQ(stateOf(f.model, "b.gbr").categoryOrder, 1100);
    EXPECT_EQ(stateOf(f.model, "m.gbr").opacity, 0.45);
    EXPECT_EQ(stateOf(f.model, "p.gbr").opacity, 0.8);
    EXPECT_EQ(stateOf(f.model, "s.gbr").opacity, 0.9);
    EXPECT_EQ(stateOf(f.model, "u.gbr").opacity, 1.0);
    EXPECT_FLOAT_EQ(f.renderer.find("layer:m.gbr")->opacity, 0.45f);
    // The colour goes up without its alpha.
    const auto& mask = *f.renderer.find("layer:m.gbr");
    EXPECT_NEAR(mask.color[0], 0.1f, 1e-4);
    EXPECT_NEAR(mask.color[1], 0.65f, 1e-4);
    EXPECT_EQ(mask.color[3], 1.0f);
    EXPECT_NEAR(stateOf(f.model, "m.gbr").color.alphaF(), 0.55, 1e-4);
}

TEST(AppLoading, EveryUploadStartsFromAnEmptyList) {
    Fixture f;
    f.model.loadPackage(mixedOrderPackage());
    f.renderer.calls.clear();
    f.model.setLayerVisible("u.gbr", false);
    ASSERT_EQ(f.renderer.calls.size(), 8u);
    EXPECT_EQ(f.renderer.calls.front(), "removeAll");
    EXPECT_EQ(f.renderer.calls[1], "layer:s.gbr");
    // Hidden layers still go up, marked invisible.
    ASSERT_TRUE(f.renderer.find("layer:u.gbr"));
    EXPECT_FALSE(f.renderer.find("layer:u.gbr")->visible);
    EXPECT_TRUE(f.renderer.find("layer:t.gbr")->visible);
}

TEST(AppLoading, LayerCommandsReuseMeshesUntilThePackageChanges) {
    Fixture f;
    f.model.loadPackage(mixedOrderPackage());
    const auto before = f.renderer.find("layer:t.gbr")->geometry;
    ASSERT_TRUE(before);
    EXPECT_GT(before->dark.vertices().size(), 0u);
    f.model.setLayerColor("t.gbr", QColor(0, 255, 0));
    f.model.toggleSolo("t.gbr");
    f.model.moveLayer("t.gbr", false);
    EXPECT_EQ(f.renderer.find("layer:t.gbr")->geometry, before);
    EXPECT_EQ(f.renderer.find("layer:t.gbr")->color, (BoardRenderer::Color{0, 1, 0, 1}));
    f.model.loadPackage(mixedOrderPackage());
    EXPECT_NE(f.renderer.find("layer:t.gbr")->geometry, before);
}

TEST(AppLoading, SoloShowsOnlySoloedLayersAndIgnoresStaleIds) {
    Fixture f;
    f.model.loadPackage(mixedOrderPackage());
    QSignalSpy solo(&f.model, &AppModel::soloChanged);
    f.model.toggleSolo("m.gbr");
    EXPECT_EQ(solo.count(), 1);
    for (const auto& l : f.renderer.layers) EXPECT_EQ(l.visible, l.id == "layer:m.gbr") << l.id;
    f.model.toggleSolo("m.gbr");
    for (const auto& l : f.renderer.layers) EXPECT_TRUE(l.visible) << l.id;

    f.model.toggleSolo("gone.gbr");
    EXPECT_EQ(f.model.soloSet(), (std::set<std::string>{"gone.gbr"}));
    f.model.setLayerVisible("s.gbr", false);
    for (const auto& l : f.renderer.layers) EXPECT_EQ(l.visible, l.id != "layer:s.gbr") << l.id;

    // A soloed layer that is hidden stays hidden.
    f.model.toggleSolo("s.gbr");
    for (const auto& l : f.renderer.layers) EXPECT_FALSE(l.visible) << l.id;
    // Loading keeps the solo set.
    f.model.loadPackage(mixedOrderPackage());
    EXPECT_EQ(f.model.soloSet(), (std::set<std::string>{"gone.gbr", "s.gbr"}));
    for (const auto& l : f.renderer.layers) EXPECT_EQ(l.visible, l.id == "layer:s.gbr") << l.id;
}

TEST(AppLoading, MovingALayerReordersTheListOnly) {
    Fixture f;
    f.model.loadPackage(mixedOrderPackage());
    const auto uploadOrder = f.renderer.ids();
    f.model.moveLayer("m.gbr", true);
    EXPECT_EQ(f.model.layerStates()[1].id, "m.gbr");
    EXPECT_EQ(f.model.layerStates()[2].id, "i2.gbr");
    EXPECT_EQ(f.renderer.ids(), uploadOrder);

    const int uploads = f.renderer.removeAllCount;
    QSignalSpy layers(&f.model, &AppModel::layerStatesChanged);
    f.model.moveLayer("t.gbr", true);
    f.model.moveLayer("b.gbr", false);
    f.model.moveLayer("nope.gbr", true);
    f.model.setLayerVisible("nope.gbr", false);
    f.model.setLayerColor("nope.gbr", QColor(Qt::red));
    EXPECT_EQ(f.renderer.removeAllCount, uploads);
    EXPECT_EQ(layers.count(), 0);
    EXPECT_EQ(f.model.layerStates().front().id, "t.gbr");
}

TEST(AppLoading, LargeArcsKeepToTheirCircleOnTheCanvas) {
    // A quarter turn of 100 mm radius: every piece of the uploaded track stays within a micrometre of the
    // circle (fixed 8° pieces would stand 0.24 mm inside), and a small arc keeps few pieces.
    Fixture f;
    PCBPackage p = sampleBoard();
    const Vec2 center{0, 0};
    struct Arc {
        double r;
        std::size_t minPieces, maxPieces;
    };
    const std::vector<Arc> arcs{{100.0, 100, 400}, {0.5, 2, 16}};
    for (const auto& [r, minPieces, maxPieces] : arcs) {
        PCBObject arc(PCBObjectKind::arcStroke({r, 0}, {0, r}, center, false), std::nullopt, ApertureShape::circle(0.2),
                      Polarity::dark, std::nullopt, std::nullopt, std::nullopt, std::nullopt, 0);
        p.files.push_back(gerberFile("arc" + std::to_string(p.files.size()) + ".gbr",
                                     LayerType::silkscreen(CopperLayerID::top()), {arc}));
    }
    f.model.loadPackage(p);
    for (std::size_t k = 0; k < arcs.size(); ++k) {
        const auto& [r, minPieces, maxPieces] = arcs[k];
        const std::vector<float> mesh = f.renderer.find("layer:" + p.files[p.files.size() - arcs.size() + k].fileName)->geometry->dark.vertices();
        // Each piece is a body of two triangles, (a+o, b+o, b−o) and (a+o, b−o, a−o), then its two caps.
        constexpr std::size_t kFloatsPerPiece = (2 + 2 * 8) * 6;
        ASSERT_EQ(mesh.size() % kFloatsPerPiece, 0u);
        const std::size_t pieces = mesh.size() / kFloatsPerPiece;
        EXPECT_GE(pieces, minPieces);
        EXPECT_LE(pieces, maxPieces);
        double worst = 0;
        for (std::size_t i = 0; i < pieces; ++i) {
            const float* v = mesh.data() + i * kFloatsPerPiece;
            const double mx = (v[0] + v[10] + v[2] + v[4]) / 4, my = (v[1] + v[11] + v[3] + v[5]) / 4;
            worst = std::max(worst, r - std::sqrt(mx * mx + my * my));
        }
        EXPECT_LT(worst, 1.05e-3) << r;
    }
}

TEST(AppLoading, NegativePlanesAreTheBoardWithFeaturesCutOut) {
    Fixture f;
    PCBPackage p = sampleBoard();
    p.files.push_back(gerberFile("mask.gbr", LayerType::solderMask(CopperLayerID::top()),
                                 {disc({10, 10}, 1.0, Polarity::clear), disc({20, 20}, 1.0, Polarity::clear)}));
    p.files.push_back(withFilePolarity(gerberFile("plane.gbr", LayerType::copper(CopperLayerID::inner(1)),
                                                  {stroke({1, 1}, {9, 1}), disc({5, 5}, 1.0, Polarity::clear)}),
                                       "NeGaTiVe"));
    p.files.push_back(gerberFile("plain-mask.gbr", LayerType::solderMask(CopperLayerID::bottom()),
                                 {disc({10, 10}, 1.0, Polarity::clear), disc({20, 20})}));
    f.model.loadPackage(p);

    const Tessellator geom;
    // Filled within the board outline, not past it.
    const auto quad = floats(TriangleMesh::verticesOfQuad(0, 0, 40, 30));
    const auto& mask = *f.renderer.find("layer:mask.gbr")->geometry;
    const auto maskFeatures = geom.tessellate(p.files[3].gerber->objects);
    EXPECT_EQ(mask.dark.vertices(), quad);
    EXPECT_EQ(mask.clear.vertices(), maskFeatures.clear.vertices());
    ASSERT_EQ(mask.runs.size(), 2u);
    EXPECT_EQ(mask.runs[0], (PolarityRun{Polarity::dark, 0, 6}));
    EXPECT_EQ(mask.runs[1].polarity, Polarity::clear);
    EXPECT_EQ(mask.runs[1].vertexCount, static_cast<std::int64_t>(mask.clear.vertices().size() / 2));

    const auto& plane = *f.renderer.find("layer:plane.gbr")->geometry;
    const auto planeFeatures = geom.tessellate(p.files[4].gerber->objects);
    EXPECT_EQ(plane.dark.vertices(), quad);
    auto expectedClear = planeFeatures.clear.vertices();
    const std::vector<float> planeDark = planeFeatures.dark.vertices();
    expectedClear.insert(expectedClear.end(), planeDark.begin(), planeDark.end());
    EXPECT_EQ(plane.clear.vertices(), expectedClear);

    // A mask with one dark object is drawn as it is.
    const auto& plain = *f.renderer.find("layer:plain-mask.gbr")->geometry;
    EXPECT_EQ(plain.dark.vertices(), geom.tessellate(p.files[5].gerber->objects).dark.vertices());

    EXPECT_TRUE(AppModel::isNegativePlane(p.files[3]));
    EXPECT_TRUE(AppModel::isNegativePlane(p.files[4]));
    EXPECT_FALSE(AppModel::isNegativePlane(p.files[5]));
    EXPECT_FALSE(AppModel::isNegativePlane(p.files[2]));  // a drill file
    PackageFile emptyMask = gerberFile("e.gbr", LayerType::solderMask(CopperLayerID::top()), {});
    EXPECT_FALSE(AppModel::isNegativePlane(emptyMask));
    PackageFile positive = withFilePolarity(gerberFile("x.gbr", LayerType::solderMask(CopperLayerID::top()), {disc({0, 0})}), "Positive");
    EXPECT_FALSE(AppModel::isNegativePlane(positive));

    // Without an outline the plane keeps to its own extent.
    p.files.erase(p.files.begin() + 1);
    EXPECT_EQ(AppModel::negativePlaneBox(p, p.files[2]), p.files[2].gerber->bbox);
}

TEST(AppLoading, NegativePlaneWithoutABoardBoxIsDrawnPlain) {
    Fixture f;
    PCBPackage p;
    p.name = "no-box";
    p.files.push_back(gerberFile("mask.gbr", LayerType::solderMask(CopperLayerID::top()), {disc({1, 1}, 1.0, Polarity::clear)}));
    p.files[0].gerber->bbox = BBox::empty();
    ASSERT_FALSE(p.boardBBox().isValid());
    f.model.loadPackage(p);
    const auto& mask = *f.renderer.find("layer:mask.gbr")->geometry;
    const auto features = Tessellator().tessellate(p.files[0].gerber->objects);
    EXPECT_TRUE(mask.dark.vertices().empty());
    EXPECT_EQ(mask.clear.vertices(), features.clear.vertices());
    EXPECT_FALSE(f.model.hasFitted());
}

TEST(AppLoading, ManualLayerTypeResetsLayersAndJudgesTheNewRoles) {
    Fixture f;
    PCBPackage p = sampleBoard();
    p.files[1].layerType = LayerType::unknown();  // the outline, not recognised
    QSignalSpy checks(&f.model, &AppModel::checksFinished);
    f.model.loadPackage(p);
    ASSERT_TRUE(waitFor(checks, 1));
    auto hasIssue = [&](const std::string& id) {
        for (const auto& i : f.model.dfmReport()->issues)
            if (i.id == id) return true;
        return false;
    };
    EXPECT_TRUE(hasIssue("missingBoardOutline"));
    const double widthBefore = f.model.boardSummary()->widthMM;
    f.model.setLayerVisible("board-F_Cu.gbr", false);
    f.model.setLayerColor("board-F_Cu.gbr", QColor(Qt::white));
    f.model.moveLayer("board-F_Cu.gbr", false);

    // A measurement of the user's own beside the board's dimensions, which span copper and drill holes.
    f.model.addMeasurement(MeasureEngine().distanceMeasurement({1, 1}, {2, 1}, MeasurementKind::pointToPoint, Units::mm));
    ASSERT_EQ(f.model.measurements().size(), 2u);
    const BoardMeasurement dimsBefore = f.model.measurements()[0];
    ASSERT_EQ(dimsBefore.kind, MeasurementKind::boardDimensions);

    QSignalSpy summary(&f.model, &AppModel::boardSummaryChanged);
    QSignalSpy status(&f.model, &AppModel::statusMessageChanged);
    const auto before = f.model.package();
    f.model.setManualLayerType("board-Edge_Cuts.gbr", LayerType::outline());
    // The board's size on the canvas follows: the outline's 40 x 30 mm, in the same measurement.
    ASSERT_EQ(f.model.measurements().size(), 2u);
    const BoardMeasurement& dims = f.model.measurements()[0];
    EXPECT_EQ(dims.kind, MeasurementKind::boardDimensions);
    EXPECT_EQ(dims.id, dimsBefore.id);
    EXPECT_NE(dims.label, dimsBefore.label);
    EXPECT_EQ(dims.label, MeasureEngine().boardDimensionMeasurement(*f.model.package(), f.model.units())->label);
    EXPECT_EQ(dims.p1, (Vec2{0, 0}));
    EXPECT_EQ(dims.p2, (Vec2{40, 30}));
    EXPECT_EQ(f.model.measurements()[1].kind, MeasurementKind::pointToPoint);
    // A new role makes a new package that shares every layer's primitives with the old one.
    ASSERT_NE(f.model.package(), before);
    EXPECT_TRUE(f.model.package()->files[1].gerber.sameAs(before->files[1].gerber));
    EXPECT_EQ(before->files[1].layerType, LayerType::unknown());
    EXPECT_EQ(f.model.statusMessage(), "Layer type of board-Edge_Cuts.gbr set to Board Outline");
    EXPECT_EQ(status.count(), 1);
    EXPECT_EQ(summary.count(), 1);
    EXPECT_NE(f.model.boardSummary()->widthMM, widthBefore);
    EXPECT_EQ(f.model.boardSummary()->widthMM, BoardSummaryEngine().summarize(*f.model.package()).widthMM);
    const auto& edge = f.model.package()->files[1];
    EXPECT_EQ(edge.layerType, LayerType::outline());
    EXPECT_EQ(edge.confidence, DetectionConfidence::manual);
    EXPECT_EQ(f.model.layerStates()[0].id, "board-F_Cu.gbr");
    EXPECT_TRUE(f.model.layerStates()[0].visible);
    EXPECT_EQ(f.model.layerStates()[0].color, AppModel::defaultLayerColor(LayerType::copper(CopperLayerID::top())));
    EXPECT_EQ(f.model.layerStates()[1].typeName, "Board Outline");
    EXPECT_EQ(f.renderer.ids(), (std::vector<std::string>{"layer:board-F_Cu.gbr", "layer:board-Edge_Cuts.gbr", "layer:board.drl"}));

    ASSERT_TRUE(waitFor(checks, 2));
    EXPECT_FALSE(hasIssue("missingBoardOutline"));

    // Nothing happens for a file that is not there.
    const auto package = f.model.package();
    f.model.setManualLayerType("missing.gbr", LayerType::drill());
    EXPECT_EQ(f.model.package(), package);
    EXPECT_EQ(f.model.statusMessage(), "Layer type of board-Edge_Cuts.gbr set to Board Outline");
}

TEST(AppLoading, LargeBoardIsShownBeforeItsSummary) {
    // More objects than are summarised at once: the board is drawn first, the summary follows.
    std::vector<PCBObject> pads;
    for (std::size_t i = 0; i <= AppModel::summaryInlineObjects; ++i)
        pads.push_back(disc({static_cast<double>(i % 200), static_cast<double>(i / 200)}, 0.5));
    PCBPackage large;
    large.name = "large";
    large.files.push_back(gerberFile("top.gbr", LayerType::copper(CopperLayerID::top()), numbered(std::move(pads))));
    const BoardSummary expected = BoardSummaryEngine().summarize(large);

    Fixture f;
    QSignalSpy summary(&f.model, &AppModel::boardSummaryChanged);
    f.model.loadPackage(large);
    EXPECT_TRUE(f.model.summaryPending());
    EXPECT_FALSE(f.model.boardSummary());
    ASSERT_TRUE(f.renderer.find("layer:top.gbr"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !f.model.summaryPending(); }, 60000));
    ASSERT_TRUE(f.model.boardSummary());
    EXPECT_EQ(f.model.boardSummary()->widthMM, expected.widthMM);
    EXPECT_EQ(f.model.boardSummary()->copperLayerCount, 1);

    // A summary still being made for a board no longer shown is dropped.
    f.model.loadPackage(large);
    EXPECT_TRUE(f.model.summaryPending());
    f.model.loadPackage(sampleBoard("small"));
    EXPECT_FALSE(f.model.summaryPending());
    const double smallWidth = f.model.boardSummary()->widthMM;
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();
    EXPECT_EQ(f.model.boardSummary()->widthMM, smallWidth);
    EXPECT_NE(smallWidth, expected.widthMM);
}

TEST(AppLoading, MeshesHaveTheDetailTheViewNeeds) {
    // Fitted small, the board's round ends and discs get fewer pieces; a pan keeps the meshes, zooming far in
    // makes them again with every piece, and fitting again makes them coarse again.
    Fixture f;
    f.model.canvasSizeChanged(QSizeF(200, 150));
    const PCBPackage board = sampleBoard();
    f.model.loadPackage(board);
    const auto fullTriangles = Tessellator().tessellate(board.files[0].gerber->objects).totalTriangles();
    const auto fitted = f.renderer.find("layer:board-F_Cu.gbr")->geometry;
    ASSERT_TRUE(fitted);
    EXPECT_LT(fitted->totalTriangles(), fullTriangles);

    CameraState panned = f.model.camera();
    panned.center = panned.center + Vec2{3, 2};
    f.model.setCamera(panned);
    EXPECT_EQ(f.renderer.find("layer:board-F_Cu.gbr")->geometry, fitted);

    f.model.zoomTo({10, 10}, 0.5);
    EXPECT_EQ(f.renderer.find("layer:board-F_Cu.gbr")->geometry->totalTriangles(), fullTriangles);
    f.model.fitBBox(board.boardBBox());
    EXPECT_EQ(f.renderer.find("layer:board-F_Cu.gbr")->geometry->totalTriangles(), fitted->totalTriangles());
}

TEST(AppLoading, SecondLoadKeepsOnlyItsBoardDimensions) {
    Fixture f;
    f.model.loadPackage(sampleBoard("first"));
    f.model.addMeasurement(f.model.measureEngine().distanceMeasurement({0, 0}, {3, 4}, MeasurementKind::pointToPoint, Units::mm));
    f.model.setAnnotations({Annotation{UUID::random(), Annotation::Kind::text, {1, 1}, std::nullopt, "x", 0}});
    f.model.setPendingMeasureAnchor(Vec2{1, 1});
    f.model.setTool(Tool::measureX);
    ASSERT_EQ(f.model.measurements().size(), 2u);

    PCBPackage second = sampleBoard("second");
    second.files[1].gerber->objects.push_back(stroke({0, 0}, {50, 0}, 0));
    second.files[1].gerber->bbox.include(Vec2{50, 0});
    f.model.loadPackage(second);
    ASSERT_EQ(f.model.measurements().size(), 1u);
    EXPECT_EQ(f.model.measurements()[0].kind, MeasurementKind::boardDimensions);
    EXPECT_NEAR(f.model.measurements()[0].p2->x - f.model.measurements()[0].p1->x, 50, 1e-9);
    EXPECT_TRUE(f.model.annotations().empty());
    EXPECT_FALSE(f.model.pendingMeasureAnchor());
    EXPECT_EQ(f.model.tool(), Tool::measureX);
}

// ---- Real imports -----------------------------------------------------------------------------------------

namespace {

std::vector<std::uint8_t> bytesOf(const std::string& s) { return {s.begin(), s.end()}; }

const char* kTopCopper =
    "%FSLAX46Y46*%\n%MOMM*%\n%ADD10C,0.250000*%\nD10*\nX0Y0D02*\nX10000000Y0D01*\nX10000000Y5000000D01*\nM02*\n";
const char* kOutline = "%FSLAX46Y46*%\n%MOMM*%\n%ADD10C,0.100000*%\nD10*\nX0Y0D02*\nX40000000Y0D01*\n"
                       "X40000000Y30000000D01*\nX0Y30000000D01*\nX0Y0D01*\nM02*\n";
const char* kDrill = "M48\nMETRIC\nT1C0.300\n%\nT1\nX10.0Y10.0\nX20.0Y10.0\nM30\n";

void writeFile(const QString& path, const std::string& content) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(content.data(), static_cast<qint64>(content.size()));
}

std::string boardZip() {
    const auto bytes = VellZipWriter::archive({{"board-F_Cu.gbr", bytesOf(kTopCopper)},
                                               {"board-Edge_Cuts.gm1", bytesOf(kOutline)},
                                               {"board.drl", bytesOf(kDrill)}});
    return {bytes.begin(), bytes.end()};
}

// "name — 3 files, 12 ms"
void expectImportStatus(const std::string& status, const std::string& name, std::size_t files) {
    const std::string head = name + " \u2014 " + std::to_string(files) + " files, ";
    ASSERT_EQ(status.rfind(head, 0), 0u) << status;
    ASSERT_GE(status.size(), head.size() + 4);
    const std::string ms = status.substr(head.size(), status.size() - head.size() - 3);
    EXPECT_EQ(status.substr(status.size() - 3), " ms");
    EXPECT_FALSE(ms.empty());
    for (char c : ms) EXPECT_TRUE(c >= '0' && c <= '9') << status;
}

} // namespace

TEST(AppImport, ZipImportInstallsThePackageAndCachesIt) {
    Fixture f;
    QTemporaryDir dir;
    const QString zip = dir.filePath("rev-a.zip");
    writeFile(zip, boardZip());
    QSignalSpy done(&f.model, &AppModel::importFinished);
    f.model.importURL(zip.toStdString());
    EXPECT_EQ(f.model.statusMessage(), "Importing rev-a.zip\u2026");
    ASSERT_TRUE(waitFor(done, 1));
    EXPECT_TRUE(done[0][0].toBool());
    ASSERT_TRUE(f.model.package());
    EXPECT_EQ(f.model.package()->name, "rev-a");
    EXPECT_EQ(f.model.layerStates().size(), 3u);
    expectImportStatus(f.model.statusMessage(), "rev-a.zip", 3);
    const std::string data = boardZip();
    const auto hash = PackageImporter::shortHash(std::span(reinterpret_cast<const std::uint8_t*>(data.data()), data.size()));
    const auto cached = DocumentCache::shared().package(hash);
    ASSERT_TRUE(cached);
    EXPECT_EQ(cached->name, "rev-a");
    EXPECT_EQ(cached, f.model.package());  // the board shown, held once
    // The drill tables and the summary the import's worker made are those the board gives.
    const PCBPackage& shown = *f.model.package();
    ASSERT_EQ(f.model.drillFiles().size(), AppModel::drillTables(shown).size());
    for (std::size_t i = 0; i < f.model.drillFiles().size(); ++i) {
        EXPECT_EQ(f.model.drillFiles()[i].fileName, AppModel::drillTables(shown)[i].fileName);
        EXPECT_EQ(f.model.drillFiles()[i].pthCount, AppModel::drillTables(shown)[i].pthCount);
        EXPECT_EQ(f.model.drillFiles()[i].npthCount, AppModel::drillTables(shown)[i].npthCount);
    }
    ASSERT_TRUE(f.model.boardSummary());
    EXPECT_EQ(encodeJSON(*f.model.boardSummary()), encodeJSON(BoardSummaryEngine{}.summarize(shown)));
    // The meshes the import made on its worker are those of the board shown.
    for (const PackageFile& file : f.model.package()->files) {
        const auto* layer = f.renderer.find(AppModel::layerRendererID(file.fileName));
        ASSERT_TRUE(layer && layer->geometry) << file.fileName;
        EXPECT_EQ(layer->geometry->dark.vertices(), Tessellator().tessellate(file.objects()).dark.vertices()) << file.fileName;
    }
}

TEST(AppImport, AnImportReadEarlyIsTakenOnceByTheFirstImportOfItsPath) {
    Fixture f;
    QTemporaryDir dir;
    const QString zip = dir.filePath("early.zip");
    writeFile(zip, boardZip());
    AppModel::prefetchImport(zip.toStdString());
    AppModel::prefetchImport(dir.filePath("broken.zip").toStdString());  // missing when read
    // Both are read at once: what the paths hold later is not what the first imports see.
    QTest::qWait(1500);
    writeFile(dir.filePath("broken.zip"), boardZip());
    ASSERT_TRUE(QFile::remove(zip));
    QSignalSpy done(&f.model, &AppModel::importFinished);
    f.model.importURL(zip.toStdString());
    EXPECT_EQ(f.model.statusMessage(), "Importing early.zip\u2026");
    ASSERT_TRUE(waitFor(done, 1));
    EXPECT_TRUE(done[0][0].toBool());
    ASSERT_TRUE(f.model.package());
    EXPECT_EQ(f.model.package()->name, "early");
    expectImportStatus(f.model.statusMessage(), "early.zip", 3);

    // The early read failed as a late one would have, with the same words.
    f.model.importURL(dir.filePath("broken.zip").toStdString());
    ASSERT_TRUE(waitFor(done, 2));
    EXPECT_FALSE(done[1][0].toBool());
    std::string expected;
    try {
        PackageImporter{}.importAny((dir.filePath("gone.zip")).toStdString());
    } catch (const std::exception& e) {
        expected = e.what();
    }
    std::string status = f.model.statusMessage();
    const auto at = status.find("broken.zip");
    ASSERT_NE(at, std::string::npos) << status;
    status.replace(at, std::string("broken.zip").size(), "gone.zip");
    EXPECT_EQ(status, "Import failed: " + expected);

    // Taken once: a second import of the path reads it again, as it is now.
    f.model.importURL(dir.filePath("broken.zip").toStdString());
    ASSERT_TRUE(waitFor(done, 3));
    EXPECT_TRUE(done[2][0].toBool());
    EXPECT_EQ(f.model.package()->name, "broken");
}

// A launch reads its board before the window exists and makes the board's meshes as soon as the canvas has
// a size: they are the meshes an import started later makes for that canvas.
TEST(AppImport, MeshesMadeEarlyForTheCanvasAreTheOnesALaterImportMakes) {
    QTemporaryDir dir;
    const QString early = dir.filePath("early.zip"), late = dir.filePath("late.zip");
    writeFile(early, boardZip());
    writeFile(late, boardZip());
    AppModel::prefetchImport(early.toStdString());
    const auto shownMeshes = [](const QString& path) {
        Fixture f;
        f.model.canvasSizeChanged(QSizeF(700, 500));
        QSignalSpy done(&f.model, &AppModel::importFinished);
        f.model.importURL(path.toStdString());
        EXPECT_TRUE(waitFor(done, 1));
        std::map<std::string, std::vector<float>> vertices;
        for (const auto& layer : f.renderer.layers) {
            if (!layer.geometry) continue;
            std::vector<float> all = layer.geometry->dark.vertices();
            const std::vector<float> clear = layer.geometry->clear.vertices();
            all.insert(all.end(), clear.begin(), clear.end());
            all.insert(all.end(), layer.geometry->centreLines.begin(), layer.geometry->centreLines.end());
            vertices[layer.id] = std::move(all);
        }
        return vertices;
    };
    // Given the time to read the board and make its meshes for the canvas sized below.
    QTest::qWait(1500);
    const auto fromEarly = shownMeshes(early);
    const auto fromLate = shownMeshes(late);
    ASSERT_EQ(fromEarly.size(), 3u);
    EXPECT_EQ(fromEarly, fromLate);
}

TEST(AppImport, FolderWithTrailingSlashIsNamedByItsLastComponent) {
    Fixture f;
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkpath("boards"));
    writeFile(dir.filePath("boards/board-F_Cu.gbr"), kTopCopper);
    writeFile(dir.filePath("boards/board.drl"), kDrill);
    DocumentCache::shared().removeAll();
    QSignalSpy done(&f.model, &AppModel::importFinished);
    f.model.importURL(dir.filePath("boards/").toStdString());
    EXPECT_EQ(f.model.statusMessage(), "Importing boards\u2026");
    ASSERT_TRUE(waitFor(done, 1));
    EXPECT_TRUE(done[0][0].toBool());
    expectImportStatus(f.model.statusMessage(), "boards", 2);
    // A folder has no bytes of its own: it is cached under the hash of nothing.
    EXPECT_TRUE(DocumentCache::shared().package(PackageImporter::shortHash({})));
}

TEST(AppImport, FailedImportReportsAndChangesNothingElse) {
    Fixture f;
    f.model.loadPackage(sampleBoard());
    const auto package = f.model.package();
    const auto layers = f.model.layerStates().size();
    QTemporaryDir dir;
    QSignalSpy done(&f.model, &AppModel::importFinished);
    QSignalSpy packageSpy(&f.model, &AppModel::packageChanged);
    f.model.importURL(dir.filePath("missing.zip").toStdString());
    ASSERT_TRUE(waitFor(done, 1));
    EXPECT_FALSE(done[0][0].toBool());
    const std::string status = f.model.statusMessage();
    EXPECT_EQ(status.rfind("Import failed: ", 0), 0u) << status;
    EXPECT_NE(status.find("missing.zip"), std::string::npos) << status;
    EXPECT_EQ(f.model.package(), package);
    EXPECT_EQ(f.model.layerStates().size(), layers);
    EXPECT_EQ(packageSpy.count(), 0);

    writeFile(dir.filePath("notes.zip"), "PK\x03\x04 broken");
    f.model.importURL(dir.filePath("notes.zip").toStdString());
    ASSERT_TRUE(waitFor(done, 2));
    EXPECT_FALSE(done[1][0].toBool());
    EXPECT_EQ(f.model.statusMessage().rfind("Import failed: ", 0), 0u);
    EXPECT_EQ(f.model.package(), package);
}

TEST(AppImport, TheImportThatFinishesLastStays) {
    Fixture f;
    QTemporaryDir dir;
    // A large board and a small one: whichever ends last must be what is shown.
    std::string big = "%FSLAX46Y46*%\n%MOMM*%\n%ADD10C,0.250000*%\nD10*\n";
    for (int i = 0; i < 60000; ++i) big += "X" + std::to_string(i * 1000) + "Y0D02*\nX" + std::to_string(i * 1000) + "Y500000D01*\n";
    big += "M02*\n";
    ASSERT_TRUE(QDir(dir.path()).mkpath("big"));
    writeFile(dir.filePath("big/big-F_Cu.gbr"), big);
    writeFile(dir.filePath("small.gbr"), kTopCopper);

    std::vector<std::string> finishedNames;
    QObject::connect(&f.model, &AppModel::importFinished, [&](bool ok) {
        ASSERT_TRUE(ok);
        finishedNames.push_back(f.model.package()->name);
    });
    QSignalSpy done(&f.model, &AppModel::importFinished);
    f.model.importURL(dir.filePath("big").toStdString());
    f.model.importURL(dir.filePath("small.gbr").toStdString());
    ASSERT_TRUE(waitFor(done, 2, 60000));
    ASSERT_EQ(finishedNames.size(), 2u);
    EXPECT_NE(finishedNames[0], finishedNames[1]);
    EXPECT_EQ(f.model.package()->name, finishedNames[1]);
}

TEST(AppImport, SampleBoardLoads) {
    Fixture f;
    f.model.canvasSizeChanged(QSizeF(1280, 820));
    QSignalSpy done(&f.model, &AppModel::importFinished);
    f.model.importURL(std::string(CORVANE_SOURCE_DIR) + "/Samples/ESP32_RevA.zip");
    ASSERT_TRUE(waitFor(done, 1, 60000));
    ASSERT_TRUE(done[0][0].toBool()) << f.model.statusMessage();
    const auto& pkg = *f.model.package();
    EXPECT_EQ(pkg.name, "ESP32_RevA");
    EXPECT_EQ(f.model.layerStates().size(), pkg.files.size());
    EXPECT_EQ(f.renderer.layers.size(), pkg.files.size());
    EXPECT_TRUE(f.model.hasFitted());
    EXPECT_EQ(f.model.camera().center, pkg.boardBBox().center());
    ASSERT_FALSE(f.model.measurements().empty());
    EXPECT_EQ(f.model.measurements()[0].kind, MeasurementKind::boardDimensions);
    expectImportStatus(f.model.statusMessage(), "ESP32_RevA.zip", pkg.files.size());
}
