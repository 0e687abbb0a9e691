// A position or offset vector in LDraw units.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "geometry/number_format.hpp"
#include "geometry/number_parse.hpp"

namespace weldrix {

class point {
public:
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;

    point() = default;
    point(double x_, double y_, double z_) : x(x_), y(y_), z(z_) {}

    void assign(const point& other) { x = other.x, y = other.y, z = other.z; }
    void translate(const point& offset);

    // |dz| + |dy| + |dx|, summed in this order: the only distance the tool uses, and the order
    // matters for bit-exact threshold decisions.
    double manhattan_distance(const point& other) const {
        return std::fabs(other.z - z) + std::fabs(other.y - y) + std::fabs(other.x - x);
    }

    // Reads x, y and z from line text at pos, one white-space separated token each, as "%lf"
    // reads them (see number_parse.hpp). Returns the position after the token of z, or nullptr
    // when a token does not start with a number; the coordinates read before stay set. A text
    // that ends early is no failure: the missing coordinates keep their values. With notes, what
    // was read is noted (see number_notes).
    const char* parse(const char* pos, const char* end, number_notes* notes = nullptr);

    // "x y z", each as "%.7lg".
    std::string to_text() const;
    void append_text(std::string& out) const;
    // Most bytes write_text writes.
    static constexpr std::size_t text_max = 3 * number_text_max + 2;
    // Writes the text form at p, which has room for text_max bytes; returns the end.
    char* write_text(char* p) const;
};

// The distance rule of the whole tool: a is closer to b than threshold (strictly, by Manhattan
// distance). A distance equal to the threshold does not count, and a NaN distance never counts.
inline bool closer_than(const point& a, const point& b, double threshold) {
    return a.manhattan_distance(b) < threshold;
}

// Whether all three coordinates are finite (neither infinite nor NaN).
inline bool finite(const point& p) { return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z); }

// Whether a and b are the same bit for bit (0 and -0 differ, a NaN equals a NaN of its bits): the
// equality of the tables that remember points.
inline bool same_bits(const point& a, const point& b) { return std::memcmp(&a, &b, sizeof(point)) == 0; }

// A hash of the point's bits, well mixed in its upper bits (take them with >>).
inline std::uint64_t bits_hash(const point& p) {
    std::uint64_t bits[3];
    std::memcpy(bits, &p, sizeof bits);
    return bits[0] * 0x9e3779b97f4a7c15ull ^ bits[1] * 0xc2b2ae3d27d4eb4full ^ bits[2] * 0x165667b19e3779f9ull;
}

}  // namespace weldrix
