#include "app/report_json.hpp"

#include <algorithm>
#include <span>

namespace weldrix {
namespace {

const char* change_name(line_change::kind what) {
    switch (what) {
        case line_change::kind::removed: return "removed";
        case line_change::kind::triangle: return "triangle";
        case line_change::kind::moved: break;
    }
    return "moved";
}

void write_counts(json_writer& json, const line_counts& counts) {
    json.open("lines");
    json.integer(counts.lines);
    json.field("edges", counts.edges);
    json.field("conditionals", counts.conditionals);
    json.field("triangles", counts.triangles);
    json.field("quads", counts.quads);
    json.field("subfiles", counts.subfiles);
    json.close();
}

void write_vertex(json_writer& json, const change_record& record, const line_change& change, const vertex_change& v) {
    const point& from = record.from(change, v);
    const point& to = record.to(v);
    json.open("index");
    json.integer(v.index);
    json.field("from");
    json.point_array(from);
    json.field("to");
    json.point_array(to);
    json.field("distance", from.manhattan_distance(to));
    json.text_field("onto", v.snapped ? "snapped" : "merged");
    if (v.snapped && !record.subfile(v).empty()) json.text_field("subfile", record.subfile(v));
    json.close();
}

// The first limit changed lines of a record, as an array; drain is called after each.
void write_changes(json_writer& json, const change_record& record, std::size_t limit,
                   const std::function<void()>& drain) {
    json.array(std::min(limit, record.lines.size()), [&](std::size_t i) {
        const line_change& change = record.lines[i];
        json.open("line");
        json.integer(change.line);
        json.field("type", static_cast<std::size_t>(change.type));
        json.text_field("change", change_name(change.effect));
        if (!record.reason(change).empty()) json.text_field("reason", record.reason(change));
        json.field("vertices");
        const std::span<const vertex_change> vertices = record.vertices(change);
        json.array(vertices.size(), [&](std::size_t k) { write_vertex(json, record, change, vertices[k]); });
        json.close();
        drain();
    });
}

// The first limit merge groups of a record, as an array; drain is called after each.
void write_groups(json_writer& json, const change_record& record, std::size_t limit,
                  const std::function<void()>& drain) {
    json.array(std::min(limit, record.groups.size()), [&](std::size_t i) {
        const merge_group& group = record.groups[i];
        json.open("to");
        json.point_array(record.to(group));
        json.field("from");
        json.array(group.count, [&](std::size_t k) { json.point_array(record.from(group, k)); });
        json.close();
        drain();
    });
}

void write_totals(json_writer& json, const change_totals& totals) {
    json.open("removed");
    json.integer(totals.lines_removed);
    json.field("triangles", totals.quads_made_triangles);
    json.field("moved", totals.vertices_moved);
    json.field("largest_distance", totals.largest_distance);
    json.field("geometry_faults", totals.geometry_faults);
    json.field("geometry_fixed", totals.geometry_fixed);
    json.close();
}

}  // namespace

void write_file_json(json_writer& json, const file_report& file, const listed& limit,
                     const std::function<void()>& drain) {
    json.open("input");
    json.string(file.input);
    json.text_field("output", file.output);
    if (!file.output_written) json.field("output_written", false);  // absent: it was written
    json.field("thresholds");
    json.open("vertex");
    json.number(file.thresholds.vertex_threshold);
    json.field("subfile", file.thresholds.subfile_threshold);
    json.close();
    json.field("snap_on_subfiles", file.snap_on_subfiles);
    json.field("read");
    write_counts(json, file.read);
    json.field("written");
    write_counts(json, file.written);
    json.field("changes");
    write_changes(json, file.changes, limit.changes, drain);
    json.field("groups");
    write_groups(json, file.changes, limit.groups, drain);
    json.field("geometry");
    json.raw("[");
    for (std::size_t i = 0; i < file.geometry.size(); ++i) {
        const geometry_fault& fault = file.geometry[i];
        if (i) json.raw(",");
        json.open("line");
        json.integer(fault.line);
        json.text_field("fault", geometry_fault_name(fault.kind));
        if (fault.kind == geometry_fault_kind::identical) json.field("to_line", fault.to_line);
        json.field("fixed", fault.fixed);
        json.close();
    }
    json.raw("]");
    json.field("totals");
    write_totals(json, file.changes.totals);
    // Absent: none.
    if (!file.dropped.empty()) {
        json.field("dropped");
        json.raw("[");
        for (std::size_t i = 0; i < file.dropped.size(); ++i) {
            if (i) json.raw(",");
            json.open("line");
            json.integer(file.dropped[i].number);
            json.text_field("text", file.dropped[i].text);
            json.close();
        }
        json.raw("]");
    }
    if (!file.warnings.empty()) {
        json.field("warnings");
        json.raw("[");
        for (std::size_t i = 0; i < file.warnings.size(); ++i) {
            if (i) json.raw(",");
            json.string(file.warnings[i]);
        }
        json.raw("]");
    }
    json.close();
}

}  // namespace weldrix
