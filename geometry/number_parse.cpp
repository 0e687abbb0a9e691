#include "geometry/number_parse.hpp"

#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>
#include <system_error>

namespace weldrix {
namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

constexpr double exact_powers_of_ten[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                          1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                          1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// The numbers of LDraw files are short ("-12.5", "0.7071", "24"). When the digits form an integer
// m <= 2^53 and the decimal exponent k satisfies |k| <= 22, both m and 10^|k| are exact doubles,
// so the one multiplication or division m * 10^k is correctly rounded: the value strtod gives.
// Anything else (more digits, a larger exponent) is left to the general reader. q points at the
// first digit or at a point followed by a digit.
bool scan_short_decimal(const char* q, const char* end, double& value, const char*& stop) {
    std::uint64_t m = 0;
    int digits = 0;
    int k = 0;
    while (q != end && is_digit(*q)) {
        m = m * 10 + static_cast<unsigned>(*q - '0');
        ++digits;
        ++q;
        if (digits > 19) return false;  // m may have wrapped; it is not used
    }
    if (q != end && *q == '.') {
        ++q;
        while (q != end && is_digit(*q)) {
            m = m * 10 + static_cast<unsigned>(*q - '0');
            ++digits;
            --k;
            ++q;
            if (digits > 19) return false;
        }
    }
    if (q != end && (*q == 'e' || *q == 'E')) {
        const char* r = q + 1;
        bool negative_exponent = false;
        if (r != end && (*r == '+' || *r == '-')) {
            negative_exponent = *r == '-';
            ++r;
        }
        if (r != end && is_digit(*r)) {  // otherwise the "e" is not part of the number
            int e = 0;
            while (r != end && is_digit(*r)) {
                if (e > 1000) return false;
                e = e * 10 + (*r - '0');
                ++r;
            }
            k += negative_exponent ? -e : e;
            q = r;
        }
    }
    if (m > (std::uint64_t{1} << 53) || k < -22 || k > 22) return false;
    const auto exact = static_cast<double>(m);
    value = k < 0 ? exact / exact_powers_of_ten[-k] : exact * exact_powers_of_ten[k];
    stop = q;
    return true;
}

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
    const char* short_stop = nullptr;
    if (scan_short_decimal(q, end, value, short_stop)) return {scan_status::number, negative ? -value : value, short_stop};
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
