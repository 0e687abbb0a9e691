#include "elements/line_scan.hpp"

namespace weldrix {

namespace {

bool is_hex_digit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

}  // namespace

line_start scan_line_start(std::string_view line, number_notes* notes) {
    const char* const end = line.data() + line.size();
    const char* const token = skip_space(skip_token(line.data(), end), end);
    if (end - token >= 3 && token[0] == '0' && (token[1] == 'x' || token[1] == 'X') && is_hex_digit(token[2])) {
        const char* const after = skip_token(token, end);
        if (notes) ++notes->read;
        return {line_colour::direct(std::string_view(token, static_cast<std::size_t>(after - token))), after};
    }
    const int_scan colour = scan_int(token, end);
    // The rest of the colour token ("16abc"), from where the number ended.
    const char* after = colour.next;
    while (after != end && !is_space(*after)) ++after;
    if (notes && colour.status != scan_status::end_of_text) {
        // A colour token with no number at all does not stop the reading: it is given the colour
        // 16, as a number read in part would be given what was read.
        const bool number = colour.status == scan_status::number;
        note_number(*notes, scan_status::number, number ? colour.value : unreadable_colour, token,
                    number ? colour.next : token, after);
    }
    return {colour.status == scan_status::number ? colour.value : unreadable_colour, after};
}

}  // namespace weldrix
