#include "canvas/CanvasClip.hpp"

#include <cmath>
#include <vector>

#include <QPainterPath>

namespace corvane::CanvasClip {

QRectF reach(const QRectF& target, double margin) { return target.adjusted(-margin, -margin, margin, margin); }

bool isFinite(const QPointF& p) { return std::isfinite(p.x()) && std::isfinite(p.y()); }

bool clipSegment(QPointF& a, QPointF& b, const QRectF& r, double* t0Out, double* t1Out) {
    if (!isFinite(a) || !isFinite(b)) return false;
    // Liang–Barsky: narrow [t0, t1] by each of the four edges.
    const double dx = b.x() - a.x(), dy = b.y() - a.y();
    double t0 = 0, t1 = 1;
    auto edge = [&](double p, double q) {
        if (p == 0) return q >= 0;
        const double t = q / p;
        if (p < 0) {
            if (t > t1) return false;
            if (t > t0) t0 = t;
        } else {
            if (t < t0) return false;
            if (t < t1) t1 = t;
        }
        return true;
    };
    if (!edge(-dx, a.x() - r.left()) || !edge(dx, r.right() - a.x()) || !edge(-dy, a.y() - r.top()) ||
        !edge(dy, r.bottom() - a.y()))
        return false;
    const QPointF start = a;
    if (t1 < 1) b = QPointF(start.x() + t1 * dx, start.y() + t1 * dy);
    if (t0 > 0) a = QPointF(start.x() + t0 * dx, start.y() + t0 * dy);
    if (t0Out) *t0Out = t0;
    if (t1Out) *t1Out = t1;
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
