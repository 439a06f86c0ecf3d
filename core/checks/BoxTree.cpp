#include "BoxTree.hpp"

#include <cmath>

namespace corvane::tree {

namespace {

// Bits per axis of the curve key: a cell of 2^-21 of the spread keeps neighbours apart on any board.
constexpr int kKeyBits = 21;

// The cell of v along an axis spread from lo over `span`, 0 … 2^21 − 1 (0 for what cannot be placed).
std::uint64_t cellAlong(double v, double lo, double span) {
    const double t = span > 0 ? (v - lo) / span : 0.0;
    if (!(t > 0)) return 0;
    constexpr double top = static_cast<double>((1u << kKeyBits) - 1);
    return t >= 1 ? static_cast<std::uint64_t>(top) : static_cast<std::uint64_t>(t * top);
}

// The bits of v spread to every third place.
std::uint64_t spread(std::uint64_t v) {
    v &= 0x1FFFFF;
    v = (v | v << 32) & 0x1F00000000FFFFULL;
    v = (v | v << 16) & 0x1F0000FF0000FFULL;
    v = (v | v << 8) & 0x100F00F00F00F00FULL;
    v = (v | v << 4) & 0x10C30C30C30C30C3ULL;
    v = (v | v << 2) & 0x1249249249249249ULL;
    return v;
}

} // namespace

// Items sorted along a Z-order curve of their box centres, then halved down to small leaves:
// neighbours on the board are neighbours in the order, and the tree costs one sort.
void BoxTree::build(std::span<const BBox> boxes) {
    nodes_.clear();
    items_.clear();
    boxes_.clear();
    if (boxes.empty()) return;
    BBox all = BBox::empty();
    for (const BBox& b : boxes) all.include(b.center());
    std::vector<std::pair<std::uint64_t, std::uint32_t>> keyed(boxes.size());
    for (std::uint32_t k = 0; k < boxes.size(); ++k) {
        const Vec2 c = boxes[k].center();
        const std::uint64_t x = cellAlong(c.x, all.minX, all.width());
        const std::uint64_t y = cellAlong(c.y, all.minY, all.height());
        keyed[k] = {spread(x) | spread(y) << 1, k};
    }
    std::sort(keyed.begin(), keyed.end());
    items_.resize(boxes.size());
    boxes_.resize(boxes.size());
    for (std::size_t k = 0; k < keyed.size(); ++k) {
        items_[k] = keyed[k].second;
        boxes_[k] = boxes[items_[k]];
    }
    nodes_.reserve(2 * (boxes.size() / kLeafSize + 1));
    nodes_.push_back(Node{BBox::empty(), 0, static_cast<std::uint32_t>(items_.size())});
    for (std::size_t n = 0; n < nodes_.size(); ++n) {
        const std::uint32_t begin = nodes_[n].begin, end = nodes_[n].end;
        if (end - begin <= kLeafSize) continue;
        const std::uint32_t mid = begin + (end - begin) / 2;
        nodes_[n].left = static_cast<std::uint32_t>(nodes_.size());
        nodes_.push_back(Node{BBox::empty(), begin, mid});
        nodes_[n].right = static_cast<std::uint32_t>(nodes_.size());
        nodes_.push_back(Node{BBox::empty(), mid, end});
    }
    // Children come after their parents: boxes from the back.
    for (std::size_t n = nodes_.size(); n-- > 0;) {
        Node& node = nodes_[n];
        if (node.isLeaf()) {
            for (std::uint32_t k = node.begin; k < node.end; ++k) node.box.include(boxes_[k]);
        } else {
            node.box = nodes_[node.left].box;
            node.box.include(nodes_[node.right].box);
        }
    }
}

} // namespace corvane::tree
