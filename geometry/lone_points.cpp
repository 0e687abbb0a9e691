#include "geometry/lone_points.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cassert>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

#include "geometry/vertex_set.hpp"

namespace weldrix {
namespace {

constexpr int axis_bits = 21;              // cells per axis at most 2^21: a key fits 63 bits
constexpr std::size_t cell_distinct = 16;  // more distinct points in a cell: all taken as near

// Whether every mean of the first k copies of p, as the set works it out, is p bit for bit.
bool mean_stays(const point& p, std::uint32_t copies) {
    rep_sums sums{p.x, p.y, p.z, 1};
    for (std::uint32_t k = 2; k <= copies; ++k) {
        sums.add(p);
        if (!same_bits(sums.position(), p)) return false;
    }
    return true;
}

// Sorts keys, and ids with them when given, stably: 16 bits a pass over the bits keys use.
void sort_by_key(std::vector<std::uint64_t>& keys, std::vector<std::uint32_t>* ids, int key_bits) {
    std::vector<std::uint64_t> other_keys(keys.size());
    std::vector<std::uint32_t> other_ids(ids ? ids->size() : 0);
    std::vector<std::uint32_t> counts(std::size_t{1} << 16);
    for (int shift = 0; shift < key_bits; shift += 16) {
        std::fill(counts.begin(), counts.end(), 0);
        for (const std::uint64_t k : keys) ++counts[(k >> shift) & 0xffff];
        std::uint32_t at = 0;
        for (std::uint32_t& c : counts) at += std::exchange(c, at);
        for (std::size_t i = 0; i < keys.size(); ++i) {
            const std::uint32_t to = counts[(keys[i] >> shift) & 0xffff]++;
            other_keys[to] = keys[i];
            if (ids) other_ids[to] = (*ids)[i];
        }
        keys.swap(other_keys);
        if (ids) ids->swap(other_ids);
    }
}

class cell_space {
public:
    cell_space(const std::array<double, 3>& low, const std::array<double, 3>& high, double width)
        : low_(low), scale_(1 / width) {
        for (int a = 0; a < 3; ++a) bits_[a] = std::bit_width(coordinate(a, high[a]));
    }
    int key_bits() const { return bits_[0] + bits_[1] + bits_[2]; }

    // The cell along axis a: monotone in x, as each step is. (The scale is rounded, which moves
    // the width by a relative 2^-53.)
    std::uint64_t coordinate(int a, double x) const {
        return static_cast<std::uint64_t>(std::floor((x - low_[a]) * scale_));
    }
    std::uint64_t key(const point& p) const { return pack(coordinate(0, p.x), coordinate(1, p.y), coordinate(2, p.z)); }
    std::uint64_t pack(std::uint64_t x, std::uint64_t y, std::uint64_t z) const {
        return x << (bits_[1] + bits_[2]) | y << bits_[2] | z;
    }
    std::array<std::uint64_t, 3> unpack(std::uint64_t key) const {
        const std::uint64_t z_mask = (std::uint64_t{1} << bits_[2]) - 1, y_mask = (std::uint64_t{1} << bits_[1]) - 1;
        return {key >> (bits_[1] + bits_[2]), key >> bits_[2] & y_mask, key & z_mask};
    }
    // Whether a cell coordinate (one past either end allowed as input) lies in the space.
    bool inside(int a, std::int64_t c) const { return c >= 0 && c < (std::int64_t{1} << bits_[a]); }

private:
    std::array<double, 3> low_;
    double scale_;
    std::array<int, 3> bits_{};
};

}  // namespace

bool lone_points_apply(double vertex_threshold) { return vertex_threshold >= 0x1p-30 && vertex_threshold <= 1.0; }

std::vector<std::uint8_t> lone_points(std::span<const std::span<const point>> runs, double vertex_threshold) {
    std::vector<std::uint8_t> lone(4 * runs.size(), 0);
    if (!lone_points_apply(vertex_threshold) || runs.size() >= (std::size_t{1} << 30)) return lone;

    constexpr double inf = std::numeric_limits<double>::infinity();
    std::array<double, 3> low{inf, inf, inf}, high{-inf, -inf, -inf};
    double magnitude = 0;
    std::size_t n = 0;
    for (std::size_t r = 0; r < runs.size(); ++r) {
        assert(runs[r].size() <= 4);
        for (std::size_t k = 0; k < runs[r].size(); ++k) {
            const point& p = runs[r][k];
            if (!finite(p)) {
                lone[4 * r + k] = 1;
                continue;
            }
            ++n;
            const double c[3] = {p.x, p.y, p.z};
            for (int a = 0; a < 3; ++a) {
                low[a] = std::min(low[a], c[a]);
                high[a] = std::max(high[a], c[a]);
                magnitude = std::max(magnitude, std::fabs(c[a]));
            }
        }
    }
    if (n == 0 || magnitude > 0x1p50) return lone;

    const double reach = 2 * vertex_threshold * (1 + 0x1p-30) + 0x1p-40 * magnitude;
    const double span = std::max({high[0] - low[0], high[1] - low[1], high[2] - low[2]});
    // Cells as narrow as they may be, or up to 4 times wider where that lets a key and an id share
    // 64 bits: the sort then moves 8 bytes a point instead of 12, its largest memory.
    const double narrowest = std::max(1.25 * reach, span / ((1 << axis_bits) - 4));
    const int id_bits = std::bit_width(4 * runs.size() - 1);
    const int packed_axis_bits = std::min(axis_bits, (64 - id_bits) / 3);
    const double packed_width = std::max(narrowest, span / ((1 << packed_axis_bits) - 4));
    const bool packed = packed_axis_bits >= 3 && packed_width <= 4 * narrowest;
    const cell_space space(low, high, packed ? packed_width : narrowest);

    // Every finite point by its cell, in key order; its id is 4 r + k for point k of run r.
    std::vector<std::uint64_t> keys;
    std::vector<std::uint32_t> ids;
    keys.reserve(n);
    if (!packed) ids.reserve(n);
    for (std::size_t r = 0; r < runs.size(); ++r) {
        for (std::size_t k = 0; k < runs[r].size(); ++k) {
            if (lone[4 * r + k]) continue;
            const auto id = static_cast<std::uint32_t>(4 * r + k);
            if (packed) {
                keys.push_back(space.key(runs[r][k]) << id_bits | id);
            } else {
                keys.push_back(space.key(runs[r][k]));
                ids.push_back(id);
            }
        }
    }
    if (packed) {
        // By key and then id: the order a stable sort of the keys gives.
        sort_by_key(keys, nullptr, space.key_bits() + id_bits);
        ids.resize(n);
        const std::uint64_t id_mask = (std::uint64_t{1} << id_bits) - 1;
        for (std::size_t j = 0; j < n; ++j) {
            ids[j] = static_cast<std::uint32_t>(keys[j] & id_mask);
            keys[j] >>= id_bits;
        }
    } else {
        sort_by_key(keys, &ids, space.key_bits());
    }

    // The point of the j-th in key order. Points are read only where a test needs them: a cell
    // that holds one point and has no neighbour (most of a large part's) is settled by its key.
    const auto at = [&](std::size_t j) -> const point& { return runs[ids[j] >> 2][ids[j] & 3]; };
    // Some points ahead, those in cells of more than one are asked for: their loads then overlap.
    constexpr std::size_t ahead = 8;
    const auto shared_cell = [&](std::size_t j) {
        return (j + 1 < n && keys[j + 1] == keys[j]) || (j > 0 && keys[j - 1] == keys[j]);
    };

    // Within a cell, copies of a point are made neighbours (its ids sorted by their points' bits),
    // so that the first of each run of copies (its head) stands for them: it alone takes part in
    // the distance tests and says whether a point of other bits is near or its mean moves (then
    // none of its copies is lone). A cell of more distinct points than cell_distinct counts them
    // all as near.
    std::vector<std::uint8_t> near(n, 0);
    const auto is_head = [&](std::size_t j, std::size_t cell) { return j == cell || !same_bits(at(j), at(j - 1)); };
    std::vector<std::uint32_t> cell_start;  // of each cell in key order, and n at the end
    cell_start.reserve(n + 1);              // only the pages it fills are ever touched
    for (std::size_t start = 0; start < n;) {
        std::size_t end = start + 1;
        while (end < n && keys[end] == keys[start]) ++end;
        cell_start.push_back(static_cast<std::uint32_t>(start));
        for (std::size_t j = start; j < end && j + ahead < n; ++j) {
            if (shared_cell(j + ahead)) __builtin_prefetch(&at(j + ahead));
        }
        if (end - start == 1) {
            start = end;
            continue;
        }
        // The distinct points, up to one more than a cell may hold.
        std::array<const point*, cell_distinct + 1> distinct{};
        std::size_t count = 0;
        for (std::size_t j = start; j < end && count <= cell_distinct; ++j) {
            if (std::none_of(distinct.begin(), distinct.begin() + static_cast<std::ptrdiff_t>(count),
                             [&](const point* p) { return same_bits(*p, at(j)); }))
                distinct[count++] = &at(j);
        }
        if (count > cell_distinct) {
            std::fill(near.begin() + static_cast<std::ptrdiff_t>(start),
                      near.begin() + static_cast<std::ptrdiff_t>(end), 1);
            start = end;
            continue;
        }
        if (count > 1) {
            std::sort(ids.begin() + static_cast<std::ptrdiff_t>(start), ids.begin() + static_cast<std::ptrdiff_t>(end),
                      [&](std::uint32_t a, std::uint32_t b) {
                          return std::memcmp(&runs[a >> 2][a & 3], &runs[b >> 2][b & 3], sizeof(point)) < 0;
                      });
        }
        for (std::size_t j = start; j < end; ++j) {
            if (!is_head(j, start)) continue;
            std::size_t last = j + 1;
            while (last < end && !is_head(last, start)) ++last;
            if (last - j > 1 && !mean_stays(at(j), static_cast<std::uint32_t>(last - j))) near[j] = 1;
            for (std::size_t h = start; h < j; ++h) {
                if (is_head(h, start) && closer_than(at(h), at(j), reach)) near[h] = near[j] = 1;
            }
        }
        start = end;
    }
    const std::size_t cell_count = cell_start.size();
    cell_start.push_back(static_cast<std::uint32_t>(n));
    // From here on, keys holds each cell's key once (cell c's is never after its first point's).
    for (std::size_t c = 0; c < cell_count; ++c) keys[c] = keys[cell_start[c]];
    keys.resize(cell_count);
    const auto key_of = [&](std::size_t c) { return keys[c]; };

    const auto compare = [&](std::size_t a, std::size_t b) {
        for (std::uint32_t g = cell_start[a]; g < cell_start[a + 1]; ++g) {
            if (!is_head(g, cell_start[a])) continue;
            for (std::uint32_t h = cell_start[b]; h < cell_start[b + 1]; ++h) {
                if (is_head(h, cell_start[b]) && (!near[g] || !near[h]) && closer_than(at(g), at(h), reach))
                    near[g] = near[h] = 1;
            }
        }
    };
    // The neighbours that follow a cell in key order: the next z in its row, and z - 1 to z + 1 in
    // the rows (y + 1) and (x + 1, y - 1 to y + 1). A cursor per row only moves forward, as the
    // lowest key looked up in it grows with the cell's.
    constexpr std::array<std::array<int, 2>, 4> rows{{{0, 1}, {1, -1}, {1, 0}, {1, 1}}};
    std::array<std::size_t, 4> cursor{};
    for (std::size_t c = 0; c < cell_count; ++c) {
        const std::uint64_t key = key_of(c);
        const auto [x, y, z] = space.unpack(key);
        const bool z_next = space.inside(2, static_cast<std::int64_t>(z) + 1);
        if (c + 1 < cell_count && z_next && key_of(c + 1) == key + 1) compare(c, c + 1);
        for (std::size_t r = 0; r < rows.size(); ++r) {
            const std::int64_t rx = static_cast<std::int64_t>(x) + rows[r][0];
            const std::int64_t ry = static_cast<std::int64_t>(y) + rows[r][1];
            if (!space.inside(0, rx) || !space.inside(1, ry)) continue;
            const auto row_x = static_cast<std::uint64_t>(rx), row_y = static_cast<std::uint64_t>(ry);
            const std::uint64_t from = space.pack(row_x, row_y, z == 0 ? 0 : z - 1);
            const std::uint64_t to = space.pack(row_x, row_y, z_next ? z + 1 : z);
            std::size_t& d = cursor[r];
            while (d < cell_count && key_of(d) < from) ++d;
            for (std::size_t e = d; e < cell_count && key_of(e) <= to; ++e) compare(c, e);
        }
    }

    // Copies follow their head.
    for (std::size_t c = 0; c < cell_count; ++c) {
        for (std::size_t j = cell_start[c]; j < cell_start[c + 1]; ++j) {
            if (!is_head(j, cell_start[c])) near[j] = near[j - 1];
            lone[ids[j]] = !near[j];
        }
    }
    return lone;
}

std::optional<double> separating_x(std::span<const std::span<const point>> runs, double vertex_threshold) {
    if (!lone_points_apply(vertex_threshold)) return std::nullopt;
    double magnitude = 0;
    std::vector<double> xs;  // a sample of the finite x, for the median
    std::size_t n = 0;
    for (const std::span<const point>& run : runs) {
        for (const point& p : run) {
            if (!finite(p)) continue;
            magnitude = std::max({magnitude, std::fabs(p.x), std::fabs(p.y), std::fabs(p.z)});
            if (n++ % 16 == 0) xs.push_back(p.x);
        }
    }
    if (n == 0 || magnitude > 0x1p50) return std::nullopt;
    const double reach = 2 * vertex_threshold * (1 + 0x1p-30) + 0x1p-40 * magnitude;
    std::nth_element(xs.begin(), xs.begin() + static_cast<std::ptrdiff_t>(xs.size() / 2), xs.end());
    const double median = xs[xs.size() / 2];
    xs = {};
    // Bins 2.5 reach wide around the median; a bin is taken with both its neighbours empty, which
    // absorbs any rounding of the bin a value falls in (far below a bin's width), and the cut is
    // its middle: every x then lies farther than 1.25 reach from it.
    constexpr int half_bins = 4096;
    const double width = 2.5 * reach;
    const double start = median - half_bins * width;
    std::vector<std::uint32_t> counts(2 * half_bins, 0);
    std::size_t below = 0;  // finite vertices left of every bin
    // By a product with the inverse width, truncated: its rounding too is far below a bin's width.
    const double per_width = 1 / width;
    for (const std::span<const point>& run : runs) {
        for (const point& p : run) {
            if (!finite(p)) continue;
            const double b = (p.x - start) * per_width;
            if (b < 0) {
                ++below;
            } else if (b < 2 * half_bins) {
                ++counts[static_cast<std::size_t>(b)];
            }
        }
    }
    // The empty bin nearest the median whose neighbours are empty too, and how many lie left of it.
    std::vector<std::size_t> left_of(2 * half_bins + 1, below);
    for (int b = 0; b < 2 * half_bins; ++b) left_of[b + 1] = left_of[b] + counts[b];
    for (int d = 0; d < half_bins - 1; ++d) {
        for (const int b : {half_bins - d, half_bins + d}) {
            if (b < 1 || b + 1 >= 2 * half_bins || counts[b - 1] || counts[b] || counts[b + 1]) continue;
            const std::size_t left = left_of[b];
            if (4 * left < n || 4 * (n - left) < n) return std::nullopt;  // too far off the middle
            const double cut = start + (b + 0.5) * width;
            // Checked exactly, whatever the rounding of the bins: no x within 1.25 reach.
            for (const std::span<const point>& run : runs) {
                for (const point& p : run) {
                    if (finite(p) && std::fabs(p.x - cut) <= 1.25 * reach) return std::nullopt;
                }
            }
            return cut;
        }
    }
    return std::nullopt;
}

}  // namespace weldrix
