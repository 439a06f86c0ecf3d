#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QNativeGestureEvent>
#include <QPointingDevice>
#include <QWheelEvent>

#include <cmath>

#include "CanvasTestSupport.hpp"
#include "canvas/CanvasContainerView.hpp"
#include "canvas/OverlayView.hpp"
#include "canvas/SoftwareCanvasView.hpp"
#include "model/NotificationHub.hpp"

using namespace corvane;
using namespace corvane::testing;

namespace {

constexpr double kEps = 1e-9;

// A pad at (10, 10) and a track from (20, 5) to (30, 5) inside a 40 × 30 outline.
PCBPackage inputBoard() {
    return package({gerberFile("top.gbr", LayerType::copper(CopperLayerID::top()), {disc({10, 10}, 1), track({20, 5}, {30, 5}, 0.2)}),
                    gerberFile("edge.gbr", LayerType::outline(), rectangleOutline(0, 0, 40, 30))});
}

struct Canvas : CanvasModel {
    CanvasContainerView view{nullptr, CanvasContainerView::Backend::software};
    int posts = 0;
    QObject counter;

    explicit Canvas(bool withPackage = true) {
        view.setModel(&model);
        view.resize(400, 300);
        view.setTextPrompt([](QWidget*) { return std::optional<QString>(); });
        if (withPackage) load(inputBoard());
        Notifications::observe(QString::fromLatin1(Notifications::overlayNeedsDisplay), &counter, [this] { ++posts; });
        setCamera(Vec2{20, 15}, 8, false);
        posts = 0;
    }
    void setCamera(Vec2 center, double k, bool mirrored) { model.setCamera(CameraState{center, k, mirrored}); }
    QPointF viewOf(Vec2 board) const { return CanvasTransform(QSizeF(view.size()), model.camera()).toViewPoint(board); }

    void mouse(QEvent::Type type, QPointF pos, Qt::MouseButton button, Qt::MouseButtons buttons,
               Qt::KeyboardModifiers mods = Qt::NoModifier) {
        QMouseEvent e(type, pos, view.mapToGlobal(pos), button, buttons, mods);
        QCoreApplication::sendEvent(&view, &e);
    }
    void press(QPointF pos, Qt::MouseButton b = Qt::LeftButton, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        mouse(QEvent::MouseButtonPress, pos, b, b, mods);
    }
    void dragTo(QPointF pos, Qt::MouseButtons held = Qt::LeftButton) { mouse(QEvent::MouseMove, pos, Qt::NoButton, held); }
    void release(QPointF pos, Qt::MouseButton b = Qt::LeftButton) { mouse(QEvent::MouseButtonRelease, pos, b, Qt::NoButton); }
    void click(QPointF pos, Qt::MouseButton b = Qt::LeftButton, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        press(pos, b, mods);
        release(pos, b);
    }
    void moveTo(QPointF pos) { mouse(QEvent::MouseMove, pos, Qt::NoButton, Qt::NoButton); }
    void key(QEvent::Type type, int k, bool autoRepeat = false) {
        QKeyEvent e(type, k, Qt::NoModifier, QString(), autoRepeat);
        QCoreApplication::sendEvent(&view, &e);
    }
    void wheel(QPointF pos, QPoint angle, Qt::KeyboardModifiers mods = Qt::NoModifier, QPoint pixels = {}) {
        QWheelEvent e(pos, view.mapToGlobal(pos), pixels, angle, Qt::NoButton, mods, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(&view, &e);
    }
    void pinch(QPointF pos, double value) {
        QNativeGestureEvent e(Qt::ZoomNativeGesture, QPointingDevice::primaryPointingDevice(), 2, pos, pos,
                              view.mapToGlobal(pos), value, QPointF());
        QCoreApplication::sendEvent(&view, &e);
    }
};

void expectNear(Vec2 a, Vec2 b, double eps = kEps) {
    EXPECT_NEAR(a.x, b.x, eps);
    EXPECT_NEAR(a.y, b.y, eps);
}

} // namespace

TEST(CanvasInput, PointerMapsToTheBoardExactlyInBothViews) {
    for (bool mirrored : {false, true}) {
        Canvas c;
        c.setCamera(Vec2{12.5, -3.25}, 7.3, mirrored);
        for (QPointF p : {QPointF(0, 0), QPointF(200, 150), QPointF(399.5, 17.25), QPointF(31, 299)}) {
            const Vec2 w = c.view.world(p);
            const CanvasTransform t(400, 300, c.model.camera());
            EXPECT_EQ(w, t.toBoard(p)) << mirrored;
            expectNear(t.toView(w), Vec2{p.x(), p.y()});
        }
        // The centre of the view is the camera centre; right of it lies larger x unless mirrored.
        EXPECT_EQ(c.view.world(QPointF(200, 150)), (Vec2{12.5, -3.25}));
        EXPECT_EQ(c.view.world(QPointF(273, 150)).x > 12.5, !mirrored);
        EXPECT_GT(c.view.world(QPointF(200, 77)).y, -3.25) << "up on screen is up on the board";
    }
    CanvasContainerView bare(nullptr, CanvasContainerView::Backend::software);
    EXPECT_EQ(bare.world(QPointF(10, 10)), Vec2::zero());
}

TEST(CanvasInput, ZoomKeepsThePointUnderThePointer) {
    for (bool mirrored : {false, true}) {
        Canvas c;
        c.setCamera(Vec2{20, 15}, 8, mirrored);
        const QPointF p(310, 80);
        const Vec2 before = c.view.world(p);
        c.view.zoom(1.7, p);
        EXPECT_DOUBLE_EQ(c.model.camera().pxPerMM, 8 * 1.7);
        expectNear(c.view.world(p), before);
        c.view.zoom(1 / 3.1, p);
        expectNear(c.view.world(p), before);
        EXPECT_GT(c.posts, 0);
    }
}

TEST(CanvasInput, ZoomStopsAtTheLimitsAndAStalledZoomPostsNothing) {
    Canvas c;
    c.view.zoom(1e6, QPointF(10, 10));
    EXPECT_EQ(c.model.camera().pxPerMM, 4000);
    const int posts = c.posts;
    const CameraState at = c.model.camera();
    c.view.zoom(2, QPointF(10, 10));
    EXPECT_EQ(c.model.camera(), at);
    EXPECT_EQ(c.posts, posts);
    c.view.zoom(1e-12, QPointF(10, 10));
    EXPECT_EQ(c.model.camera().pxPerMM, 0.05);
}

TEST(CanvasInput, PanDragKeepsTheGrabbedPoint) {
    for (bool mirrored : {false, true}) {
        Canvas c;
        c.setCamera(Vec2{20, 15}, 8, mirrored);
        c.model.setTool(Tool::pan);
        const Vec2 grabbed = c.view.world(QPointF(100, 100));
        c.press(QPointF(100, 100));
        c.dragTo(QPointF(180, 60));
        expectNear(c.view.world(QPointF(180, 60)), grabbed);
        EXPECT_LT(c.model.camera().center.y, 15) << "dragging up moves the board up";
        c.release(QPointF(180, 60));
        EXPECT_FALSE(c.view.isPanning());
    }
}

TEST(CanvasInput, MeasureXByTwoClicks) {
    Canvas c;
    c.model.setTool(Tool::measureX);
    const QPointF a = c.viewOf({5, 25}), b = a + QPointF(20, 0);
    c.click(a);
    ASSERT_TRUE(c.model.pendingMeasureAnchor());
    expectNear(*c.model.pendingMeasureAnchor(), Vec2{5, 25});
    c.click(b);
    ASSERT_EQ(c.model.measurements().size(), 1u);
    const BoardMeasurement& m = c.model.measurements()[0];
    EXPECT_EQ(m.kind, MeasurementKind::xDelta);
    EXPECT_NEAR(m.valueMM, 20.0 / 8, 1e-9);
    EXPECT_FALSE(c.model.pendingMeasureAnchor());
    EXPECT_EQ(c.model.tool(), Tool::measureX) << "the next click starts a new measurement";

    c.click(a);
    ASSERT_TRUE(c.model.pendingMeasureAnchor());
    c.key(QEvent::KeyPress, Qt::Key_Escape);
    EXPECT_FALSE(c.model.pendingMeasureAnchor());
    EXPECT_EQ(c.model.tool(), Tool::select);
    EXPECT_EQ(c.model.measurements().size(), 1u);
}

TEST(CanvasInput, MeasureClicksSnapToFeatures) {
    Canvas c;
    c.model.setTool(Tool::measureDistance);
    c.click(c.viewOf({10, 10}) + QPointF(3, -2));  // within 10 points of the pad centre
    ASSERT_TRUE(c.model.pendingMeasureAnchor());
    expectNear(*c.model.pendingMeasureAnchor(), Vec2{10, 10});
}

TEST(CanvasInput, PanTakesOverAnyToolsClick) {
    enum Way { panTool, space, ctrlClick, middle };
    for (Way way : {panTool, space, ctrlClick, middle}) {
        Canvas c;
        c.model.setTool(way == panTool ? Tool::pan : Tool::measureDistance);
        if (way == space) c.key(QEvent::KeyPress, Qt::Key_Space);
        const Qt::MouseButton button = way == middle ? Qt::MiddleButton : Qt::LeftButton;
        c.press(QPointF(100, 100), button, way == ctrlClick ? Qt::ControlModifier : Qt::NoModifier);
        EXPECT_FALSE(c.model.pendingMeasureAnchor()) << way;
        c.dragTo(QPointF(140, 100), button);
        EXPECT_NEAR(c.model.camera().center.x, 20 - 40.0 / 8, kEps) << way;
        c.release(QPointF(140, 100), button);
    }
    // A double click's second press is a click, never a Ctrl pan.
    Canvas c;
    c.model.setTool(Tool::measureDistance);
    QMouseEvent second(QEvent::MouseButtonDblClick, QPointF(100, 100), c.view.mapToGlobal(QPointF(100, 100)),
                       Qt::LeftButton, Qt::LeftButton, Qt::ControlModifier);
    QCoreApplication::sendEvent(&c.view, &second);
    EXPECT_TRUE(c.model.pendingMeasureAnchor());
    EXPECT_FALSE(c.view.isPanning());
}

TEST(CanvasInput, AnyButtonReleaseEndsAPan) {
    Canvas c;
    c.press(QPointF(100, 100), Qt::MiddleButton);
    c.dragTo(QPointF(150, 100), Qt::MiddleButton);
    c.release(QPointF(150, 100), Qt::MiddleButton);
    const CameraState after = c.model.camera();
    // A left drag with the select tool must not pan from the old anchor.
    c.press(QPointF(200, 200));
    c.dragTo(QPointF(260, 240));
    EXPECT_EQ(c.model.camera(), after);
    c.release(QPointF(260, 240));
}

TEST(CanvasInput, StartingAPanDropsAPendingArrowAnchor) {
    Canvas c;
    c.model.setTool(Tool::annotateArrow);
    c.click(QPointF(100, 100));
    EXPECT_TRUE(c.view.pendingAnnotationAnchor()) << "a click without a drag keeps its anchor";
    EXPECT_TRUE(c.model.annotations().empty());
    EXPECT_EQ(c.model.tool(), Tool::annotateArrow);

    c.key(QEvent::KeyPress, Qt::Key_Space);
    c.press(QPointF(120, 120));
    EXPECT_FALSE(c.view.pendingAnnotationAnchor());
    c.dragTo(QPointF(200, 200));
    EXPECT_FALSE(c.model.pendingAnnotationPreview());
    c.release(QPointF(200, 200));
    EXPECT_TRUE(c.model.annotations().empty());
    EXPECT_NE(c.model.camera().center, (Vec2{20, 15}));
}

TEST(CanvasInput, ArrowAndRectangleDrags) {
    Canvas c;
    c.model.setTool(Tool::annotateArrow);
    c.press(QPointF(100, 100));
    c.dragTo(QPointF(100.05, 100));  // well under 0.01 mm at 8 points per mm
    ASSERT_TRUE(c.model.pendingAnnotationPreview());
    c.release(QPointF(100.05, 100));
    EXPECT_TRUE(c.model.annotations().empty()) << "a short arrow adds nothing";
    EXPECT_FALSE(c.model.pendingAnnotationPreview());
    EXPECT_EQ(c.model.tool(), Tool::select);

    c.model.setTool(Tool::annotateRect);
    const Vec2 start = c.view.world(QPointF(50, 60)), end = c.view.world(QPointF(150, 200));
    c.press(QPointF(50, 60));
    c.dragTo(QPointF(120, 120));
    c.dragTo(QPointF(150, 200));
    c.release(QPointF(150, 200));
    ASSERT_EQ(c.model.annotations().size(), 1u);
    const Annotation& a = c.model.annotations()[0];
    EXPECT_EQ(a.kind, Annotation::Kind::rectangle);
    EXPECT_EQ(a.p1, start);
    EXPECT_EQ(a.p2, end);
    EXPECT_EQ(a.colorIndex, 0);
    EXPECT_EQ(c.model.tool(), Tool::select);
}

TEST(CanvasInput, TextAnnotationsComeFromThePrompt) {
    Canvas c;
    std::optional<QString> answer = QStringLiteral("Check clearance");
    int asked = 0;
    c.view.setTextPrompt([&](QWidget*) {
        ++asked;
        return answer;
    });
    c.model.setTool(Tool::annotateText);
    c.click(QPointF(120, 90));
    ASSERT_EQ(c.model.annotations().size(), 1u);
    EXPECT_EQ(c.model.annotations()[0].kind, Annotation::Kind::text);
    EXPECT_EQ(c.model.annotations()[0].text, "Check clearance");
    EXPECT_EQ(c.model.annotations()[0].p1, c.view.world(QPointF(120, 90)));
    EXPECT_FALSE(c.model.annotations()[0].p2);
    EXPECT_EQ(c.model.tool(), Tool::select);

    for (std::optional<QString> none : {std::optional<QString>(), std::optional<QString>(QString())}) {
        answer = none;
        c.model.setTool(Tool::annotateText);
        c.click(QPointF(120, 90));
        EXPECT_EQ(c.model.annotations().size(), 1u);
        EXPECT_EQ(c.model.tool(), Tool::select);
    }
    EXPECT_EQ(asked, 3);
}

TEST(CanvasInput, AltWheelZoomsOnTheAxisThatCarriesTheDelta) {
    struct Case {
        QPoint angle;
        double factor;
    };
    for (const Case& k : {Case{{0, 0}, 1 / 1.1}, Case{{0, 120}, 1.1}, Case{{0, -120}, 1 / 1.1}, Case{{120, 0}, 1.1},
                          Case{{-120, 0}, 1 / 1.1}}) {
        Canvas c;
        const QPointF p(90, 210);
        const Vec2 before = c.view.world(p);
        c.wheel(p, k.angle, Qt::AltModifier);
        EXPECT_NEAR(c.model.camera().pxPerMM, 8 * k.factor, 1e-12) << k.angle.x() << ", " << k.angle.y();
        expectNear(c.view.world(p), before);
    }
}

TEST(CanvasInput, WheelNotchesZoomAtThePointerAndShiftOrCtrlWheelOrATouchpadPans) {
    for (bool mirrored : {false, true}) {
        Canvas c;
        c.setCamera(Vec2{20, 15}, 8, mirrored);
        const QPointF p(90, 210);
        const Vec2 under = c.view.world(p);
        c.wheel(p, QPoint(0, 120));
        EXPECT_NEAR(c.model.camera().pxPerMM, 8 * 1.1, 1e-12);
        expectNear(c.view.world(p), under);
        c.wheel(p, QPoint(0, -240));  // two notches at once
        EXPECT_NEAR(c.model.camera().pxPerMM, 8 / 1.1, 1e-12);
        c.wheel(p, QPoint(0, 60));  // half a notch of a fine wheel
        EXPECT_NEAR(c.model.camera().pxPerMM, 8 / 1.1 * std::sqrt(1.1), 1e-12);
        expectNear(c.view.world(p), under);

        const double s = mirrored ? -1 : 1;
        c.setCamera(Vec2{20, 15}, 8, mirrored);
        c.wheel(p, QPoint(0, 120), Qt::ControlModifier);  // 15 points up and down
        expectNear(c.model.camera().center, Vec2{20, 15 - 15.0 / 8});
        c.wheel(p, QPoint(0, 120), Qt::ShiftModifier);  // sideways
        expectNear(c.model.camera().center, Vec2{20 + s * 15.0 / 8, 15 - 15.0 / 8});
        c.wheel(p, QPoint(120, 0), Qt::ShiftModifier);  // as X11 may report it
        expectNear(c.model.camera().center, Vec2{20 + s * 30.0 / 8, 15 - 15.0 / 8});
        c.wheel(p, QPoint(-120, 0));  // a wheel tilted sideways
        expectNear(c.model.camera().center, Vec2{20 + s * 15.0 / 8, 15 - 15.0 / 8});
        // A touchpad's exact deltas pan, whatever the angle says.
        c.wheel(p, QPoint(0, 120), Qt::NoModifier, QPoint(3, -4));
        expectNear(c.model.camera().center, Vec2{20 + s * 18.0 / 8, 15 - 15.0 / 8 + 4.0 / 8});
        EXPECT_EQ(c.model.camera().pxPerMM, 8);
    }
}

TEST(CanvasInput, PinchFactorIsLimited) {
    Canvas c;
    c.pinch(QPointF(200, 150), -1);
    EXPECT_NEAR(c.model.camera().pxPerMM, 8 * 0.2, 1e-12);
    c.pinch(QPointF(200, 150), 10);
    EXPECT_NEAR(c.model.camera().pxPerMM, 8 * 0.2 * 5, 1e-12);
    c.pinch(QPointF(200, 150), 0.2);
    EXPECT_NEAR(c.model.camera().pxPerMM, 8 * 1.5, 1e-12);
}

TEST(CanvasInput, SelectSnapsThenHitsAndAnEmptyClickDeselects) {
    Canvas c;
    // What "Locate" marked stays marked until the next click on the canvas.
    c.model.locate(Vec2{10, 10}, 12);
    ASSERT_TRUE(c.model.locatedPoint());
    c.moveTo(c.viewOf({12, 12}));
    EXPECT_TRUE(c.model.locatedPoint());
    c.click(c.viewOf({10, 10}) + QPointF(6, 0));  // 0.75 mm from the pad centre, 0.25 mm outside it
    EXPECT_FALSE(c.model.locatedPoint());
    ASSERT_TRUE(c.model.selection());
    EXPECT_EQ(c.model.selection()->fileName, "top.gbr");
    EXPECT_TRUE(c.model.selection()->object.kind.as<PCBObjectKind::Flash>());

    c.click(c.viewOf({5, 25}));
    EXPECT_FALSE(c.model.selection());

    // Below the zoom limit the tolerances are taken at it: 200 mm to snap.
    c.setCamera(Vec2{20, 15}, 0.01, false);
    c.click(c.viewOf({150, 10}));
    EXPECT_TRUE(c.model.selection());
}

TEST(CanvasInput, KeysFitEscapeAndHeldSpace) {
    Canvas c;
    c.model.canvasSizeChanged({400, 300});
    c.setCamera(Vec2{-100, 70}, 30, false);
    c.model.setHasFitted(false);
    c.key(QEvent::KeyPress, Qt::Key_F);
    EXPECT_TRUE(c.model.hasFitted());
    expectNear(c.model.camera().center, Vec2{20, 15});

    c.key(QEvent::KeyPress, Qt::Key_Space);
    EXPECT_TRUE(c.view.spaceKeyDown());
    c.key(QEvent::KeyRelease, Qt::Key_Space, true);  // X11 auto-repeat
    EXPECT_TRUE(c.view.spaceKeyDown());
    c.key(QEvent::KeyRelease, Qt::Key_Space);
    EXPECT_FALSE(c.view.spaceKeyDown());

    Canvas empty(false);
    empty.setCamera(Vec2{3, 4}, 9, false);
    empty.key(QEvent::KeyPress, Qt::Key_F);
    EXPECT_EQ(empty.model.camera().center, (Vec2{3, 4}));
    EXPECT_FALSE(empty.model.hasFitted());
}

TEST(CanvasInput, PointerMovesTrackTheCursor) {
    Canvas c;
    c.moveTo(QPointF(123, 45));
    ASSERT_TRUE(c.model.cursorWorld());
    EXPECT_EQ(*c.model.cursorWorld(), c.view.world(QPointF(123, 45)));
    EXPECT_EQ(c.posts, 1);
}

TEST(CanvasInput, WithoutAModelNothingHappens) {
    CanvasContainerView view(nullptr, CanvasContainerView::Backend::software);
    view.resize(200, 100);
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&view, &press);
    QKeyEvent space(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier);
    QCoreApplication::sendEvent(&view, &space);
    EXPECT_FALSE(view.spaceKeyDown());
    EXPECT_FALSE(view.isPanning());
}

TEST(CanvasView, ChildrenLeaveInputToTheContainer) {
    Canvas c;
    EXPECT_TRUE(c.view.isSoftware());
    EXPECT_EQ(c.view.renderer(), nullptr);
    ASSERT_NE(c.view.softwareView(), nullptr);
    EXPECT_TRUE(c.view.overlayView()->testAttribute(Qt::WA_TransparentForMouseEvents));
    EXPECT_TRUE(c.view.softwareView()->testAttribute(Qt::WA_TransparentForMouseEvents));
    EXPECT_EQ(c.view.overlayView()->focusPolicy(), Qt::NoFocus);
    EXPECT_EQ(c.view.childAt(QPoint(50, 50)), nullptr) << "clicks land on the container";
    EXPECT_EQ(c.view.focusPolicy(), Qt::StrongFocus);
    EXPECT_TRUE(c.view.hasMouseTracking());
}

TEST(CanvasView, ResizeReportsTheSizeAndPosts) {
    Canvas c;
    c.view.show();
    c.view.resize(520, 310);
    QCoreApplication::processEvents();
    EXPECT_EQ(c.model.canvasSize(), QSizeF(520, 310));
    EXPECT_EQ(c.view.softwareView()->size(), QSize(520, 310));
    EXPECT_GT(c.posts, 0);
}

TEST(CanvasHost, HandsTheCanvasToTheModelAndFitsOnTheNextTurn) {
    CanvasModel m;
    m.model.canvasSizeChanged({400, 300});
    m.load(inputBoard());
    m.model.setCamera(CameraState{Vec2{-50, -50}, 2, false});
    CanvasHost host(&m.model);
    CanvasContainerView* view = host.makeView(nullptr, CanvasContainerView::Backend::software);
    std::unique_ptr<CanvasContainerView> owner(view);
    EXPECT_EQ(host.canvas(), view);
    EXPECT_EQ(m.model.canvasView(), view);
    EXPECT_EQ(m.model.renderer(), nullptr) << "software mode has no GPU renderer";
    EXPECT_EQ(view->model(), &m.model);
    EXPECT_EQ(view->softwareView()->model(), &m.model);
    EXPECT_EQ(m.model.camera().center, (Vec2{-50, -50})) << "the fit waits for the event loop";
    QCoreApplication::processEvents();
    EXPECT_TRUE(m.model.hasFitted());
    expectNear(m.model.camera().center, Vec2{20, 15});

    CanvasModel other;
    CanvasHost second(&other.model);
    second.updateView(view);
    EXPECT_EQ(view->model(), &other.model);
    EXPECT_EQ(second.canvas(), view);
}

TEST(CanvasInput, TheRealTextPromptAddsOrCancels) {
    for (bool add : {true, false}) {
        QTimer::singleShot(0, [add] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            EXPECT_EQ(dialog->objectName(), QStringLiteral("canvas.annotationPrompt"));
            ASSERT_NE(dialog->findChild<QLabel*>(), nullptr);
            EXPECT_EQ(dialog->findChild<QLabel*>()->text(), QStringLiteral("Annotation text"));
            auto* field = dialog->findChild<QLineEdit*>();
            ASSERT_NE(field, nullptr);
            EXPECT_EQ(field->size(), QSize(240, 24));
            field->setText(QStringLiteral("Via"));
            for (auto* button : dialog->findChildren<QPushButton*>())
                if (button->text() == (add ? QStringLiteral("Add") : QStringLiteral("Cancel"))) button->click();
        });
        const auto text = CanvasContainerView::runTextPromptDialog(nullptr);
        EXPECT_EQ(text.has_value(), add);
        if (add) {
            EXPECT_EQ(*text, QStringLiteral("Via"));
        }
    }
}
