// Fuzz target: the line constructors and the element operations.
//
// Every line of the input (split as the document splits a file) goes through make_line and,
// directly, through the constructor of each line type. For each element:
//  * its text re-reads to an element with the same text (when every coordinate is finite: "inf"
//    and "nan" are written but are not numbers to the reader);
//  * transform, translate, invert and simplify work on it with placements taken from the input
//    itself (any doubles, infinities and NaN included), and its text stays well formed.
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "document/line_reader.hpp"
#include "elements/comment_line.hpp"
#include "elements/cond_line.hpp"
#include "elements/edge_line.hpp"
#include "elements/quad_line.hpp"
#include "elements/subfile_line.hpp"
#include "elements/triangle_line.hpp"
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
    if (type != 0 && type != 1) {
        // Vertex lines hold only numbers, blanks and the letters of inf, nan and exponents, after a
        // direct colour's token, which is kept as written.
        const line_colour colour = line.colour();
        FUZZ_CHECK(!colour.is_direct() || text.compare(2, colour.direct_text().size(), colour.direct_text()) == 0,
                   text);
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

void exercise(std::unique_ptr<ldraw_line> line, const matrix& m, const point& offset, std::string_view source) {
    check_text(*line, source);
    const auto copy = line->clone();
    FUZZ_CHECK(copy->to_text() == line->to_text(), source);

    line->invert();
    check_text(*line, source);
    line->transform(m);
    line->translate(offset);
    line->set_colour(line->colour());
    check_text(*line, source);
    std::unique_ptr<ldraw_line> replacement;
    if (line->simplify(replacement)) {
        FUZZ_CHECK(replacement != nullptr, source);
        check_text(*replacement, source);
        std::unique_ptr<ldraw_line> second;
        if (replacement->simplify(second)) check_text(*second, source);
    }
    if (line->type_code() == line_type::comment) static_cast<void>(static_cast<const comment_line&>(*line).bfc_kind());
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
    });
    return 0;
}
