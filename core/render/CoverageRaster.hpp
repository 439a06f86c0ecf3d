#pragma once
// Antialiased filling of closed outlines over premultiplied ARGB32 rows, for the off-screen renderer.
// Outlines are added edge by edge; each edge adds its signed area to the pixels it crosses, and a paint
// walks the rows once, summing, and lays one colour over each pixel by the coverage found there. The
// coverage is |winding| held to 1: the nonzero rule wherever outlines run the same way round, so shapes
// added together paint their union; outlines running opposite ways cancel.
//
// Painting many small shapes this way costs a few dozen nanoseconds each, where a general 2D library
// spends microseconds per path on setting up its rasteriser.
#include <cstdint>
#include <span>
#include <vector>

#include "model/Geometry.hpp"

namespace corvane {

class CoverageRaster {
public:
    // Draws into rows [top, top + rows) of a picture `width` pixels wide; `firstRow` is row `top`, rows
    // follow without padding. Points are given in picture pixels. Keeps its buffers from earlier targets.
    void target(std::uint32_t* firstRow, int width, int rows, int top);

    // A closed outline: the last point joins the first. Edges may reach past the rows and sides; an
    // outline with a point that is not finite adds nothing.
    void addOutline(std::span<const Vec2> points);
    // The edges between consecutive points, without the one back to the first: a part of an outline
    // whose points are all finite (the caller has made sure), which other parts close.
    void addPath(std::span<const Vec2> points);
    int top() const { return top_; }
    int rows() const { return rows_; }
    bool empty() const { return lastDirtyRow_ < firstDirtyRow_; }

    // Lays `color` (premultiplied ARGB32) over the pixels by their coverage, then forgets the outlines.
    void paint(std::uint32_t color);
    // Takes away the covered part of each pixel (it becomes transparent), then forgets the outlines.
    void erase();

    // Premultiplied ARGB32 of straight components in [0, 1].
    static std::uint32_t premultiplied(double r, double g, double b, double a);
    // Lays `layer` over `target` (both premultiplied ARGB32, `count` pixels).
    static void layOver(std::uint32_t* target, const std::uint32_t* layer, std::size_t count);

private:
    void addEdgeInRows(double x0, double y0, double x1, double y1);
    void addRowPiece(int row, float* cells, std::uint64_t* touched, double xa, double xb, double height);
    // Walks the rows touched since the last paint: `span(pixels, count, coverage)` for runs of pixels with
    // one coverage, `one(pixel, coverage)` for single pixels; coverage in 0 … 255.
    template <class Span, class One> void resolve(Span&& span, One&& one);

    std::uint32_t* pixels_ = nullptr;
    int width_ = 0, rows_ = 0, top_ = 0;
    // Per row, width_ + 2 cells: the signed area each edge leaves in a pixel, minus what it leaves in the
    // pixel before; summing a row left to right gives each pixel's winding coverage. The last cells take
    // what lies beyond the right side.
    std::vector<float> cells_;
    // Per row, one bit per cell that an edge touched: between two touched cells the coverage stays the
    // same, so a paint visits the touched cells and fills the runs between them.
    std::vector<std::uint64_t> touched_;
    int wordsPerRow_ = 0;
    // Per row: the first and last cell touched since the last paint (to < 0: none).
    struct Dirty {
        int from, to;
    };
    std::vector<Dirty> dirty_;
    int firstDirtyRow_ = 0, lastDirtyRow_ = -1;
};

} // namespace corvane
