#include "app/report_html.hpp"

#include <algorithm>

#include "app/report_page.hpp"

namespace weldrix {
namespace {

void write_drawn_line(json_writer& json, const drawn_line& line, bool numbered) {
    json.raw("[");
    if (numbered) {
        json.integer(line.line);
        json.raw(",");
    }
    json.integer(static_cast<std::size_t>(line.type));
    if (numbered) {
        json.raw(",");
        json.integer(static_cast<std::size_t>(line.shown));
    }
    for (std::size_t k = 0; k < line.count; ++k) {
        json.raw(",");
        json.number(line.points[k].x);
        json.raw(",");
        json.number(line.points[k].y);
        json.raw(",");
        json.number(line.points[k].z);
    }
    json.raw("]");
}

}  // namespace

// The page template around its data: the placeholder stands alone on its line (the build checks
// that there is one such line), and that line is replaced by the data, on one line.
std::string_view page_head() {
    static constexpr std::string_view placeholder_line = "\n/*WELDRIX_REPORT_DATA*/\n";
    const std::string_view page = report_page_template();
    return page.substr(0, page.find(placeholder_line) + 1);
}
std::string_view page_tail() {
    const std::string_view page = report_page_template();
    return page.substr(page_head().size() + std::string_view("/*WELDRIX_REPORT_DATA*/").size());
}

listed page_limit(const change_record& changes, std::size_t left, std::string& note) {
    listed limit;
    limit.changes = std::min({changes.lines.size(), page_changes_per_file, left});
    limit.groups = std::min(changes.groups.size(), page_changes_per_file);
    if (limit.changes == changes.lines.size() && limit.groups == changes.groups.size()) return limit;
    note = "The page lists " + std::to_string(limit.changes) + " of the file's " +
           std::to_string(changes.lines.size()) + " changed lines and " + std::to_string(limit.groups) + " of its " +
           std::to_string(changes.groups.size()) +
           " merge groups (the totals count them all); the text and JSON reports list every one.";
    return limit;
}

void write_drawing(json_writer& json, const report_drawing& drawing, const std::string& more_note,
                   const std::function<void()>& drain) {
    json.open("full");
    json.boolean(drawing.full && more_note.empty());
    json.field("lines");
    json.array(drawing.lines.size(), [&](std::size_t k) {
        write_drawn_line(json, drawing.lines[k], true);
        drain();
    });
    json.field("subfile");
    json.array(drawing.subfile.size(), [&](std::size_t k) {
        write_drawn_line(json, drawing.subfile[k], false);
        drain();
    });
    json.text_field(
        "note", drawing.note.empty() || more_note.empty() ? drawing.note + more_note : drawing.note + " " + more_note);
    json.close();
}

}  // namespace weldrix
