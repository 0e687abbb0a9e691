// The element interface: every line of an LDraw file that the tool keeps is one object of a class
// derived from ldraw_line. Each operation has a default, so a line type defines only what
// concerns it.
//
// Type codes: -1 ldraw_line itself and the document, 0 comment_line, 1 subfile_line,
// 2 edge_line, 3 triangle_line, 4 quad_line, 5 cond_line, 6 removed_line.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "geometry/matrix.hpp"
#include "geometry/point.hpp"

namespace weldrix {

class vertex_set;

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
    virtual int type_code() const;
    // True when the element has collapsed; replacement then holds the element that takes its place.
    virtual bool simplify(std::unique_ptr<ldraw_line>& replacement) const;
    // Adds each vertex, in order, to the set.
    virtual void collect_vertices(vertex_set& set, bool from_subfile) const;
    // Snaps each vertex, in order, onto the set.
    virtual void snap_vertices(const vertex_set& set);
    virtual void translate(const point& offset);
    virtual void transform(const matrix& m);
    // Reverses the winding of a filled polygon.
    virtual void invert();
    virtual void set_colour(std::int32_t colour);
    virtual std::int32_t colour() const;

    // A copy of the element (the subfile cache places copies of a file's parsed lines).
    virtual std::unique_ptr<ldraw_line> clone() const;
};

}  // namespace weldrix
