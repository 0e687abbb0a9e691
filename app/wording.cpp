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

std::string describe_missing(const missing_subfile& missing, const std::string& part) {
    std::string text = describe_missing(missing);
    if (missing.why != missing_subfile::reason::not_found) return text;
    text.pop_back();  // its closing parenthesis
    const reference_site& first = missing.first;
    text += "; the first in " + (first.file.empty() ? part : first.file) + " line " + std::to_string(first.line);
    if (!first.file.empty()) text += ", inlined by " + part;
    return text + ")";
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

std::string describe_site(const reference_site& site) {
    const std::string line = "line " + std::to_string(site.line);
    return site.file.empty() ? line : site.file + " " + line;
}

namespace {

std::string quoted(std::string_view token) {
    std::string text;
    text.reserve(token.size() + 2);
    text += '"';
    text += token;
    text += '"';
    return text;
}

std::string describe_numbers(const ldraw_file::number_problem& problem) {
    std::string text = "line " + std::to_string(problem.line) + ": ";
    const auto& partials = problem.partials;
    for (std::size_t i = 0; i < partials.size(); ++i) {
        if (i > 0) text += i + 1 == partials.size() ? " and " : ", ";
        text += quoted(partials[i].token) + (i == 0 ? " is read as " : " as ") + format_number(partials[i].value);
    }
    if (!problem.not_a_number.empty()) {
        if (!partials.empty()) text += "; ";
        return text + quoted(problem.not_a_number) + " is not a number; the rest of the line is read as zeros";
    }
    if (problem.read >= problem.needed) return text;
    if (!partials.empty()) text += "; ";
    return text + std::to_string(problem.read) + " of the " + std::to_string(problem.needed) + " numbers of a type " +
           std::to_string(static_cast<int>(problem.type)) + " line are there; the missing ones are read as 0";
}

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

std::vector<std::string> describe_line_warnings(const ldraw_file& document, std::size_t max_inlined_lines) {
    std::vector<std::string> warnings;
    const std::size_t all =
        document.numbers.count + document.cycles.size() + (document.limit_reached.has_value() ? 1 : 0);
    const auto add = [&](std::string text) {
        if (warnings.size() < shown_warnings) warnings.push_back(std::move(text));
    };
    for (const ldraw_file::number_problem& problem : document.numbers.first) add(describe_numbers(problem));
    for (const skipped_reference& cycle : document.cycles) {
        add(describe_site(cycle.site) + ": circular subfile reference to " + cycle.name + " skipped");
    }
    if (const auto& limit = document.limit_reached) {
        add(describe_site(limit->site) + ": subfile expansion stopped while inlining " + limit->name +
            ": the limit of " + std::to_string(max_inlined_lines) + " inlined lines is reached");
    }
    if (all > warnings.size()) warnings.push_back(std::to_string(all - warnings.size()) + " more warnings not listed");
    return warnings;
}

std::string describe_geometry_fault(const geometry_fault& fault) {
    std::string text = "line " + std::to_string(fault.line) + ": the cleaning made this " + line_noun(fault.type);
    switch (fault.kind) {
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

std::vector<std::string> geometry_warnings(const std::vector<geometry_fault>& faults, const std::string& name) {
    constexpr std::size_t named = 10;
    std::vector<std::string> warnings;
    std::size_t more = 0;
    for (const geometry_fault& fault : faults) {
        if (!fault.warned()) continue;
        if (warnings.size() < named) {
            warnings.push_back(name + " " + describe_geometry_fault(fault));
        } else {
            ++more;
        }
    }
    if (more > 0)
        warnings.push_back(name + ": " + counted(more, "more geometry fault", "more geometry faults") +
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
