#include "elements/vertex_line.hpp"

#include <charconv>

#include "elements/line_scan.hpp"
#include "geometry/vertex_set.hpp"

namespace weldrix {

template <int N>
vertex_line<N>::vertex_line(std::string_view line, number_notes* notes) {
    const line_start start = scan_line_start(line, notes);
    set_colour(start.colour);
    const char* pos = start.rest;
    const char* const end = line.data() + line.size();
    for (point& p : points) {
        pos = p.parse(pos, end, notes);
        if (!pos) break;
    }
}

template <int N>
char* vertex_line<N>::write_points(char* p) const {
    for (const point& corner : points) {
        *p++ = ' ';
        p = corner.write_text(p);
    }
    return p;
}

template <int N>
char* vertex_line<N>::write_text(char* p) const {
    *p++ = type_digit(type_code());
    *p++ = ' ';
    p = std::to_chars(p, p + 11, colour_number_).ptr;
    return write_points(p);
}

// Both build the line in a local buffer and copy it once.
template <int N>
std::string vertex_line<N>::to_text() const {
    if (colour_token_) {
        std::string out;
        append_text(out);
        return out;
    }
    char buf[text_max];
    return std::string(buf, write_text(buf));
}

template <int N>
void vertex_line<N>::append_text(std::string& out) const {
    if (colour_token_) {
        // The token may be of any length: it goes in as text, the points through the buffer.
        out += type_digit(type_code());
        out += ' ';
        out += colour_token_.text();
        char buf[points_max];
        out.append(buf, write_points(buf));
        return;
    }
    char buf[text_max];
    out.append(buf, write_text(buf));
}

template <int N>
void vertex_line<N>::collect_vertices(vertex_set& set, bool from_subfile) const {
    for (const point& p : points) set.add(p, from_subfile);
}

template <int N>
void vertex_line<N>::snap_vertices(const vertex_set& set, snap_cache& cache) {
    for (point& p : points) set.snap(p, cache);
}

template <int N>
void vertex_line<N>::translate(const point& offset) {
    for (point& p : points) p.translate(offset);
}

template <int N>
void vertex_line<N>::transform(const matrix& m) {
    for (point& p : points) p = m.transform(p);
}

// On 64-bit targets; a 32-bit one (WebAssembly) lays the members out with 4-byte pointers.
static_assert(sizeof(void*) != 8 || sizeof(vertex_line<4>) == 8 + 4 + 4 + 8 + 4 * sizeof(point),
              "the colour number fills the padding");

template class vertex_line<2>;
template class vertex_line<3>;
template class vertex_line<4>;

}  // namespace weldrix
