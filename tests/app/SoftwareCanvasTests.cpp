#include <gtest/gtest.h>

#include "CanvasTestSupport.hpp"
#include "canvas/CanvasContainerView.hpp"
#include "canvas/OverlayView.hpp"
#include "canvas/ScreenshotController.hpp"
#include "canvas/SoftwareCanvasView.hpp"

using namespace corvane;
using namespace corvane::testing;

namespace {

PCBPackage softwareBoard() {
    return package({gerberFile("top.gbr", LayerType::copper(CopperLayerID::top()), {disc({10, 10}, 4), track({20, 5}, {30, 5}, 1)}),
                    gerberFile("silk.gbr", LayerType::silkscreen(CopperLayerID::top()), {disc({30, 20}, 4)}),
                    gerberFile("edge.gbr", LayerType::outline(), rectangleOutline(0, 0, 40, 30))});
}

struct SoftwareCanvas : CanvasModel {
    SoftwareCanvasView view;
    SoftwareCanvas() {
        load(softwareBoard());
        model.canvasSizeChanged({300, 200});
        view.setModel(&model);
        view.resize(300, 200);
    }
    QImage grab() { return view.grab().toImage(); }
    QColor at(const QImage& image, Vec2 board) const { return pixelAtBoard(image, model.camera(), board); }
};



} // namespace

TEST(SoftwareCanvas, PaintsTheBoardAsTheScreenshotDoes) {
    SoftwareCanvas c;
    const QImage grab = c.grab();
    const auto shot = ScreenshotController::makeImage(c.model, 1.0);
    ASSERT_TRUE(shot);
    for (Vec2 p : {Vec2{10, 10}, Vec2{25, 5}, Vec2{30, 20}, Vec2{20, 20}, Vec2{-5, -5}})
        EXPECT_TRUE(near(c.at(grab, p), c.at(*shot, p), 2)) << p.x << ", " << p.y;
    EXPECT_TRUE(near(c.at(grab, {10, 10}), layerOver(c.model, "top.gbr", background())));
    EXPECT_TRUE(near(c.at(grab, {20, 20}), background()));
}

TEST(SoftwareCanvas, GrabCarriesTheOverlay) {
    SoftwareCanvas c;
    BoardMeasurement m;
    m.p1 = Vec2{0, 25};
    m.p2 = Vec2{40, 25};
    c.model.setMeasurements({m});
    c.view.update();
    const QImage grab = c.grab();
    EXPECT_FALSE(near(c.at(grab, {20, 25}), background(), 20));
}

TEST(SoftwareCanvas, FollowsLayerAndCameraChanges) {
    SoftwareCanvas c;
    EXPECT_FALSE(near(c.at(c.grab(), {10, 10}), background()));
    c.model.setLayerVisible("top.gbr", false);
    EXPECT_TRUE(near(c.at(c.grab(), {10, 10}), background()));

    CameraState moved = c.model.camera();
    moved.center = Vec2{30, 20};
    moved.mirrored = true;
    c.model.setCamera(moved);
    const QImage grab = c.grab();
    EXPECT_TRUE(near(pixel(grab, QPointF(150, 100)), layerOver(c.model, "silk.gbr", background())))
        << "the silkscreen pad under the new centre";
}

TEST(SoftwareCanvas, CompareModeColoursRowsWhateverTheLayerChoices) {
    CanvasModel m;
    m.model.canvasSizeChanged({300, 200});
    const PCBPackage base = package({gerberFile("top.gbr", LayerType::copper(CopperLayerID::top()), {disc({10, 10}, 4), disc({20, 10}, 4)}),
                                     gerberFile("edge.gbr", LayerType::outline(), rectangleOutline(0, 0, 40, 30))});
    const PCBPackage revised = package({gerberFile("top.gbr", LayerType::copper(CopperLayerID::top()), {disc({10, 10}, 4), disc({30, 10}, 4)}),
                                        gerberFile("edge.gbr", LayerType::outline(), rectangleOutline(0, 0, 40, 30))});
    m.model.startCompare(std::make_shared<const PCBPackage>(base), "a.zip", std::make_shared<const PCBPackage>(revised));
    m.model.setMeasurements({});
    m.model.setLayerVisible("top.gbr", false);
    SoftwareCanvasView view;
    view.setModel(&m.model);
    view.resize(300, 200);
    const QImage grab = view.grab().toImage();
    const CameraState cam = m.model.camera();
    EXPECT_TRUE(near(pixelAtBoard(grab, cam, {10, 10}), over(QColor::fromRgbF(0.55f, 0.55f, 0.55f), 0.55, background())));
    EXPECT_TRUE(near(pixelAtBoard(grab, cam, {20, 10}), over(SystemColors::red(), 0.95, background())));
    EXPECT_TRUE(near(pixelAtBoard(grab, cam, {30, 10}), over(SystemColors::green(), 0.95, background())));

    // A screenshot (the clipboard's, the report's) is what the canvas shows: the differences, under both names.
    const auto shot = ScreenshotController::makeImage(m.model, 1.0);
    ASSERT_TRUE(shot);
    for (const Vec2 at : {Vec2{10, 10}, Vec2{20, 10}, Vec2{30, 10}, Vec2{5, 25}})
        EXPECT_TRUE(near(pixelAtBoard(*shot, cam, at), pixelAtBoard(grab, cam, at))) << at.x;
    EXPECT_EQ(ScreenshotController::caption(m.model).toStdString(), "Corvane \u2014 a \u2192 board");
    m.model.clearCompare();
    EXPECT_EQ(ScreenshotController::caption(m.model).toStdString(), "Corvane \u2014 board");
}

TEST(SoftwareCanvas, WithoutAModelOnlyTheBackground) {
    SoftwareCanvasView view;
    view.resize(40, 30);
    const QImage grab = view.grab().toImage();
    EXPECT_TRUE(near(grab.pixelColor(20, 15), background()));
}

TEST(OverlayViewPainting, PaintsItsModelsOverlayOnly) {
    CanvasModel m(false);
    OverlayView view;
    view.resize(200, 100);
    QImage idle = view.grab().toImage();
    EXPECT_EQ(qAlpha(idle.pixel(100, 50)), 0) << "no model: transparent";
    view.model = [&] { return &m.model; };
    m.model.setCamera(CameraState{Vec2{-0.5 / 8, 0.5 / 8}, 8, false});
    const QImage painted = view.grab().toImage();
    // The origin marker's cross at the view centre, nothing painted where no line passes.
    EXPECT_GT(qAlpha(painted.pixel(97, 50)), 100);
    EXPECT_EQ(qAlpha(painted.pixel(93, 45)), 0);
}

TEST(CanvasView, SoftwareModeShowsOneOverlay) {
    CanvasModel m(false);
    m.load(softwareBoard());
    m.model.canvasSizeChanged({300, 200});
    CanvasContainerView canvas(nullptr, CanvasContainerView::Backend::software);
    canvas.setModel(&m.model);
    canvas.resize(300, 200);
    canvas.show();
    EXPECT_FALSE(canvas.overlayView()->isVisible()) << "the software canvas paints the overlay itself";
    const QImage whole = canvas.grab().toImage();
    const QImage board = canvas.softwareView()->grab().toImage();
    for (int y = 0; y < 200; y += 9)
        for (int x = 0; x < 300; x += 7) ASSERT_EQ(whole.pixelColor(x, y), board.pixelColor(x, y)) << x << ", " << y;
}
