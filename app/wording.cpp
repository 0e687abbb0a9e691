#include "app/wording.hpp"

namespace weldrix {

std::string counted(std::size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string describe_changes(const change_totals& t) {
    return counted(t.vertices_moved, "vertex moved", "vertices moved") + ", " +
           counted(t.lines_removed, "line removed", "lines removed") + ", " +
           counted(t.quads_made_triangles, "quad made a triangle", "quads made triangles");
}

}  // namespace weldrix
