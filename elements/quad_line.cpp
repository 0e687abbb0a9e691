#include "elements/quad_line.hpp"

#include <utility>

#include "elements/removed_line.hpp"
#include "elements/triangle_line.hpp"

namespace weldrix {

bool quad_line::simplify(std::unique_ptr<ldraw_line>& replacement) const {
    for (int side = 0; side < 4; ++side) {
        const int next = (side + 1) % 4;
        if (close(side, next)) {
            // Keep the three corners other than `side`, starting after it: (2,3,4), (1,3,4),
            // (1,2,4), (1,2,3) for the sides 1-2, 2-3, 3-4, 4-1.
            int keep[3];
            int n = 0;
            for (int k = 0; k < 4; ++k) {
                if (k != side) keep[n++] = k;
            }
            replacement = std::make_unique<triangle_line>(points[keep[0]], points[keep[1]], points[keep[2]], colour());
            return true;
        }
    }
    // No neighbouring corners met, but opposite ones may have: then both triangles of the quad
    // are degenerate and it has no area left.
    if (close(0, 2) || close(1, 3)) {
        replacement = std::make_unique<removed_line>();
        return true;
    }
    return false;
}

void quad_line::invert() { std::swap(points[0], points[2]); }

}  // namespace weldrix
