#include "geometry/vertex_grid.hpp"

#include <algorithm>
#include <limits>

namespace weldrix {

vertex_grid::vertex_grid(double radius) : radius_(radius) {
    assert(radius > 0);
    if (!(radius <= 0x1p1000)) {  // infinite or beyond any cell width worth having
        single_cell_ = true;
    } else {
        const double width = 4 * radius;
        int exponent = std::ilogb(width);
        if (std::ldexp(1.0, exponent) < width) ++exponent;
        // 1 / w = 2^-exponent, with exponent in [-1072, 1002]: one factor when it is a double,
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

bool vertex_grid::filing::operator==(const filing& o) const {
    return lo[0] == o.lo[0] && lo[1] == o.lo[1] && lo[2] == o.lo[2] && span[0] == o.span[0] && span[1] == o.span[1] &&
           span[2] == o.span[2] && raw == o.raw;
}

vertex_grid::filing vertex_grid::filing_of(const point& p) const {
    filing f;
    f.raw = 0;
    const double coordinate[3] = {p.x, p.y, p.z};
    for (int a = 0; a < 3; ++a) {
        bool own_raw, l_raw, h_raw;
        const std::int64_t l = axis_key(coordinate[a] - radius_, l_raw);
        const std::int64_t h = axis_key(coordinate[a] + radius_, h_raw);
        if (!l_raw && !h_raw && h - l <= 1) {
            // The common case: the own key lies between l and h, so the clamp to it +-1 changes
            // nothing.
            f.lo[a] = l;
            f.span[a] = static_cast<std::uint8_t>(h - l);
            continue;
        }
        const std::int64_t own = axis_key(coordinate[a], own_raw);
        if (own_raw) {
            f.lo[a] = own;
            f.span[a] = 0;
            f.raw = static_cast<std::uint8_t>(f.raw | 1u << a);
            continue;
        }
        f.lo[a] = l_raw || l < own - 1 ? own - 1 : l;
        f.span[a] = static_cast<std::uint8_t>((h_raw || h > own + 1 ? own + 1 : h) - f.lo[a]);
    }
    return f;
}

template <class Each>
void vertex_grid::for_each_cell(const filing& f, Each&& each) {
    cell_key key;
    key.raw = f.raw;
    for (int i = 0; i <= f.span[0]; ++i) {
        key.k[0] = f.lo[0] + i;
        for (int j = 0; j <= f.span[1]; ++j) {
            key.k[1] = f.lo[1] + j;
            for (int k = 0; k <= f.span[2]; ++k) {
                key.k[2] = f.lo[2] + k;
                each(key);
            }
        }
    }
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

std::uint32_t vertex_grid::find_or_add_cell(const cell_key& key) {
    const std::uint64_t h = hash(key);
    const std::uint32_t found = find_cell(key, h);
    if (found != none) return found;
    // At most half of the slots are taken.
    if ((cells_.size() + 1) * 2 > slots_.size()) grow();
    const std::size_t mask = slots_.size() - 1;
    std::size_t i = h & mask;
    while (slots_[i] != 0) i = (i + 1) & mask;
    const auto c = static_cast<std::uint32_t>(cells_.size());
    cells_.push_back({key, none, none});
    slots_[i] = (h >> 32 << 32) | (static_cast<std::uint64_t>(c) + 1);
    return c;
}

void vertex_grid::insert(std::uint32_t id, const point& p, bool movable) {
    assert(id != none);
    const filing f = filing_of(p);
    if (movable) {
        if (filings_.size() <= id) filings_.resize(std::max<std::size_t>(id + 1, filings_.size() * 2));
        filings_[id] = f;
    }
    file(id, f);
}

void vertex_grid::move(std::uint32_t id, const point& p) {
    assert(id < filings_.size());
    const filing f = filing_of(p);
    if (f == filings_[id]) return;
    unfile(id, filings_[id]);
    filings_[id] = f;
    file(id, f);
}

void vertex_grid::erase(std::uint32_t id) {
    assert(id < filings_.size());
    unfile(id, filings_[id]);
}

void vertex_grid::file(std::uint32_t id, const filing& f) {
    for_each_cell(f, [&](const cell_key& key) {
        cell& c = cells_[find_or_add_cell(key)];
        if (c.first == none) {
            c.first = id;
            return;
        }
        std::uint32_t l = free_links_;
        if (l != none) {
            free_links_ = links_[l].next;
        } else {
            l = static_cast<std::uint32_t>(links_.size());
            links_.emplace_back();
        }
        links_[l] = {id, c.more};
        c.more = l;
    });
}

void vertex_grid::unfile(std::uint32_t id, const filing& f) {
    for_each_cell(f, [&](const cell_key& key) {
        const std::uint32_t found = find_cell(key, hash(key));
        if (found == none) return;
        cell& c = cells_[found];
        std::uint32_t* link_to = &c.more;
        if (c.first == id) {
            // The first of the others, if any, takes its place.
            if (c.more == none) {
                c.first = none;
                return;
            }
            c.first = links_[c.more].id;
        } else {
            while (*link_to != none && links_[*link_to].id != id) link_to = &links_[*link_to].next;
            if (*link_to == none) return;
        }
        const std::uint32_t l = *link_to;
        *link_to = links_[l].next;
        links_[l].next = free_links_;
        free_links_ = l;
    });
}

}  // namespace weldrix
