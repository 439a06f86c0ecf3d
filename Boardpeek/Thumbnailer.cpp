#include "Thumbnailer.hpp"

#include <algorithm>
#include <cmath>
#include <exception>

#include "analysis/CGRenderer.hpp"
#include "import/PackageImporter.hpp"

namespace corvane {

bool writeThumbnail(const std::filesystem::path& input, const std::filesystem::path& output, int size,
                    std::string& error) {
    if (size <= 4) size = 256;
    size = std::min(size, 4096);
    PCBPackage package;
    try {
        package = PackageImporter{}.importAny(input);
    } catch (const std::exception& e) {
        error = e.what();
        return false;
    }
    const BBox box = package.boardBBox();
    if (!box.isValid()) {
        error = "Could not render this board.";
        return false;
    }
    // Keep the board's aspect within the square the thumbnail cache asks for.
    const double bw = box.width() + 4, bh = box.height() + 4;
    double w = size, h = size;
    if (bw > bh) h = std::max(8.0, std::floor(size * bh / bw));
    else w = std::max(8.0, std::floor(size * bw / bh));
    CGRenderer renderer;
    auto image = renderer.render(package, SizePx{w, h}, std::nullopt, false);
    if (!image) {
        error = "Could not render this board.";
        return false;
    }
    if (!image->writePNG(output)) {
        error = "Could not write " + output.string();
        return false;
    }
    return true;
}

} // namespace corvane
