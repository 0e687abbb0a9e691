// Token scanning shared by the parsers of LDraw line types 1 to 5.
//
// White space is space, \t, \n, \v, \f and \r; a token is a maximal run of other bytes. No scan
// moves past the end of the line text.
#pragma once

#include <cstdint>
#include <string_view>

#include "elements/ldraw_line.hpp"
#include "geometry/number_parse.hpp"

namespace weldrix {

// Colour given to a line whose colour token is missing or does not start with a decimal integer:
// 16, "the colour of the referencing line", so that such a line inherits colour when inlined.
inline constexpr std::int32_t unreadable_colour = current_colour;

inline const char* skip_token(const char* p, const char* end) {
    p = skip_space(p, end);
    while (p != end && !is_space(*p)) ++p;
    return p;
}

struct line_start {
    line_colour colour;  // a direct colour, or the number as "%d" reads it, or unreadable_colour
    const char* rest;    // after the colour token
};

// Skips the type token and reads the colour token: a direct colour ("0x" or "0X" and a hex digit)
// is kept whole; any other token is read as "%d" reads it ("16abc" gives 16). The position after
// the whole colour token is where the numbers start. With notes, a colour number is noted, and a
// colour token that is no number is noted as read in part, as unreadable_colour.
[[nodiscard]] line_start scan_line_start(std::string_view line, number_notes* notes = nullptr);

}  // namespace weldrix
