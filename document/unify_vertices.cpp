#include "document/unify_vertices.hpp"

namespace weldrix {
namespace {

void snap_and_simplify(std::unique_ptr<ldraw_line>& element, vertex_set& set) {
    element->snap_vertices(set);
    std::unique_ptr<ldraw_line> replacement;
    if (!element->simplify(replacement)) return;
    element = std::move(replacement);
    std::unique_ptr<ldraw_line> second;
    if (element->simplify(second)) element = std::move(second);
}

}  // namespace

void unify_vertices(std::vector<std::unique_ptr<ldraw_line>>& elements, std::size_t begin, std::size_t end,
                    vertex_set* subfile_targets, const unify_thresholds& thresholds, vertex_search search) {
    vertex_set main_set(thresholds, search);
    for (std::size_t i = begin; i < end; ++i) elements[i]->collect_vertices(main_set, false);
    for (std::size_t i = begin; i < end; ++i) snap_and_simplify(elements[i], main_set);

    // Pass 2 without snap targets would move nothing, and the collapse test it repeats gives false
    // for every element pass 1 left: pass 1 asked it already and, when that gave a replacement,
    // asked the replacement too (a quad's triangle that collapses becomes a removed line, which
    // never collapses). So it is skipped.
    if (!subfile_targets || subfile_targets->size() == 0) return;
    for (std::size_t i = begin; i < end; ++i) snap_and_simplify(elements[i], *subfile_targets);
}

}  // namespace weldrix
