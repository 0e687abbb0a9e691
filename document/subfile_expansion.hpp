// Subfile expansion (option -s): inlining, at every depth, the files a document references, as
// snap targets for unification. See subfile_expansion.cpp for how the straightforward algorithm's
// result is kept while each file is read and parsed once.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "elements/ldraw_line.hpp"

namespace weldrix {

class console;
class search_paths;
class vertex_set;

// Receives each element the expansion inlines, in order, fully placed (for tests and tools).
using inline_observer = std::function<void(const ldraw_line&)>;

// A subfile name that was found in none of the search directories, and how many references to it
// were skipped.
struct missing_subfile {
    std::string name;
    std::size_t references = 0;
};

// Expands the references among elements[0, main_count): every referenced file found along paths
// is inlined with its reference's placement, colour and winding, level after level. The vertices
// of the inlined edge lines, triangles and quads are added to targets (as subfile vertices) in
// inlining order; the elements themselves are not kept. root_name is the canonical path of the
// document's own file, the root of every chain of references that cycles are checked against.
// Inlining stops after max_inlined_lines lines with one message on out. Prints the inlining
// statistics on out. Returns the names that were not found, in the order they were first met.
std::vector<missing_subfile> expand_subfiles(const std::vector<std::unique_ptr<ldraw_line>>& elements,
                                             std::size_t main_count, const std::string& root_name,
                                             const search_paths& paths, std::size_t max_inlined_lines,
                                             vertex_set& targets, console& out, const inline_observer& observer = {});

}  // namespace weldrix
