#include "app/report.hpp"

#include <algorithm>
#include <cstdint>
#include <span>

#include "app/report_page.hpp"
#include "app/wording.hpp"
#include "geometry/number_format.hpp"
#include "io/files.hpp"

namespace weldrix {
namespace {

// ---------------------------------------------------------------- JSON

// Appends JSON to a string. Texts may hold any bytes: what is not valid UTF-8 is written as
// U+FFFD, so the result is always valid UTF-8. For a page (in_page) every "</" is written "<\/",
// so the text cannot end the script element that holds it.
class json_writer {
public:
    json_writer(std::string& out, bool in_page) : out_(out), in_page_(in_page) {}

    void raw(std::string_view text) { out_ += text; }
    void key(std::string_view name) {
        string(name);
        out_ += ':';
    }
    void integer(std::size_t n) { out_ += std::to_string(n); }
    void boolean(bool b) { out_ += b ? "true" : "false"; }

    // As the tool writes numbers ("%.7lg"); infinities and NaN as the strings "inf", "-inf", "nan".
    void number(double v) {
        char text[number_text_max];
        char* const end = write_number(text, v);
        const bool word = text[0] == 'i' || text[0] == 'n' || (text[0] == '-' && text[1] == 'i');
        if (word) out_ += '"';
        out_.append(text, end);
        if (word) out_ += '"';
    }
    void point_array(const point& p) {
        out_ += '[';
        number(p.x);
        out_ += ',';
        number(p.y);
        out_ += ',';
        number(p.z);
        out_ += ']';
    }
    void string(std::string_view text);

private:
    void escape(unsigned code) {
        static const char digits[] = "0123456789abcdef";
        out_ += "\\u";
        for (int shift = 12; shift >= 0; shift -= 4) out_ += digits[(code >> shift) & 0xf];
    }
    // The length of the valid UTF-8 sequence that starts text[i], or 0 when it is not one.
    static std::size_t utf8_length(std::string_view text, std::size_t i);

    std::string& out_;
    bool in_page_;
};

std::size_t json_writer::utf8_length(std::string_view text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned lead = byte(i);
    std::size_t length;
    unsigned low = 0x80, high = 0xbf;  // the range of the second byte
    if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3;
        if (lead == 0xe0) low = 0xa0;   // no overlong forms
        if (lead == 0xed) high = 0x9f;  // no surrogates
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4;
        if (lead == 0xf0) low = 0x90;
        if (lead == 0xf4) high = 0x8f;  // nothing above U+10FFFF
    } else {
        return 0;
    }
    if (i + length > text.size()) return 0;
    if (byte(i + 1) < low || byte(i + 1) > high) return 0;
    for (std::size_t k = 2; k < length; ++k) {
        if (byte(i + k) < 0x80 || byte(i + k) > 0xbf) return 0;
    }
    return length;
}

void json_writer::string(std::string_view text) {
    out_ += '"';
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            if (c == '"' || c == '\\') {
                out_ += '\\';
                out_ += static_cast<char>(c);
            } else if (c < 0x20) {
                escape(c);
            } else if (c == '<' && in_page_) {
                // No "<" at all in a page's script: "</script" would end it early, and
                // "<!--<script" would make the HTML parser take the page's own "</script>" as
                // part of the script.
                escape(c);
            } else {
                out_ += static_cast<char>(c);
            }
            ++i;
            continue;
        }
        const std::size_t length = utf8_length(text, i);
        if (length == 0) {
            escape(0xfffd);
            ++i;
        } else if (length == 3 && c == 0xe2 && text[i + 1] == '\x80' &&
                   (text[i + 2] == '\xa8' || text[i + 2] == '\xa9')) {
            // U+2028 and U+2029 are valid in JSON but ended a line in older JavaScript.
            escape(text[i + 2] == '\xa8' ? 0x2028 : 0x2029);
            i += length;
        } else {
            out_.append(text.substr(i, length));
            i += length;
        }
    }
    out_ += '"';
}

const char* change_name(line_change::kind what) {
    switch (what) {
        case line_change::kind::removed: return "removed";
        case line_change::kind::triangle: return "triangle";
        case line_change::kind::moved: break;
    }
    return "moved";
}

void write_counts(json_writer& json, const line_counts& counts) {
    json.raw("{\"lines\":");
    json.integer(counts.lines);
    json.raw(",\"edges\":");
    json.integer(counts.edges);
    json.raw(",\"conditionals\":");
    json.integer(counts.conditionals);
    json.raw(",\"triangles\":");
    json.integer(counts.triangles);
    json.raw(",\"quads\":");
    json.integer(counts.quads);
    json.raw(",\"subfiles\":");
    json.integer(counts.subfiles);
    json.raw("}");
}

void write_vertex(json_writer& json, const vertex_change& v) {
    json.raw("{\"index\":");
    json.integer(static_cast<std::size_t>(v.index));
    json.raw(",\"from\":");
    json.point_array(v.from);
    json.raw(",\"to\":");
    json.point_array(v.to);
    json.raw(",\"distance\":");
    json.number(v.distance);
    json.raw(v.snapped ? ",\"onto\":\"snapped\"" : ",\"onto\":\"merged\"");
    if (v.snapped && !v.subfile.empty()) {
        json.raw(",\"subfile\":");
        json.string(v.subfile);
    }
    json.raw("}");
}

// The changes and merge groups a report lists of one file (the page lists fewer than all of a
// very large file).
struct listed {
    std::size_t changes = SIZE_MAX;
    std::size_t groups = SIZE_MAX;
};

void write_file(json_writer& json, const file_report& file, const listed& limit) {
    json.raw("{\"input\":");
    json.string(file.input);
    json.raw(",\"output\":");
    json.string(file.output);
    json.raw(",\"thresholds\":{\"vertex\":");
    json.number(file.thresholds.vertex_threshold);
    json.raw(",\"subfile\":");
    json.number(file.thresholds.subfile_threshold);
    json.raw("},\"snap_on_subfiles\":");
    json.boolean(file.snap_on_subfiles);
    json.raw(",\"read\":");
    write_counts(json, file.read);
    json.raw(",\"written\":");
    write_counts(json, file.written);
    json.raw(",\"changes\":[");
    bool first = true;
    const std::size_t changes = std::min(limit.changes, file.changes.lines.size());
    for (const line_change& change : std::span(file.changes.lines).first(changes)) {
        json.raw(first ? "{\"line\":" : ",{\"line\":");
        first = false;
        json.integer(change.line);
        json.raw(",\"type\":");
        json.integer(static_cast<std::size_t>(change.type));
        json.raw(",\"change\":\"");
        json.raw(change_name(change.what));
        json.raw("\"");
        if (!change.reason.empty()) {
            json.raw(",\"reason\":");
            json.string(change.reason);
        }
        json.raw(",\"vertices\":[");
        for (std::size_t k = 0; k < change.vertices.size(); ++k) {
            if (k) json.raw(",");
            write_vertex(json, change.vertices[k]);
        }
        json.raw("]}");
    }
    json.raw("],\"groups\":[");
    first = true;
    const std::size_t groups = std::min(limit.groups, file.changes.groups.size());
    for (const merge_group& group : std::span(file.changes.groups).first(groups)) {
        json.raw(first ? "{\"to\":" : ",{\"to\":");
        first = false;
        json.point_array(group.to);
        json.raw(",\"from\":[");
        for (std::size_t k = 0; k < group.from.size(); ++k) {
            if (k) json.raw(",");
            json.point_array(group.from[k]);
        }
        json.raw("]}");
    }
    const change_totals& totals = file.changes.totals;
    json.raw("],\"totals\":{\"removed\":");
    json.integer(totals.lines_removed);
    json.raw(",\"triangles\":");
    json.integer(totals.quads_made_triangles);
    json.raw(",\"moved\":");
    json.integer(totals.vertices_moved);
    json.raw(",\"largest_distance\":");
    json.number(totals.largest_distance);
    json.raw("}}");
}

void write_report_json(json_writer& json, const std::vector<file_report>& files, const std::vector<listed>& limits) {
    json.raw("{\"format\":\"weldrix-report\",\"version\":1,\"files\":[");
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (i) json.raw(",");
        write_file(json, files[i], i < limits.size() ? limits[i] : listed{});
    }
    json.raw("]}");
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

void write_drawing(json_writer& json, const report_drawing& drawing, const std::string& more_note) {
    json.raw("{\"full\":");
    json.boolean(drawing.full && more_note.empty());
    json.raw(",\"lines\":[");
    for (std::size_t k = 0; k < drawing.lines.size(); ++k) {
        if (k) json.raw(",");
        write_drawn_line(json, drawing.lines[k], true);
    }
    json.raw("],\"subfile\":[");
    for (std::size_t k = 0; k < drawing.subfile.size(); ++k) {
        if (k) json.raw(",");
        write_drawn_line(json, drawing.subfile[k], false);
    }
    json.raw("],\"note\":");
    json.string(drawing.note.empty() || more_note.empty() ? drawing.note + more_note : drawing.note + " " + more_note);
    json.raw("}");
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

void append_text(std::string& out, const file_report& file) {
    out += printable(file.input) + " -> " + printable(file.output) + "\n";
    out += "  vertex threshold " + format_number(file.thresholds.vertex_threshold);
    if (file.snap_on_subfiles) {
        out += ", subfile threshold " + format_number(file.thresholds.subfile_threshold) +
               ", subfiles inlined and snapped onto (-s)\n";
    } else {
        out += ", subfiles not inlined (no -s)\n";
    }
    out += "  read ";
    append_counts(out, file.read);
    out += "\n  written ";
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
        out += "  line " + std::to_string(change.line) + ": " + type_name(change.type);
        switch (change.what) {
            case line_change::kind::removed: out += " removed"; break;
            case line_change::kind::triangle: out += " made a triangle"; break;
            case line_change::kind::moved: out += " moved"; break;
        }
        if (!change.reason.empty()) out += " (" + change.reason + ")";
        out += "\n";
        for (const vertex_change& v : change.vertices) {
            out += "    corner " + std::to_string(v.index + 1) + ": " + v.from.to_text() + " -> " + v.to.to_text() +
                   ", distance " + format_number(v.distance);
            if (!v.snapped) {
                out += ", merged\n";
            } else {
                out +=
                    v.subfile.empty() ? ", snapped onto a subfile\n" : ", snapped onto " + printable(v.subfile) + "\n";
            }
        }
    }
    if (!file.changes.groups.empty()) {
        out += "\n  Merged vertices (output position <- input positions):\n";
        for (const merge_group& group : file.changes.groups) {
            out += "    " + group.to.to_text() + " <-";
            for (std::size_t k = 0; k < group.from.size(); ++k) {
                out += k ? ", " : " ";
                group.from[k].append_text(out);
            }
            out += "\n";
        }
    }
}

}  // namespace

report_form report_form_of(std::string_view name) {
    const auto ends_with = [&](std::string_view suffix) {
        if (name.size() < suffix.size()) return false;
        for (std::size_t k = 0; k < suffix.size(); ++k) {
            char c = name[name.size() - suffix.size() + k];
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
            if (c != suffix[k]) return false;
        }
        return true;
    };
    if (ends_with(".html") || ends_with(".htm")) return report_form::html;
    if (ends_with(".json")) return report_form::json;
    return report_form::text;
}

std::string report_text(const std::vector<file_report>& files) {
    std::string out = "weldrix change report\n";
    change_totals all;
    for (const file_report& file : files) {
        out += "\n";
        append_text(out, file);
        all += file.changes.totals;
    }
    if (files.size() != 1) {
        out += "\n";
        out += counted(files.size(), "file", "files");
        out += ": ";
        append_totals(out, all);
        out += "\n";
    }
    return out;
}

std::string report_json(const std::vector<file_report>& files) {
    std::string out;
    json_writer json(out, false);
    write_report_json(json, files, {});
    out += "\n";
    return out;
}

std::string report_html(const std::vector<file_report>& files) {
    // The placeholder stands alone on its line (the build checks that there is one such line);
    // that line is replaced by the data, on one line.
    static constexpr std::string_view placeholder_line = "\n/*WELDRIX_REPORT_DATA*/\n";
    const std::string_view page = report_page_template();
    const std::size_t line_start = page.find(placeholder_line) + 1;
    const std::size_t line_end = line_start + placeholder_line.size() - 2;
    // What the page lists of each file, and what it says of the rest.
    std::vector<listed> limits(files.size());
    std::vector<std::string> notes(files.size());
    std::size_t left = page_changes_in_all;
    for (std::size_t i = 0; i < files.size(); ++i) {
        const change_record& changes = files[i].changes;
        limits[i].changes = std::min({changes.lines.size(), page_changes_per_file, left});
        limits[i].groups = std::min(changes.groups.size(), page_changes_per_file);
        left -= limits[i].changes;
        if (limits[i].changes == changes.lines.size() && limits[i].groups == changes.groups.size()) continue;
        notes[i] = "The page lists " + std::to_string(limits[i].changes) + " of the file's " +
                   std::to_string(changes.lines.size()) + " changed lines and " + std::to_string(limits[i].groups) +
                   " of its " + std::to_string(changes.groups.size()) +
                   " merge groups (the totals count them all); the text and JSON reports list every one.";
    }
    std::string out(page.substr(0, line_start));
    json_writer json(out, true);
    json.raw("{\"report\":");
    write_report_json(json, files, limits);
    json.raw(",\"drawing\":[");
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (i) json.raw(",");
        write_drawing(json, files[i].drawing, notes[i]);
    }
    json.raw("]}");
    out += page.substr(line_end);
    return out;
}

bool write_report(file_system& fs, const std::string& name, const std::vector<file_report>& files) {
    switch (report_form_of(name)) {
        case report_form::html: return replace_file(fs, name, report_html(files));
        case report_form::json: return replace_file(fs, name, report_json(files));
        case report_form::text: break;
    }
    return replace_file(fs, name, report_text(files));
}

}  // namespace weldrix
