#pragma once
// The PDF back-end of PageCanvas: a Cairo PDF surface writing into memory, text through Pango.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "PageCanvas.hpp"
#include "TextEngine.hpp"

typedef struct _cairo_surface cairo_surface_t;
typedef struct _cairo cairo_t;

namespace corvane {

class CairoPdfCanvas final : public PageCanvas {
public:
    struct DocumentInfo {
        std::string title;
        std::string creator;
    };

    // Where Cairo's write callback appends the document.
    struct Sink {
        std::vector<std::uint8_t> data;
        bool failed = false;
    };

    // Every page has the given size in points. The text engine must outlive the canvas.
    CairoPdfCanvas(TextEngine& text, double pageWidth, double pageHeight, const DocumentInfo& info);
    ~CairoPdfCanvas() override;
    CairoPdfCanvas(const CairoPdfCanvas&) = delete;
    CairoPdfCanvas& operator=(const CairoPdfCanvas&) = delete;

    // False when the surface or context could not be made or drawing has failed so far.
    bool ok() const;

    // Ends the open page when `pageOpen`, closes the document and returns its bytes; nothing when
    // Cairo reports any error along the way (a failed draw leaves later pages silently blank).
    std::optional<std::vector<std::uint8_t>> finish(bool pageOpen);

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
    double flipY(double y) const { return pageHeight_ - y; }
    void rectPath(const PageRect& rect);

    TextEngine& text_;
    double pageHeight_;
    // Cairo reads placed images when it writes the page, not when they are drawn.
    std::vector<std::shared_ptr<const std::vector<std::uint32_t>>> placedImages_;
    Sink sink_;
    cairo_surface_t* surface_ = nullptr;
    cairo_t* cr_ = nullptr;
};

} // namespace corvane
