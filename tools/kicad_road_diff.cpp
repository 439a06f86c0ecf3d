// Where the copper of a KiCad board as our reader draws it differs from KiCad's own Gerber plot of it:
//
//     kicad_road_diff BOARD.kicad_pcb PLOT.zip [WIDTH_MM] [--objects]
//
// PLOT.zip comes from tools/plot_kicad_boards.py. For each copper layer of the board, the copper only one
// side draws, opened by WIDTH_MM (default 0.002) so that chord-sized slivers drop out, is printed one region
// a line ("board-only" or "plot-only", with its box and area), marked "text" where the plot has copper text
// there (strokes with neither net nor function, which the reader does not read), "arc" where it has a track
// arc, else "other"; --objects lists the primitives of both sides at each "other" region.
// Build: g++ -std=c++20 -O2 -Icore tools/kicad_road_diff.cpp build/libCorvaneCore.a
//        $(pkg-config --libs polyclipping cairo pangocairo pango) -lz -lpthread
#include <polyclipping/clipper.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "import/PackageImporter.hpp"
#include "model/GeometryEngine.hpp"

using namespace corvane;
namespace cl = ClipperLib;

namespace {

constexpr double kUnitsPerMM = 1e6;
// Curves are drawn far finer than any difference worth a line.
constexpr double kCurveToleranceMM = 2e-4;
// Layers are compared in square tiles, so that a pour is clipped to each tile once, not joined whole.
constexpr double kTileMM = 5.0;
// Objects of more points than this are cut into their tiles up front.
constexpr std::size_t kLargeObjectPoints = 2000;

cl::IntPoint unitsOf(const Vec2& v) { return {std::llround(v.x * kUnitsPerMM), std::llround(v.y * kUnitsPerMM)}; }

cl::Path pathOf(const Contour& c, const Vec2& offset = {}) {
    cl::Path p;
    for (const Vec2& v : c) p.push_back(unitsOf(v + offset));
    if (!cl::Orientation(p)) cl::ReversePath(p);
    return p;
}

// A line through the points with round ends and joins, `width` wide.
cl::Paths roundLine(const std::vector<Vec2>& points, double width) {
    cl::ClipperOffset offset(2.0, kCurveToleranceMM * kUnitsPerMM);
    cl::Path p;
    for (const Vec2& v : points) p.push_back(unitsOf(v));
    if (p.size() == 1) p.push_back(p[0]);
    offset.AddPath(p, cl::jtRound, cl::etOpenRound);
    cl::Paths out;
    offset.Execute(out, width / 2 * kUnitsPerMM);
    return out;
}

// The copper of one primitive; shapes other than these come out as the engine's triangles.
cl::Paths copperOf(const GeometryEngine& engine, const PCBObject& o) {
    if (const auto* r = o.kind.as<PCBObjectKind::Region>()) {
        cl::Paths out;
        for (const Contour& c : r->contours) out.push_back(pathOf(c));
        return out;
    }
    const ApertureShape* shape = o.apertureShape ? &*o.apertureShape : nullptr;
    const auto* circle = shape ? shape->as<ApertureShape::Circle>() : nullptr;
    if (const auto* s = o.kind.as<PCBObjectKind::Stroke>(); s && circle) return roundLine({s->start, s->end}, circle->diameter);
    if (const auto* a = o.kind.as<PCBObjectKind::ArcStroke>(); a && circle) {
        std::vector<Vec2> points{a->start};
        engine.sampleArc(a->start, a->end, a->center, a->clockwise, points);
        return roundLine(points, circle->diameter);
    }
    if (const auto* f = o.kind.as<PCBObjectKind::Flash>(); f && shape) {
        if (circle) return roundLine({f->at}, circle->diameter);
        if (const auto* r = shape->as<ApertureShape::Rectangle>()) {
            const double w = r->width / 2, h = r->height / 2;
            return {pathOf({{-w, -h}, {w, -h}, {w, h}, {-w, h}}, f->at)};
        }
        if (const auto* ob = shape->as<ApertureShape::Obround>()) {
            const double d = std::min(ob->width, ob->height);
            const Vec2 half = ob->width > ob->height ? Vec2{(ob->width - d) / 2, 0} : Vec2{0, (ob->height - d) / 2};
            return roundLine({f->at - half, f->at + half}, d);
        }
        if (const auto* m = shape->as<ApertureShape::Macro>(); m && m->outline) {
            cl::Paths out;
            for (const Contour& c : *m->outline) out.push_back(pathOf(c, f->at));
            return out;
        }
    }
    TriangleMesh mesh;
    engine.append(o, mesh);
    cl::Paths out;
    const std::vector<float> v = mesh.vertices();
    for (std::size_t i = 0; i + 5 < v.size(); i += 6) out.push_back(pathOf({{v[i], v[i + 1]}, {v[i + 2], v[i + 3]}, {v[i + 4], v[i + 5]}}));
    return out;
}

cl::Paths clipped(const cl::Paths& paths, const cl::Path& window) {
    cl::Clipper c;
    c.AddPaths(paths, cl::ptSubject, true);
    c.AddPath(window, cl::ptClip, true);
    cl::Paths out;
    c.Execute(cl::ctIntersection, out, cl::pftNonZero, cl::pftNonZero);
    return out;
}

// One layer's copper by tile: small objects listed in every tile their box meets, large ones cut up.
class TiledLayer {
public:
    TiledLayer(const GeometryEngine& engine, const std::vector<PCBObject>& objects, const BBox& extent)
        : origin_{extent.minX, extent.minY}, nx_(static_cast<int>(extent.width() / kTileMM) + 1),
          ny_(static_cast<int>(extent.height() / kTileMM) + 1), listed_(std::size_t(nx_) * ny_), cut_(std::size_t(nx_) * ny_) {
        for (const PCBObject& o : objects) {
            if (!o.bbox.isValid()) continue;
            cl::Paths paths = copperOf(engine, o);
            std::size_t points = 0;
            for (const auto& p : paths) points += p.size();
            const int i0 = column(o.bbox.minX), i1 = column(o.bbox.maxX), j0 = row(o.bbox.minY), j1 = row(o.bbox.maxY);
            if (points > kLargeObjectPoints && (i1 > i0 || j1 > j0)) {
                cutInto(paths, i0, j0, i1 + 1, j1 + 1);
                continue;
            }
            paths_.push_back(std::move(paths));
            for (int j = j0; j <= j1; ++j)
                for (int i = i0; i <= i1; ++i) listed_[tile(i, j)].push_back(paths_.size() - 1);
        }
    }

    int columns() const { return nx_; }
    int rows() const { return ny_; }

    cl::Paths copper(int i, int j) const {
        cl::Clipper c;
        for (std::size_t k : listed_[tile(i, j)]) c.AddPaths(paths_[k], cl::ptSubject, true);
        c.AddPaths(cut_[tile(i, j)], cl::ptSubject, true);
        c.AddPath(window(i, j, i + 1, j + 1), cl::ptClip, true);
        cl::Paths out;
        c.Execute(cl::ctIntersection, out, cl::pftNonZero, cl::pftNonZero);
        return out;
    }

private:
    int column(double x) const { return std::clamp(static_cast<int>((x - origin_.x) / kTileMM), 0, nx_ - 1); }
    int row(double y) const { return std::clamp(static_cast<int>((y - origin_.y) / kTileMM), 0, ny_ - 1); }
    std::size_t tile(int i, int j) const { return std::size_t(j) * nx_ + i; }
    cl::Path window(int i0, int j0, int i1, int j1) const {
        const Vec2 a = origin_ + Vec2{i0 * kTileMM, j0 * kTileMM}, b = origin_ + Vec2{i1 * kTileMM, j1 * kTileMM};
        return {unitsOf(a), unitsOf({b.x, a.y}), unitsOf(b), unitsOf({a.x, b.y})};
    }
    // Halves the range of tiles until each piece is one tile: every point is clipped a logarithmic number of times.
    void cutInto(const cl::Paths& paths, int i0, int j0, int i1, int j1) {
        if (paths.empty()) return;
        if (i1 - i0 == 1 && j1 - j0 == 1) {
            auto& into = cut_[tile(i0, j0)];
            into.insert(into.end(), paths.begin(), paths.end());
        } else if (i1 - i0 >= j1 - j0) {
            const int m = (i0 + i1) / 2;
            cutInto(clipped(paths, window(i0, j0, m, j1)), i0, j0, m, j1);
            cutInto(clipped(paths, window(m, j0, i1, j1)), m, j0, i1, j1);
        } else {
            const int m = (j0 + j1) / 2;
            cutInto(clipped(paths, window(i0, j0, i1, m)), i0, j0, i1, m);
            cutInto(clipped(paths, window(i0, m, i1, j1)), i0, m, i1, j1);
        }
    }

    Vec2 origin_;
    int nx_, ny_;
    std::vector<cl::Paths> paths_;
    std::vector<std::vector<std::size_t>> listed_;
    std::vector<cl::Paths> cut_;
};

// What one side has and the other lacks, without parts narrower than `width`.
cl::Paths onlyIn(const cl::Paths& side, const cl::Paths& other, double width) {
    cl::Clipper c;
    c.AddPaths(side, cl::ptSubject, true);
    c.AddPaths(other, cl::ptClip, true);
    cl::Paths rest;
    c.Execute(cl::ctDifference, rest, cl::pftNonZero, cl::pftNonZero);
    for (const double by : {-width / 2, width / 2}) {
        cl::ClipperOffset offset;
        offset.AddPaths(rest, cl::jtMiter, cl::etClosedPolygon);
        offset.Execute(rest, by * kUnitsPerMM);
    }
    return rest;
}

bool meets(const BBox& a, const BBox& b) { return a.minX <= b.maxX && a.maxX >= b.minX && a.minY <= b.maxY && a.maxY >= b.minY; }

// Why the plot may draw copper there that the reader does not: "arc", "text" or "other".
const char* explanation(const std::vector<PCBObject>& plot, const BBox& box) {
    const char* why = "other";
    for (const PCBObject& o : plot) {
        if (!meets(o.bbox, box)) continue;
        if (o.kind.as<PCBObjectKind::ArcStroke>()) return "arc";
        if (o.kind.as<PCBObjectKind::Stroke>() && !o.net && !o.apertureFunction) why = "text";
    }
    return why;
}

void listObjects(const char* side, const std::vector<PCBObject>& objects, const BBox& box) {
    for (const PCBObject& o : objects) {
        if (!meets(o.bbox, box) || o.kind.as<PCBObjectKind::Region>()) continue;
        std::printf("     %s: %s %s net=%s", side, std::string(o.kind.caseName()).c_str(),
                    o.apertureShape ? o.apertureShape->description().c_str() : "", o.net ? o.net->c_str() : "-");
        if (const auto* f = o.kind.as<PCBObjectKind::Flash>()) std::printf(" at (%.4f, %.4f)", f->at.x, f->at.y);
        std::printf("\n");
    }
}

void compareLayer(const GeometryEngine& engine, const PackageFile& board, const PackageFile& plot, double width, bool objects) {
    BBox extent = board.gerber->bbox;
    extent.include(plot.gerber->bbox);
    const TiledLayer a(engine, board.gerber->objects, extent), b(engine, plot.gerber->objects, extent);
    std::printf("%s:\n", board.fileName.c_str());
    for (int j = 0; j < a.rows(); ++j)
        for (int i = 0; i < a.columns(); ++i) {
            const cl::Paths pa = a.copper(i, j), pb = b.copper(i, j);
            for (const bool boardSide : {true, false})
                for (const cl::Path& p : onlyIn(boardSide ? pa : pb, boardSide ? pb : pa, width)) {
                    if (!cl::Orientation(p)) continue;  // a hole in a region already listed
                    BBox box = BBox::empty();
                    for (const cl::IntPoint& q : p) box.include(Vec2{q.X / kUnitsPerMM, q.Y / kUnitsPerMM});
                    const char* why = explanation(plot.gerber->objects, box);
                    std::printf("  %s-only %s [%.4f, %.4f]-[%.4f, %.4f] area %.6f\n", boardSide ? "board" : "plot", why,
                                box.minX, box.minY, box.maxX, box.maxY, cl::Area(p) / kUnitsPerMM / kUnitsPerMM);
                    if (!objects || std::strcmp(why, "other") != 0) continue;
                    listObjects("board", board.gerber->objects, box);
                    listObjects("plot ", plot.gerber->objects, box);
                }
        }
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args;
    bool objects = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--objects") == 0) objects = true;
        else args.emplace_back(argv[i]);
    }
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: kicad_road_diff BOARD.kicad_pcb PLOT.zip [WIDTH_MM] [--objects]\n");
        return 2;
    }
    const PCBPackage board = PackageImporter().importAny(args[0]);
    const PCBPackage plot = PackageImporter().importAny(args[1]);
    const double width = args.size() > 2 ? std::stod(args[2]) : 0.002;
    GeometryEngine engine;
    engine.arcChordToleranceMM = kCurveToleranceMM;
    for (const PackageFile& f : board.files) {
        if (!f.layerType.isCopper() || !f.gerber) continue;
        const auto other = std::find_if(plot.files.begin(), plot.files.end(),
                                        [&](const PackageFile& p) { return p.gerber && p.layerType == f.layerType; });
        if (other == plot.files.end()) {
            std::printf("%s: not in the plot\n", f.fileName.c_str());
            continue;
        }
        compareLayer(engine, f, *other, width, objects);
    }
    for (const PackageFile& p : plot.files) {
        const bool read = std::any_of(board.files.begin(), board.files.end(),
                                      [&](const PackageFile& f) { return f.gerber && f.layerType == p.layerType; });
        if (p.layerType.isCopper() && p.gerber && !p.gerber->objects.empty() && !read)
            std::printf("%s: %zu objects, none read from the board\n", p.fileName.c_str(), p.gerber->objects.size());
    }
    return 0;
}
