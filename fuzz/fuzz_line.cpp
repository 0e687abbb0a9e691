// Fuzz target: the line constructors and the element operations.
//
// Every line of the input (split as the document splits a file) goes through make_line and,
// directly, through the constructor of each line type. For each element:
//  * its text re-reads to an element with the same text (when every coordinate is finite: "inf"
//    and "nan" are written but are not numbers to the reader);
//  * transform, translate, invert and simplify work on it with placements taken from the input
//    itself (any doubles, infinities and NaN included), and its text stays well formed;
//  * a direct colour token ("0x" or "0X" and a hexadecimal digit, any bytes after) is kept as
//    written, through every operation: each line also runs with such a token, made from its own
//    bytes, in place of its colour;
//  * a comment's text survives a round trip: the line written and read again, alone or as a line
//    of a file with LF, CR LF or CR line ends, gives the same text.
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "document/line_reader.hpp"
#include "elements/comment_line.hpp"
#include "elements/line_scan.hpp"
#include "elements/polygon_lines.hpp"
#include "elements/subfile_line.hpp"
#include "fuzz/fuzz_check.hpp"
#include "fuzz/fuzz_elements.hpp"

using namespace weldrix;
using weldrix::fuzz::finite;

namespace {

void check_text(const ldraw_line& line, std::string_view source) {
    const std::string text = line.to_text();
    const int type = static_cast<int>(line.type_code());
    if (type == 6) {
        FUZZ_CHECK(text.empty(), source);
        return;
    }
    FUZZ_CHECK(text.size() >= 2 && text[0] == static_cast<char>('0' + type) && text[1] == ' ', text);
    const line_colour colour = line.colour();
    // A direct colour's token is written as it was read.
    if (type != 0) {
        FUZZ_CHECK(!colour.is_direct() || text.compare(2, colour.direct_text().size(), colour.direct_text()) == 0,
                   text);
    }
    if (type != 0 && type != 1) {
        // Vertex lines hold only numbers, blanks and the letters of inf, nan and exponents, after a
        // direct colour's token.
        for (const char c : std::string_view(text).substr(2 + colour.direct_text().size())) {
            FUZZ_CHECK(std::string_view("0123456789 .-+einaf").find(c) != std::string_view::npos, text);
        }
    }
    if (!finite(line)) return;
    const auto again = make_line(text);
    FUZZ_CHECK(again != nullptr, text);
    FUZZ_CHECK(static_cast<int>(again->type_code()) == type, text);
    FUZZ_CHECK(again->to_text() == text, text);
}

// The colour token of a line of types 1 to 5 when it is a direct colour, else empty.
std::string_view direct_token(std::string_view line) {
    const char* const end = line.data() + line.size();
    const char* const token = skip_space(skip_token(line.data(), end), end);
    const char* const after = skip_token(token, end);
    const std::string_view text(token, static_cast<std::size_t>(after - token));
    const auto hex = [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); };
    if (text.size() >= 3 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X') && hex(text[2])) return text;
    return {};
}

// The text of line, as it reads from any file: alone, and as a line of a file with either line end.
void check_comment_round_trip(const comment_line& comment) {
    const std::string text = comment.to_text();
    const auto again = make_line(text);
    FUZZ_CHECK(again && again->type_code() == line_type::comment, text);
    FUZZ_CHECK(static_cast<const comment_line&>(*again).text == comment.text, text);
    if (comment.text.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) return;
    for (const std::string_view eol : {"\r\n", "\n", "\r"}) {
        int lines = 0;
        for_each_line(text + std::string(eol), [&](std::string_view line) {
            ++lines;
            FUZZ_CHECK(line == text, text);
        });
        FUZZ_CHECK(lines == 1, text);
    }
}

void exercise(std::unique_ptr<ldraw_line> line, const matrix& m, const point& offset, std::string_view source) {
    check_text(*line, source);
    const int type = static_cast<int>(line->type_code());
    if (type >= 1 && type <= 5) {
        // Kept as written, whatever the line's numbers; the token ends at white space.
        const std::string_view token = direct_token(source);
        FUZZ_CHECK(line->colour().direct_text() == token, source);
    }
    if (type == 0) check_comment_round_trip(static_cast<const comment_line&>(*line));
    const auto copy = line->clone();
    FUZZ_CHECK(copy->to_text() == line->to_text(), source);

    line->invert();
    check_text(*line, source);
    line->transform(m);
    line->translate(offset);
    line->set_colour(line->colour());
    check_text(*line, source);
    if (const collapse first = line->simplify()) {
        // What met is a pair of the line's own vertices, and what a replacement keeps are too.
        const auto own = [&](int k) { return k >= 0 && static_cast<std::size_t>(k) < line->vertices().size(); };
        FUZZ_CHECK(own(first.met[0]) && own(first.met[1]) && first.met[0] < first.met[1], source);
        FUZZ_CHECK(
            first.kept_count == 0 || static_cast<std::size_t>(first.kept_count) == first.replacement->vertices().size(),
            source);
        for (int k = 0; k < first.kept_count; ++k) FUZZ_CHECK(own(first.kept[k]), source);
        check_text(*first.replacement, source);
        if (const collapse second = first.replacement->simplify()) check_text(*second.replacement, source);
    }
    if (line->type_code() == line_type::comment) static_cast<void>(static_cast<const comment_line&>(*line).bfc_kind());
    // Every operation keeps a direct colour's token.
    if (type >= 1 && type <= 5) FUZZ_CHECK(line->colour().direct_text() == direct_token(source), source);
}

// The line with its colour token replaced by a direct colour made from the line's own bytes: "0x"
// or "0X", a hexadecimal digit, then up to eight bytes of the line that are not white space.
std::string with_direct_colour(std::string_view line) {
    const char* const end = line.data() + line.size();
    const char* const type_end = skip_token(line.data(), end);
    const char* const colour = skip_space(type_end, end);
    const char* const rest = skip_token(colour, end);
    std::string token = line.size() % 2 ? "0x" : "0X";
    token += "0123456789abcdefABCDEF"[line.size() % 22];
    for (const char c : line.substr(0, 8)) {
        if (!is_space(c)) token += c;
    }
    return std::string(line.data(), type_end) + " " + token + std::string(rest, end);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    // A placement from the input itself: the numbers of its first line read as a reference.
    const auto first_line = input.substr(0, input.find('\n'));
    const subfile_line placement(first_line);
    const matrix& m = placement.orientation;
    const point& offset = placement.position;

    int lines = 0;
    for_each_line(input, [&](std::string_view line) {
        if (++lines > 64) return;
        if (auto element = make_line(line)) exercise(std::move(element), m, offset, line);
        // Each constructor on the same bytes, whatever the type number says.
        exercise(std::make_unique<comment_line>(line), m, offset, line);
        exercise(std::make_unique<subfile_line>(line), m, offset, line);
        exercise(std::make_unique<edge_line>(line), m, offset, line);
        exercise(std::make_unique<triangle_line>(line), m, offset, line);
        exercise(std::make_unique<quad_line>(line), m, offset, line);
        exercise(std::make_unique<cond_line>(line), m, offset, line);
        const std::string direct = with_direct_colour(line);
        if (auto element = make_line(direct)) exercise(std::move(element), m, offset, direct);
        exercise(std::make_unique<subfile_line>(direct), m, offset, direct);
        exercise(std::make_unique<triangle_line>(direct), m, offset, direct);
    });
    return 0;
}
