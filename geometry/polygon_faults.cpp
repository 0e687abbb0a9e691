#include "geometry/polygon_faults.hpp"

#include <cassert>

namespace weldrix {

bool apart(const point& u, const point& v, double c) {
    const double d = dot(u, v), uu = dot(u, u), vv = dot(v, v);
    return uu > 0 && vv > 0 && (d <= 0 || d * d < c * (uu * vv));
}

bool within(const point& u, const point& v, double c) {
    const double d = dot(u, v), uu = dot(u, u), vv = dot(v, v);
    return uu > 0 && vv > 0 && d > 0 && d * d > c * (uu * vv);
}

bool opposite(const point& u, const point& v, double c) {
    const double d = dot(u, v), uu = dot(u, u), vv = dot(v, v);
    return uu > 0 && vv > 0 && d < 0 && d * d > c * (uu * vv);
}

const char* fault_name(polygon_fault fault) {
    switch (fault) {
        case polygon_fault::none: return "";
        case polygon_fault::collinear: return "collinear";
        case polygon_fault::concave: return "concave";
        case polygon_fault::bowtie: return "bowtie";
        case polygon_fault::warped: return "warped";
        case polygon_fault::warped_1: return "warped-1";
    }
    return "";
}

polygon_verdict classify_polygon(std::span<const point> q) {
    assert(q.size() == 3 || q.size() == 4);
    const int n = static_cast<int>(q.size());
    const auto at = [&](int i) -> const point& { return q[static_cast<std::size_t>((i + n) % n)]; };
    polygon_verdict verdict;
    int straight = -1;
    for (int i = 0; i < n; ++i) {
        const point u = sub(at(i - 1), at(i)), v = sub(at(i + 1), at(i));
        if (within(u, v, cos2_0_025_degrees)) return {polygon_fault::collinear, -1};
        if (straight < 0 && opposite(u, v, cos2_0_1_degrees)) straight = i;
    }
    if (straight >= 0) {
        if (n == 3) return {polygon_fault::collinear, -1};
        return {polygon_fault::concave, straight};
    }
    point normals[4];
    int first = -1;
    for (int i = 0; i < n; ++i) {
        normals[i] = cross(sub(at(i), at(i - 1)), sub(at(i + 1), at(i)));
        if (first < 0 && dot(normals[i], normals[i]) > 0) first = i;
    }
    if (first < 0) return {polygon_fault::collinear, -1};
    int against = 0;
    for (int i = 0; i < n; ++i) against += dot(normals[i], normals[first]) < 0 ? 1 : 0;
    if (against == 2) return {polygon_fault::bowtie, -1};
    if (against == 1 || against == 3) return {polygon_fault::concave, -1};
    if (n == 3) return verdict;
    const point a1 = cross(sub(q[1], q[0]), sub(q[2], q[0])), a2 = cross(sub(q[2], q[0]), sub(q[3], q[0]));
    const point b1 = cross(sub(q[1], q[0]), sub(q[3], q[0])), b2 = cross(sub(q[2], q[1]), sub(q[3], q[1]));
    if (apart(a1, a2, cos2_3_degrees) || apart(b1, b2, cos2_3_degrees)) return {polygon_fault::warped, -1};
    if (apart(a1, a2, cos2_1_degree) || apart(b1, b2, cos2_1_degree)) return {polygon_fault::warped_1, -1};
    return verdict;
}

bool fault_introduced(polygon_fault before, polygon_fault after) {
    if (after == polygon_fault::none || after == before) return false;
    return !(after == polygon_fault::warped_1 && before == polygon_fault::warped);
}

quad_split choose_split(std::span<const point, 4> q) {
    const point a1 = cross(sub(q[1], q[0]), sub(q[2], q[0])), a2 = cross(sub(q[2], q[0]), sub(q[3], q[0]));
    return dot(a1, a2) > 0 ? quad_split::a : quad_split::b;
}

}  // namespace weldrix
