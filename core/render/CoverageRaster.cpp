#include "CoverageRaster.hpp"

#include <algorithm>
#include <bit>
#include <climits>
#include <cmath>

namespace corvane {

namespace {

inline std::uint32_t channel(std::uint32_t p, int shift) { return (p >> shift) & 0xFF; }

// Every channel of a pixel times k / 255, rounded: ((c·k + 128) + (c·k + 128) / 256) / 256 for each. Two
// channels share a 32-bit word, 16 bits apart; no lane carries into the next, since c·k + 128 + 254 < 65536.
inline std::uint32_t scaled(std::uint32_t p, std::uint32_t k) {
    constexpr std::uint32_t kLanes = 0x00FF00FF, kHalf = 0x00800080;
    auto pair = [k](std::uint32_t lanes) {
        const std::uint32_t t = lanes * k + kHalf;
        return ((t + ((t >> 8) & kLanes)) >> 8) & kLanes;
    };
    return pair(p & kLanes) | pair((p >> 8) & kLanes) << 8;
}

// `top` laid over `under`, both premultiplied: top plus what its alpha leaves of under. No channel of the
// sum passes 255, so the channels add without carries.
inline std::uint32_t over(std::uint32_t under, std::uint32_t top) { return top + scaled(under, 255 - channel(top, 24)); }

// Coverage below half a step of an 8-bit alpha changes nothing.
constexpr float kNoCoverage = 1.0f / 512.0f;

} // namespace

void CoverageRaster::target(std::uint32_t* firstRow, int width, int rows, int top) {
    pixels_ = firstRow;
    width_ = width;
    rows_ = rows;
    top_ = top;
    const auto cells = static_cast<std::size_t>(width + 2) * static_cast<std::size_t>(rows);
    if (cells_.size() < cells) cells_.assign(cells, 0.0f);
    wordsPerRow_ = (width + 2 + 63) / 64;
    const auto words = static_cast<std::size_t>(wordsPerRow_) * static_cast<std::size_t>(rows);
    if (touched_.size() < words) touched_.assign(words, 0);
    if (dirty_.size() < static_cast<std::size_t>(rows)) dirty_.assign(static_cast<std::size_t>(rows), Dirty{INT_MAX, -1});
    firstDirtyRow_ = rows;
    lastDirtyRow_ = -1;
}

void CoverageRaster::addOutline(std::span<const Vec2> points) {
    if (points.size() < 3) return;
    for (const Vec2& p : points)
        if (!std::isfinite(p.x) || !std::isfinite(p.y)) return;
    const double top = top_;
    for (std::size_t i = 0; i < points.size(); ++i) {
        const Vec2& a = points[i];
        const Vec2& b = points[i + 1 == points.size() ? 0 : i + 1];
        addEdgeInRows(a.x, a.y - top, b.x, b.y - top);
    }
}

void CoverageRaster::addPath(std::span<const Vec2> points) {
    const double top = top_;
    for (std::size_t i = 1; i < points.size(); ++i)
        addEdgeInRows(points[i - 1].x, points[i - 1].y - top, points[i].x, points[i].y - top);
}

// An edge in coordinates relative to the first row, all finite.
void CoverageRaster::addEdgeInRows(double x0, double y0, double x1, double y1) {
    if (y0 == y1) return;  // a level edge changes no winding
    double dir = 1;
    if (y0 > y1) {
        std::swap(x0, x1);
        std::swap(y0, y1);
        dir = -1;
    }
    if (y1 <= 0 || y0 >= rows_) return;
    const double dxdy = (x1 - x0) / (y1 - y0);
    if (!std::isfinite(dxdy)) return;  // level to within rounding: no winding either
    const double ys = std::max(y0, 0.0), ye = std::min(y1, static_cast<double>(rows_));
    const int first = static_cast<int>(ys);
    const int last = std::min(rows_ - 1, static_cast<int>(std::ceil(ye)) - 1);
    double ya = ys, xa = x0 + (ys - y0) * dxdy;
    const auto cellsPerRow = static_cast<std::size_t>(width_ + 2), wordsPerRow = static_cast<std::size_t>(wordsPerRow_);
    float* cells = cells_.data() + static_cast<std::size_t>(first) * cellsPerRow;
    std::uint64_t* touched = touched_.data() + static_cast<std::size_t>(first) * wordsPerRow;
    for (int r = first; r <= last; ++r, cells += cellsPerRow, touched += wordsPerRow) {
        const double yb = std::min(ye, static_cast<double>(r) + 1);
        const double xb = x0 + (yb - y0) * dxdy;
        if (yb > ya) addRowPiece(r, cells, touched, xa, xb, dir * (yb - ya));
        ya = yb;
        xa = xb;
    }
    firstDirtyRow_ = std::min(firstDirtyRow_, first);
    lastDirtyRow_ = std::max(lastDirtyRow_, last);
}

// The part of an edge within one row, from x = xa to xb, `height` rows tall (signed by its direction).
// Each pixel it crosses gets the share of the height that lies to its right; pixels further right get
// the whole height through the running sum. Whatever lies left of the picture counts whole at its first
// pixel, whatever lies right of it in the cell past the last.
inline void CoverageRaster::addRowPiece(int row, float* c, std::uint64_t* bits, double xa, double xb, double height) {
    if (xa > xb) std::swap(xa, xb);
    const double W = width_;
    int lo = width_, hi = 0;
    auto touch = [&](int k) { bits[k >> 6] |= std::uint64_t{1} << (k & 63); };
    auto inPixel = [&](int k, double h, double mid) {  // `mid`: where the piece stands within pixel k
        c[k] += static_cast<float>(h * (1 - mid));
        c[k + 1] += static_cast<float>(h * mid);
        if ((k & 63) != 63) {
            bits[k >> 6] |= std::uint64_t{3} << (k & 63);
        } else {
            touch(k);
            touch(k + 1);
        }
        lo = std::min(lo, k);
        hi = std::max(hi, k + 1);
    };
    auto whole = [&](int k, double h) {
        c[k] += static_cast<float>(h);
        touch(k);
        lo = std::min(lo, k);
        hi = std::max(hi, k);
    };
    const double span = xb - xa;
    if (xa >= 0 && xb < W && static_cast<int>(xa) == static_cast<int>(xb)) {
        // Within one pixel: all but flat edges, most of the time.
        const int k = static_cast<int>(xa);
        inPixel(k, height, (xa + xb) * 0.5 - k);
    } else if (!(span > 1e-9)) {
        const double x = (xa + xb) * 0.5;
        if (x < 0) whole(0, height);
        else if (x >= W) whole(width_, height);
        else inPixel(static_cast<int>(x), height, x - static_cast<int>(x));
    } else {
        const double perX = height / span;
        if (xa < 0) whole(0, perX * (std::min(xb, 0.0) - xa));
        if (xb > W) whole(width_, perX * (xb - std::max(xa, W)));
        const double to = std::min(xb, W);
        for (double s = std::max(xa, 0.0); s < to;) {
            const int k = static_cast<int>(s);
            const double e = std::min(k + 1.0, to);
            inPixel(k, perX * (e - s), (s + e) * 0.5 - k);
            s = e;
        }
    }
    Dirty& d = dirty_[static_cast<std::size_t>(row)];
    d.from = std::min(d.from, lo);
    d.to = std::max(d.to, hi);
}

template <class Span, class One> void CoverageRaster::resolve(Span&& span, One&& one) {
    auto level = [](float sum) {
        const float coverage = std::min(1.0f, std::fabs(sum));
        return coverage > kNoCoverage ? static_cast<std::uint32_t>(coverage * 255.0f + 0.5f) : 0u;
    };
    for (int r = firstDirtyRow_; r <= lastDirtyRow_; ++r) {
        Dirty& d = dirty_[static_cast<std::size_t>(r)];
        if (d.to < 0) continue;
        float* c = cells_.data() + static_cast<std::size_t>(r) * static_cast<std::size_t>(width_ + 2);
        std::uint64_t* bits = touched_.data() + static_cast<std::size_t>(r) * static_cast<std::size_t>(wordsPerRow_);
        std::uint32_t* px = pixels_ + static_cast<std::size_t>(r) * static_cast<std::size_t>(width_);
        float sum = 0;
        int next = d.from;  // the first pixel not yet painted
        for (int w = d.from >> 6; w <= d.to >> 6; ++w) {
            for (std::uint64_t word = bits[w]; word != 0; word &= word - 1) {
                const int cell = (w << 6) + std::countr_zero(word);
                // Untouched pixels between two touched cells all have the coverage left by the first.
                if (cell > next && next < width_)
                    if (const std::uint32_t cover = level(sum)) span(px + next, std::min(cell, width_) - next, cover);
                sum += c[cell];
                c[cell] = 0;
                if (cell < width_)
                    if (const std::uint32_t cover = level(sum)) one(px[cell], cover);
                next = cell + 1;
            }
            bits[w] = 0;
        }
        d = Dirty{INT_MAX, -1};
    }
    firstDirtyRow_ = rows_;
    lastDirtyRow_ = -1;
}

void CoverageRaster::paint(std::uint32_t color) {
    const std::uint32_t ca = channel(color, 24);
    auto blend = [&](std::uint32_t& p, std::uint32_t cover) {
        if (cover == 255 && ca == 255) {
            p = color;
            return;
        }
        p = over(p, scaled(color, cover));
    };
    resolve(
        [&](std::uint32_t* p, int count, std::uint32_t cover) {
            if (cover == 255 && ca == 255) {
                std::fill(p, p + count, color);
                return;
            }
            const std::uint32_t top = scaled(color, cover);
            for (int i = 0; i < count; ++i) p[i] = over(p[i], top);
        },
        blend);
}

void CoverageRaster::erase() {
    auto cut = [](std::uint32_t& p, std::uint32_t cover) { p = scaled(p, 255 - cover); };
    resolve(
        [&](std::uint32_t* p, int count, std::uint32_t cover) {
            if (cover == 255) {
                std::fill(p, p + count, 0u);
                return;
            }
            for (int i = 0; i < count; ++i) cut(p[i], cover);
        },
        cut);
}

std::uint32_t CoverageRaster::premultiplied(double r, double g, double b, double a) {
    auto unit = [](double v) { return std::isfinite(v) ? std::clamp(v, 0.0, 1.0) : 0.0; };
    const double alpha = unit(a);
    auto byte = [](double v) { return static_cast<std::uint32_t>(std::lround(v * 255.0)); };
    return byte(alpha) << 24 | byte(unit(r) * alpha) << 16 | byte(unit(g) * alpha) << 8 | byte(unit(b) * alpha);
}

void CoverageRaster::layOver(std::uint32_t* target, const std::uint32_t* layer, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t s = layer[i];
        const std::uint32_t sa = s >> 24;
        if (sa == 0) continue;
        if (sa == 255) {
            target[i] = s;
            continue;
        }
        target[i] = over(target[i], s);
    }
}

} // namespace corvane
