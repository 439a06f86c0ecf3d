#pragma once
// The board canvas: the GPU view, or the software canvas when no OpenGL context can be made, under the
// transparent overlay. The container takes every mouse, wheel, pinch and key event of the canvas and turns
// it into camera changes, selection, measurements and annotations on the model.
#include <functional>
#include <optional>

#include <QPointF>
#include <QPointer>
#include <QString>
#include <QWidget>

#include "model/Geometry.hpp"

namespace corvane {

class AppModel;
class GLBoardRenderer;
class OverlayView;
class SoftwareCanvasView;

class CanvasContainerView : public QWidget {
    Q_OBJECT
public:
    enum class Backend {
        automatic,  // the GPU canvas when the OpenGL probe succeeds, else the software canvas
        software,   // the software canvas whatever the platform offers
    };

    // Asks for the text of a text annotation ("Annotation text", "Add", "Cancel"); none when cancelled.
    using TextPrompt = std::function<std::optional<QString>(QWidget* parent)>;
    // The prompt new canvases use; returns the previous one. Tests script it so that nothing modal runs.
    static TextPrompt setDefaultTextPrompt(TextPrompt prompt);
    static std::optional<QString> runTextPromptDialog(QWidget* parent);

    explicit CanvasContainerView(QWidget* parent = nullptr, Backend backend = Backend::automatic);
    ~CanvasContainerView() override;

    AppModel* model() const { return model_; }
    // Held without ownership; all input is ignored while there is none.
    void setModel(AppModel* model);
    void setTextPrompt(TextPrompt prompt) { textPrompt_ = std::move(prompt); }

    // Null in software mode.
    GLBoardRenderer* renderer() const { return renderer_; }
    OverlayView* overlayView() const { return overlay_; }
    SoftwareCanvasView* softwareView() const { return software_; }
    bool isSoftware() const { return renderer_ == nullptr; }

    // The board point under a view point (widget coordinates); (0, 0) without a model.
    Vec2 world(const QPointF& viewPoint) const;
    // Scales the camera by `factor` (the result held within the zoom limits) keeping the board point under
    // `viewPoint` where it is. A zoom that changes nothing posts nothing.
    void zoom(double factor, const QPointF& viewPoint);
    // Moves the board under the view by a scroll of `viewDelta` points (positive y scrolls the board down).
    void pan(QPointF viewDelta);

    // Interaction state, readable for the status line and tests.
    bool spaceKeyDown() const { return spaceKeyDown_; }
    bool isPanning() const { return dragAnchorPoint_.has_value() && dragCameraCenter_.has_value(); }
    const std::optional<Vec2>& pendingAnnotationAnchor() const { return pendingAnnotationAnchor_; }

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    bool event(QEvent* event) override;

private:
    void useSoftwareCanvas();
    void layoutChildren();
    void sizeChanged();
    void repaintCanvas();
    void press(const QPointF& p, Qt::MouseButton button, int clickCount, Qt::KeyboardModifiers modifiers);
    void startPan(const QPointF& p);
    Vec2 snappedWorld(const QPointF& p) const;
    void selectClick(const QPointF& p);
    void measureClick(const QPointF& p);
    void textAnnotation(const QPointF& p);
    void drag(const QPointF& p);

    QPointer<AppModel> model_;
    QList<QMetaObject::Connection> modelConnections_;
    GLBoardRenderer* renderer_ = nullptr;
    SoftwareCanvasView* software_ = nullptr;
    OverlayView* overlay_ = nullptr;
    TextPrompt textPrompt_;

    bool spaceKeyDown_ = false;
    std::optional<QPointF> dragAnchorPoint_;
    std::optional<Vec2> dragCameraCenter_;
    std::optional<Vec2> pendingAnnotationAnchor_;
};

// Embeds the canvas for the main window: makes the container, hands it and its renderer to the model and
// fits the board once the event loop turns.
class CanvasHost {
public:
    explicit CanvasHost(AppModel* model) : model_(model) {}

    CanvasContainerView* makeView(QWidget* parent = nullptr,
                                  CanvasContainerView::Backend backend = CanvasContainerView::Backend::automatic);
    // Points the container at the current model again.
    void updateView(CanvasContainerView* view);
    CanvasContainerView* canvas() const { return canvas_; }

private:
    QPointer<AppModel> model_;
    QPointer<CanvasContainerView> canvas_;
};

} // namespace corvane
