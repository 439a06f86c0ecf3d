#include "mesh/Tessellator.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>

#include <sys/mman.h>

#include "model/Angles.hpp"
#include "model/GridAxes.hpp"
#include "model/Overloaded.hpp"

namespace corvane {

namespace {

// The angle step of the canvas's fans: a hair under pi in single precision. Meshes are compared float for
// float with those made before, so it stays as it was first written.
constexpr float kFanPi = 3.1415925f;

} // namespace

// TriangleMesh

float* TriangleMesh::addFanPoints(std::int64_t points) {
    const auto n = static_cast<std::uint32_t>(std::max<std::int64_t>(points, 3));
    if (!runs_.empty() && runs_.back().points == n && runs_.back().fans < std::numeric_limits<std::uint32_t>::max()) {
        ++runs_.back().fans;
    } else {
        if (runs_.size() % kRunsPerMark == 0) marks_.push_back(Mark{triangles_, pointCount()});
        runs_.push_back(FanRun{n, 1});
    }
    triangles_ += n - 2;
    const std::size_t base = points_.size();
    points_.resize(base + std::size_t{2} * n);
    return points_.data() + base;
}

bool TriangleMesh::extendsLastFan(float ax, float ay, float bx, float by) const {
    if (runs_.empty() || runs_.back().points == std::numeric_limits<std::uint32_t>::max()) return false;
    // Bit for bit, so that the fan gives back exactly the corners it was given.
    const auto same = [](float u, float v) { return std::bit_cast<std::uint32_t>(u) == std::bit_cast<std::uint32_t>(v); };
    const float* end = points_.data() + points_.size();
    const float* centre = end - 2 * std::ptrdiff_t{runs_.back().points};
    return same(centre[0], ax) && same(centre[1], ay) && same(end[-2], bx) && same(end[-1], by);
}

// Ear clipping a convex stretch gives (p, q, r), (p, r, s), ...: one fan. Such a triangle grows the fan before
// it by a point instead of starting one.
void TriangleMesh::addTriangle(const Vec2& a, const Vec2& b, const Vec2& c) {
    const float ax = static_cast<float>(a.x), ay = static_cast<float>(a.y);
    const float bx = static_cast<float>(b.x), by = static_cast<float>(b.y);
    const float cx = static_cast<float>(c.x), cy = static_cast<float>(c.y);
    if (!extendsLastFan(ax, ay, bx, by)) {
        float* out = addFanPoints(3);
        out[0] = ax;
        out[1] = ay;
        out[2] = bx;
        out[3] = by;
        out[4] = cx;
        out[5] = cy;
        return;
    }
    FanRun& last = runs_.back();
    if (last.fans == 1) {
        ++last.points;
    } else {
        // The fans before it keep their size; the last one leaves the run as a run of its own.
        --last.fans;
        const std::uint32_t points = last.points;
        if (runs_.size() % kRunsPerMark == 0) marks_.push_back(Mark{triangles_ - (points - 2), pointCount() - points});
        runs_.push_back(FanRun{points + 1, 1});
    }
    ++triangles_;
    points_.push_back(cx);
    points_.push_back(cy);
}

// The triangles (a, b, c) and (a, c, d): one fan.
void TriangleMesh::addQuad(const Vec2& a, const Vec2& b, const Vec2& c, const Vec2& d) {
    float* out = addFanPoints(4);
    for (const Vec2* p : {&a, &b, &c, &d}) {
        *out++ = static_cast<float>(p->x);
        *out++ = static_cast<float>(p->y);
    }
}

void TriangleMesh::addFan(const Vec2& center, double radius, double startDeg, double sweepDeg,
                          std::int64_t segments) {
    const std::int64_t k = std::max<std::int64_t>(segments, 3);
    const float cx = static_cast<float>(center.x);
    const float cy = static_cast<float>(center.y);
    const float r = static_cast<float>(radius);
    float* out = addFanPoints(k + 2);
    *out++ = cx;
    *out++ = cy;
    for (std::int64_t i = 0; i <= k; ++i) {
        const double deg = i == 0 ? startDeg : startDeg + sweepDeg * static_cast<double>(i) / static_cast<double>(k);
        const float phi = static_cast<float>(deg) * kFanPi / 180.0f;
        *out++ = cx + r * std::cos(phi);
        *out++ = cy + r * std::sin(phi);
    }
}

void TriangleMesh::append(const TriangleMesh& other) {
    for (std::size_t r = 0, point = 0; r < other.runs_.size(); ++r) {
        const FanRun& run = other.runs_[r];
        for (std::uint32_t f = 0; f < run.fans; ++f, point += run.points) {
            float* out = addFanPoints(run.points);
            std::copy_n(other.points_.data() + 2 * point, 2 * run.points, out);
        }
    }
}

TriangleMesh::Cursor TriangleMesh::seek(std::int64_t triangle) const {
    // The last mark at or before `triangle`, then run by run to the one holding it.
    const auto mark = std::upper_bound(marks_.begin(), marks_.end(), triangle,
                                       [](std::int64_t t, const Mark& m) { return t < m.triangle; }) - 1;
    Cursor at{static_cast<std::size_t>(mark - marks_.begin()) * kRunsPerMark, 0, 0, mark->point};
    std::int64_t runStart = mark->triangle;
    for (;; ++at.run) {
        const std::int64_t runTriangles = std::int64_t{runs_[at.run].fans} * (runs_[at.run].points - 2);
        if (triangle < runStart + runTriangles) break;
        runStart += runTriangles;
        at.point += std::int64_t{runs_[at.run].fans} * runs_[at.run].points;
    }
    const std::int64_t perFan = runs_[at.run].points - 2;
    at.fan = (triangle - runStart) / perFan;
    at.inFan = (triangle - runStart) % perFan;
    at.point += at.fan * runs_[at.run].points;
    return at;
}

void TriangleMesh::copyTriangles(std::int64_t firstTriangle, std::int64_t count, float* out) const {
    forEachTriangle(firstTriangle, count, [&out](const float* a, const float* b, const float* c) {
        out[0] = a[0];
        out[1] = a[1];
        out[2] = b[0];
        out[3] = b[1];
        out[4] = c[0];
        out[5] = c[1];
        out += 6;
    });
}

std::vector<float> TriangleMesh::vertices() const {
    std::vector<float> flat(static_cast<std::size_t>(triangles_) * 6);
    copyTriangles(0, triangles_, flat.data());
    return flat;
}

TriangleMesh TriangleMesh::ofTriangles(const std::vector<float>& flat) {
    TriangleMesh mesh;
    for (std::size_t i = 0; i + 6 <= flat.size(); i += 6) std::copy_n(flat.data() + i, 6, mesh.addFanPoints(3));
    return mesh;
}

std::array<float, 4> TriangleMesh::extent(std::int64_t firstTriangle, std::int64_t count) const {
    float minX = std::numeric_limits<float>::infinity();
    float minY = minX;
    float maxX = -minX;
    float maxY = -minX;
    const auto take = [&](const float* v) {
        // NaN fails every comparison and is left out.
        if (v[0] < minX) minX = v[0];
        if (v[0] > maxX) maxX = v[0];
        if (v[1] < minY) minY = v[1];
        if (v[1] > maxY) maxY = v[1];
    };
    // Whole fans are read point by point; only a fan the range cuts needs its triangles.
    const float* wholeFrom = nullptr;
    const float* wholeTo = nullptr;
    forEachFan(firstTriangle, count, [&](const float* centre, std::int64_t points, std::int64_t from, std::int64_t to) {
        // Fans lie one after another, so whole ones make one stretch of points.
        if (from == 0 && to == points - 3) {
            if (!wholeFrom) wholeFrom = centre;
            wholeTo = centre + 2 * points;
            return;
        }
        for (const float* v = wholeFrom; v != wholeTo; v += 2) take(v);
        wholeFrom = wholeTo = nullptr;
        take(centre);
        for (std::int64_t i = from + 1; i <= to + 2; ++i) take(centre + 2 * i);
    });
    for (const float* v = wholeFrom; v != wholeTo; v += 2) take(v);
    return {minX, minY, maxX, maxY};
}

std::array<float, 12> TriangleMesh::verticesOfQuad(double minX, double minY, double maxX, double maxY) {
    const float x0 = static_cast<float>(minX);
    const float y0 = static_cast<float>(minY);
    const float x1 = static_cast<float>(maxX);
    const float y1 = static_cast<float>(maxY);
    return {x0, y0, x1, y0, x1, y1, x0, y0, x1, y1, x0, y1};
}

// Ear clipping

namespace {

double turn(const Vec2& a, const Vec2& b, const Vec2& d) {
    return (b.x - a.x) * (d.y - a.y) - (b.y - a.y) * (d.x - a.x);
}

// Ear clipping that always takes the lowest-index ear, made fast by two facts: a vertex that is not an ear
// stays so until one of its neighbours or the point that blocks it goes, and only points near the candidate
// triangle can block it (a uniform grid over the points finds them).
// One instance per thread is reused, so that the many small contours of a layer do not each allocate its
// working arrays.
class EarClipper : GridAxes {
public:
    void run(const std::vector<Vec2>& points, std::vector<Triangle>& out) {
        reset(points);
        dropZeroTurns();
        buildGrid();
        clip(out);
        if (remaining_ == 3) {
            std::int32_t first = 0;
            while (!alive_[static_cast<std::size_t>(first)]) ++first;
            const std::int32_t second = next(first);
            out.push_back(Triangle{pt(first), pt(second), pt(next(second))});
        }
        p_ = nullptr;
        // Do not keep the arrays of an exceptional contour for the rest of the thread's life.
        if (prev_.capacity() > (1u << 16)) *this = EarClipper();
    }

private:
    void reset(const std::vector<Vec2>& points) {
        p_ = &points;
        n_ = static_cast<std::int32_t>(points.size());
        prev_.resize(static_cast<std::size_t>(n_));
        next_.resize(static_cast<std::size_t>(n_));
        for (std::int32_t i = 0; i < n_; ++i) {
            prev_[static_cast<std::size_t>(i)] = i == 0 ? n_ - 1 : i - 1;
            next_[static_cast<std::size_t>(i)] = i + 1 == n_ ? 0 : i + 1;
        }
        alive_.assign(static_cast<std::size_t>(n_), 1);
        remaining_ = n_;
    }

    const std::vector<Vec2>* p_ = nullptr;
    std::int32_t n_ = 0;
    std::int32_t remaining_ = 0;
    std::vector<std::int32_t> prev_, next_;
    std::vector<std::uint8_t> alive_;

    // Grid of the remaining points: cell `c` holds items_[start_[c] .. start_[c] + count_[c]).
    // Items carry their point so that scanning a cell reads memory in order.
    struct Item {
        Vec2 p;
        std::int32_t index;
    };
    std::vector<std::int32_t> start_, count_, slot_, cellOf_;
    std::vector<Item> items_;

    // Per vertex: whether it waits in the heap, and the point that blocks it (-1 for none).
    std::vector<std::uint8_t> queued_;
    std::vector<std::int32_t> blocker_, dependHead_, dependNext_, dependPrev_;
    std::vector<std::int32_t> heap_;

    const Vec2& pt(std::int32_t i) const { return (*p_)[static_cast<std::size_t>(i)]; }
    std::int32_t next(std::int32_t i) const { return next_[static_cast<std::size_t>(i)]; }
    std::int32_t prev(std::int32_t i) const { return prev_[static_cast<std::size_t>(i)]; }

    void unlink(std::int32_t i) {
        const auto u = static_cast<std::size_t>(i);
        alive_[u] = 0;
        next_[static_cast<std::size_t>(prev_[u])] = next_[u];
        prev_[static_cast<std::size_t>(next_[u])] = prev_[u];
        --remaining_;
    }

    // Collinear runs, 180° spikes and repeated points add no area but break the ear test: drop them until
    // none is left, keeping at least a triangle.
    void dropZeroTurns() {
        std::vector<std::int32_t>& work = heap_;  // free until clipping starts
        work.clear();
        for (std::int32_t i = n_ - 1; i >= 0; --i) work.push_back(i);
        while (!work.empty() && remaining_ > 3) {
            const std::int32_t b = work.back();
            work.pop_back();
            if (!alive_[static_cast<std::size_t>(b)]) continue;
            const std::int32_t a = prev(b);
            const std::int32_t d = next(b);
            const bool flat = std::fabs(turn(pt(a), pt(b), pt(d))) <= 1e-12 ||
                              pt(a).distance(pt(b)) < 1e-9 || pt(b).distance(pt(d)) < 1e-9;
            if (!flat) continue;
            unlink(b);
            work.push_back(d);
            work.push_back(a);
        }
    }

    void buildGrid() {
        double maxX = -std::numeric_limits<double>::infinity();
        double maxY = maxX;
        minX_ = std::numeric_limits<double>::infinity();
        minY_ = minX_;
        for (std::int32_t i = 0; i < n_; ++i) {
            if (!alive_[static_cast<std::size_t>(i)]) continue;
            minX_ = std::min(minX_, pt(i).x);
            minY_ = std::min(minY_, pt(i).y);
            maxX = std::max(maxX, pt(i).x);
            maxY = std::max(maxY, pt(i).y);
        }
        const double w = maxX - minX_;
        const double h = maxY - minY_;
        // About two points per cell, shaped like the points' box; small contours are quicker scanned whole.
        const double cells = remaining_ <= 32 ? 1.0 : remaining_ / 2.0;
        double nx = 1;
        double ny = 1;
        if (w > 0 && h > 0 && std::isfinite(w / h)) {
            nx = std::sqrt(cells * w / h);
            ny = cells / std::max(nx, 1.0);
        } else if (w > 0) {
            nx = cells;
        } else if (h > 0) {
            ny = cells;
        }
        gx_ = static_cast<std::int32_t>(std::clamp(std::ceil(nx), 1.0, 4096.0));
        gy_ = static_cast<std::int32_t>(std::clamp(std::ceil(ny), 1.0, 4096.0));
        scaleX_ = w > 0 && std::isfinite(w) ? gx_ / w : 0;
        scaleY_ = h > 0 && std::isfinite(h) ? gy_ / h : 0;

        const auto cellCount = static_cast<std::size_t>(gx_) * static_cast<std::size_t>(gy_);
        start_.assign(cellCount + 1, 0);
        count_.assign(cellCount, 0);
        cellOf_.assign(static_cast<std::size_t>(n_), 0);
        slot_.assign(static_cast<std::size_t>(n_), 0);
        for (std::int32_t i = 0; i < n_; ++i) {
            if (!alive_[static_cast<std::size_t>(i)]) continue;
            const std::int32_t c = cellY(pt(i).y) * gx_ + cellX(pt(i).x);
            cellOf_[static_cast<std::size_t>(i)] = c;
            ++count_[static_cast<std::size_t>(c)];
        }
        for (std::size_t c = 0; c < cellCount; ++c) start_[c + 1] = start_[c] + count_[c];
        std::vector<std::int32_t>& fill = heap_;  // free until clipping starts
        fill.assign(start_.begin(), start_.end() - 1);
        items_.assign(static_cast<std::size_t>(remaining_), Item{});
        for (std::int32_t i = 0; i < n_; ++i) {
            if (!alive_[static_cast<std::size_t>(i)]) continue;
            const auto c = static_cast<std::size_t>(cellOf_[static_cast<std::size_t>(i)]);
            slot_[static_cast<std::size_t>(i)] = fill[c];
            items_[static_cast<std::size_t>(fill[c]++)] = Item{pt(i), i};
        }
    }

    void removeFromGrid(std::int32_t i) {
        const auto c = static_cast<std::size_t>(cellOf_[static_cast<std::size_t>(i)]);
        const std::int32_t last = start_[c] + --count_[c];
        const Item moved = items_[static_cast<std::size_t>(last)];
        const std::int32_t at = slot_[static_cast<std::size_t>(i)];
        items_[static_cast<std::size_t>(at)] = moved;
        slot_[static_cast<std::size_t>(moved.index)] = at;
    }

    // A point blocks the ear (a, b, d) when it lies inside or on the triangle, unless it sits on a corner:
    // a vertex on the diagonal would otherwise let the rest of the polygon touch itself.
    static bool blocks(const Vec2& p, const Vec2& a, const Vec2& b, const Vec2& d) {
        if (!(turn(a, b, p) >= -1e-12 && turn(b, d, p) >= -1e-12 && turn(d, a, p) >= -1e-12)) return false;
        return !(p.distance(a) < 1e-9 || p.distance(b) < 1e-9 || p.distance(d) < 1e-9);
    }

    // Any remaining point that blocks the ear at b, or -1.
    std::int32_t findBlocker(std::int32_t ia, std::int32_t ib, std::int32_t id) const {
        const Vec2 tri[3] = {pt(ia), pt(ib), pt(id)};
        if (gx_ == 1 && gy_ == 1) {
            for (std::int32_t k = 0; k < count_[0]; ++k) {
                const Item& item = items_[static_cast<std::size_t>(k)];
                if (blocks(item.p, tri[0], tri[1], tri[2])) return item.index;
            }
            return -1;
        }
        // Points within the tolerance of the edge tests lie in a slightly larger triangle: each edge moved
        // outward until its cross product reaches -1e-12. Its corners are where neighbouring moved edges meet.
        Vec2 grown[3];
        double nxs[3], nys[3], cs[3];
        for (int e = 0; e < 3; ++e) {
            const Vec2& s = tri[e];
            const Vec2& t = tri[(e + 1) % 3];
            nxs[e] = -(t.y - s.y);
            nys[e] = t.x - s.x;
            cs[e] = nxs[e] * s.x + nys[e] * s.y - 1e-12;
        }
        double lo[2] = {std::numeric_limits<double>::infinity(), std::numeric_limits<double>::infinity()};
        double hi[2] = {-lo[0], -lo[1]};
        bool usable = true;
        for (int v = 0; v < 3; ++v) {
            const int e1 = (v + 2) % 3;  // edge ending at v
            const int e2 = v;            // edge starting at v
            const double det = nxs[e1] * nys[e2] - nys[e1] * nxs[e2];
            grown[v] = Vec2{(cs[e1] * nys[e2] - cs[e2] * nys[e1]) / det, (nxs[e1] * cs[e2] - nxs[e2] * cs[e1]) / det};
            if (!grown[v].isFinite()) usable = false;
            for (const Vec2& q : {tri[v], grown[v]}) {
                lo[0] = std::min(lo[0], q.x);
                lo[1] = std::min(lo[1], q.y);
                hi[0] = std::max(hi[0], q.x);
                hi[1] = std::max(hi[1], q.y);
            }
        }
        if (!usable) return findBlockerEverywhere(ia, ib, id);
        const double pad = 1e-9 + 1e-12 * std::max({std::fabs(lo[0]), std::fabs(lo[1]), std::fabs(hi[0]), std::fabs(hi[1])});
        const std::int32_t r0 = cellY(lo[1] - pad);
        const std::int32_t r1 = cellY(hi[1] + pad);
        const std::int32_t c0 = cellX(lo[0] - pad);
        const std::int32_t c1 = cellX(hi[0] + pad);
        for (std::int32_t r = r0; r <= r1; ++r) {
            std::int32_t from = c0;
            std::int32_t to = c1;
            if (r1 - r0 > 1 && scaleY_ > 0) {
                // Only the cells this row's band of the grown triangle touches.
                const double y0 = std::max(lo[1], minY_ + r / scaleY_) - pad;
                const double y1 = std::min(hi[1], minY_ + (r + 1) / scaleY_) + pad;
                double xMin = std::numeric_limits<double>::infinity();
                double xMax = -xMin;
                for (int e = 0; e < 3; ++e) {
                    const Vec2& s = grown[e];
                    const Vec2& t = grown[(e + 1) % 3];
                    const double eyLo = std::max(std::min(s.y, t.y), y0);
                    const double eyHi = std::min(std::max(s.y, t.y), y1);
                    if (eyLo > eyHi) continue;
                    if (s.y == t.y) {
                        xMin = std::min({xMin, s.x, t.x});
                        xMax = std::max({xMax, s.x, t.x});
                        continue;
                    }
                    for (const double yy : {eyLo, eyHi}) {
                        const double xx = s.x + (t.x - s.x) * (yy - s.y) / (t.y - s.y);
                        xMin = std::min(xMin, xx);
                        xMax = std::max(xMax, xx);
                    }
                }
                if (!(xMin <= xMax)) continue;
                from = std::max(c0, cellX(xMin - pad));
                to = std::min(c1, cellX(xMax + pad));
            }
            for (std::int32_t c = from; c <= to; ++c) {
                const auto cell = static_cast<std::size_t>(r * gx_ + c);
                const std::int32_t begin = start_[cell];
                const std::int32_t end = begin + count_[cell];
                for (std::int32_t k = begin; k < end; ++k) {
                    const Item& item = items_[static_cast<std::size_t>(k)];
                    if (blocks(item.p, tri[0], tri[1], tri[2])) return item.index;
                }
            }
        }
        return -1;
    }

    std::int32_t findBlockerEverywhere(std::int32_t ia, std::int32_t ib, std::int32_t id) const {
        for (std::int32_t j = next(id); j != ia; j = next(j)) {
            if (blocks(pt(j), pt(ia), pt(ib), pt(id))) return j;
        }
        return -1;
    }

    void push(std::int32_t i) {
        if (queued_[static_cast<std::size_t>(i)]) return;
        queued_[static_cast<std::size_t>(i)] = 1;
        heap_.push_back(i);
        std::push_heap(heap_.begin(), heap_.end(), std::greater<>());
    }

    void setBlocker(std::int32_t i, std::int32_t by) {
        const auto u = static_cast<std::size_t>(i);
        blocker_[u] = by;
        dependPrev_[u] = -1;
        dependNext_[u] = dependHead_[static_cast<std::size_t>(by)];
        if (dependNext_[u] >= 0) dependPrev_[static_cast<std::size_t>(dependNext_[u])] = i;
        dependHead_[static_cast<std::size_t>(by)] = i;
    }

    void clearBlocker(std::int32_t i) {
        const auto u = static_cast<std::size_t>(i);
        const std::int32_t by = blocker_[u];
        if (by < 0) return;
        if (dependPrev_[u] >= 0) {
            dependNext_[static_cast<std::size_t>(dependPrev_[u])] = dependNext_[u];
        } else {
            dependHead_[static_cast<std::size_t>(by)] = dependNext_[u];
        }
        if (dependNext_[u] >= 0) dependPrev_[static_cast<std::size_t>(dependNext_[u])] = dependPrev_[u];
        blocker_[u] = -1;
    }

    // The vertex's ear test is stale: test it again in index order.
    void reconsider(std::int32_t i) {
        clearBlocker(i);
        push(i);
    }

    void clip(std::vector<Triangle>& out) {
        const auto n = static_cast<std::size_t>(n_);
        queued_.assign(n, 0);
        blocker_.assign(n, -1);
        dependHead_.assign(n, -1);
        dependNext_.assign(n, -1);
        dependPrev_.assign(n, -1);
        heap_.clear();
        // Ascending order is already a min-heap.
        for (std::int32_t i = 0; i < n_; ++i) {
            if (!alive_[static_cast<std::size_t>(i)]) continue;
            queued_[static_cast<std::size_t>(i)] = 1;
            heap_.push_back(i);
        }
        out.reserve(out.size() + static_cast<std::size_t>(std::max(remaining_ - 2, 0)));
        while (remaining_ >= 4 && !heap_.empty()) {
            std::pop_heap(heap_.begin(), heap_.end(), std::greater<>());
            const std::int32_t b = heap_.back();
            heap_.pop_back();
            queued_[static_cast<std::size_t>(b)] = 0;
            if (!alive_[static_cast<std::size_t>(b)]) continue;
            const std::int32_t a = prev(b);
            const std::int32_t d = next(b);
            if (!(turn(pt(a), pt(b), pt(d)) > 1e-12)) continue;  // waits for a neighbour to change
            const std::int32_t by = findBlocker(a, b, d);
            if (by >= 0) {
                setBlocker(b, by);
                continue;
            }
            out.push_back(Triangle{pt(a), pt(b), pt(d)});
            unlink(b);
            removeFromGrid(b);
            clearBlocker(b);
            reconsider(a);
            reconsider(d);
            while (dependHead_[static_cast<std::size_t>(b)] >= 0) reconsider(dependHead_[static_cast<std::size_t>(b)]);
        }
    }
};

} // namespace

std::vector<Triangle> Tessellator::earClip(const std::vector<Vec2>& polygon) {
    const std::vector<Vec2> points = dedupeConsecutive(polygon);
    std::vector<Triangle> triangles;
    if (points.size() < 3 || points.size() >= static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
        return triangles;
    }
    for (const Vec2& p : points) {
        if (!p.isFinite()) return triangles;
    }
    thread_local EarClipper clipper;
    clipper.run(points, triangles);
    return triangles;
}

// Tessellation

namespace {

constexpr std::int64_t kTabledSegments = 64;

// Unit rim offsets of the fans whose angles never change (full discs from 0°, obround half discs), computed
// exactly as TriangleMesh::addFan computes them, so the fast path gives the same floats.
struct FanTables {
    // [kind][k] holds k + 1 (cos, sin) pairs; kind 0 = full turn from 0°, 1-4 = half turns from -90, 90, 0, 180.
    std::vector<float> table[5][kTabledSegments + 1];
    // cos and sin of i·180°/k for half-turn caps at any start angle, in double.
    std::vector<double> halfTurn[kTabledSegments + 1];

    FanTables() {
        static const double starts[5] = {0, -90, 90, 0, 180};
        for (int kind = 0; kind < 5; ++kind) {
            const double sweep = kind == 0 ? 360.0 : 180.0;
            for (std::int64_t k = 3; k <= kTabledSegments; ++k) {
                auto& t = table[kind][k];
                t.reserve(static_cast<std::size_t>(2 * (k + 1)));
                for (std::int64_t i = 0; i <= k; ++i) {
                    const double deg = starts[kind] + sweep * static_cast<double>(i) / static_cast<double>(k);
                    const float phi = static_cast<float>(deg) * kFanPi / 180.0f;
                    t.push_back(std::cos(phi));
                    t.push_back(std::sin(phi));
                }
            }
        }
        for (std::int64_t k = 3; k <= kTabledSegments; ++k) {
            for (std::int64_t i = 0; i <= k; ++i) {
                const double a = kPi * static_cast<double>(i) / static_cast<double>(k);
                halfTurn[k].push_back(std::cos(a));
                halfTurn[k].push_back(std::sin(a));
            }
        }
    }
};

const FanTables& fanTables() {
    static const FanTables tables;
    return tables;
}

enum class FixedFan { disc = 0, halfFromMinus90 = 1, halfFrom90 = 2, halfFrom0 = 3, halfFrom180 = 4 };

// Appends a fan whose angles are those of `kind`; same floats as addFan with the matching angles.
void addFixedFan(TriangleMesh& mesh, const Vec2& center, double radius, FixedFan kind, std::int64_t segments) {
    const std::int64_t k = std::max<std::int64_t>(segments, 3);
    if (k > kTabledSegments) {
        static const double starts[5] = {0, -90, 90, 0, 180};
        const auto idx = static_cast<int>(kind);
        mesh.addFan(center, radius, starts[idx], idx == 0 ? 360.0 : 180.0, k);
        return;
    }
    const float* t = fanTables().table[static_cast<int>(kind)][k].data();
    const float cx = static_cast<float>(center.x);
    const float cy = static_cast<float>(center.y);
    const float r = static_cast<float>(radius);
    float* out = mesh.addFanPoints(k + 2);
    *out++ = cx;
    *out++ = cy;
    for (std::int64_t i = 0; i <= k; ++i) {
        *out++ = cx + r * t[2 * i];
        *out++ = cy + r * t[2 * i + 1];
    }
}

// m(d): drills, circle and macro flashes grow in resolution with size, up to 48 segments.
std::int64_t discSegments(double diameter) {
    const double m = std::min(std::max(4.0 * std::ceil(diameter / 0.2), 6.0), 48.0);
    return static_cast<std::int64_t>(m);
}

// Pieces for `span` radians of a circle of `radius` under a detail tolerance: `most` without one, else as
// few as keep every chord within it, but no fewer than `least`.
std::int64_t piecesWithin(double radius, double span, double tolerance, std::int64_t most, std::int64_t least) {
    if (!(tolerance > 0)) return most;
    if (!(radius > tolerance)) return std::min(least, most);
    const double pieces = std::ceil(span / (2.0 * std::acos(1.0 - tolerance / radius)));
    if (!std::isfinite(pieces)) return most;
    return std::clamp(static_cast<std::int64_t>(pieces), std::min(least, most), most);
}

// Fewest pieces of a drawn full circle and of a half circle: a square and three chords.
constexpr std::int64_t kLeastDiscPieces = 4;
constexpr std::int64_t kLeastHalfPieces = 3;

void addDisc(TriangleMesh& mesh, const Vec2& center, double diameter, double tolerance) {
    if (!std::isfinite(diameter) || !center.isFinite()) return;
    const double r = diameter * 0.5;
    addFixedFan(mesh, center, r, FixedFan::disc,
                piecesWithin(std::fabs(r), kTwoPi, tolerance, discSegments(diameter), kLeastDiscPieces));
}

// One contour as a region fills it: counter-clockwise, without repeats, ear-clipped, with a fan from the first
// point when clipping finds nothing at all. A contour holding a number that is not finite gives nothing.
void triangulateContour(const std::vector<Vec2>& contour, std::vector<Triangle>& out) {
    for (const Vec2& p : contour) {
        if (!p.isFinite()) return;
    }
    const std::vector<Vec2> polygon = GeometryEngine::dedupeConsecutive(GeometryEngine::ensureCCW(contour));
    const std::vector<Triangle> triangles = Tessellator::earClip(polygon);
    if (!triangles.empty()) {
        out.insert(out.end(), triangles.begin(), triangles.end());
        return;
    }
    for (std::size_t i = 1; i + 1 < polygon.size(); ++i) out.push_back(Triangle{polygon[0], polygon[i], polygon[i + 1]});
}

// Triangles in order as fans: one that begins with the last fan's centre and last point goes on from it.
// The fans give back the same triangles, bit for bit, in the same order.
std::vector<Contour> fansOf(const std::vector<Triangle>& triangles) {
    const auto same = [](const Vec2& p, const Vec2& q) {
        return std::bit_cast<std::uint64_t>(p.x) == std::bit_cast<std::uint64_t>(q.x) &&
               std::bit_cast<std::uint64_t>(p.y) == std::bit_cast<std::uint64_t>(q.y);
    };
    std::vector<Contour> fans;
    for (const Triangle& t : triangles) {
        if (!fans.empty() && same(fans.back().front(), t[0]) && same(fans.back().back(), t[1])) {
            fans.back().push_back(t[2]);
        } else {
            fans.push_back(Contour{t[0], t[1], t[2]});
        }
    }
    return fans;
}

} // namespace

// Layer meshes run to a hundred megabytes; backing them with huge pages saves most of the page faults their
// first write would take. Only a hint: the kernel may ignore it.
void TriangleMesh::reserve(std::int64_t floats, std::int64_t fans) {
    points_.reserve(static_cast<std::size_t>(std::max<std::int64_t>(floats, 0)));
    runs_.reserve(static_cast<std::size_t>(std::max<std::int64_t>(fans, 0)));
    constexpr std::uintptr_t huge = 2u << 20;
    const std::size_t bytes = points_.capacity() * sizeof(float);
    // Below this the huge page the last fans touch, resident however little of it they fill, is a large share
    // of the mesh.
    if (bytes < 16 * huge) return;
    const auto begin = reinterpret_cast<std::uintptr_t>(points_.data());
    const std::uintptr_t first = (begin + huge - 1) & ~(huge - 1);
    const std::uintptr_t last = (begin + bytes) & ~(huge - 1);
    if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

namespace {

// The triangles flashShape gives, or an upper bound for macro outlines.
std::int64_t flashTriangles(ShapeRef shape, std::int64_t n, double tolerance) {
    if (!shape) return n;
    return std::visit(
        Overloaded{
            [&](const ApertureShape::Circle& c) {
                if (!std::isfinite(c.diameter)) return std::int64_t{0};
                return piecesWithin(std::fabs(c.diameter * 0.5), kTwoPi, tolerance, discSegments(c.diameter),
                                    kLeastDiscPieces);
            },
            [](const ApertureShape::Rectangle&) { return std::int64_t{2}; },
            [&](const ApertureShape::Obround&) { return 2 + 2 * n; },
            [](const ApertureShape::Polygon& p) {
                return std::min(std::max<std::int64_t>(p.vertices, 3), GeometryEngine::maxPolygonVertices);
            },
            [](const ApertureShape::Macro& m) {
                if (!m.outline) return std::isfinite(m.boundingDiameter) ? discSegments(m.boundingDiameter) : 0;
                std::int64_t points = 0;
                for (const Contour& c : *m.outline) points += static_cast<std::int64_t>(c.size());
                return points;
            },
        },
        shape->value);
}

// The fans flashShape gives, or an upper bound for macro outlines.
std::int64_t flashFans(ShapeRef shape) {
    if (!shape) return 1;
    return std::visit(Overloaded{
                          [](const ApertureShape::Obround&) { return std::int64_t{3}; },
                          [](const ApertureShape::Macro& m) {
                              if (!m.outline) return std::int64_t{1};
                              std::int64_t points = 0;
                              for (const Contour& c : *m.outline) points += static_cast<std::int64_t>(c.size());
                              return points;
                          },
                          [](const auto&) { return std::int64_t{1}; },
                      },
                      shape->value);
}

double strokeWidthOf(const PCBObject& obj) {
    return obj.apertureShape ? obj.apertureShape->strokeNominalWidth() : 0.2;
}

} // namespace

TessellatedLayer Tessellator::tessellate(const std::vector<PCBObject>& objects) const {
    TessellatedLayer layer;
    const std::int64_t n = std::max<std::int64_t>(capSegments, 3);
    // As strokeSegment makes them.
    const auto strokeTriangles = [&](double width) -> std::int64_t {
        const double h = std::fabs(width * 0.5);
        if (detailToleranceMM > 0 && !(h > detailToleranceMM)) return 2;
        return 2 + 2 * piecesWithin(h, kPi, detailToleranceMM, n, kLeastHalfPieces);
    };
    // Triangles and fans, as append makes them (upper bounds for outlines).
    struct Size {
        std::int64_t triangles, fans;
    };
    const auto strokeSize = [&](double width, std::int64_t pieces) {
        const std::int64_t triangles = strokeTriangles(width);
        return Size{triangles * pieces, (triangles == 2 ? 1 : 3) * pieces};
    };
    const auto outlineSize = [](const std::vector<Contour>& contours) {
        std::int64_t points = 0;
        for (const auto& c : contours) points += static_cast<std::int64_t>(c.size());
        return Size{points, points};
    };
    auto sizeOf = [&](const PCBObject& obj) {
        return obj.kind.visit(
            Overloaded{
                [&](const PCBObjectKind::Stroke&) { return strokeSize(strokeWidthOf(obj), 1); },
                [&](const PCBObjectKind::ArcStroke& a) {
                    return strokeSize(strokeWidthOf(obj), sampledPointCount(a.start, a.end, a.center, a.clockwise));
                },
                [&](const PCBObjectKind::Flash&) {
                    return Size{flashTriangles(obj.apertureShape, n, detailToleranceMM), flashFans(obj.apertureShape)};
                },
                [&](const PCBObjectKind::Region& r) { return outlineSize(r.contours); },
                [&](const PCBObjectKind::Drill& d) {
                    return Size{std::isfinite(d.diameterMM) ? discSegments(d.diameterMM) : 0, 1};
                },
                [&](const PCBObjectKind::Slot& s) { return strokeSize(s.diameterMM, 1); },
            });
    };
    // Reserve once instead of doubling through a hundred megabytes. A big layer is sized from an even sample
    // of its primitives with room to spare: reading every primitive twice costs more than reserving too much,
    // which only takes address space until it is written.
    const std::size_t count = objects.size();
    const std::size_t stride = count <= 8192 ? 1 : count / 4096;
    Size dark{0, 0};
    Size clear{0, 0};
    for (std::size_t i = 0; i < count; i += stride) {
        const Size size = sizeOf(objects[i]);
        Size& sum = objects[i].polarity == Polarity::clear ? clear : dark;
        sum.triangles += size.triangles;
        sum.fans += size.fans;
    }
    const double scale = stride == 1 ? 1.0 : static_cast<double>(stride) * 1.25;
    // A fan of n points gives n - 2 triangles.
    const auto reserve = [scale](TriangleMesh& mesh, const Size& size) {
        mesh.reserve(static_cast<std::int64_t>(static_cast<double>(2 * (size.triangles + 2 * size.fans)) * scale),
                     static_cast<std::int64_t>(static_cast<double>(size.fans) * scale));
    };
    reserve(layer.dark, dark);
    reserve(layer.clear, clear);
    for (const PCBObject& obj : objects) {
        const bool isClear = obj.polarity == Polarity::clear;
        TriangleMesh& mesh = isClear ? layer.clear : layer.dark;
        const std::int64_t before = mesh.vertexCount();
        append(obj, mesh);
        const std::int64_t added = mesh.vertexCount() - before;
        if (added == 0) continue;
        const auto linesBefore = static_cast<std::int64_t>(layer.centreLines.size() / 2);
        appendCentreLine(obj, layer.centreLines);
        const auto linesAdded = static_cast<std::int64_t>(layer.centreLines.size() / 2) - linesBefore;
        if (!layer.runs.empty() && layer.runs.back().polarity == obj.polarity) {
            layer.runs.back().vertexCount += added;
            layer.runs.back().lineVertexCount += linesAdded;
        } else {
            layer.runs.push_back(PolarityRun{obj.polarity, before, added, linesBefore, linesAdded});
        }
    }
    return layer;
}

void Tessellator::appendCentreLine(const PCBObject& obj, std::vector<float>& lines) const {
    const auto piece = [&lines](const Vec2& a, const Vec2& b) {
        if (!a.isFinite() || !b.isFinite()) return;
        lines.insert(lines.end(), {static_cast<float>(a.x), static_cast<float>(a.y), static_cast<float>(b.x),
                                   static_cast<float>(b.y)});
    };
    if (const auto* s = obj.kind.as<PCBObjectKind::Stroke>()) return piece(s->start, s->end);
    if (const auto* s = obj.kind.as<PCBObjectKind::Slot>()) return piece(s->start, s->end);
    if (const auto* a = obj.kind.as<PCBObjectKind::ArcStroke>()) {
        thread_local std::vector<Vec2> points;
        points.clear();
        points.push_back(a->start);
        sampleArc(a->start, a->end, a->center, a->clockwise, points);
        for (std::size_t i = 1; i < points.size(); ++i) piece(points[i - 1], points[i]);
    }
}

void Tessellator::append(const PCBObject& obj, TriangleMesh& mesh) const {
    obj.kind.visit(Overloaded{
                   [&](const PCBObjectKind::Stroke& s) { strokeSegment(s.start, s.end, strokeWidthOf(obj), mesh); },
                   [&](const PCBObjectKind::ArcStroke& a) {
                       thread_local std::vector<Vec2> points;
                       points.clear();
                       points.push_back(a.start);
                       sampleArc(a.start, a.end, a.center, a.clockwise, points);
                       strokePolyline(points, strokeWidthOf(obj), mesh);
                   },
                   [&](const PCBObjectKind::Flash& f) { flashShape(f.at, obj.apertureShape, mesh); },
                   [&](const PCBObjectKind::Region& r) { fillRegion(r.contours, mesh); },
                   [&](const PCBObjectKind::Drill& d) { addDisc(mesh, d.at, d.diameterMM, detailToleranceMM); },
                   [&](const PCBObjectKind::Slot& s) { strokeSegment(s.start, s.end, s.diameterMM, mesh); },
               });
}

void Tessellator::strokeSegment(const Vec2& a, const Vec2& b, double width, TriangleMesh& mesh) const {
    if (!std::isfinite(width) || !a.isFinite() || !b.isFinite()) return;
    const double h = width * 0.5;
    const std::int64_t full = std::max<std::int64_t>(capSegments, 3);
    const double dx = b.x - a.x;
    const double dy = b.y - a.y;
    const double len = std::sqrt(dx * dx + dy * dy);
    if (!std::isfinite(len)) return;
    if (!(len > 1e-9)) {
        addFixedFan(mesh, a, h, FixedFan::disc, piecesWithin(std::fabs(h), kTwoPi, detailToleranceMM, full, kLeastDiscPieces));
        return;
    }
    // Under a detail tolerance the caps have as few pieces as it allows, and none where it exceeds them.
    const bool plainEnds = detailToleranceMM > 0 && !(std::fabs(h) > detailToleranceMM);
    const std::int64_t n =
        plainEnds ? 0 : piecesWithin(std::fabs(h), kPi, detailToleranceMM, full, kLeastHalfPieces);
    const double ux = dx / len;
    const double uy = dy / len;
    const Vec2 o{h * -uy, h * ux};
    if (n > kTabledSegments || n == 0) {
        mesh.addQuad(a + o, b + o, b - o, a - o);
        if (n == 0) return;
        const double theta = std::atan2(-o.y, -o.x) * 180.0 / kPi;
        mesh.addFan(b, h, theta, 180, n);
        mesh.addFan(a, h, theta + 180, 180, n);
        return;
    }
    // The caps start on the right side (the direction of -o) and turn through half a circle; the start
    // cap is the end cap's rim mirrored through the centre.
    const double ex = h >= 0 ? uy : -uy;
    const double ey = h >= 0 ? -ux : ux;
    const double* turn = fanTables().halfTurn[n].data();
    float* out = mesh.addFanPoints(4);
    auto put = [&out](double x, double y) {
        *out++ = static_cast<float>(x);
        *out++ = static_cast<float>(y);
    };
    put(a.x + o.x, a.y + o.y);
    put(b.x + o.x, b.y + o.y);
    put(b.x - o.x, b.y - o.y);
    put(a.x - o.x, a.y - o.y);
    for (int cap = 0; cap < 2; ++cap) {
        const Vec2& c = cap == 0 ? b : a;
        const double s = cap == 0 ? h : -h;
        out = mesh.addFanPoints(n + 2);
        put(c.x, c.y);
        put(c.x + s * ex, c.y + s * ey);
        for (std::int64_t i = 1; i <= n; ++i) {
            const double cs = turn[2 * i];
            const double sn = turn[2 * i + 1];
            put(c.x + s * (ex * cs - ey * sn), c.y + s * (ey * cs + ex * sn));
        }
    }
}

void Tessellator::strokePolyline(const std::vector<Vec2>& points, double width, TriangleMesh& mesh) const {
    for (std::size_t i = 1; i < points.size(); ++i) strokeSegment(points[i - 1], points[i], width, mesh);
}

void Tessellator::flashShape(const Vec2& at, ShapeRef shape, TriangleMesh& mesh) const {
    if (!at.isFinite()) return;
    const std::int64_t n = std::max<std::int64_t>(capSegments, 3);
    if (!shape) {
        addFixedFan(mesh, at, 0.2, FixedFan::disc, piecesWithin(0.2, kTwoPi, detailToleranceMM, n, kLeastDiscPieces));
        return;
    }
    const double x = at.x;
    const double y = at.y;
    std::visit(
        Overloaded{
            [&](const ApertureShape::Circle& c) { addDisc(mesh, at, c.diameter, detailToleranceMM); },
            [&](const ApertureShape::Rectangle& r) {
                if (!std::isfinite(r.width) || !std::isfinite(r.height)) return;
                const double w = r.width / 2;
                const double h = r.height / 2;
                mesh.addQuad(Vec2{x - w, y - h}, Vec2{x + w, y - h}, Vec2{x + w, y + h}, Vec2{x - w, y + h});
            },
            [&](const ApertureShape::Obround& o) {
                if (!std::isfinite(o.width) || !std::isfinite(o.height)) return;
                const auto ends = [&](double r) {
                    return piecesWithin(std::fabs(r), kPi, detailToleranceMM, n, kLeastHalfPieces);
                };
                if (o.height <= o.width) {
                    const double r = o.height / 2;
                    const double e = o.width / 2 - r;
                    mesh.addQuad(Vec2{x - e, y - r}, Vec2{x + e, y - r}, Vec2{x + e, y + r}, Vec2{x - e, y + r});
                    addFixedFan(mesh, Vec2{x + e, y}, r, FixedFan::halfFromMinus90, ends(r));
                    addFixedFan(mesh, Vec2{x - e, y}, r, FixedFan::halfFrom90, ends(r));
                } else {
                    const double r = o.width / 2;
                    const double e = o.height / 2 - r;
                    mesh.addQuad(Vec2{x - r, y - e}, Vec2{x + r, y - e}, Vec2{x + r, y + e}, Vec2{x - r, y + e});
                    addFixedFan(mesh, Vec2{x, y + e}, r, FixedFan::halfFrom0, ends(r));
                    addFixedFan(mesh, Vec2{x, y - e}, r, FixedFan::halfFrom180, ends(r));
                }
            },
            [&](const ApertureShape::Polygon& p) {
                thread_local std::vector<Vec2> corners;
                corners.clear();
                polygonCorners(at, p, corners);
                if (corners.empty()) return;
                // The triangles (at, corner j, corner j + 1) round the polygon: one fan that ends where it began.
                float* out = mesh.addFanPoints(static_cast<std::int64_t>(corners.size()) + 2);
                const auto put = [&out](const Vec2& p) {
                    *out++ = static_cast<float>(p.x);
                    *out++ = static_cast<float>(p.y);
                };
                put(at);
                for (const Vec2& corner : corners) put(corner);
                put(corners[0]);
            },
            [&](const ApertureShape::Macro& m) {
                if (!m.outline) {
                    addDisc(mesh, at, m.boundingDiameter, detailToleranceMM);
                    return;
                }
                // Pads of one aperture follow one another in a layer: clip the outline once, in aperture
                // coordinates, and place its triangles at each flash.
                struct Memo {
                    std::vector<Contour> outline;
                    double tolerance = 0;
                    std::vector<Contour> fans;
                };
                thread_local Memo memo;
                const double tolerance = std::max(detailToleranceMM, arcChordToleranceMM);
                if (memo.outline != *m.outline || memo.tolerance != tolerance) {
                    std::vector<Triangle> triangles;
                    for (const Contour& contour : thinnedOutline(*m.outline, tolerance))
                        triangulateContour(contour, triangles);
                    memo.fans = fansOf(triangles);
                    memo.outline = *m.outline;
                    memo.tolerance = tolerance;
                }
                for (const Contour& fan : memo.fans) {
                    float* out = mesh.addFanPoints(static_cast<std::int64_t>(fan.size()));
                    for (const Vec2& p : fan) {
                        *out++ = static_cast<float>(p.x + at.x);
                        *out++ = static_cast<float>(p.y + at.y);
                    }
                }
            },
        },
        shape->value);
}

void Tessellator::fillRegion(const std::vector<Contour>& contours, TriangleMesh& mesh) const {
    std::vector<Triangle> triangles;
    for (const Contour& contour : contours) {
        triangles.clear();
        triangulateContour(contour, triangles);
        for (const Triangle& t : triangles) mesh.addTriangle(t[0], t[1], t[2]);
    }
}

} // namespace corvane
