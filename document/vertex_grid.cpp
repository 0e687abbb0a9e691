#include "document/vertex_grid.hpp"

#include <algorithm>

namespace weldrix {

vertex_grid::vertex_grid(double radius) : radius_(radius) {
    if (!(radius <= 0x1p1000)) {  // infinite or beyond any cell width worth having
        single_cell_ = true;
    } else {
        exponent_ = std::ilogb(radius);
        if (std::ldexp(1.0, exponent_) < radius) ++exponent_;
    }
    slots_.resize(64);
}

std::uint64_t vertex_grid::hash(const cell_key& key) {
    std::uint64_t h = 0x9e3779b97f4a7c15ull;
    for (const axis_key& k : key.k) {
        h ^= static_cast<std::uint64_t>(k.value) + (k.raw ? 0x632be59bd9b4e019ull : 0);
        h *= 0xbf58476d1ce4e5b9ull;
        h ^= h >> 29;
    }
    return h;
}

std::size_t vertex_grid::find_slot(const cell_key& key) const {
    const std::size_t mask = slots_.size() - 1;
    std::size_t i = hash(key) & mask;
    while (slots_[i].used && !(slots_[i].key == key)) i = (i + 1) & mask;
    return i;
}

const vertex_grid::slot* vertex_grid::find_cell(const cell_key& key) const {
    const slot& s = slots_[find_slot(key)];
    return s.used && s.head != none ? &s : nullptr;
}

void vertex_grid::grow() {
    std::vector<slot> old(slots_.size() * 2);
    old.swap(slots_);
    for (const slot& s : old) {
        if (s.used) slots_[find_slot(s.key)] = s;
    }
}

void vertex_grid::insert(std::uint32_t id, const point& p) {
    if (next_.size() <= id) next_.resize(std::max<std::size_t>(id + 1, next_.size() * 2), none);
    const cell_key key = cell_of(p);
    std::size_t i = find_slot(key);
    if (!slots_[i].used) {
        // Cells stay in the table when they empty, so a table at half load only grows here.
        if ((used_slots_ + 1) * 2 > slots_.size()) {
            grow();
            i = find_slot(key);
        }
        slots_[i] = {key, none, true};
        ++used_slots_;
    }
    next_[id] = slots_[i].head;
    slots_[i].head = id;
}

void vertex_grid::erase(std::uint32_t id, const point& p) {
    slot& s = slots_[find_slot(cell_of(p))];
    std::uint32_t* link = &s.head;
    while (*link != none && *link != id) link = &next_[*link];
    if (*link == none) return;
    *link = next_[id];
    next_[id] = none;
}

}  // namespace weldrix
