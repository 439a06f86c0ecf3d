#pragma once
// The package importer. Only the layer ranking lives here so far.
#include <cstdint>

#include "model/Model.hpp"

namespace corvane {

struct PackageImporter {
    // The one ranking of layer roles: every file list and drawing order sorts by it, ascending
    // and stable. Top copper first, bottom copper after everything else.
    static std::int64_t layerOrder(const LayerType& type);
};

} // namespace corvane
