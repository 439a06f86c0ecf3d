#include "CGRenderer.hpp"

#include <algorithm>
#include <cairo.h>
#include <cmath>
#include <cstring>
#include <vector>

#include "LayerDrawOrder.hpp"
#include "model/GeometryEngine.hpp"
#include "model/ParallelFor.hpp"

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

// Draws one file's primitives. Consecutive primitives that paint alike (same operation, colour,
// width and operator) go into one path and one fill or stroke: for an opaque colour, or for the
// clearing operator, painting their union once gives the same pixels as painting each in turn, and
// it is many times faster on layers of a million tracks. Translucent colours are painted one by one
// so overlaps darken as they would primitive by primitive.
struct Painter {
    cairo_t* cr;        // fills
    cairo_t* crStroke;  // strokes: a second context on the same surface keeps its own path
    const Mapper& m;
    RGBAColor fill;
    RGBAColor stroke;
    bool clearing = false;

    enum class Op { fill, stroke };
    struct Pending {
        bool active = false;
        RGBAColor color;
        double width = 0;
        bool clearing = false;
        int count = 0;
    };
    // Cairo's rasteriser slows down on paths of very many pieces; a few hundred per paint is the sweet spot.
    static constexpr int kBatchLimit = 64;
    Pending pendingFill, pendingStroke;

    void flush(Op op) {
        Pending& p = op == Op::fill ? pendingFill : pendingStroke;
        if (!p.active) return;
        cairo_t* c = op == Op::fill ? cr : crStroke;
        cairo_set_operator(c, p.clearing ? CAIRO_OPERATOR_CLEAR : CAIRO_OPERATOR_OVER);
        cairo_set_source_rgba(c, p.color.r, p.color.g, p.color.b, p.color.a);
        if (op == Op::fill) {
            cairo_set_fill_rule(c, CAIRO_FILL_RULE_WINDING);
            cairo_fill(c);
        } else {
            cairo_set_line_width(c, p.width);
            cairo_set_line_cap(c, CAIRO_LINE_CAP_ROUND);
            cairo_set_line_join(c, CAIRO_LINE_JOIN_ROUND);
            cairo_stroke(c);
        }
        p.active = false;
    }
    void flush() {
        flush(Op::fill);
        flush(Op::stroke);
    }

    // Prepares the path of `op` for one more primitive. Opaque or clearing primitives of one
    // colour paint their union whatever their order, so fills and strokes of that colour gather
    // in two paths until something else comes; anything translucent is painted at once, in order.
    cairo_t* begin(Op op, const RGBAColor& color, double width, bool batchable) {
        const bool unionSafe = batchable && (color.a >= 1.0 || clearing);
        Pending& mine = op == Op::fill ? pendingFill : pendingStroke;
        Pending& other = op == Op::fill ? pendingStroke : pendingFill;
        const bool sameLook = mine.active && mine.color == color && mine.clearing == clearing &&
                              (op == Op::fill || mine.width == width) && mine.count < kBatchLimit;
        if (!(unionSafe && sameLook)) flush(op);
        if (other.active && !(unionSafe && other.color == color && other.clearing == clearing)) flush(op == Op::fill ? Op::stroke : Op::fill);
        cairo_t* c = op == Op::fill ? cr : crStroke;
        if (!mine.active) {
            cairo_new_path(c);
            mine = Pending{true, color, width, clearing, 0};
        }
        ++mine.count;
        return c;
    }
    // Painted at once: a polygon contour's winding may oppose its neighbours'.
    void endAlone(Op op) { flush(op); }

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

    double lineWidth(double widthMM) const { return std::max(widthMM * m.s, 1.0); }

    void line(const Vec2& a, const Vec2& b, const RGBAColor& color, double widthMM) {
        cairo_t* c = begin(Op::stroke, color, lineWidth(widthMM), true);
        cairo_move_to(c, m.X(a.x), m.Y(a.y));
        cairo_line_to(c, m.X(b.x), m.Y(b.y));
    }

    void circle(const Vec2& c, double diameter) {
        if (!std::isfinite(diameter)) return;
        begin(Op::fill, fill, 0, true);
        const double x = m.X(c.x), y = m.Y(c.y), r = std::abs(diameter) * 0.5 * m.s;
        cairo_new_sub_path(cr);
        cairo_arc(cr, x, y, r, 0, 2 * M_PI);
        cairo_close_path(cr);
    }

    void polygonFill(const std::vector<Vec2>& pts, const Vec2& offset) {
        if (pts.size() < 3) return;
        begin(Op::fill, fill, 0, false);
        cairo_move_to(cr, m.X(pts[0].x + offset.x), m.Y(pts[0].y + offset.y));
        for (std::size_t i = 1; i < pts.size(); ++i) cairo_line_to(cr, m.X(pts[i].x + offset.x), m.Y(pts[i].y + offset.y));
        cairo_close_path(cr);
        endAlone(Op::fill);
    }

    void draw(const PCBObject& obj, const GeometryEngine& engine, std::vector<Vec2>& scratch) {
        if (!visible(obj.bbox)) return;
        const double w = obj.apertureShape ? obj.apertureShape->strokeNominalWidth() : 0.2;
        if (const auto* s = obj.kind.as<PCBObjectKind::Stroke>()) {
            if (!std::isfinite(w)) return;
            line(s->start, s->end, stroke, w);
        } else if (const auto* a = obj.kind.as<PCBObjectKind::ArcStroke>()) {
            if (!std::isfinite(w)) return;
            cairo_t* c = begin(Op::stroke, stroke, lineWidth(w), true);
            cairo_move_to(c, m.X(a->start.x), m.Y(a->start.y));
            scratch.clear();
            engine.sampleArc(a->start, a->end, a->center, a->clockwise, scratch);
            for (const auto& p : scratch) cairo_line_to(c, m.X(p.x), m.Y(p.y));
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
            line(sl->start, sl->end, stroke, sl->diameterMM);
        }
    }

    void flash(const Vec2& at, ShapeRef shape) {
        if (!shape) return circle(at, 0.2);
        if (const auto* c = shape->as<ApertureShape::Circle>()) return circle(at, c->diameter);
        if (const auto* r = shape->as<ApertureShape::Rectangle>()) {
            if (!std::isfinite(r->width) || !std::isfinite(r->height)) return;
            const double x0 = m.X(at.x - r->width / 2), x1 = m.X(at.x + r->width / 2);
            const double y0 = m.Y(at.y - r->height / 2), y1 = m.Y(at.y + r->height / 2);
            begin(Op::fill, fill, 0, true);
            cairo_rectangle(cr, std::min(x0, x1), std::min(y0, y1), std::abs(x1 - x0), std::abs(y1 - y0));
            return;
        }
        if (const auto* o = shape->as<ApertureShape::Obround>()) {
            const double rw = std::abs(o->width) * 0.5 * m.s, rh = std::abs(o->height) * 0.5 * m.s;
            if (!std::isfinite(rw) || !std::isfinite(rh) || rw <= 0 || rh <= 0) return;
            begin(Op::fill, fill, 0, true);
            cairo_save(cr);
            cairo_new_sub_path(cr);
            cairo_translate(cr, m.X(at.x), m.Y(at.y));
            cairo_scale(cr, rw, rh);
            cairo_arc(cr, 0, 0, 1, 0, 2 * M_PI);
            cairo_close_path(cr);
            cairo_restore(cr);
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

// Draws one file, alone, into its own transparent surface: clear primitives cut only this file.
cairo_surface_t* renderFile(const PackageFile& file, const Mapper& mapper, int iw, int ih) {
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, iw, ih);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(surface);
        return nullptr;
    }
    cairo_t* cr = cairo_create(surface);
    cairo_t* crStroke = cairo_create(surface);
    const RGBAColor color = CGRenderer::defaultColor(file.layerType);
    Painter painter{cr, crStroke, mapper, color, color};
    const GeometryEngine engine;
    std::vector<Vec2> scratch;
    auto drawOne = [&](const PCBObject& obj) {
        painter.clearing = obj.polarity == Polarity::clear;
        if (painter.clearing) {
            // Clearing ignores colour; keep the file's colours for the primitives after it.
            const RGBAColor keepFill = painter.fill, keepStroke = painter.stroke;
            painter.draw(obj, engine, scratch);
            painter.fill = keepFill;
            painter.stroke = keepStroke;
        } else {
            painter.draw(obj, engine, scratch);
        }
    };
    if (file.gerber)
        for (const auto& obj : file.gerber->objects) drawOne(obj);
    if (file.drill)
        for (std::size_t i = 0; i < file.drill->hits.size(); ++i) drawOne(file.drill->hitObject(i));
    if (file.drill)
        for (const auto& obj : file.drill->slots) drawOne(obj);
    painter.flush();
    cairo_destroy(crStroke);
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    return surface;
}

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
    std::vector<const PackageFile*> shown;
    std::vector<LayerType> types;
    for (const auto& f : package.files) {
        if (visibleFileNames && !visibleFileNames->count(f.fileName)) continue;
        shown.push_back(&f);
        types.push_back(f.layerType);
    }
    std::vector<const PackageFile*> order;
    order.reserve(shown.size());
    for (std::size_t i : layerDrawOrder(types, flipX ? ViewedSide::bottom : ViewedSide::top)) order.push_back(shown[i]);

    // Files are drawn side by side on a few threads, then laid over each other in drawing order.
    std::vector<cairo_surface_t*> layers(order.size(), nullptr);
    parallelFor(
        order.size(), [&](std::size_t i) { layers[i] = renderFile(*order[i], mapper, iw, ih); }, defaultWorkerCount());
    bool complete = true;
    for (cairo_surface_t* layer : layers) {
        if (!layer) {
            complete = false;
            continue;
        }
        cairo_set_source_surface(cr, layer, 0, 0);
        cairo_paint(cr);
        cairo_surface_destroy(layer);
    }
    if (!complete) {
        cairo_destroy(cr);
        cairo_surface_destroy(surface);
        return std::nullopt;
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
