// A hash grid over points, the index behind vertex_set.
//
// Cells are cubes whose width w is the smallest power of two not below twice the grid's radius,
// so that a query of radius r <= radius touches at most two cells per axis (in the rare case
// where rounding widens [v - r, v + r] past a second border, three). Cell coordinates per axis
// are floor(x / w), with x / w computed as x times powers of two: exact unless it overflows or
// falls in the subnormal range, and correctly rounded like ldexp in every case, so the cell
// function is monotone in x. A point within r <= w of v has a cell coordinate within one of v's
// (where x / w is exact, the quotients differ by less than 1; where it is subnormal both keys are
// -1 or 0, and the doubles near the -1/0 border are spaced far wider than that range). The keys
// of fl(v - r) and fl(v + r) bound the candidates' keys too: a candidate p counted as closer than
// r has fl(|p.x - v.x|) < r, hence |p.x - v.x| < r exactly, hence fl(v.x - r) <= p.x <=
// fl(v.x + r) as rounding is monotone, and so is the key. Floating point at cell borders
// therefore never hides a point in range.
//
// Coordinates so large that x / w is 2^62 or more (or overflows) are keyed by their exact bit
// pattern instead: there ulp(x) >= 2^10 w > 2r, so a point within r of x is x itself, and no pair
// of points within r straddles the border between the two kinds of keys.
//
// A radius that is infinite, or so large that no power of two covers it, puts every point in one
// cell. Only finite points are ever filed or searched for.
//
// The table is open addressing over 8-byte slots (a tag of the hash and the cell's number), the
// cells themselves in a separate array: most lookups are for empty neighbour cells and end after
// touching one slot, which keeps the table small enough to stay in cache.
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
    // The width of a cell; infinite when every point shares one cell.
    double cell_width() const;

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
    struct cell_key {
        std::int64_t k[3];
        unsigned raw;  // bit a set: k[a] holds the bits of the coordinate itself
        bool operator==(const cell_key& o) const {
            return k[0] == o.k[0] && k[1] == o.k[1] && k[2] == o.k[2] && raw == o.raw;
        }
    };
    struct cell {
        cell_key key;
        std::uint32_t head;  // first id of the cell's chain, none when the cell is empty
    };

    // Key of coordinate x on one axis; sets raw when it is the coordinate's bits.
    std::int64_t axis_key(double x, bool& raw) const;
    cell_key cell_of(const point& p) const;
    static std::uint64_t hash(const cell_key& key);
    // Index of the cell with this key in cells_, or none.
    std::uint32_t find_cell(const cell_key& key, std::uint64_t h) const;
    void grow();

    double radius_;
    bool single_cell_ = false;
    // x / w is computed as x * scale_[0] * scale_[1]: one factor for a wide cell, two when
    // 1 / w is too large for one double.
    double scale_[2] = {1.0, 1.0};
    std::vector<std::uint64_t> slots_;  // 0: free; else tag << 32 | (cell index + 1)
    std::vector<cell> cells_;
    std::vector<std::uint32_t> next_;  // chain links, indexed by id
};

inline std::int64_t vertex_grid::axis_key(double x, bool& raw) const {
    raw = false;
    if (single_cell_) return 0;
    constexpr double limit = 4611686018427387904.0;  // 2^62
    const double q = x * scale_[0] * scale_[1];
    if (q > -limit && q < limit) return static_cast<std::int64_t>(std::floor(q));
    raw = true;
    std::int64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    return bits;
}

inline vertex_grid::cell_key vertex_grid::cell_of(const point& p) const {
    cell_key key;
    bool raw[3];
    key.k[0] = axis_key(p.x, raw[0]);
    key.k[1] = axis_key(p.y, raw[1]);
    key.k[2] = axis_key(p.z, raw[2]);
    key.raw = (raw[0] ? 1u : 0u) | (raw[1] ? 2u : 0u) | (raw[2] ? 4u : 0u);
    return key;
}

inline std::uint64_t vertex_grid::hash(const cell_key& key) {
    std::uint64_t h = static_cast<std::uint64_t>(key.k[0]) * 0x9e3779b97f4a7c15ull;
    h ^= static_cast<std::uint64_t>(key.k[1]) * 0xc2b2ae3d27d4eb4full;
    h ^= static_cast<std::uint64_t>(key.k[2]) * 0x165667b19e3779f9ull;
    h ^= key.raw;
    h ^= h >> 32;
    h *= 0xbf58476d1ce4e5b9ull;
    h ^= h >> 29;
    return h;
}

inline std::uint32_t vertex_grid::find_cell(const cell_key& key, std::uint64_t h) const {
    const std::size_t mask = slots_.size() - 1;
    const std::uint64_t tag = h >> 32 << 32;
    for (std::size_t i = h & mask;; i = (i + 1) & mask) {
        const std::uint64_t s = slots_[i];
        if (s == 0) return none;
        if ((s & 0xffffffff00000000ull) == tag) {
            const auto index = static_cast<std::uint32_t>(s) - 1;
            if (cells_[index].key == key) return index;
        }
    }
}

template <class Visit>
void vertex_grid::for_each_near(const point& v, double r, Visit&& visit) const {
    if (cells_.empty()) return;
    std::int64_t lo[3], hi[3];
    unsigned raw = 0;
    const double coordinate[3] = {v.x, v.y, v.z};
    for (int a = 0; a < 3; ++a) {
        bool own_raw, l_raw, h_raw;
        const std::int64_t own = axis_key(coordinate[a], own_raw);
        if (own_raw) {
            lo[a] = hi[a] = own;
            raw |= 1u << a;
            continue;
        }
        const std::int64_t l = axis_key(coordinate[a] - r, l_raw), h = axis_key(coordinate[a] + r, h_raw);
        lo[a] = l_raw || l < own - 1 ? own - 1 : l;
        hi[a] = h_raw || h > own + 1 ? own + 1 : h;
    }
    cell_key key;
    key.raw = raw;
    for (key.k[0] = lo[0]; key.k[0] <= hi[0]; ++key.k[0]) {
        for (key.k[1] = lo[1]; key.k[1] <= hi[1]; ++key.k[1]) {
            for (key.k[2] = lo[2]; key.k[2] <= hi[2]; ++key.k[2]) {
                const std::uint32_t c = find_cell(key, hash(key));
                if (c == none) continue;
                for (std::uint32_t id = cells_[c].head; id != none; id = next_[id]) visit(id);
            }
        }
    }
}

}  // namespace weldrix
