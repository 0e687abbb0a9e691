#include "elements/triangle_line.hpp"

#include <utility>

#include "elements/removed_line.hpp"

namespace weldrix {

triangle_line::triangle_line(const point& p1, const point& p2, const point& p3, const line_colour& colour) {
    points = {p1, p2, p3};
    set_colour(colour);
}

bool triangle_line::simplify(std::unique_ptr<ldraw_line>& replacement) const {
    if (!close(0, 1) && !close(1, 2) && !close(0, 2)) return false;
    replacement = std::make_unique<removed_line>();
    return true;
}

void triangle_line::invert() { std::swap(points[0], points[2]); }

}  // namespace weldrix
