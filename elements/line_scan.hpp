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
    std::int32_t colour;  // as "%d" reads it, or unreadable_colour
    const char* rest;     // after the colour token
};

// Skips the type token, reads the colour as "%d" does, then skips the whole colour token
// (so "16abc" gives 16 and "0x1F" gives 0).
line_start scan_line_start(std::string_view line);

}  // namespace weldrix
