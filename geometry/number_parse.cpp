#include "geometry/number_parse.hpp"

#include <charconv>
#include <cstdlib>
#include <limits>
#include <string>
#include <system_error>

namespace weldrix {
namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

double_scan scan_double(const char* p, const char* end) {
    p = skip_space(p, end);
    if (p == end) return {scan_status::end_of_text, 0.0, end};

    const char* q = p;
    bool negative = false;
    if (*q == '+' || *q == '-') {
        negative = *q == '-';
        ++q;
    }
    // A decimal number starts with a digit, or with a point directly followed by a digit. This
    // also keeps from_chars away from "inf", "nan" and signs it does not accept.
    const bool starts = q != end && (is_digit(*q) || (*q == '.' && q + 1 != end && is_digit(q[1])));
    if (!starts) return {scan_status::not_a_number, 0.0, p};

    double value = 0.0;
    const auto [stop, ec] = std::from_chars(q, end, value, std::chars_format::general);
    if (ec == std::errc::result_out_of_range) {
        // from_chars leaves the value alone on overflow and underflow; strtod gives the value
        // that "%lf" gives (+-infinity, +-0 or the nearest subnormal). The copy holds exactly the
        // decimal text from_chars matched, so strtod reads all of it and nothing else.
        const std::string text(q, stop);
        value = std::strtod(text.c_str(), nullptr);
    }
    return {scan_status::number, negative ? -value : value, stop};
}

int_scan scan_int(const char* p, const char* end) {
    p = skip_space(p, end);
    if (p == end) return {scan_status::end_of_text, 0, end};

    const char* q = p;
    bool negative = false;
    if (*q == '+' || *q == '-') {
        negative = *q == '-';
        ++q;
    }
    if (q == end || !is_digit(*q)) return {scan_status::not_a_number, 0, p};

    // Accumulate the magnitude, saturating just past the 32-bit range.
    constexpr std::int64_t cap = std::int64_t{1} << 32;
    std::int64_t magnitude = 0;
    while (q != end && is_digit(*q)) {
        if (magnitude < cap) magnitude = magnitude * 10 + (*q - '0');
        ++q;
    }
    const std::int64_t signed_value = negative ? -magnitude : magnitude;
    constexpr std::int64_t lo = std::numeric_limits<std::int32_t>::min();
    constexpr std::int64_t hi = std::numeric_limits<std::int32_t>::max();
    const std::int64_t clamped = signed_value < lo ? lo : (signed_value > hi ? hi : signed_value);
    return {scan_status::number, static_cast<std::int32_t>(clamped), q};
}

}  // namespace weldrix
