#include "app/wording.hpp"

#include "geometry/number_format.hpp"

namespace weldrix {

std::string counted(std::size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string describe_changes(const change_totals& t) {
    return counted(t.vertices_moved, "vertex moved", "vertices moved") + ", " +
           counted(t.lines_removed, "line removed", "lines removed") + ", " +
           counted(t.quads_made_triangles, "quad made a triangle", "quads made triangles");
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

void print_thresholds(console& out, const clean_options& clean) {
    out.line("Vertices unification threshold: " + format_threshold(clean.thresholds.vertex_threshold));
    if (clean.snap_on_subfiles) {
        out.line("Unification on subfiles threshold: " + format_threshold(clean.thresholds.subfile_threshold));
    }
}

}  // namespace weldrix
