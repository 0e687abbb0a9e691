#include "document/ldraw_file.hpp"

#include <charconv>

#include "document/file_io.hpp"
#include "document/line_reader.hpp"
#include "document/settings.hpp"

namespace weldrix {

void line_counts::count_type(int type_code) {
    switch (type_code) {
        case 1: ++subfiles; break;
        case 2: ++edges; break;
        case 3: ++triangles; break;
        case 4: ++quads; break;
        case 5: ++conditionals; break;
        default: break;
    }
}

void line_counts::print(console& out, std::string_view what) const {
    const std::pair<std::size_t, std::string_view> rows[] = {
        {lines, what},         {edges, " Edge lines"}, {conditionals, " Conditional lines"},
        {triangles, " Triangles"}, {quads, " Quads"},      {subfiles, " Subfiles"},
    };
    for (const auto& [number, label] : rows) {
        char buf[24];
        const auto end = std::to_chars(buf, buf + sizeof buf, number).ptr;
        out.write(std::string_view(buf, static_cast<std::size_t>(end - buf)));
        out.line(label);
    }
}

ldraw_file::ldraw_file() : thresholds{vertex_threshold, subfile_threshold} {}

ldraw_file::~ldraw_file() = default;

line_counts ldraw_file::read_bytes(std::string_view bytes) {
    const std::string_view lines = without_byte_order_mark(bytes);
    byte_order_mark_ = lines.size() != bytes.size();
    bytes = lines;
    crlf_ = first_line_end_is_crlf(bytes);
    line_counts counts;
    for_each_line(bytes, [&](std::string_view line) {
        auto element = make_line(line);
        if (!element) return;
        counts.count_type(element->type_code());
        elements.push_back(std::move(element));
    });
    main_count = elements.size();
    counts.lines = main_count;
    return counts;
}

bool ldraw_file::read(const std::string& file_name, console& out) {
    std::string bytes;
    if (!read_file(file_name, bytes)) return false;
    real_name_ = real_path(file_name);
    if (real_name_.empty()) real_name_ = file_name;
    read_bytes(bytes).print(out, " lines in file");
    return true;
}

std::string ldraw_file::text(line_counts& written) const {
    written = {};
    const std::string_view eol = crlf_ ? "\r\n" : "\n";
    std::string out;
    // Lines of real parts average about 60 bytes: reserving that much spares most of the copies
    // of a growing buffer (a longer text still grows as usual).
    out.reserve(main_count * 64);
    if (byte_order_mark_) out += byte_order_mark;  // kept, like the file's line ends
    for (std::size_t i = 0; i < main_count; ++i) {
        const std::size_t before = out.size();
        elements[i]->append_text(out);
        if (out.size() == before) continue;  // an empty text is not written
        out += eol;
        ++written.lines;
        written.count_type(elements[i]->type_code());
    }
    return out;
}

bool ldraw_file::write(const std::string& file_name, console& out) const {
    line_counts written;
    const std::string bytes = text(written);
    if (!replace_file(file_name, bytes)) return false;
    written.print(out, " lines written in file");
    return true;
}

}  // namespace weldrix
