// LDraw line type 5: a conditional line, its two ends followed by its two control points.
#pragma once

#include "elements/vertex_line.hpp"

namespace weldrix {

class cond_line final : public vertex_line<4> {
public:
    explicit cond_line(std::string_view line, number_notes* notes = nullptr) : vertex_line(line, notes) {}

    line_type type_code() const override { return line_type::conditional; }
    // Collapsed when any two of its four points are closer than collapse_distance.
    bool simplify(std::unique_ptr<ldraw_line>& replacement) const override;
    std::unique_ptr<ldraw_line> clone() const override { return std::make_unique<cond_line>(*this); }
};

}  // namespace weldrix
