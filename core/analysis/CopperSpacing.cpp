#include "CopperSpacing.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <unordered_map>

#include "model/ParallelFor.hpp"

namespace corvane::spacing {

namespace {

using copper::LayerCopper;

constexpr double kInf = std::numeric_limits<double>::infinity();
// The smallest-gap search first looks this many cells around each piece, then farther when the
// layer's conductors all lie farther apart.
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

std::uint64_t pairKey(std::uint32_t a, std::uint32_t b) {
    if (a > b) std::swap(a, b);
    return (static_cast<std::uint64_t>(a) << 32) | b;
}

std::function<bool()> pastDeadline(Clock::time_point deadline) {
    return [deadline] { return Clock::now() >= deadline; };
}

bool holdsCopper(const PackageFile& f) { return f.layerType.isCopper() && f.gerber && f.gerber->objects.size() >= 2; }

} // namespace

double cellSizeFor(double limit) { return 4.0 * limit <= 0.5 ? 0.5 : 4.0 * limit; }

LayerResult findSpaceViolations(const LayerCopper& layer, double limit, std::size_t maxIssues,
                                Clock::time_point deadline, const std::string& fileName) {
    LayerResult res;
    const auto n = static_cast<std::uint32_t>(layer.pieces.size());
    if (n < 2 || maxIssues < 1) return res;
    const double threshold = limit - kReportMarginMM;
    std::unordered_map<std::uint64_t, std::size_t> findingOfPair;
    std::vector<double> findingGap;
    std::vector<std::int64_t> marker(n, -1);
    std::uint64_t pairs = 0;
    for (std::uint32_t i = 0; i < n; ++i) {
        const copper::Piece& a = layer.pieces[i];
        const bool stop = copper::forEachLaterNeighbour(layer, i, copper::windowOf(layer, i, limit), marker, [&](std::uint32_t j) {
            if ((++pairs & 1023u) == 0 && Clock::now() >= deadline) {
                res.stopped = res.timedOut = true;
                return true;
            }
            const copper::Piece& b = layer.pieces[j];
            if (!layer.mayViolate(i, j) || !(boxGap(a.box(), b.box()) < threshold)) return false;
            const CopperGap g = layer.bodies.gap(a.body, b.body);
            if (!(g.gap < threshold)) return false;
            const auto [it, fresh] = findingOfPair.try_emplace(pairKey(a.source, b.source), res.issues.size());
            if (!fresh) {
                // Another piece of the same two objects: keep the closer.
                if (g.gap < findingGap[it->second])
                    res.issues[it->second] = spacingIssue(g.gap, limit, findingPosition(a, b, g), fileName);
                findingGap[it->second] = std::min(findingGap[it->second], g.gap);
                return false;
            }
            res.issues.push_back(spacingIssue(g.gap, limit, findingPosition(a, b, g), fileName));
            findingGap.push_back(g.gap);
            if (res.issues.size() >= maxIssues) {
                res.stopped = true;
                return true;
            }
            return false;
        });
        if (stop) return res;
    }
    res.stopped = Clock::now() >= deadline;
    return res;
}

SmallestGap smallestGap(const LayerCopper& layer, Clock::time_point deadline) {
    const auto n = static_cast<std::uint32_t>(layer.pieces.size());
    double best = kInf;
    BBox all = BBox::empty();
    for (const auto& p : layer.pieces) all.include(p.box());
    const double farthest = std::hypot(all.width(), all.height());
    std::vector<std::int64_t> marker(n, -1);
    // Near pairs first; farther only while no pair lies within reach.
    for (double reach = layer.cell; n >= 2; reach *= 4) {
        std::fill(marker.begin(), marker.end(), -1);
        for (std::uint32_t i = 0; i < n; ++i) {
            if ((i & 255u) == 0 && Clock::now() >= deadline)
                return SmallestGap{std::isfinite(best) ? std::optional<double>(best) : std::nullopt, false};
            const copper::Piece& a = layer.pieces[i];
            const double r = std::min(best, reach);
            copper::forEachLaterNeighbour(layer, i, copper::windowOf(layer, i, r), marker, [&](std::uint32_t j) {
                const copper::Piece& b = layer.pieces[j];
                const double boxes = boxGap(a.box(), b.box());
                if (boxes >= best || boxes > reach || !layer.mayViolate(i, j)) return false;
                best = std::min(best, layer.bodies.gap(a.body, b.body).gap);
                return false;
            });
        }
        if (best <= reach || !(reach <= farthest)) break;
    }
    return SmallestGap{std::isfinite(best) ? std::optional<double>(best) : std::nullopt, true};
}

SpacingResult checkCopperSpacing(const PCBPackage& package, double limit, Clock::time_point deadline) {
    SpacingResult out;
    if (!(limit > 0)) return out;
    std::vector<std::size_t> files;
    for (std::size_t k = 0; k < package.files.size(); ++k)
        if (holdsCopper(package.files[k])) files.push_back(k);
    const double cell = cellSizeFor(limit);
    std::vector<LayerResult> results(files.size());
    parallelFor(
        files.size(),
        [&](std::size_t f) {
            const PackageFile& file = package.files[files[f]];
            LayerResult& r = results[f];
            copper::NetTable nets;
            LayerCopper layer;
            if (!copper::buildLayerCopper(file.gerber->objects, cell, nets, layer, pastDeadline(deadline))) {
                r.stopped = r.timedOut = true;
                return;
            }
            r = findSpaceViolations(layer, limit, kMaxIssues, deadline, file.fileName);
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
        if (r.timedOut) {
            out.incomplete = true;
            out.unfinishedFile = package.files[files[f]].fileName;
            break;
        }
    }
    return out;
}

void appendSpacingIssues(const PCBPackage& package, double limit, Clock::time_point deadline,
                         std::vector<CheckIssue>& issues) {
    SpacingResult result = checkCopperSpacing(package, limit, deadline);
    for (auto& issue : result.issues) issues.push_back(std::move(issue));
    // Without this the report would read as clean copper although part of it was never measured.
    if (result.incomplete)
        issues.push_back(CheckIssue{"spacingCheckIncomplete", CheckSeverity::warning, "Spacing check incomplete",
                                    "Spacing check incomplete: the copper spacing check ran out of time before every "
                                    "copper layer was examined, so spacing below the preset minimum may remain "
                                    "unreported.",
                                    result.unfinishedFile, std::nullopt});
}

SmallestGap smallestGapOfLayers(std::span<const std::span<const PCBObject>> layers, Clock::time_point deadline) {
    std::vector<SmallestGap> results(layers.size());
    parallelFor(
        layers.size(),
        [&](std::size_t k) {
            if (layers[k].size() < 2) return;
            copper::NetTable nets;
            LayerCopper layer;
            if (!copper::buildLayerCopper(layers[k], kSummaryCellMM, nets, layer, pastDeadline(deadline))) {
                results[k].completed = false;
                return;
            }
            results[k] = smallestGap(layer, deadline);
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
