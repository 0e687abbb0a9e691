#include "document/change_record.hpp"

#include <algorithm>
#include <new>

namespace weldrix {

change_totals& change_totals::operator+=(const change_totals& other) {
    lines_removed += other.lines_removed;
    quads_made_triangles += other.quads_made_triangles;
    vertices_moved += other.vertices_moved;
    geometry_faults += other.geometry_faults;
    geometry_fixed += other.geometry_fixed;
    geometry_warned += other.geometry_warned;
    if (!(other.largest_distance <= largest_distance)) largest_distance = other.largest_distance;
    return *this;
}

std::uint32_t change_record::reason_index(std::string_view reason) {
    const auto found = std::find(reasons.begin(), reasons.end(), reason);
    if (found != reasons.end()) return static_cast<std::uint32_t>(found - reasons.begin());
    reasons.emplace_back(reason);
    return static_cast<std::uint32_t>(reasons.size() - 1);
}

std::uint32_t change_record::add_target(const point& p) {
    if (targets.size() >= UINT32_MAX) throw std::bad_alloc();
    targets.push_back(p);
    return static_cast<std::uint32_t>(targets.size() - 1);
}

void change_record::add_line(line_change change, std::span<const point> input, std::span<const moved_vertex> vertices,
                             std::string_view reason) {
    change.first_point = static_cast<std::uint32_t>(points.size());
    change.point_count = static_cast<std::uint8_t>(input.size());
    change.first_vertex = static_cast<std::uint32_t>(moved.size());
    change.vertex_count = static_cast<std::uint8_t>(vertices.size());
    change.reason = reason.empty() ? line_change::no_reason : reason_index(reason);
    points.insert(points.end(), input.begin(), input.end());
    for (const moved_vertex& v : vertices) {
        vertex_change m;
        m.to = add_target(v.to);
        m.index = static_cast<std::uint8_t>(v.index);
        m.snapped = v.snapped;
        if (!v.subfile.empty()) {
            m.subfile = static_cast<std::uint32_t>(subfiles.size());
            subfiles.emplace_back(v.subfile);
        }
        moved.push_back(m);
    }
    lines.push_back(change);
}

void change_record::add_group(const point& to, std::span<const point> from) {
    groups.push_back(
        {add_target(to), static_cast<std::uint32_t>(group_points.size()), static_cast<std::uint32_t>(from.size())});
    for (const point& p : from) {
        group_points.push_back(static_cast<std::uint32_t>(points.size()));
        points.push_back(p);
    }
}

}  // namespace weldrix
