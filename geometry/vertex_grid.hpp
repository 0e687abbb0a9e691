// A hash grid over points, the index behind vertex_set.
//
// Each point is filed in every cell that a query of radius up to the grid's radius R could need
// it in, so that a query looks up one cell only: its own. (Queries far outnumber points and
// their moves, and a lookup of a neighbour cell that is mostly empty costs a cache miss.)
//
// Cells are cubes whose width w is the smallest power of two not below 4R: a point is filed in
// at most two cells per axis, and in about two cells in all when points are sparse. Cell
// coordinates per axis are floor(x / w + 1/2): the cells are centred on the multiples of w, as
// coordinates on a grid of integers, halves or quarters would otherwise all lie on cell borders
// and be filed in eight cells each. x / w is computed as x times powers of two: exact unless it
// overflows or falls in the subnormal range, and correctly rounded like ldexp in every case; the
// half is added exactly while |x / w| < 2^52 and with rounding beyond. Every step is monotone,
// so the cell function is monotone in x.
//
// Why a query never misses a point in range. Let v be closer than r <= R to a filed point p, by
// the distance as computed: fl(|dz|) + fl(|dy|) + fl(|dx|) summed with rounding. Each term is at
// most the sum, so fl(|p.x - v.x|) < R, hence |p.x - v.x| < R exactly (rounding is monotone and
// R is a double), hence fl(p.x - R) <= v.x <= fl(p.x + R), and as the key is monotone, v's key
// lies between the keys of fl(p.x - R) and fl(p.x + R): the range p is filed over. That range is
// also clamped to p's own key +-1, which loses nothing: while |x / w| < 2^52 and x / w is not
// subnormal, the shifted quotients of points less than R < w apart are exact and differ by less
// than 1; beyond 2^52, ulp(x) >= w > R, so a point within R has the same x; subnormal quotients
// all give the key 0.
//
// Coordinates so large that x / w is 2^62 or more (or overflows) are keyed by their exact bit
// pattern instead: there ulp(x) >= 2^10 w > 2R, so a point within R of x is x itself, and no pair
// of points within R straddles the border between the two kinds of keys. Such a coordinate is
// filed under its own key only.
//
// A radius that is infinite, or so large that no power of two covers it, puts every point in one
// cell. Only finite points are ever filed or searched for.
//
// The table is open addressing over 8-byte slots (a tag of the hash and the cell's number); the
// cells themselves, in a separate array, hold their first point inline and the others in a
// shared pool of links. Cells are never removed: a point that moves leaves its old cells empty.
#pragma once

#include <cassert>
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

    // Files point id (any 32-bit number but none, not filed yet) at finite position p. Only a
    // movable point may be moved or unfiled later; the grid keeps no record of where the others
    // are filed, which saves memory on the many points that never move (inlined snap targets).
    void insert(std::uint32_t id, const point& p, bool movable = true);
    // Files the movable filed point id at its new finite position p.
    void move(std::uint32_t id, const point& p);
    // Unfiles the movable filed point id.
    void erase(std::uint32_t id);

    // Whether the table has run out of 32-bit cell or link numbers for another insert or move
    // (after some 500 million points or moves: the owner then stops using the grid).
    bool full() const { return cells_.size() >= full_size || links_.size() >= full_size; }

    // Calls visit(id) for every filed point that may lie closer than r to v, and possibly for
    // others; never misses one, never repeats one. v finite, 0 < r <= radius(). No particular
    // order. Returns the number of v's cell, none when it has none. `hint` may give that number
    // (as returned for an earlier query at the same place), which saves the table lookup; it is
    // checked, so any value is safe.
    template <class Visit>
    std::uint32_t for_each_near(const point& v, double r, Visit&& visit, std::uint32_t hint = none) const;

    // The number of v's cell, none when it has none (v finite).
    std::uint32_t cell_number(const point& v) const;

private:
    // One insert or move adds at most 27 cells and links.
    static constexpr std::size_t full_size = none - 64;

    struct cell_key {
        std::int64_t k[3];
        std::uint32_t raw;  // bit a set: k[a] holds the bits of the coordinate itself
        bool operator==(const cell_key& o) const {
            return k[0] == o.k[0] && k[1] == o.k[1] && k[2] == o.k[2] && raw == o.raw;
        }
    };
    struct cell {
        cell_key key;
        std::uint32_t first;  // a point filed here, or none
        std::uint32_t more;   // links_ index of the others, or none
    };
    struct link {
        std::uint32_t id;
        std::uint32_t next;  // links_ index, or none
    };
    // The cells a point is filed in: keys lo[a] to lo[a] + span[a] on each axis (span 0 to 2).
    struct filing {
        std::int64_t lo[3];
        std::uint8_t span[3];
        std::uint8_t raw;
        bool operator==(const filing& o) const;
    };

    // Key of coordinate x on one axis; sets raw when it is the coordinate's bits.
    std::int64_t axis_key(double x, bool& raw) const;
    cell_key cell_of(const point& p) const;
    filing filing_of(const point& p) const;
    template <class Each>
    static void for_each_cell(const filing& f, Each&& each);
    void file(std::uint32_t id, const filing& f);
    void unfile(std::uint32_t id, const filing& f);
    static std::uint64_t hash(const cell_key& key);
    // Index of the cell with this key in cells_, or none.
    std::uint32_t find_cell(const cell_key& key, std::uint64_t h) const;
    std::uint32_t find_or_add_cell(const cell_key& key);
    void grow();

    double radius_;
    bool single_cell_ = false;
    // x / w is computed as x * scale_[0] * scale_[1]: one factor for a wide cell, two when
    // 1 / w is too large for one double.
    double scale_[2] = {1.0, 1.0};
    std::vector<std::uint64_t> slots_;  // 0: free; else tag << 32 | (cell index + 1)
    std::vector<cell> cells_;
    std::vector<link> links_;
    std::uint32_t free_links_ = none;  // chain of unused links_ entries
    std::vector<filing> filings_;      // per id, where it is filed
};

// floor(q) for |q| < 2^63, as an integer. (std::floor is a library call on x86-64.) The
// truncation is exact: below 2^52 it has at most 53 bits, above q is an integer itself.
inline std::int64_t floor_to_int(double q) {
    const auto t = static_cast<std::int64_t>(q);
    return static_cast<double>(t) > q ? t - 1 : t;
}

inline std::int64_t vertex_grid::axis_key(double x, bool& raw) const {
    raw = false;
    if (single_cell_) return 0;
    constexpr double limit = 4611686018427387904.0;  // 2^62
    const double q = x * scale_[0] * scale_[1];
    if (q > -limit && q < limit) return floor_to_int(q + 0.5);
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

inline std::uint32_t vertex_grid::cell_number(const point& v) const {
    const cell_key key = cell_of(v);
    return find_cell(key, hash(key));
}

template <class Visit>
std::uint32_t vertex_grid::for_each_near(const point& v, [[maybe_unused]] double r, Visit&& visit,
                                         std::uint32_t hint) const {
    assert(r > 0 && r <= radius_);
    const cell_key key = cell_of(v);
    const std::uint32_t c = hint < cells_.size() && cells_[hint].key == key ? hint : find_cell(key, hash(key));
    if (c == none) return none;
    if (cells_[c].first != none) visit(cells_[c].first);
    for (std::uint32_t l = cells_[c].more; l != none; l = links_[l].next) visit(links_[l].id);
    return c;
}

}  // namespace weldrix
