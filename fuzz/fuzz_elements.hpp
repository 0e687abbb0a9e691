// Element helpers shared by the fuzz targets.
#pragma once

#include "elements/ldraw_line.hpp"
#include "elements/subfile_line.hpp"

namespace weldrix::fuzz {

inline bool finite(const matrix& m) {
    return weldrix::finite(point(m.a, m.b, m.c)) && weldrix::finite(point(m.d, m.e, m.f)) &&
           weldrix::finite(point(m.g, m.h, m.i));
}

// Whether every number of the element is finite, so that its text reads back to itself.
inline bool finite(const ldraw_line& line) {
    if (line.type_code() == line_type::subfile) {
        const auto& s = static_cast<const subfile_line&>(line);
        return weldrix::finite(s.position) && finite(s.orientation);
    }
    for (const point& p : line.vertices()) {
        if (!weldrix::finite(p)) return false;
    }
    return true;
}

}  // namespace weldrix::fuzz
