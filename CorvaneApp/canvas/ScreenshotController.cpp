#include "canvas/ScreenshotController.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <thread>

#include <QClipboard>
#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QMimeData>
#include <QPainterPath>
#include <QPen>

#include "canvas/CanvasClip.hpp"
#include "canvas/OverlayPainter.hpp"
#include "canvas/SystemColors.hpp"
#include "import/PackageImporter.hpp"
#include "model/AppModel.hpp"
#include "model/ParallelFor.hpp"
#include "render/RasterImage.hpp"

namespace corvane {

namespace {

// Sizes a painted image may have; QImage refuses more, and a screenshot this large is a mistake.
constexpr double kMaxImageSide = 32767;

// The primitives of one file without copying a Gerber document's list.
class FileObjects {
public:
    explicit FileObjects(const PackageFile& file) : file_(file) {
        if (!(file.gerber && !file.drill)) owned_ = file.objects();
    }
    std::span<const PCBObject> view() const {
        if (file_.gerber && !file_.drill) return file_.gerber->objects;
        return owned_;
    }

private:
    const PackageFile& file_;
    std::vector<PCBObject> owned_;
};

double apertureWidth(ShapeRef shape) {
    return shape ? shape->strokeNominalWidth() : 0.2;
}

class LayerPainter {
public:
    LayerPainter(QPainter& painter, const CanvasTransform& t, double pxScale, const QColor& color,
                 const GeometryEngine& geom, bool cutEverything, const QRectF& target)
        : painter_(painter), t_(t), p_(pxScale), color_(color), geom_(geom), cutEverything_(cutEverything),
          target_(target) {}

    void draw(const PCBObject& obj) {
        const bool erase = cutEverything_ || obj.polarity == Polarity::clear;
        if (!touchesTarget(obj.bbox)) return;
        setErasing(erase);
        const QColor& ink = erase ? eraseInk_ : color_;
        if (const auto* s = obj.kind.as<PCBObjectKind::Stroke>()) {
            line(s->start, s->end, apertureWidth(obj.apertureShape), ink);
        } else if (const auto* a = obj.kind.as<PCBObjectKind::ArcStroke>()) {
            arc(*a, apertureWidth(obj.apertureShape), ink);
        } else if (const auto* f = obj.kind.as<PCBObjectKind::Flash>()) {
            flash(f->at, obj.apertureShape, ink);
        } else if (const auto* r = obj.kind.as<PCBObjectKind::Region>()) {
            for (const auto& contour : r->contours) polygon(contour, Vec2::zero(), ink);
        } else if (const auto* d = obj.kind.as<PCBObjectKind::Drill>()) {
            disc(d->at, d->diameterMM, ink);
        } else if (const auto* sl = obj.kind.as<PCBObjectKind::Slot>()) {
            line(sl->start, sl->end, sl->diameterMM, ink);
        }
    }

private:
    QPointF map(const Vec2& v) const { return t_.toViewPoint(v); }

    // The object's box, mapped, against the target grown by the narrowest line; a box that is not valid
    // draws nothing anyway.
    bool touchesTarget(const BBox& b) const {
        if (!b.isValid()) return false;
        const QPointF a = map(Vec2{b.minX, b.minY}), c = map(Vec2{b.maxX, b.maxY});
        if (!CanvasClip::isFinite(a) || !CanvasClip::isFinite(c)) return false;
        const double lx = std::min(a.x(), c.x()), hx = std::max(a.x(), c.x());
        const double ly = std::min(a.y(), c.y()), hy = std::max(a.y(), c.y());
        return !(hx < target_.left() - 1 || lx > target_.right() + 1 || hy < target_.top() - 1 ||
                 ly > target_.bottom() + 1);
    }

    void setErasing(bool erase) {
        if (erase == erasing_) return;
        painter_.setCompositionMode(erase ? QPainter::CompositionMode_Clear : QPainter::CompositionMode_SourceOver);
        erasing_ = erase;
    }

    void usePen(double widthPx, const QColor& color) {
        if (penSet_ && widthPx == penWidth_ && color == penColor_) return;
        QPen pen(color, widthPx);
        pen.setCapStyle(Qt::RoundCap);
        pen.setJoinStyle(Qt::RoundJoin);
        painter_.setPen(pen);
        painter_.setBrush(Qt::NoBrush);
        penSet_ = true;
        penWidth_ = widthPx;
        penColor_ = color;
    }

    void useFill(const QColor& color) {
        painter_.setPen(Qt::NoPen);
        painter_.setBrush(color);
        penSet_ = false;
    }

    void line(const Vec2& start, const Vec2& end, double widthMM, const QColor& color) {
        const double w = std::max(p_ * widthMM, 1.0);
        if (!std::isfinite(w)) return;
        QPointF a = map(start), b = map(end);
        if (!CanvasClip::clipSegment(a, b, CanvasClip::reach(target_, w + 2))) return;
        usePen(w, color);
        if (a == b) {
            // A zero-length line with round caps is its cap: a disc of the line width.
            useFill(color);
            painter_.drawEllipse(a, w / 2, w / 2);
            return;
        }
        painter_.drawLine(a, b);
    }

    void arc(const PCBObjectKind::ArcStroke& a, double widthMM, const QColor& color) {
        const double w = std::max(p_ * widthMM, 1.0);
        if (!std::isfinite(w)) return;
        arcPoints_.clear();
        arcPoints_.push_back(a.start);
        geom_.sampleArc(a.start, a.end, a.center, a.clockwise, arcPoints_);
        const QRectF reach = CanvasClip::reach(target_, w + 2);
        QPainterPath path;
        bool inside = true;
        for (std::size_t i = 0; i < arcPoints_.size(); ++i) {
            const QPointF q = map(arcPoints_[i]);
            if (!CanvasClip::isFinite(q)) return;
            inside = inside && reach.contains(q);
            if (i == 0)
                path.moveTo(q);
            else
                path.lineTo(q);
        }
        if (inside) {
            usePen(w, color);
            painter_.drawPath(path);
            return;
        }
        // An arc reaching far off the target is drawn piece by piece, each piece cut to the target.
        for (std::size_t i = 0; i + 1 < arcPoints_.size(); ++i) line(arcPoints_[i], arcPoints_[i + 1], widthMM, color);
    }

    void disc(const Vec2& at, double diameterMM, const QColor& color) {
        const double r = std::abs(diameterMM) * 0.5 * p_;
        const QPointF c = map(at);
        if (!std::isfinite(r) || !CanvasClip::isFinite(c)) return;
        useFill(color);
        painter_.drawEllipse(c, r, r);
    }

    void polygon(const Contour& contour, const Vec2& offset, const QColor& color) {
        if (contour.size() < 3) return;
        QPainterPath path;
        path.setFillRule(Qt::WindingFill);
        for (std::size_t i = 0; i < contour.size(); ++i) {
            const QPointF q = map(contour[i] + offset);
            if (!CanvasClip::isFinite(q)) return;
            if (i == 0)
                path.moveTo(q);
            else
                path.lineTo(q);
        }
        path.closeSubpath();
        useFill(color);
        painter_.drawPath(path);
    }

    void flash(const Vec2& at, ShapeRef shape, const QColor& color) {
        if (!shape) return disc(at, 0.2, color);
        if (const auto* r = shape->as<ApertureShape::Rectangle>()) {
            const double w = std::abs(r->width) * p_, h = std::abs(r->height) * p_;
            const QPointF c = map(at);
            if (!std::isfinite(w) || !std::isfinite(h) || !CanvasClip::isFinite(c)) return;
            useFill(color);
            painter_.drawRect(QRectF(c.x() - w / 2, c.y() - h / 2, w, h));
            return;
        }
        if (const auto* o = shape->as<ApertureShape::Obround>()) {
            // A rectangle whose corners are rounded by half its short side: straight sides, round ends.
            const double w = std::abs(o->width) * p_, h = std::abs(o->height) * p_;
            const QPointF c = map(at);
            if (!std::isfinite(w) || !std::isfinite(h) || !CanvasClip::isFinite(c)) return;
            QPainterPath path;
            path.addRoundedRect(QRectF(c.x() - w / 2, c.y() - h / 2, w, h), std::min(w, h) / 2, std::min(w, h) / 2);
            useFill(color);
            painter_.drawPath(path);
            return;
        }
        if (const auto* p = shape->as<ApertureShape::Polygon>()) {
            corners_.clear();
            GeometryEngine::polygonCorners(at, *p, corners_);
            return polygon(corners_, Vec2::zero(), color);
        }
        if (const auto* m = shape->as<ApertureShape::Macro>()) {
            if (m->outline && !m->outline->empty()) {
                for (const auto& contour : *m->outline) polygon(contour, at, color);
                return;
            }
        }
        disc(at, shape->boundingDiameter(), color);
    }

    QPainter& painter_;
    const CanvasTransform& t_;
    double p_;
    QColor color_;
    QColor eraseInk_ = SystemColors::black();  // any opaque colour: the clear mode ignores it
    const GeometryEngine& geom_;
    bool cutEverything_;
    QRectF target_;
    bool erasing_ = false;
    bool penSet_ = false;
    double penWidth_ = 0;
    QColor penColor_;
    std::vector<Vec2> arcPoints_;
    std::vector<Vec2> corners_;
};

// `target` is the part of the view (logical units) that can receive paint; objects wholly outside it are
// skipped.
void drawObjects(std::span<const PCBObject> objects, QPainter& painter, const CanvasTransform& transform,
                 double pxScale, const QColor& color, const GeometryEngine& geom, bool cutEverything,
                 const QRectF& target) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    LayerPainter layer(painter, transform, pxScale, color, geom, cutEverything, target);
    for (const auto& obj : objects) layer.draw(obj);
    painter.restore();
}

// The layer colour in sRGB with the layer's opacity; white when the colour cannot be converted.
QColor layerColor(const QColor& color, double opacity) {
    QColor c = color.isValid() ? color.toRgb() : QColor(Qt::white);
    c.setAlphaF(static_cast<float>(std::clamp(std::isfinite(opacity) ? opacity : 1.0, 0.0, 1.0)));
    return c;
}

} // namespace

GeometryEngine ScreenshotController::geometry(double pxPerMM) { return GeometryEngine::forDrawing(pxPerMM); }

void ScreenshotController::drawLayer(std::span<const PCBObject> objects, QPainter& painter,
                                     const CanvasTransform& transform, double pxScale, const QColor& color,
                                     const GeometryEngine& geom) {
    drawObjects(objects, painter, transform, pxScale, color, geom, false,
                QRectF(0, 0, transform.viewWidth(), transform.viewHeight()));
}

namespace {

// Rows [firstRow, firstRow + rows) of a target, painted by one thread: a view on the target's own pixels, so
// the bands together fill the whole image without copying.
struct Band {
    QImage view;
    QImage scratch;
    QRectF logical;  // the band in the target's logical coordinates
};

void paintBand(Band& band, const QSizeF& size, const CameraState& camera,
               const std::vector<ScreenshotController::LayerJob>& jobs) {
    const CanvasTransform transform(size, camera);
    const GeometryEngine geom = ScreenshotController::geometry(camera.pxPerMM * band.view.devicePixelRatio());
    QPainter painter(&band.view);
    painter.translate(0, -band.logical.top());
    for (const auto& job : jobs) {
        const bool erases = job.negativePlane || std::any_of(job.objects.begin(), job.objects.end(), [](const PCBObject& o) {
                                return o.polarity == Polarity::clear;
                            });
        if (!erases) {
            // Laying the objects straight onto the target gives the same picture: nothing in the layer erases.
            drawObjects(job.objects, painter, transform, camera.pxPerMM, job.color, geom, false, band.logical);
            continue;
        }
        if (band.scratch.size() != band.view.size()) {
            band.scratch = QImage(band.view.size(), band.view.format());
            band.scratch.setDevicePixelRatio(band.view.devicePixelRatio());
        }
        if (band.scratch.isNull()) continue;
        band.scratch.fill(Qt::transparent);
        {
            QPainter p(&band.scratch);
            p.translate(0, -band.logical.top());
            if (job.negativePlane) {
                const BBox& box = *job.negativePlane;
                const QRectF plane = QRectF(transform.toViewPoint(Vec2{box.minX, box.maxY}), transform.toViewPoint(Vec2{box.maxX, box.minY}))
                                         .normalized()
                                         .intersected(CanvasClip::reach(band.logical, 4));
                p.fillRect(plane, job.color);
            }
            drawObjects(job.objects, p, transform, camera.pxPerMM, job.color, geom, job.negativePlane.has_value(),
                        band.logical);
        }
        painter.drawImage(QPointF(0, band.logical.top()), band.scratch);
    }
}

} // namespace

void ScreenshotController::paintLayerJobs(QImage& target, const QSizeF& size, const CameraState& camera,
                                          const std::vector<LayerJob>& jobs) {
    if (target.isNull() || jobs.empty()) return;
    if (target.format() != QImage::Format_ARGB32_Premultiplied && target.format() != QImage::Format_RGBA8888_Premultiplied)
        target = target.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const double dpr = target.devicePixelRatio();
    // Each band walks every object but paints only what reaches it; rasterising dominates, so a few bands
    // per core keep the work even where the board is dense in one part of the view.
    const unsigned threads = defaultWorkerCount();
    const int bandCount = 3 * static_cast<int>(threads);
    const int rowsPerBand = std::max(32, (target.height() + bandCount - 1) / bandCount);
    std::vector<Band> bands;
    for (int y = 0; y < target.height(); y += rowsPerBand) {
        const int rows = std::min(rowsPerBand, target.height() - y);
        Band band;
        band.view = QImage(target.scanLine(y), target.width(), rows, target.bytesPerLine(), target.format());
        band.view.setDevicePixelRatio(dpr);
        band.logical = QRectF(0, y / dpr, size.width(), rows / dpr);
        bands.push_back(std::move(band));
    }
    parallelFor(bands.size(), [&](std::size_t i) { paintBand(bands[i], size, camera, jobs); }, threads);
}

void ScreenshotController::paintLayers(QImage& target, const QSizeF& size, const CameraState& camera,
                                       const AppModel& model) {
    const auto& package = model.package();
    if (!package) return;
    const std::vector<std::size_t> order = model.filesInDrawingOrder(camera.mirrored);
    const auto& states = model.layerStates();
    const auto& solo = model.soloSet();
    // Solo ids of layers that are gone are ignored, as the GPU canvas ignores them.
    const bool soloActive =
        std::any_of(states.begin(), states.end(), [&](const LayerState& s) { return solo.count(s.id) > 0; });
    std::vector<std::unique_ptr<FileObjects>> objects;
    std::vector<LayerJob> jobs;
    for (std::size_t i : order) {
        const PackageFile& file = package->files[i];
        const auto state = std::find_if(states.begin(), states.end(), [&](const LayerState& s) { return s.id == file.fileName; });
        if (state == states.end() || !state->visible) continue;
        if (soloActive && !solo.count(state->id)) continue;
        LayerJob job;
        if (AppModel::isNegativePlane(file)) job.negativePlane = AppModel::negativePlaneBox(*package, file);
        objects.push_back(std::make_unique<FileObjects>(file));
        job.objects = objects.back()->view();
        job.color = layerColor(state->color, state->opacity);
        jobs.push_back(std::move(job));
    }
    paintLayerJobs(target, size, camera, jobs);
}

void ScreenshotController::paintCompare(QImage& target, const QSizeF& size, const CameraState& camera,
                                        const AppModel& model) {
    const QColor same = QColor::fromRgbF(0.55f, 0.55f, 0.55f, 0.55f);
    const QColor removed = SystemColors::red(0.95);
    const QColor added = SystemColors::green(0.95);
    std::vector<std::shared_ptr<const CompareGroups>> groups;  // keeps the objects alive while painting
    std::vector<LayerJob> jobs;
    for (const std::string& key : model.compareKeysInDrawingOrder(camera.mirrored)) {
        auto g = model.compareGroupsFor(key);
        if (!g) continue;
        jobs.push_back({g->same, same, std::nullopt});
        jobs.push_back({g->removed, removed, std::nullopt});
        jobs.push_back({g->added, added, std::nullopt});
        groups.push_back(std::move(g));
    }
    paintLayerJobs(target, size, camera, jobs);
}

QString ScreenshotController::caption(const AppModel& model) {
    const auto names = model.revisionNames();
    std::string subject = names[1];
    if (model.compareDiff() && model.compareBase()) subject = names[0] + " \u2192 " + names[1];
    return QString::fromUtf8(captionPrefix) + QString::fromStdString(subject);
}

std::optional<QImage> ScreenshotController::makeImage(const AppModel& model, double scale) {
    const auto& package = model.package();
    if (!package) return std::nullopt;
    const QSizeF canvas = model.canvasSize();
    if (!(canvas.width() > 2) || !(canvas.height() > 2) || !(scale > 0)) return std::nullopt;
    const double wd = std::trunc(canvas.width() * scale), hd = std::trunc(canvas.height() * scale);
    if (!(wd >= 1 && hd >= 1 && wd <= kMaxImageSide && hd <= kMaxImageSide)) return std::nullopt;
    const int w = static_cast<int>(wd), h = static_cast<int>(hd);

    QImage image(w, h, QImage::Format_RGBA8888_Premultiplied);
    if (image.isNull()) return std::nullopt;
    image.fill(SystemColors::canvasBackground());

    CameraState camera = model.camera();
    camera.pxPerMM *= scale;
    const QSizeF size(w, h);
    if (model.compareDiff() && model.compareBase())
        paintCompare(image, size, camera, model);
    else
        paintLayers(image, size, camera, model);

    QPainter painter(&image);
    OverlayPainter::draw(painter, size, camera, model, true);

    QFont font = QGuiApplication::font();
    font.setPixelSize(13);
    font.setWeight(QFont::Medium);
    const QString caption = ScreenshotController::caption(model);
    const double captionHeight = QFontMetricsF(font).tightBoundingRect(caption).height();
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    painter.setFont(font);
    painter.setPen(SystemColors::white(0.55));
    painter.drawText(QPointF(12, h - captionHeight - 10), caption);
    painter.end();
    return image;
}

std::optional<std::vector<std::uint8_t>> ScreenshotController::pngData(const QImage& image) {
    // The core's pictures are premultiplied native ARGB32, as this format is.
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (argb.isNull()) return std::nullopt;
    const auto width = static_cast<std::size_t>(argb.width());
    auto pixels = std::make_shared<std::vector<std::uint32_t>>(width * static_cast<std::size_t>(argb.height()));
    for (int y = 0; y < argb.height(); ++y)
        std::memcpy(pixels->data() + static_cast<std::size_t>(y) * width, argb.constScanLine(y), width * 4);
    return RasterImage{argb.width(), argb.height(), std::move(pixels)}.pngData();
}

std::optional<QImage> ScreenshotController::copyScreenshot(AppModel& model) {
    auto image = makeImage(model, 2.0);
    if (!image) return std::nullopt;
    model.setLastScreenshot(*image);
    auto* data = new QMimeData;
    data->setImageData(*image);
    if (const auto png = pngData(*image))
        data->setData(QStringLiteral("image/png"),
                      QByteArray(reinterpret_cast<const char*>(png->data()), static_cast<qsizetype>(png->size())));
    if (QClipboard* clipboard = QGuiApplication::clipboard()) clipboard->setMimeData(data);
    else delete data;
    return image;
}

} // namespace corvane
