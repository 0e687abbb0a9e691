#include "document/line_counts.hpp"

#include "io/console.hpp"

namespace weldrix {

void line_counts::count_type(line_type type) {
    switch (type) {
        case line_type::subfile: ++subfiles; break;
        case line_type::edge: ++edges; break;
        case line_type::triangle: ++triangles; break;
        case line_type::quad: ++quads; break;
        case line_type::conditional: ++conditionals; break;
        default: break;
    }
}

void line_counts::print(console& out, std::string_view what) const {
    out.count_line(lines, what);
    out.count_line(edges, " Edge lines");
    out.count_line(conditionals, " Conditional lines");
    out.count_line(triangles, " Triangles");
    out.count_line(quads, " Quads");
    out.count_line(subfiles, " Subfiles");
}

}  // namespace weldrix
