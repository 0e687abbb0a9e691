#include "geometry/number_format.hpp"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "geometry/number_parse.hpp"
#include "geometry/powers_of_ten.hpp"

namespace weldrix {
namespace {

// Writes the significant digits d[0..count) (count >= 1, no trailing zeros) with decimal
// exponent x (the value is d[0].d[1]d[2]... times 10^x) in general form at p; returns the end.
char* emit_general(char* p, bool negative, const char* d, int count, int x, int digits) {
    if (negative) *p++ = '-';
    if (x < -4 || x >= digits) {
        *p++ = d[0];
        if (count > 1) {
            *p++ = '.';
            for (int k = 1; k < count; ++k) *p++ = d[k];
        }
        *p++ = 'e';
        *p++ = x < 0 ? '-' : '+';
        const int ax = x < 0 ? -x : x;  // at most 324
        *p++ = static_cast<char>('0' + ax / 100);
        *p++ = static_cast<char>('0' + ax / 10 % 10);
        *p++ = static_cast<char>('0' + ax % 10);
    } else if (x < 0) {
        *p++ = '0';
        *p++ = '.';
        for (int z = 0; z < -x - 1; ++z) *p++ = '0';
        for (int k = 0; k < count; ++k) *p++ = d[k];
    } else {
        const int int_digits = x + 1;
        if (count <= int_digits) {
            for (int k = 0; k < count; ++k) *p++ = d[k];
            for (int z = count; z < int_digits; ++z) *p++ = '0';
        } else {
            for (int k = 0; k < int_digits; ++k) *p++ = d[k];
            *p++ = '.';
            for (int k = int_digits; k < count; ++k) *p++ = d[k];
        }
    }
    return p;
}

char* emit_text(char* p, const char* text) {
    while (*text) *p++ = *text++;
    return p;
}

// Zero, infinities and NaN; null for any other value.
char* emit_special(char* p, double v) {
    if (std::isnan(v)) return emit_text(p, "nan");
    if (std::isinf(v)) return emit_text(p, v < 0 ? "-inf" : "inf");
    if (v == 0) return emit_text(p, std::signbit(v) ? "-0" : "0");
    return nullptr;
}

// The reference form: at most a sign, 17 digits, a point and "e+308", or "0.000" and 17 digits.
constexpr std::size_t general_text_max = 32;

char* write_general_exact(char* p, double v, int digits) {
    if (char* special = emit_special(p, v)) return special;
    const bool negative = std::signbit(v);
    // 17 significant digits, correctly rounded: "d.dddddddddddddddde[+-]x".
    char buf[40];
    const auto res = std::to_chars(buf, buf + sizeof buf, std::fabs(v), std::chars_format::scientific, 16);
    char d[17];
    d[0] = buf[0];
    std::memcpy(d + 1, buf + 2, 16);
    int x = 0;
    std::from_chars(buf + 19 + (buf[19] == '+' ? 1 : 0), res.ptr, x);

    // Half up from the digit after the last one kept.
    if (d[digits] >= '5') {
        int i = digits - 1;
        while (i >= 0 && d[i] == '9') d[i--] = '0';
        if (i >= 0) {
            ++d[i];
        } else {
            d[0] = '1';
            ++x;
        }
    }
    int count = digits;
    while (count > 1 && d[count - 1] == '0') --count;
    return emit_general(p, negative, d, count, x, digits);
}

struct digit_pair_table {
    char text[200];
    constexpr digit_pair_table() : text() {
        for (int i = 0; i < 100; ++i) {
            text[2 * i] = static_cast<char>('0' + i / 10);
            text[2 * i + 1] = static_cast<char>('0' + i % 10);
        }
    }
};
constexpr digit_pair_table digit_pairs;

// The fast path, in four steps: whole numbers are written as they are; otherwise the decimal
// exponent x of |v| is estimated, |v| is scaled to seven digits and rounded half up, and the
// digits are written in fixed or exponent notation. Where the scaled value lies too close to a
// rounding boundary to decide quickly, the exact form is computed instead.

// Whole numbers below 10^7, common in LDraw files, have at most seven digits: they are written
// exactly as they are.
[[gnu::always_inline]] inline char* write_whole(char* p, bool negative, std::uint32_t whole) {
    if (negative) *p++ = '-';
    char d[8];
    char* q = d + 8;
    std::uint32_t n = whole;
    while (n >= 100) {
        q -= 2;
        std::memcpy(q, digit_pairs.text + 2 * (n % 100), 2);
        n /= 100;
    }
    if (n >= 10) {
        q -= 2;
        std::memcpy(q, digit_pairs.text + 2 * n, 2);
    } else {
        *--q = static_cast<char>('0' + n);
    }
    const auto length = static_cast<std::size_t>(d + 8 - q);
    std::memcpy(p, q, length);
    return p + length;
}

// The decimal exponent of a normal a > 0: a lies in [2^e2, 2^(e2+1)) with e2 its unbiased binary
// exponent, so floor(e2 * log10(2)) is the decimal exponent or one less; a comparison with the
// next power of ten (where one is exact) settles it. Beyond the exact powers the estimate may
// stay one too low, which scale_and_round detects.
[[gnu::always_inline]] inline int decimal_exponent(double a) {
    std::uint64_t bits;
    std::memcpy(&bits, &a, sizeof bits);
    const int e2 = static_cast<int>(bits >> 52) - 1023;
    const double estimate = e2 * 0.30102999566398120;
    int x = static_cast<int>(estimate);
    if (estimate < x) --x;
    const int k = x + 1;
    if (k <= largest_exact_power_of_ten && k >= -largest_exact_power_of_ten) {
        const bool above = k >= 0 ? a >= exact_powers_of_ten[k] : a * exact_powers_of_ten[-k] >= 1.0;
        if (above) ++x;
    }
    return x;
}

// Scales a to m = a * 10^(6 - x), which lies in [10^6, 10^7), with one correctly rounded
// multiplication or division by an exact power of ten, and rounds it half up to the integer n of
// seven digits (a carry into an eighth digit moves to the next decade, incrementing x).
//
// The error of m is at most half an ulp of m (< 2^-29), and the 17-digit rounding the exact form
// starts from moves the scaled value by at most 0.5e-10. Both are far below the 1e-6 band kept
// around the rounding boundary .5, so outside that band the half-up decision is the one the exact
// form takes. False, leaving the work to the exact form, inside the band, when no exact power of
// ten fits, or when the exponent estimate was off (m outside [10^6, 10^7)).
[[gnu::always_inline]] inline bool scale_and_round(double a, int& x, std::uint32_t& n) {
    const int s = 6 - x;
    double m;
    if (s >= 0 && s <= largest_exact_power_of_ten) {
        m = a * exact_powers_of_ten[s];
    } else if (s < 0 && -s <= largest_exact_power_of_ten) {
        m = a / exact_powers_of_ten[-s];
    } else {
        return false;
    }
    const double whole = static_cast<double>(static_cast<std::int64_t>(m));  // m > 0: floor
    const double frac = m - whole;
    if (whole < 1e6 || whole >= 1e7 || std::fabs(frac - 0.5) < 1e-6) return false;
    n = static_cast<std::uint32_t>(whole) + (frac > 0.5 ? 1u : 0u);
    if (n == 10000000u) {
        n = 1000000u;
        ++x;
    }
    return true;
}

// The seven digits of n (10^6 <= n < 10^7) as text in d[0..7), two at a time, with d[7..16)
// zero; returns how many are significant (without trailing zeros).
[[gnu::always_inline]] inline int seven_digit_text(std::uint32_t n, char (&d)[16]) {
    const std::uint32_t lead = n / 1000000u;
    const std::uint32_t r = n - lead * 1000000u;
    const std::uint32_t p1 = r / 10000u;
    const std::uint32_t rest = r - p1 * 10000u;
    const std::uint32_t p2 = rest / 100u;
    const std::uint32_t p3 = rest - p2 * 100u;
    d[0] = static_cast<char>('0' + lead);
    std::memcpy(d + 1, digit_pairs.text + 2 * p1, 2);
    std::memcpy(d + 3, digit_pairs.text + 2 * p2, 2);
    std::memcpy(d + 5, digit_pairs.text + 2 * p3, 2);
    // Up to the last byte that is not '0' (the first digit never is), found without branches, as
    // the digit count varies unpredictably.
    std::uint64_t word;
    std::memcpy(&word, d, 8);
    if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
    const std::uint64_t nonzero = (word ^ 0x3030303030303030u) & 0x00FFFFFFFFFFFFFFu;
    return (63 - __builtin_clzll(nonzero)) / 8 + 1;
}

// Fixed notation (-4 <= x < 7) of the significant digits d[0..count). The digit runs are copied
// eight bytes at a time and the position then advanced by the length wanted; the bytes written
// beyond the number's end stay inside the number_text_max bytes the caller provides and are
// overwritten or not used.
[[gnu::always_inline]] inline char* write_fixed(char* p, bool negative, const char* d, int count, int x) {
    *p = '-';
    p += negative ? 1 : 0;
    if (x >= 0) {
        const int int_digits = x + 1;  // d holds the integer digits, zeros included
        std::memcpy(p, d, 8);
        p += int_digits;
        // The point and the fraction digits, kept only when there are any.
        const int fraction = count > int_digits ? count - int_digits : 0;
        *p = '.';
        std::memcpy(p + 1, d + int_digits, 8);
        p += fraction + (fraction > 0 ? 1 : 0);
    } else {
        std::memcpy(p, "0.000", 5);
        p += 1 - x;  // "0." and -x - 1 zeros
        std::memcpy(p, d, 8);
        p += count;
    }
    return p;
}

}  // namespace

std::string format_general(double v, int digits) {
    char buf[general_text_max];
    return std::string(buf, write_general_exact(buf, v, digits));
}

char* write_number(char* p, double v) {
    const double a = std::fabs(v);
    if (!(a >= 1e-15 && a < 1e28)) return write_general_exact(p, v, 7);  // zero, subnormal, tiny, huge, inf, nan
    const bool negative = std::signbit(v);
    if (a < 1e7) {
        const auto whole = static_cast<std::uint32_t>(a);
        if (static_cast<double>(whole) == a) return write_whole(p, negative, whole);
    }
    int x = decimal_exponent(a);
    std::uint32_t n;
    if (!scale_and_round(a, x, n)) return write_general_exact(p, v, 7);
    char d[16] = {};
    const int count = seven_digit_text(n, d);
    if (x < -4 || x >= 7) return emit_general(p, negative, d, count, x, 7);
    return write_fixed(p, negative, d, count, x);
}

double written_value(double v) {
    const double a = std::fabs(v);
    if (a >= 1e-15 && a < 1e28) {
        if (a < 1e7 && static_cast<double>(static_cast<std::uint32_t>(a)) == a) return v;  // written as it is
        int x = decimal_exponent(a);
        std::uint32_t n;
        // The text is n times 10^(x - 6), n of seven digits; read back, that is one correctly
        // rounded product or quotient of the exact n and an exact power of ten (where one fits).
        if (scale_and_round(a, x, n) && x - 6 <= largest_exact_power_of_ten && 6 - x <= largest_exact_power_of_ten) {
            const double digits = static_cast<double>(n);
            const double value = x >= 6 ? digits * exact_powers_of_ten[x - 6] : digits / exact_powers_of_ten[6 - x];
            return std::signbit(v) ? -value : value;
        }
    }
    if (v == 0) return 0.0;  // "-0" reads back as a zero, which equals 0
    char text[number_text_max];
    const char* end = write_number(text, v);
    const double_scan read = scan_double(text, end);
    return read.status == scan_status::number ? read.value : v;  // "inf" and "nan" are kept as they are
}

namespace {

// Whether a and b, neither of the same bits, are written alike, when that can be told from the
// seven-digit decimals scale_and_round finds: 1 or 0, and -1 when it cannot. Two such decimals
// are written alike, and read back alike, only when their digits and exponents are: they differ
// by at least a ten-millionth, far more than a double resolves. b is scaled with a's exponent: a
// value close to a, the common case, lies in the same decade, and one that does not is left to
// the caller.
int decimals_alike(double a, double b) {
    const double fa = std::fabs(a), fb = std::fabs(b);
    if (!(fa >= 1e-15 && fa < 1e28 && fb >= 1e-15 && fb < 1e28)) return -1;
    if (std::signbit(a) != std::signbit(b)) return 0;
    int xa = decimal_exponent(fa), xb = xa;
    std::uint32_t na, nb;
    if (!scale_and_round(fa, xa, na) || !scale_and_round(fb, xb, nb)) return -1;
    return xa == xb && na == nb ? 1 : 0;
}

}  // namespace

bool written_alike(double a, double b) {
    if (std::memcmp(&a, &b, sizeof a) == 0) return true;
    if (const int alike = decimals_alike(a, b); alike >= 0) return alike == 1;
    const double wa = written_value(a), wb = written_value(b);
    return std::memcmp(&wa, &wb, sizeof wa) == 0;
}

bool written_same_text(double a, double b) {
    if (std::memcmp(&a, &b, sizeof a) == 0) return true;
    if (const int alike = decimals_alike(a, b); alike >= 0) return alike == 1;
    char ta[number_text_max], tb[number_text_max];
    const char* ea = write_number(ta, a);
    const char* eb = write_number(tb, b);
    return ea - ta == eb - tb && std::memcmp(ta, tb, static_cast<std::size_t>(ea - ta)) == 0;
}

void append_number(std::string& out, double v) {
    char buf[number_text_max];
    out.append(buf, write_number(buf, v));
}

std::string format_number(double v) {
    char buf[number_text_max];
    return std::string(buf, write_number(buf, v));
}

std::string format_threshold(double v) { return format_general(v, 6); }

}  // namespace weldrix
