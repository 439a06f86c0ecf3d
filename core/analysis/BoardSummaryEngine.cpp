#include "BoardSummaryEngine.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <string_view>
#include <unordered_map>

#include "CopperBodies.hpp"
#include "model/GeometryEngine.hpp"

namespace corvane {

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kCell = 1.0;

struct Seg {
    Vec2 a, b;
    double radius = 0;
    std::int32_t net = -1;
    std::int32_t layer = 0;
    BBox box;  // the copper's box (centre line grown by the radius)
};

struct Pad {
    CopperBody body;
    Vec2 center;
    std::int32_t net = -1;
    std::int32_t layer = 0;
};

double cross(const Vec2& a, const Vec2& b) { return a.x * b.y - a.y * b.x; }

bool sameKnownNet(std::int32_t a, std::int32_t b) { return a >= 0 && a == b; }

class Estimator {
public:
    explicit Estimator(double budget) : budget_(budget), start_(Clock::now()) {}

    MinSpaceEstimate run(std::span<const std::span<const PCBObject>> layers) {
        collect(layers);
        if (segs_.empty() && pads_.empty()) return MinSpaceEstimate{std::nullopt, true};
        if (!segmentPass() || !padPass()) {
            // Out of time: the figure so far, unclamped, flagged as incomplete.
            return MinSpaceEstimate{std::isfinite(best_) ? std::optional<double>(best_) : std::nullopt, false};
        }
        if (std::isfinite(best_) && best_ > -10) return MinSpaceEstimate{std::max(best_, 0.0), true};
        return MinSpaceEstimate{std::nullopt, true};
    }

    bool hasInput(std::span<const std::span<const PCBObject>> layers) const {
        for (const auto& l : layers)
            if (!l.empty()) return true;
        return false;
    }

private:
    bool outOfTime() const { return std::chrono::duration<double>(Clock::now() - start_).count() > budget_; }

    std::int32_t netOf(const PCBObject& o) {
        if (!o.net) return -1;
        return nets_.try_emplace(*o.net, static_cast<std::int32_t>(nets_.size())).first->second;
    }

    void addSeg(const Vec2& a, const Vec2& b, double width, std::int32_t net, std::int32_t layer) {
        auto body = CopperBodySet::capsule(a, b, width);
        if (!body) return;
        segs_.push_back(Seg{a, b, body->radius, net, layer, body->box});
    }

    void collect(std::span<const std::span<const PCBObject>> layers) {
        const GeometryEngine engine;  // 8° arc steps
        reserveFor(layers, engine);
        std::vector<Vec2> pts;
        for (std::size_t layer = 0; layer < layers.size(); ++layer) {
            const auto L = static_cast<std::int32_t>(layer);
            for (const PCBObject& o : layers[layer]) {
                const double w = o.apertureShape ? o.apertureShape->strokeNominalWidth() : 0.0;
                if (auto s = o.kind.as<PCBObjectKind::Stroke>()) {
                    addSeg(s->start, s->end, w, netOf(o), L);
                } else if (auto a = o.kind.as<PCBObjectKind::ArcStroke>()) {
                    if (!grid::isFinite(a->start) || !grid::isFinite(a->end) || !grid::isFinite(a->center)) continue;
                    pts.clear();
                    pts.push_back(a->start);
                    engine.sampleArc(a->start, a->end, a->center, a->clockwise, pts);
                    const std::int32_t net = netOf(o);
                    for (std::size_t k = 0; k + 1 < pts.size(); ++k) addSeg(pts[k], pts[k + 1], w, net, L);
                } else if (auto g = o.kind.as<PCBObjectKind::Region>()) {
                    const std::int32_t net = netOf(o);
                    for (const Contour& c : g->contours)
                        for (std::size_t k = 0; k < c.size(); ++k) addSeg(c[k], c[(k + 1) % c.size()], 0.0, net, L);
                } else if (auto f = o.kind.as<PCBObjectKind::Flash>()) {
                    // A flash without a known aperture is taken as a 0.2 mm radius disc.
                    auto body = o.apertureShape ? bodies_.flash(f->at, o.apertureShape)
                                                : CopperBodySet::capsule(f->at, f->at, 0.4);
                    if (!body) continue;
                    pads_.push_back(Pad{*body, f->at, netOf(o), L});
                }
            }
        }
    }

    // Room for every segment and pad collect() adds, so that the lists are written once and never moved.
    // An arc is counted at the most pieces sampleArc makes (a full turn).
    void reserveFor(std::span<const std::span<const PCBObject>> layers, const GeometryEngine& engine) {
        const double fullTurnSteps = std::ceil(360.0 / engine.arcSegmentDegrees);
        const std::size_t arcPieces = std::isfinite(fullTurnSteps) && fullTurnSteps < 4096
                                          ? static_cast<std::size_t>(fullTurnSteps) + 1
                                          : 4096;
        std::size_t segs = 0, pads = 0;
        for (const auto& layer : layers) {
            for (const PCBObject& o : layer) {
                if (o.kind.as<PCBObjectKind::Stroke>()) ++segs;
                else if (o.kind.as<PCBObjectKind::ArcStroke>()) segs += arcPieces;
                else if (o.kind.as<PCBObjectKind::Flash>()) ++pads;
                else if (auto g = o.kind.as<PCBObjectKind::Region>())
                    for (const Contour& c : g->contours) segs += c.size();
            }
        }
        segs_.reserve(segs);
        pads_.reserve(pads);
    }

    // Segment against segment, on their copper.
    void measureSegs(const Seg& si, const Seg& sj) {
        if (si.layer != sj.layer || sameKnownNet(si.net, sj.net)) return;
        if (best_ <= boxGap(si.box, sj.box)) return;
        const Vec2 di = si.b - si.a;
        const Vec2 dj = sj.b - sj.a;
        const double c = cross(di, dj);
        if (std::fabs(c) > 1e-14) {
            const Vec2 w = sj.a - si.a;
            const double t = cross(w, dj) / c;
            const double u = cross(w, di) / c;
            if (t >= 0 && t <= 1 && u >= 0 && u <= 1) {
                best_ = std::min(best_, 0.0);
                return;
            }
        }
        using G = GeometryEngine;
        const double d = std::min(std::min(G::distancePointSegment(si.a, sj.a, sj.b), G::distancePointSegment(si.b, sj.a, sj.b)),
                                  std::min(G::distancePointSegment(sj.a, si.a, si.b), G::distancePointSegment(sj.b, si.a, si.b)));
        best_ = std::min(best_, std::max(0.0, d - si.radius - sj.radius));
    }

    bool segmentPass() {
        std::vector<grid::CellRange> ranges(segs_.size());
        for (std::size_t i = 0; i < segs_.size(); ++i) {
            const Seg& s = segs_[i];
            ranges[i] = grid::rangeOf(BBox{std::min(s.a.x, s.b.x), std::min(s.a.y, s.b.y), std::max(s.a.x, s.b.x),
                                           std::max(s.a.y, s.b.y)},
                                      kCell);
        }
        if (!segGrid_.build(ranges, segOversized_, [&] { return outOfTime(); })) return false;
        std::vector<std::uint8_t> isOversized(segs_.size(), 0);
        for (std::uint32_t k : segOversized_) isOversized[k] = 1;
        std::vector<std::int64_t> last(segs_.size(), -1);
        for (std::size_t i = 0; i < segs_.size(); ++i) {
            if (outOfTime()) return false;
            const auto I = static_cast<std::int64_t>(i);
            auto visit = [&](std::uint32_t j) {
                if (j <= i || last[j] == I) return;
                last[j] = I;
                measureSegs(segs_[i], segs_[j]);
            };
            if (isOversized[i]) {
                // Too large for the grid: every later segment is a candidate.
                for (std::size_t j = i + 1; j < segs_.size(); ++j) visit(static_cast<std::uint32_t>(j));
                continue;
            }
            const GridCellKey c = grid::cellOf(segs_[i].a, kCell);
            for (std::int64_t dx = -1; dx <= 1; ++dx)
                for (std::int64_t dy = -1; dy <= 1; ++dy)
                    for (std::uint32_t j : segGrid_.items(c.x + dx, c.y + dy)) visit(j);
            for (std::uint32_t j : segOversized_) visit(j);
        }
        return true;
    }

    void measurePads(const Pad& p, const Pad& q) {
        if ((p.center.x == q.center.x && p.center.y == q.center.y) || p.layer != q.layer || sameKnownNet(p.net, q.net))
            return;
        if (best_ <= boxGap(p.body.box, q.body.box)) return;
        best_ = std::min(best_, bodies_.gap(p.body, q.body).gap);
    }

    void measurePadSeg(const Pad& p, const Seg& s) {
        if (p.layer != s.layer || sameKnownNet(p.net, s.net)) return;
        if (best_ <= boxGap(p.body.box, s.box)) return;
        CopperBody seg;
        seg.a = s.a;
        seg.b = s.b;
        seg.radius = s.radius;
        seg.box = s.box;
        best_ = std::min(best_, bodies_.gap(p.body, seg).gap);
    }

    // Every pad against every other pad; the minimum does not depend on the order, so a grid
    // limits each pad to the neighbours that could still lower the figure.
    bool padPass() {
        std::vector<grid::CellRange> ranges(pads_.size());
        for (std::size_t p = 0; p < pads_.size(); ++p) ranges[p] = grid::rangeOf(pads_[p].body.box, kCell);
        std::vector<std::uint32_t> padOversized;
        grid::CellGrid padGrid;
        if (!padGrid.build(ranges, padOversized, [&] { return outOfTime(); })) return false;
        const auto windowLimit = static_cast<std::int64_t>(pads_.size()) * 4 + 64;
        std::vector<std::int64_t> lastPad(pads_.size(), -1);
        std::vector<std::int64_t> lastSeg(segs_.size(), -1);

        for (std::size_t p = 0; p < pads_.size(); ++p) {
            if (outOfTime()) return false;
            const Pad& pad = pads_[p];
            const auto P = static_cast<std::int64_t>(p);
            auto visitPad = [&](std::uint32_t q) {
                if (q <= p || lastPad[q] == P) return;
                lastPad[q] = P;
                measurePads(pad, pads_[q]);
            };
            grid::CellRange window;
            const bool useWindow = std::isfinite(best_) &&
                                   ((window = grid::rangeOf(pad.body.box.outset(best_), kCell)).cellCount() <= windowLimit);
            if (useWindow) {
                for (std::int64_t x = window.x0; x <= window.x1; ++x)
                    for (std::int64_t y = window.y0; y <= window.y1; ++y)
                        for (std::uint32_t q : padGrid.items(x, y)) visitPad(q);
                for (std::uint32_t q : padOversized) visitPad(q);
            } else {
                for (std::size_t q = p + 1; q < pads_.size(); ++q) visitPad(static_cast<std::uint32_t>(q));
            }

            auto visitSeg = [&](std::uint32_t j) {
                if (lastSeg[j] == P) return;
                lastSeg[j] = P;
                measurePadSeg(pad, segs_[j]);
            };
            const GridCellKey c = grid::cellOf(pad.center, kCell);
            for (std::int64_t dx = -1; dx <= 1; ++dx)
                for (std::int64_t dy = -1; dy <= 1; ++dy)
                    for (std::uint32_t j : segGrid_.items(c.x + dx, c.y + dy)) visitSeg(j);
            for (std::uint32_t j : segOversized_) visitSeg(j);
        }
        return true;
    }

    double budget_;
    Clock::time_point start_;
    double best_ = kInf;
    std::unordered_map<std::string_view, std::int32_t> nets_;
    CopperBodySet bodies_;
    std::vector<Seg> segs_;
    std::vector<Pad> pads_;
    grid::CellGrid segGrid_;
    std::vector<std::uint32_t> segOversized_;
};

bool isCopperPrimitiveWithWidth(const PCBObject& o) {
    return o.apertureShape && (o.kind.as<PCBObjectKind::Stroke>() || o.kind.as<PCBObjectKind::ArcStroke>());
}

} // namespace

MinSpaceEstimate BoardSummaryEngine::estimateMinSpace(const std::vector<PCBObject>& objects) const {
    const std::span<const PCBObject> one(objects);
    return estimateMinSpace(std::span<const std::span<const PCBObject>>(&one, 1));
}

MinSpaceEstimate BoardSummaryEngine::estimateMinSpace(std::span<const std::span<const PCBObject>> layers) const {
    Estimator e(timeBudget);
    if (!e.hasInput(layers)) return MinSpaceEstimate{std::nullopt, true};
    return e.run(layers);
}

std::optional<BBox> BoardSummaryEngine::outlineCenterlineBBox(const PCBPackage& package) {
    BBox box = BBox::empty();
    for (const auto& f : package.files) {
        if (!f.layerType.isOutline() || !f.gerber) continue;
        for (const auto& o : f.gerber->objects) {
            if (auto s = o.kind.as<PCBObjectKind::Stroke>()) {
                box.include(s->start);
                box.include(s->end);
            } else if (auto a = o.kind.as<PCBObjectKind::ArcStroke>()) {
                box.include(a->start);
                box.include(a->end);
                box.include(a->center);
            } else if (auto fl = o.kind.as<PCBObjectKind::Flash>()) {
                box.include(fl->at);
            } else if (auto g = o.kind.as<PCBObjectKind::Region>()) {
                for (const auto& c : g->contours)
                    for (const auto& p : c) box.include(p);
            }
        }
    }
    if (box.maxX < box.minX || box.maxY < box.minY) return std::nullopt;
    return box;
}

BoardSummary BoardSummaryEngine::summarize(const PCBPackage& package) const {
    BoardSummary s;
    const BBox box = outlineCenterlineBBox(package).value_or(package.boardBBox());
    if (box.isValid()) {
        s.widthMM = std::max(box.maxX - box.minX, 0.0);
        s.heightMM = std::max(box.maxY - box.minY, 0.0);
    }

    std::vector<std::span<const PCBObject>> copper;
    for (const auto& f : package.files)
        if (f.layerType.isCopper() && f.gerber) copper.emplace_back(f.gerber->objects);

    s.copperLayerCount = static_cast<std::int64_t>(package.copperLayerIDs().size());
    for (const auto& layer : copper) {
        for (const auto& o : layer) {
            if (o.kind.as<PCBObjectKind::Flash>()) s.padCount += 1;
            if (isCopperPrimitiveWithWidth(o)) {
                const double w = o.apertureShape->strokeNominalWidth();
                if (w > 1e-6 && (!s.minTrackMM || w < *s.minTrackMM)) s.minTrackMM = w;
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
