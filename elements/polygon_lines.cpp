#include "elements/polygon_lines.hpp"

#include <algorithm>
#include <utility>

#include "elements/removed_line.hpp"

namespace weldrix {
namespace {

// The collapse of an element whose vertices p and q (p < q) met into a removed line.
collapse removal(collapse::pair_kind pair, int p, int q) {
    collapse c;
    c.replacement = std::make_unique<removed_line>();
    c.pair = pair;
    c.met = {p, q};
    return c;
}

}  // namespace

collapse edge_line::simplify() const {
    if (!close(0, 1)) return {};
    return removal(collapse::pair_kind::ends, 0, 1);
}

triangle_line::triangle_line(const point& p1, const point& p2, const point& p3, const line_colour& colour) {
    points = {p1, p2, p3};
    set_colour(colour);
}

collapse triangle_line::simplify() const {
    for (const auto& [p, q] : {std::pair{0, 1}, {1, 2}, {0, 2}}) {
        if (close(p, q)) return removal(collapse::pair_kind::corners, p, q);
    }
    return {};
}

void triangle_line::invert() { std::swap(points[0], points[2]); }

collapse quad_line::simplify() const {
    for (int side = 0; side < 4; ++side) {
        const int next = (side + 1) % 4;
        if (!close(side, next)) continue;
        // Keep the three corners other than `side`, starting after it: (2,3,4), (1,3,4),
        // (1,2,4), (1,2,3) for the sides 1-2, 2-3, 3-4, 4-1.
        collapse c;
        c.pair = collapse::pair_kind::corners;
        c.met = {std::min(side, next), std::max(side, next)};
        for (int k = 0; k < 4; ++k) {
            if (k != side) c.kept[c.kept_count++] = k;
        }
        c.replacement =
            std::make_unique<triangle_line>(points[c.kept[0]], points[c.kept[1]], points[c.kept[2]], colour());
        return c;
    }
    // No neighbouring corners met, but opposite ones may have: then both triangles of the quad
    // are degenerate and it has no area left.
    if (close(0, 2)) return removal(collapse::pair_kind::opposite_corners, 0, 2);
    if (close(1, 3)) return removal(collapse::pair_kind::opposite_corners, 1, 3);
    return {};
}

void quad_line::invert() { std::swap(points[0], points[2]); }

collapse cond_line::simplify() const {
    for (int p = 0; p < 4; ++p) {
        for (int q = p + 1; q < 4; ++q) {
            if (close(p, q)) return removal(collapse::pair_kind::points, p, q);
        }
    }
    return {};
}

}  // namespace weldrix
