#pragma once
// A page drawing surface in PDF user space: origin at the bottom-left corner, y growing upwards, points.
// The report lays out its pages against this interface; one back-end writes a PDF, the other records
// every call so layouts can be checked without reading a PDF back.
#include <string>
#include <vector>

#include "render/SoftwareRenderer.hpp"
#include "render/RasterImage.hpp"
#include "model/Geometry.hpp"

namespace corvane {

// A face of the report's one family ("Helvetica", regular or bold) at an absolute size in points.
struct FontSpec {
    bool bold = false;
    double size = 10;
    bool operator==(const FontSpec&) const = default;
};

struct PageRect {
    double x = 0, y = 0, width = 0, height = 0;  // (x, y) is the bottom-left corner
    bool operator==(const PageRect&) const = default;
};

enum class LineCap { butt, round };

class PageCanvas {
public:
    virtual ~PageCanvas() = default;
    virtual void beginPage() = 0;
    virtual void endPage() = 0;
    // One line of text whose baseline starts at (x, y). The text is already valid UTF-8 without
    // control characters.
    virtual void drawText(const std::string& text, const FontSpec& font, const RGBAColor& color, double x, double y) = 0;
    virtual void strokePolyline(const std::vector<Vec2>& points, const RGBAColor& color, double lineWidth, LineCap cap) = 0;
    virtual void fillRect(const PageRect& rect, const RGBAColor& color) = 0;
    virtual void strokeRect(const PageRect& rect, const RGBAColor& color, double lineWidth) = 0;
    virtual void fillRoundedRect(const PageRect& rect, double radius, const RGBAColor& color) = 0;
    virtual void fillCircle(Vec2 center, double diameter, const RGBAColor& color) = 0;
    // The whole image scaled into the rectangle. Callers pass only images whose pixel buffer holds
    // width × height pixels.
    virtual void drawImage(const RasterImage& image, const PageRect& rect) = 0;
};

// Keeps every call, page by page, for layout tests.
class RecordingCanvas final : public PageCanvas {
public:
    struct Op {
        enum class Kind { text, polyline, fillRect, strokeRect, roundedRect, circle, image };
        Kind kind = Kind::text;
        std::string text;
        FontSpec font;
        RGBAColor color;
        Vec2 at;          // text baseline start, circle centre
        PageRect rect;    // rectangles and images
        double lineWidth = 0;
        double radius = 0;  // rounded-rectangle corner radius; circle diameter / 2
        LineCap cap = LineCap::butt;
        std::vector<Vec2> points;
        int imageWidth = 0, imageHeight = 0;
    };
    struct Page {
        std::vector<Op> ops;
        bool ended = false;
        std::vector<const Op*> texts() const;
        // The first text op whose text equals `text`, or nullptr.
        const Op* findText(const std::string& text) const;
        std::vector<const Op*> ofKind(Op::Kind kind) const;
    };
    std::vector<Page> pages;

    void beginPage() override;
    void endPage() override;
    void drawText(const std::string& text, const FontSpec& font, const RGBAColor& color, double x, double y) override;
    void strokePolyline(const std::vector<Vec2>& points, const RGBAColor& color, double lineWidth, LineCap cap) override;
    void fillRect(const PageRect& rect, const RGBAColor& color) override;
    void strokeRect(const PageRect& rect, const RGBAColor& color, double lineWidth) override;
    void fillRoundedRect(const PageRect& rect, double radius, const RGBAColor& color) override;
    void fillCircle(Vec2 center, double diameter, const RGBAColor& color) override;
    void drawImage(const RasterImage& image, const PageRect& rect) override;

private:
    Page& current();
};

} // namespace corvane
