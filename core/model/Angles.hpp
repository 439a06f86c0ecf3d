#pragma once
// The one pi of the code base, and the full turn in radians.
#include <numbers>

namespace corvane {

inline constexpr double kPi = std::numbers::pi;
inline constexpr double kTwoPi = 2 * std::numbers::pi;

} // namespace corvane
