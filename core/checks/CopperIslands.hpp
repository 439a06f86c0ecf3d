#pragma once
// The copper of one layer as conductors: pieces with their true shapes, grouped into islands of
// copper that touches or overlaps.
//
// Most CAD output carries no nets, and even with nets, drill marks, text and graphics have none.
// Spacing is only meaningful between copper that is not already connected, so the checks work on
// islands: everything that touches (within kTouchMM) is one conductor. Polarity is honoured:
// where clear objects remove copper, the dark copper they cut is computed as polygons, so that a
// pad standing in a pour's clearance is not part of the pour.
#include <cstdint>
#include <functional>
#include <span>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "CellGrid.hpp"
#include "CopperBodies.hpp"
#include "MemoryAllowance.hpp"
#include "model/Model.hpp"

namespace corvane::copper {

// Copper closer than this is one conductor.
inline constexpr double kTouchMM = 0.0005;
// The straight pieces standing in for arcs and round outlines lie at most this far off them.
inline constexpr double kArcChordMM = kOutlineChordMM;

// One piece of copper: a stroke, one chord of an arc, a flash, or one edge of a filled area.
struct Piece {
    CopperBody body;
    std::uint32_t source = 0;  // the object it comes from; the pieces of one object share it
    std::int32_t net = -1;     // interned known net, -1 without one

    const BBox& box() const { return body.box; }
};

// A filled area whose inside is copper although only its edges are pieces: a region contour, or
// a computed polygon with its holes (even-odd over its contours). Its edge pieces are
// [firstPiece, endPiece); a polygon cut in columns has no pieces on the seams between them.
struct FilledArea {
    std::uint32_t firstContour = 0;
    std::uint32_t contourCount = 0;
    std::uint32_t firstPiece = 0;
    std::uint32_t endPiece = 0;
    BBox box;
    // Copper inside the area lies within this box: the area's own, or for one column of a cut
    // polygon the whole polygon's, since copper may reach across a seam without meeting an edge.
    BBox enclosing;
};

struct LayerCopper {
    CopperBodySet bodies;
    std::vector<Piece> pieces;
    std::vector<Contour> contours;  // of the filled areas
    std::vector<FilledArea> areas;
    std::vector<std::uint32_t> island;    // per piece, 0 … islandCount − 1
    std::vector<std::int32_t> islandNet;  // per island: its one known net, −1 for none or several
    std::uint32_t islandCount = 0;
    // Per piece: 1 when it lies wholly inside a filled area of its own conductor, touching none of
    // the area's edges, and has no net of its own to tell it apart. Such a piece is never the
    // nearest copper to anything outside: every path out crosses the area's edges first.
    std::vector<std::uint8_t> interior;
    // Copper wholly inside a filled area of another known net: (the piece, a piece of the area).
    // The two overlap, though no edge of the area comes near the piece.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> enclosedShorts;

    // The pieces on a grid of the given cell size; pieces too large for it are on `oversized`.
    double cell = 1.0;
    std::vector<std::uint32_t> oversized;
    grid::CellGrid grid;

    // What the buffers above take of the build's allowance, for as long as they live.
    AllowanceHold hold;
    // Why the last build returned false: the copper is more than the allowance holds or the polygon
    // booleans may cut, rather than the stop request ending it.
    bool tooLarge = false;

    void clear();
    // Same island, or two islands of one known net.
    bool connected(std::uint32_t i, std::uint32_t j) const;
    // Whether the gap between pieces i and j matters: different known nets, or not connected.
    bool mayViolate(std::uint32_t i, std::uint32_t j) const;
};

// Interns net names; the empty name and "N/C" (not connected) are no net.
class NetTable {
public:
    std::int32_t intern(const SharedText& net);

private:
    std::unordered_map<std::string_view, std::int32_t> ids_;
};

// Builds the copper of one layer's objects on a grid of cells `cell` mm wide. `stop` is polled
// now and then; when it answers true the build ends and returns false. It returns false as well, with
// `tooLarge` set, when the copper cannot be known: an object too large to cut, a cut the polygon
// booleans failed or refused, or buffers the allowance (when given) cannot hold.
bool buildLayerCopper(std::span<const PCBObject> objects, double cell, NetTable& nets, LayerCopper& out,
                      const std::function<bool()>& stop, MemoryAllowance* allowance = nullptr);

// The cells piece i's box covers once grown by `reach` mm.
grid::CellRange windowOf(const LayerCopper& layer, std::uint32_t i, double reach);

// Calls visit(j) for every piece j from `from` on (i + 1 by default) listed in the cells of
// `window`, each once, in cell order (x outer) and list order, then the oversized pieces; every
// such piece when the window is too large to walk. `marker` holds one entry per piece and must
// start as all −1; it is left marked with i. Stops and returns true as soon as visit returns true
// or `stop`, polled as the walks counted on `poll` go, does.
template <class Visit, class Stop>
bool forEachLaterNeighbour(const LayerCopper& layer, std::uint32_t i, const grid::CellRange& window,
                           std::vector<std::int64_t>& marker, Visit&& visit, Stop&& stop, grid::Poll& poll,
                           std::uint32_t from = 0) {
    const auto I = static_cast<std::int64_t>(i);
    return grid::walkWindow(
        layer.grid, layer.oversized, window, static_cast<std::uint32_t>(layer.pieces.size()),
        [&](std::uint32_t j) {
            if (marker[j] == I) return false;
            marker[j] = I;
            return static_cast<bool>(visit(j));
        },
        stop, poll, std::max(from, i + 1));
}

} // namespace corvane::copper
