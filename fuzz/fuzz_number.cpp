// Fuzz target: the number reader and writer.
//
//  * scan_double and scan_int on arbitrary bytes never read past the range (ASan watches the
//    exact-size input buffer) and agree with the C library's strtod / strtoll on the same text,
//    except where the C library reads more than decimal numbers (hexadecimal, inf, nan);
//  * append_number agrees with the straightforward format_general(v, 7) for doubles made from
//    the input bytes;
//  * what the writer writes reads back to a value that writes the same text (7 and 6 digits);
//  * written_alike and written_same_text agree with written_value and the texts, for a value
//    and its neighbours (in the last bits, across a rounding boundary, a decade away).
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.hpp"
#include "geometry/number_format.hpp"
#include "geometry/number_parse.hpp"
#include "io/ascii.hpp"

using namespace weldrix;

namespace {

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// The C library's view of the text from q: it stops at a NUL, as the scans do (a NUL is not part
// of any number).
std::string c_library_text(const char* q, const char* end) {
    const std::string_view rest(q, static_cast<std::size_t>(end - q));
    return std::string(rest.substr(0, rest.find('\0')));
}

void check_scan_double(std::string_view input) {
    const char* const p = input.data();
    const char* const end = p + input.size();
    const double_scan s = scan_double(p, end);
    FUZZ_CHECK(s.next >= p && s.next <= end, input);

    const char* const q = skip_space(p, end);
    if (q == end) {
        FUZZ_CHECK(s.status == scan_status::end_of_text && s.next == end, input);
        return;
    }
    const std::string text = c_library_text(q, end);
    const std::size_t sign = text[0] == '+' || text[0] == '-' ? 1 : 0;
    const char first = sign < text.size() ? ascii_lower(text[sign]) : '\0';
    const char second = sign + 1 < text.size() ? ascii_lower(text[sign + 1]) : '\0';
    if (first == 'i' || first == 'n') {
        // strtod reads "inf" and "nan"; the scan never does.
        FUZZ_CHECK(s.status == scan_status::not_a_number && s.next == q, input);
        return;
    }
    if (first == '0' && second == 'x') {
        // strtod reads a hexadecimal float; the scan reads the "0" and stops at the "x".
        FUZZ_CHECK(s.status == scan_status::number && s.value == 0.0 && s.next == q + sign + 1, input);
        FUZZ_CHECK(std::signbit(s.value) == (text[0] == '-'), input);
        return;
    }
    char* stop = nullptr;
    const double expected = std::strtod(text.c_str(), &stop);
    const auto consumed = static_cast<std::size_t>(stop - text.c_str());
    if (consumed == 0) {
        FUZZ_CHECK(s.status == scan_status::not_a_number && s.next == q, input);
        return;
    }
    FUZZ_CHECK(s.status == scan_status::number, input);
    FUZZ_CHECK(s.next == q + consumed, input);
    FUZZ_CHECK(same_bits(s.value, expected), input);
}

void check_scan_int(std::string_view input) {
    const char* const p = input.data();
    const char* const end = p + input.size();
    const int_scan s = scan_int(p, end);
    FUZZ_CHECK(s.next >= p && s.next <= end, input);

    const char* const q = skip_space(p, end);
    if (q == end) {
        FUZZ_CHECK(s.status == scan_status::end_of_text && s.next == end, input);
        return;
    }
    const std::string text = c_library_text(q, end);
    char* stop = nullptr;
    errno = 0;
    const long long wide = std::strtoll(text.c_str(), &stop, 10);
    const auto consumed = static_cast<std::size_t>(stop - text.c_str());
    if (consumed == 0) {
        FUZZ_CHECK(s.status == scan_status::not_a_number && s.next == q, input);
        return;
    }
    const long long clamped = wide < INT32_MIN ? INT32_MIN : (wide > INT32_MAX ? INT32_MAX : wide);
    FUZZ_CHECK(s.status == scan_status::number && s.next == q + consumed, input);
    FUZZ_CHECK(s.value == clamped, input);
}

// The writer against the reference, and the round trip of what it writes.
void check_writer(double v, std::string_view input) {
    const std::string reference = format_general(v, 7);
    std::string appended = "x";
    append_number(appended, v);
    FUZZ_CHECK(appended == "x" + reference, input);
    FUZZ_CHECK(format_number(v) == reference, reference);
    FUZZ_CHECK(format_threshold(v) == format_general(v, 6), input);
    if (!std::isfinite(v)) return;

    for (const int digits : {7, 6}) {
        const std::string text = format_general(v, digits);
        const double_scan back = scan_double(text.data(), text.data() + text.size());
        FUZZ_CHECK(back.status == scan_status::number && back.next == text.data() + text.size(), text);
        FUZZ_CHECK(format_general(back.value, digits) == text, text);
        if (digits == 7) FUZZ_CHECK(format_number(back.value) == text, text);
    }
}

// The pair tests against what they stand for.
void check_alike(double v, std::string_view input) {
    const double boundary = (std::round(v * 1e6) + 0.5) / 1e6;
    for (const double w : {std::nextafter(v, 0.0), v * (1 + 1e-12), v * (1 + 3e-7), v * 10, -v, boundary,
                           std::nextafter(boundary, 1e308)}) {
        FUZZ_CHECK(written_alike(v, w) == same_bits(written_value(v), written_value(w)), input);
        FUZZ_CHECK(written_same_text(v, w) == (format_number(v) == format_number(w)), input);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    check_scan_double(input);
    check_scan_int(input);

    const double_scan parsed = scan_double(input.data(), input.data() + input.size());
    if (parsed.status == scan_status::number) check_writer(parsed.value, input);

    if (size >= 8) {
        std::uint64_t bits;
        std::memcpy(&bits, data, sizeof bits);
        double v;
        std::memcpy(&v, &bits, sizeof v);
        check_writer(v, input);
        // The same mantissa and sign with a binary exponent in [-40, 40): the range the fast path
        // of the writer serves, which random bit patterns rarely hit.
        const std::uint64_t exponent = 1023 + (bits >> 52 & 0x7ff) % 80 - 40;
        bits = (bits & 0x800fffffffffffffull) | exponent << 52;
        std::memcpy(&v, &bits, sizeof v);
        check_writer(v, input);
        check_alike(v, input);
    }
    return 0;
}
