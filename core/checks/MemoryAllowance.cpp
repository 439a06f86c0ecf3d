#include "MemoryAllowance.hpp"

#include <algorithm>

namespace corvane {

namespace {

// What the summary and the checks may hold at once. Every copper layer of a real 14-layer board
// takes under 300 MB together, so real boards never meet it; with the package itself it keeps the
// process within about 2.5 GB whatever the geometry asks for.
constexpr std::size_t kSharedAllowanceBytes = std::size_t{1} << 30;

} // namespace

bool MemoryAllowance::take(std::size_t bytes) {
    std::size_t left = left_.load(std::memory_order_relaxed);
    do {
        if (left < bytes) return false;
    } while (!left_.compare_exchange_weak(left, left - bytes, std::memory_order_relaxed));
    return true;
}

MemoryAllowance& MemoryAllowance::shared() {
    static MemoryAllowance allowance(kSharedAllowanceBytes);
    return allowance;
}

AllowanceHold& AllowanceHold::operator=(AllowanceHold&& other) noexcept {
    if (this != &other) {
        release();
        from_ = other.from_;
        held_ = other.held_.exchange(0);
    }
    return *this;
}

bool AllowanceHold::take(std::size_t bytes) {
    if (!from_) return true;
    if (!from_->take(bytes)) return false;
    held_.fetch_add(bytes, std::memory_order_relaxed);
    return true;
}

void AllowanceHold::giveBack(std::size_t bytes) {
    std::size_t held = held_.load(std::memory_order_relaxed);
    std::size_t back = 0;
    do {
        back = std::min(bytes, held);
    } while (!held_.compare_exchange_weak(held, held - back, std::memory_order_relaxed));
    if (from_ && back > 0) from_->giveBack(back);
}

void AllowanceHold::release() { giveBack(std::numeric_limits<std::size_t>::max()); }

} // namespace corvane
