#pragma once
// A static tree of boxes for the copper searches: which clear objects lie near a box, and which two
// pieces of different conductors come closest.
//
// Unlike a uniform grid it never walks empty space, so copper spread over a huge plane, or a
// layer that is one large conductor, costs no more than its pieces; and a pair of nodes can be
// dropped whole, with everything below them, when the caller knows their pieces cannot matter.
#include <algorithm>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "CopperBodies.hpp"
#include "model/Geometry.hpp"

namespace corvane::tree {

struct Node {
    BBox box;
    std::uint32_t begin = 0, end = 0;   // the node's items, as a range of BoxTree::items()
    std::uint32_t left = 0, right = 0;  // its children; 0 for a leaf (the root is no one's child)

    bool isLeaf() const { return left == 0; }
};

class BoxTree {
public:
    // Builds the tree over items 0 … boxes.size() − 1. Parents come before their children in nodes().
    void build(std::span<const BBox> boxes);

    std::span<const Node> nodes() const { return nodes_; }
    std::span<const std::uint32_t> items() const { return items_; }

    // Calls visit(item) for every item whose box lies no farther than `reach` from `box`. Returns
    // true as soon as visit returns true or `stop`, polled now and then, does.
    template <class Visit, class Stop>
    bool near(const BBox& box, double reach, Visit&& visit, Stop&& stop) const {
        if (nodes_.empty()) return false;
        std::vector<std::uint32_t> stack{0};
        std::uint32_t work = 0;
        while (!stack.empty()) {
            const Node& n = nodes_[stack.back()];
            stack.pop_back();
            if (++work >= kWorkPerPoll) {
                work = 0;
                if (stop()) return true;
            }
            if (boxGap(box, n.box) > reach) continue;
            if (n.isLeaf()) {
                for (std::uint32_t k = n.begin; k < n.end; ++k)
                    if (boxGap(box, boxes_[k]) <= reach && visit(items_[k])) return true;
                continue;
            }
            stack.push_back(n.right);
            stack.push_back(n.left);
        }
        return false;
    }

    // Walks the pairs of nodes below `start` whose boxes lie closer than wanted, nearest first: a
    // pair is dropped when keep(gap of their boxes) is false or skip(a, b) is true, and every pair
    // of leaves left is handed to leaves(a, b), a == b for a leaf with itself (whose item pairs the
    // caller takes once each). keep may tighten as the walk goes. Returns false when `stop`, polled
    // now and then, ended the walk.
    template <class Keep, class Skip, class Leaves, class Stop>
    bool pairsFrom(std::pair<std::uint32_t, std::uint32_t> start, Keep&& keep, Skip&& skip, Leaves&& leaves,
                   Stop&& stop) const {
        if (nodes_.empty()) return true;
        std::vector<std::pair<std::uint32_t, std::uint32_t>> stack{start};
        std::uint32_t work = 0;
        while (!stack.empty()) {
            const auto [a, b] = stack.back();
            stack.pop_back();
            if (++work >= kWorkPerPoll) {
                work = 0;
                if (stop()) return false;
            }
            const Node& na = nodes_[a];
            const Node& nb = nodes_[b];
            if (!keep(boxGap(na.box, nb.box)) || skip(a, b)) continue;
            if (na.isLeaf() && nb.isLeaf()) {
                leaves(a, b);
                continue;
            }
            pushChildPairs(a, b, stack);
        }
        return true;
    }

    // Pairs of nodes that together cover every pair the walk from the root would meet, at least
    // `count` of them unless the tree is smaller: starts for walks on several threads.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> startPairs(std::size_t count) const {
        std::vector<std::pair<std::uint32_t, std::uint32_t>> out;
        if (nodes_.empty()) return out;
        out.emplace_back(0, 0);
        for (std::size_t k = 0; k < out.size() && out.size() < count;) {
            const auto [a, b] = out[k];
            if (nodes_[a].isLeaf() && nodes_[b].isLeaf()) {
                ++k;
                continue;
            }
            out.erase(out.begin() + static_cast<std::ptrdiff_t>(k));
            pushChildPairs(a, b, out);
        }
        return out;
    }

    // The box of items()[k], kept beside it for the leaves' tests.
    const BBox& boxAt(std::uint32_t k) const { return boxes_[k]; }

private:
    static constexpr std::uint32_t kLeafSize = 8;
    static constexpr std::uint32_t kWorkPerPoll = 1024;

    // A node paired with itself gives its children's three pairs; otherwise the larger node is
    // split. The nearer pair goes on top, so that it is walked first.
    void pushChildPairs(std::uint32_t a, std::uint32_t b, std::vector<std::pair<std::uint32_t, std::uint32_t>>& stack) const {
        const Node& na = nodes_[a];
        const Node& nb = nodes_[b];
        if (a == b) {
            stack.emplace_back(na.left, na.right);
            stack.emplace_back(na.right, na.right);
            stack.emplace_back(na.left, na.left);
            return;
        }
        const bool splitA = nb.isLeaf() || (!na.isLeaf() && na.end - na.begin >= nb.end - nb.begin);
        const Node& split = splitA ? na : nb;
        const Node& other = splitA ? nb : na;
        const std::uint32_t o = splitA ? b : a;
        auto pair = [&](std::uint32_t child) { return splitA ? std::pair{child, o} : std::pair{o, child}; };
        const bool leftNearer = boxGap(nodes_[split.left].box, other.box) <= boxGap(nodes_[split.right].box, other.box);
        stack.push_back(pair(leftNearer ? split.right : split.left));
        stack.push_back(pair(leftNearer ? split.left : split.right));
    }

    std::vector<Node> nodes_;
    std::vector<std::uint32_t> items_;
    std::vector<BBox> boxes_;  // boxes_[k] is the box of items_[k]
};

// Per node, the fold by `join` of `of(item)` over its items: computed from the leaves up.
template <class T, class Of, class Join>
std::vector<T> summarise(const BoxTree& t, Of&& of, Join&& join) {
    const auto nodes = t.nodes();
    std::vector<T> value(nodes.size());
    for (std::size_t n = nodes.size(); n-- > 0;) {
        const Node& node = nodes[n];
        if (!node.isLeaf()) {
            value[n] = join(value[node.left], value[node.right]);
            continue;
        }
        value[n] = of(t.items()[node.begin]);
        for (std::uint32_t k = node.begin + 1; k < node.end; ++k) value[n] = join(value[n], of(t.items()[k]));
    }
    return value;
}

// Calls f(x, y) for the pairs of positions in items() of two leaves, each pair once when a leaf
// meets itself.
template <class F>
void forEachLeafPair(const BoxTree& t, std::uint32_t a, std::uint32_t b, F&& f) {
    const Node& na = t.nodes()[a];
    const Node& nb = t.nodes()[b];
    for (std::uint32_t x = na.begin; x < na.end; ++x)
        for (std::uint32_t y = a == b ? x + 1 : nb.begin; y < nb.end; ++y) f(x, y);
}

} // namespace corvane::tree
