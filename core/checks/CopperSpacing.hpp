#pragma once
// The copper spacing check: copper of different conductors closer than a preset minimum, layer by
// layer, under a deadline and a cap on the number of findings. The same search gives the board's
// smallest copper gap.
#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "CopperIslands.hpp"
#include "model/Model.hpp"

namespace corvane::spacing {

using Clock = std::chrono::steady_clock;

inline constexpr std::size_t kMaxIssues = 20;
inline constexpr double kDeadlineSeconds = 2.0;
// A gap is a finding only when it lies below the minimum by more than half of the last digit the
// message prints, so that no message shows a spacing equal to the minimum.
inline constexpr double kReportMarginMM = 0.0005;

double cellSizeFor(double limit);

struct LayerResult {
    std::vector<CheckIssue> issues;
    bool stopped = false;   // the run must end here (cap reached or deadline passed)
    bool timedOut = false;  // pairs of this layer were left unexamined because of the deadline
    bool tooLarge = false;  // the layer was left unexamined: its copper is more than the check may build
};

// The findings of one layer, at most `maxIssues`, in the order the pairs are met: one per place
// where two conductors come too close, at its smallest gap.
LayerResult findSpaceViolations(const copper::LayerCopper& layer, double limit, std::size_t maxIssues,
                                Clock::time_point deadline, const std::string& fileName);

struct SmallestGap {
    std::optional<double> value;  // none when the layer holds fewer than two conductors
    bool completed = true;        // false when the deadline passed first
};

// The smallest gap between copper that is not connected (see LayerCopper::mayViolate), every
// pair considered.
SmallestGap smallestGap(const copper::LayerCopper& layer, Clock::time_point deadline);

struct SpacingResult {
    std::vector<CheckIssue> issues;
    // A copper layer was left unexamined, for the deadline or for its size: the absence of
    // findings proves nothing.
    bool incomplete = false;
    std::optional<std::string> unfinishedFile;  // where the deadline stopped the check
    std::optional<std::string> tooLargeFile;    // the first layer left out for its size
};

// The whole check over a package, its copper layers examined side by side, their buffers taken from
// `allowance`; nothing when limit ≤ 0.
SpacingResult checkCopperSpacing(const PCBPackage& package, double limit, Clock::time_point deadline,
                                 MemoryAllowance& allowance = MemoryAllowance::shared());

// The check's findings as report rows, followed by a warning for each way it could not finish.
void appendSpacingIssues(const PCBPackage& package, double limit, Clock::time_point deadline,
                         std::vector<CheckIssue>& issues, MemoryAllowance& allowance = MemoryAllowance::shared());

// The smallest gap over several layers, each measured on its own, side by side; a layer whose copper
// the allowance cannot hold leaves it incomplete.
SmallestGap smallestGapOfLayers(std::span<const std::span<const PCBObject>> layers, Clock::time_point deadline,
                                MemoryAllowance& allowance = MemoryAllowance::shared());

} // namespace corvane::spacing
