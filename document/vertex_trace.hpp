// Where an element's vertices came from as it collapsed, and what its unification changed: the
// two things both the totals (batch runs, -c) and the detailed records (reports) count, from the
// collapses the element's own collapse test found (ldraw_line::simplify).
#pragma once

#include <array>
#include <cstddef>
#include <span>

#include "document/change_record.hpp"
#include "elements/ldraw_line.hpp"
#include "geometry/point.hpp"

namespace weldrix {

// An element's vertex k is vertex map[k] of the line as read. A line that collapsed to nothing
// keeps the points it had then, and their map.
struct vertex_trace {
    std::array<int, 4> map{0, 1, 2, 3};
    std::array<point, 4> at_collapse{};
    std::array<int, 4> collapse_map{};
    std::size_t collapse_count = 0;

    // Follows element's collapse c: the vertices its replacement keeps, or where they were when
    // it became a removed line.
    void follow(const ldraw_line& element, const collapse& c);

    // The vertices of element (what the traced line became) as changes are counted: as written,
    // or for a removed line where they were when it collapsed; map_of gives their places as read.
    std::span<const point> final_points(const ldraw_line& element) const;
    const std::array<int, 4>& map_of(const ldraw_line& element) const;
};

// A vertex whose value changed below the seven digits a coordinate is written with (an average of
// equal values can differ in its last bit) is written as it was: it did not move.
bool same_text(const point& a, const point& b);

struct line_outcome {
    bool removed = false;
    bool triangle = false;  // a quad made a triangle
};

// Adds to totals what unification did to one element: element is what it became, originals its
// points as read. Every vertex that is written elsewhere than it was read (for a removed line,
// that was elsewhere when the line collapsed) counts, in line order, and is handed to
// moved(index, to); a vertex whose value changed only below the digits it is written with did
// not move.
template <class Moved>
line_outcome count_changes(change_totals& totals, line_type as_read, const ldraw_line& element,
                           const vertex_trace& trace, const point* originals, Moved&& moved) {
    line_outcome outcome;
    outcome.removed = element.type_code() == line_type::removed;
    outcome.triangle = !outcome.removed && as_read == line_type::quad && element.type_code() == line_type::triangle;
    const std::span<const point> final_points = trace.final_points(element);
    const std::array<int, 4>& map = trace.map_of(element);
    for (std::size_t k = 0; k < final_points.size(); ++k) {
        const int index = map[k];
        const point& from = originals[index];
        const point& to = final_points[k];
        if (same_bits(from, to) || same_text(from, to)) continue;
        const double distance = from.manhattan_distance(to);
        if (!(distance <= totals.largest_distance)) totals.largest_distance = distance;
        if (!outcome.removed) ++totals.vertices_moved;
        moved(index, to);
    }
    if (outcome.removed) ++totals.lines_removed;
    if (outcome.triangle) ++totals.quads_made_triangles;
    return outcome;
}

}  // namespace weldrix
