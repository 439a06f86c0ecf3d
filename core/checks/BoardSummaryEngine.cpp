#include "BoardSummaryEngine.hpp"

#include <algorithm>
#include <chrono>
#include <limits>
#include <new>

#include "CopperBodies.hpp"
#include "CopperFilms.hpp"
#include "CopperSpacing.hpp"

namespace corvane {

namespace {

bool isCopperPrimitiveWithWidth(const PCBObject& o) {
    return o.apertureShape && (o.kind.as<PCBObjectKind::Stroke>() || o.kind.as<PCBObjectKind::ArcStroke>());
}

} // namespace

MinSpaceEstimate BoardSummaryEngine::estimateMinSpace(const std::vector<PCBObject>& objects) const {
    const std::span<const PCBObject> one(objects);
    return estimateMinSpace(std::span<const std::span<const PCBObject>>(&one, 1));
}

MinSpaceEstimate BoardSummaryEngine::estimateMinSpace(std::span<const std::span<const PCBObject>> layers) const {
    const auto deadline = spacing::Clock::now() + std::chrono::duration_cast<spacing::Clock::duration>(
                                                      std::chrono::duration<double>(std::max(timeBudget, 0.0)));
    try {
        const spacing::SmallestGap gap = spacing::smallestGapOfLayers(layers, deadline);
        return MinSpaceEstimate{gap.value, gap.completed};
    } catch (const std::bad_alloc&) {
        // Out of memory: no figure, and marked as such, rather than no summary at all.
        return MinSpaceEstimate{std::nullopt, false};
    }
}

std::optional<BBox> BoardSummaryEngine::outlineCenterlineBBox(const PCBPackage& package) {
    const BBox box = package.outlineBBox();
    if (!box.isValid()) return std::nullopt;
    return box;
}

BoardSizeSource BoardSummaryEngine::sizeSource(const PCBPackage& package) {
    return outlineCenterlineBBox(package) ? BoardSizeSource::outline : BoardSizeSource::layerExtent;
}

BoardSummary BoardSummaryEngine::summarize(const PCBPackage& package) const {
    BoardSummary s;
    // The one board box every view reads, so that the summary, the report, Fit and the measurement agree.
    const BBox box = package.boardBBox();
    if (box.isValid()) {
        // Stray coordinates far apart on either side have a difference past the largest double.
        const auto extent = [](double lo, double hi) {
            const double d = hi - lo;
            return d > 0 ? std::min(d, std::numeric_limits<double>::max()) : 0.0;
        };
        s.widthMM = extent(box.minX, box.maxX);
        s.heightMM = extent(box.minY, box.maxY);
    }

    // A film's drawing is where its copper is not: none of it is pads, tracks or gaps.
    const std::vector<bool> drawn = films::drawnCopperFiles(package, films::copperFilms(package));
    std::vector<std::span<const PCBObject>> copper;
    for (std::size_t k = 0; k < package.files.size(); ++k)
        if (drawn[k]) copper.emplace_back(package.files[k].gerber->objects);

    s.copperLayerCount = static_cast<std::int64_t>(package.copperLayerIDs().size());
    for (const auto& layer : copper) {
        for (const auto& o : layer) {
            if (!drawsCopper(o)) continue;
            if (o.kind.as<PCBObjectKind::Flash>()) s.padCount += 1;
            if (isCopperPrimitiveWithWidth(o)) {
                const double w = o.apertureShape->strokeNominalWidth();
                if (w > kZeroSizeMM && (!s.minTrackMM || w < *s.minTrackMM)) s.minTrackMM = w;
            }
        }
    }
    for (const auto& f : package.files) {
        if (!f.drill) continue;
        s.drillCount += f.drill->totalCount();
        const auto plating = f.drill->platingCounts();
        s.pthCount += plating.pth;
        s.npthCount += plating.npth;
        if (auto d = f.drill->smallestDrillMM(); d && (!s.smallestDrillMM || *d < *s.smallestDrillMM))
            s.smallestDrillMM = d;
    }
    const MinSpaceEstimate est = estimateMinSpace(copper);
    s.minSpaceMM = est.value;
    s.minSpaceReliable = est.completed;
    return s;
}

} // namespace corvane
