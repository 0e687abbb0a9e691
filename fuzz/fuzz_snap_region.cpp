// Fuzz target: the snap targets of a region against the whole set.
//
// The input is a run of file vertices and subfile vertices. The whole construction adds every
// subfile vertex to a set; the region's covers the file vertices, is offered the subfile vertices
// and fills a second set. Then every file vertex goes through pass 1 (snapped onto the set of the
// file's own vertices) and pass 2 onto each of the two sets: the point it ends at and the subfile
// vertex it went to must agree bit for bit. Points lie on a lattice whose step (a byte of the
// input) makes chains of vertices just closer than 0.001, meets the borders of the region's cells
// and the thresholds, often one ulp off, or are raw doubles (huge, subnormal, infinite, NaN).
//
// Input: bytes 0 and 1 pick the vertex and subfile thresholds, byte 2 the lattice step (bits 0-2),
// its base (bits 3-4) and bit 7 the region given up half way; then per
// vertex one byte (bit 0: a subfile vertex, bit 1: raw doubles follow, else three lattice bytes).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_check.hpp"
#include "fuzz/fuzz_points.hpp"
#include "geometry/snap_region.hpp"
#include "geometry/vertex_set.hpp"

using namespace weldrix;

namespace {

constexpr double inf = std::numeric_limits<double>::infinity();
const double thresholds[] = {0.005, 0.001, 0.002, 0.0049999, 0.01, 1.0, 0.5, 0.0, -1.0, 1e-300, 2.0, inf};
// Below, at and above the merge distance, a region cell's half width for the usual thresholds,
// and steps that straddle both.
const double steps[] = {0.0009, 0.001, 0.00099999, 0.0625, 0.0624995, 0.0003, 0.004, 0.125};
static_assert(std::size(steps) == 8);

// Around 0 or a border of the region's cells (half a width of 0.125 from a multiple of it).
const double bases[] = {0.0, 0.0625, -0.0625, 0.1875};

// The subfile vertex a snap went to (its number among the vertices offered), or -1 for none.
long long snapped_to(const std::vector<std::size_t>& log, const std::vector<std::uint32_t>& origins) {
    if (log.empty() || log.back() == vertex_set::no_representative) return -1;
    return origins.at(log.back());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    if (size < 3) return 0;
    const unify_thresholds t{thresholds[data[0] % std::size(thresholds)], thresholds[data[1] % std::size(thresholds)]};
    if (!snap_region::applies(t)) return 0;
    const double step = steps[data[2] & 7];
    const double base = bases[(data[2] >> 3) & 3];

    std::vector<point> file, subfile;
    std::size_t at = 3;
    while (at < size) {
        const std::uint8_t op = data[at++];
        point p;
        if (!fuzz::next_point(
                data, size, at, op & 2, [&](std::uint8_t b) { return fuzz::lattice(b, step, base); }, p))
            break;
        (op & 1 ? subfile : file).push_back(p);
    }

    // The tags of the region's cells, in one loop, are those of tag() point by point.
    {
        const double reach = 2 * std::max({t.vertex_threshold > 0 ? t.vertex_threshold : 0.0,
                                           t.subfile_threshold > 0 ? t.subfile_threshold : 0.0});
        const vertex_grid grid(std::max(reach, subfile_merge_distance));
        std::vector<point> finite_points;
        for (const point& p : subfile)
            if (finite(p)) finite_points.push_back(p);
        std::vector<std::uint32_t> tags(finite_points.size()), near;
        grid.tag_all(finite_points, subfile_merge_distance, tags.data(), near);
        std::size_t k = 0;
        for (std::size_t i = 0; i < finite_points.size(); ++i) {
            bool alone;
            FUZZ_CHECK(grid.tag(finite_points[i], subfile_merge_distance, alone) == tags[i], input);
            if (!alone) FUZZ_CHECK(k < near.size() && near[k++] == i, input);
        }
        FUZZ_CHECK(k == near.size(), input);
    }

    // The whole set, each representative's origin its vertex's number.
    vertex_set whole(t);
    std::vector<std::uint32_t> whole_origins;
    for (std::size_t i = 0; i < subfile.size(); ++i) {
        const std::size_t before = whole.size();
        whole.add(subfile[i], true);
        if (whole.size() > before) whole_origins.push_back(static_cast<std::uint32_t>(i));
    }
    // The region's.
    snap_region region(t, file.size());
    for (const point& v : file) region.cover(v);
    vertex_set kept(t);
    std::vector<std::uint32_t> kept_origins;
    const auto made = [&](std::uint32_t origin) { kept_origins.push_back(origin); };
    // Bit 7 of byte 2: the region is given up half way, as an expansion does past its limit, and
    // the rest added directly.
    const std::size_t given_up = data[2] & 128 ? subfile.size() / 2 : subfile.size();
    for (std::size_t i = 0; i < given_up; ++i) region.offer(subfile[i], static_cast<std::uint32_t>(i));
    region.fill(kept, given_up < subfile.size(), made);
    for (std::size_t i = given_up; i < subfile.size(); ++i) {
        const std::size_t before = kept.size();
        kept.add(subfile[i], true);
        if (kept.size() > before) made(static_cast<std::uint32_t>(i));
    }
    FUZZ_CHECK(kept.size() <= whole.size(), input);

    vertex_set own(t);
    for (const point& v : file) own.add(v, false);
    std::vector<std::size_t> whole_log, kept_log;
    whole.log_snaps(&whole_log);
    kept.log_snaps(&kept_log);
    for (point v : file) {
        own.snap(v);
        point a = v, b = v;
        whole.snap(a);
        kept.snap(b);
        FUZZ_CHECK(same_bits(a, b), input);
        FUZZ_CHECK(snapped_to(whole_log, whole_origins) == snapped_to(kept_log, kept_origins), input);
    }
    return 0;
}
