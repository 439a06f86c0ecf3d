#include "CopperSpacing.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <new>
#include <numeric>
#include <unordered_map>

#include "BoxTree.hpp"
#include "CopperFilms.hpp"
#include "model/ParallelFor.hpp"

namespace corvane::spacing {

namespace {

using copper::LayerCopper;

constexpr double kInf = std::numeric_limits<double>::infinity();
// Copper that touches a gap's straight line closer than this to either end does not stand between
// the pair: it meets the pair's own copper there.
constexpr double kBetweenMarginMM = copper::kTouchMM;
// Findings of the same two conductors closer together than this are one place, reported once
// with its smallest gap: a pad painted as parallel strokes against a track, a hatched pour around
// one clearance, a straight run meeting its arc, a neck beside a wider gap. Findings chain: a run
// of too-close copper is one place, however long. Two places this close apart are one to a
// reviewer, and copper of other conductors between them makes findings of their own.
constexpr double kOnePlaceMM = 0.5;
// The grid of the summary's build, which joins touching copper; its search runs on the tree.
constexpr double kSummaryCellMM = 0.5;

Vec2 midpoint(const Vec2& a, const Vec2& b) { return Vec2{(a.x + b.x) * 0.5, (a.y + b.y) * 0.5}; }

Vec2 findingPosition(const copper::Piece& a, const copper::Piece& b, const CopperGap& g) {
    const bool bothBoxes = a.body.shape == CopperBody::Shape::box && b.body.shape == CopperBody::Shape::box;
    if (bothBoxes || g.gap > 1e-9) return midpoint(g.onFirst, g.onSecond);
    return midpoint(a.body.center(), b.body.center());
}

CheckIssue spacingIssue(double gap, double limit, const Vec2& position, const std::string& fileName) {
    return CheckIssue{"minSpaceBelowPreset",
                      CheckSeverity::error,
                      "Spacing below preset",
                      "Copper spacing " + formatFixed(gap, 3) + " mm is below the preset minimum " +
                          formatFixed(limit, 3) + " mm.",
                      fileName,
                      position};
}

std::function<bool()> pastDeadline(Clock::time_point deadline) {
    return [deadline] { return Clock::now() >= deadline; };
}

bool holdsCopper(const PackageFile& f) { return f.layerType.isCopper() && f.gerber && f.gerber->objects.size() >= 2; }

// The layers in the order to start them on the pool: the largest first, so that the last to
// finish is a small one.
template <class Size>
std::vector<std::size_t> largestFirst(std::size_t count, Size&& size) {
    std::vector<std::size_t> order(count);
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return size(a) > size(b); });
    return order;
}

// A piece of either conductor's own copper that the straight gap between pieces i and j passes
// through, with the end of the pair it stands in for: it is nearer to the other end.
struct Between {
    std::uint32_t piece = 0;
    bool forFirst = true;
};
std::optional<Between> ownCopperBetween(const LayerCopper& layer, std::uint32_t i, std::uint32_t j, const CopperGap& g,
                                        const std::function<bool()>& stop) {
    if (!(g.gap > 2 * kBetweenMarginMM)) return std::nullopt;
    const Vec2 u = (g.onSecond - g.onFirst) * (1.0 / g.gap);
    const auto line = CopperBodySet::capsule(g.onFirst + u * kBetweenMarginMM, g.onSecond - u * kBetweenMarginMM, 0.0);
    if (!line) return std::nullopt;
    const std::uint32_t ii = layer.island[i], ij = layer.island[j];
    std::optional<Between> found;
    grid::walkWindow(
        layer.grid, layer.oversized, grid::rangeOf(line->box, layer.cell), static_cast<std::uint32_t>(layer.pieces.size()),
        [&](std::uint32_t k) {
            if (k == i || k == j) return false;
            const std::uint32_t ik = layer.island[k];
            // The pair it makes with the other end must be one the check measures.
            const bool forFirst = ik == ii && layer.mayViolate(k, j);
            const bool forSecond = ik == ij && layer.mayViolate(i, k);
            if (!(forFirst || forSecond) || boxGap(line->box, layer.pieces[k].box()) > 0) return false;
            if (!(layer.bodies.gap(*line, layer.pieces[k].body, kBetweenMarginMM).gap <= 1e-9)) return false;
            found = Between{k, forFirst};
            return true;
        },
        stop);
    return found;
}

// The pair (i, j) at gap g, moved onto the nearer copper of their own conductors wherever its gap
// runs through such copper: the conductors' true gap at this place, and where it lies.
struct PlacedGap {
    std::uint32_t first = 0, second = 0;
    CopperGap gap;
};
PlacedGap gapAtThisPlace(const LayerCopper& layer, std::uint32_t i, std::uint32_t j, CopperGap g,
                         const std::function<bool()>& stop) {
    // Each step halves nothing but strictly narrows the gap; a few are all real copper needs.
    constexpr int kMaxSteps = 8;
    for (int step = 0; step < kMaxSteps; ++step) {
        const auto between = ownCopperBetween(layer, i, j, g, stop);
        if (!between) break;
        (between->forFirst ? i : j) = between->piece;
        g = layer.bodies.gap(layer.pieces[i].body, layer.pieces[j].body);
    }
    return PlacedGap{i, j, g};
}

// The two conductors a gap lies between: their islands, or, within one island, their known nets
// (a short).
struct ConductorPair {
    std::uint32_t first = 0, second = 0;
    bool byNet = false;
    bool operator==(const ConductorPair&) const = default;
};

ConductorPair conductorsOf(const LayerCopper& layer, std::uint32_t i, std::uint32_t j) {
    std::uint32_t a = layer.island[i], b = layer.island[j];
    const bool byNet = a == b;
    if (byNet) {
        a = static_cast<std::uint32_t>(layer.pieces[i].net);
        b = static_cast<std::uint32_t>(layer.pieces[j].net);
    }
    return ConductorPair{std::min(a, b), std::max(a, b), byNet};
}

// The findings of one layer as the pairs are met, one per place (see kOnePlaceMM), each measured
// between the nearest copper of its two conductors there. A place stands in the list where its
// first finding was met.
class FindingList {
public:
    FindingList(const LayerCopper& layer, double limit, std::size_t maxIssues, const std::string& fileName,
                const std::function<bool()>& stop)
        : layer_(layer), limit_(limit), maxIssues_(maxIssues), fileName_(fileName), stop_(stop) {}

    // Offers the pair (i, j) at gap g, found at `where` if given; true once the list holds
    // maxIssues places. A pair whose gap runs through its own conductors' copper is reported where
    // that nearer copper stands, with its gap.
    bool offer(std::uint32_t i, std::uint32_t j, const CopperGap& g, std::optional<Vec2> where = std::nullopt) {
        const ConductorPair pair = conductorsOf(layer_, i, j);
        const Vec2 at = where.value_or(findingPosition(layer_.pieces[i], layer_.pieces[j], g));
        std::uint32_t place = join(pair, at);
        if (places_[place].issue && !(g.gap < places_[place].gap)) return livePlaces_ >= maxIssues_;
        const PlacedGap placed = gapAtThisPlace(layer_, i, j, g, stop_);
        const Vec2 shown = where.value_or(findingPosition(layer_.pieces[placed.first], layer_.pieces[placed.second], placed.gap));
        // The place reaches where it is shown too: a finding met there later is the same place.
        if (!(shown == at)) place = merge(place, join(pair, shown));
        Place& p = places_[place];
        if (!p.issue || placed.gap.gap < p.gap) {
            p.gap = placed.gap.gap;
            p.issue = spacingIssue(p.gap, limit_, shown, fileName_);
        }
        return livePlaces_ >= maxIssues_;
    }

    std::vector<CheckIssue> take() {
        std::vector<CheckIssue> issues;
        for (std::uint32_t k = 0; k < places_.size(); ++k)
            if (root(k) == k && places_[k].issue) issues.push_back(std::move(*places_[k].issue));
        return issues;
    }

private:
    // One finding met: where it lies and between which conductors. The first finding of a place
    // (its lowest index) is its root and holds what the place reports.
    struct Place {
        Vec2 at;
        ConductorPair pair;
        std::uint32_t parent = 0;
        double gap = 0;
        std::optional<CheckIssue> issue;
    };

    std::uint32_t root(std::uint32_t k) {
        while (places_[k].parent != k) k = places_[k].parent = places_[places_[k].parent].parent;
        return k;
    }

    // The place of a finding of `pair` at `at`: one it shares with every finding of the same
    // conductors within kOnePlaceMM, places it joins merged into the earliest.
    std::uint32_t join(const ConductorPair& pair, const Vec2& at) {
        const auto k = static_cast<std::uint32_t>(places_.size());
        places_.push_back(Place{at, pair, k, 0, std::nullopt});
        ++livePlaces_;
        const GridCellKey cell = grid::cellOf(at, kOnePlaceMM);
        for (std::int64_t dx = -1; dx <= 1; ++dx)
            for (std::int64_t dy = -1; dy <= 1; ++dy) {
                const auto it = cells_.find(GridCellKey{cell.x + dx, cell.y + dy});
                if (it == cells_.end()) continue;
                for (const std::uint32_t m : it->second)
                    if (places_[m].pair == pair && places_[m].at.distance(at) <= kOnePlaceMM) merge(m, k);
            }
        cells_[cell].push_back(k);
        return root(k);
    }

    // Merges the places of findings a and b into the earlier; returns it.
    std::uint32_t merge(std::uint32_t a, std::uint32_t b) {
        a = root(a);
        b = root(b);
        if (a == b) return a;
        if (b < a) std::swap(a, b);
        Place& keep = places_[a];
        Place& gone = places_[b];
        gone.parent = a;
        --livePlaces_;
        if (gone.issue && (!keep.issue || gone.gap < keep.gap)) {
            keep.gap = gone.gap;
            keep.issue = std::move(gone.issue);
        }
        gone.issue.reset();
        return a;
    }

    const LayerCopper& layer_;
    double limit_;
    std::size_t maxIssues_;
    const std::string& fileName_;
    const std::function<bool()>& stop_;
    std::vector<Place> places_;
    std::size_t livePlaces_ = 0;
    std::unordered_map<GridCellKey, std::vector<std::uint32_t>> cells_;
};

// ---- the smallest gap ---------------------------------------------------------------------------

// The closest pair of pieces of different conductors, on a tree of the pieces' boxes. Each node knows
// whether all its pieces belong to one island and which known nets they carry, so that the walk
// skips a conductor's own copper whole, however large it is; pieces inside a filled area of their
// own conductor are never measured, since copper outside is nearer to the area's edges.
class ClosestPair {
public:
    explicit ClosestPair(const LayerCopper& layer) : layer_(layer) {
        std::vector<BBox> boxes;
        for (std::uint32_t i = 0; i < layer.pieces.size(); ++i)
            if (!layer.interior[i]) {
                pieceOf_.push_back(i);
                boxes.push_back(layer.pieces[i].box());
            }
        tree_.build(boxes);
        island_ = tree::summarise<std::uint32_t>(
            tree_, [&](std::uint32_t k) { return layer.island[pieceOf_[k]]; },
            [](std::uint32_t a, std::uint32_t b) { return a == b ? a : kSeveralIslands; });
        net_ = tree::summarise<std::int32_t>(tree_, [&](std::uint32_t k) { return layer.pieces[pieceOf_[k]].net; }, joinNets);
    }

    // Lowers `best` to the smallest gap between two pieces that may violate, walking parts of
    // the tree on the pool, all bound by the best gap any has found. False when `stop` ended the
    // walk first.
    template <class Stop>
    bool lower(double& best, Stop&& stop) const {
        std::atomic<double> shared{best};
        std::atomic<bool> stopped{false};
        const auto starts = tree_.startPairs(kWalksPerWorker * defaultWorkerCount());
        parallelFor(
            starts.size(),
            [&](std::size_t s) {
                if (stopped.load(std::memory_order_relaxed)) return;
                const bool done = tree_.pairsFrom(
                    starts[s], [&](double gap) { return gap < shared.load(std::memory_order_relaxed); },
                    [&](std::uint32_t a, std::uint32_t b) { return oneConductor(a, b); },
                    [&](std::uint32_t a, std::uint32_t b) {
                        tree::forEachLeafPair(tree_, a, b, [&](std::uint32_t x, std::uint32_t y) { measure(x, y, shared); });
                    },
                    stop);
                if (!done) stopped = true;
            },
            defaultWorkerCount());
        best = shared.load();
        return !stopped;
    }

private:
    static constexpr std::size_t kWalksPerWorker = 8;
    static constexpr std::uint32_t kSeveralIslands = UINT32_MAX;
    static constexpr std::int32_t kNoNet = -1;
    static constexpr std::int32_t kSeveralNets = -2;

    static std::int32_t joinNets(std::int32_t a, std::int32_t b) {
        if (a == kSeveralNets || b == kSeveralNets) return kSeveralNets;
        if (a == kNoNet) return b;
        return b == kNoNet || b == a ? a : kSeveralNets;
    }

    // Whether no piece of one node may violate any of the other: one island, and at most one
    // known net between them.
    bool oneConductor(std::uint32_t a, std::uint32_t b) const {
        if (island_[a] == kSeveralIslands || island_[a] != island_[b] || net_[a] == kSeveralNets || net_[b] == kSeveralNets)
            return false;
        return net_[a] == kNoNet || net_[b] == kNoNet || net_[a] == net_[b];
    }

    void measure(std::uint32_t x, std::uint32_t y, std::atomic<double>& best) const {
        double now = best.load(std::memory_order_relaxed);
        if (!(boxGap(tree_.boxAt(x), tree_.boxAt(y)) < now)) return;
        const std::uint32_t i = pieceOf_[tree_.items()[x]], j = pieceOf_[tree_.items()[y]];
        if (!layer_.mayViolate(i, j)) return;
        const double gap = layer_.bodies.gap(layer_.pieces[i].body, layer_.pieces[j].body, now).gap;
        while (gap < now && !best.compare_exchange_weak(now, gap, std::memory_order_relaxed)) {
        }
    }

    const LayerCopper& layer_;
    std::vector<std::uint32_t> pieceOf_;  // the piece of each item of the tree
    tree::BoxTree tree_;
    std::vector<std::uint32_t> island_;
    std::vector<std::int32_t> net_;
};

// Whether any pair of pieces may violate: two islands, or two known nets.
bool holdsTwoConductors(const LayerCopper& layer) {
    if (layer.islandCount >= 2) return true;
    std::int32_t net = -1;
    for (const copper::Piece& p : layer.pieces) {
        if (p.net < 0) continue;
        if (net >= 0 && p.net != net) return true;
        net = p.net;
    }
    return false;
}

} // namespace

double cellSizeFor(double limit) { return 4.0 * limit <= 0.5 ? 0.5 : 4.0 * limit; }

LayerResult findSpaceViolations(const LayerCopper& layer, double limit, std::size_t maxIssues,
                                Clock::time_point deadline, const std::string& fileName) {
    LayerResult res;
    const auto n = static_cast<std::uint32_t>(layer.pieces.size());
    if (n < 2 || maxIssues < 1) return res;
    const double threshold = limit - kReportMarginMM;
    bool late = false;
    const std::function<bool()> stop = [&] { return late = late || Clock::now() >= deadline; };
    FindingList findings(layer, limit, maxIssues, fileName, stop);
    std::vector<std::pair<std::uint32_t, std::uint32_t>> shorts = layer.enclosedShorts;
    std::sort(shorts.begin(), shorts.end());
    auto nextShort = shorts.begin();
    std::vector<std::int64_t> marker(n, -1);
    grid::Poll poll;
    for (std::uint32_t i = 0; i < n && !res.stopped; ++i) {
        const copper::Piece& a = layer.pieces[i];
        // Copper inside a filled area of another net overlaps it: a gap of 0 where the piece lies.
        for (; nextShort != shorts.end() && nextShort->first == i && !res.stopped; ++nextShort)
            res.stopped = findings.offer(i, nextShort->second, CopperGap{}, a.body.center());
        if (res.stopped) break;
        const bool ended = copper::forEachLaterNeighbour(
            layer, i, copper::windowOf(layer, i, limit), marker,
            [&](std::uint32_t j) {
                const copper::Piece& b = layer.pieces[j];
                if (!layer.mayViolate(i, j) || !(boxGap(a.box(), b.box()) < threshold)) return false;
                const CopperGap g = layer.bodies.gap(a.body, b.body, threshold);
                if (!(g.gap < threshold)) return false;
                return findings.offer(i, j, g);
            },
            stop, poll);
        res.stopped = ended;
    }
    res.timedOut = late;
    res.issues = findings.take();
    res.stopped = res.stopped || Clock::now() >= deadline;
    return res;
}

SmallestGap smallestGap(const LayerCopper& layer, Clock::time_point deadline) {
    if (!holdsTwoConductors(layer)) return SmallestGap{};
    double best = kInf;
    for (const auto& [piece, area] : layer.enclosedShorts)
        if (layer.mayViolate(piece, area)) best = 0;
    const bool completed = ClosestPair(layer).lower(best, [deadline] { return Clock::now() >= deadline; });
    return SmallestGap{std::isfinite(best) ? std::optional<double>(best) : std::nullopt, completed};
}

SpacingResult checkCopperSpacing(const PCBPackage& package, double limit, Clock::time_point deadline,
                                 MemoryAllowance& allowance) {
    SpacingResult out;
    if (!(limit > 0)) return out;
    const std::vector<bool> drawn = films::drawnCopperFiles(package, films::copperFilms(package));
    std::vector<std::size_t> files;
    for (std::size_t k = 0; k < package.files.size(); ++k)
        if (drawn[k] && holdsCopper(package.files[k])) files.push_back(k);
    const double cell = cellSizeFor(limit);
    std::vector<LayerResult> results(files.size());
    const auto order = largestFirst(files.size(), [&](std::size_t f) { return package.files[files[f]].gerber->objects.size(); });
    parallelFor(
        files.size(),
        [&](std::size_t slot) {
            const std::size_t f = order[slot];
            const PackageFile& file = package.files[files[f]];
            LayerResult& r = results[f];
            try {
                copper::NetTable nets;
                LayerCopper layer;
                if (!copper::buildLayerCopper(file.gerber->objects, cell, nets, layer, pastDeadline(deadline), &allowance)) {
                    r.tooLarge = layer.tooLarge;
                    r.stopped = r.timedOut = !layer.tooLarge;
                    return;
                }
                r = findSpaceViolations(layer, limit, kMaxIssues, deadline, file.fileName);
            } catch (const std::bad_alloc&) {
                // What the layer built is freed on the way out; the other layers go on.
                r = LayerResult{};
                r.tooLarge = true;
            }
        },
        defaultWorkerCount());
    // Findings in file order, then in the order each layer met them: the first twenty are those a
    // run layer after layer would give.
    for (std::size_t f = 0; f < files.size(); ++f) {
        LayerResult& r = results[f];
        for (auto& issue : r.issues) {
            if (out.issues.size() >= kMaxIssues) break;
            out.issues.push_back(std::move(issue));
        }
        if (out.issues.size() >= kMaxIssues) break;
        if (r.tooLarge && !out.tooLargeFile) out.tooLargeFile = package.files[files[f]].fileName;
        out.incomplete = out.incomplete || r.tooLarge;
        if (r.timedOut) {
            out.incomplete = true;
            out.unfinishedFile = package.files[files[f]].fileName;
            break;
        }
    }
    return out;
}

namespace {

CheckIssue incompleteIssue(std::string why, const std::optional<std::string>& fileName) {
    return CheckIssue{"spacingCheckIncomplete", CheckSeverity::warning, "Spacing check incomplete",
                      "Spacing check incomplete: " + why + ", so spacing below the preset minimum may remain unreported.",
                      fileName, std::nullopt};
}

} // namespace

void appendSpacingIssues(const PCBPackage& package, double limit, Clock::time_point deadline,
                         std::vector<CheckIssue>& issues, MemoryAllowance& allowance) {
    SpacingResult result = checkCopperSpacing(package, limit, deadline, allowance);
    for (auto& issue : result.issues) issues.push_back(std::move(issue));
    // Without these the report would read as clean copper although part of it was never measured.
    if (result.tooLargeFile)
        issues.push_back(incompleteIssue("the copper of a layer is too large or too intricate for the copper spacing "
                                         "check to examine",
                                         result.tooLargeFile));
    if (result.unfinishedFile)
        issues.push_back(incompleteIssue("the copper spacing check ran out of time before every copper layer was examined",
                                         result.unfinishedFile));
}

SmallestGap smallestGapOfLayers(std::span<const std::span<const PCBObject>> layers, Clock::time_point deadline,
                                MemoryAllowance& allowance) {
    std::vector<SmallestGap> results(layers.size());
    const auto order = largestFirst(layers.size(), [&](std::size_t k) { return layers[k].size(); });
    parallelFor(
        layers.size(),
        [&](std::size_t slot) {
            const std::size_t k = order[slot];
            if (layers[k].size() < 2) return;
            try {
                copper::NetTable nets;
                LayerCopper layer;
                if (!copper::buildLayerCopper(layers[k], kSummaryCellMM, nets, layer, pastDeadline(deadline), &allowance)) {
                    results[k].completed = false;
                    return;
                }
                results[k] = smallestGap(layer, deadline);
            } catch (const std::bad_alloc&) {
                results[k] = SmallestGap{std::nullopt, false};
            }
        },
        defaultWorkerCount());
    SmallestGap out;
    for (const auto& r : results) {
        out.completed = out.completed && r.completed;
        if (r.value && (!out.value || *r.value < *out.value)) out.value = r.value;
    }
    return out;
}

} // namespace corvane::spacing
