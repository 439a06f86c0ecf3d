#include <gtest/gtest.h>

#include <QDir>
#include <QTest>

#include "AppTestSupport.hpp"
#include "GLTestSupport.hpp"
#include "canvas/CanvasContainerView.hpp"
#include "canvas/OverlayView.hpp"

using namespace corvane;
using namespace corvane::testing;

namespace {

// A small board: top copper pad and track, a silkscreen pad, a hole, all inside a 40 × 30 outline.
PCBPackage smallBoard() {
    return package({gerberFile("top.gbr", LayerType::copper(CopperLayerID::top()), {disc({10, 10}, 4), track({18, 6}, {32, 6}, 1.5)}),
                    gerberFile("silk.gbr", LayerType::silkscreen(CopperLayerID::top()), {disc({30, 20}, 5)}),
                    gerberFile("edge.gbr", LayerType::outline(), rectangleOutline(0, 0, 40, 30)),
                    drillFile("holes.drl", {DrillTool{1, 1.5, Plating::pth}}, {hit({10, 10})})});
}

struct Window {
    ScratchSettings settings;
    AppModel model{settings.open()};
    CanvasHost host{&model};
    std::unique_ptr<CanvasContainerView> canvas;

    explicit Window(CanvasContainerView::Backend backend) {
        model.setShowGrid(false);
        model.setShowOrigin(false);
        model.setShowCrosshair(false);
        canvas.reset(host.makeView(nullptr, backend));
        canvas->resize(320, 240);
        canvas->show();
    }
    QImage shoot(const QString& name) {
        if (!QTest::qWaitForWindowExposed(canvas.get())) return {};
        if (!model.package()) {
            model.loadPackage(smallBoard());
            model.setMeasurements({});
        }
        QTest::qWait(300);
        const QImage image = canvas->grab().toImage().convertToFormat(QImage::Format_RGB32);
        QDir().mkpath(QStringLiteral("canvas-artifacts"));
        image.save(QStringLiteral("canvas-artifacts/") + name + QStringLiteral(".png"));
        return image;
    }
};

} // namespace

TEST(CanvasWindow, GpuAndSoftwareCanvasesAgreeAtTheSameBoardPoints) {
    CORVANE_REQUIRE_GL();
    Window gpu(CanvasContainerView::Backend::automatic);
    ASSERT_NE(gpu.canvas->renderer(), nullptr) << "the probe should choose OpenGL here";
    EXPECT_EQ(gpu.model.renderer(), gpu.canvas->renderer());
    EXPECT_TRUE(gpu.canvas->overlayView()->isVisible());
    Window software(CanvasContainerView::Backend::software);
    EXPECT_EQ(software.model.renderer(), nullptr);

    const QImage a = gpu.shoot(QStringLiteral("gpu-canvas"));
    const QImage b = software.shoot(QStringLiteral("software-canvas"));
    ASSERT_FALSE(a.isNull());
    ASSERT_FALSE(b.isNull());
    ASSERT_EQ(gpu.model.camera(), software.model.camera());
    const CameraState cam = gpu.model.camera();
    for (Vec2 p : {Vec2{11.5, 10}, Vec2{25, 6}, Vec2{30, 20}, Vec2{20, 25}, Vec2{-3, 15}}) {
        const QColor ga = gltest::pixelAt(a, cam, p), sb = gltest::pixelAt(b, cam, p);
        EXPECT_TRUE(gltest::near(ga, {sb.red(), sb.green(), sb.blue()}, 4)) << p.x << ", " << p.y;
    }
    EXPECT_TRUE(gltest::near(gltest::pixelAt(a, cam, {20, 25}), gltest::kBackground, 2));
    // Both canvases draw holes in the drill layer's light colour, which shows on copper and background alike.
    EXPECT_GT(gltest::pixelAt(a, cam, {10, 10}).lightness(), 200);
    EXPECT_GT(gltest::pixelAt(b, cam, {10, 10}).lightness(), 200);
    EXPECT_FALSE(gltest::near(gltest::pixelAt(a, cam, {25, 6}), gltest::kBackground, 10)) << "the track is drawn";

    // The bottom view: both canvases mirror about the same centre.
    CameraState mirrored = cam;
    mirrored.mirrored = true;
    gpu.model.setCamera(mirrored);
    software.model.setCamera(mirrored);
    const QImage am = gpu.shoot(QStringLiteral("gpu-canvas-mirrored"));
    const QImage bm = software.shoot(QStringLiteral("software-canvas-mirrored"));
    for (Vec2 p : {Vec2{11.5, 10}, Vec2{25, 6}, Vec2{30, 20}, Vec2{20, 25}}) {
        const QColor ga = gltest::pixelAt(am, mirrored, p), sb = gltest::pixelAt(bm, mirrored, p);
        EXPECT_TRUE(gltest::near(ga, {sb.red(), sb.green(), sb.blue()}, 4)) << "mirrored " << p.x << ", " << p.y;
        EXPECT_TRUE(gltest::near(ga, {gltest::pixelAt(a, cam, p).red(), gltest::pixelAt(a, cam, p).green(),
                                      gltest::pixelAt(a, cam, p).blue()}, 4))
            << "the same board point shows the same colour, " << p.x << ", " << p.y;
    }
}
