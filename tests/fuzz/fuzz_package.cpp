// Any bytes handed to the importer as a ZIP package end in a package or an error, never a crash, a
// sanitizer report or memory past the import's ceilings: listing, name filter, classifier, the
// Gerber and Excellon readers, ODB++ jobs inside a ZIP and the cross-file warnings, end to end.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "import/PackageImporter.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const corvane::Bytes bytes(data, data + size);
    try {
        const corvane::PCBPackage package = corvane::PackageImporter{}.importZIPData(bytes, "fuzz.zip");
        // What comes back is drawable: finite boxes only.
        const corvane::BBox box = package.boardBBox();
        if (box.isValid() && !(std::isfinite(box.minX) && std::isfinite(box.maxX) && std::isfinite(box.minY) &&
                               std::isfinite(box.maxY)))
            std::abort();
    } catch (const corvane::CorvaneError&) {
    }
    return 0;
}
