// Turning the bytes of an LDraw file into lines and lines into elements; the same rules serve the
// input file and every subfile.
#pragma once

#include <cstring>
#include <memory>
#include <string_view>

#include "elements/ldraw_line.hpp"

namespace weldrix {

// One line of the input as the reader cuts it.
struct source_line {
    std::string_view text;   // what make_line reads: without its line end or a leading byte-order mark, up to a NUL
    std::string_view bytes;  // the whole line as it stands in the input, line end included
    std::string_view end;    // its line end: "\n", "\r\n", "\r", or "" for a last line without one
};

namespace detail {

// The first c at or after p, or end when there is none.
inline const char* find_byte(const char* p, const char* end, char c) {
    const auto* found = static_cast<const char*>(std::memchr(p, c, static_cast<std::size_t>(end - p)));
    return found ? found : end;
}

// Where a line ends, given the first LF and the first CR at or after its start (end for none):
// the line end starts at line_end, the next line at next. The three line ends: LF alone, CR LF,
// and CR alone (classic Mac OS files), which ends a line like the others.
struct line_cut {
    const char* line_end;
    const char* next;
};
inline line_cut cut_line(const char* lf, const char* cr, const char* end) {
    if (cr < lf) return {cr, cr + 1 == lf && lf != end ? lf + 1 : cr + 1};
    if (lf != end) return {lf, lf + 1};
    return {end, end};
}

}  // namespace detail

// Calls f(line) with a source_line for every line of bytes, in order. A line feed ends a line, so
// does a carriage return, and a carriage return directly followed by a line feed is one line end:
// neither is part of the text. A last line without a line end counts like any other. A UTF-8
// byte-order mark at the start of a line is not part of its text. A NUL byte ends the text of its
// line (the bytes after it stay in the line's bytes).
// Lines of any length are passed whole. Empty lines are passed too. The lines' bytes, one after
// the other, are the input.
template <class F>
void for_each_source_line(std::string_view bytes, F&& f) {
    const char* p = bytes.data();
    const char* const end = p + bytes.size();
    // The next LF and CR are each looked for once and kept until a line passes them, so that a
    // file with only one kind of line end is not searched to its end for the other at every line.
    const char* lf = detail::find_byte(p, end, '\n');
    const char* cr = detail::find_byte(p, end, '\r');
    while (p != end) {
        if (lf < p) lf = detail::find_byte(p, end, '\n');
        if (cr < p) cr = detail::find_byte(p, end, '\r');
        const auto [line_end, next] = detail::cut_line(lf, cr, end);
        const char* text_end = line_end;
        // A byte-order mark at the start of a line is no part of its text: files joined with
        // "cat" carry their marks into the middle, where "0 FILE" behind one must stay a FILE line.
        const char* text =
            static_cast<std::size_t>(line_end - p) >= 3 && p[0] == '\xEF' && p[1] == '\xBB' && p[2] == '\xBF' ? p + 3
                                                                                                              : p;
        if (const auto* nul =
                static_cast<const char*>(std::memchr(text, '\0', static_cast<std::size_t>(line_end - text)))) {
            text_end = nul;
        }
        f(source_line{std::string_view(text, static_cast<std::size_t>(text_end - text)),
                      std::string_view(p, static_cast<std::size_t>(next - p)),
                      std::string_view(line_end, static_cast<std::size_t>(next - line_end))});
        p = next;
    }
}

// Calls f(text) with the text of every line of bytes (see for_each_source_line).
template <class F>
void for_each_line(std::string_view bytes, F&& f) {
    for_each_source_line(bytes, [&](const source_line& line) { f(line.text); });
}

// The UTF-8 byte-order mark some editors put at the start of a file.
inline constexpr std::string_view byte_order_mark = "\xEF\xBB\xBF";

// The bytes without a leading byte-order mark. Left in place, the mark would make the first line
// (usually the title comment) start with something other than an integer, and the line would be
// dropped.
inline std::string_view without_byte_order_mark(std::string_view bytes) {
    return bytes.substr(0, byte_order_mark.size()) == byte_order_mark ? bytes.substr(byte_order_mark.size()) : bytes;
}

// Whether bytes can be LDraw text: not UTF-16 or UTF-32 (no byte-order mark FF FE, FE FF,
// FF FE 00 00 or 00 00 FE FF at the start) and no NUL byte anywhere. A part saved by an editor as
// UTF-16, or an image given by mistake, is refused rather than cleaned into garbage.
bool is_text(std::string_view bytes);

// The line end an output written from bytes uses: the first line end of bytes as the reader cuts
// it ("\n", "\r\n" or "\r"), or "\n" when bytes have none. The view is of a constant: it stays
// valid when bytes go.
std::string_view first_line_end(std::string_view bytes);

// The element for one line, or null for a line that is skipped: an empty line, one that does not
// start with an integer ("%d", after optional white space), or one whose type is not 0 to 5.
// A type 0 line keeps as comment text what follows its first "0" byte and the separator after it
// (white space or another "0"; a byte of any other kind is kept as the comment's first character);
// types 1 to 5 are parsed from the whole line.
// With notes (cleared first), the numbers of types 1 to 5 read are noted (see number_notes).
std::unique_ptr<ldraw_line> make_line(std::string_view line, number_notes* notes = nullptr);

}  // namespace weldrix
