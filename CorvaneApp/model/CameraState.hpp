#pragma once
#include "model/Geometry.hpp"

namespace corvane {

// The view camera shared by the model, the canvas, the overlay and the screenshots. The type itself keeps no
// range: fitting to a box may set any scale; only the zoom commands clamp through clampedScale.
struct CameraState {
    Vec2 center = Vec2::zero();
    double pxPerMM = 8.0; // view points per millimetre
    bool mirrored = false; // bottom view: the board's x axis runs right to left

    static constexpr double minPxPerMM = 0.05;
    static constexpr double maxPxPerMM = 4000.0;

    // A scale of minPxPerMM or less (NaN included) becomes minPxPerMM; above maxPxPerMM, maxPxPerMM.
    static double clampedScale(double pxPerMM) {
        if (!(pxPerMM > minPxPerMM)) return minPxPerMM;
        return pxPerMM > maxPxPerMM ? maxPxPerMM : pxPerMM;
    }

    bool operator==(const CameraState&) const = default;
};

} // namespace corvane
