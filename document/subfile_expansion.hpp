// Subfile expansion (option -s): inlining, at every depth, the files a document references, as
// snap targets for unification. See subfile_expansion.cpp for how the straightforward algorithm's
// result is kept while each file is read and parsed once.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "elements/ldraw_line.hpp"

namespace weldrix {

class console;
class search_paths;
class vertex_set;

// Receives each element the expansion inlines, in order, fully placed (for tests and tools).
using inline_observer = std::function<void(const ldraw_line&)>;

// Where a reference is: the file that holds it, by the name the reference to that file gives
// (empty: the document itself, or one of its sections), and its line (from 1; 0 when not known).
struct reference_site {
    std::string file;
    std::size_t line = 0;
};

// A reference the expansion did not follow: the name it gives, and where it is.
struct skipped_reference {
    std::string name;
    reference_site site;
};

// A subfile name that was found in none of the search directories, or never looked up, and how
// many references to it were skipped.
struct missing_subfile {
    enum class reason {
        not_found,   // in none of the search directories
        climbs_out,  // a ".." component would leave the search folders: never looked up (climbs_out)
    };
    std::string name;
    std::size_t references = 0;
    reason why = reason::not_found;
    reference_site first;  // where the first of them is
};

// Inlines, with the option -s, every file the references of a document name, at every depth, as
// snap targets for unification: each referenced file found along the search list is placed with
// its reference's placement, colour and winding, level after level. The vertices of the inlined
// edge lines, triangles and quads are added to a unit's target set (as subfile vertices) in
// inlining order; the elements themselves are not kept.
//
// A document is expanded as one or more units (a multi-part document's sections, see
// document_units.hpp), each into its own target set; files are read and parsed once for all of
// them, and the statistics add up. A reference whose file is already on its own chain of
// references (the unit's own file or section is the root of every chain) is skipped with one
// message per name. Inlining stops for good after max_inlined_lines lines, with one message.
class subfile_expansion {
public:
    // Once stop is set (an interrupt), no further file is inlined: the run is ending, and what was
    // inlined is never used. The observer sees the placed lines of the files parsed with every
    // line (a subfile_library made with every_line, as it is by default).
    subfile_expansion(const search_paths& paths, std::size_t max_inlined_lines, console& out,
                      const inline_observer& observer = {}, const std::atomic<bool>* stop = nullptr);
    ~subfile_expansion();
    subfile_expansion(const subfile_expansion&) = delete;
    subfile_expansion& operator=(const subfile_expansion&) = delete;

    // A section of the document: references whose name equals name (ASCII case-insensitive, "\"
    // and "/" alike) inline elements[begin, end), before the search list is tried, at any depth.
    // line_numbers, when not empty, holds the document's line of each element (for the sites of
    // the references skipped). Needs begin <= end <= elements.size().
    void add_section(std::string_view name, const std::vector<std::unique_ptr<ldraw_line>>& elements, std::size_t begin,
                     std::size_t end, const std::string& document_name,
                     const std::vector<std::size_t>& line_numbers = {});

    // Expands the references among elements[begin, end) into targets. root_name is the identity of
    // the file (its canonical path) or section (section_identity) these elements are. With origins,
    // the file each new target comes from is appended, target by target, as an index into
    // origin_names, to which a name is added the first time a target comes from it (the names may
    // be shared by the units of a document). line_numbers as for add_section.
    // With needed_only, targets gets only the representatives that snaps of the vertices of
    // elements[begin, end), as they are now, can reach, in their order (see snap_region.hpp):
    // unification then gives the result of the whole set, as long as those elements do not change
    // before it. (Under thresholds snap_region does not serve, the whole set.)
    // Needs begin <= end <= elements.size().
    void expand(const std::vector<std::unique_ptr<ldraw_line>>& elements, std::size_t begin, std::size_t end,
                const std::string& root_name, vertex_set& targets, std::vector<std::uint32_t>* origins = nullptr,
                std::vector<std::string>* origin_names = nullptr, const std::vector<std::size_t>& line_numbers = {},
                bool needed_only = false);

    // The inlining statistics, on the console given at construction.
    void print_statistics() const;
    // The names that were not found, in the order they were first met.
    std::vector<missing_subfile> missing() const;
    // The circular references skipped, the first of each name, in the order they were met.
    const std::vector<skipped_reference>& cycles() const;
    // The reference whose inlining reached the limit, when it was.
    const std::optional<skipped_reference>& limit_reached() const;

private:
    class expansion;
    std::unique_ptr<expansion> impl_;
};

// The identity of the section of a document that starts at element position.
std::string section_identity(const std::string& document_name, std::size_t position);

// The form in which section names and reference names are compared: ASCII letters in lower case,
// "\" as "/".
std::string section_key(std::string_view name);

}  // namespace weldrix
