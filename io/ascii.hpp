// Letter case of ASCII text, the one rule for every name compared without case: file names, the
// names of subfiles and sections, the suffix of a report's name. Only A to Z are folded; every other
// byte (UTF-8 included) stays as it is, so the result never depends on the C library's locale.
// In io/ because the host layer needs it (names on hosts that ignore case) and it knows no LDraw;
// document/ and app/ use it from here.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace weldrix {

constexpr char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

inline std::string ascii_lower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) c = ascii_lower(c);
    return lower;
}

constexpr bool equal_ignoring_ascii_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (ascii_lower(a[i]) != ascii_lower(b[i])) return false;
    }
    return true;
}

// Whether text ends in suffix, letter case aside.
constexpr bool ends_with_ignoring_ascii_case(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && equal_ignoring_ascii_case(text.substr(text.size() - suffix.size()), suffix);
}

}  // namespace weldrix
