#include <gtest/gtest.h>

#include <QBuffer>
#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <cmath>

#include "CanvasTestSupport.hpp"
#include "canvas/ScreenshotController.hpp"

using namespace corvane;
using namespace corvane::testing;

namespace {

// Outline 0..40 × 0..30, a top copper pad at (10, 10), a bottom copper pad at (30, 10), a hole at (20, 20).
PCBPackage testBoard() {
    PCBPackage p = package({gerberFile("top.gbr", LayerType::copper(CopperLayerID::top()), {disc({10, 10}, 4)}),
                            gerberFile("bottom.gbr", LayerType::copper(CopperLayerID::bottom()), {disc({30, 10}, 4)}),
                            gerberFile("edge.gbr", LayerType::outline(), rectangleOutline(0, 0, 40, 30)),
                            drillFile("holes.drl", {DrillTool{1, 2.0, Plating::pth}}, {hit({20, 20})})});
    p.name = "demo";
    return p;
}



struct ScreenshotFixture : CanvasModel {
    explicit ScreenshotFixture(QSizeF canvas = {1000, 600}) {
        load(testBoard());
        model.canvasSizeChanged(canvas);  // fits the board
    }
    CameraState scaledCamera(double scale) const {
        CameraState c = model.camera();
        c.pxPerMM *= scale;
        return c;
    }
};

QImage paintObjects(const std::vector<PCBObject>& objects, const CameraState& camera, QSize size = {200, 200},
                    const QColor& color = Qt::red) {
    QImage image = blankImage(size.width(), size.height());
    QPainter p(&image);
    ScreenshotController::drawLayer(objects, p, CanvasTransform(QSizeF(size), camera), camera.pxPerMM, color,
                                    ScreenshotController::geometry(camera.pxPerMM));
    return image;
}

CameraState cameraAt(double k, Vec2 center = Vec2::zero(), bool mirrored = false) { return CameraState{center, k, mirrored}; }

} // namespace

TEST(Screenshot, ImageIsScaledAndCaptioned) {
    ScreenshotFixture f;
    const auto image = ScreenshotController::makeImage(f.model, 2.0);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->size(), QSize(2000, 1200));
    const CameraState cam = f.scaledCamera(2.0);
    EXPECT_TRUE(near(pixelAtBoard(*image, cam, {10, 10}), layerOver(f.model, "top.gbr", background())));
    // Holes take the drill layer's light colour, so that they show on the dark background as on copper.
    EXPECT_TRUE(near(pixelAtBoard(*image, cam, {20, 20}), layerOver(f.model, "holes.drl", background())));
    EXPECT_GT(pixelAtBoard(*image, cam, {20, 20}).lightness(), 200);
    EXPECT_TRUE(near(pixelAtBoard(*image, cam, {5, 25}), background()));

    // The caption: light text in the bottom-left corner, at its fixed pixel size.
    QRect caption;
    for (int y = 1100; y < 1200; ++y)
        for (int x = 0; x < 400; ++x)
            if (image->pixelColor(x, y).red() > background().red() + 40) caption |= QRect(x, y, 1, 1);
    ASSERT_FALSE(caption.isEmpty());
    EXPECT_GE(caption.left(), 12);
    EXPECT_LE(caption.left(), 14);
    EXPECT_GE(caption.top(), 1200 - 2 * 13 - 12);
    EXPECT_LE(caption.bottom(), 1200 - 10);
    EXPECT_LT(caption.height(), 20);
}

TEST(Screenshot, MirroredBoardKeepsItsCaptionUpright) {
    ScreenshotFixture f;
    CameraState cam = f.model.camera();
    cam.mirrored = true;
    f.model.setCamera(cam);
    const auto image = ScreenshotController::makeImage(f.model, 1.0);
    ASSERT_TRUE(image);
    // Top copper at x 10 now lies right of the centre, bottom copper at x 30 left of it.
    const CanvasTransform t(1000, 600, cam);
    EXPECT_GT(t.toView({10, 10}).x, 500);
    EXPECT_TRUE(near(pixelAtBoard(*image, cam, {10, 10}), layerOver(f.model, "top.gbr", background())));
    EXPECT_TRUE(near(pixelAtBoard(*image, cam, {30, 10}), layerOver(f.model, "bottom.gbr", background())));
    int left = 1000;
    for (int y = 540; y < 600; ++y)
        for (int x = 0; x < 300; ++x)
            if (image->pixelColor(x, y).red() > background().red() + 40) left = std::min(left, x);
    EXPECT_LE(left, 14) << "the caption stays at the left";
}

TEST(Screenshot, HiddenAndUnsoloedLayersAreAbsent) {
    ScreenshotFixture f;
    f.model.setLayerVisible("top.gbr", false);
    auto image = ScreenshotController::makeImage(f.model, 1.0);
    ASSERT_TRUE(image);
    EXPECT_TRUE(near(pixelAtBoard(*image, f.model.camera(), {10, 10}), background()));
    EXPECT_FALSE(near(pixelAtBoard(*image, f.model.camera(), {30, 10}), background()));

    f.model.setLayerVisible("top.gbr", true);
    f.model.toggleSolo("top.gbr");
    image = ScreenshotController::makeImage(f.model, 1.0);
    EXPECT_FALSE(near(pixelAtBoard(*image, f.model.camera(), {10, 10}), background()));
    EXPECT_TRUE(near(pixelAtBoard(*image, f.model.camera(), {30, 10}), background()));

    // A solo id that names no current layer is ignored.
    f.model.toggleSolo("top.gbr");
    f.model.toggleSolo("gone.gbr");
    image = ScreenshotController::makeImage(f.model, 1.0);
    EXPECT_FALSE(near(pixelAtBoard(*image, f.model.camera(), {10, 10}), background()));
    EXPECT_FALSE(near(pixelAtBoard(*image, f.model.camera(), {30, 10}), background()));
}

TEST(Screenshot, NoImageWithoutPackageOrForATinyCanvas) {
    CanvasModel empty;
    empty.model.canvasSizeChanged({1000, 600});
    EXPECT_FALSE(ScreenshotController::makeImage(empty.model, 2.0));

    ScreenshotFixture f({2, 600});
    EXPECT_FALSE(ScreenshotController::makeImage(f.model, 2.0));
    QGuiApplication::clipboard()->setText(QStringLiteral("keep me"));
    EXPECT_FALSE(ScreenshotController::copyScreenshot(f.model));
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("keep me"));
    EXPECT_TRUE(f.model.lastScreenshot().isNull());

    ScreenshotFixture narrow({600, 2});
    EXPECT_FALSE(ScreenshotController::makeImage(narrow.model, 2.0));
}

TEST(Screenshot, CopyPutsImageAndPngOnTheClipboard) {
    ScreenshotFixture f({300, 200});
    const auto image = ScreenshotController::copyScreenshot(f.model);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->size(), QSize(600, 400));
    EXPECT_EQ(f.model.lastScreenshot().size(), QSize(600, 400));
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    ASSERT_NE(data, nullptr);
    EXPECT_TRUE(data->hasImage());
    ASSERT_TRUE(data->hasFormat(QStringLiteral("image/png")));
    QImage png;
    ASSERT_TRUE(png.loadFromData(data->data(QStringLiteral("image/png")), "PNG"));
    EXPECT_EQ(png.size(), QSize(600, 400));
    // The PNG holds exactly the picture, every pixel of it.
    EXPECT_EQ(png.convertToFormat(QImage::Format_RGBA8888), image->convertToFormat(QImage::Format_RGBA8888));

    // Translucent pixels come back as Qt un-premultiplies them, give or take a level.
    QImage translucent(7, 3, QImage::Format_RGBA8888_Premultiplied);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 7; ++x) translucent.setPixelColor(x, y, QColor(40 * x, 255 - 30 * x, 90 * y, 255 - 40 * x));
    const auto bytes = ScreenshotController::pngData(translucent);
    ASSERT_TRUE(bytes);
    QImage back;
    ASSERT_TRUE(back.loadFromData(bytes->data(), static_cast<int>(bytes->size()), "PNG"));
    ASSERT_EQ(back.size(), translucent.size());
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 7; ++x) {
            const QColor a = back.pixelColor(x, y), b = translucent.pixelColor(x, y);
            EXPECT_EQ(a.alpha(), b.alpha());
            EXPECT_LE(std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue()), 3)
                << x << "," << y;
        }
    EXPECT_FALSE(ScreenshotController::pngData(QImage()));
}

TEST(Screenshot, ExportOverlayKeepsMeasurementsButNoGrid) {
    ScreenshotFixture f;
    f.model.setShowGrid(true);
    f.model.setShowCrosshair(true);
    f.model.setCursorWorld(Vec2{5, 25});
    BoardMeasurement m;
    m.p1 = Vec2{0, 15};
    m.p2 = Vec2{40, 15};
    f.model.setMeasurements({m});
    const auto image = ScreenshotController::makeImage(f.model, 2.0);
    ASSERT_TRUE(image);
    const CameraState cam = f.scaledCamera(2.0);
    EXPECT_FALSE(near(pixelAtBoard(*image, cam, {20, 15}), background(), 20)) << "the measurement line";
    EXPECT_TRUE(near(pixelAtBoard(*image, cam, {5, 27}), background())) << "no crosshair, no grid";
    EXPECT_TRUE(near(image->pixelColor(10, 10), background())) << "no grid";
}

TEST(LayerPainting, ClearObjectsCutOnlyTheirOwnLayer) {
    CanvasModel m;
    // The mask covers the board; the silkscreen square above it has a clear hole at (10, 10).
    const Contour square{{5, 5}, {15, 5}, {15, 15}, {5, 15}};
    const Contour all{{0, 0}, {40, 0}, {40, 30}, {0, 30}};
    m.load(package({gerberFile("mask.gbr", LayerType::solderMask(CopperLayerID::top()), {region({all})}),
                    gerberFile("silk.gbr", LayerType::silkscreen(CopperLayerID::top()),
                               {region({square}), clearObject(disc({10, 10}, 4)), disc({10, 10}, 1)}),
                    gerberFile("edge.gbr", LayerType::outline(), rectangleOutline(0, 0, 40, 30))}));
    m.model.canvasSizeChanged({400, 300});
    const auto image = ScreenshotController::makeImage(m.model, 1.0);
    ASSERT_TRUE(image);
    const CameraState cam = m.model.camera();
    const QColor maskOnly = layerOver(m.model, "mask.gbr", background());
    EXPECT_TRUE(near(pixelAtBoard(*image, cam, {25, 25}), maskOnly));
    EXPECT_TRUE(near(pixelAtBoard(*image, cam, {11.5, 10}), maskOnly)) << "the mask shows through the cut";
    EXPECT_TRUE(near(pixelAtBoard(*image, cam, {6, 6}), layerOver(m.model, "silk.gbr", maskOnly)));
    EXPECT_TRUE(near(pixelAtBoard(*image, cam, {10, 10}), layerOver(m.model, "silk.gbr", maskOnly)))
        << "a dark object after the clear one paints again";
}

TEST(LayerPainting, NegativePlaneIsTheBoardWithFeaturesCutOut) {
    CanvasModel m;
    m.load(package({gerberFile("mask.gbr", LayerType::solderMask(CopperLayerID::top()),
                               {clearObject(disc({10, 10}, 4)), clearObject(disc({30, 20}, 4))}),
                    gerberFile("edge.gbr", LayerType::outline(), rectangleOutline(0, 0, 40, 30))}));
    m.model.setLayerVisible("edge.gbr", false);
    m.model.canvasSizeChanged({400, 300});
    const auto image = ScreenshotController::makeImage(m.model, 1.0);
    ASSERT_TRUE(image);
    const CameraState cam = m.model.camera();
    const QColor plane = layerOver(m.model, "mask.gbr", background());
    EXPECT_TRUE(near(pixelAtBoard(*image, cam, {20, 15}), plane));
    EXPECT_TRUE(near(pixelAtBoard(*image, cam, {10, 10}), background()));
    EXPECT_TRUE(near(pixelAtBoard(*image, cam, {30, 20}), background()));
    // Bounded by the outline: no mask where the board is not.
    EXPECT_TRUE(near(pixelAtBoard(*image, cam, {1, 15}), plane));
    EXPECT_TRUE(near(pixelAtBoard(*image, cam, {-1.5, 15}), background())) << "nothing past the outline";
    EXPECT_TRUE(near(pixelAtBoard(*image, cam, {41.5, 15}), background()));
}

TEST(LayerPainting, FlashesTakeTheirApertureShape) {
    const CameraState cam = cameraAt(10);
    const QColor red(Qt::red);
    auto at = [&](const QImage& img, Vec2 b) { return pixelAtBoard(img, cam, b); };

    QImage img = paintObjects({pad({0, 0}, ApertureShape::rectangle(4, 1))}, cam);
    EXPECT_TRUE(near(at(img, {1.9, 0.4}), red)) << "the rectangle's corner";
    EXPECT_TRUE(near(at(img, {0, 1.5}), Qt::black)) << "inside the bounding circle, outside the rectangle";

    img = paintObjects({pad({0, 0}, ApertureShape::obround(4, 2))}, cam);
    EXPECT_TRUE(near(at(img, {1.7, 0}), red));
    EXPECT_TRUE(near(at(img, {0, 0.9}), red));
    EXPECT_TRUE(near(at(img, {1.5, 0.8}), red)) << "round ends on straight sides, not an ellipse";
    EXPECT_TRUE(near(at(img, {0, 1.5}), Qt::black));
    EXPECT_TRUE(near(at(img, {1.8, 0.8}), Qt::black));

    const Contour triangle{{-2, -2}, {2, -2}, {0, 2}};
    img = paintObjects({pad({1, 1}, ApertureShape::macro("TRI", 5.7, std::vector<Contour>{triangle}))}, cam);
    EXPECT_TRUE(near(at(img, {1, 0}), red));
    EXPECT_TRUE(near(at(img, {-0.8, 2.5}), Qt::black)) << "outside the outline, inside its bounding circle";

    img = paintObjects({pad({0, 0}, ApertureShape::macro("M", 3))}, cam);
    EXPECT_TRUE(near(at(img, {1.3, 0}), red)) << "a macro without outline is its bounding circle";
    EXPECT_TRUE(near(at(img, {1.6, 0}), Qt::black));

    img = paintObjects({pad({0, 0}, ApertureShape::polygon(3, 6, 0)), pad({5, 5}, std::nullopt)}, cam);
    EXPECT_TRUE(near(at(img, {1.3, 0}), red));
    EXPECT_TRUE(near(at(img, {1.42 * std::cos(M_PI / 6), 1.42 * std::sin(M_PI / 6)}), Qt::black)) << "a hexagon's side";
    img = paintObjects({pad({0, 0}, ApertureShape::polygon(3, 6, 30))}, cam);
    EXPECT_TRUE(near(at(img, {1.35 * std::cos(M_PI / 6), 1.35 * std::sin(M_PI / 6)}), red)) << "its corner, turned 30°";
    EXPECT_TRUE(near(at(img, {1.42, 0}), Qt::black));
    img = paintObjects({pad({5, 5}, std::nullopt)}, cam);
    EXPECT_GT(at(img, {5, 5}).red(), 100) << "no shape: a 0.2 mm circle";
    EXPECT_TRUE(near(at(img, {5.3, 5}), Qt::black));
}

TEST(LayerPainting, StrokesArcsAndHoles) {
    const CameraState cam = cameraAt(10, {0.05, 0.05});  // board (0, 0) on the centre of pixel (99, 100)
    auto at = [&](const QImage& img, Vec2 b) { return pixelAtBoard(img, cam, b); };

    // A hair-thin track is one pixel wide: full colour on its pixel row, nothing beside it.
    QImage img = paintObjects({track({-5, 0}, {5, 0}, 0.01)}, cam);
    EXPECT_TRUE(near(at(img, {0, 0}), Qt::red));
    EXPECT_TRUE(near(at(img, {0, 0.1}), Qt::black));
    EXPECT_TRUE(near(at(img, {5.4, 0}), Qt::black));

    img = paintObjects({track({-5, 0}, {5, 0}, 1.0)}, cam);
    EXPECT_TRUE(near(at(img, {5.4, 0}), Qt::red)) << "round caps";

    img = paintObjects({track({3, 3}, {3, 3}, 1.0)}, cam);
    EXPECT_TRUE(near(at(img, {3, 3}), Qt::red)) << "a zero-length track is its round cap";

    img = paintObjects({arc({5, 0}, {-5, 0}, {0, 0}, false, 0.5)}, cam);
    EXPECT_TRUE(near(at(img, {0, 5}), Qt::red)) << "counter-clockwise over the top";
    EXPECT_TRUE(near(at(img, {0, -5}), Qt::black));

    PCBObject hole(PCBObjectKind::drill({0, 0}, 2.0, true), std::nullopt, std::nullopt, Polarity::dark, std::nullopt,
                   std::nullopt, std::nullopt, std::nullopt, 0);
    PCBObject slot(PCBObjectKind::slot({4, -4}, {8, -4}, 1.0, false), std::nullopt, std::nullopt, Polarity::dark,
                   std::nullopt, std::nullopt, std::nullopt, std::nullopt, 1);
    img = paintObjects({hole, slot}, cam);
    EXPECT_TRUE(near(at(img, {0.5, 0}), Qt::red)) << "holes in the layer's colour";
    EXPECT_TRUE(near(at(img, {6, -4}), Qt::red));
}

TEST(LayerPainting, FarAwayAndBrokenObjectsAreSkipped) {
    const CameraState cam = cameraAt(4000);
    std::vector<PCBObject> objects{track({-1e18, 0}, {1e18, 0}, 0.001), disc({1e20, 1e20}, 1),
                                   track({0, std::nan("")}, {1, 1}, 0.1), pad({0, 0}, ApertureShape::circle(INFINITY))};
    const auto start = std::chrono::steady_clock::now();
    const QImage img = paintObjects(objects, cam);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_TRUE(near(pixelAtBoard(img, cam, {0.001, 0}), Qt::red)) << "the long track, cut to the target";
    EXPECT_TRUE(near(img.pixelColor(5, 5), Qt::black));
}

TEST(LayerPainting, BandsJoinWithoutSeams) {
    // Shapes across many band edges, painted in bands and in one pass: the rasteriser may round an edge
    // pixel a level or two differently when it is cut, never more.
    std::vector<PCBObject> objects;
    for (int i = 0; i < 40; ++i) {
        const double x = -9 + (i % 8) * 2.5, y = -9 + (i / 8) * 4.1;
        objects.push_back(i % 3 == 0 ? track({x, y}, {x + 1.7, y + 3.3}, 0.37)
                          : i % 3 == 1 ? pad({x, y}, ApertureShape::circle(1.3))
                                       : pad({x, y}, ApertureShape::obround(1.1, 2.9)));
    }
    const CameraState cam = cameraAt(13.7, {0.31, -0.17});
    const QSize size(300, 700);
    const QImage whole = paintObjects(objects, cam, size, QColor(200, 120, 40, 180));
    QImage banded = blankImage(size.width(), size.height());
    ScreenshotController::paintLayerJobs(banded, QSizeF(size), cam, {{objects, QColor(200, 120, 40, 180), std::nullopt}});
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            ASSERT_TRUE(near(banded.pixelColor(x, y), whole.pixelColor(x, y), 3)) << x << ", " << y;
}

TEST(LayerPainting, HighDensityTargetsKeepBoardPositions) {
    const CameraState cam = cameraAt(10);
    QImage target(400, 300, QImage::Format_ARGB32_Premultiplied);  // 200 × 150 points at two pixels each
    target.setDevicePixelRatio(2);
    target.fill(Qt::black);
    const std::vector<PCBObject> objects{pad({3, 2}, ApertureShape::circle(2)), clearObject(pad({3, 2}, ApertureShape::circle(0.6)))};
    ScreenshotController::paintLayerJobs(target, QSizeF(200, 150), cam, {{objects, QColor(Qt::green), std::nullopt}});
    EXPECT_TRUE(near(pixelAtBoard(target, cam, {3.6, 2}), Qt::green));
    EXPECT_TRUE(near(pixelAtBoard(target, cam, {3, 2}), Qt::black)) << "what lies below shows through the cut";
    EXPECT_TRUE(near(pixelAtBoard(target, cam, {4.15, 2}), Qt::black));
    // Board (3, 2) lies 30 points right of and 20 above the centre: pixel (260, 110) at density 2.
    EXPECT_TRUE(near(target.pixelColor(268, 110), Qt::green));
}
