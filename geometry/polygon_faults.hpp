// The geometry faults the LDraw library holds a part back for, tested on a triangle's or a quad's
// corners as a file writes them: collinear corners, concave and self-crossing ("bowtie") quads,
// quads that are not planar within 3 degrees (and the 1 degree the library recommends).
//
// Every test is made on written values (written_point) with + - * and comparisons only, in a
// fixed order (no square roots, no trigonometry), so that every host and the WebAssembly module
// reach the same verdict bit for bit. Angles are compared through squared cosines.
#pragma once

#include <cstdint>
#include <span>

#include "geometry/point.hpp"

namespace weldrix {

// The doubles nearest to the squared cosines of the angles the tests use.
inline constexpr double cos2_0_025_degrees = 0.9999998096141247;
inline constexpr double cos2_0_1_degrees = 0.9999969538288952;
inline constexpr double cos2_1_degree = 0.9996954135095478;
inline constexpr double cos2_3_degrees = 0.9972609476841366;

// A point as a file writes it: each coordinate's written_value (number_format.hpp).
inline point written_point(const point& p) { return {written_value(p.x), written_value(p.y), written_value(p.z)}; }

inline point sub(const point& a, const point& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline point cross(const point& a, const point& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline double dot(const point& a, const point& b) { return (a.x * b.x + a.y * b.y) + a.z * b.z; }

// With c the squared cosine of an angle t: the angle between u and v is above t (apart), below t
// (within), or above 180 degrees - t (opposite). A zero vector is none of them.
bool apart(const point& u, const point& v, double c);
bool within(const point& u, const point& v, double c);
bool opposite(const point& u, const point& v, double c);

// The one fault a triangle or quad has, the first that applies in this order.
enum class polygon_fault : std::uint8_t { none, collinear, concave, bowtie, warped, warped_1 };

// The names the report uses: "collinear", "concave", "bowtie", "warped", "warped-1" ("" for none).
const char* fault_name(polygon_fault fault);

struct polygon_verdict {
    polygon_fault fault = polygon_fault::none;
    // For a quad concave because a corner is straight: the first such corner (0 to 3), else -1.
    int straight_corner = -1;
};

// The fault of the polygon of 3 or 4 corners q (written values), in this order:
// collinear: a corner is sharp (within 0.025 degrees), or for a triangle straight (within 0.1
// degrees of 180); concave (quads): a corner is straight; then by the corner normals: all zero is
// collinear, two of them against the first non-zero one is a bowtie, one or three concave; warped
// (quads): the two triangles of either split are apart by more than 3 degrees; warped-1: by more
// than 1 degree.
polygon_verdict classify_polygon(std::span<const point> q);

// Whether a line whose fault was before is now after a fault it did not have: warped after
// warped-1 is, warped-1 after warped is not.
bool fault_introduced(polygon_fault before, polygon_fault after);

// The two triangles a quad q (written values) is split into: split A (0,1,2),(0,2,3) when the
// normals of its triangles point the same way (dot(a1, a2) > 0), else split B (0,1,3),(1,2,3).
enum class quad_split : std::uint8_t { a, b };
quad_split choose_split(std::span<const point, 4> q);

}  // namespace weldrix
