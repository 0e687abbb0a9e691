// LDraw line types 2 to 5: edge lines, triangles, quads and conditional lines, the lines that are a
// colour and a fixed number of points (vertex_line). Each adds its type code, its collapse test
// (simplify: what met, and what takes its place) and, for filled polygons, inversion. The collapse
// tests are the only home of the collapse rules: unification's reports read what they found.
#pragma once

#include "elements/vertex_line.hpp"

namespace weldrix {

// Line type 2: an edge between two points.
class edge_line final : public vertex_line<2> {
public:
    explicit edge_line(std::string_view line, number_notes* notes = nullptr) : vertex_line(line, notes) {}

    line_type type_code() const override { return line_type::edge; }
    // Collapsed when its ends are closer than collapse_distance: becomes a removed_line.
    collapse simplify() const override;
    std::unique_ptr<ldraw_line> clone() const override { return std::make_unique<edge_line>(*this); }
};

// Line type 3: a filled triangle.
class triangle_line final : public vertex_line<3> {
public:
    explicit triangle_line(std::string_view line, number_notes* notes = nullptr) : vertex_line(line, notes) {}
    // The triangle a collapsed quad turns into.
    triangle_line(const point& p1, const point& p2, const point& p3, const line_colour& colour);

    line_type type_code() const override { return line_type::triangle; }
    // Collapsed when a pair 1-2, 2-3 or 1-3 (tested in this order) is closer than
    // collapse_distance: becomes a removed_line.
    collapse simplify() const override;
    // Exchanges corners 1 and 3.
    void invert() override;
    std::unique_ptr<ldraw_line> clone() const override { return std::make_unique<triangle_line>(*this); }
};

// Line type 4: a filled quadrilateral, corners in order around its outline.
class quad_line final : public vertex_line<4> {
public:
    explicit quad_line(std::string_view line, number_notes* notes = nullptr) : vertex_line(line, notes) {}

    line_type type_code() const override { return line_type::quad; }
    // Tests the sides 1-2, 2-3, 3-4, 4-1 in this order; at the first one shorter than
    // collapse_distance its first corner is dropped and the quad becomes the triangle of the other
    // three corners in cyclic order, with the quad's colour. When no side is that short but a
    // diagonal (1-3 or 2-4) is, the quad has no area left and becomes a removed_line.
    collapse simplify() const override;
    // Exchanges corners 1 and 3: the same outline the other way round.
    void invert() override;
    std::unique_ptr<ldraw_line> clone() const override { return std::make_unique<quad_line>(*this); }
};

// Line type 5: a conditional line, its two ends followed by its two control points.
class cond_line final : public vertex_line<4> {
public:
    explicit cond_line(std::string_view line, number_notes* notes = nullptr) : vertex_line(line, notes) {}

    line_type type_code() const override { return line_type::conditional; }
    // Collapsed when any two of its four points (1-2, 1-3, 1-4, 2-3, ... in this order) are
    // closer than collapse_distance: becomes a removed_line.
    collapse simplify() const override;
    std::unique_ptr<ldraw_line> clone() const override { return std::make_unique<cond_line>(*this); }
};

}  // namespace weldrix
