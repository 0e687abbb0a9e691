// Floating-point std::to_chars and std::from_chars for a C++ library that lacks them (the libc++ of
// Emscripten 3.1, which Debian 12 ships), built on the C library's snprintf and strtod. Emscripten's
// C library (musl) converts exactly in both directions, correctly rounded with ties to even, which
// is what the standard asks of these two, so a number reads and writes to the same bytes as in the
// native build. The build force-includes this header into the core only when a test compile finds
// a function missing (web/CMakeLists.txt).
#pragma once

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <system_error>

namespace std {

#ifdef WELDRIX_MISSING_DOUBLE_TO_CHARS
inline to_chars_result to_chars(char* first, char* last, double value, chars_format format, int precision) {
    const char* form = format == chars_format::scientific ? "%.*e" : format == chars_format::fixed ? "%.*f" : "%.*g";
    const int size = std::snprintf(nullptr, 0, form, precision, value);
    if (size < 0 || size > last - first) return {last, errc::value_too_large};
    std::string text(static_cast<std::size_t>(size) + 1, '\0');
    std::snprintf(text.data(), text.size(), form, precision, value);
    text.copy(first, static_cast<std::size_t>(size));
    return {first + size, errc{}};
}
#endif

#ifdef WELDRIX_MISSING_DOUBLE_FROM_CHARS
// The decimal form only (no "inf", "nan" or hexadecimal): an optional minus, digits with an
// optional point, and an exponent, which is part of the number only when digits follow it.
inline from_chars_result from_chars(const char* first, const char* last, double& value,
                                    chars_format format = chars_format::general) {
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    const char* p = first + (first != last && *first == '-');
    const char* whole = p;
    while (p != last && digit(*p)) ++p;
    bool digits = p != whole;
    if (p != last && *p == '.') {
        const char* fraction = p + 1;
        while (fraction != last && digit(*fraction)) ++fraction;
        digits = digits || fraction != p + 1;
        if (digits) p = fraction;
    }
    if (!digits) return {first, errc::invalid_argument};
    if (format != chars_format::fixed && p != last && (*p == 'e' || *p == 'E')) {
        const char* e = p + 1;
        if (e != last && (*e == '+' || *e == '-')) ++e;
        if (e != last && digit(*e)) {
            while (e != last && digit(*e)) ++e;
            p = e;
        }
    }
    const std::string text(first, p);
    errno = 0;
    const double read = std::strtod(text.c_str(), nullptr);
    // Like from_chars, leave the value alone when it is out of range (the caller decides).
    if (errno == ERANGE) return {p, errc::result_out_of_range};
    value = read;
    return {p, errc{}};
}
#endif

}  // namespace std
