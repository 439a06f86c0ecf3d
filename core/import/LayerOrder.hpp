#pragma once
// The one ranking of layer roles: every file list and drawing order sorts by it, ascending and stable. Top
// copper first, bottom copper after everything else. The importer and the readers that assemble packages of
// their own (KiCad, ODB++) sort by it alike.
#include <cstdint>

#include "model/Layers.hpp"

namespace corvane {

std::int64_t layerOrder(const LayerType& type);

} // namespace corvane
