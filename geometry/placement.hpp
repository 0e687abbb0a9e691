// Where a subfile reference puts the content of its file: every point p of the file goes to
// orientation * p + offset. Nested references compose, the outer placement on the left.
#pragma once

#include "geometry/matrix.hpp"
#include "geometry/point.hpp"

namespace weldrix {

struct placement {
    matrix orientation;  // rows (a b c), (d e f), (g h i) of the reference line
    point offset;        // x y z of the reference line

    // orientation * p, then the offset added: the order in which an element is placed
    // (transform, then translate), so that every placed point has the same bits.
    // Written out here, term by term in the order of matrix::transform and point::translate, so
    // that the inlining of a subfile, which places millions of points, makes no call per point;
    // each operation rounds as theirs do (no contraction: -ffp-contract=off).
    point apply(const point& p) const {
        const matrix& m = orientation;
        return {m.a * p.x + m.b * p.y + m.c * p.z + offset.x, m.d * p.x + m.e * p.y + m.f * p.z + offset.y,
                m.g * p.x + m.h * p.y + m.i * p.z + offset.z};
    }

    // The placement of a reference inside the placed file: its offset placed like any point, its
    // orientation multiplied on the left.
    placement compose(const placement& inner) const {
        return {orientation.multiply(inner.orientation), apply(inner.offset)};
    }
};

}  // namespace weldrix
