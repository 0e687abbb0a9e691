// The document: the lines of one LDraw file as an ordered list of elements it owns.
//
// Life of a document in a run: `read` fills it from the input file, `expand_subfiles` (option -s)
// inlines every referenced subfile as snap targets, `unify_vertices` welds and cleans the file's
// own elements in place, `write` writes them back.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "document/console.hpp"
#include "document/vertex_set.hpp"
#include "elements/ldraw_line.hpp"

namespace weldrix {

class search_paths;

// How many lines of each kind were read or written.
struct line_counts {
    std::size_t lines = 0;  // every element, comments included
    std::size_t edges = 0;
    std::size_t conditionals = 0;
    std::size_t triangles = 0;
    std::size_t quads = 0;
    std::size_t subfiles = 0;

    void count_type(int type_code);
    // The six statistics lines; `what` is " lines in file" or " lines written in file".
    void print(console& out, std::string_view what) const;
};

// Receives each element the expansion inlines, in order, fully placed (for tests and tools).
using inline_observer = std::function<void(const ldraw_line&)>;

// Most lines the expansion inlines before it stops (every inlined line counts, comments and
// references included): 23 times the most any part of the bundled library inlines (217,833
// lines, for 22678.dat), low enough that a library built to explode ends within seconds. The
// memory it bounds depends on what the lines are: references alone cost little (a fan-out of
// references stops with about 110 MB), but every distinct vertex of an inlined edge, triangle or
// quad becomes a snap target of about 120 bytes at peak, so five million quads that all carry
// new vertices take about 2.4 GB and 13 seconds.
inline constexpr std::size_t max_inlined_lines = 5'000'000;

class ldraw_file : public ldraw_line {
public:
    // The file's own elements (positions 0 to main_count - 1). The expansion does not store the
    // elements it inlines; it keeps what unification needs of them (their snap targets).
    std::vector<std::unique_ptr<ldraw_line>> elements;
    std::size_t main_count = 0;

    // Thresholds for unification, from the process-wide settings when the document is made.
    unify_thresholds thresholds;
    vertex_search search = vertex_search::indexed;

    ldraw_file();
    ~ldraw_file() override;

    // Reads the named file and prints the read statistics. False, printing nothing, when the file
    // cannot be opened or read.
    bool read(const std::string& file_name, console& out);
    // Appends the elements of the bytes and sets main_count; returns the read statistics.
    line_counts read_bytes(std::string_view bytes);

    // Writes the file's own elements (those with a non-empty text) and prints the write
    // statistics. False, printing nothing, when the file cannot be created or fully written.
    bool write(const std::string& file_name, console& out) const;
    // The output bytes and their statistics.
    std::string text(line_counts& written) const;

    // Inlines every subfile the document references, at every depth (see subfile_expansion.cpp),
    // and prints the inlining statistics.
    void expand_subfiles(const search_paths& paths, console& out, const inline_observer& observer = {});

    // Merges, snaps and cleans the file's own elements (see unify_vertices.cpp).
    void unify_vertices();

private:
    bool crlf_ = false;            // the output uses the input's first line end
    bool byte_order_mark_ = false;  // the input starts with a UTF-8 byte-order mark
    std::string real_name_;        // canonical path of the input, the root of every reference chain
    std::unique_ptr<vertex_set> inlined_vertices_;  // snap targets from the inlined elements
};

}  // namespace weldrix
