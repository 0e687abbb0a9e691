// Element helpers shared by the fuzz targets.
#pragma once

#include "elements/ldraw_line.hpp"
#include "elements/subfile_line.hpp"
#include "elements/vertex_line.hpp"

namespace weldrix::fuzz {

inline bool finite(const matrix& m) {
    return weldrix::finite(point(m.a, m.b, m.c)) && weldrix::finite(point(m.d, m.e, m.f)) &&
           weldrix::finite(point(m.g, m.h, m.i));
}

template <int N>
bool finite_points(const ldraw_line& line) {
    for (const point& p : static_cast<const vertex_line<N>&>(line).points) {
        if (!weldrix::finite(p)) return false;
    }
    return true;
}

// Whether every number of the element is finite, so that its text reads back to itself.
inline bool finite(const ldraw_line& line) {
    switch (line.type_code()) {
        case 1: {
            const auto& s = static_cast<const subfile_line&>(line);
            return weldrix::finite(s.position) && finite(s.orientation);
        }
        case 2: return finite_points<2>(line);
        case 3: return finite_points<3>(line);
        case 4:
        case 5: return finite_points<4>(line);
        default: return true;
    }
}

}  // namespace weldrix::fuzz
