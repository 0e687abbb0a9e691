// LDraw line type 3: a filled triangle.
#pragma once

#include "elements/vertex_line.hpp"

namespace weldrix {

class triangle_line final : public vertex_line<3> {
public:
    explicit triangle_line(std::string_view line, number_notes* notes = nullptr) : vertex_line(line, notes) {}
    // The triangle a collapsed quad turns into.
    triangle_line(const point& p1, const point& p2, const point& p3, const line_colour& colour);

    line_type type_code() const override { return line_type::triangle; }
    // Collapsed when a pair 1-2, 2-3 or 1-3 is closer than collapse_distance.
    bool simplify(std::unique_ptr<ldraw_line>& replacement) const override;
    // Exchanges corners 1 and 3.
    void invert() override;
    std::unique_ptr<ldraw_line> clone() const override { return std::make_unique<triangle_line>(*this); }
};

}  // namespace weldrix
