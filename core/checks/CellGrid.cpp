#include "CellGrid.hpp"

namespace corvane::grid {

void CellGrid::reset(std::size_t expectedCells) {
    std::size_t cap = 16;
    while (cap < expectedCells * 2 && cap < (std::size_t{1} << 30)) cap <<= 1;
    slots_.assign(cap, Slot{});
    used_ = 0;
}

void CellGrid::grow() {
    std::vector<Slot> old;
    old.swap(slots_);
    slots_.assign(old.size() * 2, Slot{});
    const std::size_t mask = slots_.size() - 1;
    for (const Slot& s : old) {
        if (!s.occupied) continue;
        std::size_t i = static_cast<std::size_t>(hashKey(s.x, s.y)) & mask;
        while (slots_[i].occupied) i = (i + 1) & mask;
        slots_[i] = s;
    }
}

CellGrid::Slot& CellGrid::slotFor(std::int64_t x, std::int64_t y) {
    if ((used_ + 1) * 2 > slots_.size()) grow();
    const std::size_t mask = slots_.size() - 1;
    std::size_t i = static_cast<std::size_t>(hashKey(x, y)) & mask;
    while (slots_[i].occupied) {
        if (slots_[i].x == x && slots_[i].y == y) return slots_[i];
        i = (i + 1) & mask;
    }
    Slot& s = slots_[i];
    s.x = x;
    s.y = y;
    s.occupied = true;
    ++used_;
    return s;
}

const CellGrid::Slot* CellGrid::find(std::int64_t x, std::int64_t y) const {
    if (slots_.empty()) return nullptr;
    const std::size_t mask = slots_.size() - 1;
    std::size_t i = static_cast<std::size_t>(hashKey(x, y)) & mask;
    while (slots_[i].occupied) {
        const Slot& s = slots_[i];
        if (s.x == x && s.y == y) return &s;
        i = (i + 1) & mask;
    }
    return nullptr;
}

} // namespace corvane::grid
