#include <QCoreApplication>
#include <QGuiApplication>
#include <QProcess>
#include <QTest>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <set>

#include <QWindow>

#include "GLTestSupport.hpp"
#include "mesh/Tessellator.hpp"

using namespace corvane;
using namespace corvane::gltest;

namespace {

class RendererWidget : public ::testing::Test {
protected:
    void SetUp() override {
        CORVANE_REQUIRE_GL();
        const QString platform = QGuiApplication::platformName();
        if (platform == QLatin1String("offscreen") || platform == QLatin1String("minimal")) {
            GTEST_SKIP() << "the " << platform.toStdString() << " platform shows no OpenGL widgets";
        }
    }

    // A window holding only the canvas, shown and painted once.
    GLBoardRenderer* showCanvas(QWidget& window, QSize size,
                                   const std::function<void(GLBoardRenderer&)>& beforeShow = {}) {
        auto* canvas = new GLBoardRenderer(&window);
        if (beforeShow) beforeShow(*canvas);
        window.resize(size);
        canvas->setGeometry(0, 0, size.width(), size.height());
        window.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&window));
        EXPECT_TRUE(QTest::qWaitFor([&] { return canvas->framesDrawn() > 0; }, 5000));
        return canvas;
    }

    static void uploadBoard(GLBoardRenderer& canvas) {
        // Slanted edges (multisampled), a clear cut-out, partial opacity and two layers.
        const TessellatedLayer copper = Tessellator().tessellate({
            PCBObject(PCBObjectKind::stroke({-9, -6}, {8, 5}), std::nullopt, ApertureShape::circle(2.5),
                      Polarity::dark, std::nullopt, std::nullopt, std::nullopt, std::nullopt, 0),
            PCBObject(PCBObjectKind::flash({0, 0}), std::nullopt, ApertureShape::circle(1.5), Polarity::clear,
                      std::nullopt, std::nullopt, std::nullopt, std::nullopt, 1),
        });
        canvas.setLayer("layer:copper", {0.85f, 0.55f, 0.2f, 1}, 0.9f, true,
                        std::make_shared<const TessellatedLayer>(copper));
        canvas.setLayer("layer:silk", {0.9f, 0.9f, 0.9f, 1}, 0.6f, true, rect(-3, -7, 6, -2), {});
        canvas.setCamera(CameraState{Vec2{1.5, -0.5}, 9.5, true});
    }
};

int maxDifference(const QImage& a, const QImage& b) {
    const QImage x = a.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
    const QImage y = b.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
    int worst = 0;
    for (int row = 0; row < x.height(); ++row) {
        const uchar* p = x.constScanLine(row);
        const uchar* q = y.constScanLine(row);
        for (int i = 0; i < x.width() * 4; ++i) worst = std::max(worst, std::abs(int(p[i]) - int(q[i])));
    }
    return worst;
}

std::size_t distinctColours(const QImage& image) {
    const QImage x = image.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
    std::set<std::uint32_t> colours;
    for (int row = 0; row < x.height(); ++row) {
        const auto* p = reinterpret_cast<const std::uint32_t*>(x.constScanLine(row));
        colours.insert(p, p + x.width());
    }
    return colours.size();
}

} // namespace

TEST_F(RendererWidget, ProbeChoosesOpenGL) { EXPECT_TRUE(GLBoardRenderer::probe()); }

TEST_F(RendererWidget, WindowFramebufferMatchesRenderToImage) {
    QWidget window;
    // Uploaded before the widget has a context: the meshes wait on the CPU.
    GLBoardRenderer* canvas = showCanvas(window, {257, 143}, uploadBoard);
    EXPECT_FALSE(canvas->hasFailed());

    const QImage grab = canvas->grabFramebuffer();
    const QImage snapshot = canvas->snapshot();
    const double dpr = canvas->devicePixelRatioF();
    ASSERT_EQ(grab.size(), QSize(257, 143) * dpr);
    ASSERT_EQ(snapshot.size(), grab.size());
    EXPECT_EQ(snapshot.devicePixelRatio(), dpr);
    EXPECT_LE(maxDifference(grab, snapshot), 1);
    // The window composes the canvas's picture without samples of its own, while the layers keep theirs:
    // aliased, two layers over the background give five colours, smoothed edges many more.
    ASSERT_TRUE(window.windowHandle());
    EXPECT_LE(window.windowHandle()->requestedFormat().samples(), 0);
    EXPECT_GT(distinctColours(snapshot), 12u);

    // The scale is per point whatever the pixel ratio: the stroke's middle and the cut-out land where the
    // canvas transform puts them.
    const CameraState cam = canvas->camera();
    EXPECT_TRUE(near(pixelAt(snapshot, cam, {0, 0}), kBackground));
    EXPECT_TRUE(near(pixelAt(snapshot, cam, {4, 2.4}), {int(std::lround(0.85 * 0.9 * 255 + 19 * 0.1)),
                                                          int(std::lround(0.55 * 0.9 * 255 + 20 * 0.1)),
                                                          int(std::lround(0.2 * 0.9 * 255 + 26 * 0.1))}));
}

TEST_F(RendererWidget, HighDensityScreenDoublesPixelsNotTheBoard) {
    if (qEnvironmentVariable("QT_SCALE_FACTOR") == QLatin1String("2")) GTEST_SKIP() << "already at scale 2";
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_SCALE_FACTOR", "2");
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(),
                {"--gtest_filter=RendererWidget.WindowFramebufferMatchesRenderToImage:RendererWidget.DevicePixel*"});
    ASSERT_TRUE(child.waitForFinished(120000));
    const QString out = QString::fromUtf8(child.readAllStandardOutput());
    EXPECT_EQ(child.exitCode(), 0) << out.toStdString();
    EXPECT_TRUE(out.contains("[  PASSED  ] 2 tests")) << out.toStdString();
}

TEST_F(RendererWidget, DevicePixelRatioFollowsTheScreen) {
    QWidget window;
    GLBoardRenderer* canvas = showCanvas(window, {64, 48});
    const double expected = qEnvironmentVariable("QT_SCALE_FACTOR") == QLatin1String("2") ? 2.0 : 1.0;
    EXPECT_EQ(canvas->devicePixelRatioF(), expected);
    EXPECT_EQ(canvas->grabFramebuffer().size(), QSize(64, 48) * expected);
}

TEST_F(RendererWidget, ReadyingAnEmptyCanvasForItsFirstBoardChangesNoPixel) {
    // One canvas shown empty (it readies its passes while idle), one given the board before it is shown.
    QWidget idle, direct;
    GLBoardRenderer* waited = showCanvas(idle, {257, 143});
    QTest::qWait(300);
    const QImage empty = waited->grabFramebuffer();
    for (int y = 0; y < empty.height(); y += 9)
        for (int x = 0; x < empty.width(); x += 7) ASSERT_TRUE(near(empty.pixelColor(x, y), kBackground)) << x << "," << y;
    const std::uint64_t frames = waited->framesDrawn();
    uploadBoard(*waited);
    ASSERT_TRUE(QTest::qWaitFor([&] { return waited->framesDrawn() > frames; }, 5000));
    GLBoardRenderer* first = showCanvas(direct, {257, 143}, uploadBoard);
    EXPECT_EQ(maxDifference(waited->grabFramebuffer(), first->grabFramebuffer()), 0);
    EXPECT_EQ(maxDifference(waited->snapshot(), first->snapshot()), 0);
}

TEST_F(RendererWidget, DrawsOnlyWhenSomethingChanged) {
    QWidget window;
    GLBoardRenderer* canvas = showCanvas(window, {160, 120});
    QTest::qWait(100);
    const std::uint64_t shown = canvas->framesDrawn();
    QTest::qWait(300);
    EXPECT_EQ(canvas->framesDrawn(), shown) << "an unchanged canvas keeps drawing";

    canvas->setCamera(canvas->camera()); // the same camera is no change
    QTest::qWait(100);
    EXPECT_EQ(canvas->framesDrawn(), shown);

    canvas->setCamera(CameraState{Vec2{1, 1}, 8, false});
    EXPECT_TRUE(QTest::qWaitFor([&] { return canvas->framesDrawn() == shown + 1; }, 5000));
    canvas->setLayer("a", {1, 0, 0, 1}, 1, true, rect(-2, -2, 2, 2), {});
    EXPECT_TRUE(QTest::qWaitFor([&] { return canvas->framesDrawn() == shown + 2; }, 5000));
    QTest::qWait(300);
    EXPECT_EQ(canvas->framesDrawn(), shown + 2);
}

TEST_F(RendererWidget, KeepsDrawingAfterMovingToAnotherWindow) {
    auto first = std::make_unique<QWidget>();
    GLBoardRenderer* canvas = showCanvas(*first, {120, 90});
    canvas->setLayer("a", {0, 0, 1, 1}, 1, true, rect(-3, -3, 3, 3), {});
    QTest::qWait(50);

    // A new top-level window gives the widget a new context; the layers are uploaded into it again.
    QWidget second;
    second.resize(120, 90);
    const std::uint64_t before = canvas->framesDrawn();
    canvas->setParent(&second);
    canvas->show();
    first.reset();
    second.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&second));
    ASSERT_TRUE(QTest::qWaitFor([&] { return canvas->framesDrawn() > before; }, 5000));
    const QImage grab = canvas->grabFramebuffer();
    const QImage snapshot = canvas->snapshot();
    EXPECT_TRUE(near(pixelAt(snapshot, canvas->camera(), {0, 0}), {0, 0, 255}));
    EXPECT_LE(maxDifference(grab, snapshot), 1);
    EXPECT_FALSE(canvas->hasFailed());
}

// The offscreen platform may still hand out contexts (with an X display about), but it has no windows to
// show a GL widget in: the canvas must take its software view there.
TEST(RendererProbe, RefusesTheOffscreenPlatform) {
    if (QGuiApplication::platformName() == QLatin1String("offscreen")) {
        EXPECT_FALSE(GLBoardRenderer::probe());
        return;
    }
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), {"--gtest_filter=RendererProbe.*"});
    ASSERT_TRUE(child.waitForFinished(60000));
    const QString out = QString::fromUtf8(child.readAllStandardOutput());
    EXPECT_EQ(child.exitCode(), 0) << out.toStdString();
    EXPECT_TRUE(out.contains("[  PASSED  ] 1 test")) << out.toStdString();
}
