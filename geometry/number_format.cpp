#include "geometry/number_format.hpp"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace weldrix {
namespace {

// Writes the significant digits d[0..count) (count >= 1, no trailing zeros) with decimal
// exponent x (the value is d[0].d[1]d[2]... times 10^x) in general form.
void emit_general(std::string& out, bool negative, const char* d, int count, int x, int digits) {
    if (negative) out += '-';
    if (x < -4 || x >= digits) {
        out += d[0];
        if (count > 1) {
            out += '.';
            out.append(d + 1, static_cast<std::size_t>(count - 1));
        }
        out += 'e';
        out += x < 0 ? '-' : '+';
        const int ax = x < 0 ? -x : x;  // at most 324
        out += static_cast<char>('0' + ax / 100);
        out += static_cast<char>('0' + ax / 10 % 10);
        out += static_cast<char>('0' + ax % 10);
    } else if (x < 0) {
        out += "0.";
        out.append(static_cast<std::size_t>(-x - 1), '0');
        out.append(d, static_cast<std::size_t>(count));
    } else {
        const int int_digits = x + 1;
        if (count <= int_digits) {
            out.append(d, static_cast<std::size_t>(count));
            out.append(static_cast<std::size_t>(int_digits - count), '0');
        } else {
            out.append(d, static_cast<std::size_t>(int_digits));
            out += '.';
            out.append(d + int_digits, static_cast<std::size_t>(count - int_digits));
        }
    }
}

bool emit_special(std::string& out, double v) {
    if (std::isnan(v)) {
        out += "nan";
        return true;
    }
    if (std::isinf(v)) {
        out += v < 0 ? "-inf" : "inf";
        return true;
    }
    if (v == 0) {
        out += std::signbit(v) ? "-0" : "0";
        return true;
    }
    return false;
}

void append_general_exact(std::string& out, double v, int digits) {
    if (emit_special(out, v)) return;
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
    emit_general(out, negative, d, count, x, digits);
}

constexpr double exact_powers_of_ten[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                          1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                          1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

}  // namespace

std::string format_general(double v, int digits) {
    std::string out;
    append_general_exact(out, v, digits);
    return out;
}

// Fast path. Scale |v| to m = |v| * 10^(6 - X), which lies in [10^6, 10^7), with one correctly
// rounded multiplication or division by an exactly representable power of ten. Its error is at
// most half an ulp of m (< 2^-29), and the 17-digit rounding the reference form starts from moves
// the scaled value by at most 0.5e-10. Both are far below the 1e-6 band kept around the rounding
// boundary .5, so outside that band the half-up decision (and the carry into a new decade) is the
// one the exact form takes. Inside the band, or when no exact power of ten fits, the exact form
// is computed. The tests compare both paths on many millions of values.
void append_number(std::string& out, double v) {
    const double a = std::fabs(v);
    if (!(a >= 1e-15 && a < 1e28)) {  // zero, subnormal, tiny, huge, inf, nan
        append_general_exact(out, v, 7);
        return;
    }
    int e2 = 0;
    std::frexp(a, &e2);  // a in [2^(e2-1), 2^e2)
    int x = static_cast<int>(std::floor((e2 - 1) * 0.30102999566398120));
    if (x + 1 <= 22 && x + 1 >= -22) {
        const int k = x + 1;
        const bool above = k >= 0 ? a >= exact_powers_of_ten[k] : a * exact_powers_of_ten[-k] >= 1.0;
        if (above) ++x;
    }
    const int s = 6 - x;
    double m;
    if (s >= 0 && s <= 22) {
        m = a * exact_powers_of_ten[s];
    } else if (s < 0 && -s <= 22) {
        m = a / exact_powers_of_ten[-s];
    } else {
        append_general_exact(out, v, 7);
        return;
    }
    const double whole = std::floor(m);
    const double frac = m - whole;
    if (whole < 1e6 || whole >= 1e7 || std::fabs(frac - 0.5) < 1e-6) {
        append_general_exact(out, v, 7);
        return;
    }
    auto n = static_cast<std::uint32_t>(whole) + (frac > 0.5 ? 1u : 0u);
    if (n == 10000000u) {
        n = 1000000u;
        ++x;
    }
    char d[7];
    for (int i = 6; i >= 0; --i) {
        d[i] = static_cast<char>('0' + n % 10);
        n /= 10;
    }
    int count = 7;
    while (count > 1 && d[count - 1] == '0') --count;
    emit_general(out, std::signbit(v), d, count, x, 7);
}

std::string format_number(double v) {
    std::string out;
    append_number(out, v);
    return out;
}

std::string format_threshold(double v) { return format_general(v, 6); }

}  // namespace weldrix
