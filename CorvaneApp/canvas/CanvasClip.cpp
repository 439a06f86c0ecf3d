#include "canvas/CanvasClip.hpp"

#include <cmath>
#include <vector>

#include <QPainterPath>

namespace corvane::CanvasClip {

QRectF reach(const QRectF& target, double margin) { return target.adjusted(-margin, -margin, margin, margin); }

bool isFinite(const QPointF& p) { return std::isfinite(p.x()) && std::isfinite(p.y()); }

namespace {

enum Outside : int { kLeft = 1, kRight = 2, kTop = 4, kBottom = 8 };

int outcode(const QPointF& p, const QRectF& r) {
    int code = 0;
    if (p.x() < r.left()) code |= kLeft;
    else if (p.x() > r.right()) code |= kRight;
    if (p.y() < r.top()) code |= kTop;
    else if (p.y() > r.bottom()) code |= kBottom;
    return code;
}

} // namespace

bool clipSegment(QPointF& a, QPointF& b, const QRectF& r, double* t0Out, double* t1Out) {
    if (!isFinite(a) || !isFinite(b)) return false;
    // Cohen–Sutherland, placing each cut end on the edge itself: a parameter along a segment billions of
    // points long would lose the few points that matter.
    const QPointF a0 = a, b0 = b;
    int codeA = outcode(a, r), codeB = outcode(b, r);
    for (int guard = 0; guard < 8 && (codeA | codeB); ++guard) {
        if (codeA & codeB) return false;
        const bool moveA = codeA != 0;
        const int code = moveA ? codeA : codeB;
        const QPointF p = a, q = b;
        QPointF cut;
        if (code & kLeft) cut = QPointF(r.left(), p.y() + (q.y() - p.y()) * ((r.left() - p.x()) / (q.x() - p.x())));
        else if (code & kRight) cut = QPointF(r.right(), p.y() + (q.y() - p.y()) * ((r.right() - p.x()) / (q.x() - p.x())));
        else if (code & kTop) cut = QPointF(p.x() + (q.x() - p.x()) * ((r.top() - p.y()) / (q.y() - p.y())), r.top());
        else cut = QPointF(p.x() + (q.x() - p.x()) * ((r.bottom() - p.y()) / (q.y() - p.y())), r.bottom());
        if (!isFinite(cut)) return false;
        if (moveA) {
            a = cut;
            codeA = outcode(a, r);
        } else {
            b = cut;
            codeB = outcode(b, r);
        }
    }
    if (codeA | codeB) return false;
    const double dx = b0.x() - a0.x(), dy = b0.y() - a0.y();
    const double length = std::sqrt(dx * dx + dy * dy);
    auto along = [&](const QPointF& p) {
        if (!(length > 0)) return 0.0;
        const double ex = p.x() - a0.x(), ey = p.y() - a0.y();
        return std::sqrt(ex * ex + ey * ey) / length;
    };
    if (t0Out) *t0Out = along(a);
    if (t1Out) *t1Out = along(b);
    return true;
}

void strokeClosedOutline(QPainter& painter, const QPointF* corners, int count, const QPen& pen, const QRectF& r) {
    if (count < 2) return;
    bool inside = true;
    for (int i = 0; i < count; ++i) {
        if (!isFinite(corners[i])) return;
        inside = inside && r.contains(corners[i]);
    }
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    if (inside) {
        QPainterPath path(corners[0]);
        for (int i = 1; i < count; ++i) path.lineTo(corners[i]);
        path.closeSubpath();
        painter.drawPath(path);
        return;
    }
    // The dash pattern runs on along the outline from its first corner; Qt counts it in pen widths.
    const double width = pen.widthF() > 0 ? pen.widthF() : 1.0;
    double period = 0;
    const bool dashed = pen.style() == Qt::CustomDashLine;
    if (dashed)
        for (double d : pen.dashPattern()) period += d * width;
    double along = 0;
    for (int i = 0; i < count; ++i) {
        QPointF a = corners[i], b = corners[(i + 1) % count];
        const double dx = b.x() - a.x(), dy = b.y() - a.y();
        const double length = std::sqrt(dx * dx + dy * dy);
        double t0 = 0;
        if (clipSegment(a, b, r, &t0)) {
            QPen edgePen = pen;
            if (dashed && period > 0) {
                const double start = std::fmod(along + t0 * length, period);
                edgePen.setDashOffset(pen.dashOffset() + start / width);
            }
            painter.setPen(edgePen);
            painter.drawLine(a, b);
        }
        along += length;
    }
}

} // namespace corvane::CanvasClip
