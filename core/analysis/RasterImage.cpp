#include "RasterImage.hpp"

#include <cairo.h>

#include "import/FileIO.hpp"

namespace corvane {

RasterImage::RGBA RasterImage::rgba(int x, int y) const {
    const std::uint32_t p = pixel(x, y);
    const int a = static_cast<int>((p >> 24) & 0xFF);
    auto un = [a](std::uint32_t c) { return a == 0 ? 0 : static_cast<int>((c * 255 + a / 2) / a); };
    return RGBA{un((p >> 16) & 0xFF), un((p >> 8) & 0xFF), un(p & 0xFF), a};
}

namespace {
cairo_status_t appendBytes(void* closure, const unsigned char* data, unsigned int length) {
    static_cast<std::vector<std::uint8_t>*>(closure)->insert(static_cast<std::vector<std::uint8_t>*>(closure)->end(),
                                                              data, data + length);
    return CAIRO_STATUS_SUCCESS;
}
} // namespace

std::optional<std::vector<std::uint8_t>> RasterImage::pngData() const {
    if (!pixels || width <= 0 || height <= 0) return std::nullopt;
    const int stride = cairo_format_stride_for_width(CAIRO_FORMAT_ARGB32, width);
    if (stride != width * 4) return std::nullopt;
    cairo_surface_t* surface = cairo_image_surface_create_for_data(
        reinterpret_cast<unsigned char*>(const_cast<std::uint32_t*>(pixels->data())), CAIRO_FORMAT_ARGB32, width,
        height, stride);
    std::vector<std::uint8_t> png;
    const bool ok = cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS &&
                    cairo_surface_write_to_png_stream(surface, appendBytes, &png) == CAIRO_STATUS_SUCCESS;
    cairo_surface_destroy(surface);
    if (!ok) return std::nullopt;
    return png;
}

bool RasterImage::writePNG(const std::filesystem::path& path) const {
    const auto png = pngData();
    if (!png) return false;
    try {
        atomicWriteFile(path, *png);
        return true;
    } catch (const FileWriteError&) {
        return false;
    }
}

} // namespace corvane
