// What unification changed in a document's own lines: what a change report shows line by line,
// and what a batch run or a check (-c) counts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "elements/ldraw_line.hpp"
#include "geometry/point.hpp"

namespace weldrix {

struct vertex_change {
    int index = 0;         // the vertex's place in its line, from 0
    point from;            // as read
    point to;              // as written; for a removed line, where it was when the line collapsed
    double distance = 0;   // Manhattan distance from from to to
    bool snapped = false;  // it ends on a vertex of an inlined subfile (else it merged with others)
    std::string subfile;   // the file that holds that vertex, when snapped
};

struct line_change {
    enum class kind { moved, removed, triangle };
    std::size_t position = 0;          // of the element in the document
    std::size_t line = 0;              // its line number in the input, from 1
    line_type type = line_type::none;  // as read
    kind what = kind::moved;
    std::string reason;                   // for removed and triangle: which vertices met
    std::vector<vertex_change> vertices;  // the vertices that moved
    std::vector<point> input;             // the line's points as read (where a report draws a removed line)
};

// An output position and the distinct input positions of the vertices that ended there, for every
// position that vertices merged into.
struct merge_group {
    point to;
    std::vector<point> from;
};

struct change_totals {
    std::size_t lines_removed = 0;
    std::size_t quads_made_triangles = 0;
    std::size_t vertices_moved = 0;  // of the lines that are written
    double largest_distance = 0;

    bool any() const { return lines_removed + quads_made_triangles + vertices_moved > 0; }
    change_totals& operator+=(const change_totals& other);
};

class change_record {
public:
    // With detailed, every changed line and merge group is kept (for a report); else only totals.
    explicit change_record(bool detailed = false) : detailed_(detailed) {}

    bool detailed() const { return detailed_; }
    change_totals totals;
    std::vector<line_change> lines;   // in position order; detailed only
    std::vector<merge_group> groups;  // in order of first output; detailed only

private:
    bool detailed_;
};

}  // namespace weldrix
