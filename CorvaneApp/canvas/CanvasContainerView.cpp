#include "canvas/CanvasContainerView.hpp"

#include <algorithm>
#include <cmath>

#include <QDialog>
#include <QDialogButtonBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QNativeGestureEvent>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <QWheelEvent>

#include "canvas/CanvasTransform.hpp"
#include "canvas/GLBoardRenderer.hpp"
#include "canvas/OverlayView.hpp"
#include "canvas/SoftwareCanvasView.hpp"
#include "model/AppModel.hpp"
#include "model/NotificationHub.hpp"

namespace corvane {

namespace {

// Click tolerances are 10 view points, whatever the scale; below the zoom limit they are taken at the limit.
constexpr double kSnapPoints = 10.0;
constexpr double kHitExtraMM = 0.05;
// An arrow or rectangle shorter than this is a slip of the hand, not an annotation.
constexpr double kMinAnnotationMM = 0.01;
constexpr double kWheelZoomStep = 1.1;  // per notch of the wheel
constexpr double kWheelNotch = 120.0;   // angle delta of one notch, in eighths of a degree

CanvasContainerView::TextPrompt& defaultTextPrompt() {
    static CanvasContainerView::TextPrompt prompt = &CanvasContainerView::runTextPromptDialog;
    return prompt;
}

// Making a context and compiling the shaders takes a while; the answer does not change within a run.
bool openGLAvailable() {
    static const bool available = GLBoardRenderer::probe();
    return available;
}

void postOverlayNeedsDisplay() { Notifications::post(Notifications::overlayNeedsDisplay); }

} // namespace

CanvasContainerView::TextPrompt CanvasContainerView::setDefaultTextPrompt(TextPrompt prompt) {
    TextPrompt previous = std::move(defaultTextPrompt());
    defaultTextPrompt() = std::move(prompt);
    return previous;
}

std::optional<QString> CanvasContainerView::runTextPromptDialog(QWidget* parent) {
    QDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("canvas.annotationPrompt"));
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(new QLabel(QStringLiteral("Annotation text"), &dialog));
    auto* field = new QLineEdit(&dialog);
    field->setFixedSize(240, 24);
    layout->addWidget(field);
    auto* buttons = new QDialogButtonBox(&dialog);
    QPushButton* add = buttons->addButton(QStringLiteral("Add"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    add->setDefault(true);
    layout->addWidget(buttons);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return field->text();
}

CanvasContainerView::CanvasContainerView(QWidget* parent, Backend backend)
    : QWidget(parent), textPrompt_(defaultTextPrompt()) {
    setObjectName(QStringLiteral("canvas"));
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);  // pointer moves arrive without a button held
    setAttribute(Qt::WA_AcceptTouchEvents, false);

    if (backend == Backend::automatic && openGLAvailable()) {
        renderer_ = new GLBoardRenderer(this);
        renderer_->setObjectName(QStringLiteral("canvas.gpu"));
        renderer_->setAttribute(Qt::WA_TransparentForMouseEvents);
        renderer_->setFocusPolicy(Qt::NoFocus);
        // A context that fails after the probe hands the canvas to the software view.
        connect(renderer_, &GLBoardRenderer::glFailed, this, &CanvasContainerView::useSoftwareCanvas);
    }
    overlay_ = new OverlayView(this);
    overlay_->canvas = this;
    QPointer<CanvasContainerView> self(this);
    overlay_->model = [self]() -> AppModel* { return self ? self->model_.data() : nullptr; };
    if (!renderer_) useSoftwareCanvas();

    Notifications::observe(QString::fromLatin1(Notifications::overlayNeedsDisplay), this, [this] { repaintCanvas(); });
    layoutChildren();
}

CanvasContainerView::~CanvasContainerView() = default;

void CanvasContainerView::useSoftwareCanvas() {
    if (software_) return;
    if (renderer_) {
        GLBoardRenderer* failed = renderer_;
        renderer_ = nullptr;
        if (model_ && model_->renderer() == failed) model_->setRenderer(nullptr);
        failed->hide();
        failed->deleteLater();
    }
    software_ = new SoftwareCanvasView(this);
    software_->canvas = this;
    software_->setModel(model_);
    software_->stackUnder(overlay_);
    // The software canvas paints the overlay into its own picture; the overlay view would lay it down twice.
    overlay_->hide();
    layoutChildren();
    software_->show();
    repaintCanvas();
}

void CanvasContainerView::setModel(AppModel* model) {
    if (model == model_) return;
    for (const auto& c : modelConnections_) disconnect(c);
    modelConnections_.clear();
    model_ = model;
    if (software_) software_->setModel(model);
    if (!model) return;
    // Changes that the overlay shows but that post nothing themselves.
    auto repaint = [this] { repaintCanvas(); };
    modelConnections_ << connect(model, &AppModel::selectionChanged, this, repaint)
                      << connect(model, &AppModel::compareHighlightChanged, this, repaint)
                      << connect(model, &AppModel::showGridChanged, this, repaint)
                      << connect(model, &AppModel::showOriginChanged, this, repaint)
                      << connect(model, &AppModel::showCrosshairChanged, this, repaint)
                      << connect(model, &AppModel::measurementsChanged, this, repaint)
                      << connect(model, &AppModel::annotationsChanged, this, repaint)
                      << connect(model, &AppModel::packageChanged, this, repaint);
    repaintCanvas();
}

void CanvasContainerView::repaintCanvas() {
    if (overlay_ && overlay_->isVisible()) overlay_->update();
    if (software_) software_->update();
}

void CanvasContainerView::layoutChildren() {
    const QRect r = rect();
    if (renderer_) renderer_->setGeometry(r);
    if (software_) software_->setGeometry(r);
    overlay_->setGeometry(r);
    overlay_->raise();
}

void CanvasContainerView::sizeChanged() {
    layoutChildren();
    if (!model_) return;
    model_->canvasSizeChanged(QSizeF(size()));
    postOverlayNeedsDisplay();
}

void CanvasContainerView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    sizeChanged();
}

void CanvasContainerView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    sizeChanged();
}

Vec2 CanvasContainerView::world(const QPointF& viewPoint) const {
    if (!model_) return Vec2::zero();
    return CanvasTransform(QSizeF(size()), model_->camera()).toBoard(viewPoint);
}

void CanvasContainerView::zoom(double factor, const QPointF& viewPoint) {
    if (!model_) return;
    CameraState camera = model_->camera();
    const CanvasTransform before(QSizeF(size()), camera);
    const Vec2 b = before.toBoard(viewPoint);
    const double scale = CameraState::clampedScale(factor * camera.pxPerMM);
    if (scale == camera.pxPerMM) return;
    camera.pxPerMM = scale;
    const Vec2 a = CanvasTransform(QSizeF(size()), camera).toBoard(viewPoint);
    camera.center = camera.center + (b - a);
    model_->setCamera(camera);  // copies it into the renderer and posts
}

// ---- Mouse ------------------------------------------------------------------------------------------------

void CanvasContainerView::mousePressEvent(QMouseEvent* event) {
    press(event->position(), event->button(), 1, event->modifiers());
}

void CanvasContainerView::mouseDoubleClickEvent(QMouseEvent* event) {
    // The second press of a double click: a click like any other, never a Ctrl pan.
    press(event->position(), event->button(), 2, event->modifiers());
}

void CanvasContainerView::press(const QPointF& p, Qt::MouseButton button, int clickCount,
                                Qt::KeyboardModifiers modifiers) {
    setFocus(Qt::MouseFocusReason);
    if (!model_) return;
    // What "Locate" marked stays marked until the user turns to the canvas again.
    model_->setLocatedPoint(std::nullopt);
    if (button == Qt::RightButton) return;
    const bool ctrlClick = clickCount == 1 && modifiers.testFlag(Qt::ControlModifier);
    if (model_->tool() == Tool::pan || spaceKeyDown_ || ctrlClick || button == Qt::MiddleButton) {
        startPan(p);
        return;
    }
    switch (model_->tool()) {
    case Tool::select: selectClick(p); break;
    case Tool::measureDistance:
    case Tool::measureX:
    case Tool::measureY: measureClick(p); break;
    case Tool::annotateArrow:
    case Tool::annotateRect: pendingAnnotationAnchor_ = world(p); break;
    case Tool::annotateText: textAnnotation(p); break;
    case Tool::pan: break;
    }
}

void CanvasContainerView::startPan(const QPointF& p) {
    dragAnchorPoint_ = p;
    dragCameraCenter_ = model_->camera().center;
    // Else a space or middle-button drag after an arrow click would draw an arrow.
    pendingAnnotationAnchor_.reset();
}

Vec2 CanvasContainerView::snappedWorld(const QPointF& p) const {
    const Vec2 w = world(p);
    const double tolerance = kSnapPoints / std::max(model_->camera().pxPerMM, CameraState::minPxPerMM);
    const auto snapped = model_->measureEngine().snap(model_->package()->files, w, tolerance, model_->measureIndex());
    return snapped ? *snapped : w;
}

void CanvasContainerView::selectClick(const QPointF& p) {
    if (!model_->package()) return;
    const Vec2 w = snappedWorld(p);
    const double tolerance = kSnapPoints / std::max(model_->camera().pxPerMM, CameraState::minPxPerMM) + kHitExtraMM;
    model_->setSelection(model_->measureEngine().hitTest(model_->package()->files, w, tolerance, model_->measureIndex()));
}

void CanvasContainerView::measureClick(const QPointF& p) {
    if (!model_->package()) return;
    const Vec2 w = snappedWorld(p);
    if (const auto anchor = model_->pendingMeasureAnchor()) {
        const Tool tool = model_->tool();
        const MeasurementKind kind = tool == Tool::measureX   ? MeasurementKind::xDelta
                                     : tool == Tool::measureY ? MeasurementKind::yDelta
                                                              : MeasurementKind::pointToPoint;
        model_->addMeasurement(model_->measureEngine().distanceMeasurement(*anchor, w, kind, model_->units()));
        model_->setPendingMeasureAnchor(std::nullopt);
    } else {
        model_->setPendingMeasureAnchor(w);
    }
    postOverlayNeedsDisplay();
}

void CanvasContainerView::textAnnotation(const QPointF& p) {
    const Vec2 at = world(p);
    QPointer<CanvasContainerView> self(this);
    const std::optional<QString> text = textPrompt_ ? textPrompt_(this) : std::nullopt;
    // The prompt runs its own event loop: the canvas or its model may be gone when it returns.
    if (!self || !model_) return;
    if (text && !text->isEmpty()) {
        Annotation a;
        a.id = UUID::random();
        a.kind = Annotation::Kind::text;
        a.p1 = at;
        a.text = text->toStdString();
        a.colorIndex = 0;
        auto list = model_->annotations();
        list.push_back(std::move(a));
        model_->setAnnotations(std::move(list));
        postOverlayNeedsDisplay();
    }
    model_->setTool(Tool::select);
}

void CanvasContainerView::mouseMoveEvent(QMouseEvent* event) {
    if (!model_) return;
    const QPointF p = event->position();
    if (event->buttons() != Qt::NoButton) {
        drag(p);
        return;
    }
    model_->setCursorWorld(world(p));
    postOverlayNeedsDisplay();
}

void CanvasContainerView::drag(const QPointF& p) {
    const Tool tool = model_->tool();
    if ((tool == Tool::annotateArrow || tool == Tool::annotateRect) && pendingAnnotationAnchor_) {
        Annotation a;
        a.id = UUID::random();
        a.kind = tool == Tool::annotateArrow ? Annotation::Kind::arrow : Annotation::Kind::rectangle;
        a.p1 = *pendingAnnotationAnchor_;
        a.p2 = world(p);
        a.colorIndex = 0;
        model_->setPendingAnnotationPreview(std::move(a));
        postOverlayNeedsDisplay();
        return;
    }
    if (!dragAnchorPoint_ || !dragCameraCenter_) return;
    CameraState camera = model_->camera();
    const double k = camera.pxPerMM;
    const double s = camera.mirrored ? -1.0 : 1.0;
    // The board point grabbed at the press stays under the pointer (Qt's y runs down, the board's up).
    camera.center.x = dragCameraCenter_->x - s * (p.x() - dragAnchorPoint_->x()) / k;
    camera.center.y = dragCameraCenter_->y + (p.y() - dragAnchorPoint_->y()) / k;
    model_->setCamera(camera);
}

void CanvasContainerView::mouseReleaseEvent(QMouseEvent*) {
    if (!model_) return;
    if (const auto preview = model_->pendingAnnotationPreview()) {
        if (preview->p2 && preview->p1.distance(*preview->p2) > kMinAnnotationMM) {
            auto list = model_->annotations();
            list.push_back(*preview);
            model_->setAnnotations(std::move(list));
        }
        model_->setPendingAnnotationPreview(std::nullopt);
        pendingAnnotationAnchor_.reset();
        model_->setTool(Tool::select);
        postOverlayNeedsDisplay();
    }
    // Any button ends a pan: a middle-button pan ended by its own release must not leave the next left
    // drag panning from the old anchor.
    dragAnchorPoint_.reset();
    dragCameraCenter_.reset();
}

// ---- Wheel and pinch --------------------------------------------------------------------------------------

void CanvasContainerView::wheelEvent(QWheelEvent* event) {
    if (!model_) return;
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    // A touchpad scrolls in pixels; a wheel turns in notches of 120 eighths of a degree.
    const bool touchpad = !event->pixelDelta().isNull();
    const QPointF delta = touchpad ? QPointF(event->pixelDelta()) : QPointF(event->angleDelta()) / 8.0;
    // With Alt or Shift held X11 may report a vertical wheel on the horizontal axis.
    const double along = delta.y() != 0 ? delta.y() : delta.x();
    if (modifiers.testFlag(Qt::AltModifier)) {
        zoom(along > 0 ? kWheelZoomStep : 1.0 / kWheelZoomStep, event->position());
        return;
    }
    // Two fingers on a touchpad drag the board, as they always did.
    if (touchpad) return pan(delta);
    // The wheel zooms at the pointer, as in gerbv and KiCad; Shift turns it sideways, Ctrl up and down.
    if (modifiers.testFlag(Qt::ShiftModifier)) return pan(QPointF(along, 0));
    if (modifiers.testFlag(Qt::ControlModifier)) return pan(delta);
    if (delta.y() == 0) return pan(delta);  // a wheel tilted sideways
    zoom(std::pow(kWheelZoomStep, event->angleDelta().y() / kWheelNotch), event->position());
}

void CanvasContainerView::pan(QPointF viewDelta) {
    CameraState camera = model_->camera();
    const double k = camera.pxPerMM;
    const double s = camera.mirrored ? -1.0 : 1.0;
    camera.center.x += s * viewDelta.x() / k;
    camera.center.y -= viewDelta.y() / k;
    model_->setCamera(camera);
}

bool CanvasContainerView::event(QEvent* event) {
    if (event->type() == QEvent::NativeGesture) {
        auto* gesture = static_cast<QNativeGestureEvent*>(event);
        if (gesture->gestureType() == Qt::ZoomNativeGesture) {
            if (model_) zoom(std::clamp(1.0 + 2.5 * gesture->value(), 0.2, 5.0), gesture->position());
            return true;
        }
    }
    return QWidget::event(event);
}

// ---- Keys -------------------------------------------------------------------------------------------------

void CanvasContainerView::keyPressEvent(QKeyEvent* event) {
    if (!model_) return;
    switch (event->key()) {
    case Qt::Key_F:
        if (const auto& package = model_->package()) {
            const BBox board = package->boardBBox();
            if (board.isValid()) {
                model_->setHasFitted(true);
                model_->fitBBox(board);
            }
        }
        return;
    case Qt::Key_Escape:
        model_->setPendingMeasureAnchor(std::nullopt);
        model_->setTool(Tool::select);
        postOverlayNeedsDisplay();
        return;
    case Qt::Key_Space: spaceKeyDown_ = true; return;
    default: QWidget::keyPressEvent(event);
    }
}

void CanvasContainerView::keyReleaseEvent(QKeyEvent* event) {
    // X11 auto-repeat sends a release before each repeated press while the key is still held.
    if (event->key() == Qt::Key_Space) {
        if (!event->isAutoRepeat()) spaceKeyDown_ = false;
        return;
    }
    QWidget::keyReleaseEvent(event);
}

// ---- Host -------------------------------------------------------------------------------------------------

CanvasContainerView* CanvasHost::makeView(QWidget* parent, CanvasContainerView::Backend backend) {
    auto* canvas = new CanvasContainerView(parent, backend);
    canvas->setModel(model_);
    if (model_) {
        model_->setCanvasView(canvas);
        model_->setRenderer(canvas->renderer());
        if (GLBoardRenderer* r = canvas->renderer()) r->setCamera(model_->camera());
    }
    canvas_ = canvas;
    // The first fit waits for the next turn of the event loop, when the window has given the canvas a size.
    QPointer<AppModel> model = model_;
    QTimer::singleShot(0, canvas, [model] {
        if (!model || !model->package()) return;
        const BBox board = model->package()->boardBBox();
        if (!board.isValid()) return;
        model->setHasFitted(true);
        model->fitBBox(board);
    });
    return canvas;
}

void CanvasHost::updateView(CanvasContainerView* view) {
    if (!view) return;
    view->setModel(model_);
    if (!canvas_) canvas_ = view;
}

} // namespace corvane
