#include <limits>

#include "PackageImporter.hpp"

namespace corvane {

std::int64_t PackageImporter::layerOrder(const LayerType& type) {
    switch (type.value.index()) {
    case 0: {
        // Inner layer numbers come from file names and attributes: saturate rather than wrap.
        std::int64_t rank = 0;
        if (__builtin_add_overflow(std::int64_t{100}, type.as<LayerType::Copper>()->side.sortOrder(), &rank))
            return std::numeric_limits<std::int64_t>::max();
        return rank;
    }
    case 1: return 200;  // solder mask
    case 2: return 400;  // silkscreen
    case 3: return 300;  // paste
    case 4: return 500;  // outline
    case 5: return 600;  // drill
    default: return 900; // unknown
    }
}

} // namespace corvane
