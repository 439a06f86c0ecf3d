#pragma once
// The order in which every picture of a board (the desktop canvases, their screenshots and the preview)
// lays its layers over each other. The layer list keeps its own order; only drawing follows this one.
#include <cstddef>
#include <vector>

#include "model/Model.hpp"

namespace corvane {

// Which face of the board looks at the viewer: the top, or the bottom in the mirrored view.
enum class ViewedSide { top, bottom };

// Positions into `types` in drawing order, first drawn first. The side facing away is drawn first and the
// facing side last: seen from the top, bottom silkscreen, paste, mask and copper, then the inner copper
// from the deepest up, then top copper, mask, paste and silkscreen; seen from the bottom the reverse. The
// outline, the drill files and unknown files follow in that order, above all copper. Equal ranks keep their
// order in `types`.
std::vector<std::size_t> layerDrawOrder(const std::vector<LayerType>& types, ViewedSide side);

} // namespace corvane
