#include "geometry/matrix.hpp"

#include "geometry/number_format.hpp"

namespace weldrix {

// The evaluation orders below are fixed on purpose: inlined vertices become snap targets whose
// exact bits (signed zeros included) end up in the output, so every machine must round alike.

point matrix::transform(const point& p) const {
    return point(a * p.x + b * p.y + c * p.z, d * p.x + e * p.y + f * p.z, g * p.x + h * p.y + i * p.z);
}

matrix matrix::multiply(const matrix& n) const {
    const double m[3][3] = {{a, b, c}, {d, e, f}, {g, h, i}};
    const double o[3][3] = {{n.a, n.b, n.c}, {n.d, n.e, n.f}, {n.g, n.h, n.i}};
    double r[3][3];
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 3; ++col) {
            // Starting from +0 matters: it turns a sum of negative zeros into +0.
            double sum = 0.0;
            for (int j = 0; j < 3; ++j) sum += m[row][j] * o[j][col];
            r[row][col] = sum;
        }
    }
    return matrix(r[0][0], r[0][1], r[0][2], r[1][0], r[1][1], r[1][2], r[2][0], r[2][1], r[2][2]);
}

double matrix::determinant() const { return a * e * i + b * f * g + c * d * h - c * e * g - a * f * h - b * d * i; }

void matrix::append_text(std::string& out) const {
    const double values[9] = {a, b, c, d, e, f, g, h, i};
    char buf[9 * (number_text_max + 1)];
    char* p = buf;
    for (int k = 0; k < 9; ++k) {
        if (k) *p++ = ' ';
        p = write_number(p, values[k]);
    }
    out.append(buf, p);
}

std::string matrix::to_text() const {
    std::string out;
    append_text(out);
    return out;
}

}  // namespace weldrix
