#include "document/line_reader.hpp"

#include "elements/comment_line.hpp"
#include "elements/polygon_lines.hpp"
#include "elements/subfile_line.hpp"
#include "geometry/number_parse.hpp"

namespace weldrix {

bool is_text(std::string_view bytes) {
    const auto starts_with = [&](std::string_view mark) { return bytes.substr(0, mark.size()) == mark; };
    using namespace std::string_view_literals;
    if (starts_with("\xFF\xFE"sv) || starts_with("\xFE\xFF"sv) || starts_with("\0\0\xFE\xFF"sv)) return false;
    return bytes.find('\0') == std::string_view::npos;
}

std::string_view first_line_end(std::string_view bytes) {
    const char* const end = bytes.data() + bytes.size();
    const auto cut =
        detail::cut_line(detail::find_byte(bytes.data(), end, '\n'), detail::find_byte(bytes.data(), end, '\r'), end);
    switch (cut.next - cut.line_end) {
        case 2: return "\r\n";
        case 1: return *cut.line_end == '\r' ? "\r" : "\n";
        default: return "\n";
    }
}

std::unique_ptr<ldraw_line> make_line(std::string_view line, number_notes* notes) {
    if (notes) notes->clear();
    if (line.empty()) return nullptr;
    const int_scan type = scan_int(line.data(), line.data() + line.size());
    if (type.status != scan_status::number) return nullptr;
    switch (static_cast<line_type>(type.value)) {
        case line_type::comment: {
            // The comment starts after the first "0" byte (which may sit inside a signed type,
            // "-0 x") and the separator after it: white space or another "0" ("00 x"). Any other
            // byte there is the comment's first character ("0//x", "0!LDRAW_ORG") and is kept.
            const auto zero = line.find('0');
            if (zero + 1 >= line.size()) return std::make_unique<comment_line>(std::string_view());
            const char next = line[zero + 1];
            const auto start = is_space(next) || next == '0' ? zero + 2 : zero + 1;
            return std::make_unique<comment_line>(line.substr(start));
        }
        case line_type::subfile: return std::make_unique<subfile_line>(line, notes);
        case line_type::edge: return std::make_unique<edge_line>(line, notes);
        case line_type::triangle: return std::make_unique<triangle_line>(line, notes);
        case line_type::quad: return std::make_unique<quad_line>(line, notes);
        case line_type::conditional: return std::make_unique<cond_line>(line, notes);
        default: return nullptr;
    }
}

}  // namespace weldrix
