// The document: the lines of one LDraw file as an ordered list of elements it owns.
//
// Life of a document in a run: `read` fills it from the input file, `expand_subfiles` (option -s)
// inlines every referenced subfile as snap targets, `unify_vertices` welds and cleans the file's
// own elements in place, `write` writes them back. What the cleaning does is set by the options
// the document is made with.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "document/change_record.hpp"
#include "document/clean_options.hpp"
#include "document/document_units.hpp"
#include "document/geometry_check.hpp"
#include "document/line_counts.hpp"
#include "document/subfile_expansion.hpp"
#include "elements/ldraw_line.hpp"
#include "io/file_system.hpp"

namespace weldrix {

class console;
class search_paths;
class vertex_set;

class ldraw_file : public ldraw_line {
public:
    // The file's own elements (positions 0 to main_count - 1). The expansion does not store the
    // elements it inlines; it keeps what unification needs of them (their snap targets).
    std::vector<std::unique_ptr<ldraw_line>> elements;
    std::size_t main_count = 0;

    clean_options options;
    // What unification changed, as options.record_changes asks.
    change_record changes;
    // The geometry faults the cleaning made, in line order (options.check_geometry), and with
    // options.fix whether each was repaired.
    std::vector<geometry_fault> geometry_faults;
    // The read statistics.
    line_counts read_counts;
    // The lines the reader dropped although they hold more than white space: no leading integer,
    // or a type other than 0 to 5 (see make_line), so that the caller can tell them.
    struct dropped_lines {
        static constexpr std::size_t named = 10;
        std::vector<std::size_t> first;  // the line numbers (from 1) of the first `named` of them
        std::size_t count = 0;           // all of them
        // With changes recorded line by line (a report), every one of them: its line and its text.
        struct line {
            std::size_t number;
            std::string text;
        };
        std::vector<line> all;
    };
    dropped_lines dropped;
    // The file's own lines of types 1 to 5 whose numbers are not read as written (see
    // number_notes), so that the caller can tell them: the first `named` of them, and how many.
    struct number_problem {
        struct partial {
            std::string token;  // "1,5"
            double value;       // read as 1
        };
        std::size_t line = 0;  // from 1
        line_type type = line_type::edge;
        std::vector<partial> partials;  // tokens that are a number followed by more
        std::string not_a_number;       // the token where reading stopped (the rest is 0); empty: none
        std::size_t read = 0;           // the numbers the line holds (its colour among them)
        std::size_t needed = 0;         // and those its type needs: the missing ones are 0
    };
    struct number_problems {
        static constexpr std::size_t named = 10;
        std::vector<number_problem> first;
        std::size_t count = 0;
    };
    number_problems numbers;
    // What the expansion skipped or stopped at (see subfile_expansion.hpp), set by expand_subfiles:
    // the circular references skipped, one per name, and the reference whose inlining reached the
    // limit, if it was.
    std::vector<skipped_reference> cycles;
    std::optional<skipped_reference> limit_reached;
    // The bytes read, kept when options.record_changes asks for a record and options.keep_source
    // (to tell a file that would only be reformatted from one left as it is), or options.minimal
    // for minimal output.
    const std::string& source() const { return source_; }
    // Gives the bytes read back once the output is made (they are the size of the file).
    void release_source() { std::string().swap(source_); }
    // Hands the bytes read over instead.
    std::string take_source() {
        std::string bytes;
        bytes.swap(source_);
        return bytes;
    }

    explicit ldraw_file(const clean_options& options = {});
    ~ldraw_file() override;

    enum class read_result {
        ok,           // read; the statistics were printed
        not_found,    // the file cannot be opened or read
        not_a_text,   // it is not LDraw text (see is_text in line_reader.hpp); nothing was read
        not_regular,  // regular_only was asked and it is a folder, FIFO, device or socket: not read
    };
    // The real path naming the input among the subfiles is worked out by read, unless given
    // before it (with -s).
    void know_real_name(std::string real_name) {
        real_name_ = std::move(real_name);
        real_name_known_ = true;
    }
    // Reads the named file and prints the read statistics; prints nothing when it fails. A read
    // that waits (a FIFO) gives up with not_found once stop is set. With regular_only, anything
    // but a regular file is passed over without waiting for it (a batch's files).
    // With as_read, the file's status when it was opened.
    [[nodiscard]] read_result read(file_system& fs, const std::string& file_name, console& out,
                                   const std::atomic<bool>* stop = nullptr, bool regular_only = false,
                                   file_status* as_read = nullptr);
    // Appends the elements of the bytes and sets main_count; returns the read statistics. The
    // bytes are taken as they are (a NUL ends the text of its line); read checks is_text first.
    // They are kept as source() when the options ask for it.
    line_counts read_bytes(std::string_view bytes);

    // Writes the file's own elements (those with a non-empty text), or with options.minimal the
    // bytes of minimal_text, and prints the write statistics (also given in written, when not
    // null). False, printing nothing, when the file
    // cannot be created or fully written. With stop set before the output is in place (an
    // interruption), nothing is written.
    [[nodiscard]] bool write(file_system& fs, const std::string& file_name, console& out,
                             const std::atomic<bool>* stop = nullptr, line_counts* written = nullptr) const;
    // The output bytes and their statistics; a long input's (options.read_halves_from) written in two
    // halves side by side. Needs main_count <= elements.size().
    std::string text(line_counts& written) const;

    struct minimal_output {
        std::string bytes;
        bool changed = false;  // a line was rewritten or removed; else bytes are the input's
    };
    // The output for "--minimal" (options.minimal set before reading): the bytes read, line by line
    // as the reader cuts them (see for_each_source_line), with only what the cleaning changed
    // rewritten. A line whose element the cleaning removed goes, line end included; a line whose
    // element's text it changed (a moved vertex, a quad made a triangle) is written as text()
    // writes it, followed by the line end the line had (none for a last line without one); every
    // other line keeps its exact bytes: blank lines, lines the reader drops, comments, trailing
    // text, the spelling of numbers, its line end. A byte-order mark at the start stays. written
    // receives the statistics text() gives, so that the console reads as usual.
    // Needs main_count <= elements.size() and the source kept (options.minimal or a record).
    minimal_output minimal_text(line_counts& written) const;

    // Inlines every subfile the document references, at every depth, and prints the inlining
    // statistics (see subfile_expansion.hpp). Once stop is set, no further file is inlined.
    // Needs main_count <= elements.size().
    std::vector<missing_subfile> expand_subfiles(const search_paths& paths, console& out,
                                                 const inline_observer& observer = {},
                                                 const std::atomic<bool>* stop = nullptr);

    // Merges, snaps and cleans the file's own elements (see unify_vertices.hpp), each unit of a
    // multi-part document on its own (see document_units.hpp), then checks and with options.fix
    // repairs the geometry faults that made (geometry_faults). Needs main_count <= elements.size().
    void unify_vertices();

    const std::vector<document_unit>& units() const { return units_; }

    // The input line number (from 1) of the element at position (0 when there is no element).
    std::size_t line_number(std::size_t position) const {
        return position < line_numbers_.size() ? line_numbers_[position] : 0;
    }
    // Per element read: its input line number.
    const std::vector<std::size_t>& line_numbers() const { return line_numbers_; }

private:
    bool keeps_source() const;
    void note_dropped(std::size_t line_number, std::string_view text);
    void note_numbers(std::size_t line_number, line_type type, const number_notes& notes);

    std::string source_;
    std::string_view line_end_ = "\n";  // of every line of the output: the input's first (a constant)
    std::size_t input_size_ = 0;        // the bytes read, for the output's first reservation
    bool byte_order_mark_ = false;      // the input starts with a UTF-8 byte-order mark
    std::string real_name_;             // canonical path of the input, the root of every reference chain
    bool real_name_known_ = false;      // given by know_real_name
    std::vector<document_unit> units_;  // the parts cleaned on their own (one for most files)
    std::vector<std::unique_ptr<vertex_set>> inlined_vertices_;  // per unit: snap targets from its subfiles
    std::vector<std::vector<std::uint32_t>> target_origins_;     // per unit and target: its file (reports)
    std::vector<std::string> origin_names_;                      // the files target_origins_ names
    std::vector<std::size_t> line_numbers_;                      // per element: its line in the input
};

}  // namespace weldrix
