// LDraw line type 2: an edge between two points.
#pragma once

#include "elements/vertex_line.hpp"

namespace weldrix {

class edge_line final : public vertex_line<2> {
public:
    explicit edge_line(std::string_view line, number_notes* notes = nullptr) : vertex_line(line, notes) {}

    line_type type_code() const override { return line_type::edge; }
    // Collapsed when its ends are closer than collapse_distance: becomes a removed_line.
    bool simplify(std::unique_ptr<ldraw_line>& replacement) const override;
    std::unique_ptr<ldraw_line> clone() const override { return std::make_unique<edge_line>(*this); }
};

}  // namespace weldrix
