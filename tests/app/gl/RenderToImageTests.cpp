#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "GLTestSupport.hpp"
#include "mesh/Tessellator.hpp"

using namespace corvane;
using namespace corvane::gltest;

namespace {

const BoardRenderer::Color kRed{1, 0, 0, 1};
const BoardRenderer::Color kGreen{0, 1, 0, 1};
const BoardRenderer::Color kBlue{0, 0, 1, 1};

// 200 × 160 pixels at 8 px/mm around the origin: the view spans x −12.5 … 12.5 mm, y −10 … 10 mm.
QImage render(GLBoardRenderer& r, QSize size = {200, 160}, double dpr = 1.0) {
    QImage image = r.renderToImage(size, dpr);
    EXPECT_FALSE(image.isNull());
    return image;
}

PCBObject squareRegion(double half, Polarity polarity, double cx = 0) {
    const Contour c{{cx - half, -half}, {cx + half, -half}, {cx + half, half}, {cx - half, half}};
    return PCBObject(PCBObjectKind::region({c}), std::nullopt, std::nullopt, polarity, std::nullopt, std::nullopt,
                     std::nullopt, std::nullopt, 0);
}

bool everyPixelIs(const QImage& image, Rgb expected) {
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (!near(image.pixelColor(x, y), expected)) {
                ADD_FAILURE() << "pixel " << x << ", " << y << ": " << near(image.pixelColor(x, y), expected).message();
                return false;
            }
        }
    }
    return true;
}

class RenderToImage : public ::testing::Test {
protected:
    void SetUp() override { CORVANE_REQUIRE_GL(); }
    GLBoardRenderer renderer{nullptr};
};

} // namespace

TEST_F(RenderToImage, EmptyCanvasIsTheBackgroundEverywhere) {
    const QImage image = render(renderer);
    EXPECT_EQ(image.size(), QSize(200, 160));
    EXPECT_EQ(image.format(), QImage::Format_RGBA8888_Premultiplied);
    EXPECT_TRUE(everyPixelIs(image, kBackground));

    // Hidden layers and layers of no triangles leave it unchanged.
    renderer.setLayer("hidden", kRed, 1, false, rect(-5, -5, 5, 5), {});
    renderer.setLayer("empty", kRed, 1, true, {}, {});
    EXPECT_TRUE(everyPixelIs(render(renderer), kBackground));
}

TEST_F(RenderToImage, DarkTrianglesBlendTheirColourByOpacity) {
    const BoardRenderer::Color c{0.8f, 0.4f, 0.2f, 0.25f}; // the colour's own alpha plays no part
    renderer.setLayer("a", c, 0.5f, true, rect(-5, -5, 5, 5), {});
    const CameraState cam = renderer.camera();
    const QImage image = render(renderer);
    const double o = 0.5;
    const Rgb expected{int(std::lround(0.8 * o * 255 + kBackground.r * (1 - o))),
                       int(std::lround(0.4 * o * 255 + kBackground.g * (1 - o))),
                       int(std::lround(0.2 * o * 255 + kBackground.b * (1 - o)))};
    EXPECT_TRUE(near(pixelAt(image, cam, {0, 0}), expected));
    EXPECT_TRUE(near(pixelAt(image, cam, {-4.9, 4.9}), expected));
    EXPECT_TRUE(near(pixelAt(image, cam, {6, 0}), kBackground));

    // Opaque layers keep their colour; a half-transparent one over them blends with it.
    renderer.setLayer("a", kRed, 1, true, rect(-5, -5, 5, 5), {});
    renderer.setLayer("b", kBlue, 0.5f, true, rect(0, -5, 10, 5), {});
    const QImage two = render(renderer);
    EXPECT_TRUE(near(pixelAt(two, cam, {-2, 0}), {255, 0, 0}));
    EXPECT_TRUE(near(pixelAt(two, cam, {2, 0}), {127, 0, 128}));
    EXPECT_TRUE(near(pixelAt(two, cam, {7, 0}), {10, 10, 141}));
}

TEST_F(RenderToImage, ClearTrianglesCutTheirOwnLayerOnly) {
    renderer.setLayer("below", kRed, 1, true, rect(-10, -8, 10, 8), {});
    renderer.setLayer("cut", kGreen, 1, true, rect(-6, -6, 6, 6), rect(-2, -2, 2, 2));
    const CameraState cam = renderer.camera();
    const QImage image = render(renderer);
    EXPECT_TRUE(near(pixelAt(image, cam, {0, 0}), {255, 0, 0})); // the layer below shows through the hole
    EXPECT_TRUE(near(pixelAt(image, cam, {4, 0}), {0, 255, 0}));
    EXPECT_TRUE(near(pixelAt(image, cam, {8, 0}), {255, 0, 0}));
    EXPECT_TRUE(near(pixelAt(image, cam, {11, 0}), kBackground));
}

TEST_F(RenderToImage, LayerOfOnlyClearTrianglesShowsNothing) {
    renderer.setLayer("clear", kRed, 1, true, {}, rect(-12.5, -10, 12.5, 10));
    EXPECT_TRUE(everyPixelIs(render(renderer), kBackground));
}

TEST_F(RenderToImage, PolarityRunsKeepDarkObjectsThatFollowAClearOne) {
    // A pour, its clearance, and a pad inside the clearance, in file order.
    const TessellatedLayer layer = Tessellator().tessellate(
        {squareRegion(8, Polarity::dark), squareRegion(5, Polarity::clear), squareRegion(2, Polarity::dark)});
    ASSERT_EQ(layer.runs.size(), 3u);
    renderer.setLayer("copper", kRed, 1, true, std::make_shared<const TessellatedLayer>(layer));
    const CameraState cam = renderer.camera();
    const QImage image = render(renderer);
    EXPECT_TRUE(near(pixelAt(image, cam, {0, 0}), {255, 0, 0}));   // the pad
    EXPECT_TRUE(near(pixelAt(image, cam, {3.5, 0}), kBackground)); // the clearance
    EXPECT_TRUE(near(pixelAt(image, cam, {6.5, 0}), {255, 0, 0})); // the pour

    // Without runs every clear triangle erases every dark one, the pad included.
    renderer.setLayer("copper", kRed, 1, true, layer.dark.vertices(), layer.clear.vertices());
    const QImage plain = render(renderer);
    EXPECT_TRUE(near(pixelAt(plain, cam, {0, 0}), kBackground));
    EXPECT_TRUE(near(pixelAt(plain, cam, {6.5, 0}), {255, 0, 0}));
}

TEST_F(RenderToImage, NegativePlaneIsAFilledBoxWithTheFeaturesCutOut) {
    const TessellatedLayer features = Tessellator().tessellate({squareRegion(2, Polarity::dark, -4),
                                                                   squareRegion(1, Polarity::clear, 4)});
    // Board box −5 … 5 grown by 5 mm; the clear mesh is the features' clear then dark triangles.
    renderer.setLayer("mask", kGreen, 1, true, rect(-10, -10, 10, 10),
                      joined(features.clear.vertices(), features.dark.vertices()));
    const CameraState cam = renderer.camera();
    const QImage image = render(renderer);
    EXPECT_TRUE(near(pixelAt(image, cam, {-4, 0}), kBackground));
    EXPECT_TRUE(near(pixelAt(image, cam, {4, 0}), kBackground));
    EXPECT_TRUE(near(pixelAt(image, cam, {0, 0}), {0, 255, 0}));
    EXPECT_TRUE(near(pixelAt(image, cam, {9, 9}), {0, 255, 0}));
    EXPECT_TRUE(near(pixelAt(image, cam, {11, 0}), kBackground));
}

TEST_F(RenderToImage, FirstUploadOrderIsTheDrawingOrder) {
    const CameraState cam = renderer.camera();
    renderer.setLayer("a", kRed, 1, true, rect(-6, -4, 4, 4), {});
    renderer.setLayer("b", kGreen, 1, true, rect(-4, -4, 6, 4), {});
    renderer.setLayer("a", kBlue, 1, true, rect(-6, -4, 4, 4), {}); // keeps its place at the bottom
    QImage image = render(renderer);
    EXPECT_TRUE(near(pixelAt(image, cam, {0, 0}), {0, 255, 0}));
    EXPECT_TRUE(near(pixelAt(image, cam, {-5, 0}), {0, 0, 255}));

    // Emptied, "a" keeps its place and draws nothing; filled again, it is still below "b".
    renderer.setLayer("a", kBlue, 1, true, {}, {});
    image = render(renderer);
    EXPECT_TRUE(near(pixelAt(image, cam, {-5, 0}), kBackground));
    renderer.setLayer("a", kBlue, 1, true, rect(-6, -4, 4, 4), {});
    EXPECT_TRUE(near(pixelAt(render(renderer), cam, {0, 0}), {0, 255, 0}));

    // After the list is emptied the uploads define the order afresh.
    renderer.removeAllLayers();
    EXPECT_TRUE(everyPixelIs(render(renderer), kBackground));
    renderer.setLayer("b", kGreen, 1, true, rect(-4, -4, 6, 4), {});
    renderer.setLayer("a", kBlue, 1, true, rect(-6, -4, 4, 4), {});
    EXPECT_TRUE(near(pixelAt(render(renderer), cam, {0, 0}), {0, 0, 255}));
}

TEST_F(RenderToImage, WorldYIsUpAndMirroringFlipsX) {
    // A square in the board's +x, +y quadrant.
    renderer.setLayer("q", kRed, 1, true, rect(3, 3, 7, 7), {});
    QImage image = render(renderer);
    EXPECT_TRUE(near(image.pixelColor(140, 40), {255, 0, 0})); // top right
    EXPECT_TRUE(near(image.pixelColor(60, 40), kBackground));
    EXPECT_TRUE(near(image.pixelColor(140, 120), kBackground));

    renderer.setCamera(CameraState{Vec2::zero(), 8.0, true});
    image = render(renderer);
    EXPECT_TRUE(near(image.pixelColor(60, 40), {255, 0, 0})); // top left
    EXPECT_TRUE(near(image.pixelColor(140, 40), kBackground));
    EXPECT_TRUE(near(image.pixelColor(60, 120), kBackground));
}

TEST_F(RenderToImage, CameraCentreAndScaleFollowTheCanvasTransform) {
    for (bool mirrored : {false, true}) {
        const CameraState cam{Vec2{40, -15}, 3.0, mirrored};
        renderer.setCamera(cam);
        renderer.setLayer("p", kRed, 1, true, rect(44, -13, 50, -9), {});
        const QImage image = render(renderer, {301, 97});
        EXPECT_TRUE(near(pixelAt(image, cam, {47, -11}), {255, 0, 0})) << "mirrored " << mirrored;
        EXPECT_TRUE(near(pixelAt(image, cam, {44.5, -12.5}), {255, 0, 0})) << "mirrored " << mirrored;
        EXPECT_TRUE(near(pixelAt(image, cam, {42, -11}), kBackground)) << "mirrored " << mirrored;
        EXPECT_TRUE(near(pixelAt(image, cam, {47, -7}), kBackground)) << "mirrored " << mirrored;
    }
}

TEST_F(RenderToImage, OddWidthsReadBackWithTightRows) {
    // Board x ≥ 0 is red: the edge must fall in the same column of every row.
    renderer.setLayer("half", kRed, 1, true, rect(0, -100, 100, 100), {});
    for (int width : {301, 97}) {
        const QImage image = render(renderer, {width, 37});
        ASSERT_EQ(image.width(), width);
        EXPECT_EQ(image.bytesPerLine(), width * 4);
        const uchar* bits = image.constBits();
        for (int y = 0; y < image.height(); ++y) {
            const uchar* right = bits + (std::size_t(y) * width + width / 2 + 1) * 4;
            const uchar* left = bits + (std::size_t(y) * width + width / 2 - 1) * 4;
            const uchar* last = bits + (std::size_t(y) * width + width - 1) * 4;
            ASSERT_EQ(right[0], 255) << "width " << width << " row " << y;
            ASSERT_EQ(last[0], 255) << "width " << width << " row " << y;
            ASSERT_EQ(left[0], kBackground.r) << "width " << width << " row " << y;
        }
    }
}

TEST_F(RenderToImage, DevicePixelRatioTwoDoublesThePixels) {
    const CameraState cam = renderer.camera();
    renderer.setLayer("s", kRed, 1, true, rect(0, 0, 2, 2), {}); // 16 points wide at 8 points/mm
    auto redRun = [](const QImage& image, int row) {
        int n = 0;
        for (int x = 0; x < image.width(); ++x) n += image.pixelColor(x, row).red() > 128;
        return n;
    };
    const QImage one = render(renderer, {200, 160}, 1.0);
    const QImage two = render(renderer, {400, 320}, 2.0);
    EXPECT_EQ(two.devicePixelRatio(), 2.0);
    EXPECT_EQ(redRun(one, 72), 16);
    EXPECT_EQ(redRun(two, 144), 32);
    EXPECT_TRUE(near(pixelAt(two, cam, {1.9, 1.9}), {255, 0, 0}));
    EXPECT_TRUE(near(pixelAt(two, cam, {2.1, 1}), kBackground));
}

TEST_F(RenderToImage, UnusableSizesGiveNoImage) {
    EXPECT_TRUE(renderer.renderToImage({0, 10}, 1.0).isNull());
    EXPECT_TRUE(renderer.renderToImage({10, -1}, 1.0).isNull());
    EXPECT_TRUE(renderer.renderToImage({10, 10}, 0.0).isNull());
    EXPECT_TRUE(renderer.renderToImage({10, 10}, std::numeric_limits<double>::quiet_NaN()).isNull());
    EXPECT_TRUE(renderer.renderToImage({1 << 20, 4}, 1.0).isNull());
    EXPECT_FALSE(renderer.renderToImage({1, 1}, 1.0).isNull());
}

TEST_F(RenderToImage, RunsOutsideTheirMeshAreCutToWholeTrianglesInside) {
    std::vector<float> dark = rect(-5, -5, 5, 5);
    dark.insert(dark.end(), {9, 9, 9}); // a vertex and a half of a triangle never finished
    const std::vector<PolarityRun> runs{
        {Polarity::dark, 0, 1000},  // past the end: the two whole triangles
        {Polarity::clear, 0, 3},    // no clear mesh at all
        {Polarity::dark, -3, 6},    // before the start
        {Polarity::dark, 6, 0},     // empty
    };
    renderer.setLayer("odd", kRed, 1, true, dark, {}, runs);
    const CameraState cam = renderer.camera();
    const QImage image = render(renderer);
    EXPECT_TRUE(near(pixelAt(image, cam, {0, 0}), {255, 0, 0}));
    EXPECT_TRUE(near(pixelAt(image, cam, {9, 8}), kBackground));
}

// Each layer pass is limited to the pixels its ink can reach; the picture must be the same as an unlimited
// pass, antialiased edges included, in both views and partly off the image.
TEST_F(RenderToImage, LimitingALayerPassToItsInkChangesNoPixel) {
    const TessellatedLayer strokes = Tessellator().tessellate({
        PCBObject(PCBObjectKind::arcStroke({-3, 0}, {3, 0}, {0, 0}, true), std::nullopt, ApertureShape::circle(0.7),
                  Polarity::dark, std::nullopt, std::nullopt, std::nullopt, std::nullopt, 0),
        PCBObject(PCBObjectKind::stroke({8, -9}, {15, 12}), std::nullopt, ApertureShape::circle(1.3),
                  Polarity::dark, std::nullopt, std::nullopt, std::nullopt, std::nullopt, 1),
    });
    // Two triangles of no area far apart: they draw nothing but make the ink cover every pixel.
    std::vector<float> everywhere = strokes.dark.vertices();
    everywhere.insert(everywhere.end(), {-500, -500, -500, -500, -500, -500, 500, 500, 500, 500, 500, 500});
    for (bool mirrored : {false, true}) {
        renderer.removeAllLayers();
        renderer.setCamera(CameraState{Vec2{0.37, -0.21}, 7.3, mirrored});
        renderer.setLayer("below", kBlue, 0.7f, true, rect(-20, -20, 20, 20), {});
        renderer.setLayer("s", {0.9f, 0.6f, 0.1f, 1}, 0.8f, true, strokes.dark.vertices(), {});
        const QImage limited = render(renderer, {211, 157});
        renderer.setLayer("s", {0.9f, 0.6f, 0.1f, 1}, 0.8f, true, everywhere, {});
        const QImage full = render(renderer, {211, 157});
        EXPECT_TRUE(limited == full) << "mirrored " << mirrored;
        // The straight stroke's middle: orange at 0.8 over blue at 0.7 over the background.
        const Rgb below{int(std::lround(19 * 0.3)), int(std::lround(20 * 0.3)), int(std::lround(0.7 * 255 + 26 * 0.3))};
        const Rgb expected{int(std::lround(0.9 * 0.8 * 255 + below.r * 0.2)),
                           int(std::lround(0.6 * 0.8 * 255 + below.g * 0.2)),
                           int(std::lround(0.1 * 0.8 * 255 + below.b * 0.2))};
        EXPECT_TRUE(near(pixelAt(limited, renderer.camera(), {11.5, 1.5}), expected, 2)) << "mirrored " << mirrored;
    }
}

// A 0.1 mm board outline is 0.29 pixels wide on a fitted board: every stroke is drawn at least one pixel wide,
// dark strokes and clear ones alike, and a wide stroke is not darkened along its middle by that.
TEST_F(RenderToImage, StrokesNarrowerThanAPixelStayOnePixelWide) {
    const auto stroke = [](Vec2 a, Vec2 b, double width, Polarity polarity) {
        return PCBObject(PCBObjectKind::stroke(a, b), std::nullopt, ApertureShape::circle(width), polarity, std::nullopt,
                         std::nullopt, std::nullopt, std::nullopt, 0);
    };
    const CameraState cam{Vec2{0, 0}, 2.9, false};
    renderer.setCamera(cam);
    renderer.setLayer("outline", kRed, 1, true,
                      std::make_shared<const TessellatedLayer>(Tessellator().tessellate(
                          {stroke({-30, 10.05}, {30, 10.05}, 0.1, Polarity::dark),
                           stroke({-30, -10.05}, {30, -10.05}, 0.1, Polarity::dark)})));
    QImage image = render(renderer, {200, 160});
    const auto strongest = [&](const QImage& img, double boardX, double boardY, auto channel) {
        const Vec2 v = CanvasTransform(img.width(), img.height(), cam).toView({boardX, boardY});
        int best = 0;
        for (int dy = -2; dy <= 2; ++dy) best = std::max(best, channel(img.pixelColor(int(v.x), int(v.y) + dy)));
        return best;
    };
    const auto red = [](const QColor& c) { return c.red(); };
    for (double x = -30; x <= 30; x += 0.37) {
        ASSERT_GE(strongest(image, x, 10.05, red), 96) << "top edge at x " << x;
        ASSERT_GE(strongest(image, x, -10.05, red), 96) << "bottom edge at x " << x;
    }

    // A thin clearance across a pour still parts it.
    renderer.removeAllLayers();
    renderer.setLayer("pour", kGreen, 1, true,
                      std::make_shared<const TessellatedLayer>(Tessellator().tessellate(
                          {squareRegion(8, Polarity::dark), stroke({-8, 0.03}, {8, 0.03}, 0.05, Polarity::clear)})));
    image = render(renderer, {200, 160});
    const auto green = [](const QColor& c) { return 255 - c.green(); };
    for (double x = -7; x <= 7; x += 0.41) ASSERT_GE(strongest(image, x, 0.03, green), 96) << "clearance at x " << x;

    // A wide translucent stroke at a close zoom: one even colour across, its middle no darker.
    const CameraState close{Vec2{0, 0}, 8, false};
    renderer.setCamera(close);
    renderer.removeAllLayers();
    renderer.setLayer("mask", kRed, 0.45f, true,
                      std::make_shared<const TessellatedLayer>(
                          Tessellator().tessellate({stroke({-8, 0}, {8, 0}, 2, Polarity::dark)})));
    image = render(renderer);
    EXPECT_TRUE(near(pixelAt(image, close, {0, 0}), {int(std::lround(255 * 0.45 + 19 * 0.55)), 11, 14}, 2));
    EXPECT_EQ(pixelAt(image, close, {0, 0}), pixelAt(image, close, {0, 0.6}));
}

namespace {

// A fitted board's small pads and thin tracks, a clear disc over them and arcs within it.
std::shared_ptr<const TessellatedLayer> padsAndTracks() {
    std::vector<PCBObject> objects;
    std::int64_t index = 0;
    const auto add = [&](PCBObjectKind kind, double width, Polarity polarity) {
        objects.emplace_back(std::move(kind), std::nullopt, ApertureShape::circle(width), polarity, std::nullopt,
                             std::nullopt, std::nullopt, std::nullopt, index++);
    };
    for (int i = 0; i < 40; ++i)
        for (int j = 0; j < 30; ++j) add(PCBObjectKind::flash({-20 + i * 1.03, -15 + j * 1.07}), 0.15 + 0.02 * (i % 9), Polarity::dark);
    for (int i = 0; i < 25; ++i) add(PCBObjectKind::stroke({-21, -14.3 + i * 1.2}, {21, -13.1 + i * 1.2}), 0.08, Polarity::dark);
    add(PCBObjectKind::flash({0, 0}), 6, Polarity::clear);
    for (int i = 0; i < 12; ++i) add(PCBObjectKind::arcStroke({-2.0 + i * 0.3, 0}, {2.0 - i * 0.3, 0}, {0, 0}, i % 2 == 0), 0.05, Polarity::dark);
    return std::make_shared<const TessellatedLayer>(Tessellator().tessellate(objects));
}

} // namespace

// Where the driver rasterises on the processor the canvas draws its layers from their own arrays and leaves
// out the triangles that cover no sample: a fitted board of small pads and thin tracks comes out with the
// pixels the buffers give, mirrored or not, at any pixel ratio.
TEST_F(RenderToImage, DrawingInPlaceGivesThePixelsOfTheBuffers) {
    const auto layer = padsAndTracks();
    const auto draw = [&](bool inPlace, const CameraState& camera, double dpr, std::int64_t* leftOut) {
        const bool before = GLBoardRenderer::setReadsVerticesInPlace(inPlace);
        GLBoardRenderer r(nullptr);
        r.setCamera(camera);
        r.setLayer("below", kBlue, 0.6f, true, rect(-25, -20, 25, 20), {});
        r.setLayer("pads", {0.9f, 0.6f, 0.1f, 1}, 0.85f, true, layer);
        const QImage image = render(r, {int(211 * dpr), int(157 * dpr)}, dpr);
        *leftOut = r.trianglesLeftOut();
        GLBoardRenderer::setReadsVerticesInPlace(before);
        return image;
    };
    for (const bool mirrored : {false, true}) {
        for (const double dpr : {1.0, 2.0}) {
            const CameraState camera{Vec2{0.31, -0.17}, 4.7, mirrored};
            std::int64_t fromBuffers = 0, inPlace = 0;
            const QImage expected = draw(false, camera, dpr, &fromBuffers);
            const QImage image = draw(true, camera, dpr, &inPlace);
            EXPECT_TRUE(image == expected) << "mirrored " << mirrored << ", ratio " << dpr;
            EXPECT_EQ(fromBuffers, 0);
            if (dpr == 1.0) {
                EXPECT_GT(inPlace, layer->totalTriangles() / 10) << "slivers are left out";
            }
        }
    }
}

// A launch that captures the canvas draws it with a context made ready on a thread of its own while the window
// is built: the pixels are the canvas's own.
TEST_F(RenderToImage, TheCaptureSceneMadeBesideTheWindowGivesTheCanvasPixels) {
    renderer.setCamera(CameraState{Vec2{0.31, -0.17}, 4.7, true});
    renderer.setLayer("below", kBlue, 0.6f, true, rect(-25, -20, 25, 20), {});
    renderer.setLayer("pads", {0.9f, 0.6f, 0.1f, 1}, 0.85f, true, padsAndTracks());
    const QImage expected = render(renderer, {211, 157});

    const bool before = GLBoardRenderer::prepareCaptureScene();
    ASSERT_TRUE(GLBoardRenderer::probe());
    const QImage captured = renderer.captureImage({211, 157}, 1.0);
    const QImage again = renderer.captureImage({211, 157}, 1.0);
    GLBoardRenderer::prepareCaptureScene(before);
    ASSERT_FALSE(captured.isNull());
    EXPECT_TRUE(captured == expected);
    EXPECT_TRUE(again == expected);
    EXPECT_TRUE(renderer.captureImage({0, 157}, 1.0).isNull());
}
