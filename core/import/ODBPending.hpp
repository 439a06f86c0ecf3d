#pragma once
// TEMPORARY stand-ins until the geometry engine and layer order land; removed at merge.
#include <cmath>
#include <vector>
#include "model/Model.hpp"

namespace corvane::odbpending {


inline std::int64_t layerOrder(const LayerType& t) {
    switch (t.value.index()) {
    case 0: {
        const auto& side = t.as<LayerType::Copper>()->side;
        const std::int64_t s = side.sortOrder();
        return s > INT64_MAX - 100 ? INT64_MAX : 100 + s;
    }
    case 1: return 200;
    case 2: return 400;
    case 3: return 300;
    case 4: return 500;
    case 5: return 600;
    default: return 900;
    }
}

} // namespace corvane::odbpending
