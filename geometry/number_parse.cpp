#include "geometry/number_parse.hpp"

#include <bit>
#include <cassert>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <system_error>

#include "geometry/powers_of_ten.hpp"

namespace weldrix {
namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Reads the run of decimal digits at q into m (m = m * 10^n + digits) and returns its length n.
// Eight bytes are examined at once where eight are left before end: which of them are digits is
// found without a branch per byte, and up to eight digits are converted together. Coordinates
// vary in length from number to number, so a loop ending at an unpredictable digit costs more
// than the arithmetic. Never looks at end or beyond. Stops early (returning more than 19) once the
// run is too long for m; the caller then gives up on the short path.
[[gnu::always_inline]] inline int read_digit_run(const char*& q, const char* end, std::uint64_t& m) {
    constexpr std::uint64_t ones = 0x0101010101010101u;
    static constexpr std::uint64_t powers[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000};
    int total = 0;
    while (end - q >= 8) {
        std::uint64_t bytes;
        std::memcpy(&bytes, q, 8);
        if constexpr (std::endian::native == std::endian::big) bytes = __builtin_bswap64(bytes);
        // Digit values 0..9 where the byte is a digit; a byte is no digit when its value, less
        // '0', has the high bit set or is 10 or more (tested without carries between bytes).
        const std::uint64_t values = bytes - 0x30 * ones;
        const std::uint64_t high = (bytes | values) & (0x80 * ones);
        const std::uint64_t ten_or_more = ((values & (0x7F * ones)) + (0x76 * ones)) & (0x80 * ones);
        const std::uint64_t no_digit = high | ten_or_more;
        const int n = no_digit ? __builtin_ctzll(no_digit) / 8 : 8;
        if (n == 0) return total;
        // The n digits, first one most significant, moved to the top bytes with zeros below.
        std::uint64_t v = values << (8 * (8 - n));
        v = (v * 10) + (v >> 8);
        v = (((v & 0x000000FF000000FFu) * 0x000F424000000064u) +
             (((v >> 16) & 0x000000FF000000FFu) * 0x0000271000000001u)) >>
            32;
        m = m * powers[n] + (v & 0xFFFFFFFFu);
        q += n;
        total += n;
        if (n < 8) return total;
        if (total > 16) return total + 8;  // no room for more digits
    }
    while (q != end && is_digit(*q)) {
        m = m * 10 + static_cast<unsigned>(*q++ - '0');
        if (++total > 19) return total;
    }
    return total;
}

// The numbers of LDraw files are short ("-12.5", "0.7071", "24"). When the digits form an integer
// m <= 2^53 and the decimal exponent k satisfies |k| <= 22, both m and 10^|k| are exact doubles,
// so the one multiplication or division m * 10^k is correctly rounded: the value strtod gives.
// Anything else (more digits, a larger exponent) is left to the general reader. q points at the
// first digit or at a point followed by a digit.
bool scan_short_decimal(const char* q, const char* end, double& value, const char*& stop) {
    std::uint64_t m = 0;
    int digits = read_digit_run(q, end, m);
    int k = 0;
    if (digits <= 19 && q != end && *q == '.') {
        ++q;
        const int fraction = read_digit_run(q, end, m);
        digits += fraction;
        k = -fraction;
    }
    if (digits > 19) return false;  // m may have wrapped; it is not used
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
    if (m > (std::uint64_t{1} << 53) || k < -largest_exact_power_of_ten || k > largest_exact_power_of_ten) return false;
    const auto exact = static_cast<double>(m);
    // Dividing by 10^0 = 1 is exact, so the usual cases (no exponent) take one branch.
    value = k > 0 ? exact * exact_powers_of_ten[k] : exact / exact_powers_of_ten[-k];
    stop = q;
    return true;
}

}  // namespace

double_scan scan_double(const char* p, const char* end) {
    assert(p <= end);
    p = skip_space(p, end);
    if (p == end) return {scan_status::end_of_text, 0.0, end};

    // The sign, without a branch: signs vary unpredictably from number to number.
    const bool negative = *p == '-';
    const char* q = p + (negative || *p == '+');
    // A decimal number starts with a digit, or with a point directly followed by a digit. This
    // also keeps from_chars away from "inf", "nan" and signs it does not accept.
    const bool starts = q != end && (is_digit(*q) || (*q == '.' && q + 1 != end && is_digit(q[1])));
    if (!starts) return {scan_status::not_a_number, 0.0, p};

    double value = 0.0;
    const char* short_stop = nullptr;
    if (scan_short_decimal(q, end, value, short_stop))
        return {scan_status::number, negative ? -value : value, short_stop};
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
    assert(p <= end);
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

void note_number(number_notes& notes, scan_status status, double value, const char* begin, const char* number_end,
                 const char* token_end) {
    const std::string_view token(begin, static_cast<std::size_t>(token_end - begin));
    if (status == scan_status::not_a_number) {
        if (notes.not_a_number.empty()) notes.not_a_number = token;
        return;
    }
    if (status != scan_status::number) return;
    ++notes.read;
    if (number_end != token_end) notes.partials.push_back({token, value});
}

}  // namespace weldrix
