#include "document/ldraw_file.hpp"

#include <algorithm>
#include <cassert>
#include <future>
#include <system_error>

#include "document/line_reader.hpp"
#include "document/side_by_side.hpp"
#include "document/unify_vertices.hpp"
#include "elements/comment_line.hpp"
#include "geometry/number_parse.hpp"
#include "geometry/vertex_set.hpp"
#include "io/console.hpp"
#include "io/files.hpp"
#include "io/process.hpp"

namespace weldrix {

ldraw_file::ldraw_file(const clean_options& configuration)
    : options(configuration), changes(configuration.record_changes == clean_options::changes::lines) {}

ldraw_file::~ldraw_file() = default;

namespace {

bool is_blank(std::string_view line) {
    const char* end = line.data() + line.size();
    return skip_space(line.data(), end) == end;
}

}  // namespace

void ldraw_file::note_dropped(std::size_t line_number, std::string_view text) {
    if (dropped.first.size() < dropped_lines::named) dropped.first.push_back(line_number);
    if (options.record_changes == clean_options::changes::lines)
        dropped.all.push_back({line_number, std::string(text)});
    ++dropped.count;
}

namespace {

// How many numbers a line of the type holds before its end (type 1: before the file name).
std::size_t numbers_needed(line_type type) {
    switch (type) {
        case line_type::edge: return 7;
        case line_type::triangle: return 10;
        default: break;
    }
    return 13;
}

// Whether the notes of a line of the type tell of a problem with its numbers (note_numbers keeps
// those).
bool numbers_noted(line_type type, const number_notes& notes) {
    return !notes.partials.empty() || !notes.not_a_number.empty() || notes.read < numbers_needed(type);
}

}  // namespace

void ldraw_file::note_numbers(std::size_t line_number, line_type type, const number_notes& notes) {
    const std::size_t needed = numbers_needed(type);
    if (!numbers_noted(type, notes)) return;
    if (numbers.first.size() < number_problems::named) {
        number_problem problem;
        problem.line = line_number;
        problem.type = type;
        for (const number_notes::partial& p : notes.partials)
            problem.partials.push_back({std::string(p.token), p.value});
        problem.not_a_number = notes.not_a_number;
        problem.read = notes.read;
        problem.needed = needed;
        numbers.first.push_back(std::move(problem));
    }
    ++numbers.count;
}

bool ldraw_file::keeps_source() const {
    return options.minimal || (options.record_changes != clean_options::changes::none && options.keep_source);
}

line_counts ldraw_file::read_bytes(std::string_view bytes) {
    if (keeps_source() && bytes.data() != source_.data()) source_.assign(bytes);
    input_size_ = bytes.size();
    const std::string_view lines = without_byte_order_mark(bytes);
    byte_order_mark_ = lines.size() != bytes.size();
    bytes = lines;
    line_end_ = first_line_end(bytes);
    line_counts counts;
    std::vector<section_marker> markers;  // of a multi-part document
    std::size_t line_number = 0;
    // What becomes of a line read (its element, or null when it is skipped), in order; notes are
    // its numbers' (null: nothing to note).
    const auto keep = [&](std::unique_ptr<ldraw_line> element, std::string_view line, const number_notes* notes) {
        ++line_number;
        if (!element) {
            if (!is_blank(line)) note_dropped(line_number, line);
            return;
        }
        const line_type type = element->type_code();
        if (type != line_type::comment && notes) note_numbers(line_number, type, *notes);
        counts.count_type(type);
        if (type == line_type::comment) {
            const std::string& text = static_cast<const comment_line&>(*element).text;
            if (auto marker = marker_in_comment(text, elements.size())) markers.push_back(std::move(*marker));
        }
        elements.push_back(std::move(element));
        line_numbers_.push_back(line_number);
    };

    // A long input is read in two halves side by side: the second half's lines are made into
    // elements on a thread of their own, and kept, in order, once the first half is done. It
    // starts after the first line feed past the middle, which ends a line wherever the reading
    // starts (see for_each_source_line): both halves cut the lines a reading of the whole cuts.
    std::size_t split = bytes.size();
    if (bytes.size() >= options.read_halves_from) {
        const std::size_t lf = bytes.find('\n', bytes.size() / 2);
        if (lf != std::string_view::npos) split = lf + 1;
    }
    // A line of the second half: its element, or for a line skipped, its text in later_texts; its
    // notes in later_notes when there are any.
    struct later_line {
        std::unique_ptr<ldraw_line> element;
        std::uint32_t noted;  // in later_notes, or none
        std::uint32_t text;   // in later_texts, for a line skipped
    };
    constexpr std::uint32_t none = UINT32_MAX;
    std::vector<later_line> later_lines;
    std::vector<number_notes> later_notes;
    std::vector<std::string_view> later_texts;
    std::future<void> later;
    if (split < bytes.size()) {
        // Room for every line at once (counted by its line feeds and carriage returns, which is at
        // least their number), so that neither list is copied as it grows beside the other.
        const std::size_t most_lines = static_cast<std::size_t>(std::count(bytes.begin(), bytes.end(), '\n')) +
                                       static_cast<std::size_t>(std::count(bytes.begin(), bytes.end(), '\r')) + 1;
        elements.reserve(elements.size() + most_lines);
        line_numbers_.reserve(line_numbers_.size() + most_lines);
        try {
            later = std::async(std::launch::async, [&] {
                number_notes line_notes;
                for_each_line(bytes.substr(split), [&](std::string_view line) {
                    later_line read{make_line(line, &line_notes), none, none};
                    if (!read.element) {
                        if (later_texts.size() >= none) throw std::bad_alloc();
                        read.text = static_cast<std::uint32_t>(later_texts.size());
                        later_texts.push_back(line);
                    } else if (read.element->type_code() != line_type::comment &&
                               numbers_noted(read.element->type_code(), line_notes)) {
                        if (later_notes.size() >= none) throw std::bad_alloc();
                        read.noted = static_cast<std::uint32_t>(later_notes.size());
                        later_notes.push_back(line_notes);
                    }
                    later_lines.push_back(std::move(read));
                });
            });
        } catch (const std::system_error&) {
            split = bytes.size();  // no thread to be had: all of it here
        }
    }
    number_notes notes;
    for_each_line(bytes.substr(0, split), [&](std::string_view line) {
        std::unique_ptr<ldraw_line> element = make_line(line, &notes);
        keep(std::move(element), line, &notes);
    });
    if (later.valid()) {
        later.get();  // rethrows what the second half threw
        for (later_line& read : later_lines) {
            const std::string_view text = read.element ? std::string_view() : later_texts[read.text];
            keep(std::move(read.element), text, read.noted == none ? nullptr : &later_notes[read.noted]);
        }
        // The list of the second half's lines was made on the reading thread's heap, where the
        // main thread's allocations cannot reuse it: it is handed back to the system.
        std::vector<later_line>().swap(later_lines);
        release_free_memory();
    }
    main_count = elements.size();
    counts.lines = main_count;
    read_counts = counts;
    units_ = units_from_markers(markers, main_count);
    return counts;
}

ldraw_file::read_result ldraw_file::read(file_system& fs, const std::string& file_name, console& out,
                                         const std::atomic<bool>* stop, bool regular_only, file_status* as_read) {
    std::string bytes;
    switch (read_whole_file(fs, file_name, bytes, stop, regular_only, as_read)) {
        case read_status::ok: break;
        case read_status::failed: return read_result::not_found;
        case read_status::not_regular: return read_result::not_regular;
    }
    if (!is_text(bytes)) return read_result::not_a_text;
    // The real path names the input among the subfiles (a reference back to it is a cycle); only
    // inlining needs it, and working it out costs a system call per folder of the path.
    if (!real_name_known_) real_name_ = options.snap_on_subfiles ? real_path_or_name(fs, file_name) : file_name;
    if (keeps_source()) {
        source_ = std::move(bytes);
        read_bytes(source_).print(out, " lines in file");
    } else {
        read_bytes(bytes).print(out, " lines in file");
    }
    return read_result::ok;
}

std::string ldraw_file::text(line_counts& written) const {
    assert(main_count <= elements.size());
    written = {};
    std::string out;
    // Reserving a typical line length per line, or the input's length and a little more (the
    // output is seldom longer: its numbers have at most seven digits, its blanks are single),
    // spares the copies of a growing buffer, which holds its old and its new copy at once and
    // touches every page of both (a longer text still grows as usual).
    out.reserve(std::max(main_count * 64, input_size_ + input_size_ / 32));
    if (byte_order_mark_) out += byte_order_mark;  // kept, like the file's line ends
    const auto append_lines = [&](std::size_t first, std::size_t last, std::string& to, line_counts& counts,
                                  auto&& room) {
        for (std::size_t i = first; i < last; ++i) {
            std::string& at = room(to);
            const std::size_t before = at.size();
            elements[i]->append_text(at);
            if (at.size() == before) continue;  // an empty text is not written
            at += line_end_;
            ++counts.lines;
            counts.count_type(elements[i]->type_code());
            if (const ldraw_line* next = elements[i]->continued()) {
                next->append_text(at);
                at += line_end_;
                ++counts.lines;
                counts.count_type(next->type_code());
            }
        }
    };
    const auto in_place = [](std::string& to) -> std::string& { return to; };
    // A long document's second half is written on a thread of its own, into blocks that the first
    // half's text takes in one by one once it is done, each given back as it goes: the text
    // stands once, and a block more, as it would written in one.
    if (input_size_ < options.read_halves_from || main_count < 2) {
        append_lines(0, main_count, out, written, in_place);
        return out;
    }
    constexpr std::size_t block_bytes = std::size_t{1} << 20;
    std::vector<std::string> blocks;
    line_counts later_counts;
    const std::size_t split = main_count / 2;
    side_by_side([&] { append_lines(0, split, out, written, in_place); },
                 [&] {
                     append_lines(split, main_count, out, later_counts, [&](std::string&) -> std::string& {
                         if (blocks.empty() || blocks.back().size() >= block_bytes) {
                             blocks.emplace_back();
                             blocks.back().reserve(block_bytes + block_bytes / 8);
                         }
                         return blocks.back();
                     });
                 });
    for (std::size_t b = 0; b < blocks.size(); ++b) {
        out += blocks[b];
        std::string().swap(blocks[b]);
        // The blocks were made on the helper's heap: what is freed there stays with the process
        // unless handed back.
        release_free_memory();
    }
    written.lines += later_counts.lines;
    written.edges += later_counts.edges;
    written.conditionals += later_counts.conditionals;
    written.triangles += later_counts.triangles;
    written.quads += later_counts.quads;
    written.subfiles += later_counts.subfiles;
    return out;
}

ldraw_file::minimal_output ldraw_file::minimal_text(line_counts& written) const {
    assert(main_count <= elements.size() && keeps_source());
    written = {};
    minimal_output result;
    std::string& out = result.bytes;
    out.reserve(source_.size());
    std::string_view bytes = source_;
    if (byte_order_mark_) {
        out += byte_order_mark;  // kept whatever becomes of the first line, as text() keeps it
        bytes.remove_prefix(byte_order_mark.size());
    }
    // The elements were made from these lines by make_line, one for each line it did not skip, in
    // order. Reading a line again gives its element as read, to compare with what it became.
    std::size_t position = 0;
    std::string now, as_read;
    for_each_source_line(bytes, [&](const source_line& line) {
        const auto read = position < main_count ? make_line(line.text) : nullptr;
        if (!read) {
            out += line.bytes;
            return;
        }
        const ldraw_line& element = *elements[position++];
        now.clear();
        element.append_text(now);
        if (now.empty()) {  // removed
            result.changed = true;
            return;
        }
        ++written.lines;
        written.count_type(element.type_code());
        if (const ldraw_line* next = element.continued()) {
            // A quad split in two: both triangles in the tool's form, the first with the file's
            // usual line end when the line has none (it was the last).
            ++written.lines;
            written.count_type(next->type_code());
            out += now;
            out += line.end.empty() ? line_end_ : line.end;
            next->append_text(out);
            out += line.end;
            result.changed = true;
            return;
        }
        as_read.clear();
        read->append_text(as_read);
        if (now == as_read) {
            out += line.bytes;
            return;
        }
        out += now;
        out += line.end;
        result.changed = true;
    });
    return result;
}

bool ldraw_file::write(file_system& fs, const std::string& file_name, console& out, const std::atomic<bool>* stop,
                       line_counts* written) const {
    line_counts counts;
    const std::string bytes = options.minimal ? minimal_text(counts).bytes : text(counts);
    if (!replace_file(fs, file_name, bytes, durability::flush_each, stop)) return false;
    counts.print(out, " lines written in file");
    if (written) *written = counts;
    return true;
}

std::vector<missing_subfile> ldraw_file::expand_subfiles(const search_paths& paths, console& out,
                                                         const inline_observer& observer,
                                                         const std::atomic<bool>* stop) {
    assert(main_count <= elements.size());
    if (units_.empty()) units_ = find_units(elements, main_count);
    subfile_expansion expansion(paths, options.max_inlined_lines, out, observer, stop);
    for (const document_unit& unit : units_) {
        // A section's content follows its FILE line.
        if (unit.role == document_unit::kind::section) {
            expansion.add_section(unit.name, elements, unit.begin + 1, unit.end, real_name_, line_numbers_);
        }
    }
    inlined_vertices_.clear();
    const bool origins = options.record_changes == clean_options::changes::lines;
    target_origins_.assign(units_.size(), {});
    origin_names_.clear();
    for (std::size_t u = 0; u < units_.size(); ++u) {
        const document_unit& unit = units_[u];
        inlined_vertices_.push_back(std::make_unique<vertex_set>(options.thresholds, options.search));
        if (unit.role == document_unit::kind::data) continue;
        const std::string root =
            unit.role == document_unit::kind::section ? section_identity(real_name_, unit.begin + 1) : real_name_;
        // The linear search, the plain reference, builds the whole set of targets.
        expansion.expand(elements, unit.begin, unit.end, root, *inlined_vertices_.back(),
                         origins ? &target_origins_[u] : nullptr, &origin_names_, line_numbers_,
                         options.search == vertex_search::indexed);
    }
    expansion.print_statistics();
    cycles = expansion.cycles();
    limit_reached = expansion.limit_reached();
    return expansion.missing();
}

void ldraw_file::unify_vertices() {
    assert(main_count <= elements.size());
    if (units_.empty()) units_ = find_units(elements, main_count);
    if (changes.detailed()) changes.subfiles = origin_names_;
    // A document read in halves holds elements on two threads' heaps; what unification frees
    // between them (its sets, the lines kept as read) stays with the process unless handed back,
    // which the end of this function does, after everything below is freed (declared first, it
    // is destroyed last).
    struct release_at_end {
        bool large;
        ~release_at_end() {
            if (large) release_free_memory();
        }
    } release{input_size_ >= options.read_halves_from};
    geometry_input input;  // the changed lines as read, to compare the written lines with
    geometry_input* const check = options.check_geometry ? &input : nullptr;
    for (std::size_t u = 0; u < units_.size(); ++u) {
        const document_unit& unit = units_[u];
        if (unit.role == document_unit::kind::data) continue;
        vertex_set* targets = u < inlined_vertices_.size() ? inlined_vertices_[u].get() : nullptr;
        if (options.record_changes == clean_options::changes::none) {
            weldrix::unify_vertices(elements, unit.begin, unit.end, targets, options, nullptr, check);
            continue;
        }
        const unify_recording recording{changes, u < target_origins_.size() ? &target_origins_[u] : nullptr};
        weldrix::unify_vertices(elements, unit.begin, unit.end, targets, options, &recording, check);
    }
    if (options.check_geometry) {
        geometry_faults.clear();
        for (const document_unit& unit : units_) {
            if (unit.role == document_unit::kind::data) continue;
            check_geometry(elements, unit, input, line_numbers_, options, geometry_faults);
        }
        changes.totals.geometry_faults = geometry_faults.size();
        for (const geometry_fault& fault : geometry_faults) {
            changes.totals.geometry_fixed += fault.fixed ? 1 : 0;
            changes.totals.geometry_warned += fault.warned() ? 1 : 0;
        }
    }
    for (line_change& change : changes.lines) {
        if (change.position < line_numbers_.size()) change.line = line_numbers_[change.position];
    }
}

}  // namespace weldrix
