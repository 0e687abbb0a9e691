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
// The same in a batch, where a name not found also says where its first reference is: "subfile
// not found: NAME (3 references skipped; the first in sub/a.dat line 4)", or in a subfile the
// part inlined, "(...; the first in s/b.dat line 2, inlined by sub/a.dat)".
std::string describe_missing(const missing_subfile& missing, const std::string& part);

// The warning for the lines a document dropped (none when there are none): "line 7 is not an
// LDraw line and is dropped", "lines 7, 9 and 12 are not LDraw lines and are dropped", "lines 1,
// 2, ..., 10 and 15 more are not LDraw lines and are dropped".
std::string describe_dropped(const ldraw_file::dropped_lines& dropped);

// Where a reference or line is: "line 5" in the file cleaned, "s/b.dat line 5" in a subfile.
std::string describe_site(const reference_site& site);

// The warnings about a cleaned file's own lines whose numbers are not read as written, the
// circular references skipped and the inlining limit reached, in this order, at most
// shown_warnings of them and then "N more warnings not listed". Each names its line:
//   line 3: "1,5" is read as 1 and "2,5" as 2
//   line 4: "x" is not a number; the rest of the line is read as zeros
//   line 5: 4 of the 7 numbers of a type 2 line are there; the missing ones are read as 0
//   s/b.dat line 2: circular subfile reference to a.dat skipped
//   line 6: subfile expansion stopped while inlining b.dat: the limit of 1000 inlined lines is reached
inline constexpr std::size_t shown_warnings = 10;
std::vector<std::string> describe_line_warnings(const ldraw_file& document, std::size_t max_inlined_lines);
// The warning for a geometry fault the cleaning made: "line 170: the cleaning made this edge line
// identical to line 131 (--fix removes it)".
std::string describe_geometry_fault(const geometry_fault& fault);

// The warnings for the faults that are warned about (geometry_fault::warned), each naming the file
// (name): one each for the first 10 ("50900.dat line 170: the cleaning made this edge line
// identical to line 131 (--fix removes it)"), then "50900.dat: N more geometry faults the cleaning
// made" for the rest.
std::vector<std::string> geometry_warnings(const std::vector<geometry_fault>& faults, const std::string& name);

// The thresholds lines of the console: the vertex threshold, and with -s the subfile one.
void print_thresholds(console& out, const clean_options& clean);

}  // namespace weldrix
