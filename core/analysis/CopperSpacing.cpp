#include "CopperSpacing.hpp"

#include "model/GeometryEngine.hpp"

#include <cmath>
#include <string_view>
#include <unordered_map>

namespace corvane::spacing {

namespace {

constexpr double kPi = 3.141592653589793;

Vec2 midpoint(const Vec2& a, const Vec2& b) { return Vec2{(a.x + b.x) * 0.5, (a.y + b.y) * 0.5}; }

double nominalWidth(ShapeRef shape) { return shape ? shape->strokeNominalWidth() : 0.0; }

bool withinConnectTolerance(const Vec2& a, const Vec2& b) { return a.distance(b) < 1e-9; }

} // namespace

void arcPieces(const GeometryEngine& tenDegrees, const Vec2& start, const Vec2& end, const Vec2& center,
               bool clockwise, std::vector<Vec2>& out) {
    out.clear();
    out.push_back(start);
    if (start.distance(center) <= 1e-9) {
        out.push_back(end);
        return;
    }
    tenDegrees.sampleArc(start, end, center, clockwise, out);
    // The engine always makes at least two pieces; a sweep of 10° or less is one piece here. Two
    // pieces split the sweep in half, so the first sample lies at half the sweep from the start.
    if (out.size() == 3) {
        const Vec2 u = start - center;
        const Vec2 v = out[1] - center;
        const double half = std::atan2(std::fabs(u.x * v.y - u.y * v.x), u.x * v.x + u.y * v.y);
        if (2.0 * half <= 10.0 * kPi / 180.0) out.erase(out.begin() + 1);
    }
}

void collectSpacingPrimitives(const PackageFile& file, SpacePrimList& out) {
    out.clear();
    if (!file.layerType.isCopper() || !file.gerber) return;
    const auto& objects = file.gerber->objects;
    out.prims.reserve(objects.size());
    std::unordered_map<std::string_view, std::int32_t> nets;
    auto netOf = [&](const PCBObject& o) -> std::int32_t {
        if (!o.net) return -1;
        return nets.try_emplace(*o.net, static_cast<std::int32_t>(nets.size())).first->second;
    };
    std::vector<Vec2> pts;
    GeometryEngine tenDegrees;
    tenDegrees.arcSegmentDegrees = 10.0;
    for (std::size_t src = 0; src < objects.size(); ++src) {
        const PCBObject& o = objects[src];
        if (auto s = o.kind.as<PCBObjectKind::Stroke>()) {
            auto body = CopperBodySet::capsule(s->start, s->end, nominalWidth(o.apertureShape));
            if (!body) continue;
            SpacePrim p{*body, true, netOf(o), body->box, src};
            if (grid::isFinite(o.bbox) && o.bbox.isValid()) p.bbox.include(o.bbox);
            out.prims.push_back(p);
        } else if (auto a = o.kind.as<PCBObjectKind::ArcStroke>()) {
            const double w = nominalWidth(o.apertureShape);
            if (!grid::isFinite(a->start) || !grid::isFinite(a->end) || !grid::isFinite(a->center)) continue;
            arcPieces(tenDegrees, a->start, a->end, a->center, a->clockwise, pts);
            const std::int32_t net = netOf(o);
            for (std::size_t k = 0; k + 1 < pts.size(); ++k) {
                auto body = CopperBodySet::capsule(pts[k], pts[k + 1], w);
                if (!body) break;
                out.prims.push_back(SpacePrim{*body, true, net, body->box, src});
            }
        } else if (auto f = o.kind.as<PCBObjectKind::Flash>()) {
            auto body = out.bodies.flash(f->at, o.apertureShape);
            if (!body) continue;
            out.prims.push_back(SpacePrim{*body, false, netOf(o), body->box, src});
        }
    }
}

double cellSizeFor(double limit) { return 4.0 * limit <= 0.5 ? 0.5 : 4.0 * limit; }

std::optional<CheckIssue> spaceViolation(const SpacePrimList& list, const SpacePrim& a, const SpacePrim& b,
                                         double limit, double limitSq, const std::string& fileName) {
    if (a.net >= 0 && a.net == b.net) return std::nullopt;
    if (a.source == b.source) return std::nullopt;
    if (a.isTrack && b.isTrack) {
        const Vec2& a0 = a.body.a;
        const Vec2& a1 = a.body.b;
        const Vec2& b0 = b.body.a;
        const Vec2& b1 = b.body.b;
        if (withinConnectTolerance(a0, b0) || withinConnectTolerance(a0, b1) || withinConnectTolerance(a1, b0) ||
            withinConnectTolerance(a1, b1))
            return std::nullopt;
    }
    const double gx = std::max(0.0, std::max(a.bbox.minX - b.bbox.maxX, b.bbox.minX - a.bbox.maxX));
    const double gy = std::max(0.0, std::max(a.bbox.minY - b.bbox.maxY, b.bbox.minY - a.bbox.maxY));
    if (gx * gx + gy * gy > limitSq) return std::nullopt;

    const CopperGap g = list.bodies.gap(a.body, b.body);
    if (!(g.gap < limit - kTolerance)) return std::nullopt;

    Vec2 position;
    const bool bothBoxes = a.body.shape == CopperBody::Shape::box && b.body.shape == CopperBody::Shape::box;
    if (bothBoxes || g.gap > 1e-9) {
        position = midpoint(g.onFirst, g.onSecond);
    } else {
        position = midpoint(a.body.center(), b.body.center());
    }
    return CheckIssue{"minSpaceBelowPreset",
                      CheckSeverity::error,
                      "Spacing below preset",
                      "Copper spacing " + formatFixed(g.gap, 3) + " mm is below the preset minimum " +
                          formatFixed(limit, 3) + " mm.",
                      fileName,
                      position};
}

LayerResult findSpaceViolations(const SpacePrimList& list, double cell, double limit, std::size_t maxIssues,
                                Clock::time_point deadline, const std::string& fileName) {
    LayerResult res;
    const auto& prims = list.prims;
    const std::size_t n = prims.size();
    if (n < 2 || maxIssues < 1) return res;

    std::vector<grid::CellRange> ranges(n);
    for (std::size_t i = 0; i < n; ++i) ranges[i] = grid::rangeOf(prims[i].bbox, cell);
    grid::CellGrid cells;
    std::vector<std::uint32_t> oversized;
    if (!cells.build(ranges, oversized, [&] { return Clock::now() >= deadline; })) {
        res.stopped = res.timedOut = true;
        return res;
    }
    std::vector<std::uint8_t> isOversized(n, 0);
    for (std::uint32_t k : oversized) isOversized[k] = 1;

    const double limitSq = limit * limit;
    std::vector<std::int64_t> lastCompared(n, -1);
    std::uint64_t pairs = 0;
    std::int64_t i = 0;
    // Returns true when the layer must end now.
    auto visit = [&](std::uint32_t j) -> bool {
        if (static_cast<std::int64_t>(j) <= i || lastCompared[j] == i) return false;
        lastCompared[j] = i;
        if ((++pairs & 1023u) == 0 && Clock::now() >= deadline) {
            res.stopped = res.timedOut = true;
            return true;
        }
        if (auto issue = spaceViolation(list, prims[i], prims[j], limit, limitSq, fileName)) {
            res.issues.push_back(std::move(*issue));
            if (res.issues.size() >= maxIssues) {
                res.stopped = true;
                return true;
            }
        }
        return false;
    };

    for (; i < static_cast<std::int64_t>(n); ++i) {
        if (isOversized[i]) {
            // Its box is too large for the grid: every later primitive is a candidate.
            for (std::size_t j = static_cast<std::size_t>(i) + 1; j < n; ++j)
                if (visit(static_cast<std::uint32_t>(j))) return res;
        } else {
            const grid::CellRange r = ranges[i].grown(1);
            for (std::int64_t x = r.x0; x <= r.x1; ++x)
                for (std::int64_t y = r.y0; y <= r.y1; ++y)
                    for (std::uint32_t j : cells.items(x, y))
                        if (visit(j)) return res;
        }
        for (std::uint32_t j : oversized)
            if (visit(j)) return res;
    }
    res.stopped = Clock::now() >= deadline;
    return res;
}

namespace {

bool mayHoldPairs(const PackageFile& f) {
    return f.layerType.isCopper() && f.gerber && f.gerber->objects.size() >= 2;
}

std::optional<std::string> firstUnexamined(const PCBPackage& package, std::size_t from) {
    for (std::size_t k = from; k < package.files.size(); ++k)
        if (mayHoldPairs(package.files[k])) return package.files[k].fileName;
    return std::nullopt;
}

} // namespace

SpacingResult checkCopperSpacing(const PCBPackage& package, double limit, Clock::time_point deadline) {
    SpacingResult out;
    if (!(limit > 0)) return out;
    const double cell = cellSizeFor(limit);
    SpacePrimList list;
    for (std::size_t k = 0; k < package.files.size(); ++k) {
        if (out.issues.size() >= kMaxIssues) break;
        if (Clock::now() >= deadline) {
            out.unfinishedFile = firstUnexamined(package, k);
            out.incomplete = out.unfinishedFile.has_value();
            break;
        }
        const PackageFile& file = package.files[k];
        if (!file.layerType.isCopper()) continue;
        collectSpacingPrimitives(file, list);
        if (list.prims.size() < 2) continue;
        LayerResult r = findSpaceViolations(list, cell, limit, kMaxIssues - out.issues.size(), deadline, file.fileName);
        for (auto& issue : r.issues) out.issues.push_back(std::move(issue));
        if (r.stopped) {
            if (r.timedOut) {
                out.incomplete = true;
                out.unfinishedFile = file.fileName;
            } else if (out.issues.size() < kMaxIssues) {
                out.unfinishedFile = firstUnexamined(package, k + 1);
                out.incomplete = out.unfinishedFile.has_value();
            }
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

} // namespace corvane::spacing
