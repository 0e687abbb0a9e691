#include "app/report_writer.hpp"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <span>

#include "app/json_writer.hpp"
#include "app/report_page.hpp"
#include "app/wording.hpp"
#include "geometry/number_format.hpp"
#include "io/console.hpp"
#include "io/spool_file.hpp"
#include "io/staged_writer.hpp"

namespace weldrix {
namespace {

const char* change_name(line_change::kind what) {
    switch (what) {
        case line_change::kind::removed: return "removed";
        case line_change::kind::triangle: return "triangle";
        case line_change::kind::moved: break;
    }
    return "moved";
}

void write_counts(json_writer& json, const line_counts& counts) {
    json.open("lines");
    json.integer(counts.lines);
    json.field("edges", counts.edges);
    json.field("conditionals", counts.conditionals);
    json.field("triangles", counts.triangles);
    json.field("quads", counts.quads);
    json.field("subfiles", counts.subfiles);
    json.close();
}

void write_vertex(json_writer& json, const change_record& record, const line_change& change, const vertex_change& v) {
    const point& from = record.from(change, v);
    const point& to = record.to(v);
    json.open("index");
    json.integer(v.index);
    json.field("from");
    json.point_array(from);
    json.field("to");
    json.point_array(to);
    json.field("distance", from.manhattan_distance(to));
    json.text_field("onto", v.snapped ? "snapped" : "merged");
    if (v.snapped && !record.subfile(v).empty()) json.text_field("subfile", record.subfile(v));
    json.close();
}

// The first limit changed lines of a record, as an array; drain is called after each.
void write_changes(json_writer& json, const change_record& record, std::size_t limit,
                   const std::function<void()>& drain) {
    json.raw("[");
    const std::size_t count = std::min(limit, record.lines.size());
    for (std::size_t i = 0; i < count; ++i) {
        const line_change& change = record.lines[i];
        if (i) json.raw(",");
        json.open("line");
        json.integer(change.line);
        json.field("type", static_cast<std::size_t>(change.type));
        json.text_field("change", change_name(change.what));
        if (!record.reason(change).empty()) json.text_field("reason", record.reason(change));
        json.field("vertices");
        json.raw("[");
        const std::span<const vertex_change> vertices = record.vertices(change);
        for (std::size_t k = 0; k < vertices.size(); ++k) {
            if (k) json.raw(",");
            write_vertex(json, record, change, vertices[k]);
        }
        json.raw("]");
        json.close();
        drain();
    }
    json.raw("]");
}

// The first limit merge groups of a record, as an array; drain is called after each.
void write_groups(json_writer& json, const change_record& record, std::size_t limit,
                  const std::function<void()>& drain) {
    json.raw("[");
    const std::size_t count = std::min(limit, record.groups.size());
    for (std::size_t i = 0; i < count; ++i) {
        const merge_group& group = record.groups[i];
        if (i) json.raw(",");
        json.open("to");
        json.point_array(record.to(group));
        json.field("from");
        json.raw("[");
        for (std::size_t k = 0; k < group.count; ++k) {
            if (k) json.raw(",");
            json.point_array(record.from(group, k));
        }
        json.raw("]");
        json.close();
        drain();
    }
    json.raw("]");
}

void write_totals(json_writer& json, const change_totals& totals) {
    json.open("removed");
    json.integer(totals.lines_removed);
    json.field("triangles", totals.quads_made_triangles);
    json.field("moved", totals.vertices_moved);
    json.field("largest_distance", totals.largest_distance);
    json.close();
}

// The changes and merge groups a report lists of one file (the page lists fewer than all of a
// very large file).
struct listed {
    std::size_t changes = SIZE_MAX;
    std::size_t groups = SIZE_MAX;
};

void write_file_json(json_writer& json, const file_report& file, const listed& limit,
                     const std::function<void()>& drain) {
    json.open("input");
    json.string(file.input);
    json.text_field("output", file.output);
    if (!file.output_written) json.field("output_written", false);  // absent: it was written
    json.field("thresholds");
    json.open("vertex");
    json.number(file.thresholds.vertex_threshold);
    json.field("subfile", file.thresholds.subfile_threshold);
    json.close();
    json.field("snap_on_subfiles", file.snap_on_subfiles);
    json.field("read");
    write_counts(json, file.read);
    json.field("written");
    write_counts(json, file.written);
    json.field("changes");
    write_changes(json, file.changes, limit.changes, drain);
    json.field("groups");
    write_groups(json, file.changes, limit.groups, drain);
    json.field("totals");
    write_totals(json, file.changes.totals);
    json.close();
}

void write_drawn_line(json_writer& json, const drawn_line& line, bool numbered) {
    json.raw("[");
    if (numbered) {
        json.integer(line.line);
        json.raw(",");
    }
    json.integer(static_cast<std::size_t>(line.type));
    if (numbered) {
        json.raw(",");
        json.integer(static_cast<std::size_t>(line.what));
    }
    for (std::size_t k = 0; k < line.count; ++k) {
        json.raw(",");
        json.number(line.points[k].x);
        json.raw(",");
        json.number(line.points[k].y);
        json.raw(",");
        json.number(line.points[k].z);
    }
    json.raw("]");
}

// A file's drawing; drain is called after each line.
void write_drawing(json_writer& json, const report_drawing& drawing, const std::string& more_note,
                   const std::function<void()>& drain) {
    json.open("full");
    json.boolean(drawing.full && more_note.empty());
    json.field("lines");
    json.raw("[");
    for (std::size_t k = 0; k < drawing.lines.size(); ++k) {
        if (k) json.raw(",");
        write_drawn_line(json, drawing.lines[k], true);
        drain();
    }
    json.raw("]");
    json.field("subfile");
    json.raw("[");
    for (std::size_t k = 0; k < drawing.subfile.size(); ++k) {
        if (k) json.raw(",");
        write_drawn_line(json, drawing.subfile[k], false);
        drain();
    }
    json.raw("]");
    json.text_field(
        "note", drawing.note.empty() || more_note.empty() ? drawing.note + more_note : drawing.note + " " + more_note);
    json.close();
}

// ---------------------------------------------------------------- text

const char* type_name(line_type type) {
    switch (type) {
        case line_type::edge: return "edge line";
        case line_type::triangle: return "triangle";
        case line_type::quad: return "quad";
        case line_type::conditional: return "conditional line";
        default: break;
    }
    return "line";
}

void append_counts(std::string& out, const line_counts& c) {
    out += counted(c.lines, "line", "lines") + " (" + counted(c.edges, "edge line", "edge lines") + ", " +
           counted(c.conditionals, "conditional line", "conditional lines") + ", " +
           counted(c.triangles, "triangle", "triangles") + ", " + counted(c.quads, "quad", "quads") + ", " +
           counted(c.subfiles, "subfile reference", "subfile references") + ")";
}

void append_totals(std::string& out, const change_totals& t) {
    out += counted(t.lines_removed, "line removed", "lines removed") + ", " +
           counted(t.quads_made_triangles, "quad made a triangle", "quads made triangles") + ", " +
           counted(t.vertices_moved, "vertex moved", "vertices moved") + ", largest distance moved " +
           format_number(t.largest_distance);
}

// A changed line and its moved vertices, corners counted from 1.
void append_change(std::string& out, const change_record& record, const line_change& change) {
    out += "  line " + std::to_string(change.line) + ": " + type_name(change.type);
    switch (change.what) {
        case line_change::kind::removed: out += " removed"; break;
        case line_change::kind::triangle: out += " made a triangle"; break;
        case line_change::kind::moved: out += " moved"; break;
    }
    const std::string_view reason = record.reason(change);
    if (!reason.empty()) out.append(" (").append(reason).append(")");
    out += "\n";
    for (const vertex_change& v : record.vertices(change)) {
        const point& from = record.from(change, v);
        const point& to = record.to(v);
        out += "    corner " + std::to_string(v.index + 1) + ": " + from.to_text() + " -> " + to.to_text() +
               ", distance " + format_number(from.manhattan_distance(to));
        const std::string_view subfile = record.subfile(v);
        if (!v.snapped) {
            out += ", merged\n";
        } else if (subfile.empty()) {
            out += ", snapped onto a subfile\n";
        } else {
            out.append(", snapped onto ").append(printable(subfile)).append("\n");
        }
    }
}

void append_groups(std::string& out, const change_record& record, const std::function<void()>& drain) {
    if (record.groups.empty()) return;
    out += "\n  Merged vertices (output position <- input positions):\n";
    for (const merge_group& group : record.groups) {
        out += "    " + record.to(group).to_text() + " <-";
        for (std::size_t k = 0; k < group.count; ++k) {
            out += k ? ", " : " ";
            record.from(group, k).append_text(out);
        }
        out += "\n";
        drain();
    }
}

void append_text(std::string& out, const file_report& file, const std::function<void()>& drain) {
    out += printable(file.input) + " -> " + printable(file.output) + (file.output_written ? "\n" : " (not written)\n");
    out += "  vertex threshold " + format_number(file.thresholds.vertex_threshold);
    if (file.snap_on_subfiles) {
        out += ", subfile threshold " + format_number(file.thresholds.subfile_threshold) +
               ", subfiles inlined and snapped onto (-s)\n";
    } else {
        out += ", subfiles not inlined (no -s)\n";
    }
    out += "  read ";
    append_counts(out, file.read);
    out += file.output_written ? "\n  written " : "\n  would write ";
    append_counts(out, file.written);
    out += "\n  ";
    append_totals(out, file.changes.totals);
    out += "\n";
    if (file.changes.lines.empty()) {
        out += "\n  No line was changed.\n";
        return;
    }
    out += "\n  Changed lines (input line numbers; corners counted from 1):\n";
    for (const line_change& change : file.changes.lines) {
        append_change(out, file.changes, change);
        drain();
    }
    append_groups(out, file.changes, drain);
}

// The page template around its data: the placeholder stands alone on its line (the build checks
// that there is one such line), and that line is replaced by the data, on one line.
std::string_view page_head() {
    static constexpr std::string_view placeholder_line = "\n/*WELDRIX_REPORT_DATA*/\n";
    const std::string_view page = report_page_template();
    return page.substr(0, page.find(placeholder_line) + 1);
}
std::string_view page_tail() {
    const std::string_view page = report_page_template();
    return page.substr(page_head().size() + std::string_view("/*WELDRIX_REPORT_DATA*/").size());
}

// What a page lists of a file, given the changed lines it may still list in all, and what its
// note then says of the rest.
listed page_limit(const change_record& changes, std::size_t left, std::string& note) {
    listed limit;
    limit.changes = std::min({changes.lines.size(), page_changes_per_file, left});
    limit.groups = std::min(changes.groups.size(), page_changes_per_file);
    if (limit.changes == changes.lines.size() && limit.groups == changes.groups.size()) return limit;
    note = "The page lists " + std::to_string(limit.changes) + " of the file's " +
           std::to_string(changes.lines.size()) + " changed lines and " + std::to_string(limit.groups) + " of its " +
           std::to_string(changes.groups.size()) +
           " merge groups (the totals count them all); the text and JSON reports list every one.";
    return limit;
}

// Bytes are handed on in pieces of about this size: few writes, and buffers that stay small next
// to the files being cleaned (a buffer grown past a piece holds its old and new copy at once).
constexpr std::size_t piece = std::size_t{1} << 16;

}  // namespace

report_writer::report_writer(file_system& fs, std::string name)
    : to_(destination::file),
      form_(report_form_of(name)),
      fs_(&fs),
      name_(std::move(name)),
      page_left_(page_changes_in_all) {}

report_writer::report_writer(console& out)
    : to_(destination::console), form_(report_form::text), out_(&out), page_left_(page_changes_in_all) {}

report_writer::report_writer(report_form form, std::string& text)
    : to_(destination::text), form_(form), text_(&text), page_left_(page_changes_in_all) {}

report_writer::~report_writer() = default;

// Opens the temporary file the report is written to as the files come, once. A device or FIFO
// is opened only at finish (a FIFO would block until something reads it, and a terminal would
// show the report among the run's other lines).
bool report_writer::open_file() {
    if (tried_open_) return stream_ != nullptr;
    tried_open_ = true;
    file_status st;
    if (repeat_interrupted([&] { return fs_->status(name_, st); }) != 0 || st.kind == file_kind::other) return false;
    auto stream = std::make_unique<staged_writer>(*fs_, name_);
    if (!stream->good()) return false;
    if (form_ == report_form::html) {
        auto spool = std::make_unique<spool_file>(*fs_, name_);
        if (!spool->good()) return false;
        spool_ = std::move(spool);
    }
    stream_ = std::move(stream);
    return true;
}

void report_writer::add(file_report file) {
    if (finished_) return;
    if (to_ == destination::console || (to_ == destination::file && !open_file())) {
        kept_.push_back(std::move(file));
        return;
    }
    write_file(file);
}

bool report_writer::finish() {
    if (finished_) return false;
    finished_ = true;
    if (to_ == destination::file && !open_file()) {
        // Written now, from the records kept, as the whole report was written once.
        stream_ = std::make_unique<staged_writer>(*fs_, name_);
        if (!stream_->good()) {
            stream_.reset();
            kept_.clear();
            return false;
        }
    }
    for (file_report& file : kept_) {
        write_file(file);
        file = file_report();  // its memory is given back now
    }
    kept_.clear();
    if (files_ == 0) write_head();
    write_tail();
    drain(true);
    if (to_ != destination::file) return true;
    staged_file staged;
    const bool written = !failed_ && stream_->finish(staged) && commit_staged(*fs_, staged);
    stream_.reset();
    return written;
}

void report_writer::write_head() {
    switch (form_) {
        case report_form::text: bytes_ += "weldrix change report\n"; break;
        case report_form::html:
            bytes_ += page_head();
            bytes_ += "{\"report\":";
            [[fallthrough]];
        case report_form::json: bytes_ += "{\"format\":\"weldrix-report\",\"version\":1,\"files\":["; break;
    }
}

void report_writer::write_file(const file_report& file) {
    if (files_ == 0) write_head();
    const std::function<void()> drain_some = [this] { drain(); };
    if (form_ == report_form::text) {
        bytes_ += "\n";
        append_text(bytes_, file, drain_some);
    } else {
        json_writer json(bytes_, form_ == report_form::html);
        if (files_ > 0) json.raw(",");
        if (form_ == report_form::json) {
            write_file_json(json, file, listed{}, drain_some);
        } else {
            std::string note;
            const listed limit = page_limit(file.changes, page_left_, note);
            page_left_ -= limit.changes;
            write_file_json(json, file, limit, drain_some);
            std::string drawn(files_ > 0 ? "," : "");
            // Spooled, a large drawing goes in pieces; kept, it is kept whole.
            const auto spool = [&](bool all) {
                if (!spool_ || (!all && drawn.size() < piece)) return;
                failed_ = failed_ || !spool_->write(drawn);
                drawn.clear();
            };
            json_writer drawing(drawn, true);
            write_drawing(drawing, file.drawing, note, [&] { spool(false); });
            spool(true);
            if (!spool_) {
                drawn.shrink_to_fit();
                drawings_.push_back(std::move(drawn));
            }
        }
    }
    all_ += file.changes.totals;
    ++files_;
    drain();
}

void report_writer::write_tail() {
    switch (form_) {
        case report_form::text:
            if (files_ != 1) {
                bytes_ += "\n";
                bytes_ += counted(files_, "file", "files");
                bytes_ += ": ";
                append_totals(bytes_, all_);
                bytes_ += "\n";
            }
            break;
        case report_form::json: bytes_ += "]}\n"; break;
        case report_form::html:
            bytes_ += "]},\"drawing\":[";
            drain(true);
            if (spool_) {
                const bool copied = !failed_ && spool_->read_back([this](std::string_view drawn) {
                    emit(drawn);
                    return !failed_;
                });
                failed_ = failed_ || !copied;
                spool_.reset();
            }
            for (std::string& drawing : drawings_) {
                emit(drawing);
                drawing = std::string();
            }
            drawings_.clear();
            bytes_ += "]}";
            bytes_ += page_tail();
            break;
    }
}

void report_writer::drain(bool all) {
    if (bytes_.empty() || (!all && bytes_.size() < piece)) return;
    emit(bytes_);
    bytes_.clear();
}

void report_writer::emit(std::string_view bytes) {
    switch (to_) {
        case destination::file: failed_ = failed_ || !stream_->write(bytes); break;
        case destination::console: out_->write(bytes); break;
        case destination::text: *text_ += bytes; break;
    }
}

}  // namespace weldrix
