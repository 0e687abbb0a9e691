// The change report (option -r): what a run changed in each file it cleaned, in one of three
// forms: plain text (report_text.hpp), JSON (versioned; doc/weldrix.1 describes it;
// report_json.hpp) or a self-contained HTML page that draws the changes (the template
// app/report_page.html with the data built in; report_html.hpp).
//
// A report covers a list of files, one record each, so that a run that cleans many files hands
// every one to a single report; report_writer.hpp writes it as the files are done.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "app/report_drawing.hpp"
#include "document/change_record.hpp"
#include "document/geometry_check.hpp"
#include "document/ldraw_file.hpp"
#include "document/line_counts.hpp"
#include "geometry/vertex_set.hpp"

namespace weldrix {

class file_system;

// Everything the report says about one file.
struct file_report {
    std::string input;
    std::string output;
    bool output_written = true;  // false for a check (-c): the output was not written
    unify_thresholds thresholds;
    bool snap_on_subfiles = false;
    line_counts read;
    line_counts written;
    change_record changes{true};
    // The lines the reader dropped although they hold more than white space (no leading integer,
    // or a type other than 0 to 5), and the warnings about the file, as the console tells them.
    std::vector<ldraw_file::dropped_lines::line> dropped;
    std::vector<std::string> warnings;
    std::vector<geometry_fault> geometry;  // the geometry faults the cleaning made, in line order
    report_drawing drawing;
};

// A page stays quick to open (its script builds a row and marks for every change it lists): it
// lists at most page_changes_per_file changed lines and merge groups of a file, and at most
// page_changes_in_all changed lines in all; the totals still count everything, and the page's
// note says what it left out. The text and JSON forms list everything.
inline constexpr std::size_t page_changes_per_file = 5'000;
inline constexpr std::size_t page_changes_in_all = 50'000;

enum class report_form { text, json, html };

// The form a report file's name asks for: ".html" or ".htm" a page, ".json" JSON, anything else
// text (letter case does not matter).
report_form report_form_of(std::string_view name);

// The whole report of the files in each form, in memory (report_writer.hpp writes it file by
// file, with the same bytes).
std::string report_text(const std::vector<file_report>& files);
std::string report_json(const std::vector<file_report>& files);
std::string report_html(const std::vector<file_report>& files);

// Writes the report in the form its name asks for, replacing the file safely (replace_file).
// False when it cannot be created or fully written; the file is then left as it was.
[[nodiscard]] bool write_report(file_system& fs, const std::string& name, const std::vector<file_report>& files);

}  // namespace weldrix
