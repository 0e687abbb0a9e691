// The geometry faults a run makes: each written geometry line (types 2 to 5) compared with the line
// it was read as, by the library's rules (geometry/polygon_faults.hpp), and with --fix the faults
// the run made repaired.
//
// A fault is the run's doing when the written line has it and its input line, tested the same way
// on its values as read (taken as written, to seven digits), did not: a quad made a triangle is
// compared with the quad it was, warped after warped-1 counts, warped-1 after warped does not. A
// line is identical to an earlier one of its unit (same type, colour as written, corners in any
// order; the ends only of edge and conditional lines) that it was not identical to as read.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "document/clean_options.hpp"
#include "document/document_units.hpp"
#include "elements/ldraw_line.hpp"
#include "geometry/point.hpp"

namespace weldrix {

enum class geometry_fault_kind : std::uint8_t { identical, collinear, concave, bowtie, warped, warped_1 };

// "identical", "collinear", "concave", "bowtie", "warped", "warped-1".
const char* geometry_fault_name(geometry_fault_kind kind);

// What --fix does with a fault (or would do).
enum class geometry_repair : std::uint8_t {
    none,      // bowtie and collinear quads, concave triangles: left as they are
    remove,    // a collinear triangle, a line made identical
    triangle,  // a quad concave at a straight corner: the triangle of its other three corners
    split,     // another concave quad, a warped one: two triangles
};

struct geometry_fault {
    std::size_t line = 0;      // the input line, from 1
    std::size_t position = 0;  // of its element in the document
    geometry_fault_kind kind = geometry_fault_kind::identical;
    std::size_t to_line = 0;           // identical: the earlier line it is identical to
    bool fixed = false;                // --fix repaired it
    line_type type = line_type::none;  // the written line's type
    geometry_repair repair = geometry_repair::none;
    // The warning names it: warped-1 is only the library's recommendation.
    bool warned() const { return !fixed && kind != geometry_fault_kind::warped_1; }
};

// The points as read of one changed line (for a conditional line its two ends).
struct read_points {
    std::array<point, 4> p{};
    std::size_t count = 0;
    std::span<const point> view() const { return {p.data(), count}; }
};

// The points as read (for conditional lines their two ends) of the geometry lines the unification
// changed as written, told about each element before and after it works on it. A line it left as
// it was is its own record, and so is one whose corners moved below the seven digits written (it is
// written as it was read): most lines of a part are one or the other, even with -s, where snaps
// onto subfile vertices mostly move a value in its last bits. Keeping only the others spares a copy
// of nearly every point of the file.
//
// A mesh whose every corner moves keeps them all, so they are kept small: a line whose values are
// each some d / 10^k (k from 0 to 9, d a 32-bit integer, the division giving the value's very
// bits) keeps the d alone, 4 bytes a value instead of 8. Values read from short decimals, nearly
// all a part has, are such; a line with any other value keeps its doubles.
class geometry_input {
public:
    void before(const ldraw_line& line);
    // Needs before on the same line first, and positions told in increasing order.
    void after(std::size_t position, const ldraw_line& line);
    // Takes over what later was told, all of it of positions after those told here (the second
    // half of a unit unified on a thread of its own).
    void append(geometry_input&& later);
    // The points as read of the element at position when the unification changed it as written;
    // nothing when it is written as it was read (its points write as those it holds).
    [[nodiscard]] std::optional<read_points> changed(std::size_t position) const;
    // The changed lines in position order: k from first_at(position) (the first at or after it) to
    // size(), each with its position and its points as read.
    std::size_t first_at(std::size_t position) const;
    std::size_t size() const { return positions_.size(); }
    std::size_t position(std::size_t k) const { return positions_[k]; }
    read_points points(std::size_t k) const;
    // Whether the changed line k is written as it was read all the same (a line whose type
    // changed, its corners moved below the seven digits written).
    bool written_as_read(std::size_t k) const { return (starts_[k] >> 8) & 1; }
    // For a geometry line written as it was read, the top 28 bits of the least x of its corners
    // (the check's first test of it, made here while the line is at hand); UINT32_MAX for others.
    std::uint32_t least_x_range(std::size_t position) const {
        return position < least_x_.size() ? least_x_[position] : UINT32_MAX;
    }

private:
    // Whether corners now are written as those read: most moved values moved in their last bits.
    bool alike(std::span<const point> now, std::span<const point> as_read);
    // The held points as 32-bit words at out: true when each value is some d / 10^k, which gives
    // k; else their doubles are to be kept.
    bool as_decimals(std::uint32_t* out, unsigned& k);
    std::array<point, 4> held_{};
    // The last verdicts on pairs of values (now, as read), by a hash of their bits: a vertex
    // serves several lines in a row, each of which asks the same. Zero bits on both sides is
    // never asked (equal bits need no verdict), so an empty entry is no verdict.
    struct memo_entry {
        std::uint64_t now = 0, as_read = 0;
        bool alike = false;
    };
    std::array<memo_entry, 256> memo_{};
    std::size_t held_count_ = 0;
    line_type held_type_ = line_type::none;
    unsigned last_decimals_ = 0;  // the k of the last line kept as decimals: the next mostly has it
    // The values in blocks of 32-bit words that are never moved or copied as they fill (a run that
    // changes every line keeps them all), a line's words within one block; per changed line its
    // position, and where its words start (block << block_bits | offset) << 9 | written as read
    // << 8 | k << 4 | doubles << 3 | the number of points.
    static constexpr std::size_t block_bits = 14;
    static constexpr std::size_t most_block_words = std::size_t{1} << block_bits;
    std::vector<std::unique_ptr<std::uint32_t[]>> blocks_;
    std::size_t last_size_ = 0;  // words in the last block
    std::size_t used_ = 0;       // of them used
    std::vector<std::uint32_t> positions_;
    std::vector<std::uint64_t> starts_;
    std::vector<std::uint32_t> least_x_;
};

// Checks the lines of one unit (elements[unit.begin, unit.end)) against input and appends the
// faults the run made, in line order (a line's own fault before its identical entry); line_numbers
// gives each position's input line. With fix, repairs them in line order, in place: a collinear
// triangle is removed; a quad concave at a straight corner becomes the triangle of its other three
// corners; another concave quad, or a warped or warped-1 one, becomes two triangles (split A
// (0,1,2),(0,2,3) when its triangles face the same way, else split B (0,1,3),(1,2,3)); then a line
// made identical to an earlier one, on what is now written, is removed. Bowtie and collinear quads
// stay as they are. The lines made identical are found among those whose prefilter hash (type,
// colour, the least written coordinates) a changed line has: looked up in sets of the changed
// lines' hashes, after a filter of the least x that spares most unchanged lines any written value
// (filtered), or, where an eighth of the lines or more changed, with every line's hash sorted
// (sorted); both find the same.
void check_geometry(std::vector<std::unique_ptr<ldraw_line>>& elements, const document_unit& unit,
                    const geometry_input& input, const std::vector<std::size_t>& line_numbers,
                    const clean_options& options, std::vector<geometry_fault>& faults);

}  // namespace weldrix
