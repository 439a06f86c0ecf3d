#pragma once
// A uniform grid over the board plane for the proximity searches of the analysis engines.
//
// Cells are addressed by integer keys; each cell lists the items entered in it in entry order
// (items are entered in ascending order, so every list is sorted). The lists live in one flat
// array with an open-addressing table from cell key to its slice, which keeps lookups cheap and
// avoids one allocation per cell.
//
// Stray geometry must never hang or exhaust memory: cell indices are clamped, and an item whose
// box would cover more than `kMaxCellsPerItem` cells is not entered at all (callers keep such
// items on an oversized list and compare them with everything).
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <span>
#include <type_traits>
#include <utility>
#include <vector>

#include "MemoryAllowance.hpp"
#include "model/Geometry.hpp"

namespace corvane {

// Integer cell coordinates of the point grids of the checks.
struct GridCellKey {
    std::int64_t x = 0;
    std::int64_t y = 0;
    bool operator==(const GridCellKey&) const = default;
};

namespace grid {

inline constexpr std::int64_t kCellIndexLimit = std::int64_t{1} << 40;
inline constexpr std::int64_t kMaxCellsPerItem = 65536;
// Past this many cell entries in one grid, further items are treated as oversized. A hashed grid's
// table is made for as many cells as it has entries, up front: 8 M of them take 512 MB, and a table
// grown by rehashing would stall the build for seconds without a look at the clock.
inline constexpr std::int64_t kMaxTotalEntries = std::int64_t{1} << 23;
// Real copper enters about three cells per piece (measured on a 14-layer board at 0.6 mm cells); a
// hashed grid (sparse copper, with stray pieces far away) takes at most this many per item.
inline constexpr std::int64_t kHashedEntriesPerItem = 8;

// floor(v / cell), clamped to ±2^40. NaN maps to the lower limit; callers skip non-finite input first.
inline std::int64_t cellIndex(double v, double cell) {
    const double q = std::floor(v / cell);
    if (!(q > -static_cast<double>(kCellIndexLimit))) return -kCellIndexLimit;
    if (q > static_cast<double>(kCellIndexLimit)) return kCellIndexLimit;
    return static_cast<std::int64_t>(q);
}

inline GridCellKey cellOf(const Vec2& p, double cell) { return GridCellKey{cellIndex(p.x, cell), cellIndex(p.y, cell)}; }

// The cells a box touches. An inverted axis gives the single cell of its minimum.
struct CellRange {
    std::int64_t x0 = 0, x1 = -1, y0 = 0, y1 = -1;

    bool isEmpty() const { return x1 < x0 || y1 < y0; }
    // Number of cells, saturated just above kMaxCellsPerItem so it never overflows.
    std::int64_t cellCount() const {
        if (isEmpty()) return 0;
        const std::int64_t w = x1 - x0 + 1;
        const std::int64_t h = y1 - y0 + 1;
        if (w > kMaxCellsPerItem || h > kMaxCellsPerItem) return kMaxCellsPerItem + 1;
        const std::int64_t n = w * h;
        return n > kMaxCellsPerItem ? kMaxCellsPerItem + 1 : n;
    }
    bool isOversized() const { return cellCount() > kMaxCellsPerItem; }
    CellRange grown(std::int64_t by) const { return CellRange{x0 - by, x1 + by, y0 - by, y1 + by}; }
};

// lo = floor(min / cell); the range is lo…max(floor(max / cell), lo), or lo…lo when min ≤ max fails.
inline void axisRange(double lo, double hi, double cell, std::int64_t& a, std::int64_t& b) {
    a = cellIndex(lo, cell);
    if (!(lo <= hi)) {
        b = a;
        return;
    }
    const std::int64_t h = cellIndex(hi, cell);
    b = h > a ? h : a;
}

inline CellRange rangeOf(const BBox& box, double cell) {
    CellRange r;
    axisRange(box.minX, box.maxX, cell, r.x0, r.x1);
    axisRange(box.minY, box.maxY, cell, r.y0, r.y1);
    return r;
}

inline bool isFinite(const BBox& b) {
    return std::isfinite(b.minX) && std::isfinite(b.minY) && std::isfinite(b.maxX) && std::isfinite(b.maxY);
}

// A zero-filled array taken from the system as it is: pages of a large one are zeroed when first
// touched, so making one costs nothing until it is used, and work that polls as it fills it can stop
// at any time. Holds values whose all-zero bytes are their empty state.
template <class T>
class ZeroedArray {
    static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>);

public:
    ZeroedArray() = default;
    ZeroedArray(ZeroedArray&& other) noexcept : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}
    ZeroedArray& operator=(ZeroedArray&& other) noexcept {
        if (this != &other) {
            clear();
            data_ = std::exchange(other.data_, nullptr);
            size_ = std::exchange(other.size_, 0);
        }
        return *this;
    }
    ~ZeroedArray() { std::free(data_); }

    // False when the system has no room for n values.
    bool allocate(std::size_t n) {
        clear();
        if (n == 0) return true;
        data_ = static_cast<T*>(std::calloc(n, sizeof(T)));
        size_ = data_ ? n : 0;
        return data_ != nullptr;
    }
    void clear() {
        std::free(data_);
        data_ = nullptr;
        size_ = 0;
    }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    T* begin() { return data_; }
    T* end() { return data_ + size_; }
    const T* begin() const { return data_; }
    const T* end() const { return data_ + size_; }
    T& operator[](std::size_t k) { return data_[k]; }
    const T& operator[](std::size_t k) const { return data_[k]; }

private:
    T* data_ = nullptr;
    std::size_t size_ = 0;
};

class CellGrid {
public:
    // Enters item k of `ranges` in every cell of ranges[k], skipping empty ranges. Items whose
    // range is oversized, or that would push the grid past kMaxTotalEntries, are not entered and
    // are appended to `oversized` in item order. `stop` is polled now and then while building;
    // when it returns true the build is abandoned and build() returns false. With an allowance,
    // the grid's tables are taken from it, held until the next build, and a build they would
    // not fit in returns false as well.
    template <class Stop>
    bool build(std::span<const CellRange> ranges, std::vector<std::uint32_t>& oversized, Stop&& stop,
               MemoryAllowance* allowance = nullptr);

    std::span<const std::uint32_t> items(GridCellKey key) const { return items(key.x, key.y); }
    std::span<const std::uint32_t> items(std::int64_t x, std::int64_t y) const {
        if (dense_) {
            if (x < x0_ || x > x1_ || y < y0_ || y > y1_) return {};
            const std::size_t k = static_cast<std::size_t>(x - x0_) * height_ + static_cast<std::size_t>(y - y0_);
            return std::span<const std::uint32_t>(lists_.data() + offsets_[k], offsets_[k + 1] - offsets_[k]);
        }
        const Slot* s = find(x, y);
        if (!s) return {};
        return std::span<const std::uint32_t>(lists_.data() + s->begin, s->count);
    }

private:
    struct Slot {
        std::int64_t x = 0;
        std::int64_t y = 0;
        std::uint32_t begin = 0;
        std::uint32_t count = 0;
        bool occupied = false;
    };
    static std::uint64_t hashKey(std::int64_t x, std::int64_t y) {
        std::uint64_t h = static_cast<std::uint64_t>(x) * 0x9E3779B97F4A7C15ULL;
        h ^= static_cast<std::uint64_t>(y) + 0x632BE59BD9B4E019ULL + (h << 6) + (h >> 2);
        h ^= h >> 29;
        h *= 0xBF58476D1CE4E5B9ULL;
        h ^= h >> 32;
        return h;
    }
    // Inserts when absent; the table, made for every entry, always has room.
    Slot& slotFor(std::int64_t x, std::int64_t y);
    const Slot* find(std::int64_t x, std::int64_t y) const;
    // A table for up to `cells` cells; false when the allowance cannot hold it.
    bool reset(std::size_t cells);
    // The per-cell counter of the current mode, inserting the cell when hashed.
    std::uint32_t& counter(std::int64_t x, std::int64_t y) {
        if (dense_)
            return offsets_[static_cast<std::size_t>(x - x0_) * height_ + static_cast<std::size_t>(y - y0_) + 1];
        return slotFor(x, y).count;
    }

    // Dense mode: one offset per cell of the occupied extent, used when that extent is small.
    bool dense_ = false;
    std::int64_t x0_ = 0, x1_ = -1, y0_ = 0, y1_ = -1;
    std::size_t height_ = 0;
    ZeroedArray<std::uint32_t> offsets_;
    // Hashed mode: open addressing over the occupied cells.
    ZeroedArray<Slot> slots_;
    std::size_t used_ = 0;
    std::vector<std::uint32_t> lists_;
    AllowanceHold hold_;  // what the tables above take of the build's allowance
};

template <class Stop>
bool CellGrid::build(std::span<const CellRange> ranges, std::vector<std::uint32_t>& oversized, Stop&& stop,
                     MemoryAllowance* allowance) {
    oversized.clear();
    lists_ = {};
    offsets_.clear();
    slots_.clear();
    used_ = 0;
    hold_ = allowance ? AllowanceHold(*allowance) : AllowanceHold();
    // Which items are entered, within `most` entries, and the extent of the cells they occupy.
    std::vector<std::uint8_t> entered(ranges.size(), 0);
    std::int64_t total = 0;
    const auto select = [&](std::int64_t most) {
        oversized.clear();
        total = 0;
        x0_ = y0_ = kCellIndexLimit;
        x1_ = y1_ = -kCellIndexLimit;
        for (std::size_t k = 0; k < ranges.size(); ++k) {
            const CellRange& r = ranges[k];
            entered[k] = 0;
            if (r.isEmpty()) continue;
            const std::int64_t n = r.cellCount();
            if (n > kMaxCellsPerItem || total + n > most) {
                oversized.push_back(static_cast<std::uint32_t>(k));
                continue;
            }
            entered[k] = 1;
            total += n;
            x0_ = std::min(x0_, r.x0);
            x1_ = std::max(x1_, r.x1);
            y0_ = std::min(y0_, r.y0);
            y1_ = std::max(y1_, r.y1);
        }
    };
    // The cells of the occupied extent, when few enough for one offset each.
    const auto denseCells = [&]() -> std::optional<std::size_t> {
        const double w = static_cast<double>(x1_ - x0_ + 1);
        const double h = static_cast<double>(y1_ - y0_ + 1);
        if (total > 0 && w * h <= std::min(4.0 * static_cast<double>(total) + 65536.0, 16777216.0))
            return static_cast<std::size_t>(w * h);
        return std::nullopt;
    };
    select(kMaxTotalEntries);
    // Each entry of a hashed grid costs a random place in a large table: sparse copper, spread over
    // far more cells than it fills, enters at most a few per item, the rest being oversized.
    if (!denseCells())
        select(std::min(kMaxTotalEntries, kHashedEntriesPerItem * static_cast<std::int64_t>(ranges.size()) + kMaxCellsPerItem));
    const std::optional<std::size_t> cells = denseCells();
    dense_ = cells.has_value();
    if (dense_) {
        height_ = static_cast<std::size_t>(y1_ - y0_ + 1);
        if (!hold_.takeFor<std::uint32_t>(*cells + 1) || !offsets_.allocate(*cells + 1)) return false;
    } else if (!reset(static_cast<std::size_t>(total))) {
        return false;
    }

    std::uint32_t sincePoll = 0;
    // A hashed entry may be the first touch of a page of the table, which a loaded system takes
    // tens of microseconds to give: those are counted in fewer to a poll.
    const std::uint32_t entriesPerPoll = dense_ ? 4096 : 256;
    // First pass: count the entries of each cell.
    for (std::size_t k = 0; k < ranges.size(); ++k) {
        if (!entered[k]) continue;
        const CellRange& r = ranges[k];
        for (std::int64_t x = r.x0; x <= r.x1; ++x)
            for (std::int64_t y = r.y0; y <= r.y1; ++y) {
                counter(x, y) += 1;
                if (++sincePoll >= entriesPerPoll) {
                    sincePoll = 0;
                    if (stop()) return false;
                }
            }
    }
    // Offsets, then a second pass that places the items; item order within a cell is entry order.
    std::vector<std::uint32_t> fill;
    if (!hold_.takeFor<std::uint32_t>(static_cast<std::size_t>(total))) return false;
    if (dense_) {
        for (std::size_t k = 1; k < offsets_.size(); ++k) offsets_[k] += offsets_[k - 1];
        if (!hold_.takeFor<std::uint32_t>(offsets_.size())) return false;  // the fill positions
        fill.assign(offsets_.begin(), offsets_.end() - 1);
        lists_.resize(offsets_[offsets_.size() - 1]);
    } else {
        std::uint32_t offset = 0;
        for (Slot& s : slots_) {
            if (!s.occupied) continue;
            s.begin = offset;
            offset += s.count;
            s.count = 0;
        }
        lists_.resize(offset);
    }
    for (std::size_t k = 0; k < ranges.size(); ++k) {
        if (!entered[k]) continue;
        const CellRange& r = ranges[k];
        for (std::int64_t x = r.x0; x <= r.x1; ++x)
            for (std::int64_t y = r.y0; y <= r.y1; ++y) {
                if (dense_) {
                    const std::size_t c = static_cast<std::size_t>(x - x0_) * height_ + static_cast<std::size_t>(y - y0_);
                    lists_[fill[c]++] = static_cast<std::uint32_t>(k);
                } else {
                    Slot& s = slotFor(x, y);
                    lists_[s.begin + s.count] = static_cast<std::uint32_t>(k);
                    s.count += 1;
                }
                if (++sincePoll >= entriesPerPoll) {
                    sincePoll = 0;
                    if (stop()) return false;
                }
            }
    }
    if (dense_) hold_.giveBack(offsets_.size() * sizeof(std::uint32_t));  // the fill positions, freed now
    return true;
}

// How many cells and items a window walk takes between two polls of its stop condition: windows
// can cover tens of thousands of empty cells, so polling per item alone would not bound the walk.
inline constexpr std::uint32_t kStepsPerPoll = 4096;

// The steps of a caller's window walks since it last asked its stop condition. A caller that walks
// many small windows, none kStepsPerPoll long, keeps one across them so that it still polls.
class Poll {
public:
    template <class Stop> bool step(Stop&& stop) { return advance(1, stop); }
    // The same for work worth `steps` steps at once.
    template <class Stop> bool advance(std::size_t steps, Stop&& stop) {
        if (steps < kStepsPerPoll - steps_) {
            steps_ += static_cast<std::uint32_t>(steps);
            return false;
        }
        steps_ = 0;
        return static_cast<bool>(stop());
    }

private:
    std::uint32_t steps_ = 0;
};

// Calls visit(k) for the items from `from` on listed in the cells of `window` (x outer, list
// order), then for the items on `oversized`; for every item from … itemCount − 1 instead when the
// window is too large to walk. Lists are in item order, so the items before `from` are skipped in
// one step per cell. An item listed in several cells is met each time (callers that care keep a
// marker). Returns true as soon as visit returns true or `stop`, polled every kStepsPerPoll steps
// counted on `poll`, does.
template <class Visit, class Stop>
bool walkWindow(const CellGrid& grid, std::span<const std::uint32_t> oversized, const CellRange& window,
                std::uint32_t itemCount, Visit&& visit, Stop&& stop, Poll& poll, std::uint32_t from = 0) {
    auto step = [&] { return poll.step(stop); };
    auto walk = [&](std::span<const std::uint32_t> items) {
        for (auto it = from == 0 ? items.begin() : std::lower_bound(items.begin(), items.end(), from); it != items.end(); ++it)
            if (visit(*it) || step()) return true;
        return false;
    };
    if (window.isOversized()) {
        for (std::uint32_t k = from; k < itemCount; ++k)
            if (visit(k) || step()) return true;
        return false;
    }
    for (std::int64_t x = window.x0; x <= window.x1; ++x)
        for (std::int64_t y = window.y0; y <= window.y1; ++y)
            if (step() || walk(grid.items(x, y))) return true;
    return walk(oversized);
}

// One walk on its own, counting from nothing.
template <class Visit, class Stop>
bool walkWindow(const CellGrid& grid, std::span<const std::uint32_t> oversized, const CellRange& window,
                std::uint32_t itemCount, Visit&& visit, Stop&& stop) {
    Poll poll;
    return walkWindow(grid, oversized, window, itemCount, std::forward<Visit>(visit), std::forward<Stop>(stop), poll);
}

} // namespace grid
} // namespace corvane

template <> struct std::hash<corvane::GridCellKey> {
    std::size_t operator()(const corvane::GridCellKey& k) const noexcept {
        std::size_t s = 0;
        corvane::hashCombineValue(s, k.x);
        corvane::hashCombineValue(s, k.y);
        return s;
    }
};
