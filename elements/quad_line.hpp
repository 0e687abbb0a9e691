// LDraw line type 4: a filled quadrilateral, corners in order around its outline.
#pragma once

#include "elements/vertex_line.hpp"

namespace weldrix {

class quad_line final : public vertex_line<4> {
public:
    explicit quad_line(std::string_view line, number_notes* notes = nullptr) : vertex_line(line, notes) {}

    line_type type_code() const override { return line_type::quad; }
    // Tests the sides 1-2, 2-3, 3-4, 4-1 in this order; at the first one shorter than
    // collapse_distance its first corner is dropped and the quad becomes the triangle of the other
    // three corners in cyclic order, with the quad's colour. When no side is that short but a
    // diagonal (1-3 or 2-4) is, the quad has no area left and becomes a removed_line.
    bool simplify(std::unique_ptr<ldraw_line>& replacement) const override;
    // Exchanges corners 1 and 3: the same outline the other way round.
    void invert() override;
    std::unique_ptr<ldraw_line> clone() const override { return std::make_unique<quad_line>(*this); }
};

}  // namespace weldrix
