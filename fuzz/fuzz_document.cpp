// Fuzz target: the document reader and writer on arbitrary bytes.
//
//  * the read statistics agree with the elements read;
//  * the output starts with a UTF-8 byte-order mark exactly when the input does (the mark is kept
//    even when no line is written); after it, the output is empty or ends with a line end;
//  * the output holds one line end per written line, each the input's first line end (LF, CR LF
//    or CR alone), and no line end inside a line: the reader cuts its lines, so no LF or CR is
//    left in a line's text;
//  * the output read again writes the same bytes, when every coordinate is finite. The same holds
//    from the second pass to the third.
//  * the minimal output of a document nothing changed is its input, byte for byte, with the
//    statistics of the usual output;
//  * read in two halves side by side (as a long input is), the input gives the elements, line
//    numbers, dropped lines, noted numbers and sections of a reading of the whole.
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>

#include "document/ldraw_file.hpp"
#include "document/line_reader.hpp"
#include "elements/subfile_line.hpp"
#include "elements/vertex_line.hpp"
#include "fuzz/fuzz_check.hpp"
#include "fuzz/fuzz_elements.hpp"

using namespace weldrix;
using weldrix::fuzz::finite;

namespace {

// One pass: read the bytes, write them; checks the statistics and the line structure.
std::string pass(std::string_view input, bool& stable_text) {
    clean_options options;
    options.minimal = true;
    ldraw_file document(options);
    const line_counts read = document.read_bytes(input);
    FUZZ_CHECK(read.lines == document.main_count && document.main_count == document.elements.size(), input);
    FUZZ_CHECK(read.edges + read.conditionals + read.triangles + read.quads + read.subfiles <= read.lines, input);

    line_counts written;
    const std::string output = document.text(written);
    FUZZ_CHECK(written.lines == read.lines, input);  // nothing is removed without unification
    FUZZ_CHECK(written.edges == read.edges && written.triangles == read.triangles && written.quads == read.quads &&
                   written.conditionals == read.conditionals && written.subfiles == read.subfiles,
               input);

    const bool mark = input.starts_with(byte_order_mark);
    FUZZ_CHECK(std::string_view(output).starts_with(byte_order_mark) == mark, input);
    const std::string_view lines = std::string_view(output).substr(mark ? byte_order_mark.size() : 0);
    const std::string_view eol = first_line_end(input.substr(mark ? byte_order_mark.size() : 0));
    std::size_t line_ends = 0;
    for (std::size_t at = 0; at < lines.size(); ++line_ends) {
        const auto end = lines.find_first_of("\r\n", at);
        FUZZ_CHECK(end != std::string_view::npos && lines.substr(end, eol.size()) == eol, input);
        at = end + eol.size();
    }
    FUZZ_CHECK(line_ends == written.lines, input);
    FUZZ_CHECK(output.find('\0') == std::string::npos, input);

    line_counts minimal_counts;
    const ldraw_file::minimal_output minimal = document.minimal_text(minimal_counts);
    FUZZ_CHECK(!minimal.changed && minimal.bytes == input && minimal_counts == written, input);

    stable_text = true;
    for (const auto& element : document.elements) {
        if (!finite(*element)) stable_text = false;
    }
    return output;
}

// The input read in halves against the input read whole.
void check_halves(std::string_view input) {
    ldraw_file halves, whole;
    halves.options.read_halves_from = 0;
    whole.options.read_halves_from = static_cast<std::size_t>(-1);
    FUZZ_CHECK(halves.read_bytes(input) == whole.read_bytes(input), input);
    FUZZ_CHECK(halves.elements.size() == whole.elements.size(), input);
    for (std::size_t i = 0; i < whole.elements.size(); ++i) {
        FUZZ_CHECK(halves.elements[i]->to_text() == whole.elements[i]->to_text(), input);
        FUZZ_CHECK(halves.line_number(i) == whole.line_number(i), input);
    }
    FUZZ_CHECK(halves.dropped.first == whole.dropped.first && halves.dropped.count == whole.dropped.count, input);
    FUZZ_CHECK(halves.numbers.count == whole.numbers.count && halves.numbers.first.size() == whole.numbers.first.size(),
               input);
    for (std::size_t k = 0; k < whole.numbers.first.size(); ++k) {
        const auto &a = halves.numbers.first[k], &b = whole.numbers.first[k];
        FUZZ_CHECK(a.line == b.line && a.not_a_number == b.not_a_number && a.read == b.read &&
                       a.partials.size() == b.partials.size(),
                   input);
    }
    FUZZ_CHECK(halves.units().size() == whole.units().size(), input);
    for (std::size_t u = 0; u < whole.units().size(); ++u) {
        FUZZ_CHECK(halves.units()[u].begin == whole.units()[u].begin && halves.units()[u].end == whole.units()[u].end &&
                       halves.units()[u].name == whole.units()[u].name,
                   input);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    bool first_stable = false, second_stable = false, ignored = false;
    const std::string first = pass(input, first_stable);
    const std::string second = pass(first, second_stable);
    if (first_stable) FUZZ_CHECK(second == first, input);
    if (second_stable) FUZZ_CHECK(pass(second, ignored) == second, input);
    check_halves(input);
    return 0;
}
