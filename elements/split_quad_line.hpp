// A quad that --fix split into two triangles: it stands in the quad's place (so positions stay
// valid) and is written as two type 3 lines, the first as its own text and the second as the
// line that follows it (ldraw_line::continued).
#pragma once

#include "elements/polygon_lines.hpp"

namespace weldrix {

class split_quad_line final : public ldraw_line {
public:
    split_quad_line(triangle_line first, triangle_line second) : first_(std::move(first)), second_(std::move(second)) {}

    const triangle_line& first() const { return first_; }
    const triangle_line& second() const { return second_; }

    std::string to_text() const override { return first_.to_text(); }
    void append_text(std::string& out) const override { first_.append_text(out); }
    line_type type_code() const override { return line_type::triangle; }
    line_colour colour() const override { return first_.colour(); }
    std::span<const point> vertices() const override { return first_.vertices(); }
    const ldraw_line* continued() const override { return &second_; }
    std::unique_ptr<ldraw_line> clone() const override { return std::make_unique<split_quad_line>(*this); }

private:
    triangle_line first_, second_;
};

}  // namespace weldrix
