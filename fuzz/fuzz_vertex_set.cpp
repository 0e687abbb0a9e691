// Fuzz target: the indexed vertex set against the plain linear scan.
//
// The input is a run of operations on two sets with the same thresholds, one searched through its
// grid and one by the linear scan of every representative: adds of main or subfile vertices and
// snaps, each after the indexed set's prefetch hints for it. After every operation the two must
// agree bit for bit: the representatives (positions, sums, member counts, kinds) and every
// snapped point with the representative it went to. The
// points come from a small lattice of the thresholds' scale (so that they meet at exact threshold
// distances, tie and straddle cell borders), jittered by an ulp, or as raw doubles (huge, subnormal,
// infinite, NaN).
//
// Input: byte 0 and 1 pick the vertex and subfile thresholds; then per operation one byte
// (bit 0: snap, bit 1: a subfile vertex, bit 2: raw doubles follow, else three lattice bytes).
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_check.hpp"
#include "fuzz/fuzz_points.hpp"
#include "geometry/vertex_set.hpp"

using namespace weldrix;
using fuzz::same_bits;

namespace {

constexpr double inf = std::numeric_limits<double>::infinity();
const double thresholds[] = {0.005, 0.001,  0.002,  0.0049999, 0.01, 1.0, 0.0,
                             -1.0,  1e-300, 5e-324, 1e5,       2e5,  inf, std::numeric_limits<double>::quiet_NaN()};

// A coordinate from one lattice byte: a multiple of a quarter of the scale, often one ulp off.
double lattice(std::uint8_t b, double scale) {
    const double m = static_cast<double>(static_cast<int>(b & 31) - 16) * scale / 4;
    switch (b >> 5) {
        case 0: return std::nextafter(m, inf);
        case 1: return std::nextafter(m, -inf);
        case 2: return m * 1e6;  // far from the others
        default: return m;
    }
}

void compare(const vertex_set& linear, const vertex_set& indexed, std::string_view input) {
    FUZZ_CHECK(linear.size() == indexed.size(), input);
    for (std::size_t i = 0; i < linear.size(); ++i) {
        const rep_vertex& r = linear.representatives()[i];
        const rep_vertex& s = indexed.representatives()[i];
        const rep_sums rs = linear.sums(i), ss = indexed.sums(i);
        FUZZ_CHECK(same_bits(r, s) && r.from_subfile == s.from_subfile, input);
        FUZZ_CHECK(same_bits(rs.x_sum, ss.x_sum) && same_bits(rs.y_sum, ss.y_sum) && same_bits(rs.z_sum, ss.z_sum),
                   input);
        FUZZ_CHECK(rs.member_count == ss.member_count, input);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    if (size < 2) return 0;
    const unify_thresholds t{thresholds[data[0] % std::size(thresholds)], thresholds[data[1] % std::size(thresholds)]};
    const double scale = t.vertex_threshold > 0 && t.vertex_threshold < 1e10 ? t.vertex_threshold : 0.005;
    vertex_set linear(t, vertex_search::linear);
    vertex_set indexed(t, vertex_search::indexed);
    std::vector<std::size_t> linear_log, indexed_log;
    linear.log_snaps(&linear_log);
    indexed.log_snaps(&indexed_log);
    std::size_t at = 2;
    while (at < size) {
        const std::uint8_t op = data[at++];
        point p;
        if (!fuzz::next_point(
                data, size, at, op & 4, [&](std::uint8_t b) { return lattice(b, scale); }, p))
            break;
        // The hints of the queries to come read nothing outside the set and change nothing.
        indexed.prefetch_buckets(p);
        indexed.prefetch_chains(p);
        if (op & 1) {
            point q = p;
            linear.snap(p);
            indexed.snap(q);
            FUZZ_CHECK(same_bits(p, q), input);
            FUZZ_CHECK(linear_log == indexed_log, input);
        } else {
            linear.add(p, (op & 2) != 0);
            indexed.add(p, (op & 2) != 0);
            compare(linear, indexed, input);
        }
    }
    return 0;
}
