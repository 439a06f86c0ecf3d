#include "Thumbnailer.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <exception>
#include <iostream>
#include <new>
#include <optional>

#include "BoardHeap.hpp"
#include "CpuDeadline.hpp"
#include "render/SoftwareRenderer.hpp"
#include "import/PackageImporter.hpp"
#include "model/Format.hpp"

namespace corvane {

namespace {

// The thumbnail's picture, or why there is none.
struct Thumbnail {
    std::optional<RasterImage> image;
    std::string error;
};

Thumbnail drawThumbnail(const std::filesystem::path& input, int size) {
    PCBPackage package;
    try {
        package = PackageImporter{.hashFiles = false, .readInParts = true}.importAny(input);
    } catch (const std::exception& e) {
        return {std::nullopt, e.what()};
    }
    const BBox box = package.boardBBox();
    if (!box.isValid()) return {std::nullopt, "Could not render this board."};
    // Keep the board's aspect within the square the thumbnail cache asks for. The ratio comes first: the
    // size times a side of a stray board's box is past the largest double.
    const double bw = box.width() + 4, bh = box.height() + 4;
    double w = size, h = size;
    if (bw > bh) h = std::max(8.0, std::floor(size * (bh / bw)));
    else w = std::max(8.0, std::floor(size * (bw / bh)));
    SoftwareRenderer renderer;
    auto image = renderer.render(package, SizePx{w, h}, std::nullopt, false);
    if (!image) return {std::nullopt, "Could not render this board."};
    return {std::move(image), {}};
}

} // namespace

bool writeThumbnail(const std::filesystem::path& input, const std::filesystem::path& output, int size,
                    std::string& error) {
    if (size <= 4) size = 256;
    size = std::min(size, 4096);
    std::optional<Thumbnail> drawn;
    try {
        drawn = runWithinCpuTime<Thumbnail>([input, size] { return drawThumbnail(input, size); });
    } catch (const std::bad_alloc&) {
        error = "The board needs too much memory to draw.";
        return false;
    }
    if (!drawn) {
        error = "The board takes too long to draw.";
        return false;
    }
    if (!drawn->image) {
        error = drawn->error;
        return false;
    }
    if (!drawn->image->writePNG(output)) {
        error = "Could not write " + output.string();
        return false;
    }
    return true;
}

int runThumbnailer(std::span<char* const> args, const std::string& name, const std::string& usage) {
    if (args.size() != 3) {
        std::cerr << usage << "\n";
        return 2;
    }
    std::int64_t size = 0;
    if (!parseInt64(args[2], size) || size <= 0) size = 256;
    size = std::min<std::int64_t>(size, 4096);
    prepareHeapForBoard(args[0], static_cast<std::uint64_t>(4 * size * size));
    std::string error;
    if (!writeThumbnail(args[0], args[1], static_cast<int>(size), error)) {
        std::cerr << name << ": " << error << std::endl;
        return endProcess(1);
    }
    return endProcess(0);
}

} // namespace corvane
