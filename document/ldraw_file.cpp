#include "document/ldraw_file.hpp"

#include "document/line_reader.hpp"
#include "document/unify_vertices.hpp"
#include "geometry/vertex_set.hpp"
#include "io/console.hpp"
#include "io/files.hpp"

namespace weldrix {

ldraw_file::ldraw_file(const clean_options& options) : options(options) {}

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

ldraw_file::read_result ldraw_file::read(file_system& fs, const std::string& file_name, console& out) {
    std::string bytes;
    if (!read_file(fs, file_name, bytes)) return read_result::not_found;
    if (!is_text(bytes)) return read_result::not_a_text;
    real_name_ = real_path_or_name(fs, file_name);
    read_bytes(bytes).print(out, " lines in file");
    return read_result::ok;
}

std::string ldraw_file::text(line_counts& written) const {
    written = {};
    const std::string_view eol = crlf_ ? "\r\n" : "\n";
    std::string out;
    // Reserving a typical line length per line spares most of the copies of a growing buffer (a
    // longer text still grows as usual).
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

bool ldraw_file::write(file_system& fs, const std::string& file_name, console& out) const {
    line_counts written;
    const std::string bytes = text(written);
    if (!replace_file(fs, file_name, bytes)) return false;
    written.print(out, " lines written in file");
    return true;
}

std::vector<missing_subfile> ldraw_file::expand_subfiles(const search_paths& paths, console& out,
                                                         const inline_observer& observer) {
    inlined_vertices_ = std::make_unique<vertex_set>(options.thresholds, options.search);
    return weldrix::expand_subfiles(elements, main_count, real_name_, paths, options.max_inlined_lines,
                                    *inlined_vertices_, out, observer);
}

void ldraw_file::unify_vertices() {
    weldrix::unify_vertices(elements, main_count, inlined_vertices_.get(), options.thresholds, options.search);
}

}  // namespace weldrix
