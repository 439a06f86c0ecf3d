#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <random>

#include "CanvasTestSupport.hpp"
#include "canvas/OverlayPainter.hpp"

using namespace corvane;
using namespace corvane::testing;

namespace {

constexpr int kW = 400, kH = 300;

QImage paintOverlay(const AppModel& model, const CameraState& camera, bool isExport, const QColor& fill = Qt::black) {
    QImage image = blankImage(kW, kH, fill);
    QPainter p(&image);
    OverlayPainter::draw(p, QSizeF(kW, kH), camera, model, isExport);
    return image;
}

QImage paintGrid(const CameraState& camera) {
    QImage image = blankImage(kW, kH);
    QPainter p(&image);
    OverlayPainter::drawGrid(p, QSizeF(kW, kH), camera);
    return image;
}

// A camera at `k` points per mm that puts board (0, 0) on the centre of pixel (200, 150).
CameraState centredOnPixel(double k) {
    CameraState c;
    c.pxPerMM = k;
    c.center = Vec2{-0.5 / k, 0.5 / k};
    return c;
}

// One scale per grid test: the board x of a major line, of a minor line, and of a place between lines.
struct GridCase {
    double k, majorX, minorX, noneX, probeRow;
};

bool isBlack(const QColor& c) { return c.red() == 0 && c.green() == 0 && c.blue() == 0; }

// A pixel is "painted" when it differs clearly from the black target.
bool painted(const QColor& c) { return c.red() + c.green() + c.blue() > 30; }

// The box around every pixel that is not black.
QRect inkBounds(const QImage& image) {
    QRect box;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (!isBlack(image.pixelColor(x, y))) box |= QRect(x, y, 1, 1);
    return box;
}

Annotation annotation(Annotation::Kind kind, Vec2 p1, std::optional<Vec2> p2, std::int64_t colorIndex = 0,
                      std::string text = {}) {
    Annotation a;
    a.id = UUID::random();
    a.kind = kind;
    a.p1 = p1;
    a.p2 = p2;
    a.text = std::move(text);
    a.colorIndex = colorIndex;
    return a;
}

// A camera of 1 point per mm centred on board (0, 0): board (x, y) lies at view (200 + x, 150 − y).
CameraState unitCamera() { return CameraState{Vec2::zero(), 1.0, false}; }

} // namespace

TEST(OverlayGrid, StepsFollowTheScale) {
    struct Expect {
        double k, major, minor;
    };
    for (const Expect& e : {Expect{8, 10, 2}, Expect{0.5, 100, 20}, Expect{4000, 0.02, 0.004}, Expect{48, 1, 0.2},
                            Expect{1e-9, 5e5, 1e5}}) {
        const auto steps = OverlayPainter::gridSteps(e.k);
        ASSERT_TRUE(steps) << e.k;
        EXPECT_DOUBLE_EQ(steps->major, e.major) << e.k;
        EXPECT_DOUBLE_EQ(steps->minor, e.minor) << e.k;
    }
    EXPECT_FALSE(OverlayPainter::gridSteps(0));
    EXPECT_FALSE(OverlayPainter::gridSteps(-1));
    EXPECT_FALSE(OverlayPainter::gridSteps(std::nan("")));
    EXPECT_FALSE(OverlayPainter::gridSteps(INFINITY));
}

TEST(OverlayGrid, MajorLinesOverMinorLinesAtBoardMultiples) {
    for (const GridCase& g : {GridCase{8, 10, 2, 1, 158}, GridCase{0.5, 100, 20, 10, 155}, GridCase{4000, 0.02, 0.004, 0.002, 158}}) {
        const CameraState camera = centredOnPixel(g.k);
        const QImage image = paintGrid(camera);
        const CanvasTransform t(kW, kH, camera);
        auto at = [&](double boardX) { return image.pixelColor(static_cast<int>(t.toView(Vec2{boardX, 0}).x), static_cast<int>(g.probeRow)); };
        const QColor major = at(g.majorX), minor = at(g.minorX), none = at(g.noneX);
        EXPECT_GT(major.red(), minor.red()) << "k " << g.k;
        EXPECT_GT(minor.red(), 0) << "k " << g.k;
        EXPECT_EQ(none.red(), 0) << "k " << g.k;
        EXPECT_GT(at(0).red(), minor.red()) << "the origin is on a major line, k " << g.k;
    }
}

TEST(OverlayGrid, MirroredLinesStillPassThroughBoardMultiples) {
    CameraState camera = centredOnPixel(8);
    camera.center.x = 0.5 / 8;  // board 0 at 200.5 with x running right to left
    camera.mirrored = true;
    const QImage image = paintGrid(camera);
    const CanvasTransform t(kW, kH, camera);
    const double x10 = t.toView(Vec2{10, 0}).x;
    EXPECT_DOUBLE_EQ(x10, 120.5);
    EXPECT_GT(image.pixelColor(120, 158).red(), image.pixelColor(184, 158).red());  // major at x 10, minor at 2
    EXPECT_GT(image.pixelColor(184, 158).red(), 0);
    EXPECT_EQ(image.pixelColor(192, 158).red(), 0);
}

TEST(OverlayGrid, NoGridForUnusableScalesOrAFarBoard) {
    for (double k : {0.0, -3.0, std::nan(""), double(INFINITY)}) {
        CameraState camera;
        camera.pxPerMM = k;
        EXPECT_TRUE(inkBounds(paintGrid(camera)).isEmpty()) << k;
    }
    // A board near 1e20 mm fitted: a grid of 10^17 lines would never finish; none is drawn.
    CameraState far;
    far.center = Vec2{1e20, 1e20};
    far.pxPerMM = 1e-20;
    const auto start = std::chrono::steady_clock::now();
    const QImage image = paintGrid(far);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_TRUE(inkBounds(image).isEmpty());
}

TEST(OverlayGrid, KeptGridIsThePixelsStrokingGives) {
    // Cameras of every kind: scales from a few to thousands of points per mm, centres off the grid, mirrored,
    // targets of odd and fractional sizes, at one and two pixels per point.
    std::mt19937 random(45);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int round = 0; round < 120; ++round) {
        CameraState camera;
        camera.pxPerMM = std::pow(10.0, -1.0 + 4.5 * unit(random));
        camera.center = Vec2{(unit(random) - 0.5) * 400 / camera.pxPerMM, (unit(random) - 0.5) * 300 / camera.pxPerMM};
        camera.mirrored = round % 3 == 0;
        const QSizeF size(40 + std::floor(unit(random) * 300) + (round % 4 == 1 ? 0.37 : 0),
                          30 + std::floor(unit(random) * 200) + (round % 5 == 2 ? 0.61 : 0));
        const double dpr = round % 2 ? 2.0 : 1.0;
        const QSize pixels(static_cast<int>(std::ceil(size.width() * dpr)), static_cast<int>(std::ceil(size.height() * dpr)));
        QImage stroked(pixels, QImage::Format_ARGB32_Premultiplied), kept(pixels, QImage::Format_ARGB32_Premultiplied);
        for (QImage* image : {&stroked, &kept}) {
            image->setDevicePixelRatio(dpr);
            image->fill(Qt::transparent);
        }
        {
            QPainter p(&stroked);
            OverlayPainter::drawGrid(p, size, camera);
        }
        GridCache cache;
        {
            QPainter p(&kept);
            cache.paint(p, size, camera);
        }
        ASSERT_EQ(kept, stroked) << "round " << round << ": k " << camera.pxPerMM << ", " << size.width() << " x "
                                 << size.height() << " at " << dpr;
    }
}

TEST(OverlayGrid, CachedGridMatchesTheStrokedOne) {
    const CameraState camera = centredOnPixel(8);
    CanvasModel m(false);
    m.model.setShowOrigin(false);
    QImage direct = blankImage(kW, kH), cached = blankImage(kW, kH);
    {
        QPainter p(&direct);
        OverlayPainter::draw(p, QSizeF(kW, kH), camera, m.model, false);
    }
    GridCache cache;
    for (int i = 0; i < 2; ++i) {  // the second paint uses the kept image
        cached.fill(Qt::black);
        QPainter p(&cached);
        OverlayPainter::draw(p, QSizeF(kW, kH), camera, m.model, false, &cache);
    }
    for (int y = 0; y < kH; y += 7)
        for (int x = 0; x < kW; x += 3)
            ASSERT_TRUE(near(cached.pixelColor(x, y), direct.pixelColor(x, y), 1)) << x << ", " << y;
}

TEST(OverlayPainter, ExportLeavesOutGridOriginAndCrosshair) {
    CanvasModel m(false);
    PCBPackage p = package({gerberFile("edge.gbr", LayerType::outline(), rectangleOutline(60, 20, 120, 80))});
    m.load(p);
    const CameraState camera = unitCamera();
    m.model.setCursorWorld(Vec2{50.5, 24.5});  // the crosshair through the centre of pixel (250, 125)

    const QImage exported = paintOverlay(m.model, camera, true);
    EXPECT_TRUE(isBlack(exported.pixelColor(203, 150))) << "origin marker";
    EXPECT_TRUE(isBlack(exported.pixelColor(10, 125))) << "crosshair";
    EXPECT_TRUE(isBlack(exported.pixelColor(250, 10))) << "crosshair";
    EXPECT_TRUE(isBlack(exported.pixelColor(10, 10))) << "grid";
    const QRect ink = inkBounds(exported);
    EXPECT_TRUE(QRect(258, 68, 64, 64).contains(ink)) << "only the board box is left";
    EXPECT_FALSE(ink.isEmpty());

    const QImage screen = paintOverlay(m.model, camera, false);
    EXPECT_TRUE(painted(screen.pixelColor(203, 149)) || painted(screen.pixelColor(203, 150))) << "origin marker";
    EXPECT_FALSE(isBlack(screen.pixelColor(10, 125))) << "crosshair";
    EXPECT_FALSE(isBlack(screen.pixelColor(250, 10))) << "crosshair";
}

TEST(OverlayPainter, BoardBoxIsDashedFourOnFourOff) {
    CanvasModel m;
    m.load(package({gerberFile("edge.gbr", LayerType::outline(), {stroke({10, 10}, {60, 10}, 0), stroke({60, 10}, {60, 40}, 0),
                                                                    stroke({60, 40}, {10, 40}, 0), stroke({10, 40}, {10, 10}, 0)})}));
    CameraState camera;
    camera.pxPerMM = 2;
    camera.center = Vec2{59.75, -9.75};  // board (10, 40) at view (100.5, 50.5)
    const QImage image = paintOverlay(m.model, camera, true);
    const QColor red = over(SystemColors::red(), 0.65, Qt::black);
    // Along the top edge from its left corner: on 0-4, off 4-8, on 8-12, off 12-16.
    EXPECT_TRUE(near(image.pixelColor(102, 50), red));
    EXPECT_TRUE(isBlack(image.pixelColor(106, 50)));
    EXPECT_TRUE(near(image.pixelColor(110, 50), red));
    EXPECT_TRUE(isBlack(image.pixelColor(114, 50)));
    EXPECT_TRUE(isBlack(image.pixelColor(102, 52))) << "one point wide";

    // A box reaching far off the target is cut to it; the visible dashes stay in place.
    m.load(package({gerberFile("edge.gbr", LayerType::outline(), {stroke({10, 10}, {1e9, 10}, 0), stroke({1e9, 10}, {1e9, 40}, 0),
                                                                    stroke({1e9, 40}, {10, 40}, 0), stroke({10, 40}, {10, 10}, 0)})}));
    const QImage far = paintOverlay(m.model, camera, true);
    for (int x : {102, 106, 110, 114, 190, 198}) EXPECT_EQ(far.pixelColor(x, 50), image.pixelColor(x, 50)) << x;
}

TEST(OverlayPainter, AnnotationPaletteWrapsBothWays) {
    EXPECT_EQ(OverlayPainter::annotationColor(0), SystemColors::orange());
    EXPECT_EQ(OverlayPainter::annotationColor(4), SystemColors::pink());
    EXPECT_EQ(OverlayPainter::annotationColor(-1), SystemColors::green());
    EXPECT_EQ(OverlayPainter::annotationColor(-3), SystemColors::orange());

    for (auto [index, expected] : {std::pair<std::int64_t, QColor>{4, SystemColors::pink()}, {-1, SystemColors::green()},
                                   {std::numeric_limits<std::int64_t>::min(), OverlayPainter::annotationColor(std::numeric_limits<std::int64_t>::min())}}) {
        CanvasModel m;
        m.model.setAnnotations({annotation(Annotation::Kind::rectangle, {-100, 50}, Vec2{100, -50}, index)});
        const QImage image = paintOverlay(m.model, unitCamera(), false);
        EXPECT_TRUE(near(image.pixelColor(150, 100), expected)) << index;  // the top edge, two points wide
        EXPECT_TRUE(near(image.pixelColor(150, 99), expected)) << index;
        EXPECT_TRUE(isBlack(image.pixelColor(150, 101))) << index;
    }
}

TEST(OverlayPainter, LinesEndFlat) {
    CanvasModel m;
    m.model.setAnnotations({annotation(Annotation::Kind::arrow, {-100, 50}, Vec2{100, 50})});  // (100, 100) to (300, 100)
    const QImage image = paintOverlay(m.model, unitCamera(), false);
    EXPECT_TRUE(near(image.pixelColor(100, 100), SystemColors::orange()));
    EXPECT_TRUE(isBlack(image.pixelColor(99, 100))) << "a square cap would reach one point further";
    EXPECT_TRUE(isBlack(image.pixelColor(99, 99)));
    // The head: two strokes back from the tip, 12 along and 6 across.
    EXPECT_TRUE(painted(image.pixelColor(291, 95)) || painted(image.pixelColor(291, 94)));
    EXPECT_TRUE(painted(image.pixelColor(291, 105)) || painted(image.pixelColor(291, 106)));
}

TEST(OverlayPainter, LaterElementsPaintOverEarlierOnes) {
    CanvasModel m;
    BoardMeasurement measured;
    measured.kind = MeasurementKind::pointToPoint;
    measured.p1 = Vec2{-100, 50};
    measured.p2 = Vec2{100, 50};
    m.model.setMeasurements({measured});
    m.model.setAnnotations({annotation(Annotation::Kind::rectangle, {-100, 50}, Vec2{100, -50}, 0)});
    QImage image = paintOverlay(m.model, unitCamera(), false);
    EXPECT_TRUE(near(image.pixelColor(200, 100), SystemColors::orange())) << "annotations over measurements";

    m.model.setPendingAnnotationPreview(annotation(Annotation::Kind::rectangle, {-100, 50}, Vec2{100, -50}, 1));
    image = paintOverlay(m.model, unitCamera(), false);
    EXPECT_TRUE(near(image.pixelColor(200, 100), SystemColors::pink())) << "the preview over the annotations";

    DiffChange change;
    change.bbox = BBox{-96, -46, 96, 46};  // grown by 4: the same rectangle's top edge
    m.model.setCompareHighlight(change);
    image = paintOverlay(m.model, unitCamera(), false);
    EXPECT_TRUE(near(image.pixelColor(200, 100), SystemColors::yellow())) << "the compare highlight over the preview";
}

TEST(OverlayPainter, MeasurementLineTicksAndLabel) {
    CanvasModel m;
    BoardMeasurement measured;
    measured.kind = MeasurementKind::xDelta;
    measured.p1 = Vec2{-100, 0.5};  // view (100, 149.5) to (300, 149.5)
    measured.p2 = Vec2{100, 0.5};
    measured.label = "\u0394X 200.000 mm";
    m.model.setMeasurements({measured});
    const QImage image = paintOverlay(m.model, unitCamera(), false, Qt::white);
    const QColor teal = SystemColors::teal();
    EXPECT_TRUE(near(image.pixelColor(150, 149), teal, 40)) << "the line";
    EXPECT_LT(image.pixelColor(100, 146).red(), 160) << "a tick, five points up";
    EXPECT_LT(image.pixelColor(300, 153).red(), 160) << "a tick, five points down";
    EXPECT_EQ(image.pixelColor(100, 143), QColor(Qt::white)) << "ticks end five points out";
    // The label box: from (T.x − 2, T.y) with T eight points right of and above the midpoint.
    const QColor box = over(Qt::black, 0.55, Qt::white);
    EXPECT_TRUE(near(image.pixelColor(207, 142), box));
    EXPECT_EQ(image.pixelColor(205, 142), QColor(Qt::white));
    EXPECT_EQ(image.pixelColor(207, 140), QColor(Qt::white));
    bool ink = false;
    for (int x = 208; x < 260 && !ink; ++x)
        for (int y = 142; y < 152 && !ink; ++y) ink = image.pixelColor(x, y).green() > box.green() + 40;
    EXPECT_TRUE(ink) << "the label text";
}

TEST(OverlayPainter, MissingPiecesPaintNothing) {
    CanvasModel m;
    BoardMeasurement open;
    open.p1 = Vec2{0, 0};
    open.label = "x";
    m.model.setMeasurements({open});
    m.model.setAnnotations({annotation(Annotation::Kind::arrow, {0, 0}, std::nullopt),
                            annotation(Annotation::Kind::rectangle, {0, 0}, std::nullopt),
                            annotation(Annotation::Kind::text, {0, 0}, std::nullopt, 0, "")});
    EXPECT_TRUE(inkBounds(paintOverlay(m.model, unitCamera(), false)).isEmpty());
}

TEST(OverlayPainter, TextAnnotationSitsAboveRightOfItsPoint) {
    CanvasModel m;
    m.model.setAnnotations({annotation(Annotation::Kind::text, {0, 0}, std::nullopt, 2, "Check this")});
    const QImage image = paintOverlay(m.model, unitCamera(), false, Qt::white);
    const QRect ink = [&] {
        QRect r;
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x)
                if (image.pixelColor(x, y) != QColor(Qt::white)) r |= QRect(x, y, 1, 1);
        return r;
    }();
    // The box starts at (P.x + 2, P.y − 16) and holds 12-pixel bold text.
    EXPECT_EQ(ink.left(), 202);
    EXPECT_EQ(ink.top(), 134);
    EXPECT_GT(ink.width(), 40);
    EXPECT_LT(ink.height(), 16);
}

TEST(OverlayPainter, MeasurementInProgressFollowsTheTool) {
    CanvasModel m;
    m.model.setPendingMeasureAnchor(Vec2{-100, 50});  // A at (100, 100)
    m.model.setCursorWorld(Vec2{100, -50});           // C at (300, 200)
    m.model.setTool(Tool::measureX);
    QImage image = paintOverlay(m.model, unitCamera(), false);
    EXPECT_TRUE(painted(image.pixelColor(250, 100)) || painted(image.pixelColor(250, 99))) << "guide along A's row";
    EXPECT_TRUE(painted(image.pixelColor(300, 195)) || painted(image.pixelColor(299, 195))) << "tick at C";
    EXPECT_TRUE(painted(image.pixelColor(200, 150)) || painted(image.pixelColor(201, 150))) << "provisional line A to C";

    m.model.setTool(Tool::measureY);
    image = paintOverlay(m.model, unitCamera(), false);
    EXPECT_TRUE(painted(image.pixelColor(100, 170)) || painted(image.pixelColor(99, 170))) << "guide along A's column";
    EXPECT_TRUE(isBlack(image.pixelColor(250, 100)) && isBlack(image.pixelColor(250, 99)));
}

TEST(OverlayPainter, MirroredSelectionEnclosesItsObject) {
    CanvasModel m;
    HitResult hit;
    hit.object = disc({10, 5}, 2);  // box (9, 4) to (11, 6)
    hit.fileName = "top.gbr";
    hit.layerType = LayerType::copper(CopperLayerID::top());
    m.model.setSelection(hit);
    CameraState camera;
    camera.pxPerMM = 4;
    camera.mirrored = true;
    const QImage image = paintOverlay(m.model, camera, false);
    const CanvasTransform t(kW, kH, camera);
    const QPointF a = t.toViewPoint(Vec2{9, 4}), b = t.toViewPoint(Vec2{11, 6});
    EXPECT_LT(b.x(), a.x()) << "x runs right to left";
    const QRect ink = inkBounds(image);
    EXPECT_LE(ink.left(), std::min(a.x(), b.x()));
    EXPECT_GE(ink.right() + 1, std::max(a.x(), b.x()));
    EXPECT_LE(ink.top(), std::min(a.y(), b.y()));
    EXPECT_GE(ink.bottom() + 1, std::max(a.y(), b.y()));
    EXPECT_LE(ink.width(), 10);
    EXPECT_LE(ink.height(), 10);
}

// Where "Locate" went is marked with rings around the point, in screenshots too, so a finding on a dense
// board is found by eye.
TEST(OverlayPainter, LocatedPlaceIsRingedInEveryPicture) {
    CanvasModel m;
    const CameraState camera = centredOnPixel(4);
    m.model.setLocatedPoint(Vec2{0, 0});
    for (bool isExport : {false, true}) {
        const QImage image = paintOverlay(m.model, camera, isExport);
        EXPECT_TRUE(isBlack(image.pixelColor(200, 150))) << "the point itself stays clear";
        const QColor inner = image.pixelColor(200 + 9, 150), outer = image.pixelColor(200, 150 - 16);
        EXPECT_GT(inner.red(), 200);
        EXPECT_GT(inner.green(), 150);
        EXPECT_LT(inner.blue(), 80);
        EXPECT_GT(outer.red(), 200);
        EXPECT_EQ(inkBounds(image), QRect(200 - 25, 150 - 25, 51, 51).intersected(inkBounds(image)));
    }
    m.model.setLocatedPoint(std::nullopt);
    EXPECT_TRUE(inkBounds(paintOverlay(m.model, camera, true)).isEmpty());

    // On a 2 mm pad seen at 20 points per mm the rings stand around the pad, which stays in view inside them.
    const CameraState close = centredOnPixel(20);
    m.model.setLocatedPoint(Vec2{0, 0}, BBox{-1, -1, 1, 1});
    const QImage ringed = paintOverlay(m.model, close, true);
    const int reach = static_cast<int>(std::ceil(std::hypot(20.0, 20.0)));  // the pad's corner
    for (int d = 0; d <= reach; ++d) {
        EXPECT_TRUE(isBlack(ringed.pixelColor(200 + d, 150))) << d;
        EXPECT_TRUE(isBlack(ringed.pixelColor(200 - d * 7 / 10, 150 - d * 7 / 10))) << d;
    }
    int ring = 0;
    for (int d = reach + 1; d <= reach + 8; ++d) ring = std::max(ring, ringed.pixelColor(200 + d, 150).red());
    EXPECT_GT(ring, 200);
}

TEST(OverlayPainter, FarAwayShapesFinishAndStayOffTarget) {
    CanvasModel m;
    m.load(package({gerberFile("edge.gbr", LayerType::outline(), rectangleOutline(-1e18, -1e18, 1e18, 1e18))}));
    HitResult hit;
    hit.object = disc({0, 0}, 1e17);
    m.model.setSelection(hit);
    m.model.setAnnotations({annotation(Annotation::Kind::rectangle, {-1e15, 1e15}, Vec2{1e15, -1e15})});
    CameraState camera;
    camera.pxPerMM = 4000;
    const auto start = std::chrono::steady_clock::now();
    const QImage image = paintOverlay(m.model, camera, false);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_TRUE(isBlack(image.pixelColor(5, 5))) << "every edge is far off the target";
}
