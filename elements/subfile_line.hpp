// LDraw line type 1: a reference that places another LDraw file with this line's colour, at
// `position`, under `orientation`.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "elements/ldraw_line.hpp"

namespace weldrix {

class subfile_line final : public ldraw_line {
public:
    line_colour colour_value;
    point position;
    matrix orientation;     // all zeros until parsed
    std::string file_name;  // the rest of the line after the 13th number, leading blanks removed

    // Parses "1 colour x y z a b c d e f g h i name". Never fails: when a number token is not a
    // number, it and every later number stay 0 and the name stays empty; a line that ends early
    // leaves the missing numbers 0 and the name empty. With notes, the numbers read are noted (see
    // number_notes).
    explicit subfile_line(std::string_view line, number_notes* notes = nullptr);

    std::string to_text() const override;
    void append_text(std::string& out) const override;
    line_type type_code() const override { return line_type::subfile; }
    void translate(const point& offset) override { position.translate(offset); }
    // position becomes m * position, orientation m * orientation (m on the left).
    void transform(const matrix& m) override;
    void set_colour(const line_colour& colour) override { colour_value = colour; }
    line_colour colour() const override { return colour_value; }
    std::unique_ptr<ldraw_line> clone() const override { return std::make_unique<subfile_line>(*this); }
};

}  // namespace weldrix
