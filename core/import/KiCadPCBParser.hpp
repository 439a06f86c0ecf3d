#pragma once
// Reads a KiCad board file (.kicad_pcb) into a package of synthetic layer and drill files.
#include <cstdint>
#include <span>
#include <string>

#include "SExpr.hpp"
#include "model/Model.hpp"

namespace corvane {

// Reads copper pads, tracks, vias, filled zone polygons and board lines, rectangles and polygons,
// with their nets and footprint references; everything else in the board is left out. Positions
// are in board coordinates with y pointing up, as in the board's own Gerber plots.
class KiCadPCBParser {
public:
    KiCadPCBParser() = default;

    // `fileName` is the board file's name without folders. Throws KiCadParseError.
    PCBPackage parse(const std::string& fileName, std::span<const std::uint8_t> data) const;
};

} // namespace corvane
