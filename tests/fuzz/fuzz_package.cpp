// Any bytes handed to the importer as a ZIP package end in a package or an error, never a crash, a
// sanitizer report or memory past the import's ceilings: listing, name filter, classifier, the
// Gerber and Excellon readers, ODB++ jobs inside a ZIP and the cross-file warnings, end to end.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "import/PackageImporter.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const corvane::Bytes bytes(data, data + size);
    try {
        const corvane::PCBPackage package = corvane::PackageImporter{}.importZIPData(bytes, "fuzz.zip");
        // What comes back is drawable: finite objects and boxes only.
        const corvane::BBox box = package.boardBBox();
        if (box.isValid() && !box.isFinite()) std::abort();
        for (const auto& f : package.files)
            if (f.gerber)
                for (const auto& o : f.gerber->objects)
                    if (!o.isFinite()) std::abort();
    } catch (const corvane::CorvaneError&) {
    }
    return 0;
}
