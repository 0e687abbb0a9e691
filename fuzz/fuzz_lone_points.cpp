// Fuzz target: the set of a file's own vertices without its lone points against the whole set.
//
// The input is a run of lines of up to four vertices. The whole construction adds every vertex to
// a set; the other adds only those lone_points does not call lone. Then every vertex is snapped
// onto each set (pass 1): the points must agree bit for bit. Where a plane parts the vertices
// (separating_x), the sets of its two sides are checked against the whole set the same way. Points lie on a lattice
// whose step (a byte of the input) straddles the threshold, twice it (the reach of a lone point) and the width of the
// cells the test sorts points into, often one ulp off; or they repeat the point before (copies, whose mean may drift by
// an ulp), or are raw doubles (huge, subnormal, infinite, NaN).
//
// Input: byte 0 picks the threshold, byte 1 the lattice step (bits 0-2) and base (bits 3-5); then
// per vertex one byte (bit 0: it starts a new line, bit 1: raw doubles follow, bit 2: a copy of
// the vertex before, else three lattice bytes).
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_check.hpp"
#include "fuzz/fuzz_points.hpp"
#include "geometry/lone_points.hpp"
#include "geometry/vertex_set.hpp"

using namespace weldrix;

namespace {

const double thresholds[] = {0.005, 0.001, 1.0, 0x1p-30, 0.0049999, 0.5, 1e-300, 2.0};
// Below, at and above the threshold, twice it and the cells' width (1.25 times twice it), for the
// default threshold; steps small enough to crowd a cell.
const double steps[] = {0.005, 0.0099999, 0.01, 0.0125, 0.0050001, 0.0001, 0.0025, 0.1};
const double bases[] = {0.0, 0.00625, -0.0125, 0.1, 1000.3, 3.0e5, 1e14, 0x1p50};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    if (size < 2) return 0;
    const unify_thresholds t{thresholds[data[0] % std::size(thresholds)], 0.005};
    const double step = steps[data[1] & 7];
    const double base = bases[(data[1] >> 3) & 7];

    std::vector<point> points;
    std::vector<std::size_t> line_start;  // of each line in points
    std::size_t at = 2;
    while (at < size) {
        const std::uint8_t op = data[at++];
        point p;
        if (op & 4 && !points.empty()) {
            p = points.back();
        } else if (!fuzz::next_point(
                       data, size, at, op & 2, [&](std::uint8_t b) { return fuzz::lattice(b, step, base); }, p)) {
            break;
        }
        if (op & 1 || line_start.empty() || points.size() - line_start.back() == 4) line_start.push_back(points.size());
        points.push_back(p);
    }
    std::vector<std::span<const point>> lines;
    for (std::size_t l = 0; l < line_start.size(); ++l) {
        const std::size_t end = l + 1 < line_start.size() ? line_start[l + 1] : points.size();
        lines.emplace_back(points.data() + line_start[l], end - line_start[l]);
    }
    const std::vector<std::uint8_t> lone = lone_points(lines, t.vertex_threshold);
    FUZZ_CHECK(lone.size() == 4 * lines.size(), input);

    vertex_set whole(t), kept(t);
    for (std::size_t l = 0; l < lines.size(); ++l) {
        for (std::size_t k = 0; k < lines[l].size(); ++k) {
            whole.add(lines[l][k], false);
            if (!lone[4 * l + k]) kept.add(lines[l][k], false);
        }
    }
    for (std::size_t l = 0; l < lines.size(); ++l) {
        for (std::size_t k = 0; k < lines[l].size(); ++k) {
            point a = lines[l][k], b = a;
            whole.snap(a);
            kept.snap(b);
            FUZZ_CHECK(same_bits(a, b), input);
            // What lone promises: pass 1 leaves the point as it is.
            if (lone[4 * l + k]) FUZZ_CHECK(same_bits(a, lines[l][k]), input);
        }
    }
    // The sets of the two sides of a plane no group crosses: a vertex snapped onto its own side's
    // set, and onto both in either order (a line across the plane), snaps as onto the whole set.
    if (const std::optional<double> cut = separating_x(lines, t.vertex_threshold)) {
        vertex_set left(t), right(t);
        for (const std::span<const point>& line : lines) {
            for (const point& p : line) (p.x > *cut ? right : left).add(p, false);
        }
        for (const std::span<const point>& line : lines) {
            for (const point& p : line) {
                point a = p, own = p, both = p, other_first = p;
                whole.snap(a);
                (p.x > *cut ? right : left).snap(own);
                left.snap(both);
                right.snap(both);
                right.snap(other_first);
                left.snap(other_first);
                FUZZ_CHECK(same_bits(a, own) && same_bits(a, both) && same_bits(a, other_first), input);
            }
        }
    }
    return 0;
}
