// Number text forms of the LDraw files weldrix writes.
//
// Every coordinate is written the way the "%.7lg" conversion of the classic Windows C runtime
// writes it, so that files cleaned here match files cleaned on the tool's home platform byte for
// byte:
//   * the value is first rounded to 17 significant digits (to nearest), and that digit string is
//     then rounded half up to the requested number of significant digits;
//   * fixed notation when the decimal exponent X of the rounded value satisfies -4 <= X < digits,
//     exponent notation otherwise, with "e", a sign and three exponent digits (1e-005);
//   * trailing zeros of the fraction are dropped, and the point with them when nothing follows;
//   * -0.0 is written "-0", infinities "inf" and "-inf", every NaN "nan" (whatever its sign bit,
//     which differs between machines for the same computation).
// glibc's printf rounds the exact binary value and writes two exponent digits, so it is not used.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <string>

namespace weldrix {

// Most bytes write_number writes ("-1.234568e-308" is 14).
inline constexpr std::size_t number_text_max = 24;

// Writes v in "%.7lg" form at p, which has room for number_text_max bytes; returns the end.
// Fast for every input; exact for every input.
char* write_number(char* p, double v);

// The value v is written as, read back: the "%.7lg" text of v read as "%lf" reads it (both
// zeros give 0, infinities and NaN are kept). Exact, and fast for the values LDraw files hold.
double written_value(double v);

// Whether written_value(a) and written_value(b) are the same bits, mostly found without writing
// either: a snap moves most values in their last bits only, and such a pair is asked about often.
bool written_alike(double a, double b);

// Whether write_number writes a and b alike, found the same way (it differs from written_alike
// for zeros, "-0" and "0", and for NaN of different bits, all written "nan").
bool written_same_text(double a, double b);

// Appends v in "%.7lg" form.
void append_number(std::string& out, double v);

// v in "%.7lg" form.
std::string format_number(double v);

// True only when a and b are certainly written differently, found without writing them: each is
// written within half a unit of its seventh significant digit, which is at most half a millionth of
// its magnitude, so two values written alike are at most a millionth of the larger magnitude
// apart. The margin of two millionths covers the rounding of this test's own arithmetic. False
// leaves the question to the texts, as for values near the subnormal range, infinities and NaN.
inline bool written_apart(double a, double b) {
    const double larger = std::max(std::fabs(a), std::fabs(b));
    return larger > 1e-290 && std::fabs(a - b) > 2e-6 * larger;
}

// v in the "%g" form (6 significant digits) used for the thresholds line: 0.005, 1e-005.
std::string format_threshold(double v);

// The general form with `digits` significant digits (1..17), computed the straightforward way from
// the 17-digit decimal expansion. append_number must agree with format_general(v, 7) for every v;
// the tests compare the two.
std::string format_general(double v, int digits);

}  // namespace weldrix
