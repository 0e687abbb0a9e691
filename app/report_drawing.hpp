// What the report page draws of a file: its lines, and a faint sample of its subfiles' geometry.
//
// The drawing rule keeps a page quick to open whatever the part's size:
//  * a file with at most full_drawing_lines lines to draw (edge lines, triangles, quads and
//    conditional lines) is drawn whole;
//  * a larger one draws its changed lines and the drawing_neighbours lines before and after each
//    in the file, at most partial_drawing_lines lines in all (changed lines first);
//  * subfile geometry (with -s) is an evenly spread sample of at most subfile_drawing_lines of the
//    placed edge lines, triangles and quads the expansion inlined.
// Whatever is left out is said in the drawing's note, which the page shows.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "document/change_record.hpp"
#include "document/clean_options.hpp"
#include "document/line_counts.hpp"
#include "document/subfile_expansion.hpp"
#include "elements/ldraw_line.hpp"
#include "geometry/point.hpp"

namespace weldrix {

class ldraw_file;
// A report's record of one file (report.hpp), which holds its drawing: report.hpp includes this
// header, so here it is only declared.
struct file_report;

// One line as a page draws it.
struct drawn_line {
    enum class state : std::uint8_t { kept, moved, removed, triangle };  // 0 to 3, as the page reads them
    std::size_t line = 0;                                                // in the input, from 1; 0 for subfile geometry
    line_type type = line_type::none;                                    // as read
    state shown = state::kept;
    std::uint8_t count = 0;  // points used
    std::array<point, 4> points{};
};

// What a page draws of one file (make_drawing below builds it).
struct report_drawing {
    bool full = true;                 // every line of the file and of its subfiles is drawn
    std::vector<drawn_line> lines;    // the file's own lines: kept and changed at output, removed at input points
    std::vector<drawn_line> subfile;  // placed lines of inlined subfiles, drawn faintly
    std::string note;                 // what was left out, when not full
};

inline constexpr std::size_t full_drawing_lines = 20'000;
inline constexpr std::size_t partial_drawing_lines = 20'000;
inline constexpr std::size_t drawing_neighbours = 3;
inline constexpr std::size_t subfile_drawing_lines = 10'000;

// Keeps an evenly spread sample of the lines the expansion inlines: every line until the sample is
// full, then every second one of those kept and of those to come, and so on, so the kept lines
// are spread over the whole inlining at a fixed memory bound.
class subfile_sample {
public:
    explicit subfile_sample(std::size_t bound = subfile_drawing_lines) : bound_(bound < 2 ? 2 : bound) {}

    // An observer for ldraw_file::expand_subfiles that adds every line to this sample (which must
    // outlive the expansion).
    inline_observer observer();
    void add(const ldraw_line& line);

    const std::vector<drawn_line>& lines() const { return lines_; }
    std::size_t seen() const { return seen_; }  // drawable lines offered
    bool complete() const { return stride_ == 1; }

private:
    std::size_t bound_;
    std::size_t stride_ = 1;
    std::size_t seen_ = 0;
    std::vector<drawn_line> lines_;
};

// The drawing budget of a page of many files: the files draw in input order by the drawing rule
// above, and at most page_drawing_budget lines in all. A file whose drawing does not fit in what
// the files before it left is listed with its changes but not drawn (its note says so), and a
// later, smaller one may still be drawn.
inline constexpr std::size_t page_drawing_budget = 200'000;

// Whether "-r name" asks for a page, whose files are drawn: a name ending in ".html" or ".htm",
// not standard output.
bool report_draws_page(const std::string& report_name);

// What is left of a page's drawing budget while a batch runs, shared by its threads.
class drawing_budget {
public:
    // On a worker thread, as soon as the file is cleaned: what is left can only shrink while the
    // file waits for the files before it, so a drawing that exceeds it now is left undrawn at once
    // rather than kept until then. When memory runs out, the drawing stays for take to judge.
    void trim(file_report& file) noexcept;
    // In input order, as the file is handed over: its drawing takes its lines of the budget, or,
    // when they do not fit in what the files before it left, it is left undrawn (memory given
    // back, a note that says why).
    void take(file_report& file);

private:
    std::size_t left() const;
    mutable std::mutex mutex_;  // guards left_
    std::size_t left_ = page_drawing_budget;
};

// The drawing of a document after unification, its changes recorded line by line in changes
// (a detailed record: changes.detailed()).
report_drawing make_drawing(const ldraw_file& document, const change_record& changes, const subfile_sample& subfile);

// The report's record of a document after unification: its names, thresholds and counts, and its
// changes, which are moved out of the document. Drawn from sample when one is given (a batch
// past the page's budget passes none). Needs a detailed record (document.changes.detailed()).
file_report record_file(ldraw_file& document, const std::string& input, const std::string& output,
                        const clean_options& clean, const line_counts& written, const subfile_sample* sample);

}  // namespace weldrix
