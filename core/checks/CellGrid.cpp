#include "CellGrid.hpp"

namespace corvane::grid {

bool CellGrid::reset(std::size_t cells) {
    std::size_t cap = 16;
    while (cap < cells * 2) cap <<= 1;
    used_ = 0;
    return hold_.takeFor<Slot>(cap) && slots_.allocate(cap);
}

CellGrid::Slot& CellGrid::slotFor(std::int64_t x, std::int64_t y) {
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
