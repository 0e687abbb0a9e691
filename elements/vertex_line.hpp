// Common body of the line types that are a colour and a fixed number of points: edge lines (2),
// triangles (3), quads (4) and conditional lines (5). Parsing, text form, placement and vertex
// visits are the same for all of them; each type adds its type code, collapse test and, for
// filled polygons, inversion.
#pragma once

#include <array>
#include <cassert>
#include <cstdint>
#include <string>
#include <string_view>

#include "elements/ldraw_line.hpp"

namespace weldrix {

// Two vertices of one element closer than this (Manhattan distance) count as coinciding.
inline constexpr double collapse_distance = 0.001;

template <int N>
class vertex_line : public ldraw_line {
protected:
    // The colour, kept as two fields so that the number fills the padding after the base's
    // winding: a quad takes 120 bytes, which its allocation rounds to 128.
    std::int32_t colour_number_ = current_colour;
    colour_token colour_token_;  // a direct colour's token

public:
    std::array<point, N> points{};  // in the order the line gives them

    // "<type> <colour> <points>", numbers separated by single blanks.
    std::string to_text() const override;
    void append_text(std::string& out) const override;
    void collect_vertices(vertex_set& set, bool from_subfile) const override;
    void snap_vertices(const vertex_set& set, snap_cache& cache) override;
    void translate(const point& offset) override;
    void transform(const matrix& m) override;
    void set_colour(const line_colour& colour) override {
        colour_number_ = colour.number();
        colour_token_ = colour.token();
    }
    line_colour colour() const override { return line_colour(colour_number_, colour_token_); }
    std::span<const point> vertices() const override { return points; }

protected:
    vertex_line() = default;
    // Parses "type colour x y z ..." (the whole line). Never fails: when a coordinate token is not
    // a number, it and everything after it stay 0; a line that ends early leaves the rest 0.
    // With notes, the colour and coordinates read are noted (see number_notes).
    explicit vertex_line(std::string_view line, number_notes* notes = nullptr);

    // Whether points p and q (each 0 to N - 1) coincide.
    bool close(int p, int q) const {
        assert(p >= 0 && p < N && q >= 0 && q < N);
        return closer_than(points[p], points[q], collapse_distance);
    }

private:
    // Most bytes write_text writes: the type, a blank, a colour of at most 11 characters,
    // and N points, each after a blank.
    static constexpr std::size_t text_max = 2 + 11 + N * (1 + point::text_max);
    // The points, each after a blank.
    static constexpr std::size_t points_max = N * (1 + point::text_max);
    char* write_points(char* p) const;
    // The whole text of a line with a colour number.
    char* write_text(char* p) const;
};

extern template class vertex_line<2>;
extern template class vertex_line<3>;
extern template class vertex_line<4>;

}  // namespace weldrix
