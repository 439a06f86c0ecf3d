#include "PageCanvas.hpp"

namespace corvane {

std::vector<const RecordingCanvas::Op*> RecordingCanvas::Page::ofKind(Op::Kind kind) const {
    std::vector<const Op*> out;
    for (const auto& op : ops)
        if (op.kind == kind) out.push_back(&op);
    return out;
}

std::vector<const RecordingCanvas::Op*> RecordingCanvas::Page::texts() const { return ofKind(Op::Kind::text); }

const RecordingCanvas::Op* RecordingCanvas::Page::findText(const std::string& text) const {
    for (const auto& op : ops)
        if (op.kind == Op::Kind::text && op.text == text) return &op;
    return nullptr;
}

RecordingCanvas::Page& RecordingCanvas::current() {
    // Like a PDF context, drawing before the first explicit page lands on an implicit one.
    if (pages.empty() || pages.back().ended) pages.emplace_back();
    return pages.back();
}

void RecordingCanvas::beginPage() { pages.emplace_back(); }

void RecordingCanvas::endPage() { current().ended = true; }

void RecordingCanvas::drawText(const std::string& text, const FontSpec& font, const RGBAColor& color, double x, double y) {
    Op op;
    op.kind = Op::Kind::text;
    op.text = text;
    op.font = font;
    op.color = color;
    op.at = Vec2{x, y};
    current().ops.push_back(std::move(op));
}

void RecordingCanvas::strokePolyline(const std::vector<Vec2>& points, const RGBAColor& color, double lineWidth, LineCap cap) {
    Op op;
    op.kind = Op::Kind::polyline;
    op.points = points;
    op.color = color;
    op.lineWidth = lineWidth;
    op.cap = cap;
    current().ops.push_back(std::move(op));
}

void RecordingCanvas::fillRect(const PageRect& rect, const RGBAColor& color) {
    Op op;
    op.kind = Op::Kind::fillRect;
    op.rect = rect;
    op.color = color;
    current().ops.push_back(std::move(op));
}

void RecordingCanvas::strokeRect(const PageRect& rect, const RGBAColor& color, double lineWidth) {
    Op op;
    op.kind = Op::Kind::strokeRect;
    op.rect = rect;
    op.color = color;
    op.lineWidth = lineWidth;
    current().ops.push_back(std::move(op));
}

void RecordingCanvas::fillRoundedRect(const PageRect& rect, double radius, const RGBAColor& color) {
    Op op;
    op.kind = Op::Kind::roundedRect;
    op.rect = rect;
    op.radius = radius;
    op.color = color;
    current().ops.push_back(std::move(op));
}

void RecordingCanvas::fillCircle(Vec2 center, double diameter, const RGBAColor& color) {
    Op op;
    op.kind = Op::Kind::circle;
    op.at = center;
    op.radius = diameter / 2;
    op.color = color;
    current().ops.push_back(std::move(op));
}

void RecordingCanvas::drawImage(const RasterImage& image, const PageRect& rect) {
    Op op;
    op.kind = Op::Kind::image;
    op.rect = rect;
    op.imageWidth = image.width;
    op.imageHeight = image.height;
    current().ops.push_back(std::move(op));
}

} // namespace corvane
