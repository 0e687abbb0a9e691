// A hash grid over points, the index behind vertex_set.
//
// Cells are cubes whose width w is the smallest power of two not below the grid's radius. Cell
// coordinates per axis are floor(x / w), computed exactly (dividing by a power of two is exact),
// so the cell function is monotone in x, and a point within r <= w of v has a cell coordinate
// within one of v's (the exact quotients differ by less than 1). The keys of fl(v - r) and
// fl(v + r) bound the candidates' keys too (every double within r of v lies between those two
// doubles, and the key is monotone), which narrows the range to two cells per axis whenever
// 2r < w. Floating point at cell borders therefore never hides a point in range.
//
// Coordinates so large that x / w is 2^62 or more (or overflows) are keyed by their exact bit
// pattern instead: there ulp(x) >= 2^10 w > 2r, so a point within r of x is x itself, and no pair
// of points within r straddles the border between the two kinds of keys.
//
// A radius that is infinite, or so large that no power of two covers it, puts every point in one
// cell. Only finite points are ever filed or searched for.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "geometry/point.hpp"

namespace weldrix {

class vertex_grid {
public:
    static constexpr std::uint32_t none = 0xffffffffu;

    // radius > 0 (may be infinite).
    explicit vertex_grid(double radius);

    double radius() const { return radius_; }

    // Files point id (ids are small integers, any order) at finite position p.
    void insert(std::uint32_t id, const point& p);
    // Unfiles id, which was filed at position p.
    void erase(std::uint32_t id, const point& p);

    // Whether two finite positions fall in the same cell.
    bool same_cell(const point& p, const point& q) const { return cell_of(p) == cell_of(q); }

    // Calls visit(id) for every filed point that may lie closer than r to v, and possibly for
    // others; never misses one. v finite, 0 < r <= radius(). No particular order.
    template <class Visit>
    void for_each_near(const point& v, double r, Visit&& visit) const;

private:
    struct axis_key {
        std::int64_t value;
        bool raw;  // value holds the bits of the coordinate itself
        bool operator==(const axis_key& o) const { return value == o.value && raw == o.raw; }
    };
    struct cell_key {
        axis_key k[3];
        bool operator==(const cell_key& o) const { return k[0] == o.k[0] && k[1] == o.k[1] && k[2] == o.k[2]; }
    };
    struct slot {
        cell_key key;
        std::uint32_t head;  // first id of the cell's chain, none when the cell is empty
        bool used;
    };

    axis_key key_of(double x) const;
    cell_key cell_of(const point& p) const { return {{key_of(p.x), key_of(p.y), key_of(p.z)}}; }
    static std::uint64_t hash(const cell_key& key);
    std::size_t find_slot(const cell_key& key) const;  // slot holding key, or the unused slot for it
    const slot* find_cell(const cell_key& key) const;  // null when absent or empty
    void grow();

    double radius_;
    bool single_cell_ = false;
    int exponent_ = 0;  // cell width is 2^exponent_
    std::vector<slot> slots_;
    std::size_t used_slots_ = 0;
    std::vector<std::uint32_t> next_;  // chain links, indexed by id
};

inline vertex_grid::axis_key vertex_grid::key_of(double x) const {
    if (single_cell_) return {0, false};
    constexpr double limit = 4611686018427387904.0;  // 2^62
    const double q = std::ldexp(x, -exponent_);     // exact unless it overflows or is subnormal
    if (q > -limit && q < limit) return {static_cast<std::int64_t>(std::floor(q)), false};
    std::int64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    return {bits, true};
}

template <class Visit>
void vertex_grid::for_each_near(const point& v, double r, Visit&& visit) const {
    if (used_slots_ == 0) return;
    axis_key lo[3], hi[3];
    const double coordinate[3] = {v.x, v.y, v.z};
    for (int a = 0; a < 3; ++a) {
        const axis_key own = key_of(coordinate[a]);
        if (own.raw) {
            lo[a] = hi[a] = own;
            continue;
        }
        const axis_key l = key_of(coordinate[a] - r), h = key_of(coordinate[a] + r);
        lo[a] = {l.raw || l.value < own.value - 1 ? own.value - 1 : l.value, false};
        hi[a] = {h.raw || h.value > own.value + 1 ? own.value + 1 : h.value, false};
    }
    cell_key key;
    for (key.k[0] = lo[0]; key.k[0].value <= hi[0].value; ++key.k[0].value) {
        for (key.k[1] = lo[1]; key.k[1].value <= hi[1].value; ++key.k[1].value) {
            for (key.k[2] = lo[2]; key.k[2].value <= hi[2].value; ++key.k[2].value) {
                if (const slot* s = find_cell(key)) {
                    for (std::uint32_t id = s->head; id != none; id = next_[id]) visit(id);
                }
                if (key.k[2].raw) break;
            }
            if (key.k[1].raw) break;
        }
        if (key.k[0].raw) break;
    }
}

}  // namespace weldrix
