// The element interface: every line of an LDraw file that the tool keeps is one object of a class
// derived from ldraw_line. Each operation has a default, so a line type defines only what
// concerns it.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "elements/line_colour.hpp"
#include "geometry/matrix.hpp"
#include "geometry/point.hpp"

namespace weldrix {

class vertex_set;
class snap_cache;
struct collapse;

// What type_code gives: the LDraw line type of an element, and two codes of the tool's own.
enum class line_type : int {
    none = -1,        // ldraw_line itself and the document
    comment = 0,      // 0: comments and meta statements
    subfile = 1,      // 1: a reference to another file
    edge = 2,         // 2: an edge line
    triangle = 3,     // 3: a filled triangle
    quad = 4,         // 4: a filled quadrilateral
    conditional = 5,  // 5: a conditional line
    removed = 6,      // a line unification removed; never written
};

// The LDraw type digit of a line type 0 to 5.
inline char type_digit(line_type type) { return static_cast<char>('0' + static_cast<int>(type)); }

class ldraw_line {
public:
    // Orientation sign of a subfile reference: 1 as read, -1 when its content is to be inverted.
    // Only subfile references give it a meaning; the reader and the expansion set it.
    std::int32_t winding = 1;

    ldraw_line() = default;
    ldraw_line(const ldraw_line&) = default;
    ldraw_line& operator=(const ldraw_line&) = default;
    virtual ~ldraw_line() = default;

    // The line's LDraw text, without line end; empty when there is nothing to write.
    virtual std::string to_text() const;
    // Appends what to_text gives to out; the writer builds the file this way, without a string
    // per line.
    virtual void append_text(std::string& out) const;
    virtual line_type type_code() const;
    // The element's collapse test: what met and the element that takes its place, or an empty
    // collapse when it has not collapsed.
    virtual collapse simplify() const;
    // Adds each vertex, in order, to the set.
    virtual void collect_vertices(vertex_set& set, bool from_subfile) const;
    // Snaps each vertex, in order, onto the set, with the cache of the thread that snaps.
    virtual void snap_vertices(const vertex_set& set, snap_cache& cache);
    virtual void translate(const point& offset);
    virtual void transform(const matrix& m);
    // Reverses the winding of a filled polygon.
    virtual void invert();
    virtual void set_colour(const line_colour& colour);
    // The line's colour; 0 for lines without one.
    virtual line_colour colour() const;

    // The element's points in line order (none for comments, references and removed lines).
    virtual std::span<const point> vertices() const;
    // The line written after this one, on a line of its own, or null (a quad split in two by
    // --fix is written as two triangles).
    virtual const ldraw_line* continued() const { return nullptr; }
    // A copy of the element.
    virtual std::unique_ptr<ldraw_line> clone() const;
};

// What an element's collapse test found: the pair of its vertices that met first (in the order the
// test looks at them), how that pair is named, and the element that takes its place. When the
// replacement keeps some of the element's vertices (a quad made a triangle), kept says which, in
// the replacement's order; a removed line keeps none.
struct collapse {
    enum class pair_kind : std::uint8_t {
        ends,              // the two ends of an edge line
        corners,           // neighbouring corners of a triangle or quad
        opposite_corners,  // a quad's diagonal (1-3 or 2-4)
        points,            // any two points of a conditional line
    };
    std::unique_ptr<ldraw_line> replacement;  // null: the element did not collapse
    pair_kind pair = pair_kind::ends;
    std::array<int, 2> met{};   // the vertices that met, from 0, the lower first
    std::array<int, 3> kept{};  // kept[k]: the element's vertex that is the replacement's vertex k
    int kept_count = 0;

    explicit operator bool() const { return replacement != nullptr; }
};

}  // namespace weldrix
