#include "geometry/snap_region.hpp"

#include <algorithm>
#include <bit>
#include <iterator>
#include <limits>

namespace weldrix {
namespace {

// What a threshold admits: itself when it admits any distance, else 0 (<= 0 or NaN admits none).
double admitted(double t) { return t > 0 ? t : 0.0; }

// Twice the larger threshold: at least their sum, and exact.
double reach_of(const unify_thresholds& t) {
    return 2 * std::max(admitted(t.vertex_threshold), admitted(t.subfile_threshold));
}

// A region of this many bits per file vertex gives few cells of one tag bit to the vertices of
// the cells of others; at most 2^27 bits (16 MB).
constexpr std::size_t bits_per_vertex = 32;
constexpr std::size_t most_bits = std::size_t{1} << 27;

// The growth seldom needs more than two rounds; a region that still grows after this many is
// given up, and every vertex kept.
constexpr int most_rounds = 32;

}  // namespace

bool snap_region::applies(const unify_thresholds& t) {
    return t.subfile_threshold > 0 && t.subfile_threshold <= 1 && !(t.vertex_threshold > 1);
}

snap_region::snap_region(const unify_thresholds& t, std::size_t file_vertices)
    : grid_(std::max(reach_of(t), subfile_merge_distance)), reach_(reach_of(t)) {
    const std::size_t bits = std::clamp(std::bit_ceil(std::max<std::size_t>(file_vertices, 1) * bits_per_vertex),
                                        std::size_t{4096}, most_bits);
    bits_.assign(bits / 64, 0);
    mask_ = static_cast<std::uint32_t>(bits - 1);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    std::fill(std::begin(covered_), std::end(covered_), point(nan, nan, nan));
}

// A file's vertex is shared by several of its lines, mostly near one another in the file: a point
// covered lately is passed over.
void snap_region::cover(const point& v) {
    point& last = covered_[bits_hash(v) >> (64 - 8)];
    if (same_bits(last, v)) return;
    last = v;
    if (finite(v)) grid_.for_each_tag_around(v, reach_, [&](std::uint32_t tag) { include(tag); });
}

void snap_region::close() {
    // A vertex whose 0.001 neighbourhood lies in its own cell can only ever see its own cell:
    // only the others (near a border) may grow the region.
    std::vector<std::uint32_t> near_border;
    tags_.resize(points_.size());
    grid_.tag_all(points_, subfile_merge_distance, tags_.data(), near_border);
    for (int round = 0;; ++round) {
        bool grew = false;
        for (const std::uint32_t i : near_border) {
            if (inside(tags_[i])) continue;
            bool sees_inside = false;
            grid_.for_each_tag_near(points_[i], subfile_merge_distance,
                                    [&](std::uint32_t tag) { sees_inside = sees_inside || inside(tag); });
            if (sees_inside) {
                include(tags_[i]);
                grew = true;
            }
        }
        if (!grew) return;
        if (round == most_rounds) {
            std::fill(bits_.begin(), bits_.end(), ~std::uint64_t{0});
            return;
        }
    }
}

}  // namespace weldrix
