#include "MeasureEngine.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "CellGrid.hpp"
#include "model/GeometryEngine.hpp"

namespace corvane {

namespace {

// Visits every object of a file in the order of PackageFile::objects() without building that list:
// the canvas asks on every pointer move. `boxFilter` decides from the box alone whether a drill hit
// is worth making into an object.
template <class BoxFilter, class Visit>
void forEachObject(const PackageFile& file, BoxFilter&& boxFilter, Visit&& visit) {
    if (file.gerber)
        for (const auto& obj : file.gerber->objects)
            if (boxFilter(obj.bbox)) visit(obj);
    if (file.drill) {
        const DrillDocument& doc = *file.drill;
        for (std::size_t i = 0; i < doc.hits.size(); ++i)
            if (boxFilter(doc.hitBBox(i))) visit(doc.hitObject(i));
        for (const auto& obj : doc.slots)
            if (boxFilter(obj.bbox)) visit(obj);
    }
}

std::string fmt(Units u, double mm) { return u.format(mm, 2); }

std::size_t objectCount(const PackageFile& f) {
    std::size_t n = f.gerber ? f.gerber->objects.size() : 0;
    if (f.drill) n += f.drill->hits.size() + f.drill->slots.size();
    return n;
}

// The box of object `local` of a file, in PackageFile::objects order.
BBox localBox(const PackageFile& f, std::size_t local) {
    const std::size_t g = f.gerber ? f.gerber->objects.size() : 0;
    if (local < g) return f.gerber->objects[local].bbox;
    local -= g;
    if (local < f.drill->hits.size()) return f.drill->hitBBox(local);
    return f.drill->slots[local - f.drill->hits.size()].bbox;
}

// Calls visit(object) for object `local` of a file, making a drill hit's object only when needed.
template <class Visit>
void visitLocal(const PackageFile& f, std::size_t local, Visit&& visit) {
    const std::size_t g = f.gerber ? f.gerber->objects.size() : 0;
    if (local < g) return visit(f.gerber->objects[local]);
    local -= g;
    if (local < f.drill->hits.size()) return visit(f.drill->hitObject(local));
    visit(f.drill->slots[local - f.drill->hits.size()]);
}

// Visits, in (file, object) order, every object whose box may pass `boxFilter`: all of them, or
// the index's candidates near `at` when an index built for these files is given.
template <class BoxFilter, class Visit>
void forEachNear(const std::vector<PackageFile>& files, const MeasureIndex* index, Vec2 at, double reach,
                 BoxFilter&& boxFilter, Visit&& visit) {
    if (index && index->matches(files)) {
        if (auto ids = index->candidates(at, reach)) {
            for (std::uint32_t id : *ids) {
                const auto [fi, local] = index->locate(id);
                const PackageFile& f = files[fi];
                if (!boxFilter(localBox(f, local))) continue;
                visitLocal(f, local, [&](const PCBObject& obj) { visit(f, obj); });
            }
            return;
        }
    }
    for (const auto& f : files) forEachObject(f, boxFilter, [&](const PCBObject& obj) { visit(f, obj); });
}

} // namespace

namespace {
constexpr auto measurementFields = [](auto& c, auto& m) {
    c.field("id", m.id);
    c.field("kind", m.kind);
    c.optionalField("p1", m.p1);
    c.optionalField("p2", m.p2);
    c.field("valueMM", m.valueMM);
    c.field("label", m.label);
    c.field("createdAt", m.createdAt);
};
} // namespace

Json encodeValue(const BoardMeasurement& value, const CodingOptions& options) {
    return encodeRecord(value, options, measurementFields);
}

void decodeValue(const Json& json, BoardMeasurement& out, const CodingOptions& options) {
    decodeRecord(json, out, options, measurementFields);
}

struct MeasureIndex::Impl {
    std::vector<std::size_t> counts;     // objects per file
    std::vector<std::uint32_t> firstId;  // global number of each file's first object
    std::uint32_t total = 0;
    double cell = 1.0;
    grid::CellGrid cells;
    std::vector<std::uint32_t> always;   // objects with oversized or unusable boxes
};

MeasureIndex::MeasureIndex() = default;
MeasureIndex::~MeasureIndex() = default;
MeasureIndex::MeasureIndex(MeasureIndex&&) noexcept = default;
MeasureIndex& MeasureIndex::operator=(MeasureIndex&&) noexcept = default;

MeasureIndex::MeasureIndex(const std::vector<PackageFile>& files) : impl_(std::make_unique<Impl>()) {
    Impl& m = *impl_;
    std::uint64_t total = 0;
    BBox extent = BBox::empty();
    for (const auto& f : files) {
        m.counts.push_back(objectCount(f));
        m.firstId.push_back(static_cast<std::uint32_t>(std::min<std::uint64_t>(total, UINT32_MAX)));
        total += m.counts.back();
        if (f.gerber && grid::isFinite(f.gerber->bbox)) extent.include(f.gerber->bbox);
        if (f.drill && grid::isFinite(f.drill->bbox)) extent.include(f.drill->bbox);
    }
    if (total >= UINT32_MAX) {
        impl_.reset();  // too many objects to number: queries scan
        return;
    }
    m.total = static_cast<std::uint32_t>(total);
    // About a few objects per cell on an even board, never finer than a quarter millimetre.
    const double area = extent.isValid() ? std::max(1.0, extent.width() * extent.height()) : 1.0;
    m.cell = std::max(0.25, std::sqrt(area / std::max<double>(1.0, static_cast<double>(total))) * 2.0);

    std::vector<grid::CellRange> ranges(m.total);
    std::uint32_t id = 0;
    for (const auto& f : files) {
        for (std::size_t local = 0; local < objectCount(f); ++local, ++id) {
            const BBox b = localBox(f, local);
            if (b.isValid() && grid::isFinite(b)) ranges[id] = grid::rangeOf(b, m.cell);
            else if (!b.isValid() && std::isinf(b.minX) && std::isinf(b.maxX)) ranges[id] = grid::CellRange{};  // no geometry
            else ranges[id] = grid::CellRange{0, grid::kMaxCellsPerItem * 2, 0, 0};  // unusable: always looked at
        }
    }
    std::vector<std::uint32_t> oversized;
    m.cells.build(std::span<const grid::CellRange>(ranges), oversized, [] { return false; });
    m.always = std::move(oversized);
}

bool MeasureIndex::matches(const std::vector<PackageFile>& files) const {
    if (!impl_ || impl_->counts.size() != files.size()) return false;
    for (std::size_t i = 0; i < files.size(); ++i)
        if (impl_->counts[i] != objectCount(files[i])) return false;
    return true;
}

std::optional<std::vector<std::uint32_t>> MeasureIndex::candidates(Vec2 at, double reach) const {
    if (!impl_ || !at.isFinite() || !std::isfinite(reach) || reach < 0) return std::nullopt;
    const Impl& m = *impl_;
    const grid::CellRange r = grid::rangeOf(BBox{at.x - reach, at.y - reach, at.x + reach, at.y + reach}, m.cell);
    if (r.cellCount() > 4096) return std::nullopt;  // a huge reach: scanning is as good
    std::vector<std::uint32_t> ids;
    // The window is never oversized here, so the item count for that case is not needed.
    grid::walkWindow(
        m.cells, m.always, r, 0,
        [&](std::uint32_t k) {
            ids.push_back(k);
            return false;
        },
        [] { return false; });
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    return ids;
}

std::pair<std::size_t, std::size_t> MeasureIndex::locate(std::uint32_t id) const {
    const auto& first = impl_->firstId;
    auto it = std::upper_bound(first.begin(), first.end(), id);
    std::size_t fi = static_cast<std::size_t>(it - first.begin()) - 1;
    // Files without objects share their successor's first number; step back to the one holding id.
    while (impl_->counts[fi] == 0 || id - first[fi] >= impl_->counts[fi]) --fi;
    return {fi, id - first[fi]};
}

double MeasureEngine::distance(const PCBObject& object, Vec2 p) {
    const auto& k = object.kind;
    if (const auto* s = k.as<PCBObjectKind::Stroke>()) return GeometryEngine::distancePointSegment(p, s->start, s->end);
    if (const auto* a = k.as<PCBObjectKind::ArcStroke>())
        return GeometryEngine::distancePointArc(p, a->start, a->end, a->center, a->clockwise);
    if (const auto* f = k.as<PCBObjectKind::Flash>()) {
        const double size = object.apertureShape ? object.apertureShape->boundingDiameter() : 0.2;
        return std::max(0.0, p.distance(f->at) - size / 2);
    }
    if (const auto* r = k.as<PCBObjectKind::Region>()) {
        double best = std::numeric_limits<double>::infinity();
        for (const auto& c : r->contours) best = std::min(best, GeometryEngine::distancePointPolygon(p, c));
        return best;
    }
    if (const auto* d = k.as<PCBObjectKind::Drill>()) return std::max(0.0, p.distance(d->at) - d->diameterMM / 2);
    if (const auto* sl = k.as<PCBObjectKind::Slot>()) return GeometryEngine::distancePointSegment(p, sl->start, sl->end);
    return std::numeric_limits<double>::infinity();
}

std::optional<HitResult> MeasureEngine::hitTest(const std::vector<PackageFile>& files, Vec2 at, double t,
                                                const MeasureIndex* index) const {
    double bestScore = std::numeric_limits<double>::max();
    std::optional<HitResult> result;
    auto near = [&](const BBox& b) {
        return b.minX - t <= at.x && at.x <= b.maxX + t && b.minY - t <= at.y && at.y <= b.maxY + t;
    };
    forEachNear(files, index, at, t, near, [&](const PackageFile& file, const PCBObject& obj) {
        const double d = distance(obj, at);
        if (d > t || std::isnan(d)) return;
        const double score = d + 0.25 * std::max(0.0001, (obj.bbox.width() + obj.bbox.height()) / 2);
        if (score < bestScore) {
            bestScore = score;
            result = HitResult{obj, file.fileName, file.layerType, d};
        }
    });
    return result;
}

std::optional<Vec2> MeasureEngine::snap(const std::vector<PackageFile>& files, Vec2 at, double t,
                                        const MeasureIndex* index) const {
    double best = t;
    std::optional<Vec2> result;
    auto consider = [&](const Vec2& c) {
        const double d = c.distance(at);
        if (d < best) {
            best = d;
            result = c;
        }
    };
    // Every candidate point of an object lies inside its box, so only objects whose box comes
    // within t of the pointer can offer one; objects with unusable boxes are always looked at.
    auto all = [](const BBox&) { return true; };
    forEachNear(files, index, at, t, all, [&](const PackageFile&, const PCBObject& obj) {
            const auto& k = obj.kind;
            if (const auto* s = k.as<PCBObjectKind::Stroke>()) {
                consider(s->start);
                consider(s->end);
                consider((s->start + s->end) * 0.5);
            } else if (const auto* a = k.as<PCBObjectKind::ArcStroke>()) {
                consider(a->start);
                consider(a->end);
            } else if (const auto* f = k.as<PCBObjectKind::Flash>()) {
                consider(f->at);
            } else if (const auto* r = k.as<PCBObjectKind::Region>()) {
                if (!r->contours.empty()) {
                    const auto& c = r->contours.front();
                    for (std::size_t i = 0; i < std::min<std::size_t>(16, c.size()); ++i) consider(c[i]);
                }
            } else if (const auto* d = k.as<PCBObjectKind::Drill>()) {
                consider(d->at);
            } else if (const auto* sl = k.as<PCBObjectKind::Slot>()) {
                consider(sl->start);
                consider(sl->end);
            }
    });
    return result;
}

BoardMeasurement MeasureEngine::distanceMeasurement(Vec2 from, Vec2 to, MeasurementKind kind, Units units) const {
    BoardMeasurement m;
    m.id = UUID::random();
    m.kind = kind;
    m.p1 = from;
    m.p2 = to;
    m.createdAt = Date::now();
    if (kind == MeasurementKind::xDelta) {
        m.valueMM = to.x - from.x;
        m.label = "\u0394X " + fmt(units, std::fabs(to.x - from.x));
    } else if (kind == MeasurementKind::yDelta) {
        m.valueMM = to.y - from.y;
        m.label = "\u0394Y " + fmt(units, std::fabs(to.y - from.y));
    } else {
        m.valueMM = from.distance(to);
        m.label = fmt(units, m.valueMM);
    }
    return m;
}

std::optional<BoardMeasurement> MeasureEngine::boardDimensionMeasurement(const PCBPackage& package,
                                                                         Units units) const {
    const BBox box = package.boardBBox();
    if (box.maxX < box.minX || box.maxY < box.minY) return std::nullopt;
    const double w = std::max(0.0, box.maxX - box.minX);
    const double h = std::max(0.0, box.maxY - box.minY);
    BoardMeasurement m;
    m.id = UUID::random();
    m.kind = MeasurementKind::boardDimensions;
    m.p1 = Vec2{box.minX, box.minY};
    m.p2 = Vec2{box.maxX, box.maxY};
    m.valueMM = std::max(w, h);
    m.label = "Board " + fmt(units, w) + " \u00D7 " + fmt(units, h);
    m.createdAt = Date::now();
    return m;
}

std::string MeasureEngine::formatPoint(Vec2 p, Units units) {
    if (units == Units::mil)
        return "(" + formatFixed(p.x / 0.0254, 1) + ", " + formatFixed(p.y / 0.0254, 1) + ") mil";
    return "(" + formatFixed(p.x, 3) + ", " + formatFixed(p.y, 3) + ") mm";
}

std::vector<InspectorRow> MeasureEngine::inspect(const HitResult& hit, Units units) const {
    const PCBObject& obj = hit.object;
    std::vector<InspectorRow> rows;
    rows.emplace_back("Layer", hit.layerType.displayName());
    rows.emplace_back("File", hit.fileName);
    rows.emplace_back("Type", obj.typeName());
    auto point = [&](const char* label, Vec2 p) { rows.emplace_back(label, formatPoint(p, units)); };
    auto length = [&](const char* label, double mm) { rows.emplace_back(label, fmt(units, mm)); };
    auto plating = [&](bool plated) { rows.emplace_back("Plating", plated ? "PTH (plated)" : "NPTH (non-plated)"); };
    const auto& k = obj.kind;
    if (const auto* s = k.as<PCBObjectKind::Stroke>()) {
        point("Start", s->start);
        point("End", s->end);
        length("Length", s->end.distance(s->start));
        if (obj.apertureShape) length("Track Width", obj.apertureShape->strokeNominalWidth());
    } else if (const auto* a = k.as<PCBObjectKind::ArcStroke>()) {
        point("Start", a->start);
        point("End", a->end);
        point("Center", a->center);
        length("Radius", a->center.distance(a->start));
        if (obj.apertureShape) length("Track Width", obj.apertureShape->strokeNominalWidth());
    } else if (const auto* f = k.as<PCBObjectKind::Flash>()) {
        point("Position", f->at);
        if (obj.apertureShape) {
            length("Pad Size", obj.apertureShape->boundingDiameter());
            rows.emplace_back("Aperture", obj.apertureShape->description());
        }
    } else if (k.as<PCBObjectKind::Region>()) {
        point("Position", obj.bbox.center());
        rows.emplace_back("Size", fmt(units, std::max(0.0, obj.bbox.maxX - obj.bbox.minX)) + " \u00D7 " +
                                      fmt(units, std::max(0.0, obj.bbox.maxY - obj.bbox.minY)));
    } else if (const auto* d = k.as<PCBObjectKind::Drill>()) {
        point("Position", d->at);
        length("Hole Diameter", d->diameterMM);
        plating(d->plated);
    } else if (const auto* sl = k.as<PCBObjectKind::Slot>()) {
        point("Start", sl->start);
        point("End", sl->end);
        length("Hole Diameter", sl->diameterMM);
        plating(sl->plated);
    }
    rows.emplace_back("Polarity", obj.polarity == Polarity::clear ? "Clear (remove)" : "Dark (add)");
    if (obj.net() && !obj.net()->empty()) rows.emplace_back("Net", *obj.net());
    if (obj.component() && !obj.component()->empty()) {
        rows.emplace_back("Component", *obj.component());
        if (obj.pin() && !obj.pin()->empty()) rows.emplace_back("Pin", *obj.pin());
    }
    if (obj.apertureFunction() && !obj.apertureFunction()->empty())
        rows.emplace_back("Aperture Function", *obj.apertureFunction());
    rows.emplace_back("Aperture Code", obj.apertureCode() ? "D" + formatInt(*obj.apertureCode()) : "\u2014");
    return rows;
}

} // namespace corvane
