// How the console and the text report put counts, changes and warnings into words, the same
// for a single file and a batch.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "document/change_record.hpp"
#include "document/clean_options.hpp"
#include "document/ldraw_file.hpp"
#include "document/subfile_expansion.hpp"
#include "io/console.hpp"

namespace weldrix {

// A count with its noun: "1 line removed", "3 lines removed".
std::string counted(std::size_t n, const char* one, const char* many);

// "12 vertices moved, 1 line removed, 0 quads made triangles".
std::string describe_changes(const change_totals& totals);

// Writes "weldrix: warning: TEXT" as a line to the warnings console (standard error), control
// characters of the names in it written printable (console.hpp).
void warn(console& warnings, std::string_view text);

// Writes "weldrix: error: TEXT" as a line to the warnings console (standard error).
void error(console& warnings, std::string_view text);

// "subfile not found: NAME (3 references skipped)", or for a name with a ".." component "subfile
// name climbs out of its search folder, not looked up: NAME (1 reference skipped)".
std::string describe_missing(const missing_subfile& missing);

// The warning for the lines a document dropped (none when there are none): "line 7 is not an
// LDraw line and is dropped", "lines 7, 9 and 12 are not LDraw lines and are dropped", "lines 1,
// 2, ..., 10 and 15 more are not LDraw lines and are dropped".
std::string describe_dropped(const ldraw_file::dropped_lines& dropped);

// The warning for a geometry fault the cleaning made: "line 170: the cleaning made this edge line
// identical to line 131 (--fix removes it)".
std::string describe_geometry_fault(const geometry_fault& fault);

// The warnings for the faults that are warned about (geometry_fault::warned): one each for the
// first 10, then "and N more geometry faults the cleaning made" for the rest.
std::vector<std::string> geometry_warnings(const std::vector<geometry_fault>& faults);

// The thresholds lines of the console: the vertex threshold, and with -s the subfile one.
void print_thresholds(console& out, const clean_options& clean);

}  // namespace weldrix
