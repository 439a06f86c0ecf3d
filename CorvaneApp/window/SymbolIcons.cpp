#include "window/SymbolIcons.hpp"

#include <QApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>

namespace corvane {

namespace {

void drawChip(QPainter& p, double s) {
    const double body = s * 0.56, origin = (s - body) / 2;
    p.drawRoundedRect(QRectF(origin, origin, body, body), s * 0.08, s * 0.08);
    const double pin = s * 0.1, gap = body / 4;
    for (int i = 1; i <= 3; ++i) {
        const double at = origin + gap * i;
        p.drawLine(QPointF(at, origin), QPointF(at, origin - pin));
        p.drawLine(QPointF(at, origin + body), QPointF(at, origin + body + pin));
        p.drawLine(QPointF(origin, at), QPointF(origin - pin, at));
        p.drawLine(QPointF(origin + body, at), QPointF(origin + body + pin, at));
    }
    p.drawRect(QRectF(origin + body * 0.3, origin + body * 0.3, body * 0.4, body * 0.4));
}

QPainterPath shieldPath(double s) {
    QPainterPath shield;
    shield.moveTo(s * 0.5, s * 0.08);
    shield.lineTo(s * 0.88, s * 0.22);
    shield.cubicTo(s * 0.88, s * 0.6, s * 0.7, s * 0.82, s * 0.5, s * 0.94);
    shield.cubicTo(s * 0.3, s * 0.82, s * 0.12, s * 0.6, s * 0.12, s * 0.22);
    shield.closeSubpath();
    return shield;
}

void drawShield(QPainter& p, double s) { p.fillPath(shieldPath(s), p.pen().color()); }

void drawBox(QPainter& p, double s) {
    p.drawRect(QRectF(s * 0.15, s * 0.3, s * 0.7, s * 0.55));
    p.drawLine(QPointF(s * 0.15, s * 0.3), QPointF(s * 0.3, s * 0.15));
    p.drawLine(QPointF(s * 0.85, s * 0.3), QPointF(s * 0.7, s * 0.15));
    p.drawLine(QPointF(s * 0.3, s * 0.15), QPointF(s * 0.7, s * 0.15));
}

void drawArrows(QPainter& p, double s, bool twoWay) {
    p.drawLine(QPointF(s * 0.15, s * 0.5), QPointF(s * 0.85, s * 0.5));
    p.drawLine(QPointF(s * 0.85, s * 0.5), QPointF(s * 0.68, s * 0.35));
    p.drawLine(QPointF(s * 0.85, s * 0.5), QPointF(s * 0.68, s * 0.65));
    if (twoWay) {
        p.drawLine(QPointF(s * 0.15, s * 0.5), QPointF(s * 0.32, s * 0.35));
        p.drawLine(QPointF(s * 0.15, s * 0.5), QPointF(s * 0.32, s * 0.65));
    }
}

void drawGrid(QPainter& p, double s) {
    for (double x : {0.3, 0.7})
        for (double y : {0.3, 0.7}) p.drawEllipse(QPointF(s * x, s * y), s * 0.12, s * 0.12);
}

void drawCheckShield(QPainter& p, double s) {
    p.drawPath(shieldPath(s));
    p.drawLine(QPointF(s * 0.33, s * 0.5), QPointF(s * 0.46, s * 0.64));
    p.drawLine(QPointF(s * 0.46, s * 0.64), QPointF(s * 0.68, s * 0.36));
}

void drawDocument(QPainter& p, double s) {
    p.drawRect(QRectF(s * 0.22, s * 0.1, s * 0.56, s * 0.8));
    for (double y : {0.32, 0.5, 0.68}) p.drawLine(QPointF(s * 0.32, s * y), QPointF(s * 0.68, s * y));
}

void drawExpand(QPainter& p, double s) {
    p.drawLine(QPointF(s * 0.2, s * 0.2), QPointF(s * 0.8, s * 0.8));
    p.drawLine(QPointF(s * 0.2, s * 0.2), QPointF(s * 0.42, s * 0.2));
    p.drawLine(QPointF(s * 0.2, s * 0.2), QPointF(s * 0.2, s * 0.42));
    p.drawLine(QPointF(s * 0.8, s * 0.8), QPointF(s * 0.58, s * 0.8));
    p.drawLine(QPointF(s * 0.8, s * 0.8), QPointF(s * 0.8, s * 0.58));
}

void drawCycle(QPainter& p, double s) {
    const QRectF r(s * 0.18, s * 0.18, s * 0.64, s * 0.64);
    p.drawArc(r, 30 * 16, 150 * 16);
    p.drawArc(r, 210 * 16, 150 * 16);
    p.drawLine(QPointF(s * 0.78, s * 0.34), QPointF(s * 0.86, s * 0.2));
    p.drawLine(QPointF(s * 0.22, s * 0.66), QPointF(s * 0.14, s * 0.8));
}

} // namespace

QPixmap symbolPixmap(const QString& name, const QColor& color, int size) {
    const qreal dpr = qApp ? qApp->devicePixelRatio() : 1.0;
    QPixmap pixmap(QSize(size, size) * dpr);
    pixmap.setDevicePixelRatio(dpr);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QPen pen(color, std::max(1.0, size / 14.0));
    pen.setCapStyle(Qt::RoundCap);
    p.setPen(pen);
    const double s = size;
    if (name == "cpu") drawChip(p, s);
    else if (name == "lock.shield.fill") drawShield(p, s);
    else if (name == "shippingbox") drawBox(p, s);
    else if (name == "arrow.left.arrow.right") drawArrows(p, s, true);
    else if (name == "circle.grid.2x2") drawGrid(p, s);
    else if (name == "checkmark.shield") drawCheckShield(p, s);
    else if (name == "doc.richtext") drawDocument(p, s);
    else if (name == "arrow.up.left.and.arrow.down.right") drawExpand(p, s);
    else if (name == "arrow.triangle.2.circlepath") drawCycle(p, s);
    else p.drawEllipse(QRectF(s * 0.2, s * 0.2, s * 0.6, s * 0.6));
    return pixmap;
}

QIcon symbolIcon(const QString& name, const QColor& color) {
    QIcon icon;
    for (int size : {16, 24, 32}) icon.addPixmap(symbolPixmap(name, color, size));
    return icon;
}

} // namespace corvane
