#pragma once
// Memory the checks and the summary may spend on what the geometry itself sizes: piece lists, cell
// grids, cut polygons. Hostile geometry asks for gigabytes from a few bytes of input, so such
// buffers are taken from an allowance before they are made, and a layer that cannot have what it
// needs is left unexamined instead of growing. Layers built side by side draw from one allowance.
#include <atomic>
#include <cstddef>
#include <limits>

namespace corvane {

class MemoryAllowance {
public:
    explicit MemoryAllowance(std::size_t bytes) : left_(bytes) {}
    MemoryAllowance(const MemoryAllowance&) = delete;
    MemoryAllowance& operator=(const MemoryAllowance&) = delete;

    // Takes `bytes`; false, taking nothing, when fewer are left.
    bool take(std::size_t bytes);
    void giveBack(std::size_t bytes) { left_.fetch_add(bytes, std::memory_order_relaxed); }
    std::size_t left() const { return left_.load(std::memory_order_relaxed); }

    // The one allowance of the process, which every summary and check running at once shares.
    static MemoryAllowance& shared();

private:
    std::atomic<std::size_t> left_;
};

// What one piece of work holds of an allowance, given back when the hold ends or is released. A
// hold without an allowance grants everything (work whose size the input bounds). Workers of one
// piece of work may take from one hold at once.
class AllowanceHold {
public:
    AllowanceHold() = default;
    explicit AllowanceHold(MemoryAllowance& from) : from_(&from) {}
    AllowanceHold(AllowanceHold&& other) noexcept : from_(other.from_), held_(other.held_.exchange(0)) {}
    AllowanceHold& operator=(AllowanceHold&& other) noexcept;
    AllowanceHold(const AllowanceHold&) = delete;
    AllowanceHold& operator=(const AllowanceHold&) = delete;
    ~AllowanceHold() { release(); }

    // Adds `bytes` to what is held; false, holding no more, when the allowance has too little left.
    bool take(std::size_t bytes);
    // Room for `count` things of `bytesEach` bytes, refused when the product would not fit a size_t.
    bool takeFor(std::size_t count, std::size_t bytesEach) {
        if (bytesEach > 0 && count > std::numeric_limits<std::size_t>::max() / bytesEach) return false;
        return take(count * bytesEach);
    }
    template <class T>
    bool takeFor(std::size_t count) {
        return takeFor(count, sizeof(T));
    }
    // Hands back part of what is held, for a buffer freed before the work ends.
    void giveBack(std::size_t bytes);
    void release();
    std::size_t held() const { return held_.load(std::memory_order_relaxed); }

private:
    MemoryAllowance* from_ = nullptr;
    std::atomic<std::size_t> held_{0};
};

} // namespace corvane
