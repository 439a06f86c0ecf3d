#include "RasterImage.hpp"

#include <cairo.h>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace corvane {

RasterImage::RGBA RasterImage::rgba(int x, int y) const {
    const std::uint32_t p = pixel(x, y);
    const int a = static_cast<int>((p >> 24) & 0xFF);
    auto un = [a](std::uint32_t c) { return a == 0 ? 0 : static_cast<int>((c * 255 + a / 2) / a); };
    return RGBA{un((p >> 16) & 0xFF), un((p >> 8) & 0xFF), un(p & 0xFF), a};
}

namespace {
cairo_status_t writeToFd(void* closure, const unsigned char* data, unsigned int length) {
    const int fd = *static_cast<int*>(closure);
    while (length > 0) {
        const ssize_t n = ::write(fd, data, length);
        if (n < 0) return CAIRO_STATUS_WRITE_ERROR;
        data += n;
        length -= static_cast<unsigned int>(n);
    }
    return CAIRO_STATUS_SUCCESS;
}
} // namespace

bool RasterImage::writePNG(const std::filesystem::path& path) const {
    if (!pixels || width <= 0 || height <= 0) return false;
    const int stride = cairo_format_stride_for_width(CAIRO_FORMAT_ARGB32, width);
    if (stride != width * 4) return false;
    cairo_surface_t* surface = cairo_image_surface_create_for_data(
        reinterpret_cast<unsigned char*>(const_cast<std::uint32_t*>(pixels->data())), CAIRO_FORMAT_ARGB32, width,
        height, stride);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(surface);
        return false;
    }
    const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
    std::string tmpl = (folder / ".boardpng-XXXXXX").string();
    int fd = ::mkstemp(tmpl.data());
    if (fd < 0) {
        cairo_surface_destroy(surface);
        return false;
    }
    bool ok = cairo_surface_write_to_png_stream(surface, writeToFd, &fd) == CAIRO_STATUS_SUCCESS;
    cairo_surface_destroy(surface);
    ok = ok && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && ::fchmodat(AT_FDCWD, tmpl.c_str(), 0644, 0) == 0;
    ok = ok && std::rename(tmpl.c_str(), path.c_str()) == 0;
    if (!ok) ::unlink(tmpl.c_str());
    return ok;
}

} // namespace corvane
