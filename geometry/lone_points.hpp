// The vertices of a file that stand alone in its unification: no vertex of other bits near enough
// to merge with it or to snap it, so that pass 1 leaves every copy of it as it is.
//
// Most vertices of a large part are such: written alike by every line that shares them, and far
// from every other vertex. Pass 1 builds a representative for each of them and snaps each copy
// back onto it, a grid query at a random place of a large table each time. Leaving them out of the
// set of the file's own representatives gives every snap the same result, and a set that holds
// only the vertices that can move.
//
// Why. Let t be the vertex threshold (merge and snap distance of every representative of the
// file's own set), eps = 2^-53 and M the largest magnitude of a finite coordinate.
//  * A representative is always closer than d = t (1 + 4 eps) + 10 eps M, exactly, to the vertex
//    that joined it last (or it is its only vertex). A vertex m joins p when fl(|p - m|) < t, so
//    |p - m| < t (1 + 4 eps) exactly; the new position is fl(fl(S + m) / k), with S the kept sums
//    (within a relative eps of (k - 1) p), which lies within (k - 1) / k |p - m| plus 3 eps M per
//    coordinate of m.
//  * So a merge or a snap of v onto a representative within t of it needs a vertex of that
//    representative within 2d of v. With reach = 2t (1 + 2^-30) + 2^-40 M > 2d (1 + 4 eps), the
//    vertices joined by distances below reach (computed) fall into groups that never meet:
//    every representative's vertices are of one group, by induction on the order of the adds,
//    and a vertex merges into or snaps onto representatives of its own group only. Each group
//    ends as it would alone, and the relative order of its representatives (which decides the
//    first in range and ties among the nearest) is the same in any set that holds all of it.
//  * A point is lone when its group is its own copies (no vertex of other bits within reach) and
//    the mean of its first k copies is its own bits for every k up to their number (computed as
//    the set computes it, rep_sums): its representative then sits on it from first to last, and
//    every copy snaps onto the point itself. A set without the lone points holds every other
//    group whole, so its snaps are those of the whole set; a snap of a lone point finds nothing
//    there and leaves it, as its own representative would.
//  * A non-finite point is lone: it is in range of nothing and nothing is in range of it.
// Thresholds outside [2^-30, 1] and files with coordinates beyond 2^50 find no point lone (the
// bounds keep every quantity above far from the subnormal and overflowing ranges).
//
// How: every finite point is keyed by its cell in a grid of cubes at least 1.25 reach wide (wider
// when the file spans more than 2^21 such cells on an axis, and up to 4 times wider where a key
// and the point's id then fit 64 bits together, a third less for the sort to move); the keys are
// sorted (a radix sort, stable) and each cell is compared with itself and the 13 neighbours that
// follow it in key order, found by cursors that only move forward: the whole test streams
// through memory instead of looking points up at random, and a point is read only for a cell of
// more than one or one with a neighbour. A computed distance below reach bounds every coordinate
// difference by reach exactly (vertex_grid.hpp), and cells that wide put such points in
// neighbouring cells. A cell with more than 16 distinct points counts them all as near
// something: being wrong that way only leaves more points in the set.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "geometry/point.hpp"

namespace weldrix {

// Whether lone points can be told under the vertex threshold t.
bool lone_points_apply(double vertex_threshold);

// The file's vertices come in runs of at most four (its lines), in the order they are added to
// the set; the result holds at 4 r + k whether point k of run r is lone (1) or not (0). All are 0
// when lone_points_apply is false or there are 2^30 runs or more (ids and positions fit 32 bits).
std::vector<std::uint8_t> lone_points(std::span<const std::span<const point>> runs, double vertex_threshold);

// A plane x = cut that no group crosses, with a margin: every finite vertex lies farther than
// 1.25 reach from it in x (as computed: the margin dwarfs the rounding), near the median x of the vertices, with at
// least a quarter of them on each side; none when there is no such plane within 4096 of those widths of the median, or
// lone_points_apply is false, or a coordinate is beyond 2^50. A vertex is on the left when its x is below the cut (a
// NaN x counts as left: such a point is in range of nothing).
//
// Why the two sides can be unified apart. A left vertex and a right one differ by more than
// 2.5 reach in x, so no group holds both: a set of the left vertices (in their order) and one of
// the right vertices hold every group whole, and the snap of a vertex onto its own side's set is
// its snap onto the whole set (see above). And onto the other side's set a vertex, moved or not,
// snaps onto nothing: a representative within t of it would have a vertex within 2d + t < 2.5
// reach of one of the vertex's own side. So a line with vertices on both sides may snap onto
// both sets, one after the other, with the whole set's result.
std::optional<double> separating_x(std::span<const std::span<const point>> runs, double vertex_threshold);

}  // namespace weldrix
