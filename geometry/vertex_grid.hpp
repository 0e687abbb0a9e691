// A hash grid over points, the index behind vertex_set.
//
// Each point is filed in one cell, the cell of its own position; a query of radius r looks up
// every cell that the box of half-width r around it meets (one or two per axis, about 1.5 cells
// in all for the radii of unification). Filing a point once keeps the grid at 12 to 16 bytes a
// point (a million-vertex part has millions of representatives) and makes most moves of a
// representative that averages free: it stays in its cell.
//
// Cells are cubes whose width w is the smallest power of two not below 8R, R the grid's radius:
// the box of a query meets at most two cells per axis, and seldom more than one. Cell coordinates
// per axis are floor(x / w + 1/2): the cells are centred on the multiples of w, as coordinates on
// a grid of integers, halves or quarters would otherwise all lie on cell borders. x / w is
// computed as x times powers of two: exact unless it overflows or falls in the subnormal range,
// and correctly rounded like ldexp in every case; the half is added exactly while |x / w| < 2^52
// and with rounding beyond. Every step is monotone, so the cell function (the key) is monotone in
// x.
//
// Why a query never misses a point in range. Let p be closer than r <= R to the query v, by the
// distance as computed: fl(|dz|) + fl(|dy|) + fl(|dx|) summed with rounding. Each term is at most
// the sum, so fl(|p.x - v.x|) < r, hence |p.x - v.x| < r exactly (rounding is monotone and r is a
// double), hence fl(v.x - r) <= p.x <= fl(v.x + r), and as the key is monotone, p's key lies
// between the keys of fl(v.x - r) and fl(v.x + r): the range the query looks up. That range is
// also clamped to v's own key +-1, which loses nothing: while |x / w| < 2^52 and x / w is not
// subnormal, the shifted quotients of points less than r < w apart are exact and differ by less
// than 1; beyond 2^52, ulp(x) >= w > r, so a point within r has the same x; subnormal quotients
// all give the key 0.
//
// Coordinates so large that x / w is 2^62 or more (or overflows) are keyed by their exact bit
// pattern instead: there ulp(x) >= 2^10 w > 2R, so a point within R of x is x itself, and no pair
// of points within R straddles the border between the two kinds of keys. A query at such a
// coordinate looks up its own key only.
//
// A radius that is infinite, or so large that no power of two covers it, puts every point in one
// cell. Only finite points are ever filed or searched for.
//
// The table is a power-of-two array of buckets, each the head of a chain through the points filed
// in it (a next link per point, so no cell is stored at all). A point's node keeps a 32-bit tag of
// its cell's hash, which picks the bucket and lets a query pass over the points of other cells
// that share the bucket without reading them. Two cells with the same tag are told apart by the
// caller's distance test: a query may visit points of another cell, never misses one of its own.
#pragma once

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "geometry/point.hpp"

namespace weldrix {

class vertex_grid {
public:
    static constexpr std::uint32_t none = 0xffffffffu;

    // radius > 0 (may be infinite). expected: about how many points will be filed, so that the
    // table is made once at its size instead of growing (it grows beyond it as needed).
    explicit vertex_grid(double radius, std::size_t expected = 0);

    double radius() const { return radius_; }
    // The width of a cell; infinite when every point shares one cell.
    double cell_width() const;

    // Files point id (any 32-bit number but none, not filed yet) at finite position p.
    void insert(std::uint32_t id, const point& p);
    // Files the filed point id at its new finite position p.
    void move(std::uint32_t id, const point& p);
    // Unfiles the filed point id.
    void erase(std::uint32_t id);

    // Whether the grid has run out of 32-bit point numbers for another insert (after some 4
    // billion points: the owner then stops using the grid).
    bool full() const { return nodes_.size() >= full_size; }

    // Calls visit(id) for every filed point that may lie closer than r to v, and possibly for
    // others; never misses one, never repeats one. v finite, 0 < r <= radius(). No particular
    // order.
    template <class Visit>
    void for_each_near(const point& v, double r, Visit&& visit) const;

    // Hints for a query of radius r at v to come, which change nothing: prefetch_buckets asks the
    // processor to load the buckets the query reads first; prefetch_chains, called once those are
    // loaded, loads the first point of each bucket and calls touch(id) with it, so that the
    // caller may load what it reads of that point too. A query at a random place misses the cache
    // on its bucket, on its chain and on each point it reads; issued for the queries some lines
    // ahead, these hints let those misses overlap instead of following one another.
    void prefetch_buckets(const point& v, double r) const;
    template <class Touch>
    void prefetch_chains(const point& v, double r, Touch&& touch) const;

    // The cells themselves, by their tags, for callers that partition space without filing points
    // (snap_region). p finite, 0 < r <= radius().
    //  * tag(p, r, alone): the tag of p's cell; alone is set when a query of radius r at p looks up
    //    p's cell alone (it may be left false for some points close to a border, never set wrongly).
    //  * for_each_tag_near(p, r, f): f(tag) for each cell a query of radius r at p looks up, once.
    //  * for_each_tag_around(p, r, f): f(tag) for those cells and maybe a few more, some tags more
    //    than once.
    // The first and the last take a shortcut for coordinates less than 2^24 cells from 0 (see
    // near_cells_of), else give what the query itself would.
    std::uint32_t tag(const point& p, double r, bool& alone) const;
    //  * tag_all(points, r, tags, near): tag(points[i], r, alone) for each point, in tags[i], and
    //    each i whose alone is false appended to near; the loop a region makes over millions of
    //    points, with what every point shares worked out once.
    void tag_all(std::span<const point> points, double r, std::uint32_t* tags, std::vector<std::uint32_t>& near) const;
    template <class F>
    void for_each_tag_near(const point& p, double r, F&& f) const {
        for_each_tag(cells_near(p, r), f);
    }
    template <class F>
    void for_each_tag_around(const point& p, double r, F&& f) const;

private:
    static constexpr std::size_t full_size = none - 64;
    static constexpr std::uint32_t unfiled = none - 1;  // node.next of a point not filed

    struct cell_key {
        std::int64_t k[3];
        std::uint32_t raw;  // bit a set: k[a] holds the bits of the coordinate itself
    };
    struct node {
        std::uint32_t next;  // the next point in the bucket, none at its end, unfiled
        std::uint32_t tag;   // of the point's cell
    };
    // The cells a query looks up: keys lo[a] to lo[a] + span[a] on each axis (span 0 to 2), raw
    // as in cell_key.
    struct cell_range {
        std::int64_t lo[3];
        int span[3];
        std::uint32_t raw;
    };
    cell_range cells_near(const point& v, double r) const;
    // The shortcut of tag and for_each_tag_around: the key of p's cell in key and, per axis, how
    // close p is to the lower and the upper border (near[a] bit 0 and 1: less than 2r away, or
    // perhaps so). False, with nothing set, when a coordinate is 2^24 cells or more from 0 (or
    // for a single cell).
    bool near_cells_of(const point& p, double r, cell_key& key, unsigned (&near)[3]) const;
    // The tags of the cells at the corners of range (see prefetch_buckets), their number.
    static int corner_tags(const cell_range& range, std::uint32_t (&tags)[8]);
    // Calls f(tag) for the tag of every cell of range, each tag once (cells whose tags are equal
    // share their bucket and their points pass the same filter).
    template <class F>
    static void for_each_tag(const cell_range& range, F&& f);

    // Key of coordinate x on one axis; sets raw when it is the coordinate's bits.
    std::int64_t axis_key(double x, bool& raw) const;
    cell_key cell_of(const point& p) const;
    static std::uint32_t tag_of(const cell_key& key);
    void link(std::uint32_t id, std::uint32_t tag);
    void unlink(std::uint32_t id);
    void grow();

    double radius_;
    bool single_cell_ = false;
    // x / w is computed as x * scale_[0] * scale_[1]: one factor for a wide cell, two when
    // 1 / w is too large for one double.
    double scale_[2] = {1.0, 1.0};
    std::vector<std::uint32_t> heads_;  // per bucket: its first point, or none
    std::uint32_t mask_ = 0;            // heads_.size() - 1
    std::vector<node> nodes_;           // per point number
    std::size_t filed_ = 0;
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

// Neighbouring cells along x get neighbouring tags, and so neighbouring buckets: a file whose
// lines go along its surface (as most do) finds the buckets of the next lines in the cache. The
// large odd factors spread the y and z neighbours over the table. Keys of raw coordinates are
// mixed first.
inline std::uint32_t vertex_grid::tag_of(const cell_key& key) {
    std::uint64_t k[3] = {static_cast<std::uint64_t>(key.k[0]), static_cast<std::uint64_t>(key.k[1]),
                          static_cast<std::uint64_t>(key.k[2])};
    if (key.raw != 0) {
        for (std::uint64_t& a : k) a = (a ^ (a >> 32)) * 0xbf58476d1ce4e5b9ull ^ key.raw;
        for (std::uint64_t& a : k) a ^= a >> 29;
    }
    return static_cast<std::uint32_t>(k[0] + 0x9e3779b1u * k[1] + 0x85ebca77u * k[2]);
}

inline vertex_grid::cell_range vertex_grid::cells_near(const point& v, double r) const {
    assert(r > 0 && r <= radius_);
    cell_range range;
    range.raw = 0;
    const double coordinate[3] = {v.x, v.y, v.z};
    for (int a = 0; a < 3; ++a) {
        bool l_raw, h_raw, own_raw;
        const std::int64_t l = axis_key(coordinate[a] - r, l_raw);
        const std::int64_t h = axis_key(coordinate[a] + r, h_raw);
        if (!l_raw && !h_raw && h - l <= 1) {
            // The common case: the own key lies between l and h, so the clamp to it +-1 changes
            // nothing.
            range.lo[a] = l;
            range.span[a] = static_cast<int>(h - l);
            continue;
        }
        const std::int64_t own = axis_key(coordinate[a], own_raw);
        if (own_raw) {
            range.lo[a] = own;
            range.span[a] = 0;
            range.raw |= 1u << a;
            continue;
        }
        range.lo[a] = l_raw || l < own - 1 ? own - 1 : l;
        range.span[a] = static_cast<int>((h_raw || h > own + 1 ? own + 1 : h) - range.lo[a]);
    }
    return range;
}

template <class F>
void vertex_grid::for_each_tag(const cell_range& range, F&& f) {
    cell_key key;
    key.raw = range.raw;
    std::uint32_t seen[27];
    int seen_count = 0;
    for (int i = 0; i <= range.span[0]; ++i) {
        key.k[0] = range.lo[0] + i;
        for (int j = 0; j <= range.span[1]; ++j) {
            key.k[1] = range.lo[1] + j;
            for (int k = 0; k <= range.span[2]; ++k) {
                key.k[2] = range.lo[2] + k;
                const std::uint32_t tag = tag_of(key);
                if (std::find(seen, seen + seen_count, tag) != seen + seen_count) continue;
                seen[seen_count++] = tag;
                f(tag);
            }
        }
    }
}

// Why the shortcut is sound: while |x / w| < 2^24, t = x / w + 1/2 is computed with an error
// below 2^-28 cells, and so are (x +- r) / w + 1/2, the values the query keys (x / w is exact, see
// above); r / w is at least 1/2^14 for the radii snap_region asks (0.001 in cells of at most 16).
// So when the fraction t - floor(t) lies in [2r / w, 1 - 2r / w], both keys are floor(t); when it
// is below, the lower key is floor(t) or the one below, and above it the upper key is floor(t) or
// the one above: the cells around a point are a superset of the ones looked up.
inline bool vertex_grid::near_cells_of(const point& p, double r, cell_key& key, unsigned (&near)[3]) const {
    if (single_cell_) return false;
    constexpr double limit = 16777216.0;  // 2^24
    const double margin = 2 * r * scale_[0] * scale_[1];
    const double coordinate[3] = {p.x, p.y, p.z};
    for (int a = 0; a < 3; ++a) {
        const double q = coordinate[a] * scale_[0] * scale_[1];
        if (!(q > -limit && q < limit)) return false;
        const double t = q + 0.5;
        key.k[a] = floor_to_int(t);
        const double fraction = t - static_cast<double>(key.k[a]);
        near[a] = (fraction < margin ? 1u : 0u) | (fraction > 1 - margin ? 2u : 0u);
    }
    key.raw = 0;
    return true;
}

inline std::uint32_t vertex_grid::tag(const point& p, double r, bool& alone) const {
    cell_key key;
    unsigned near[3];
    if (near_cells_of(p, r, key, near)) {
        alone = (near[0] | near[1] | near[2]) == 0;
        return tag_of(key);
    }
    const cell_range range = cells_near(p, r);
    alone = range.span[0] == 0 && range.span[1] == 0 && range.span[2] == 0;
    return tag_of(cell_of(p));
}

// The shortcut of near_cells_of, point by point, with its factors and margins taken once: the
// same expressions, so the same keys and the same verdicts.
inline void vertex_grid::tag_all(std::span<const point> points, double r, std::uint32_t* tags,
                                 std::vector<std::uint32_t>& near) const {
    constexpr double limit = 16777216.0;  // 2^24
    const double s0 = scale_[0], s1 = scale_[1];
    const double margin = 2 * r * s0 * s1;
    const double high = 1 - margin;
    for (std::size_t i = 0; i < points.size(); ++i) {
        const point& p = points[i];
        const double qx = p.x * s0 * s1, qy = p.y * s0 * s1, qz = p.z * s0 * s1;
        bool alone;
        if (single_cell_ || !(qx > -limit && qx < limit) || !(qy > -limit && qy < limit) ||
            !(qz > -limit && qz < limit)) {
            tags[i] = tag(p, r, alone);
        } else {
            const double tx = qx + 0.5, ty = qy + 0.5, tz = qz + 0.5;
            cell_key key;
            key.k[0] = floor_to_int(tx);
            key.k[1] = floor_to_int(ty);
            key.k[2] = floor_to_int(tz);
            key.raw = 0;
            const double fx = tx - static_cast<double>(key.k[0]), fy = ty - static_cast<double>(key.k[1]),
                         fz = tz - static_cast<double>(key.k[2]);
            alone = !((fx < margin) | (fx > high) | (fy < margin) | (fy > high) | (fz < margin) | (fz > high));
            tags[i] = tag_of(key);
        }
        if (!alone) near.push_back(static_cast<std::uint32_t>(i));
    }
}

template <class F>
void vertex_grid::for_each_tag_around(const point& p, double r, F&& f) const {
    cell_key key;
    unsigned near[3];
    if (!near_cells_of(p, r, key, near)) {
        for_each_tag_near(p, r, f);
        return;
    }
    const std::int64_t k0 = key.k[0], k1 = key.k[1], k2 = key.k[2];
    for (std::int64_t i = k0 - (near[0] & 1); i <= k0 + (near[0] >> 1); ++i) {
        key.k[0] = i;
        for (std::int64_t j = k1 - (near[1] & 1); j <= k1 + (near[1] >> 1); ++j) {
            key.k[1] = j;
            for (std::int64_t k = k2 - (near[2] & 1); k <= k2 + (near[2] >> 1); ++k) {
                key.k[2] = k;
                f(tag_of(key));
            }
        }
    }
}

template <class Visit>
void vertex_grid::for_each_near(const point& v, double r, Visit&& visit) const {
    for_each_tag(cells_near(v, r), [&](std::uint32_t tag) {
        for (std::uint32_t id = heads_[tag & mask_]; id != none; id = nodes_[id].next) {
            if (nodes_[id].tag == tag) visit(id);
        }
    });
}

// The prefetches load the cells at the corners of the range: all of its cells unless it spans
// three on an axis, which radii up to w / 8 make rare. The tags are worked out first and then
// prefetched in a plain loop: GCC 12 drops a prefetch made inside the cell loops, or through a
// callback, as if it did nothing.
inline int vertex_grid::corner_tags(const cell_range& range, std::uint32_t (&tags)[8]) {
    int n = 0;
    for (int c = 0; c < 8; ++c) {
        const int dx = c & 1, dy = (c >> 1) & 1, dz = c >> 2;
        if ((dx && !range.span[0]) || (dy && !range.span[1]) || (dz && !range.span[2])) continue;
        cell_key key;
        key.raw = range.raw;
        key.k[0] = range.lo[0] + (dx ? range.span[0] : 0);
        key.k[1] = range.lo[1] + (dy ? range.span[1] : 0);
        key.k[2] = range.lo[2] + (dz ? range.span[2] : 0);
        tags[n++] = tag_of(key);
    }
    return n;
}

inline void vertex_grid::prefetch_buckets(const point& v, double r) const {
    std::uint32_t tags[8];
    const int n = corner_tags(cells_near(v, r), tags);
    for (int i = 0; i < n; ++i) __builtin_prefetch(heads_.data() + (tags[i] & mask_));
}

template <class Touch>
void vertex_grid::prefetch_chains(const point& v, double r, Touch&& touch) const {
    std::uint32_t tags[8];
    const int n = corner_tags(cells_near(v, r), tags);
    for (int i = 0; i < n; ++i) {
        const std::uint32_t id = heads_[tags[i] & mask_];
        if (id == none) continue;
        __builtin_prefetch(nodes_.data() + id);
        touch(id);
    }
}

}  // namespace weldrix
