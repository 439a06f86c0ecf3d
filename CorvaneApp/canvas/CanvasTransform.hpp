#pragma once
#include <QPointF>
#include <QSizeF>

#include "model/CameraState.hpp"

namespace corvane {

// Board millimetres to view points and back, in Qt's widget coordinates (origin top left, y down): board +y
// is up on screen, and in the mirrored view board +x runs right to left. Every part of the canvas that
// draws or reads positions goes through this one mapping, so pointer, overlay and GPU image agree.
//
//   x_v = W/2 + s·k·(x − cx)      y_v = H/2 − k·(y − cy)      s = −1 when mirrored, else +1
//
// The scale k must be finite and positive for the inverse to exist.
class CanvasTransform {
public:
    CanvasTransform(double viewWidth, double viewHeight, const CameraState& camera)
        : width_(viewWidth), height_(viewHeight), camera_(camera) {}
    CanvasTransform(const QSizeF& viewSize, const CameraState& camera)
        : CanvasTransform(viewSize.width(), viewSize.height(), camera) {}

    double viewWidth() const { return width_; }
    double viewHeight() const { return height_; }
    const CameraState& camera() const { return camera_; }
    double scale() const { return camera_.pxPerMM; }
    double mirrorSign() const { return camera_.mirrored ? -1.0 : 1.0; }

    Vec2 toView(const Vec2& board) const;
    Vec2 toBoard(const Vec2& view) const;
    QPointF toViewPoint(const Vec2& board) const;
    Vec2 toBoard(const QPointF& view) const { return toBoard(Vec2{view.x(), view.y()}); }

    // The same mapping into OpenGL clip space (x right, y up, −1 … 1 across the view), in the form the mesh
    // shader takes it: clip = ((x − centerX)·scaleX, (y − centerY)·scaleY).
    struct Clip {
        double scaleX, centerX, scaleY, centerY;
    };
    Clip clip() const;

private:
    double width_;
    double height_;
    CameraState camera_;
};

} // namespace corvane
