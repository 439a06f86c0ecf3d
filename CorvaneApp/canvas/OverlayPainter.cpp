#include "canvas/OverlayPainter.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPainterPath>
#include <QPen>
#include <QRgba64>

#include "canvas/CanvasClip.hpp"
#include "canvas/SystemColors.hpp"
#include "model/AppModel.hpp"

namespace corvane {

namespace {

QPen solidPen(const QColor& color, double width) {
    QPen pen(color, width);
    pen.setCapStyle(Qt::FlatCap);
    pen.setJoinStyle(Qt::MiterJoin);
    return pen;
}

// `on` and `off` in points at `width`, starting `phase` points into the pattern. Qt measures dashes in pen
// widths and lengthens them by square caps, hence the flat cap.
QPen dashedPen(const QColor& color, double width, double on, double off, double phase) {
    QPen pen = solidPen(color, width);
    pen.setDashPattern({on / width, off / width});
    pen.setDashOffset(phase / width);
    return pen;
}

// Line pieces stroked as one path, so that where they cross the colour is laid down once.
class SegmentPath {
public:
    explicit SegmentPath(const QRectF& reach) : reach_(reach) {}
    void add(QPointF a, QPointF b) {
        if (!CanvasClip::clipSegment(a, b, reach_)) return;
        path_.moveTo(a);
        path_.lineTo(b);
    }
    void stroke(QPainter& painter, const QPen& pen) const {
        if (path_.isEmpty()) return;
        painter.setPen(pen);
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(path_);
    }

private:
    QRectF reach_;
    QPainterPath path_;
};

QFont labelFont(int pixelSize, QFont::Weight weight) {
    QFont font = QGuiApplication::font();
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    return font;
}

// A text on a dark box whose top left is at `anchor`; the box follows the text's ink, not its line height.
void drawLabel(QPainter& painter, const QPointF& anchor, const std::string& text, const QFont& font, const QColor& color,
               const QRectF& reach) {
    if (text.empty() || !CanvasClip::isFinite(anchor)) return;
    const QString line = QString::fromStdString(text);
    const QRectF ink = QFontMetricsF(font).tightBoundingRect(line);
    const double w = ink.width(), h = ink.height();
    const QRectF box(anchor.x() - 2, anchor.y(), w + 4, h + 2);
    if (!box.intersects(reach)) return;
    painter.fillRect(box, SystemColors::black(0.55));
    painter.setFont(font);
    painter.setPen(color);
    painter.drawText(QPointF(anchor.x(), anchor.y() + h), line);
}

QRectF normalizedRect(const QPointF& a, const QPointF& b) {
    return QRectF(QPointF(std::min(a.x(), b.x()), std::min(a.y(), b.y())),
                  QPointF(std::max(a.x(), b.x()), std::max(a.y(), b.y())));
}

void strokeRect(QPainter& painter, const QRectF& r, const QPen& pen, const QRectF& reach) {
    const QPointF corners[4] = {r.topLeft(), r.topRight(), r.bottomRight(), r.bottomLeft()};
    CanvasClip::strokeClosedOutline(painter, corners, 4, pen, reach);
}

// The on-screen rectangle of a board box (corners at its top left and bottom right in board terms).
QRectF boxOnScreen(const BBox& box, const CanvasTransform& vp) {
    return normalizedRect(vp.toViewPoint(Vec2{box.minX, box.maxY}), vp.toViewPoint(Vec2{box.maxX, box.minY}));
}

MeasurementKind kindForTool(Tool tool) {
    if (tool == Tool::measureX) return MeasurementKind::xDelta;
    if (tool == Tool::measureY) return MeasurementKind::yDelta;
    return MeasurementKind::pointToPoint;
}

// The least inner radius of the located mark, and the gap it keeps around the object it rings.
constexpr double kLocatedInnerPx = 9, kLocatedGapPx = 4;

// The inner radius of the located mark: clear of the object at the place, so that the mark shows it, never
// past a quarter of the view.
double locatedInnerRadius(const std::optional<BBox>& object, double pxPerMM, const QSizeF& view) {
    if (!object || !object->isValid() || !(pxPerMM > 0)) return kLocatedInnerPx;
    const double r = std::hypot(object->width(), object->height()) / 2 * pxPerMM + kLocatedGapPx;
    if (!std::isfinite(r)) return kLocatedInnerPx;
    return std::clamp(r, kLocatedInnerPx, std::max(kLocatedInnerPx, std::min(view.width(), view.height()) / 4));
}

// Where "Locate" went: rings and ticks around the point, on a dark halo so they show on copper and background.
void drawLocatedMark(QPainter& painter, const QPointF& at, const QRectF& reach, double inner) {
    constexpr double kRingGap = 7, kTick = 7;
    const double kInner = inner, kOuter = inner + kRingGap;
    if (!CanvasClip::isFinite(at) || !reach.contains(at)) return;
    const auto shape = [&](QPainterPath& path) {
        path.addEllipse(at, kInner, kInner);
        path.addEllipse(at, kOuter, kOuter);
        for (const QPointF d : {QPointF(1, 0), QPointF(-1, 0), QPointF(0, 1), QPointF(0, -1)}) {
            path.moveTo(at + d * kOuter);
            path.lineTo(at + d * (kOuter + kTick));
        }
    };
    QPainterPath path;
    shape(path);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(solidPen(SystemColors::black(0.6), 4));
    painter.drawPath(path);
    painter.setPen(solidPen(SystemColors::yellow(), 2));
    painter.drawPath(path);
}

} // namespace

std::optional<OverlayPainter::GridSteps> OverlayPainter::gridSteps(double pxPerMM) {
    if (!(pxPerMM > 0) || !std::isfinite(pxPerMM)) return std::nullopt;
    static constexpr double decades[] = {0.001, 0.01, 0.1, 1, 10, 100, 1000, 10000, 100000};
    static constexpr double multiples[] = {1, 2, 5};
    double major = 5e5;  // used even when it is still shorter than 48 points
    for (double decade : decades) {
        for (double m : multiples) {
            if (m * decade * pxPerMM >= 48) {
                major = m * decade;
                return GridSteps{major, major / 5};
            }
        }
    }
    return GridSteps{major, major / 5};
}

QColor OverlayPainter::annotationColor(std::int64_t colorIndex) {
    switch (((colorIndex % 3) + 3) % 3) {
    case 0: return SystemColors::orange();
    case 1: return SystemColors::pink();
    default: return SystemColors::green();
    }
}

namespace {

// One style of grid lines: their colour and where they lie across the target, in view points.
struct GridStyle {
    QColor color;
    std::vector<double> columns;  // x of each vertical line
    std::vector<double> rows;     // y of each horizontal line
};

// The grid's styles in the order they are drawn: the minor lines (when they are far enough apart), then the
// major lines over them.
std::vector<GridStyle> gridStyles(const QSizeF& size, const CameraState& camera) {
    std::vector<GridStyle> styles;
    const auto steps = OverlayPainter::gridSteps(camera.pxPerMM);
    if (!steps) return styles;
    const double W = size.width(), H = size.height();
    const double k = camera.pxPerMM;
    const double s = camera.mirrored ? -1.0 : 1.0;
    const double minX = camera.center.x - (W / 2) / k, maxX = camera.center.x + (W / 2) / k;
    const double minY = camera.center.y - (H / 2) / k, maxY = camera.center.y + (H / 2) / k;

    auto style = [&](double step, const QColor& color) {
        const double firstX = std::floor(minX / step), firstY = std::floor(minY / step);
        const double countX = std::floor(maxX / step) - firstX + 1, countY = std::floor(maxY / step) - firstY + 1;
        // Far from the origin the board multiples may no longer be told apart; a grid of thousands of lines
        // per style would be an even wash.
        if (!std::isfinite(countX) || !std::isfinite(countY) || countX + countY > OverlayPainter::maxLinesPerStyle)
            return;
        GridStyle lines{color, {}, {}};
        for (double i = 0; i < countX; ++i) {
            const double x = (firstX + i) * step;
            if (x > maxX) break;
            lines.columns.push_back(W / 2 + s * k * (x - camera.center.x));
        }
        for (double i = 0; i < countY; ++i) {
            const double y = (firstY + i) * step;
            if (y > maxY) break;
            lines.rows.push_back(H / 2 - k * (y - camera.center.y));
        }
        styles.push_back(std::move(lines));
    };
    if (steps->minor * k > 7) style(steps->minor, SystemColors::white(0.05));
    style(steps->major, SystemColors::white(0.12));
    return styles;
}

constexpr double kGridLineWidth = 0.5;

// The raster engine's rounding of a colour times an 8-bit factor, every channel at once.
std::uint32_t byteMul(std::uint32_t x, std::uint32_t a) {
    std::uint64_t t = ((std::uint64_t{x} | (std::uint64_t{x} << 24)) & 0x00ff00ff00ff00ffULL) * a;
    t = (t + ((t >> 8) & 0x00ff00ff00ff00ffULL) + 0x0080008000800080ULL) >> 8;
    t &= 0x00ff00ff00ff00ffULL;
    return static_cast<std::uint32_t>(t) | static_cast<std::uint32_t>(t >> 24);
}

// Grid lines written into a premultiplied ARGB32 image as QPainter strokes a line no wider than a pixel
// with antialiasing: each line one pixel wide across two neighbouring rows or columns, its ink shared
// between them by where it lies in 1/64 pixel steps, faded by the pen's width, laid over what earlier
// lines left, line by line in the order they are stroked. Painted this way the grid costs a few
// milliseconds, where the raster engine handed every line's pixels to its thread pool and waited.
class GridWriter {
public:
    GridWriter(QImage& image, const QColor& color, double devicePixelRatio)
        : bits_(reinterpret_cast<std::uint32_t*>(image.bits())),
          stride_(image.bytesPerLine() / 4),
          width_(image.width()),
          height_(image.height()),
          color_(qPremultiply(color.rgba64()).toArgb32()),
          // The raster engine fades a pen thinner than a pixel by its width, in 256ths.
          opacity_(std::clamp(static_cast<int>(256 * kGridLineWidth * devicePixelRatio), 0, 256)) {}

    // A line from the target's edge `length` device pixels long, at `at` device pixels from its left edge
    // (vertical) or its top edge.
    void line(double at, double length, bool vertical) {
        const int across = vertical ? width_ : height_;
        // Lines more than a pixel outside the target are clipped away whole.
        if (at < -1 || at > across + 1) return;
        const int position = (static_cast<int>(at * 64) - 32) * 1024;  // 16.16, on pixel centres
        const int first = position >> 16;
        const int share = (position >> 8) & 0xff;  // of the second pixel
        const int end = static_cast<int>(length * 64);
        const int full = end >> 6;
        for (int along = 0; along <= full; ++along) {
            const int part = along < full ? 64 : (end & 63);  // the last pixel's part of its length
            if (part == 0) break;
            put(vertical, first, along, (255 - share) * part >> 6);
            put(vertical, first + 1, along, share * part >> 6);
        }
    }

private:
    void put(bool vertical, int across, int along, int coverage) {
        const int x = vertical ? across : along, y = vertical ? along : across;
        if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
        const std::uint32_t ink = byteMul(color_, static_cast<std::uint32_t>(coverage * opacity_ >> 8));
        std::uint32_t& pixel = bits_[static_cast<std::size_t>(y) * stride_ + x];
        pixel = ink + byteMul(pixel, 255 - (ink >> 24));
    }

    std::uint32_t* bits_;
    qsizetype stride_;
    int width_, height_;
    std::uint32_t color_;
    int opacity_;
};

// True when the grid was written straight into `image` (premultiplied ARGB32, its own pixel ratio); false
// where the raster engine would stroke the lines another way (a pen wider than a pixel), which is then left
// to it.
bool writeGrid(QImage& image, const QSizeF& size, const CameraState& camera) {
    const double dpr = image.devicePixelRatio();
    if (image.format() != QImage::Format_ARGB32_Premultiplied || !(dpr == 1.0 || dpr == 2.0)) return false;
    for (const GridStyle& style : gridStyles(size, camera)) {
        GridWriter writer(image, style.color, dpr);
        for (double x : style.columns) writer.line(x * dpr, size.height() * dpr, true);
        for (double y : style.rows) writer.line(y * dpr, size.width() * dpr, false);
    }
    return true;
}

} // namespace

void OverlayPainter::drawGrid(QPainter& painter, const QSizeF& size, const CameraState& camera) {
    const double W = size.width(), H = size.height();
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    for (const GridStyle& style : gridStyles(size, camera)) {
        QPainterPath path;
        for (double px : style.columns) {
            path.moveTo(px, 0);
            path.lineTo(px, H);
        }
        for (double py : style.rows) {
            path.moveTo(0, py);
            path.lineTo(W, py);
        }
        painter.setPen(solidPen(style.color, kGridLineWidth));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(path);
    }
    painter.restore();
}

void GridCache::paint(QPainter& painter, const QSizeF& size, const CameraState& camera) {
    const double dpr = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    if (!valid_ || size_ != size || !(camera_ == camera) || devicePixelRatio_ != dpr) {
        const QSize pixels(static_cast<int>(std::ceil(size.width() * dpr)), static_cast<int>(std::ceil(size.height() * dpr)));
        image_ = QImage(pixels, QImage::Format_ARGB32_Premultiplied);
        image_.setDevicePixelRatio(dpr);
        image_.fill(Qt::transparent);
        if (!image_.isNull() && !writeGrid(image_, size, camera)) {
            QPainter p(&image_);
            OverlayPainter::drawGrid(p, size, camera);
        }
        size_ = size;
        camera_ = camera;
        devicePixelRatio_ = dpr;
        valid_ = true;
    }
    if (!image_.isNull()) painter.drawImage(QPointF(0, 0), image_);
}

void OverlayPainter::drawMeasurement(const BoardMeasurement& m, QPainter& painter, const CanvasTransform& vp,
                                     Units /*units: the label already carries them*/, bool provisional) {
    if (!m.p1 || !m.p2) return;
    const QPointF A = vp.toViewPoint(*m.p1), B = vp.toViewPoint(*m.p2);
    if (!CanvasClip::isFinite(A) || !CanvasClip::isFinite(B)) return;
    const QColor color = SystemColors::teal(provisional ? 0.6 : 1.0);
    const QRectF reach = CanvasClip::reach(QRectF(0, 0, vp.viewWidth(), vp.viewHeight()));

    const QPointF d = B - A;
    const double L = std::max(std::sqrt(d.x() * d.x() + d.y() * d.y()), 1.0);
    const QPointF n(-d.y() * 5 / L, d.x() * 5 / L);
    SegmentPath path(reach);
    path.add(A, B);
    path.add(A - n, A + n);
    path.add(B - n, B + n);
    path.stroke(painter, solidPen(color, 1.25));

    if (m.label.empty()) return;
    const QPointF T((A.x() + B.x()) / 2 + 8, (A.y() + B.y()) / 2 - 8);
    drawLabel(painter, T, m.label, labelFont(11, QFont::Medium), color, reach);
}

void OverlayPainter::drawAnnotation(const Annotation& a, QPainter& painter, const CanvasTransform& vp) {
    const QColor color = annotationColor(a.colorIndex);
    const QPointF P1 = vp.toViewPoint(a.p1);
    const QRectF reach = CanvasClip::reach(QRectF(0, 0, vp.viewWidth(), vp.viewHeight()));
    switch (a.kind) {
    case Annotation::Kind::arrow: {
        if (!a.p2) return;
        const QPointF P2 = vp.toViewPoint(*a.p2);
        if (!CanvasClip::isFinite(P1) || !CanvasClip::isFinite(P2)) return;
        const QPointF d = P2 - P1;
        const double len = std::max(std::sqrt(d.x() * d.x() + d.y() * d.y()), 1.0);
        const QPointF u = d / len, w(-u.y(), u.x());
        SegmentPath path(reach);
        path.add(P1, P2);
        path.add(P2, P2 - 12 * u + 6 * w);
        path.add(P2, P2 - 12 * u - 6 * w);
        path.stroke(painter, solidPen(color, 2));
        return;
    }
    case Annotation::Kind::rectangle: {
        if (!a.p2) return;
        strokeRect(painter, normalizedRect(P1, vp.toViewPoint(*a.p2)), solidPen(color, 2), reach);
        return;
    }
    case Annotation::Kind::text:
        drawLabel(painter, QPointF(P1.x() + 4, P1.y() - 16), a.text, labelFont(12, QFont::Bold), color, reach);
        return;
    }
}

void OverlayPainter::draw(QPainter& painter, const QSizeF& size, const CameraState& camera, const AppModel& model,
                          bool isExport, GridCache* gridCache) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    const CanvasTransform vp(size, camera);
    const double W = size.width(), H = size.height();
    const QRectF reach = CanvasClip::reach(QRectF(0, 0, W, H));

    if (model.showGrid() && !isExport) {
        if (gridCache)
            gridCache->paint(painter, size, camera);
        else
            drawGrid(painter, size, camera);
    }

    if (model.showOrigin() && !isExport) {
        const QPointF O = vp.toViewPoint(Vec2::zero());
        if (CanvasClip::isFinite(O)) {
            SegmentPath cross(reach);
            cross.add(QPointF(O.x() - 7, O.y()), QPointF(O.x() + 7, O.y()));
            cross.add(QPointF(O.x(), O.y() - 7), QPointF(O.x(), O.y() + 7));
            const QPen pen = solidPen(SystemColors::yellow(0.9), 1);
            cross.stroke(painter, pen);
            if (reach.contains(O)) {
                painter.setPen(pen);
                painter.drawEllipse(O, 4.0, 4.0);
            }
        }
    }

    if (const auto& package = model.package()) {
        const BBox board = package->boardBBox();
        if (board.isValid())
            strokeRect(painter, boxOnScreen(board, vp), dashedPen(SystemColors::red(0.65), 1, 4, 4, 0), reach);
    }

    for (const auto& m : model.measurements()) drawMeasurement(m, painter, vp, model.units(), false);

    if (model.pendingMeasureAnchor() && model.cursorWorld()) {
        const Vec2 anchor = *model.pendingMeasureAnchor(), cursor = *model.cursorWorld();
        const QPointF A = vp.toViewPoint(anchor), C = vp.toViewPoint(cursor);
        SegmentPath guide(reach);
        if (model.tool() == Tool::measureX) {
            guide.add(A, QPointF(C.x(), A.y()));
            guide.add(QPointF(A.x(), A.y() - 6), QPointF(A.x(), A.y() + 6));
            guide.add(QPointF(C.x(), C.y() - 6), QPointF(C.x(), C.y() + 6));
        } else if (model.tool() == Tool::measureY) {
            guide.add(A, QPointF(A.x(), C.y()));
            guide.add(QPointF(A.x() - 6, A.y()), QPointF(A.x() + 6, A.y()));
            guide.add(QPointF(C.x() - 6, C.y()), QPointF(C.x() + 6, C.y()));
        } else {
            guide.add(A, C);
        }
        guide.stroke(painter, solidPen(SystemColors::teal(0.5), 0.75));
        const BoardMeasurement provisional =
            model.measureEngine().distanceMeasurement(anchor, cursor, kindForTool(model.tool()), model.units());
        drawMeasurement(provisional, painter, vp, model.units(), true);
    }

    for (const auto& a : model.annotations()) drawAnnotation(a, painter, vp);
    if (const auto& preview = model.pendingAnnotationPreview()) drawAnnotation(*preview, painter, vp);

    if (const auto& hit = model.selection())
        strokeRect(painter, boxOnScreen(hit->object.bbox, vp), dashedPen(SystemColors::cyan(), 1.5, 3, 3, 2), reach);

    if (const auto& located = model.locatedPoint())
        drawLocatedMark(painter, vp.toViewPoint(*located), reach,
                        locatedInnerRadius(model.locatedObjectBox(), camera.pxPerMM, QSizeF(W, H)));

    if (const auto& change = model.compareHighlight())
        strokeRect(painter, boxOnScreen(change->bbox, vp).adjusted(-4, -4, 4, 4), solidPen(SystemColors::yellow(), 2),
                   reach);

    if (model.showCrosshair() && !isExport && model.cursorWorld()) {
        const QPointF P = vp.toViewPoint(*model.cursorWorld());
        SegmentPath cross(reach);
        cross.add(QPointF(0, P.y()), QPointF(W, P.y()));
        cross.add(QPointF(P.x(), 0), QPointF(P.x(), H));
        cross.stroke(painter, solidPen(SystemColors::white(0.28), 0.5));
    }
    painter.restore();
}

} // namespace corvane
