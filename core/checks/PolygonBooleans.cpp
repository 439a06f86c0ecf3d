#include "PolygonBooleans.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace corvane::booleans {

namespace cl = ClipperLib;

Point toUnits(const Vec2& p) {
    return Point(static_cast<Coord>(std::llround(p.x * kUnitsPerMM)),
                 static_cast<Coord>(std::llround(p.y * kUnitsPerMM)));
}

Vec2 toMM(const Point& p) {
    return Vec2{static_cast<double>(p.X) / kUnitsPerMM, static_cast<double>(p.Y) / kUnitsPerMM};
}

bool withinRange(const BBox& b) {
    return std::isfinite(b.minX) && std::isfinite(b.minY) && std::isfinite(b.maxX) && std::isfinite(b.maxY) &&
           std::fabs(b.minX) < kLargestMM && std::fabs(b.maxX) < kLargestMM && std::fabs(b.minY) < kLargestMM &&
           std::fabs(b.maxY) < kLargestMM;
}

void addFilled(Path path, Paths& out) {
    if (path.size() < 3) return;
    if (!cl::Orientation(path)) cl::ReversePath(path);
    out.push_back(std::move(path));
}

void addHole(Path path, Paths& out) {
    if (path.size() < 3) return;
    if (cl::Orientation(path)) cl::ReversePath(path);
    out.push_back(std::move(path));
}

void Difference::addSubject(const Paths& paths) { subject_.insert(subject_.end(), paths.begin(), paths.end()); }

void Difference::addClip(const Paths& paths) { clip_.insert(clip_.end(), paths.begin(), paths.end()); }

void Difference::addClip(const Path& path) { clip_.push_back(path); }

namespace {

Contour contourOf(const Path& path) {
    Contour c;
    c.reserve(path.size());
    for (const Point& p : path) c.push_back(toMM(p));
    return c;
}

void collectAreas(const cl::PolyNode& node, std::vector<Area>& out) {
    for (const cl::PolyNode* outer : node.Childs) {
        Area area;
        area.push_back(contourOf(outer->Contour));
        for (const cl::PolyNode* hole : outer->Childs) area.push_back(contourOf(hole->Contour));
        out.push_back(std::move(area));
        for (const cl::PolyNode* hole : outer->Childs) collectAreas(*hole, out);
    }
}

} // namespace

std::optional<std::vector<Area>> Difference::areas() {
    if (!withinBooleanBudget(subject_, clip_)) return std::nullopt;
    cl::PolyTree kept;
    try {
        cl::Clipper clipper;
        clipper.AddPaths(subject_, cl::ptSubject, true);
        clipper.AddPaths(clip_, cl::ptClip, true);
        if (!clipper.Execute(cl::ctDifference, kept, cl::pftNonZero, cl::pftNonZero)) return std::nullopt;
    } catch (const cl::clipperException&) {
        // The library refuses coordinates past its range by throwing; one refused outline spoils the whole result.
        return std::nullopt;
    }
    std::vector<Area> out;
    collectAreas(kept, out);
    return out;
}

// ---- the work of a boolean ------------------------------------------------------------------------

namespace {

// The library sweeps a line up the outlines, holding the edges it crosses in a list ordered by x. Its
// work is counted here in steps of walks along that list, about 2 ns each (measured with Clipper 6.4
// on pours with clearances, combs, zigzags and stars): a point costs its sorting, edge building and
// output; a crossing its intersection and its output points.
constexpr double kStepsPerPoint = 200;
constexpr double kStepsPerCrossing = 600;
// About a tenth of a second: a boolean started just before a deadline ends soon after it.
constexpr double kMaxBooleanSteps = 5e7;
// However its edges lie, a boolean of this few points takes the library a few hundredths of a second
// at most (a star whose every edge crosses every other: 0.04 s, measured), so it is started without
// counting; most cuts of real copper are this small, and counting would cost as much as cutting.
constexpr std::size_t kPointsAlwaysWithinBudget = 512;

// An edge from its lower end to its upper one, with its run per unit of rise.
struct Edge {
    double xb, yb, xt, yt, slope;
    double xAt(double y) const { return xb + slope * (y - yb); }
};
struct Flat {
    double y, x0, x1;
};
// An edge in the sweep's list, with its x at the current height.
struct Listed {
    std::uint32_t edge;
    double x;
};

// The sweep's own steps, counted by a sweep of the same kind that keeps no output, and given up as
// soon as they pass kMaxBooleanSteps: its work is the boolean's, so it never costs more than one
// would.
class SweepWork {
public:
    SweepWork(const Paths& subject, const Paths& clip) {
        for (const Paths* paths : {&subject, &clip})
            for (const Path& p : *paths) steps_ += kStepsPerPoint * static_cast<double>(p.size());
        if (!within()) return;
        for (const Paths* paths : {&subject, &clip})
            for (const Path& p : *paths) add(p);
    }

    bool fits() { return within() && sweep(); }

private:
    bool within() const { return steps_ <= kMaxBooleanSteps; }

    void add(const Path& p) {
        const auto d = [](Coord c) { return static_cast<double>(c); };
        for (std::size_t i = 0; i < p.size(); ++i) {
            const Point& a = p[i];
            const Point& b = p[(i + 1) % p.size()];
            const Point& before = p[(i + p.size() - 1) % p.size()];
            ys_.push_back(d(a.Y));
            // Where the outline turns upward, or runs flat, the library inserts edges into its list.
            if (before.Y >= a.Y && b.Y >= a.Y) lows_.push_back(d(a.Y));
            if (a.Y == b.Y) {
                if (a.X != b.X) flats_.push_back(Flat{d(a.Y), d(std::min(a.X, b.X)), d(std::max(a.X, b.X))});
            } else {
                const Point& lo = a.Y < b.Y ? a : b;
                const Point& hi = a.Y < b.Y ? b : a;
                edges_.push_back(Edge{d(lo.X), d(lo.Y), d(hi.X), d(hi.Y), (d(hi.X) - d(lo.X)) / (d(hi.Y) - d(lo.Y))});
            }
        }
    }

    std::size_t heightIndex(double y) const {
        return static_cast<std::size_t>(std::lower_bound(ys_.begin(), ys_.end(), y) - ys_.begin());
    }

    // From height to height: edges leave the list at their upper ends and join it at their lower
    // ones, flat edges walk the part of the list they span, and between two heights the list is
    // sorted again by x at the upper one, each exchange a crossing.
    bool sweep() {
        std::sort(ys_.begin(), ys_.end());
        ys_.erase(std::unique(ys_.begin(), ys_.end()), ys_.end());
        // Edges by the height they start at, then by x there and at their upper ends.
        std::sort(edges_.begin(), edges_.end(), [](const Edge& a, const Edge& b) {
            return a.yb != b.yb ? a.yb < b.yb : a.xb != b.xb ? a.xb < b.xb : a.xt < b.xt;
        });
        std::vector<std::uint32_t> topOf(edges_.size());
        for (std::uint32_t e = 0; e < edges_.size(); ++e) topOf[e] = static_cast<std::uint32_t>(heightIndex(edges_[e].yt));
        std::vector<double> lowsAt(ys_.size(), 0);
        for (double y : lows_) lowsAt[heightIndex(y)] += 1;
        std::sort(flats_.begin(), flats_.end(), [](const Flat& a, const Flat& b) { return a.y < b.y; });
        auto flat = flats_.begin();
        const auto byX = [](const Listed& a, const Listed& b) { return a.x < b.x; };

        std::vector<Listed> active, joined;
        std::uint32_t next = 0;  // the first edge not yet started
        for (std::size_t h = 0; h < ys_.size(); ++h) {
            // The list without the edges ending here, merged with those starting here.
            joined.clear();
            auto kept = active.begin();
            const auto keep = [&] {
                while (kept != active.end() && topOf[kept->edge] == h) ++kept;
                return kept != active.end();
            };
            for (; next < edges_.size() && edges_[next].yb == ys_[h]; ++next) {
                const Listed fresh{next, edges_[next].xb};
                while (keep() && kept->x <= fresh.x) joined.push_back(*kept++);
                joined.push_back(fresh);
            }
            while (keep()) joined.push_back(*kept++);
            active.swap(joined);
            // Every insertion at a local minimum walks the list, and its winding walks it again.
            steps_ += static_cast<double>(active.size()) * (1 + 2 * lowsAt[h]);
            for (; flat != flats_.end() && flat->y <= ys_[h]; ++flat) {
                const auto from = std::lower_bound(active.begin(), active.end(), Listed{0, flat->x0}, byX);
                const auto to = std::upper_bound(active.begin(), active.end(), Listed{0, flat->x1}, byX);
                steps_ += kStepsPerCrossing * static_cast<double>(std::max<std::ptrdiff_t>(to - from, 0)) + 1;
            }
            if (!within()) return false;
            if (h + 1 < ys_.size() && !reorder(active, ys_[h + 1])) return false;
        }
        return true;
    }

    // Sorts the list by x at the next height. The library's own sort passes over the whole list once
    // for each place the farthest-moving edge moves, and putting the crossings it finds in an order it
    // can take them in may cost it a step for every crossing of the beam found before.
    bool reorder(std::vector<Listed>& active, double next) {
        for (Listed& l : active) l.x = edges_[l.edge].xAt(next);
        double swaps = 0;
        std::size_t farthest = 0;
        for (std::size_t k = 1; k < active.size(); ++k) {
            std::size_t j = k;
            for (; j > 0 && active[j - 1].x > active[j].x; --j) {
                std::swap(active[j - 1], active[j]);
                swaps += 1;
                steps_ += kStepsPerCrossing + swaps;
                if (!within()) return false;
            }
            farthest = std::max(farthest, k - j);
        }
        steps_ += static_cast<double>(active.size()) * static_cast<double>(farthest);
        return within();
    }

    std::vector<Edge> edges_;
    std::vector<Flat> flats_;
    std::vector<double> ys_;    // every vertex height, then sorted without repeats
    std::vector<double> lows_;  // heights where the library inserts edges
    double steps_ = 0;
};

} // namespace

bool withinBooleanBudget(const Paths& subject, const Paths& clip) {
    std::size_t points = 0;
    for (const Paths* paths : {&subject, &clip})
        for (const Path& p : *paths) points += p.size();
    return points <= kPointsAlwaysWithinBudget || SweepWork(subject, clip).fits();
}

} // namespace corvane::booleans
