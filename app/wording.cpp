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
    warnings.line(text);
}

void error(console& warnings, std::string_view text) {
    warnings.write("weldrix: error: ");
    warnings.line(text);
}

std::string describe_missing(const missing_subfile& missing) {
    return "subfile not found: " + missing.name + " (" + counted(missing.references, "reference", "references") +
           " skipped)";
}

void print_thresholds(console& out, const clean_options& clean) {
    out.line("Vertices unification threshold: " + format_threshold(clean.thresholds.vertex_threshold));
    if (clean.snap_on_subfiles) {
        out.line("Unification on subfiles threshold: " + format_threshold(clean.thresholds.subfile_threshold));
    }
}

}  // namespace weldrix
