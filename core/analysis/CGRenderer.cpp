#include "CGRenderer.hpp"

#include <algorithm>
#include <cairo.h>
#include <cmath>
#include <cstring>
#include <vector>

#include "import/PackageImporter.hpp"
#include "model/GeometryEngine.hpp"

namespace corvane {

RGBAColor CGRenderer::defaultColor(const LayerType& type) {
    switch (type.value.index()) {
    case 0: {
        const auto& side = std::get<LayerType::Copper>(type.value).side;
        if (side.as<CopperLayerID::Top>()) return {0.95, 0.62, 0.18, 1.0};
        if (side.as<CopperLayerID::Bottom>()) return {0.3, 0.62, 0.95, 1.0};
        return {0.8, 0.42, 0.95, 1.0};
    }
    case 1: return {0.1, 0.65, 0.35, 0.55};
    case 2: return {0.95, 0.95, 0.95, 0.9};
    case 3: return {0.85, 0.85, 0.88, 0.8};
    case 4: return {1.0, 0.35, 0.35, 1.0};
    case 5: return {0.05, 0.05, 0.05, 1.0};
    default: return {0.6, 0.6, 0.6, 1.0};
    }
}

namespace {

// Cairo's 24.8 fixed-point coordinates wrap far outside the image; anything beyond this is culled.
constexpr double kCoordLimit = 4.0e6;

struct Mapper {
    double s, offX, offY, W, H, minX, minY;
    bool flipX;
    double X(double x) const {
        const double v = offX + s * (x - minX);
        return flipX ? W - v : v;
    }
    double Y(double y) const { return H - offY - s * (y - minY); }
};

struct Painter {
    cairo_t* cr;
    const Mapper& m;
    RGBAColor fill;
    RGBAColor stroke;

    void source(const RGBAColor& c) { cairo_set_source_rgba(cr, c.r, c.g, c.b, c.a); }

    // Whether a board-space box, once mapped, can touch the image at all.
    bool visible(const BBox& b) const {
        if (!b.isValid()) return true;  // let empty geometry through; it draws nothing
        const double xs[2] = {m.X(b.minX), m.X(b.maxX)};
        const double ys[2] = {m.Y(b.minY), m.Y(b.maxY)};
        for (double v : {xs[0], xs[1], ys[0], ys[1]})
            if (!std::isfinite(v)) return false;
        const double lx = std::min(xs[0], xs[1]), hx = std::max(xs[0], xs[1]);
        const double ly = std::min(ys[0], ys[1]), hy = std::max(ys[0], ys[1]);
        if (hx < -kCoordLimit || lx > kCoordLimit || hy < -kCoordLimit || ly > kCoordLimit) return false;
        return !(hx < 0 || lx > m.W || hy < 0 || ly > m.H);
    }

    void lineWidth(double widthMM) { cairo_set_line_width(cr, std::max(widthMM * m.s, 1.0)); }

    void circle(const Vec2& c, double diameter) {
        if (!std::isfinite(diameter)) return;
        cairo_new_path(cr);
        cairo_arc(cr, m.X(c.x), m.Y(c.y), std::abs(diameter) * 0.5 * m.s, 0, 2 * M_PI);
        source(fill);
        cairo_fill(cr);
    }

    void polygonFill(const std::vector<Vec2>& pts, const Vec2& offset) {
        if (pts.size() < 3) return;
        cairo_new_path(cr);
        cairo_move_to(cr, m.X(pts[0].x + offset.x), m.Y(pts[0].y + offset.y));
        for (std::size_t i = 1; i < pts.size(); ++i) cairo_line_to(cr, m.X(pts[i].x + offset.x), m.Y(pts[i].y + offset.y));
        cairo_close_path(cr);
        cairo_set_fill_rule(cr, CAIRO_FILL_RULE_WINDING);
        source(fill);
        cairo_fill(cr);
    }

    void draw(const PCBObject& obj, const GeometryEngine& engine) {
        if (!visible(obj.bbox)) return;
        const double w = obj.apertureShape ? obj.apertureShape->strokeNominalWidth() : 0.2;
        if (const auto* s = obj.kind.as<PCBObjectKind::Stroke>()) {
            if (!std::isfinite(w)) return;
            lineWidth(w);
            cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
            cairo_new_path(cr);
            cairo_move_to(cr, m.X(s->start.x), m.Y(s->start.y));
            cairo_line_to(cr, m.X(s->end.x), m.Y(s->end.y));
            source(stroke);
            cairo_stroke(cr);
        } else if (const auto* a = obj.kind.as<PCBObjectKind::ArcStroke>()) {
            if (!std::isfinite(w)) return;
            lineWidth(w);
            cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
            cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
            cairo_new_path(cr);
            cairo_move_to(cr, m.X(a->start.x), m.Y(a->start.y));
            for (const auto& p : engine.sampleArc(a->start, a->end, a->center, a->clockwise))
                cairo_line_to(cr, m.X(p.x), m.Y(p.y));
            source(stroke);
            cairo_stroke(cr);
        } else if (const auto* f = obj.kind.as<PCBObjectKind::Flash>()) {
            flash(f->at, obj.apertureShape);
        } else if (const auto* r = obj.kind.as<PCBObjectKind::Region>()) {
            for (const auto& contour : r->contours) polygonFill(contour, Vec2{0, 0});
        } else if (const auto* d = obj.kind.as<PCBObjectKind::Drill>()) {
            fill = CGRenderer::holeColor;
            circle(d->at, d->diameterMM);
        } else if (const auto* sl = obj.kind.as<PCBObjectKind::Slot>()) {
            if (!std::isfinite(sl->diameterMM)) return;
            stroke = CGRenderer::holeColor;
            lineWidth(sl->diameterMM);
            cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
            cairo_new_path(cr);
            cairo_move_to(cr, m.X(sl->start.x), m.Y(sl->start.y));
            cairo_line_to(cr, m.X(sl->end.x), m.Y(sl->end.y));
            source(stroke);
            cairo_stroke(cr);
        }
    }

    void flash(const Vec2& at, const std::optional<ApertureShape>& shape) {
        if (!shape) return circle(at, 0.2);
        if (const auto* c = shape->as<ApertureShape::Circle>()) return circle(at, c->diameter);
        if (const auto* r = shape->as<ApertureShape::Rectangle>()) {
            if (!std::isfinite(r->width) || !std::isfinite(r->height)) return;
            const double x0 = m.X(at.x - r->width / 2), x1 = m.X(at.x + r->width / 2);
            const double y0 = m.Y(at.y - r->height / 2), y1 = m.Y(at.y + r->height / 2);
            cairo_new_path(cr);
            cairo_rectangle(cr, std::min(x0, x1), std::min(y0, y1), std::abs(x1 - x0), std::abs(y1 - y0));
            source(fill);
            cairo_fill(cr);
            return;
        }
        if (const auto* o = shape->as<ApertureShape::Obround>()) {
            const double rw = std::abs(o->width) * 0.5 * m.s, rh = std::abs(o->height) * 0.5 * m.s;
            if (!std::isfinite(rw) || !std::isfinite(rh) || rw <= 0 || rh <= 0) return;
            cairo_save(cr);
            cairo_new_path(cr);
            cairo_translate(cr, m.X(at.x), m.Y(at.y));
            cairo_scale(cr, rw, rh);
            cairo_arc(cr, 0, 0, 1, 0, 2 * M_PI);
            cairo_restore(cr);
            source(fill);
            cairo_fill(cr);
            return;
        }
        if (const auto* p = shape->as<ApertureShape::Polygon>()) return circle(at, p->diameter);
        if (const auto* mac = shape->as<ApertureShape::Macro>()) {
            if (mac->outline && !mac->outline->empty()) {
                for (const auto& contour : *mac->outline) polygonFill(contour, at);
                return;
            }
            return circle(at, mac->boundingDiameter);
        }
    }
};

} // namespace

std::optional<RasterImage> CGRenderer::render(const PCBPackage& package, SizePx sizePx,
                                              const std::optional<std::set<std::string>>& visibleFileNames,
                                              bool flipX) {
    const BBox box = package.boardBBox();
    const double W = sizePx.width, H = sizePx.height;
    if (!box.isValid() || !(W > 4) || !(H > 4)) return std::nullopt;
    const double bw = std::max(0.0, box.maxX - box.minX);
    const double bh = std::max(0.0, box.maxY - box.minY);
    const double s = std::min(W / (bw + 4), H / (bh + 4));
    pxScale = s;
    if (!std::isfinite(W) || !std::isfinite(H) || W > 32767 || H > 32767 || !std::isfinite(s)) return std::nullopt;

    const int iw = static_cast<int>(W), ih = static_cast<int>(H);
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, iw, ih);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(surface);
        return std::nullopt;
    }
    cairo_t* cr = cairo_create(surface);
    cairo_set_source_rgba(cr, background.r, background.g, background.b, background.a);
    cairo_rectangle(cr, 0, 0, W, H);
    cairo_fill(cr);

    const Mapper mapper{s, (W - s * bw) / 2, (H - s * bh) / 2, W, H, box.minX, box.minY, flipX};
    std::vector<const PackageFile*> order;
    order.reserve(package.files.size());
    for (const auto& f : package.files) order.push_back(&f);
    std::stable_sort(order.begin(), order.end(), [](const PackageFile* a, const PackageFile* b) {
        return PackageImporter::layerOrder(a->layerType) < PackageImporter::layerOrder(b->layerType);
    });

    const GeometryEngine engine;
    for (const PackageFile* file : order) {
        if (visibleFileNames && !visibleFileNames->count(file->fileName)) continue;
        const RGBAColor color = defaultColor(file->layerType);
        Painter painter{cr, mapper, color, color};
        // Each file is composed on its own so that clear primitives cut only this layer's copper.
        cairo_push_group(cr);
        auto drawOne = [&](const PCBObject& obj) {
            if (obj.polarity == Polarity::clear) {
                cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
                const RGBAColor keepFill = painter.fill, keepStroke = painter.stroke;
                painter.draw(obj, engine);
                painter.fill = keepFill;
                painter.stroke = keepStroke;
                cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
            } else {
                painter.draw(obj, engine);
            }
        };
        if (file->gerber)
            for (const auto& obj : file->gerber->objects) drawOne(obj);
        if (file->drill)
            for (const auto& obj : file->drill->objectsAsPCB()) drawOne(obj);
        cairo_pop_group_to_source(cr);
        cairo_paint(cr);
    }
    cairo_destroy(cr);
    cairo_surface_flush(surface);

    auto pixels = std::make_shared<std::vector<std::uint32_t>>(static_cast<std::size_t>(iw) * ih);
    const int stride = cairo_image_surface_get_stride(surface);
    const unsigned char* data = cairo_image_surface_get_data(surface);
    for (int y = 0; y < ih; ++y)
        std::memcpy(pixels->data() + static_cast<std::size_t>(y) * iw, data + static_cast<std::size_t>(y) * stride,
                    static_cast<std::size_t>(iw) * 4);
    cairo_surface_destroy(surface);
    return RasterImage{iw, ih, std::move(pixels)};
}

} // namespace corvane
