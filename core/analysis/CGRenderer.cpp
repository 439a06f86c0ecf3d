#include "CGRenderer.hpp"

#include <algorithm>
#include <atomic>
#include <thread>
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

// Draws one file's primitives. Consecutive primitives that paint alike (same colour and operator)
// are painted together: for an opaque colour, or for the clearing operator, painting their union
// once gives the same pixels as painting each in turn, whatever their order, and it is many times
// faster on layers of a million tracks. Translucent colours are painted one by one so overlaps
// darken as they would primitive by primitive.
//
// Cairo scan-converts every row of a fill's extents, so a batch of shapes scattered over the image
// costs as much as a full-image fill. Batched fills are therefore gathered per image tile, and
// small round shapes are outlined here as polygons within Cairo's default flattening tolerance
// (what its own arcs and round caps come to) without its curve and stroker machinery.
struct Painter {
    cairo_t* cr;        // fills
    cairo_t* crStroke;  // strokes: a second context on the same surface keeps its own path
    const Mapper& m;
    RGBAColor fill;
    RGBAColor stroke;
    bool clearing = false;

    enum class Op { fill, stroke };
    struct Look {
        bool active = false;
        RGBAColor color;
        double width = 0;
        bool clearing = false;
        int count = 0;
    };
    // Cairo's stroker slows down on paths of very many pieces; a few dozen per stroke is the sweet spot.
    static constexpr int kStrokeBatchLimit = 64;
    static constexpr int kTilePx = 64;
    static constexpr int kTileBatchLimit = 256;
    static constexpr double kTolerance = 0.1;     // Cairo's default flattening tolerance, in pixels
    static constexpr int kMaxPolygonSides = 256;  // larger circles go through cairo_arc

    struct Tile {
        std::vector<cairo_path_data_t> data;
        int count = 0;
        bool listed = false;
    };
    Look pendingFill, pendingStroke;
    std::vector<Tile> tiles;
    std::vector<std::size_t> dirtyTiles;
    int tilesX = 1, tilesY = 1;

    Painter(cairo_t* fills, cairo_t* strokes, const Mapper& mapper, RGBAColor color)
        : cr(fills), crStroke(strokes), m(mapper), fill(color), stroke(color) {
        tilesX = std::max(1, static_cast<int>(std::ceil(m.W / kTilePx)));
        tilesY = std::max(1, static_cast<int>(std::ceil(m.H / kTilePx)));
        tiles.resize(static_cast<std::size_t>(tilesX) * static_cast<std::size_t>(tilesY));
    }

    static void setLook(cairo_t* c, const Look& look) {
        cairo_set_operator(c, look.clearing ? CAIRO_OPERATOR_CLEAR : CAIRO_OPERATOR_OVER);
        cairo_set_source_rgba(c, look.color.r, look.color.g, look.color.b, look.color.a);
    }
    // Fills the path on `cr` in the gathered fill look.
    void paintFill() {
        setLook(cr, pendingFill);
        cairo_set_fill_rule(cr, CAIRO_FILL_RULE_WINDING);
        cairo_fill(cr);
    }
    void flushTile(Tile& tile) {
        if (tile.data.empty()) return;
        cairo_new_path(cr);
        cairo_path_t path{CAIRO_STATUS_SUCCESS, tile.data.data(), static_cast<int>(tile.data.size())};
        cairo_append_path(cr, &path);
        paintFill();
        tile.data.clear();
        tile.count = 0;
    }
    void flush(Op op) {
        if (op == Op::fill) {
            if (!pendingFill.active) return;
            for (std::size_t i : dirtyTiles) {
                flushTile(tiles[i]);
                tiles[i].listed = false;
            }
            dirtyTiles.clear();
            pendingFill.active = false;
            return;
        }
        if (!pendingStroke.active) return;
        setLook(crStroke, pendingStroke);
        cairo_set_line_width(crStroke, pendingStroke.width);
        cairo_set_line_cap(crStroke, CAIRO_LINE_CAP_ROUND);
        cairo_set_line_join(crStroke, CAIRO_LINE_JOIN_ROUND);
        cairo_stroke(crStroke);
        pendingStroke.active = false;
    }
    void flush() {
        flush(Op::fill);
        flush(Op::stroke);
    }

    // Prepares for one more primitive painted by `op`: whatever was gathered in another look is
    // painted first. Returns whether the primitive may wait to be painted with others.
    bool begin(Op op, const RGBAColor& color, double width, bool batchable) {
        const bool unionSafe = batchable && (color.a >= 1.0 || clearing);
        Look& mine = op == Op::fill ? pendingFill : pendingStroke;
        Look& other = op == Op::fill ? pendingStroke : pendingFill;
        const bool sameLook = mine.active && mine.color == color && mine.clearing == clearing &&
                              (op == Op::fill || (mine.width == width && mine.count < kStrokeBatchLimit));
        if (!(unionSafe && sameLook)) flush(op);
        if (other.active && !(unionSafe && other.color == color && other.clearing == clearing))
            flush(op == Op::fill ? Op::stroke : Op::fill);
        if (!mine.active) {
            if (op == Op::stroke) cairo_new_path(crStroke);
            mine = Look{true, color, width, clearing, 0};
        }
        ++mine.count;
        return unionSafe;
    }
    // Paints the path just built on `cr` at once: a polygon contour's winding may oppose its neighbours'.
    void fillAlone() {
        paintFill();
        pendingFill.active = false;
    }

    // The tile gathering a shape that starts near device point (x, y).
    Tile& tileAt(double x, double y) {
        const int tx = std::clamp(static_cast<int>(x / kTilePx), 0, tilesX - 1);
        const int ty = std::clamp(static_cast<int>(y / kTilePx), 0, tilesY - 1);
        const std::size_t i = static_cast<std::size_t>(ty) * static_cast<std::size_t>(tilesX) + static_cast<std::size_t>(tx);
        Tile& tile = tiles[i];
        if (!tile.listed) {
            tile.listed = true;
            dirtyTiles.push_back(i);
        }
        return tile;
    }
    static void put(Tile& t, cairo_path_data_type_t type, double x, double y) {
        cairo_path_data_t head;
        head.header.type = type;
        head.header.length = 2;
        cairo_path_data_t point;
        point.point.x = x;
        point.point.y = y;
        t.data.push_back(head);
        t.data.push_back(point);
    }
    static void close(Tile& t) {
        cairo_path_data_t head;
        head.header.type = CAIRO_PATH_CLOSE_PATH;
        head.header.length = 1;
        t.data.push_back(head);
    }
    // One shape has been added to `t`: paint now if it must not wait, or if the tile is full.
    void shapeDone(Tile& t, bool unionSafe) {
        ++t.count;
        if (!unionSafe) flush(Op::fill);
        else if (t.count >= kTileBatchLimit) flushTile(t);
    }

    double tableRadius = -1;
    int tableSides = 0;
    std::vector<double> unitCos, unitSin;  // the unit circle at k·2π/tableSides, k = 0 … tableSides

    // Sides for a circle of radius r (an even count, so half circles end on a vertex), or 0 when
    // it is too large for a polygon to stay cheap.
    int sidesFor(double r) {
        if (r == tableRadius) return tableSides;
        int sides = 4;
        if (r > kTolerance) {
            const double n = M_PI / std::acos(1.0 - kTolerance / r);
            if (!(n <= kMaxPolygonSides)) return 0;
            sides = std::max(4, static_cast<int>(std::ceil(n)));
        }
        sides += sides % 2;
        tableRadius = r;
        if (sides != tableSides) {
            tableSides = sides;
            unitCos.resize(static_cast<std::size_t>(sides) + 1);
            unitSin.resize(static_cast<std::size_t>(sides) + 1);
            for (int k = 0; k <= sides; ++k) {
                unitCos[static_cast<std::size_t>(k)] = std::cos(2 * M_PI * k / sides);
                unitSin[static_cast<std::size_t>(k)] = std::sin(2 * M_PI * k / sides);
            }
        }
        return sides;
    }

    // Adds, in device space, the outline of a disc (a == b) or of a round-capped segment a-b of
    // radius r that `sidesFor` accepted, turning the same way as cairo_arc and cairo_rectangle so
    // that a batch fills as a union.
    void roundSegment(Tile& t, double ax, double ay, double bx, double by, double r) {
        const double dx = bx - ax, dy = by - ay, len = std::hypot(dx, dy);
        // Unit normal of the segment; any direction serves a disc.
        const double nx = len > 0 ? -dy / len : 0.0, ny = len > 0 ? dx / len : 1.0;
        const int half = tableSides / 2;
        // Around b from −n through the segment direction to +n, then around a from +n back to −n.
        for (int k = 0; k <= tableSides; ++k) {
            const double cs = unitCos[static_cast<std::size_t>(k)], sn = unitSin[static_cast<std::size_t>(k)];
            const double vx = -nx * cs + ny * sn, vy = -nx * sn - ny * cs;
            const double cx = k <= half ? bx : ax, cy = k <= half ? by : ay;
            put(t, k == 0 ? CAIRO_PATH_MOVE_TO : CAIRO_PATH_LINE_TO, cx + r * vx, cy + r * vy);
            if (k == half) put(t, CAIRO_PATH_LINE_TO, ax + r * vx, ay + r * vy);
        }
        close(t);
    }

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
        const double width = lineWidth(widthMM);
        const double ax = m.X(a.x), ay = m.Y(a.y), bx = m.X(b.x), by = m.Y(b.y);
        if (sidesFor(width / 2) != 0) {
            // A round-capped line is the fill of its outline; filled, it joins the batch of flashes.
            const bool wait = begin(Op::fill, color, 0, true);
            Tile& t = tileAt((ax + bx) / 2, (ay + by) / 2);
            roundSegment(t, ax, ay, bx, by, width / 2);
            return shapeDone(t, wait);
        }
        begin(Op::stroke, color, width, true);
        cairo_move_to(crStroke, ax, ay);
        cairo_line_to(crStroke, bx, by);
    }

    void circle(const Vec2& c, double diameter) {
        if (!std::isfinite(diameter)) return;
        const double x = m.X(c.x), y = m.Y(c.y), r = std::abs(diameter) * 0.5 * m.s;
        if (sidesFor(r) != 0) {
            const bool wait = begin(Op::fill, fill, 0, true);
            Tile& t = tileAt(x, y);
            roundSegment(t, x, y, x, y, r);
            return shapeDone(t, wait);
        }
        begin(Op::fill, fill, 0, false);
        cairo_new_path(cr);
        cairo_arc(cr, x, y, r, 0, 2 * M_PI);
        cairo_close_path(cr);
        fillAlone();
    }

    void polygonFill(const std::vector<Vec2>& pts, const Vec2& offset) {
        if (pts.size() < 3) return;
        begin(Op::fill, fill, 0, false);
        cairo_new_path(cr);
        cairo_move_to(cr, m.X(pts[0].x + offset.x), m.Y(pts[0].y + offset.y));
        for (std::size_t i = 1; i < pts.size(); ++i) cairo_line_to(cr, m.X(pts[i].x + offset.x), m.Y(pts[i].y + offset.y));
        cairo_close_path(cr);
        fillAlone();
    }

    void draw(const PCBObject& obj, const GeometryEngine& engine, std::vector<Vec2>& scratch) {
        if (!visible(obj.bbox)) return;
        const double w = obj.apertureShape ? obj.apertureShape->strokeNominalWidth() : 0.2;
        if (const auto* s = obj.kind.as<PCBObjectKind::Stroke>()) {
            if (!std::isfinite(w)) return;
            line(s->start, s->end, stroke, w);
        } else if (const auto* a = obj.kind.as<PCBObjectKind::ArcStroke>()) {
            if (!std::isfinite(w)) return;
            begin(Op::stroke, stroke, lineWidth(w), true);
            cairo_move_to(crStroke, m.X(a->start.x), m.Y(a->start.y));
            scratch.clear();
            engine.sampleArc(a->start, a->end, a->center, a->clockwise, scratch);
            for (const auto& p : scratch) cairo_line_to(crStroke, m.X(p.x), m.Y(p.y));
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

    void flash(const Vec2& at, const std::optional<ApertureShape>& shape) {
        if (!shape) return circle(at, 0.2);
        if (const auto* c = shape->as<ApertureShape::Circle>()) return circle(at, c->diameter);
        if (const auto* r = shape->as<ApertureShape::Rectangle>()) {
            if (!std::isfinite(r->width) || !std::isfinite(r->height)) return;
            const double x0 = m.X(at.x - r->width / 2), x1 = m.X(at.x + r->width / 2);
            const double y0 = m.Y(at.y - r->height / 2), y1 = m.Y(at.y + r->height / 2);
            const double lx = std::min(x0, x1), hx = std::max(x0, x1), ly = std::min(y0, y1), hy = std::max(y0, y1);
            // Clockwise on screen, as cairo_rectangle draws it.
            const bool wait = begin(Op::fill, fill, 0, true);
            Tile& t = tileAt(lx, ly);
            put(t, CAIRO_PATH_MOVE_TO, lx, ly);
            put(t, CAIRO_PATH_LINE_TO, hx, ly);
            put(t, CAIRO_PATH_LINE_TO, hx, hy);
            put(t, CAIRO_PATH_LINE_TO, lx, hy);
            close(t);
            return shapeDone(t, wait);
        }
        if (const auto* o = shape->as<ApertureShape::Obround>()) {
            const double rw = std::abs(o->width) * 0.5 * m.s, rh = std::abs(o->height) * 0.5 * m.s;
            if (!std::isfinite(rw) || !std::isfinite(rh) || rw <= 0 || rh <= 0) return;
            const double x = m.X(at.x), y = m.Y(at.y);
            if (sidesFor(std::max(rw, rh)) != 0) {
                // The inscribed ellipse, turning the same way as cairo_arc.
                const bool wait = begin(Op::fill, fill, 0, true);
                Tile& t = tileAt(x, y);
                for (int k = 0; k < tableSides; ++k)
                    put(t, k == 0 ? CAIRO_PATH_MOVE_TO : CAIRO_PATH_LINE_TO, x + rw * unitCos[static_cast<std::size_t>(k)],
                        y + rh * unitSin[static_cast<std::size_t>(k)]);
                close(t);
                return shapeDone(t, wait);
            }
            begin(Op::fill, fill, 0, false);
            cairo_new_path(cr);
            cairo_save(cr);
            cairo_translate(cr, x, y);
            cairo_scale(cr, rw, rh);
            cairo_arc(cr, 0, 0, 1, 0, 2 * M_PI);
            cairo_close_path(cr);
            cairo_restore(cr);
            return fillAlone();
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
    Painter painter(cr, crStroke, mapper, color);
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
    std::vector<const PackageFile*> order;
    order.reserve(package.files.size());
    for (const auto& f : package.files)
        if (!visibleFileNames || visibleFileNames->count(f.fileName)) order.push_back(&f);
    std::stable_sort(order.begin(), order.end(), [](const PackageFile* a, const PackageFile* b) {
        return PackageImporter::layerOrder(a->layerType) < PackageImporter::layerOrder(b->layerType);
    });

    // Files are drawn side by side on a few threads, then laid over each other in drawing order.
    std::vector<cairo_surface_t*> layers(order.size(), nullptr);
    const std::size_t threads =
        std::min<std::size_t>(order.size(), std::max(1u, std::min(8u, std::thread::hardware_concurrency())));
    std::atomic<std::size_t> next{0};
    auto work = [&] {
        for (std::size_t i = next++; i < order.size(); i = next++) layers[i] = renderFile(*order[i], mapper, iw, ih);
    };
    if (threads <= 1) {
        work();
    } else {
        std::vector<std::thread> pool;
        for (std::size_t t = 0; t < threads; ++t) pool.emplace_back(work);
        for (auto& th : pool) th.join();
    }
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
