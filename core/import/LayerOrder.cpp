#include "LayerOrder.hpp"

#include <limits>
#include <variant>

#include "model/Overloaded.hpp"

namespace corvane {

namespace {

// Inner layer numbers come from file names and attributes: saturate rather than wrap.
std::int64_t copperRank(const CopperLayerID& side) {
    std::int64_t rank = 0;
    if (__builtin_add_overflow(std::int64_t{100}, side.sortOrder(), &rank))
        return std::numeric_limits<std::int64_t>::max();
    return rank;
}

} // namespace

std::int64_t layerOrder(const LayerType& type) {
    return std::visit(Overloaded{[](const LayerType::Copper& c) { return copperRank(c.side); },
                                 [](const LayerType::SolderMask&) { return std::int64_t{200}; },
                                 [](const LayerType::Paste&) { return std::int64_t{300}; },
                                 [](const LayerType::Silkscreen&) { return std::int64_t{400}; },
                                 [](const LayerType::Outline&) { return std::int64_t{500}; },
                                 [](const LayerType::Drill&) { return std::int64_t{600}; },
                                 [](const LayerType::Unknown&) { return std::int64_t{900}; }},
                      type.value);
}

} // namespace corvane
