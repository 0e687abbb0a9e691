// Number readers for LDraw line text, working on a byte range [p, end) that need not be
// NUL-terminated; no reader ever looks at end or beyond.
//
// They read numbers the way the "%lf" and "%d" conversions read them, restricted to what LDraw
// needs and made identical on every host:
//   * leading white space (space, \t, \n, \v, \f, \r) is skipped;
//   * doubles: an optional sign, then digits with an optional decimal point (at least one digit),
//     then an optional exponent ("e" or "E", optional sign, digits). The longest such prefix is
//     converted, correctly rounded ("1.5mm" -> 1.5, "1e" -> 1, "0x10" -> 0). The words inf and nan
//     and hexadecimal floats are not numbers. Overflow gives +-infinity, underflow +-0 or the
//     subnormal, as strtod gives;
//   * integers: an optional sign and decimal digits; values outside 32 bits clamp to
//     INT32_MIN / INT32_MAX.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace weldrix {

inline bool is_space(char c) {
    // \t \n \v \f \r are the consecutive codes 9 to 13.
    return c == ' ' || static_cast<unsigned char>(c - '\t') <= '\r' - '\t';
}

inline const char* skip_space(const char* p, const char* end) {
    while (p != end && is_space(*p)) ++p;
    return p;
}

enum class scan_status {
    number,        // a number was read into value; next is the position after it
    end_of_text,   // only white space was left; next is end
    not_a_number,  // something else follows the white space; next is where it starts
};

struct double_scan {
    scan_status status;
    double value;
    const char* next;
};

struct int_scan {
    scan_status status;
    std::int32_t value;
    const char* next;
};

// Both need p <= end.
[[nodiscard]] double_scan scan_double(const char* p, const char* end);
[[nodiscard]] int_scan scan_int(const char* p, const char* end);

// What the readers of a line's numbers note, for a caller that tells where a line's numbers are
// not read as written (the tokens point into the line text, which must outlive the notes).
struct number_notes {
    struct partial {
        std::string_view token;  // "1,5"
        double value;            // what was read of it: 1
    };
    std::size_t read = 0;           // number tokens read, whole or in part
    std::vector<partial> partials;  // tokens that are a number followed by more ("1,5", "1.5mm", "16abc")
    std::string_view not_a_number;  // the token where reading stopped, which holds no number at all

    void clear() {
        read = 0;
        partials.clear();
        not_a_number = {};
    }
};

// Notes the token [begin, token_end) that a scan read a number from (ending at number_end) or,
// with s.status not_a_number, that holds none. Needs notes.
void note_number(number_notes& notes, scan_status status, double value, const char* begin, const char* number_end,
                 const char* token_end);

}  // namespace weldrix
