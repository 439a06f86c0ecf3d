#pragma once
// Off-screen picture of a whole package: the preview program's image.
#include <cstdint>
#include <optional>
#include <set>
#include <string>

#include "RasterImage.hpp"
#include "model/Model.hpp"

namespace corvane {

struct RGBAColor {
    double r = 0, g = 0, b = 0, a = 1;
    bool operator==(const RGBAColor&) const = default;
};

struct SizePx {
    double width = 0;
    double height = 0;
};

struct SoftwareRenderer {
    RGBAColor background{0.08, 0.09, 0.11, 1.0};
    double pxScale = 4.0;  // pixels per millimetre of the last render
    bool pxScaleSet = false;

    // The colour of a layer of this type in every picture of a board; drill holes take their layer's colour.
    static RGBAColor defaultColor(const LayerType& type);
    // The colour of inner copper layer `n` (1 for the first).
    static RGBAColor innerCopperColor(std::int64_t n);

    // The picture of the package fitted into sizePx with a 2 mm margin, board +y up. Absent when the
    // package has no geometry or a side is 4 pixels or less (or too large to allocate).
    std::optional<RasterImage> render(const PCBPackage& package, SizePx sizePx,
                                      const std::optional<std::set<std::string>>& visibleFileNames, bool flipX);
};

} // namespace corvane
