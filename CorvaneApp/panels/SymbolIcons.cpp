#include "panels/SymbolIcons.hpp"

#include <QApplication>
#include <QPolygonF>
#include <cmath>
#include <functional>
#include <utility>
#include <vector>
#include <QHash>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>

#include "model/Angles.hpp"

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

// Marks cut out of a filled shape show what lies under the symbol, as the platform's filled symbols do.
void cutOut(QPainter& p, double s, const std::function<void(QPainter&)>& mark) {
    p.save();
    p.setCompositionMode(QPainter::CompositionMode_Clear);
    QPen pen = p.pen();
    pen.setWidthF(std::max(1.2, s / 9.0));
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    mark(p);
    p.restore();
}

void drawEye(QPainter& p, double s, bool slashed) {
    QPainterPath lids;
    lids.moveTo(s * 0.08, s * 0.5);
    lids.quadTo(s * 0.5, s * 0.08, s * 0.92, s * 0.5);
    lids.quadTo(s * 0.5, s * 0.92, s * 0.08, s * 0.5);
    p.drawPath(lids);
    p.setBrush(p.pen().color());
    p.drawEllipse(QPointF(s * 0.5, s * 0.5), s * 0.13, s * 0.13);
    p.setBrush(Qt::NoBrush);
    if (slashed) p.drawLine(QPointF(s * 0.15, s * 0.85), QPointF(s * 0.85, s * 0.15));
}

void drawSoloMark(QPainter& p, double s) {
    p.drawEllipse(QRectF(s * 0.1, s * 0.1, s * 0.8, s * 0.8));
    // An "S" of two half turns.
    QPainterPath letter;
    letter.moveTo(s * 0.62, s * 0.36);
    letter.arcTo(QRectF(s * 0.38, s * 0.27, s * 0.24, s * 0.23), 20, 250);
    letter.arcTo(QRectF(s * 0.38, s * 0.5, s * 0.24, s * 0.23), 90, -250);
    p.drawPath(letter);
}

void drawChevron(QPainter& p, double s, bool up) {
    const double tip = up ? 0.32 : 0.68, base = up ? 0.66 : 0.34;
    p.drawPolyline(QPolygonF({QPointF(s * 0.2, s * base), QPointF(s * 0.5, s * tip), QPointF(s * 0.8, s * base)}));
}

void drawChevronRight(QPainter& p, double s) {
    p.drawPolyline(QPolygonF({QPointF(s * 0.34, s * 0.2), QPointF(s * 0.68, s * 0.5), QPointF(s * 0.34, s * 0.8)}));
}

void drawEllipsis(QPainter& p, double s) {
    p.setBrush(p.pen().color());
    for (double x : {0.2, 0.5, 0.8}) p.drawEllipse(QPointF(s * x, s * 0.5), s * 0.08, s * 0.08);
}

void drawCircle(QPainter& p, double s, bool filled) {
    if (filled) p.setBrush(p.pen().color());
    p.drawEllipse(QRectF(s * 0.15, s * 0.15, s * 0.7, s * 0.7));
}

QPolygonF regularPolygon(double s, int corners, double radius, double turn) {
    QPolygonF polygon;
    for (int i = 0; i < corners; ++i) {
        const double a = (turn + 360.0 * i / corners) * kPi / 180.0;
        polygon << QPointF(s * 0.5 + radius * s * std::cos(a), s * 0.5 + radius * s * std::sin(a));
    }
    return polygon;
}

void drawCross(QPainter& p, double s, double half) {
    p.drawLine(QPointF(s * (0.5 - half), s * (0.5 - half)), QPointF(s * (0.5 + half), s * (0.5 + half)));
    p.drawLine(QPointF(s * (0.5 + half), s * (0.5 - half)), QPointF(s * (0.5 - half), s * (0.5 + half)));
}

void drawCheck(QPainter& p, double s, double dy) {
    p.drawPolyline(QPolygonF({QPointF(s * 0.32, s * (0.52 + dy)), QPointF(s * 0.45, s * (0.65 + dy)),
                              QPointF(s * 0.7, s * (0.38 + dy))}));
}

void drawErrorMark(QPainter& p, double s) {
    p.setBrush(p.pen().color());
    p.drawPolygon(regularPolygon(s, 8, 0.46, 22.5));
    cutOut(p, s, [s](QPainter& q) { drawCross(q, s, 0.15); });
}

void drawWarningMark(QPainter& p, double s) {
    p.setBrush(p.pen().color());
    p.drawPolygon(QPolygonF({QPointF(s * 0.5, s * 0.06), QPointF(s * 0.96, s * 0.9), QPointF(s * 0.04, s * 0.9)}));
    cutOut(p, s, [s](QPainter& q) {
        q.drawLine(QPointF(s * 0.5, s * 0.36), QPointF(s * 0.5, s * 0.6));
        q.drawPoint(QPointF(s * 0.5, s * 0.75));
    });
}

void drawInfoMark(QPainter& p, double s) {
    drawCircle(p, s, true);
    cutOut(p, s, [s](QPainter& q) {
        q.drawLine(QPointF(s * 0.5, s * 0.46), QPointF(s * 0.5, s * 0.7));
        q.drawPoint(QPointF(s * 0.5, s * 0.32));
    });
}

void drawSeal(QPainter& p, double s) {
    QPolygonF seal;
    for (int i = 0; i < 24; ++i) {
        const double a = i * kPi / 12.0;
        const double r = (i % 2 ? 0.4 : 0.47) * s;
        seal << QPointF(s * 0.5 + r * std::cos(a), s * 0.5 + r * std::sin(a));
    }
    p.setBrush(p.pen().color());
    p.drawPolygon(seal);
    cutOut(p, s, [s](QPainter& q) { drawCheck(q, s, 0.0); });
}

void drawFilledCheckShield(QPainter& p, double s) {
    p.fillPath(shieldPath(s), p.pen().color());
    cutOut(p, s, [s](QPainter& q) { drawCheck(q, s, 0.0); });
}

void drawLockShield(QPainter& p, double s) {
    p.drawPath(shieldPath(s));
    p.setBrush(p.pen().color());
    p.drawRect(QRectF(s * 0.37, s * 0.46, s * 0.26, s * 0.2));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(s * 0.41, s * 0.32, s * 0.18, s * 0.24), 0, 180 * 16);
}

void drawSliders(QPainter& p, double s) {
    const double knobs[] = {0.35, 0.65, 0.45};
    for (int i = 0; i < 3; ++i) {
        const double y = s * (0.25 + 0.25 * i);
        p.drawLine(QPointF(s * 0.1, y), QPointF(s * 0.9, y));
        p.setBrush(p.pen().color());
        p.drawEllipse(QPointF(s * knobs[i], y), s * 0.08, s * 0.08);
    }
}

void drawFilledArrows(QPainter& p, double s) {
    drawCircle(p, s, true);
    cutOut(p, s, [s](QPainter& q) {
        q.drawLine(QPointF(s * 0.3, s * 0.4), QPointF(s * 0.7, s * 0.4));
        q.drawLine(QPointF(s * 0.7, s * 0.4), QPointF(s * 0.6, s * 0.31));
        q.drawLine(QPointF(s * 0.3, s * 0.6), QPointF(s * 0.7, s * 0.6));
        q.drawLine(QPointF(s * 0.3, s * 0.6), QPointF(s * 0.4, s * 0.69));
    });
}

void drawStack(QPainter& p, double s) {
    p.setBrush(p.pen().color());
    for (int i = 2; i >= 0; --i) {
        const double y = s * (0.28 + 0.2 * i);
        const QPolygonF sheet({QPointF(s * 0.5, y - s * 0.14), QPointF(s * 0.9, y), QPointF(s * 0.5, y + s * 0.14),
                               QPointF(s * 0.1, y)});
        if (i < 2) cutOut(p, s, [&sheet](QPainter& q) { q.drawPolygon(sheet); });
        p.drawPolygon(sheet);
    }
}

void drawFilledDocument(QPainter& p, double s) {
    p.setBrush(p.pen().color());
    p.drawRect(QRectF(s * 0.22, s * 0.1, s * 0.56, s * 0.8));
    cutOut(p, s, [s](QPainter& q) {
        for (double y : {0.32, 0.5, 0.68}) q.drawLine(QPointF(s * 0.34, s * y), QPointF(s * 0.66, s * y));
    });
}

void drawArrowUpRight(QPainter& p, double s) {
    p.drawLine(QPointF(s * 0.2, s * 0.8), QPointF(s * 0.8, s * 0.2));
    p.drawPolyline(QPolygonF({QPointF(s * 0.42, s * 0.2), QPointF(s * 0.8, s * 0.2), QPointF(s * 0.8, s * 0.58)}));
}

void drawRectangle(QPainter& p, double s) { p.drawRect(QRectF(s * 0.12, s * 0.28, s * 0.76, s * 0.44)); }

void drawDelta(QPainter& p, double s) {
    p.drawPolygon(QPolygonF({QPointF(s * 0.5, s * 0.14), QPointF(s * 0.86, s * 0.86), QPointF(s * 0.14, s * 0.86)}));
}

using Painter = void (*)(QPainter&, double);

const std::vector<std::pair<QString, Painter>>& painters() {
    static const std::vector<std::pair<QString, Painter>> table = {
        {"cpu", drawChip},
        {"lock.shield.fill", drawShield},
        {"lock.shield", drawLockShield},
        {"shippingbox", drawBox},
        {"arrow.left.arrow.right", [](QPainter& p, double s) { drawArrows(p, s, true); }},
        {"arrow.left.arrow.right.circle.fill", drawFilledArrows},
        {"circle.grid.2x2", drawGrid},
        {"checkmark.shield", drawCheckShield},
        {"checkmark.shield.fill", drawFilledCheckShield},
        {"checkmark.seal.fill", drawSeal},
        {"doc.richtext", drawDocument},
        {"doc.richtext.fill", drawFilledDocument},
        {"arrow.up.left.and.arrow.down.right", drawExpand},
        {"arrow.triangle.2.circlepath", drawCycle},
        {"eye", [](QPainter& p, double s) { drawEye(p, s, false); }},
        {"eye.slash", [](QPainter& p, double s) { drawEye(p, s, true); }},
        {"s.circle", drawSoloMark},
        {"chevron.up", [](QPainter& p, double s) { drawChevron(p, s, true); }},
        {"chevron.down", [](QPainter& p, double s) { drawChevron(p, s, false); }},
        {"chevron.right", drawChevronRight},
        {"ellipsis", drawEllipsis},
        {"xmark.octagon.fill", drawErrorMark},
        {"exclamationmark.triangle.fill", drawWarningMark},
        {"info.circle.fill", drawInfoMark},
        {"circle.fill", [](QPainter& p, double s) { drawCircle(p, s, true); }},
        {"circle", [](QPainter& p, double s) { drawCircle(p, s, false); }},
        {"slider.horizontal.3", drawSliders},
        {"square.stack.3d.up.fill", drawStack},
        {"arrow.up.right", drawArrowUpRight},
        {"rectangle", drawRectangle},
        {"delta", drawDelta},
    };
    return table;
}

} // namespace

const QStringList& knownSymbols() {
    static const QStringList names = [] {
        QStringList list;
        for (const auto& [name, paint] : painters()) list << name;
        return list;
    }();
    return names;
}

QPixmap symbolPixmap(const QString& name, const QColor& color, int size) {
    const qreal dpr = qApp ? qApp->devicePixelRatio() : 1.0;
    QPixmap pixmap(QSize(size, size) * dpr);
    pixmap.setDevicePixelRatio(dpr);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QPen pen(color, std::max(1.0, size / 14.0));
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    p.setPen(pen);
    const double s = size;
    const auto& table = painters();
    const auto it = std::find_if(table.begin(), table.end(), [&](const auto& entry) { return entry.first == name; });
    if (it != table.end()) it->second(p, s);
    else p.drawEllipse(QRectF(s * 0.2, s * 0.2, s * 0.6, s * 0.6));
    return pixmap;
}

QIcon symbolIcon(const QString& name, const QColor& color) {
    // Every row of the layer list asks for the same few icons, each drawn at seven sizes: they are drawn once.
    // Colours come from the layers' choices, so the kept icons are let go now and then.
    constexpr qsizetype kMostKept = 256;
    static QHash<QString, QIcon> kept;
    const qreal dpr = qApp ? qApp->devicePixelRatio() : 1.0;
    const QString key = name + QLatin1Char('|') + QString::number(quint64(color.rgba64()), 16) + QLatin1Char('|') +
                        QString::number(dpr);
    if (const auto it = kept.constFind(key); it != kept.constEnd()) return *it;
    QIcon icon;
    for (int size : {8, 10, 12, 14, 16, 24, 32}) icon.addPixmap(symbolPixmap(name, color, size));
    if (kept.size() >= kMostKept) kept.clear();
    kept.insert(key, icon);
    return icon;
}

} // namespace corvane
