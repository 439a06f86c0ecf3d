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

namespace {
RecordingCanvas::Op makeOp(RecordingCanvas::Op::Kind kind, const RGBAColor& color) {
    RecordingCanvas::Op op;
    op.kind = kind;
    op.color = color;
    return op;
}
} // namespace

void RecordingCanvas::drawText(const std::string& text, const FontSpec& font, const RGBAColor& color, double x, double y) {
    Op op = makeOp(Op::Kind::text, color);
    op.text = text;
    op.font = font;
    op.at = Vec2{x, y};
    current().ops.push_back(std::move(op));
}

void RecordingCanvas::strokePolyline(const std::vector<Vec2>& points, const RGBAColor& color, double lineWidth, LineCap cap) {
    Op op = makeOp(Op::Kind::polyline, color);
    op.points = points;
    op.lineWidth = lineWidth;
    op.cap = cap;
    current().ops.push_back(std::move(op));
}

void RecordingCanvas::fillRect(const PageRect& rect, const RGBAColor& color) {
    Op op = makeOp(Op::Kind::fillRect, color);
    op.rect = rect;
    current().ops.push_back(std::move(op));
}

void RecordingCanvas::strokeRect(const PageRect& rect, const RGBAColor& color, double lineWidth) {
    Op op = makeOp(Op::Kind::strokeRect, color);
    op.rect = rect;
    op.lineWidth = lineWidth;
    current().ops.push_back(std::move(op));
}

void RecordingCanvas::fillRoundedRect(const PageRect& rect, double radius, const RGBAColor& color) {
    Op op = makeOp(Op::Kind::roundedRect, color);
    op.rect = rect;
    op.radius = radius;
    current().ops.push_back(std::move(op));
}

void RecordingCanvas::fillCircle(Vec2 center, double diameter, const RGBAColor& color) {
    Op op = makeOp(Op::Kind::circle, color);
    op.at = center;
    op.radius = diameter / 2;
    current().ops.push_back(std::move(op));
}

void RecordingCanvas::drawImage(const RasterImage& image, const PageRect& rect) {
    Op op = makeOp(Op::Kind::image, RGBAColor{});
    op.rect = rect;
    op.imageWidth = image.width;
    op.imageHeight = image.height;
    current().ops.push_back(std::move(op));
}

} // namespace corvane
