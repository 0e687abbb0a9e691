#include "app/report_text.hpp"

#include "app/wording.hpp"
#include "geometry/number_format.hpp"

namespace weldrix {
namespace {

const char* type_name(line_type type) {
    switch (type) {
        case line_type::edge: return "edge line";
        case line_type::triangle: return "triangle";
        case line_type::quad: return "quad";
        case line_type::conditional: return "conditional line";
        default: break;
    }
    return "line";
}

void append_counts(std::string& out, const line_counts& c) {
    out += counted(c.lines, "line", "lines") + " (" + counted(c.edges, "edge line", "edge lines") + ", " +
           counted(c.conditionals, "conditional line", "conditional lines") + ", " +
           counted(c.triangles, "triangle", "triangles") + ", " + counted(c.quads, "quad", "quads") + ", " +
           counted(c.subfiles, "subfile reference", "subfile references") + ")";
}

void append_totals(std::string& out, const change_totals& t) {
    out += counted(t.lines_removed, "line removed", "lines removed") + ", " +
           counted(t.quads_made_triangles, "quad made a triangle", "quads made triangles") + ", " +
           counted(t.vertices_moved, "vertex moved", "vertices moved") + ", largest distance moved " +
           format_number(t.largest_distance);
}

// A changed line and its moved vertices, corners counted from 1.
void append_change(std::string& out, const change_record& record, const line_change& change) {
    out += "  line " + std::to_string(change.line) + ": " + type_name(change.type);
    switch (change.effect) {
        case line_change::kind::removed: out += " removed"; break;
        case line_change::kind::triangle: out += " made a triangle"; break;
        case line_change::kind::moved: out += " moved"; break;
    }
    const std::string_view reason = record.reason(change);
    if (!reason.empty()) out.append(" (").append(reason).append(")");
    out += "\n";
    for (const vertex_change& v : record.vertices(change)) {
        const point& from = record.from(change, v);
        const point& to = record.to(v);
        out += "    corner " + std::to_string(v.index + 1) + ": " + from.to_text() + " -> " + to.to_text() +
               ", distance " + format_number(from.manhattan_distance(to));
        const std::string_view subfile = record.subfile(v);
        if (!v.snapped) {
            out += ", merged\n";
        } else if (subfile.empty()) {
            out += ", snapped onto a subfile\n";
        } else {
            out.append(", snapped onto ").append(printable(subfile)).append("\n");
        }
    }
}

void append_groups(std::string& out, const change_record& record, const std::function<void()>& drain) {
    if (record.groups.empty()) return;
    out += "\n  Merged vertices (output position <- input positions):\n";
    for (const merge_group& group : record.groups) {
        out += "    " + record.to(group).to_text() + " <-";
        for (std::size_t k = 0; k < group.count; ++k) {
            out += k ? ", " : " ";
            record.from(group, k).append_text(out);
        }
        out += "\n";
        drain();
    }
}

}  // namespace

void append_text(std::string& out, const file_report& file, const std::function<void()>& drain) {
    out += "\n";
    out += printable(file.input) + " -> " + printable(file.output) + (file.output_written ? "\n" : " (not written)\n");
    out += "  vertex threshold " + format_number(file.thresholds.vertex_threshold);
    if (file.snap_on_subfiles) {
        out += ", subfile threshold " + format_number(file.thresholds.subfile_threshold) +
               ", subfiles inlined and snapped onto (-s)\n";
    } else {
        out += ", subfiles not inlined (no -s)\n";
    }
    out += "  read ";
    append_counts(out, file.read);
    out += file.output_written ? "\n  written " : "\n  would write ";
    append_counts(out, file.written);
    out += "\n  ";
    append_totals(out, file.changes.totals);
    out += "\n";
    if (!file.dropped.empty()) {
        out += "\n  Dropped lines (not LDraw lines; input line numbers):\n";
        for (const auto& line : file.dropped)
            out += "  line " + std::to_string(line.number) + ": " + printable(line.text) + "\n";
    }
    if (!file.warnings.empty()) {
        out += "\n  Warnings:\n";
        for (const std::string& warning : file.warnings) out += "  " + printable(warning) + "\n";
    }
    if (!file.geometry.empty()) {
        // Only when the cleaning made a fault, so that other reports read as before.
        out += "\n  Geometry faults the cleaning made (input line numbers):\n";
        for (const geometry_fault& fault : file.geometry) {
            out += "    " + describe_geometry_fault(fault);
            out += fault.fixed ? ", repaired by --fix\n" : "\n";
        }
    }
    if (file.changes.lines.empty()) {
        out += "\n  No line was changed.\n";
        return;
    }
    out += "\n  Changed lines (input line numbers; corners counted from 1):\n";
    for (const line_change& change : file.changes.lines) {
        append_change(out, file.changes, change);
        drain();
    }
    append_groups(out, file.changes, drain);
}

void append_text_end(std::string& out, std::size_t files, const change_totals& all) {
    if (files == 1) return;
    out += "\n";
    out += counted(files, "file", "files");
    out += ": ";
    append_totals(out, all);
    out += "\n";
}

}  // namespace weldrix
