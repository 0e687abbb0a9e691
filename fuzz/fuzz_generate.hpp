// Generating LDraw text from fuzz input bytes, for the targets that need well-formed files rather
// than arbitrary bytes: every byte picks one choice, so that libFuzzer's mutations move between
// documents that differ by a line, a coordinate or a name.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace weldrix::fuzz {

// The input, one byte at a time; 0 once it is used up.
class byte_source {
public:
    explicit byte_source(std::string_view bytes) : bytes_(bytes) {}
    bool empty() const { return at_ == bytes_.size(); }
    std::uint8_t next() { return empty() ? 0 : static_cast<std::uint8_t>(bytes_[at_++]); }
    // One of n choices.
    std::size_t pick(std::size_t n) { return next() % n; }
    template <class T, std::size_t N>
    const T& pick(const T (&choices)[N]) {
        return choices[pick(N)];
    }

private:
    std::string_view bytes_;
    std::size_t at_ = 0;
};

// A coordinate near one of a few values that the small libraries of the targets use (0, 1, 6, -6,
// 10), missing it by nothing, by less than the default threshold 0.005 or by more.
inline std::string coordinate(byte_source& in) {
    static constexpr double bases[] = {0, 1, 6, -6, 10, 0, 1, -1};
    static constexpr double offsets[] = {0, 0.001, -0.002, 0.003, 0.0049, -0.006, 0.5, 1e-7};
    const std::uint8_t b = in.next();
    char text[32];
    std::snprintf(text, sizeof text, "%.7g", bases[b & 7] + offsets[(b >> 3) & 7]);
    return text;
}

inline std::string colour(byte_source& in) {
    static const char* const colours[] = {"16", "24", "4", "0x2FF0000", "16", "24", "0X3ff00aa7f", "72"};
    return colours[in.pick(8)];
}

// An edge, triangle, quad or conditional line; sometimes two of its points coincide, so that
// unification removes or changes it.
inline std::string geometry_line(byte_source& in) {
    static constexpr int types[] = {2, 3, 4, 5};
    const int type = types[in.pick(4)];
    const int points = type == 2 ? 2 : type == 3 ? 3 : 4;
    std::string line = std::to_string(type);
    line += ' ';
    line += colour(in);
    for (int p = 0; p < points * 3; ++p) {
        line += ' ';
        line += coordinate(in);
    }
    return line;
}

// A reference to name with a placement: identity, moved, mirrored, scaled or singular.
inline std::string reference_line(byte_source& in, std::string_view name) {
    static const char* const placements[] = {
        "0 0 0 1 0 0 0 1 0 0 0 1", "0.002 0 0 1 0 0 0 1 0 0 0 1", "0 -4 0 -1 0 0 0 1 0 0 0 1",
        "6 0 0 1 0 0 0 1 0 0 0 1", "0 0 0 2 0 0 0 2 0 0 0 2",     "0 0 0 0 0 0 0 0 0 0 0 0",
        "1 0 0 0 1 0 1 0 0 0 0 1", "0 0 0 1 0 0 0 -1 0 0 0 1",
    };
    std::string line = "1 ";
    line += colour(in);  // one pick a statement, so that the order of the picks is fixed
    line += ' ';
    line += placements[in.pick(8)];
    line += " ";
    line += name;
    return line;
}

inline std::string comment_line(byte_source& in) {
    static const char* const comments[] = {"0 BFC INVERTNEXT", "0 BFC CERTIFY CCW", "0 a comment",
                                           "0 Name: x.dat",    "0 BFC CW",          "0"};
    return in.pick(comments);
}

inline std::string joined_lines(const std::vector<std::string>& lines, std::string_view eol) {
    std::string text;
    for (const std::string& line : lines) {
        text += line;
        text += eol;
    }
    return text;
}

}  // namespace weldrix::fuzz
