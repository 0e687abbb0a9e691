#include "document/vertex_grid.hpp"

#include <limits>

namespace weldrix {

vertex_grid::vertex_grid(double radius) : radius_(radius) {
    if (!(radius <= 0x1p1000)) {  // infinite or beyond any cell width worth having
        single_cell_ = true;
    } else {
        const double width = 2 * radius;
        int exponent = std::ilogb(width);
        if (std::ldexp(1.0, exponent) < width) ++exponent;
        // 1 / w = 2^-exponent, with exponent in [-1073, 1001]: one factor when it is a double,
        // else two whose product is exact or overflows exactly when the quotient does.
        if (exponent >= -1000) {
            scale_[0] = std::ldexp(1.0, -exponent);
        } else {
            scale_[0] = 0x1p1000;
            scale_[1] = std::ldexp(1.0, -exponent - 1000);
        }
    }
    slots_.resize(64, 0);
}

double vertex_grid::cell_width() const {
    if (single_cell_) return std::numeric_limits<double>::infinity();
    return 1.0 / scale_[0] / scale_[1];
}

void vertex_grid::grow() {
    std::vector<std::uint64_t> old(slots_.size() * 2, 0);
    old.swap(slots_);
    const std::size_t mask = slots_.size() - 1;
    for (std::uint32_t c = 0; c < cells_.size(); ++c) {
        const std::uint64_t h = hash(cells_[c].key);
        std::size_t i = h & mask;
        while (slots_[i] != 0) i = (i + 1) & mask;
        slots_[i] = (h >> 32 << 32) | (static_cast<std::uint64_t>(c) + 1);
    }
}

void vertex_grid::insert(std::uint32_t id, const point& p) {
    if (next_.size() <= id) next_.resize(std::max<std::size_t>(id + 1, next_.size() * 2), none);
    const cell_key key = cell_of(p);
    const std::uint64_t h = hash(key);
    std::uint32_t c = find_cell(key, h);
    if (c == none) {
        // Cells stay in the table when they empty, so the table only grows here; at most half
        // of its slots are taken.
        if ((cells_.size() + 1) * 2 > slots_.size()) grow();
        const std::size_t mask = slots_.size() - 1;
        std::size_t i = h & mask;
        while (slots_[i] != 0) i = (i + 1) & mask;
        c = static_cast<std::uint32_t>(cells_.size());
        cells_.push_back({key, none});
        slots_[i] = (h >> 32 << 32) | (static_cast<std::uint64_t>(c) + 1);
    }
    next_[id] = cells_[c].head;
    cells_[c].head = id;
}

void vertex_grid::erase(std::uint32_t id, const point& p) {
    const cell_key key = cell_of(p);
    const std::uint32_t c = find_cell(key, hash(key));
    if (c == none) return;
    std::uint32_t* link = &cells_[c].head;
    while (*link != none && *link != id) link = &next_[*link];
    if (*link == none) return;
    *link = next_[id];
    next_[id] = none;
}

}  // namespace weldrix
