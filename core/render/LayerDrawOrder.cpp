#include "LayerDrawOrder.hpp"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <numeric>

namespace corvane {

namespace {

// Depth below the top face: top silkscreen 0, paste 1, mask 2, copper 3, inner n at 3 + n, then bottom copper,
// mask, paste and silkscreen. Inner numbers come from files, so they are held below the bottom's depth.
constexpr std::int64_t kTopCopperDepth = 3;
constexpr std::int64_t kBottomCopperDepth = std::int64_t{1} << 40;

std::int64_t sideDepth(const CopperLayerID& side, std::int64_t outward) {
    if (side.as<CopperLayerID::Top>()) return kTopCopperDepth - outward;
    if (side.as<CopperLayerID::Bottom>()) return kBottomCopperDepth + outward;
    const std::int64_t n = side.as<CopperLayerID::Inner>()->number;
    return kTopCopperDepth + std::clamp<std::int64_t>(n, 1, kBottomCopperDepth - kTopCopperDepth - 1);
}

struct Rank {
    int group = 0;            // 0 sided layers, then outline, drill, unknown
    std::int64_t depth = 0;   // distance from the viewer, farthest first within the sided group
    bool operator<(const Rank& o) const { return group != o.group ? group < o.group : depth > o.depth; }
};

Rank rankOf(const LayerType& type, ViewedSide viewed) {
    const auto sided = [viewed](const CopperLayerID& side, std::int64_t outward) {
        const std::int64_t depth = sideDepth(side, outward);
        return Rank{0, viewed == ViewedSide::top ? depth : kBottomCopperDepth + kTopCopperDepth - depth};
    };
    if (const auto* c = type.as<LayerType::Copper>()) return sided(c->side, 0);
    if (const auto* m = type.as<LayerType::SolderMask>()) return sided(m->side, 1);
    if (const auto* p = type.as<LayerType::Paste>()) return sided(p->side, 2);
    if (const auto* s = type.as<LayerType::Silkscreen>()) return sided(s->side, 3);
    if (type.isOutline()) return Rank{1, 0};
    if (type.isDrill()) return Rank{2, 0};
    return Rank{3, 0};
}

} // namespace

std::vector<std::size_t> layerDrawOrder(const std::vector<LayerType>& types, ViewedSide side) {
    std::vector<Rank> ranks;
    ranks.reserve(types.size());
    for (const auto& t : types) ranks.push_back(rankOf(t, side));
    std::vector<std::size_t> order(types.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return ranks[a] < ranks[b]; });
    return order;
}

} // namespace corvane
