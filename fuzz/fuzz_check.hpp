// A check for the fuzz targets: on failure it prints what broke, with the input shown escaped, and
// aborts, which libFuzzer reports as a crash and saves the input for.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace weldrix::fuzz {

// The bytes with everything outside printable ASCII written as \xNN.
inline std::string escaped(std::string_view bytes, std::size_t limit = 400) {
    std::string out;
    for (std::size_t i = 0; i < bytes.size() && i < limit; ++i) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (c >= 0x20 && c < 0x7f && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02x", c);
            out += buf;
        }
    }
    if (bytes.size() > limit) out += "...";
    return out;
}

[[noreturn]] inline void fail(const char* what, std::string_view detail) {
    std::fprintf(stderr, "fuzz check failed: %s\n  %s\n", what, escaped(detail).c_str());
    std::abort();
}

}  // namespace weldrix::fuzz

#define FUZZ_CHECK(condition, detail)                                  \
    do {                                                               \
        if (!(condition)) ::weldrix::fuzz::fail(#condition, (detail)); \
    } while (0)
