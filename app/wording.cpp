#include "app/wording.hpp"

#include "geometry/number_format.hpp"

namespace weldrix {

std::string counted(std::size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string describe_changes(const change_totals& t) {
    return counted(t.vertices_moved, "vertex moved", "vertices moved") + ", " +
           counted(t.lines_removed, "line removed", "lines removed") + ", " +
           counted(t.quads_made_triangles, "quad made a triangle", "quads made triangles") +
           (t.geometry_fixed > 0
                ? ", " + counted(t.geometry_fixed, "geometry fault repaired", "geometry faults repaired")
                : std::string());
}

void warn(console& warnings, std::string_view text) {
    warnings.write("weldrix: warning: ");
    warnings.line(printable(text));
}

void error(console& warnings, std::string_view text) {
    warnings.write("weldrix: error: ");
    warnings.line(text);
}

std::string describe_missing(const missing_subfile& missing) {
    const char* what = missing.why == missing_subfile::reason::climbs_out
                           ? "subfile name climbs out of its search folder, not looked up: "
                           : "subfile not found: ";
    return what + missing.name + " (" + counted(missing.references, "reference", "references") + " skipped)";
}

std::string describe_dropped(const ldraw_file::dropped_lines& dropped) {
    const std::vector<std::size_t>& named = dropped.first;
    if (named.empty()) return {};
    if (dropped.count == 1) return "line " + std::to_string(named[0]) + " is not an LDraw line and is dropped";
    std::string text = "lines ";
    const std::size_t more = dropped.count - named.size();
    for (std::size_t i = 0; i < named.size(); ++i) {
        if (i > 0) text += i + 1 == named.size() && more == 0 ? " and " : ", ";
        text += std::to_string(named[i]);
    }
    if (more > 0) text += " and " + std::to_string(more) + " more";
    return text + " are not LDraw lines and are dropped";
}

namespace {

const char* line_noun(line_type type) {
    switch (type) {
        case line_type::edge: return "edge line";
        case line_type::triangle: return "triangle";
        case line_type::quad: return "quad";
        case line_type::conditional: return "conditional line";
        default: return "line";
    }
}

}  // namespace

std::string describe_geometry_fault(const geometry_fault& fault) {
    std::string text = "line " + std::to_string(fault.line) + ": the cleaning made this " + line_noun(fault.type);
    switch (fault.what) {
        case geometry_fault_kind::identical: text += " identical to line " + std::to_string(fault.to_line); break;
        case geometry_fault_kind::collinear: text += " collinear"; break;
        case geometry_fault_kind::concave: text += " concave"; break;
        case geometry_fault_kind::bowtie: text += " a bowtie (its sides cross)"; break;
        case geometry_fault_kind::warped: text += " warped beyond 3 degrees"; break;
        case geometry_fault_kind::warped_1: text += " warped beyond 1 degree"; break;
    }
    switch (fault.repair) {
        case geometry_repair::none: return text + " (--fix cannot repair it)";
        case geometry_repair::remove: return text + " (--fix removes it)";
        case geometry_repair::triangle: return text + " (--fix makes it a triangle)";
        case geometry_repair::split: return text + " (--fix splits it)";
    }
    return text;
}

std::vector<std::string> geometry_warnings(const std::vector<geometry_fault>& faults) {
    constexpr std::size_t named = 10;
    std::vector<std::string> warnings;
    std::size_t more = 0;
    for (const geometry_fault& fault : faults) {
        if (!fault.warned()) continue;
        if (warnings.size() < named) {
            warnings.push_back(describe_geometry_fault(fault));
        } else {
            ++more;
        }
    }
    if (more > 0)
        warnings.push_back("and " + counted(more, "more geometry fault", "more geometry faults") +
                           " the cleaning made");
    return warnings;
}

void print_thresholds(console& out, const clean_options& clean) {
    out.line("Vertices unification threshold: " + format_threshold(clean.thresholds.vertex_threshold));
    if (clean.snap_on_subfiles) {
        out.line("Unification on subfiles threshold: " + format_threshold(clean.thresholds.subfile_threshold));
    }
}

}  // namespace weldrix
