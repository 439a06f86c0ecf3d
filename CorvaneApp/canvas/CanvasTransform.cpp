#include "canvas/CanvasTransform.hpp"

namespace corvane {

Vec2 CanvasTransform::toView(const Vec2& board) const {
    const double k = camera_.pxPerMM;
    return Vec2{width_ / 2 + mirrorSign() * k * (board.x - camera_.center.x),
                height_ / 2 - k * (board.y - camera_.center.y)};
}

Vec2 CanvasTransform::toBoard(const Vec2& view) const {
    const double k = camera_.pxPerMM;
    return Vec2{camera_.center.x + mirrorSign() * (view.x - width_ / 2) / k,
                camera_.center.y - (view.y - height_ / 2) / k};
}

QPointF CanvasTransform::toViewPoint(const Vec2& board) const {
    const Vec2 v = toView(board);
    return QPointF(v.x, v.y);
}

CanvasTransform::Clip CanvasTransform::clip() const {
    // clip x = 2·x_v/W − 1 and clip y = 1 − 2·y_v/H with the view mapping above.
    const double k = camera_.pxPerMM;
    return Clip{2 * mirrorSign() * k / width_, camera_.center.x, 2 * k / height_, camera_.center.y};
}

} // namespace corvane
