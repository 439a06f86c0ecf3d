#include "CairoPdfCanvas.hpp"

#include <cairo-pdf.h>
#include <cmath>
#include <new>
#include <pango/pangocairo.h>

#include "model/Angles.hpp"
#include "model/Format.hpp"

namespace corvane {

namespace {

cairo_status_t appendBytes(void* closure, const unsigned char* bytes, unsigned int length) {
    auto* sink = static_cast<CairoPdfCanvas::Sink*>(closure);
    try {
        sink->data.insert(sink->data.end(), bytes, bytes + length);
    } catch (const std::bad_alloc&) {
        sink->failed = true;
        return CAIRO_STATUS_WRITE_ERROR;
    }
    return CAIRO_STATUS_SUCCESS;
}

bool finite(std::initializer_list<double> values) {
    for (double v : values)
        if (!std::isfinite(v)) return false;
    return true;
}

// Cairo keeps coordinates in 24.8 fixed point; far-off values wrap around instead of clipping.
bool onPageScale(std::initializer_list<double> values) {
    for (double v : values)
        if (!std::isfinite(v) || std::fabs(v) > 1.0e6) return false;
    return true;
}

void setColor(cairo_t* cr, const RGBAColor& c) { cairo_set_source_rgba(cr, c.r, c.g, c.b, c.a); }

} // namespace

CairoPdfCanvas::CairoPdfCanvas(TextEngine& text, double pageWidth, double pageHeight, const DocumentInfo& info)
    : text_(text), pageHeight_(pageHeight) {
    // The sink is a member: the destructor destroys the surface, whose last writes go to the sink,
    // before any member goes away.
    surface_ = cairo_pdf_surface_create_for_stream(appendBytes, &sink_, pageWidth, pageHeight);
    if (cairo_surface_status(surface_) != CAIRO_STATUS_SUCCESS) return;
    cairo_pdf_surface_set_metadata(surface_, CAIRO_PDF_METADATA_TITLE, sanitizeUTF8(info.title).c_str());
    cairo_pdf_surface_set_metadata(surface_, CAIRO_PDF_METADATA_CREATOR, sanitizeUTF8(info.creator).c_str());
    cr_ = cairo_create(surface_);
}

CairoPdfCanvas::~CairoPdfCanvas() {
    if (cr_) cairo_destroy(cr_);
    if (surface_) cairo_surface_destroy(surface_);
}

bool CairoPdfCanvas::ok() const {
    return surface_ && cr_ && !sink_.failed && cairo_surface_status(surface_) == CAIRO_STATUS_SUCCESS &&
           cairo_status(cr_) == CAIRO_STATUS_SUCCESS;
}

std::optional<std::vector<std::uint8_t>> CairoPdfCanvas::finish(bool pageOpen) {
    if (!ok()) return std::nullopt;
    if (pageOpen) cairo_show_page(cr_);
    const bool drawn = cairo_status(cr_) == CAIRO_STATUS_SUCCESS;
    cairo_destroy(cr_);
    cr_ = nullptr;
    cairo_surface_finish(surface_);
    const bool written = cairo_surface_status(surface_) == CAIRO_STATUS_SUCCESS && !sink_.failed;
    if (!drawn || !written) return std::nullopt;
    return std::move(sink_.data);
}

void CairoPdfCanvas::beginPage() {
    // A Cairo page begins implicitly with the first drawing after the previous show_page.
}

void CairoPdfCanvas::endPage() {
    if (cr_) cairo_show_page(cr_);
}

void CairoPdfCanvas::drawText(const std::string& text, const FontSpec& font, const RGBAColor& color, double x, double y) {
    if (!cr_ || text.empty() || !onPageScale({x, y})) return;
    PangoLayout* layout = text_.makeLayout(font, text);
    cairo_save(cr_);
    setColor(cr_, color);
    // show_layout_line draws from the baseline's left end; show_layout would put the top-left there.
    cairo_move_to(cr_, x, flipY(y));
    pango_cairo_show_layout_line(cr_, pango_layout_get_line_readonly(layout, 0));
    cairo_restore(cr_);
    g_object_unref(layout);
}

void CairoPdfCanvas::strokePolyline(const std::vector<Vec2>& points, const RGBAColor& color, double lineWidth, LineCap cap) {
    if (!cr_ || points.empty() || !finite({lineWidth})) return;
    for (const auto& p : points)
        if (!onPageScale({p.x, p.y})) return;
    cairo_save(cr_);
    cairo_new_path(cr_);
    cairo_move_to(cr_, points.front().x, flipY(points.front().y));
    for (std::size_t i = 1; i < points.size(); ++i) cairo_line_to(cr_, points[i].x, flipY(points[i].y));
    setColor(cr_, color);
    cairo_set_line_width(cr_, lineWidth);
    cairo_set_line_cap(cr_, cap == LineCap::round ? CAIRO_LINE_CAP_ROUND : CAIRO_LINE_CAP_BUTT);
    cairo_stroke(cr_);
    cairo_restore(cr_);
}

void CairoPdfCanvas::rectPath(const PageRect& r) {
    cairo_new_path(cr_);
    cairo_rectangle(cr_, r.x, pageHeight_ - r.y - r.height, r.width, r.height);
}

void CairoPdfCanvas::fillRect(const PageRect& rect, const RGBAColor& color) {
    if (!cr_ || !onPageScale({rect.x, rect.y, rect.width, rect.height})) return;
    cairo_save(cr_);
    rectPath(rect);
    setColor(cr_, color);
    cairo_fill(cr_);
    cairo_restore(cr_);
}

void CairoPdfCanvas::strokeRect(const PageRect& rect, const RGBAColor& color, double lineWidth) {
    if (!cr_ || !onPageScale({rect.x, rect.y, rect.width, rect.height, lineWidth})) return;
    cairo_save(cr_);
    rectPath(rect);
    setColor(cr_, color);
    cairo_set_line_width(cr_, lineWidth);
    cairo_stroke(cr_);
    cairo_restore(cr_);
}

void CairoPdfCanvas::fillRoundedRect(const PageRect& rect, double radius, const RGBAColor& color) {
    if (!cr_ || !onPageScale({rect.x, rect.y, rect.width, rect.height, radius})) return;
    const double r = std::fmax(0.0, std::fmin(radius, std::fmin(rect.width, rect.height) / 2));
    const double left = rect.x, right = rect.x + rect.width;
    const double top = flipY(rect.y + rect.height), bottom = flipY(rect.y);
    cairo_save(cr_);
    cairo_new_path(cr_);
    cairo_arc(cr_, right - r, top + r, r, -kPi / 2, 0);
    cairo_arc(cr_, right - r, bottom - r, r, 0, kPi / 2);
    cairo_arc(cr_, left + r, bottom - r, r, kPi / 2, kPi);
    cairo_arc(cr_, left + r, top + r, r, kPi, 3 * kPi / 2);
    cairo_close_path(cr_);
    setColor(cr_, color);
    cairo_set_fill_rule(cr_, CAIRO_FILL_RULE_WINDING);
    cairo_fill(cr_);
    cairo_restore(cr_);
}

void CairoPdfCanvas::fillCircle(Vec2 center, double diameter, const RGBAColor& color) {
    if (!cr_ || !onPageScale({center.x, center.y, diameter}) || diameter <= 0) return;
    cairo_save(cr_);
    cairo_new_path(cr_);
    cairo_arc(cr_, center.x, flipY(center.y), diameter / 2, 0, kTwoPi);
    setColor(cr_, color);
    cairo_fill(cr_);
    cairo_restore(cr_);
}

void CairoPdfCanvas::drawImage(const RasterImage& image, const PageRect& rect) {
    if (!cr_ || image.width < 1 || image.height < 1 || !image.pixels) return;
    if (!onPageScale({rect.x, rect.y, rect.width, rect.height}) || rect.width <= 0 || rect.height <= 0) return;
    const int stride = cairo_format_stride_for_width(CAIRO_FORMAT_ARGB32, image.width);
    if (stride != image.width * 4 ||
        image.pixels->size() < static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height))
        return;
    // Cairo only reads a source surface; the const cast does not lead to writes.
    auto* bytes = reinterpret_cast<unsigned char*>(const_cast<std::uint32_t*>(image.pixels->data()));
    cairo_surface_t* source =
        cairo_image_surface_create_for_data(bytes, CAIRO_FORMAT_ARGB32, image.width, image.height, stride);
    if (cairo_surface_status(source) == CAIRO_STATUS_SUCCESS) {
        placedImages_.push_back(image.pixels);
        cairo_save(cr_);
        cairo_translate(cr_, rect.x, pageHeight_ - rect.y - rect.height);
        cairo_scale(cr_, rect.width / image.width, rect.height / image.height);
        cairo_set_source_surface(cr_, source, 0, 0);
        cairo_new_path(cr_);
        cairo_rectangle(cr_, 0, 0, image.width, image.height);
        cairo_fill(cr_);
        cairo_restore(cr_);
    }
    cairo_surface_destroy(source);
}

} // namespace corvane
