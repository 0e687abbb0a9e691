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

    // Pass 2 with no snap targets moves nothing, and the collapse test it repeats gives false for
    // every element pass 1 left in place: pass 1 asked it already, and when that gave a
    // replacement it asked the replacement too; the only replacement that can collapse, a
    // quad's triangle, is replaced by a removed line, which never collapses. Nothing to do.
    if (!inlined_vertices_ || inlined_vertices_->size() == 0) return;
    for (std::size_t i = 0; i < n; ++i) snap_and_simplify(elements[i], *inlined_vertices_);
}

}  // namespace weldrix
