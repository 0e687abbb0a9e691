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
    point apply(const point& p) const {
        point placed = orientation.transform(p);
        placed.translate(offset);
        return placed;
    }

    // The placement of a reference inside the placed file: its offset placed like any point, its
    // orientation multiplied on the left.
    placement compose(const placement& inner) const {
        return {orientation.multiply(inner.orientation), apply(inner.offset)};
    }
};

}  // namespace weldrix
