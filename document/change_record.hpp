// What unification changed in a document's own lines: what a change report shows line by line,
// and what a batch run or a check (-c) counts.
//
// A detailed record of a large part lists nearly every line, so it is kept compact: the points of
// all changed lines as read, the moved vertices, the collapse reasons and the subfile names are
// each held once, in tables of the record that its lines and groups refer to by index. Where a
// vertex came from is its line's point as read, and how far it moved is worked out from the two
// points (point::manhattan_distance, as unification measured it).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "elements/ldraw_line.hpp"
#include "geometry/point.hpp"

namespace weldrix {

// A vertex of a changed line that moved. Where it came from is its line's point as read at index,
// where it went one of the record's targets.
struct vertex_change {
    static constexpr std::uint32_t no_subfile = UINT32_MAX;
    std::uint32_t to = 0;                // as written (for a removed line, where it was when the line collapsed)
    std::uint32_t subfile = no_subfile;  // when snapped: the file that holds that vertex (change_record::subfiles)
    std::uint8_t index = 0;              // the vertex's place in its line as read, from 0
    bool snapped = false;                // it ends on a vertex of an inlined subfile (else it merged with others)
};

struct line_change {
    enum class kind : std::uint8_t { moved, removed, triangle };
    static constexpr std::uint32_t no_reason = UINT32_MAX;
    std::size_t position = 0;          // of the element in the document
    std::size_t line = 0;              // its line number in the input, from 1
    std::uint32_t first_point = 0;     // its points as read: change_record::points from here, point_count of them
    std::uint32_t first_vertex = 0;    // the vertices that moved: change_record::moved from here, vertex_count
    line_type type = line_type::none;  // as read
    std::uint32_t reason = no_reason;  // for removed and triangle, which vertices met (change_record::reasons)
    kind effect = kind::moved;
    std::uint8_t point_count = 0;
    std::uint8_t vertex_count = 0;
};

// An output position (one of the record's targets) and the distinct input positions of the
// vertices that ended there (change_record::group_points from first, count of them), for every
// position that vertices merged into.
struct merge_group {
    std::uint32_t to = 0;
    std::uint32_t first = 0;
    std::uint32_t count = 0;
};

struct change_totals {
    std::size_t lines_removed = 0;
    std::size_t quads_made_triangles = 0;
    std::size_t vertices_moved = 0;  // of the lines that are written
    double largest_distance = 0;
    // The geometry faults the cleaning made (geometry_check.hpp), of them those --fix repaired, and
    // those warned about (neither repaired nor warped-1).
    std::size_t geometry_faults = 0;
    std::size_t geometry_fixed = 0;
    std::size_t geometry_warned = 0;

    bool any() const { return lines_removed + quads_made_triangles + vertices_moved + geometry_fixed > 0; }
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

    // The tables the lines and groups refer to, by 32-bit indices (4 billion points would take
    // 96 GB: a record that would need more runs out of memory first).
    std::vector<point> points;                // points as read (may hold some no line refers to)
    std::vector<point> targets;               // where vertices went
    std::vector<vertex_change> moved;         // the moved vertices of the lines, line after line
    std::vector<std::string> reasons;         // distinct collapse reasons
    std::vector<std::string> subfiles;        // names of the files snapped onto
    std::vector<std::uint32_t> group_points;  // per group, indices into points

    std::span<const point> input(const line_change& change) const {
        return {points.data() + change.first_point, change.point_count};
    }
    std::span<const vertex_change> vertices(const line_change& change) const {
        return {moved.data() + change.first_vertex, change.vertex_count};
    }
    const point& from(const line_change& change, const vertex_change& v) const {
        return points[change.first_point + v.index];
    }
    const point& to(const vertex_change& v) const { return targets[v.to]; }
    const point& to(const merge_group& group) const { return targets[group.to]; }
    const point& from(const merge_group& group, std::size_t k) const { return points[group_points[group.first + k]]; }
    std::string_view reason(const line_change& change) const {
        return change.reason < reasons.size() ? std::string_view(reasons[change.reason]) : std::string_view();
    }
    std::string_view subfile(const vertex_change& v) const {
        return v.subfile < subfiles.size() ? std::string_view(subfiles[v.subfile]) : std::string_view();
    }

    // The index of reason in reasons, added when it is new (there are few distinct reasons).
    std::uint32_t reason_index(std::string_view reason);
    // The index of a new target.
    std::uint32_t add_target(const point& p);

    // Building a record by hand (tests): a changed line with its points as read and the vertices
    // that moved (its point and vertex fields are set here), and a merge group.
    struct moved_vertex {
        int index = 0;
        point to;
        bool snapped = false;
        std::string_view subfile;
    };
    void add_line(line_change change, std::span<const point> input, std::span<const moved_vertex> vertices,
                  std::string_view reason = {});
    void add_group(const point& to, std::span<const point> from);

private:
    bool detailed_;
};

}  // namespace weldrix
