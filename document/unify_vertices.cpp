// Vertex unification and snapping.
//
// Pass 1 collects every vertex of the file's own elements into set A (merging vertices closer than
// vertex_threshold into running-average representatives), then snaps each element's vertices
// onto A and tests it for collapse. Pass 2 snaps them onto set B, the distinct vertices of the
// inlined edges, triangles and quads (built by the expansion in inlining order), and tests again.
// An element that collapses is replaced in place; its replacement is asked once more, so a quad
// can become a triangle and then a removed line within one step.
#include "document/ldraw_file.hpp"

namespace weldrix {
namespace {

void snap_and_simplify(std::unique_ptr<ldraw_line>& element, const vertex_set& set) {
    element->snap_vertices(set);
    std::unique_ptr<ldraw_line> replacement;
    if (!element->simplify(replacement)) return;
    element = std::move(replacement);
    std::unique_ptr<ldraw_line> second;
    if (element->simplify(second)) element = std::move(second);
}

}  // namespace

void ldraw_file::unify_vertices() {
    const std::size_t n = main_count;

    vertex_set main_set(thresholds, search);
    for (std::size_t i = 0; i < n; ++i) elements[i]->collect_vertices(main_set, false);
    for (std::size_t i = 0; i < n; ++i) snap_and_simplify(elements[i], main_set);

    const vertex_set empty(thresholds, search);
    const vertex_set& subfile_set = inlined_vertices_ ? *inlined_vertices_ : empty;
    for (std::size_t i = 0; i < n; ++i) snap_and_simplify(elements[i], subfile_set);
}

}  // namespace weldrix
