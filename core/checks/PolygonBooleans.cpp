#include "PolygonBooleans.hpp"

#include <cmath>

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

// The library refuses coordinates past its range by throwing; one refused outline spoils the whole result.
template <class Add>
void Difference::add(Add&& add) {
    try {
        add();
    } catch (const cl::clipperException&) {
        failed_ = true;
    }
}

void Difference::addSubject(const Paths& paths) {
    add([&] { clipper_.AddPaths(paths, cl::ptSubject, true); });
}

void Difference::addClip(const Paths& paths) {
    add([&] { clipper_.AddPaths(paths, cl::ptClip, true); });
}

void Difference::addClip(const Path& path) {
    add([&] { clipper_.AddPath(path, cl::ptClip, true); });
}

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
    cl::PolyTree kept;
    bool made = false;
    add([&] { made = clipper_.Execute(cl::ctDifference, kept, cl::pftNonZero, cl::pftNonZero); });
    if (failed_ || !made) return std::nullopt;
    std::vector<Area> out;
    collectAreas(kept, out);
    return out;
}

} // namespace corvane::booleans
