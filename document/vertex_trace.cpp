#include "document/vertex_trace.hpp"

#include "geometry/number_format.hpp"

namespace weldrix {

void vertex_trace::follow(const ldraw_line& element, const collapse& c) {
    if (c.kept_count > 0) {
        std::array<int, 4> kept{};
        for (int k = 0; k < c.kept_count; ++k) kept[k] = map[c.kept[k]];
        map = kept;
    }
    if (c.replacement->type_code() == line_type::removed) {
        const std::span<const point> p = element.vertices();
        collapse_count = p.size();
        for (std::size_t k = 0; k < p.size(); ++k) at_collapse[k] = p[k];
        collapse_map = map;
    }
}

std::span<const point> vertex_trace::final_points(const ldraw_line& element) const {
    if (element.type_code() != line_type::removed) return element.vertices();
    return {at_collapse.data(), collapse_count};
}

const std::array<int, 4>& vertex_trace::map_of(const ldraw_line& element) const {
    return element.type_code() == line_type::removed ? collapse_map : map;
}

bool same_text(const point& a, const point& b) {
    // A point's text is its three numbers' texts, one space apart.
    if (written_apart(a.x, b.x) || written_apart(a.y, b.y) || written_apart(a.z, b.z)) return false;
    return written_same_text(a.x, b.x) && written_same_text(a.y, b.y) && written_same_text(a.z, b.z);
}

}  // namespace weldrix
