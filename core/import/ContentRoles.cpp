#include "ContentRoles.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <tuple>
#include <utility>

#include "LayerClassifier.hpp"
#include "model/Format.hpp"
#include "model/ParallelFor.hpp"

namespace corvane {

RoleDeadline RoleDeadline::after(double seconds) {
    RoleDeadline d;
    if (!(seconds < 1e9)) return d;  // no limit, and no overflow of the clock's count
    // No budget at all has passed already, however fast the clock is read again.
    if (!(seconds > 0)) d.at = Clock::time_point::min();
    else d.at = d.now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    return d;
}

namespace {

// A pad drawn for a hole sits on its centre: CAD tools write both from one position, rounded to the
// files' resolution (2.4 inch format: 2.5 µm).
constexpr double kCentreToleranceMM = 0.05;
// A pad's copper rings its hole: its aperture is larger than the hole by more than rounding.
constexpr double kRingMarginMM = 0.02;
// Most of the holes, not all: mounting holes carry no pad on copper or mask.
constexpr double kMostHoles = 0.5;
// A drill symbol is drawn within about a hole's size of its centre (crosses, squares, circles of 1-2 mm).
constexpr double kSymbolReachMM = 1.5;
// No drill hole or pad is this large: nothing is looked for farther out whatever size a file gives one.
constexpr double kLargestReachMM = 25.0;
// Strokes of a symbol balance about its hole; a track leaving a pad, or a silkscreen outline, does not.
constexpr double kSymbolBalanceShare = 0.15;
// Tracks are longer than a rounding artefact; pours cover more than the largest pad opening.
constexpr double kTrackLengthMM = 0.5;
constexpr double kPourAreaMM2 = 100.0;
// A plane is a few pours: more of them than this are searched by their size, largest first.
constexpr std::size_t kLargestPours = 64;
// Copper joins pads to pads: its tracks run from one pad to another, segment after segment end to end. A
// drawing's lines pass the holes by (outlines of parts, text, frames, tables), or run from a pad to a part's
// body (the leads of an assembly drawing), and a symbol's strokes stay on their hole.
constexpr double kTrackJointMM = 0.01;
// Even an inner signal layer, whose pads on the through holes mostly stand alone, joins a few of them.
constexpr double kConnectedShare = 0.03;
constexpr std::size_t kMinConnected = 3;
// Copper carries tracks on a share of its pads at least; a mask may paint a few oblong pads.
constexpr double kTrackShare = 0.05;
constexpr std::size_t kMinTracks = 3;
// A solder mask opens over the component holes only (vias are mostly covered), each opening at least as
// large as the copper pad under it and mostly larger by the mask's expansion.
constexpr double kMaskHoleShare = 0.1;
constexpr std::size_t kMinMaskHoles = 4;
constexpr double kSizeRoundingMM = 0.005;
constexpr double kMaskNotSmallerShare = 0.9;
constexpr double kMaskLargerShare = 0.5;
// A drill-named Gerber file mostly of strokes is a drawing: drill data is flashes (and slots).
constexpr double kDrawingStrokeShare = 0.5;
// A board's layers stay on the board; a drawing's frame, title block, notes, tables and legends lie beyond
// it. Beyond means wholly outside the other layers' extent by more than a layer's own edge clearance, for
// more objects than a stray marker.
constexpr double kBeyondMarginMM = 1.0;
constexpr double kBeyondMarginShare = 0.02;
constexpr double kBeyondShare = 0.02;
constexpr std::size_t kMinBeyond = 3;
// Outline ends meet within this; contours enclose the copper up to half a track's width of slack.
constexpr double kJoinToleranceMM = 0.02;
constexpr double kEnclosingSlackMM = 0.5;
// Inside a board's edge by more than a stroke's width: on the board, not on its edge. A layer drawing the
// edge is the outline when at most this share of the rest lies there (a drawing of the parts has most).
constexpr double kOffTheEdgeMM = 1.0;
constexpr double kOnBoardShare = 0.5;
// An outline fits its copper: a frame around a drawing sheet or a panel is far larger.
constexpr double kOutlineOversize = 2.0;
constexpr double kOutlineMarginMM = 10.0;
// A plane drawn as a film (as some CAD tools write planes, without saying so) clears its holes: a pad on most
// of them, none smaller than the copper's, some larger by the clearance, where unconnected.
constexpr double kFilmClearedShare = 0.1;
// No real drawing has more neighbours than these near one place: the line ends on a pad (a BGA's fanout
// included), the pads on a hole, the ends at one joint. A search stops there, so that a pile of objects on
// one spot costs what a real board does.
constexpr std::size_t kAreaCap = 256;
constexpr std::size_t kSpotCap = 16;
// The clock is read once per this many objects or holes.
constexpr std::size_t kPollEvery = 1024;
// Below this many objects a package is examined on one thread sooner than on several waiting to start.
constexpr std::size_t kObjectsPerWorker = 50000;

// ---- the deadline, as each worker sees it --------------------------------------------------------------

class Watch {
public:
    explicit Watch(const RoleDeadline& d) : deadline_(d), expired_(d.passed()) {}
    // True once the deadline has passed; the clock is read now and then.
    bool expired() {
        if (!expired_ && ++count_ % kPollEvery == 0) expired_ = deadline_.passed();
        return expired_;
    }

private:
    const RoleDeadline& deadline_;
    std::size_t count_ = 0;
    bool expired_;
};

// ---- a flat point index ---------------------------------------------------------------------------------

// Points with an id in one array sorted by cell, column by column, then by id (ids are added in ascending
// order): a search visits only the columns that hold points, finds its rows in each by binary search, and
// meets the points in a fixed order.
class PointIndex {
public:
    explicit PointIndex(double cell) : cell_(cell) {}
    void add(const Vec2& p, std::uint32_t id) {
        if (p.isFinite()) entries_.push_back({keyOf(cellOf(p.x), cellOf(p.y)), id, p});
    }
    void reserve(std::size_t n) { entries_.reserve(n); }
    void build() {
        const auto byCell = [](const Entry& a, const Entry& b) { return a.key < b.key; };
        // A pile on one spot is in order already.
        if (!std::is_sorted(entries_.begin(), entries_.end(), byCell)) std::stable_sort(entries_.begin(), entries_.end(), byCell);
    }
    // Calls stop(id, point) for the points within `radius` of p until it returns true. Returns false when the
    // search met more than `cap` points of its cells first (a pile), true otherwise.
    template <class F> bool near(const Vec2& p, double radius, std::size_t cap, F&& stop) const {
        if (entries_.empty() || !p.isFinite() || !(radius >= 0)) return true;
        const std::int32_t x0 = cellOf(p.x - radius), x1 = cellOf(p.x + radius);
        const std::int32_t y0 = cellOf(p.y - radius), y1 = cellOf(p.y + radius);
        const auto before = [](const Entry& e, std::uint64_t key) { return e.key < key; };
        std::size_t met = 0;
        auto it = std::lower_bound(entries_.begin(), entries_.end(), keyOf(x0, y0), before);
        while (it != entries_.end() && columnOf(it->key) <= x1) {
            const std::int32_t column = columnOf(it->key), row = rowOf(it->key);
            if (row < y0) {
                it = std::lower_bound(it, entries_.end(), keyOf(column, y0), before);
            } else if (row > y1) {
                it = std::lower_bound(it, entries_.end(), keyOf(column + 1, y0), before);
            } else {
                if (++met > cap) return false;
                if (it->p.distance(p) <= radius && stop(it->id, it->p)) return true;
                ++it;
            }
        }
        return true;
    }

private:
    struct Entry {
        std::uint64_t key;  // column, then row
        std::uint32_t id;
        Vec2 p;
    };
    // Cells of points far out are clamped, so the column after the last one is still a number; they share
    // the border cells, which the searches' caps keep cheap.
    static constexpr double kLimit = 1 << 30;
    static constexpr std::int64_t kBias = std::int64_t{1} << 31;
    std::int32_t cellOf(double v) const { return static_cast<std::int32_t>(std::floor(std::clamp(v / cell_, -kLimit, kLimit))); }
    static std::uint64_t keyOf(std::int32_t column, std::int32_t row) {
        return static_cast<std::uint64_t>(column + kBias) << 32 | static_cast<std::uint64_t>(row + kBias);
    }
    static std::int32_t columnOf(std::uint64_t key) { return static_cast<std::int32_t>(static_cast<std::int64_t>(key >> 32) - kBias); }
    static std::int32_t rowOf(std::uint64_t key) { return static_cast<std::int32_t>(static_cast<std::int64_t>(key & 0xFFFFFFFFu) - kBias); }
    double cell_;
    std::vector<Entry> entries_;
};

// Disjoint sets over dense ids.
class Sets {
public:
    explicit Sets(std::size_t n) : parent_(n) {
        for (std::size_t i = 0; i < n; ++i) parent_[i] = static_cast<std::uint32_t>(i);
    }
    std::uint32_t root(std::uint32_t n) {
        while (parent_[n] != n) n = parent_[n] = parent_[parent_[n]];
        return n;
    }
    // The smaller root stays, so the sets come out the same whatever order they were joined in.
    void join(std::uint32_t a, std::uint32_t b) {
        a = root(a), b = root(b);
        if (a != b) parent_[std::max(a, b)] = std::min(a, b);
    }

private:
    std::vector<std::uint32_t> parent_;
};

// ---- the package's holes ----------------------------------------------------------------------------------

struct Hole {
    Vec2 at;
    double diameter = 0;
};

// Every drill hit of the package, once per position (the largest hole there): a hole drilled twice, or a pile
// of hits on one spot, is one place to look at.
std::vector<Hole> packageHoles(const std::vector<PackageFile>& files) {
    std::vector<Hole> holes;
    std::size_t hits = 0;
    for (const auto& f : files)
        if (f.drill) hits += f.drill->hits.size();
    holes.reserve(hits);
    for (const auto& f : files) {
        if (!f.drill) continue;
        for (const auto& h : f.drill->hits) {
            if (!h.position.isFinite()) continue;
            const auto tool = f.drill->tools.find(h.toolNumber);
            const double d = tool == f.drill->tools.end() ? 0.0 : tool->second.diameterMM;
            holes.push_back({h.position, std::isfinite(d) ? d : 0.0});
        }
    }
    std::sort(holes.begin(), holes.end(), [](const Hole& a, const Hole& b) {
        return std::tie(a.at.x, a.at.y, a.diameter) < std::tie(b.at.x, b.at.y, b.diameter);
    });
    std::vector<Hole> once;
    for (const Hole& h : holes) {
        if (!once.empty() && once.back().at == h.at) once.back().diameter = h.diameter;  // sorted: the largest last
        else once.push_back(h);
    }
    return once;
}

BBox boxOf(const std::vector<Hole>& holes) {
    BBox b = BBox::empty();
    for (const Hole& h : holes) b.include(h.at);
    return b;
}

// ---- what a Gerber file draws on the holes ----------------------------------------------------------------

// A pad's position: a flash, or a stroke that does not move (older tools paint round pads so).
std::optional<Vec2> padCentre(const PCBObject& o) {
    if (const auto* f = o.kind.as<PCBObjectKind::Flash>()) return f->at;
    if (const auto* s = o.kind.as<PCBObjectKind::Stroke>(); s && s->start == s->end) return s->start;
    return std::nullopt;
}

// A line's two ends: a stroke that moves, or an arc.
std::optional<std::pair<Vec2, Vec2>> lineEnds(const PCBObject& o) {
    if (const auto* s = o.kind.as<PCBObjectKind::Stroke>(); s && s->start != s->end) return std::pair(s->start, s->end);
    if (const auto* a = o.kind.as<PCBObjectKind::ArcStroke>()) return std::pair(a->start, a->end);
    return std::nullopt;
}

double lengthOf(const PCBObject& o) {
    if (const auto* s = o.kind.as<PCBObjectKind::Stroke>()) return s->start.distance(s->end);
    if (o.kind.as<PCBObjectKind::ArcStroke>()) return std::max(o.bbox.width(), o.bbox.height());
    return 0;
}

struct OnHoles {
    std::vector<double> padOnHole;  // by hole: the largest pad centred on it, 0 for none
    std::size_t rings = 0;      // holes with a pad larger than the hole centred on them
    std::size_t marks = 0;      // holes with a flash no larger than the hole: a marker, not copper
    std::size_t symbols = 0;    // holes with a small drawing of strokes balanced about them
    std::size_t connected = 0;  // ringed holes joined to another pad by tracks, or covered by a pour
    std::size_t tracks = 0;
    std::size_t pours = 0;
    std::size_t lines = 0;
    std::size_t objects = 0;
    bool complete = false;  // false when the deadline passed first
};

// The pieces of one file that the searches about the holes look at.
struct Pieces {
    PointIndex pads{2 * kCentreToleranceMM};
    std::vector<double> padSize;
    PointIndex lineCentres{kSymbolReachMM};
    std::vector<std::uint32_t> lineObject;  // by line: its object
    PointIndex endIndex{0.5};
    std::vector<std::pair<Vec2, Vec2>> ends;  // by line
    std::vector<BBox> pourBoxes;              // the largest pours
    std::vector<Vec2> padAt;
    // By track (the lines joined end to end, named by their first line): whether it joins two pads.
    std::vector<std::uint32_t> trackOf;
    std::vector<bool> joinsPads;
};

bool gatherPieces(const GerberDocument& doc, OnHoles& m, Pieces& p, Watch& watch, bool padsOnly) {
    std::vector<std::pair<double, BBox>> pours;
    std::size_t pads = 0, lines = 0;
    for (const PCBObject& o : doc.objects) {
        if (padCentre(o)) ++pads;
        else if (!padsOnly && lineEnds(o)) ++lines;
    }
    p.pads.reserve(pads);
    p.padSize.reserve(pads);
    p.padAt.reserve(pads);
    p.lineCentres.reserve(lines);
    p.endIndex.reserve(2 * lines);
    p.ends.reserve(lines);
    p.lineObject.reserve(lines);
    for (std::size_t i = 0; i < doc.objects.size(); ++i) {
        if (watch.expired()) return false;
        const PCBObject& o = doc.objects[i];
        if (o.polarity != Polarity::dark) continue;
        ++m.objects;
        if (const auto c = padCentre(o)) {
            p.pads.add(*c, static_cast<std::uint32_t>(p.padSize.size()));
            p.padSize.push_back(o.apertureShape ? o.apertureShape->boundingDiameter() : 0.0);
            p.padAt.push_back(*c);
        } else if (const auto e = lineEnds(o)) {
            ++m.lines;
            if (lengthOf(o) >= kTrackLengthMM) ++m.tracks;
            if (padsOnly) continue;
            const auto line = static_cast<std::uint32_t>(p.ends.size());
            p.lineCentres.add(o.bbox.center(), line);
            p.endIndex.add(e->first, line);
            p.endIndex.add(e->second, line);
            p.ends.push_back(*e);
            p.lineObject.push_back(static_cast<std::uint32_t>(i));
        } else if (o.kind.as<PCBObjectKind::Region>() && o.bbox.width() * o.bbox.height() >= kPourAreaMM2) {
            ++m.pours;
            pours.emplace_back(o.bbox.width() * o.bbox.height(), o.bbox);
        }
    }
    std::stable_sort(pours.begin(), pours.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    for (std::size_t k = 0; k < pours.size() && k < kLargestPours; ++k) p.pourBoxes.push_back(pours[k].second);
    p.pads.build();
    return true;
}

bool most(std::size_t part, std::size_t whole) {
    return whole > 0 && static_cast<double>(part) >= kMostHoles * static_cast<double>(whole);
}

// The largest pad centred on a hole, if any.
std::optional<double> padOn(const Pieces& p, const Hole& h) {
    std::optional<double> pad;
    p.pads.near(h.at, kCentreToleranceMM, kSpotCap, [&](std::uint32_t id, const Vec2&) {
        pad = std::max(pad.value_or(0.0), p.padSize[id]);
        return false;
    });
    return pad;
}

// The lines whose ends lie on a pad: within its size of its centre, as far as any pad reaches.
template <class F> void linesOnPad(const Pieces& p, const Vec2& at, double size, F&& f) {
    p.endIndex.near(at, std::min(size * 0.5, kLargestReachMM), kAreaCap, [&](std::uint32_t line, const Vec2&) {
        f(line);
        return false;
    });
}

// Joins the lines into tracks, end to end, and marks the tracks that reach two pads at different places.
bool traceTracks(Pieces& p, Watch& watch) {
    const auto lines = static_cast<std::uint32_t>(p.ends.size());
    PointIndex joints(2 * kTrackJointMM);
    joints.reserve(2 * lines);
    for (std::uint32_t l = 0; l < lines; ++l) {
        joints.add(p.ends[l].first, l);
        joints.add(p.ends[l].second, l);
    }
    joints.build();
    Sets tracks(lines);
    for (std::uint32_t l = 0; l < lines; ++l) {
        if (watch.expired()) return false;
        for (const Vec2& end : {p.ends[l].first, p.ends[l].second})
            joints.near(end, kTrackJointMM, kSpotCap, [&](std::uint32_t other, const Vec2&) {
                tracks.join(l, other);
                return false;
            });
    }
    p.trackOf.resize(lines);
    for (std::uint32_t l = 0; l < lines; ++l) p.trackOf[l] = tracks.root(l);
    std::vector<std::optional<std::uint32_t>> firstPad(lines);
    p.joinsPads.assign(lines, false);
    for (std::uint32_t pad = 0; pad < p.padAt.size(); ++pad) {
        if (watch.expired()) return false;
        linesOnPad(p, p.padAt[pad], p.padSize[pad], [&](std::uint32_t line) {
            const std::uint32_t t = p.trackOf[line];
            if (!firstPad[t]) firstPad[t] = pad;
            else if (p.padAt[*firstPad[t]].distance(p.padAt[pad]) > kCentreToleranceMM) p.joinsPads[t] = true;
        });
    }
    return true;
}

// Whether copper joins the pad of size `pad` on a hole to another pad, by a track or a pour.
bool joined(const Pieces& p, const Hole& h, double pad) {
    for (const BBox& b : p.pourBoxes)
        if (b.contains(h.at)) return true;
    bool found = false;
    linesOnPad(p, h.at, pad, [&](std::uint32_t line) { found = found || p.joinsPads[p.trackOf[line]]; });
    return found;
}

// Whether strokes lying wholly within reach of a hole without a pad balance about it, as a symbol's do.
bool symbolOn(const GerberDocument& doc, const Pieces& p, const Hole& h) {
    const double reach = std::clamp(h.diameter, kSymbolReachMM, kLargestReachMM);
    const BBox around{h.at.x - reach, h.at.y - reach, h.at.x + reach, h.at.y + reach};
    Vec2 sum{0, 0};
    std::size_t count = 0;
    const bool whole = p.lineCentres.near(h.at, reach, kAreaCap, [&](std::uint32_t line, const Vec2& c) {
        const BBox& b = doc.objects[p.lineObject[line]].bbox;
        if (b.minX < around.minX || b.minY < around.minY || b.maxX > around.maxX || b.maxY > around.maxY) return false;
        sum = Vec2{sum.x + c.x, sum.y + c.y};
        ++count;
        return false;
    });
    // A pile of strokes on one spot is no symbol.
    const double n = static_cast<double>(count);
    return whole && count > 0 && Vec2{sum.x / n, sum.y / n}.distance(h.at) <= kSymbolBalanceShare * reach;
}

// What a file draws on the holes. With `padsOnly`, just the pads (for copper named already).
OnHoles measureOnHoles(const GerberDocument& doc, const std::vector<Hole>& holes, const RoleDeadline& deadline,
                       bool padsOnly = false) {
    OnHoles m;
    Watch watch(deadline);
    Pieces p;
    if (!gatherPieces(doc, m, p, watch, padsOnly)) return m;
    // The pads first; the lines are indexed only where they can tell something: symbols on holes without a
    // pad, and tracks of a file that rings most holes, as copper does.
    m.padOnHole.assign(holes.size(), 0.0);
    std::vector<std::size_t> bare;
    for (std::size_t k = 0; k < holes.size(); ++k) {
        if (watch.expired()) return m;
        const Hole& h = holes[k];
        if (const auto pad = padOn(p, h)) {
            const bool ring = *pad > h.diameter + kRingMarginMM;
            (ring ? m.rings : m.marks)++;
            if (ring) m.padOnHole[k] = *pad;
        } else {
            bare.push_back(k);
        }
    }
    if (!padsOnly && !bare.empty() && !p.ends.empty()) {
        p.lineCentres.build();
        for (std::size_t k : bare) {
            if (watch.expired()) return m;
            if (symbolOn(doc, p, holes[k])) ++m.symbols;
        }
    }
    if (!padsOnly && most(m.rings, holes.size())) {
        p.endIndex.build();
        if (!traceTracks(p, watch)) return m;
        for (std::size_t k = 0; k < holes.size(); ++k) {
            if (watch.expired()) return m;
            if (m.padOnHole[k] > 0 && joined(p, holes[k], m.padOnHole[k])) ++m.connected;
        }
    }
    m.complete = true;
    return m;
}

// How many of a file's drawn objects lie wholly outside `board` by more than a layer's edge clearance;
// nullopt when the deadline passed first.
std::optional<std::size_t> objectsBeyond(const GerberDocument& doc, const BBox& board, const RoleDeadline& deadline) {
    Watch watch(deadline);
    const BBox grown = board.outset(std::max(kBeyondMarginMM, kBeyondMarginShare * std::max(board.width(), board.height())));
    std::size_t beyond = 0;
    for (const PCBObject& o : doc.objects) {
        if (watch.expired()) return std::nullopt;
        if (o.polarity == Polarity::dark && o.bbox.isValid() && !grown.intersects(o.bbox)) ++beyond;
    }
    return beyond;
}

bool carriesTracks(const OnHoles& m) {
    return m.tracks >= std::max<std::size_t>(kMinTracks, static_cast<std::size_t>(kTrackShare * (m.rings + m.marks))) ||
           m.pours > 0;
}

// Copper rings most holes and joins enough of its pads to tracks or pours.
bool ringsAndJoins(const OnHoles& m, std::size_t holes) {
    const auto share = static_cast<std::size_t>(std::ceil(kConnectedShare * static_cast<double>(m.rings)));
    return most(m.rings, holes) && m.connected >= std::min(m.rings, std::max(kMinConnected, share));
}

bool beyondTheBoard(const OnHoles& m, std::optional<std::size_t> beyond) {
    return beyond && *beyond >= std::max(kMinBeyond, static_cast<std::size_t>(kBeyondShare * static_cast<double>(m.objects)));
}

// A file's pads on the holes against the copper's pads on the same holes.
struct AgainstCopper {
    std::size_t shared = 0, notSmaller = 0, larger = 0;
    bool oneSymbolPerHoleSize = false;  // each hole size has one pad size of its own, as a drill drawing's symbols
};

AgainstCopper compareWithCopper(const OnHoles& m, const std::vector<double>& copperPads, const std::vector<Hole>& holes) {
    AgainstCopper c;
    for (std::size_t k = 0; k < copperPads.size(); ++k) {
        if (m.padOnHole[k] <= 0 || copperPads[k] <= 0) continue;
        ++c.shared;
        if (m.padOnHole[k] >= copperPads[k] - kSizeRoundingMM) ++c.notSmaller;
        if (m.padOnHole[k] > copperPads[k] + kSizeRoundingMM) ++c.larger;
    }
    // Pairs of (hole size, pad size), sorted both ways: one to one when neither repeats with another partner.
    std::vector<std::pair<double, double>> pairs;
    for (std::size_t k = 0; k < holes.size(); ++k)
        if (m.padOnHole[k] > 0) pairs.emplace_back(holes[k].diameter, m.padOnHole[k]);
    auto oneToOne = [](std::vector<std::pair<double, double>> v) {
        std::sort(v.begin(), v.end());
        v.erase(std::unique(v.begin(), v.end()), v.end());
        for (std::size_t k = 1; k < v.size(); ++k)
            if (v[k].first == v[k - 1].first) return false;
        return v.size() >= 2;
    };
    std::vector<std::pair<double, double>> swapped;
    for (const auto& [hole, pad] : pairs) swapped.emplace_back(pad, hole);
    c.oneSymbolPerHoleSize = oneToOne(pairs) && oneToOne(swapped);
    return c;
}

// A mask opens over a share of the holes with openings no smaller than the copper's pads there, mostly
// larger. Without copper to compare with, pads alone on most holes.
// The fewest holes a mask opens over.
std::size_t fewestOpenings(std::size_t holes) {
    return std::max(kMinMaskHoles, static_cast<std::size_t>(kMaskHoleShare * static_cast<double>(holes)));
}

bool isMask(const OnHoles& m, const AgainstCopper& c, std::size_t holes) {
    if (m.rings < fewestOpenings(holes)) return false;
    if (c.shared == 0) return most(m.rings, holes) && !carriesTracks(m);
    // Openings the size of the pads (no expansion) tell a mask from inner copper by the tracks it lacks.
    return c.shared >= kMinMaskHoles && c.notSmaller >= kMaskNotSmallerShare * static_cast<double>(c.shared) &&
           (c.larger >= kMaskLargerShare * static_cast<double>(c.shared) || !carriesTracks(m));
}

// A plane drawn as a film: clearances on most holes, none smaller than the copper's pads and some larger,
// with lines (splits, thermals) beside them; not one symbol per hole size, as a drawing of the holes has.
bool isPlaneFilm(const OnHoles& m, const AgainstCopper& c, std::size_t holes) {
    return most(m.rings, holes) && carriesTracks(m) && c.shared > 0 && !c.oneSymbolPerHoleSize &&
           c.notSmaller >= kMaskNotSmallerShare * static_cast<double>(c.shared) &&
           c.larger >= kFilmClearedShare * static_cast<double>(c.shared);
}

// ---- which files the rules look at ------------------------------------------------------------------------

enum class Found : std::uint8_t { nothing, copper, mask, drillDrawing, drawing };

bool isDocumentation(Found f) { return f == Found::drillDrawing || f == Found::drawing; }

bool unplacedGerber(const PackageFile& f) {
    return f.layerType.isUnknown() && f.confidence == DetectionConfidence::low && f.gerber && !f.gerber->fileFunction;
}

bool drillNamedGerber(const PackageFile& f) { return f.layerType.isDrill() && f.gerber && !f.gerber->fileFunction; }

// The drawings a Gerber X2 file function names (a drill map, the fabrication, assembly, array and other
// drawings, a V-cut map): documentation, whatever a name says.
std::optional<Found> drawingByFunction(const PackageFile& f) {
    if (!f.gerber || !f.gerber->fileFunction) return std::nullopt;
    const std::string function = asciiLower(*f.gerber->fileFunction);
    if (function.starts_with("drillmap")) return Found::drillDrawing;
    for (std::string_view d : {"fabricationdrawing", "assemblydrawing", "arraydrawing", "otherdrawing", "vcutmap"})
        if (function.starts_with(d)) return Found::drawing;
    return std::nullopt;
}

// What a file looked at for its pads on the holes is, before masks are compared with the copper: copper,
// a drawing, or still open.
Found judgeOnHoles(const PackageFile& f, const OnHoles& m, std::size_t holes, bool beyond) {
    const bool drillDrawing = most(m.symbols, holes) || (most(m.marks, holes) && m.lines > 0);
    if (drillNamedGerber(f)) {
        // Without holes to compare with, a drill-named file mostly of strokes is still a drawing.
        const bool strokes = m.lines > 0 && m.lines >= kDrawingStrokeShare * static_cast<double>(m.objects);
        if (drillDrawing || (holes == 0 && strokes) || (most(m.rings, holes) && m.lines > 0) || beyond)
            return Found::drillDrawing;
        return Found::nothing;
    }
    if (holes == 0) return Found::nothing;
    if (drillDrawing) return Found::drillDrawing;
    if (most(m.rings, holes) && beyond) return Found::drawing;
    if (ringsAndJoins(m, holes)) return Found::copper;
    return Found::nothing;
}

// ---- sides of inferred copper and masks --------------------------------------------------------------------

bool hasSide(const std::vector<PackageFile>& files, bool copper, const CopperLayerID& side) {
    for (const auto& f : files) {
        const LayerType& t = f.layerType;
        const auto s = t.side();
        if (s && *s == side && (copper ? t.isCopper() : t.as<LayerType::SolderMask>() != nullptr)) return true;
    }
    return false;
}

std::int64_t highestInner(const std::vector<PackageFile>& files) {
    std::int64_t n = 0;
    for (const auto& f : files)
        if (const auto* c = f.layerType.as<LayerType::Copper>())
            if (const auto* in = c->side.as<CopperLayerID::Inner>()) n = std::max(n, in->number);
    return n;
}

// Sides from the names where they say one; the rest by their order: the first unnamed file on the free
// top, the last on the free bottom, copper between them inner in order.
void placeSides(std::vector<PackageFile>& files, const std::vector<std::size_t>& found, bool copper) {
    auto roleFor = [&](const CopperLayerID& side) { return copper ? LayerType::copper(side) : LayerType::solderMask(side); };
    std::vector<std::size_t> unnamed;
    for (std::size_t i : found) {
        if (auto side = LayerClassifier::sideNamed(files[i].fileName)) files[i].layerType = roleFor(*side);
        else unnamed.push_back(i);
    }
    if (unnamed.empty()) return;
    // Until placed, the unnamed files hold no side.
    for (std::size_t i : unnamed) files[i].layerType = LayerType::unknown();
    std::size_t first = 0, end = unnamed.size();
    if (!hasSide(files, copper, CopperLayerID::top())) files[unnamed[first++]].layerType = roleFor(CopperLayerID::top());
    if (first < end && !hasSide(files, copper, CopperLayerID::bottom()))
        files[unnamed[--end]].layerType = roleFor(CopperLayerID::bottom());
    std::int64_t inner = highestInner(files);
    for (std::size_t k = first; k < end; ++k)
        if (copper) files[unnamed[k]].layerType = LayerType::copper(CopperLayerID::inner(++inner));
}

// ---- closed contours and the board's edge -----------------------------------------------------------------

bool encloses(const BBox& outer, const BBox& inner) {
    const BBox grown = outer.outset(kEnclosingSlackMM);
    return grown.minX <= inner.minX && grown.minY <= inner.minY && inner.maxX <= grown.maxX && inner.maxY <= grown.maxY;
}

bool fits(const BBox& contour, const BBox& copper) {
    return contour.width() <= kOutlineOversize * copper.width() + kOutlineMarginMM &&
           contour.height() <= kOutlineOversize * copper.height() + kOutlineMarginMM;
}

// What a board's edge goes round: its holes, all drilled within it, or its copper where it has no holes
// (copper may reach beyond the edge: test coupons, a tool's marks); and how large a board they make.
struct Board {
    BBox enclosed;
    BBox extent;
};

// A closed contour around the copper: the box of its centre lines and how many of the file's objects it takes.
struct Enclosing {
    BBox edge;
    std::size_t objects = 0;
    bool fits = false;  // no larger than a board around that copper can be
};

struct Contours {
    std::vector<Enclosing> aroundCopper;  // the closed contours enclosing the copper
    std::size_t darkObjects = 0;
    // With one such contour: the other objects, and those of them on the board, inside its edge.
    std::size_t besideEdge = 0;
    std::size_t withinEdge = 0;
    bool onlyContours = true;  // nothing drawn but closed contours: no text, open lines or flashes
    bool complete = false;
};

// The closed contours of a file: chains of lines whose ends all meet, and regions.
Contours findContours(const GerberDocument& doc, const Board& board, const RoleDeadline& deadline) {
    Contours out;
    Watch watch(deadline);
    std::vector<std::pair<Vec2, Vec2>> lines;
    std::vector<BBox> lineEdges;
    std::vector<std::uint32_t> lineObject;
    for (std::uint32_t i = 0; i < doc.objects.size(); ++i) {
        if (watch.expired()) return out;
        const PCBObject& o = doc.objects[i];
        if (o.polarity != Polarity::dark) continue;
        ++out.darkObjects;
        if (const auto* r = o.kind.as<PCBObjectKind::Region>()) {
            for (const Contour& c : r->contours) {
                BBox b = BBox::empty();
                for (const Vec2& p : c) b.include(p);
                if (encloses(b, board.enclosed)) out.aroundCopper.push_back({b, 1, fits(b, board.extent)});
            }
        } else if (const auto e = lineEnds(o)) {
            lines.push_back(*e);
            BBox b = BBox::empty();
            includeCentreLines(b, o);
            lineEdges.push_back(b);
            lineObject.push_back(i);
        } else {
            out.onlyContours = false;
        }
    }
    // Ends within the joining tolerance are one joint; a chain is closed when every joint of it has two ends.
    const auto endCount = static_cast<std::uint32_t>(2 * lines.size());
    PointIndex index(2 * kJoinToleranceMM);
    index.reserve(endCount);
    for (std::uint32_t e = 0; e < endCount; ++e) index.add(e % 2 ? lines[e / 2].second : lines[e / 2].first, e);
    index.build();
    Sets joints(endCount);
    for (std::uint32_t e = 0; e < endCount; ++e) {
        if (watch.expired()) return out;
        index.near(e % 2 ? lines[e / 2].second : lines[e / 2].first, kJoinToleranceMM, kSpotCap, [&](std::uint32_t other, const Vec2&) {
            joints.join(e, other);
            return false;
        });
    }
    std::vector<std::uint32_t> endsAtJoint(endCount, 0);
    for (std::uint32_t e = 0; e < endCount; ++e) ++endsAtJoint[joints.root(e)];
    // Chains: the lines joined through their joints, named by their first end's joint.
    Sets chains(endCount);
    for (std::uint32_t l = 0; l < lines.size(); ++l) chains.join(joints.root(2 * l), joints.root(2 * l + 1));
    std::vector<Enclosing> chain(endCount, Enclosing{BBox::empty(), 0, false});
    std::vector<bool> open(endCount, false);
    for (std::uint32_t e = 0; e < endCount; ++e) {
        const std::uint32_t c = chains.root(joints.root(e));
        if (endsAtJoint[joints.root(e)] < 2) open[c] = true;
        if (e % 2 == 0) {
            chain[c].edge.include(lineEdges[e / 2]);
            ++chain[c].objects;
        }
    }
    std::optional<std::uint32_t> edgeChain;
    for (std::uint32_t c = 0; c < endCount; ++c) {
        if (chain[c].objects == 0) continue;
        if (open[c]) {
            out.onlyContours = false;
        } else if (encloses(chain[c].edge, board.enclosed)) {
            out.aroundCopper.push_back({chain[c].edge, chain[c].objects, fits(chain[c].edge, board.extent)});
            edgeChain = c;
        }
    }
    // What else a file with the board's edge draws on the board: little for a mechanical layer (cutouts, a
    // mounting hole), most of it for an assembly drawing (the parts' bodies, their names).
    if (out.aroundCopper.size() == 1) {
        std::vector<bool> onEdge(doc.objects.size(), false);
        if (edgeChain)
            for (std::uint32_t l = 0; l < lines.size(); ++l)
                if (chains.root(joints.root(2 * l)) == *edgeChain) onEdge[lineObject[l]] = true;
        const BBox inside = out.aroundCopper.front().edge.inset(kOffTheEdgeMM);
        for (std::size_t i = 0; i < doc.objects.size(); ++i) {
            if (watch.expired()) return out;
            const PCBObject& o = doc.objects[i];
            if (o.polarity != Polarity::dark || onEdge[i]) continue;
            ++out.besideEdge;
            if (inside.minX <= o.bbox.minX && inside.minY <= o.bbox.minY && o.bbox.maxX <= inside.maxX && o.bbox.maxY <= inside.maxY)
                ++out.withinEdge;
        }
    }
    out.complete = true;
    return out;
}

BBox centreLinesOf(const GerberDocument& doc) {
    BBox b = BBox::empty();
    for (const PCBObject& o : doc.objects) includeCentreLines(b, o);
    return b;
}

// ---- warnings ---------------------------------------------------------------------------------------------

std::string inferredWarning(const PackageFile& f, Found found) {
    std::string role = f.layerType.displayName();
    if (found == Found::drillDrawing) role = "a drill drawing (documentation)";
    if (found == Found::drawing) role = "a drawing (documentation)";
    return "Inferred from content: '" + f.fileName + "' is " + role + ".";
}

std::string unexaminedWarning(const std::vector<PackageFile>& files, const std::vector<std::size_t>& unexamined) {
    constexpr std::size_t kNamed = 5;
    std::string names;
    for (std::size_t k = 0; k < unexamined.size() && k < kNamed; ++k)
        names += (k ? ", '" : "'") + files[unexamined[k]].fileName + "'";
    if (unexamined.size() > kNamed) names += " and " + formatInt(static_cast<std::int64_t>(unexamined.size() - kNamed)) + " more";
    return "Import time budget reached before the content of " + names +
           " was examined: the roles their names gave are kept.";
}

// ---- the rules, step by step ------------------------------------------------------------------------------

unsigned workersFor(const std::vector<PackageFile>& files) {
    std::size_t objects = 0;
    for (const auto& f : files)
        if (f.gerber) objects += f.gerber->objects.size();
    return static_cast<unsigned>(std::clamp<std::size_t>(objects / kObjectsPerWorker + 1, 1, defaultWorkerCount()));
}

class ContentRules {
public:
    ContentRules(std::vector<PackageFile>& files, const RoleDeadline& deadline)
        : files_(files), deadline_(deadline), holes_(packageHoles(files)), workers_(workersFor(files)),
          found_(files.size(), Found::nothing), unexamined_(files.size(), 0) {}

    std::vector<std::string> run() {
        findDrawingsByFunction();
        measureCandidates();
        judgeCandidates();
        compareMasksWithCopper();
        giveRoles();
        examineOutlines();
        return takeWarnings();
    }

private:
    std::vector<PackageFile>& files_;
    const RoleDeadline& deadline_;
    const std::vector<Hole> holes_;
    const unsigned workers_;
    std::vector<Found> found_;
    std::vector<char> unexamined_;  // by file; a byte each, as workers mark them side by side
    std::vector<std::size_t> candidates_;
    std::vector<std::optional<OnHoles>> measured_;  // by file
    std::vector<std::optional<std::size_t>> beyond_;  // by file: its objects beyond the board, where known
    std::vector<std::string> roleWarnings_, outlineWarnings_;

    // A file's document, read only: the package's files share theirs with the caller's copies, and a write
    // access would copy every primitive.
    const GerberDocument* gerberOf(std::size_t i) const { return std::as_const(files_[i]).gerber.get(); }

    void findDrawingsByFunction() {
        for (std::size_t i = 0; i < files_.size(); ++i) {
            if (const auto d = drawingByFunction(files_[i])) found_[i] = *d;
            else if (unplacedGerber(files_[i]) || drillNamedGerber(files_[i])) candidates_.push_back(i);
        }
    }

    void measureCandidates() {
        measured_.assign(files_.size(), std::nullopt);
        parallelFor(
            candidates_.size(),
            [&](std::size_t k) {
                const std::size_t i = candidates_[k];
                // Only a drill-named file is judged without holes, by its strokes.
                if (holes_.empty() && !drillNamedGerber(files_[i])) return;
                measured_[i] = measureOnHoles(*gerberOf(i), holes_, deadline_);
            },
            workers_);
        for (std::size_t i : candidates_)
            if (measured_[i] && !measured_[i]->complete) unexamined_[i] = true;
    }

    // The layers a file is compared with to tell whether it reaches beyond the board: the named copper, the
    // holes, and the other files that look like copper. None when no other copper is known.
    std::optional<BBox> boardBeside(std::size_t self) const {
        BBox board = boxOf(holes_);
        bool copper = false;
        for (std::size_t i = 0; i < files_.size(); ++i) {
            if (i == self || !files_[i].gerber) continue;
            const bool joins = measured_[i] && measured_[i]->complete && ringsAndJoins(*measured_[i], holes_.size()) &&
                               !drillNamedGerber(files_[i]);
            if (files_[i].layerType.isCopper() || joins) {
                board.include(gerberOf(i)->bbox);
                copper = copper || gerberOf(i)->bbox.isValid();
            }
        }
        if (!copper && !drillNamedGerber(files_[self])) return std::nullopt;
        return board.isValid() ? std::optional(board) : std::nullopt;
    }

    void judgeCandidates() {
        std::vector<std::optional<std::size_t>> beyond(files_.size());
        parallelFor(
            candidates_.size(),
            [&](std::size_t k) {
                const std::size_t i = candidates_[k];
                if (!measured_[i] || !measured_[i]->complete) return;
                if (const auto board = boardBeside(i)) {
                    beyond[i] = objectsBeyond(*gerberOf(i), *board, deadline_);
                    if (!beyond[i]) unexamined_[i] = true;
                }
            },
            workers_);
        for (std::size_t i : candidates_)
            if (measured_[i] && !unexamined_[i])
                found_[i] = judgeOnHoles(files_[i], *measured_[i], holes_.size(), beyondTheBoard(*measured_[i], beyond[i]));
        beyond_ = std::move(beyond);
    }

    // Masks against the copper's pads: those named and those just found. The named copper's pads matter only
    // to files still undecided, as most packages have none.
    void compareMasksWithCopper() {
        std::vector<std::size_t> undecided, copper;
        // Only pads on a share of the holes can be a mask's openings or a film's clearances.
        for (std::size_t i : candidates_)
            if (measured_[i] && !unexamined_[i] && found_[i] == Found::nothing && !drillNamedGerber(files_[i]) &&
                measured_[i]->rings >= fewestOpenings(holes_.size()))
                undecided.push_back(i);
        if (undecided.empty()) return;
        for (std::size_t i = 0; i < files_.size(); ++i)
            if (files_[i].layerType.isCopper() && files_[i].gerber) copper.push_back(i);
        std::vector<std::optional<OnHoles>> named(files_.size());
        parallelFor(
            copper.size(), [&](std::size_t k) { named[copper[k]] = measureOnHoles(*gerberOf(copper[k]), holes_, deadline_, true); },
            workers_);
        std::vector<double> copperPads(holes_.size(), 0.0);
        auto addPads = [&](const OnHoles& m) {
            for (std::size_t h = 0; h < holes_.size(); ++h) copperPads[h] = std::max(copperPads[h], m.padOnHole[h]);
        };
        for (std::size_t i : copper) {
            // Without all of the copper's pads the masks cannot be told: those files keep their names' roles.
            if (!named[i]->complete) {
                for (std::size_t u : undecided) unexamined_[u] = true;
                return;
            }
            addPads(*named[i]);
        }
        for (std::size_t i = 0; i < files_.size(); ++i)
            if (found_[i] == Found::copper) addPads(*measured_[i]);
        for (std::size_t i : undecided) {
            const OnHoles& m = *measured_[i];
            const AgainstCopper c = compareWithCopper(m, copperPads, holes_);
            if (beyondTheBoard(m, beyond_[i])) continue;
            if (isMask(m, c, holes_.size())) found_[i] = Found::mask;
            // A plane drawn as a film is copper all the same: how its clearances are measured is for the checks.
            else if (isPlaneFilm(m, c, holes_.size())) found_[i] = Found::copper;
            // Pads on the holes with lines that join none of them: an assembly or fabrication drawing.
            else if (most(m.rings, holes_.size()) && m.lines > 0) found_[i] = Found::drawing;
        }
    }

    void giveRoles() {
        std::vector<std::size_t> copper, masks;
        for (std::size_t i = 0; i < files_.size(); ++i) {
            if (found_[i] == Found::nothing) continue;
            if (found_[i] == Found::copper) copper.push_back(i);
            if (found_[i] == Found::mask) masks.push_back(i);
            if (isDocumentation(found_[i])) files_[i].layerType = LayerType::unknown();
            files_[i].confidence = DetectionConfidence::medium;
        }
        placeSides(files_, copper, true);
        placeSides(files_, masks, false);
        for (std::size_t i = 0; i < files_.size(); ++i) {
            if (found_[i] == Found::nothing) continue;
            // A third mask has no side left: it stays unknown, with the note every unknown file gets.
            if (!isDocumentation(found_[i]) && files_[i].layerType.isUnknown()) {
                files_[i].confidence = DetectionConfidence::low;
                found_[i] = Found::nothing;
                continue;
            }
            roleWarnings_.push_back(inferredWarning(files_[i], found_[i]));
        }
    }

    // ---- outlines

    BBox copperBox() const {
        BBox copper = BBox::empty();
        for (const auto& f : files_)
            if (f.layerType.isCopper() && f.gerber) copper.include(f.gerber->bbox);
        return copper;
    }

    // The box of the holes when most of them lie with the copper; a drill file written against another origin
    // says nothing of where the board is.
    std::optional<BBox> alignedHoles(const BBox& copper) const {
        const BBox grown = copper.outset(kBeyondMarginMM);
        const auto with = std::count_if(holes_.begin(), holes_.end(), [&](const Hole& h) { return grown.contains(h.at); });
        if (!most(static_cast<std::size_t>(with), holes_.size())) return std::nullopt;
        return boxOf(holes_);
    }

    bool mayBeOutline(std::size_t i) const {
        const PackageFile& f = files_[i];
        return f.gerber && !unexamined_[i] && found_[i] == Found::nothing &&
               (f.layerType.isOutline() || (f.layerType.isUnknown() && f.confidence == DetectionConfidence::low));
    }

    // The contours of the files picked, side by side; a file the deadline cut short is left unexamined.
    std::vector<Contours> contoursOf(const std::vector<std::size_t>& picked, const Board& board) {
        std::vector<Contours> contours(files_.size());
        parallelFor(
            picked.size(), [&](std::size_t k) { contours[picked[k]] = findContours(*gerberOf(picked[k]), board, deadline_); },
            workers_);
        for (std::size_t i : picked)
            if (!contours[i].complete) unexamined_[i] = true;
        return contours;
    }

    void examineOutlines() {
        const BBox copper = copperBox();
        if (!copper.isValid()) return;
        const Board board{alignedHoles(copper).value_or(copper), copper.united(boxOf(holes_))};
        std::vector<std::size_t> named, unplaced;
        for (std::size_t i = 0; i < files_.size(); ++i) {
            if (!mayBeOutline(i)) continue;
            (files_[i].layerType.isOutline() ? named : unplaced).push_back(i);
        }
        const std::vector<Contours> namedContours = contoursOf(named, board);
        for (std::size_t i : named)
            if (!unexamined_[i]) findEdgeOfNamedOutline(i, namedContours[i]);
        const bool outline = std::any_of(files_.begin(), files_.end(), [](const PackageFile& f) { return f.layerType.isOutline(); });
        if (!outline) inferOutline(unplaced, contoursOf(unplaced, board));
    }

    // A file named as the outline: its one closed contour around the copper is the board's edge. A drawing
    // around several such contours (a mechanical layer's board, keep-out and panel) is documentation, not the
    // outline. Without such a contour the whole file is the edge, as its name says.
    void findEdgeOfNamedOutline(std::size_t i, const Contours& c) {
        PackageFile& f = files_[i];
        const auto fitting = std::count_if(c.aroundCopper.begin(), c.aroundCopper.end(), [](const Enclosing& e) { return e.fits; });
        if (fitting == 1) {
            f.boardEdgeBox = std::find_if(c.aroundCopper.begin(), c.aroundCopper.end(), [](const Enclosing& e) { return e.fits; })->edge;
            return;
        }
        if (!c.onlyContours && c.aroundCopper.size() > 1) {
            f.layerType = LayerType::unknown();
            f.confidence = DetectionConfidence::medium;
            found_[i] = Found::drawing;
            outlineWarnings_.push_back(inferredWarning(f, Found::drawing));
            return;
        }
        f.boardEdgeBox = centreLinesOf(*gerberOf(i));
    }

    // No file is the outline: the one file holding one closed contour around the copper is. A silkscreen may
    // draw the board's edge too, beside its text, so where several do, the one that holds little else is.
    void inferOutline(const std::vector<std::size_t>& looked, const std::vector<Contours>& contours) {
        std::vector<std::size_t> holding, mostlyContour;
        for (std::size_t i : looked) {
            const Contours& c = contours[i];
            if (!c.complete || !files_[i].layerType.isUnknown() || c.aroundCopper.size() != 1 || !c.aroundCopper.front().fits ||
                c.withinEdge > kOnBoardShare * static_cast<double>(c.besideEdge))
                continue;
            holding.push_back(i);
            if (2 * c.aroundCopper.front().objects >= c.darkObjects) mostlyContour.push_back(i);
        }
        std::optional<std::size_t> chosen;
        if (holding.size() == 1) chosen = holding.front();
        else if (mostlyContour.size() == 1) chosen = mostlyContour.front();
        if (!chosen) return;  // several candidates alike: none is surely the outline
        PackageFile& f = files_[*chosen];
        f.layerType = LayerType::outline();
        f.confidence = DetectionConfidence::medium;
        f.boardEdgeBox = contours[*chosen].aroundCopper.front().edge;
        outlineWarnings_.push_back(inferredWarning(f, Found::nothing));
    }

    std::vector<std::string> takeWarnings() {
        std::vector<std::string> out = std::move(roleWarnings_);
        out.insert(out.end(), outlineWarnings_.begin(), outlineWarnings_.end());
        std::vector<std::size_t> unexamined;
        for (std::size_t i = 0; i < files_.size(); ++i)
            if (unexamined_[i]) unexamined.push_back(i);
        if (!unexamined.empty()) out.push_back(unexaminedWarning(files_, unexamined));
        return out;
    }
};

} // namespace

std::vector<std::string> inferRolesFromContent(std::vector<PackageFile>& files, const RoleDeadline& deadline) {
    return ContentRules(files, deadline).run();
}

} // namespace corvane
