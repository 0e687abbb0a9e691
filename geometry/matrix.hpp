// The 3x3 matrix of a subfile reference, rows (a b c), (d e f), (g h i) as in the LDraw line
// "1 colour x y z a b c d e f g h i file". Built without values it is all zeros, not the identity.
#pragma once

#include <string>

#include "geometry/point.hpp"

namespace weldrix {

class matrix {
public:
    double a = 0, b = 0, c = 0;
    double d = 0, e = 0, f = 0;
    double g = 0, h = 0, i = 0;

    matrix() = default;
    matrix(double a_, double b_, double c_, double d_, double e_, double f_, double g_, double h_, double i_)
        : a(a_), b(b_), c(c_), d(d_), e(e_), f(f_), g(g_), h(h_), i(i_) {}
    // Rows from three points.
    matrix(const point& row1, const point& row2, const point& row3)
        : matrix(row1.x, row1.y, row1.z, row2.x, row2.y, row2.z, row3.x, row3.y, row3.z) {}

    // This matrix times p; the translation of a placement is applied separately.
    point transform(const point& p) const;
    // This matrix times n (this one on the left); each element summed from 0 in row order.
    matrix multiply(const matrix& n) const;
    double determinant() const;

    // The nine numbers a..i, each as "%.7lg", separated by single blanks.
    std::string to_text() const;
    void append_text(std::string& out) const;
};

}  // namespace weldrix
