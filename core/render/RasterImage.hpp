#pragma once
// A finished bitmap: premultiplied native-endian ARGB32 pixels, row after row, no padding.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

namespace corvane {

struct RasterImage {
    int width = 0;
    int height = 0;
    std::shared_ptr<const std::vector<std::uint32_t>> pixels;

    std::uint32_t pixel(int x, int y) const { return (*pixels)[static_cast<std::size_t>(y) * width + x]; }
    // Un-premultiplied 8-bit channels of one pixel.
    struct RGBA { int r, g, b, a; };
    RGBA rgba(int x, int y) const;

    // The picture as PNG file bytes; absent when it cannot be encoded.
    std::optional<std::vector<std::uint8_t>> pngData() const;
    // Writes a PNG through a temporary file in the target's folder renamed into place, so a reader
    // never sees half a file and a link planted at the path is replaced, not followed. A picture is cheap
    // to make again, so the write is not flushed to disk before it returns.
    // Returns false when anything fails; nothing is left behind then.
    bool writePNG(const std::filesystem::path& path) const;
};

} // namespace corvane
