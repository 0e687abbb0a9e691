#include "app/report_drawing.hpp"

#include <algorithm>
#include <cassert>
#include <new>

#include "app/report.hpp"
#include "app/wording.hpp"
#include "document/ldraw_file.hpp"

namespace weldrix {
namespace {

bool drawable(line_type type) { return type >= line_type::edge && type <= line_type::conditional; }

drawn_line drawn(std::size_t line, line_type type, drawn_line::state shown, std::span<const point> points) {
    drawn_line d;
    d.line = line;
    d.type = type;
    d.shown = shown;
    d.count = static_cast<std::uint8_t>(std::min<std::size_t>(points.size(), d.points.size()));
    std::copy_n(points.begin(), d.count, d.points.begin());
    return d;
}

drawn_line::state state_of(line_change::kind what) {
    switch (what) {
        case line_change::kind::removed: return drawn_line::state::removed;
        case line_change::kind::triangle: return drawn_line::state::triangle;
        case line_change::kind::moved: break;
    }
    return drawn_line::state::moved;
}

// A line of the file the page may draw, with the change it has (or none).
struct candidate {
    std::size_t position;
    const line_change* change;
};

// The file's lines to draw, in file order; changed counts those with a change.
std::vector<candidate> drawable_lines(const ldraw_file& document, const change_record& changes, std::size_t& changed) {
    std::vector<candidate> candidates;
    auto next = changes.lines.begin();
    for (std::size_t i = 0; i < document.main_count; ++i) {
        while (next != changes.lines.end() && next->position < i) ++next;
        const line_change* change = next != changes.lines.end() && next->position == i ? &*next : nullptr;
        if (!drawable(change ? change->type : document.elements[i]->type_code())) continue;
        candidates.push_back({i, change});
        changed += change != nullptr;
    }
    return candidates;
}

// Which candidates are drawn: all of them when whole, else the changed lines the page lists (the
// first page_changes_per_file) first, then their neighbours, nearest first, up to the bound.
std::vector<bool> choose_lines(const std::vector<candidate>& candidates, bool whole, std::size_t& drawn_count) {
    std::vector<bool> chosen(candidates.size(), whole);
    drawn_count = whole ? candidates.size() : 0;
    if (whole) return chosen;
    std::vector<std::size_t> changed_at;
    for (std::size_t k = 0; k < candidates.size() && changed_at.size() < page_changes_per_file; ++k) {
        if (candidates[k].change) changed_at.push_back(k);
    }
    const auto choose = [&](std::size_t k) {
        if (drawn_count == partial_drawing_lines || chosen[k]) return;
        chosen[k] = true;
        ++drawn_count;
    };
    for (const std::size_t k : changed_at) choose(k);
    for (std::size_t step = 1; step <= drawing_neighbours; ++step) {
        for (const std::size_t k : changed_at) {
            if (k >= step) choose(k - step);
            if (k + step < candidates.size()) choose(k + step);
        }
    }
    return chosen;
}

// What the note says of a file too large to be drawn whole.
std::string partial_note(std::size_t candidates, std::size_t changed, std::size_t drawn_count) {
    std::string text = "the file has " + counted(candidates, "line", "lines") + " to draw, more than the " +
                       std::to_string(full_drawing_lines) + " drawn whole: only ";
    const std::size_t listed = std::min(changed, page_changes_per_file);
    text += listed == changed ? "its " + counted(changed, "changed line", "changed lines")
                              : "the first " + std::to_string(listed) + " of its " +
                                    counted(changed, "changed line", "changed lines");
    text += " and up to " + std::to_string(drawing_neighbours) +
            " lines before and after each in the file are drawn (" + std::to_string(drawn_count) + " lines)";
    return text;
}

}  // namespace

inline_observer subfile_sample::observer() {
    return [this](const ldraw_line& line) { add(line); };
}

void subfile_sample::add(const ldraw_line& line) {
    const line_type type = line.type_code();
    if (type != line_type::edge && type != line_type::triangle && type != line_type::quad) return;
    // lines_[k] is the drawable line seen as number k * stride_.
    if (seen_++ % stride_ != 0) return;
    if (lines_.size() == bound_) {
        std::size_t kept = 0;
        for (std::size_t k = 0; k < lines_.size(); k += 2) lines_[kept++] = lines_[k];
        lines_.resize(kept);
        stride_ *= 2;
        if ((seen_ - 1) % stride_ != 0) return;
    }
    lines_.push_back(drawn(0, type, drawn_line::state::kept, line.vertices()));
}

report_drawing make_drawing(const ldraw_file& document, const change_record& changes, const subfile_sample& subfile) {
    assert(changes.detailed() && document.main_count <= document.elements.size());
    report_drawing drawing;
    std::size_t changed = 0;
    const std::vector<candidate> candidates = drawable_lines(document, changes, changed);
    const bool whole = candidates.size() <= full_drawing_lines;
    std::size_t drawn_count = 0;
    const std::vector<bool> chosen = choose_lines(candidates, whole, drawn_count);
    drawing.lines.reserve(drawn_count);
    for (std::size_t k = 0; k < candidates.size(); ++k) {
        if (!chosen[k]) continue;
        const candidate& c = candidates[k];
        const ldraw_line& element = *document.elements[c.position];
        const std::size_t line = document.line_number(c.position);
        if (!c.change) {
            drawing.lines.push_back(drawn(line, element.type_code(), drawn_line::state::kept, element.vertices()));
        } else if (c.change->effect == line_change::kind::removed) {
            drawing.lines.push_back(drawn(line, c.change->type, drawn_line::state::removed, changes.input(*c.change)));
        } else {
            drawing.lines.push_back(drawn(line, c.change->type, state_of(c.change->effect), element.vertices()));
        }
    }
    drawing.subfile = subfile.lines();

    std::vector<std::string> left_out;
    if (!whole) left_out.push_back(partial_note(candidates.size(), changed, drawn_count));
    if (!subfile.complete()) {
        left_out.push_back("the subfile geometry is an evenly spread sample of " +
                           std::to_string(subfile.lines().size()) + " of its " + std::to_string(subfile.seen()) +
                           " edge lines, triangles and quads");
    }
    drawing.full = left_out.empty();
    for (const std::string& text : left_out) {
        drawing.note += drawing.note.empty() ? "" : "; ";
        drawing.note += text;
    }
    if (!drawing.note.empty()) drawing.note += ".";
    return drawing;
}

bool report_draws_page(const std::string& report_name) {
    return !report_name.empty() && report_name != "-" && report_form_of(report_name) == report_form::html;
}

namespace {

std::size_t drawing_size(const file_report& file) { return file.drawing.lines.size() + file.drawing.subfile.size(); }

bool fits_in_drawing_budget(const file_report& file, std::size_t left) {
    const std::size_t lines = drawing_size(file);
    return lines == 0 || lines <= left;
}

void leave_undrawn(file_report& file) {
    // The note first: when memory runs out making it, the drawing is left whole.
    std::string note = "Not drawn: the page draws at most " + std::to_string(page_drawing_budget) +
                       " lines of a folder's files, and the files before this one took them.";
    // Replaced by empty vectors rather than cleared, so that their memory is given back now.
    file.drawing.lines = std::vector<drawn_line>();
    file.drawing.subfile = std::vector<drawn_line>();
    file.drawing.full = false;
    file.drawing.note = std::move(note);
}

}  // namespace

std::size_t drawing_budget::left() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return left_;
}

void drawing_budget::trim(file_report& file) noexcept {
    try {
        if (!fits_in_drawing_budget(file, left())) leave_undrawn(file);
    } catch (const std::bad_alloc&) {
        // Nothing may leave a worker thread; take leaves the drawing undrawn later.
    }
}

void drawing_budget::take(file_report& file) {
    if (!fits_in_drawing_budget(file, left())) {
        leave_undrawn(file);
        return;
    }
    const std::lock_guard<std::mutex> lock(mutex_);
    left_ -= drawing_size(file);
}

file_report record_file(ldraw_file& document, const std::string& input, const std::string& output,
                        const clean_options& clean, const line_counts& written, const subfile_sample* sample) {
    assert(document.changes.detailed());
    file_report report;
    report.input = input;
    report.output = output;
    report.thresholds = clean.thresholds;
    report.snap_on_subfiles = clean.snap_on_subfiles;
    report.read = document.read_counts;
    report.written = written;
    if (sample) report.drawing = make_drawing(document, document.changes, *sample);
    report.changes = std::move(document.changes);
    report.dropped = std::move(document.dropped.all);
    report.geometry = std::move(document.geometry_faults);
    return report;
}

}  // namespace weldrix
