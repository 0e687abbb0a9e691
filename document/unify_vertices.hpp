// Vertex unification and snapping: the welding of a document's own elements.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "document/change_record.hpp"
#include "document/clean_options.hpp"
#include "elements/ldraw_line.hpp"
#include "geometry/vertex_set.hpp"

namespace weldrix {

// Pass 1 collects every vertex of elements[begin, end) into a set of representatives (merging
// vertices closer than the vertex threshold into running averages), then snaps each element's
// vertices onto it and tests the element for collapse. Pass 2 snaps them onto subfile_targets, the
// distinct vertices of the inlined subfiles (none without expansion), and tests again. An element
// that collapses is replaced in place (by a removed_line, or a quad by a triangle); a replacement
// is asked once more, so a quad can become a triangle and then a removed line within one step.
//
// With a recording, what changed is added to its record: every line that moved, collapsed or
// became a triangle (detailed records), and the totals. A record of totals alone is counted
// element by element, keeping nothing of a line once it is counted. The result is the same with
// and without.
struct unify_recording {
    change_record& record;
    // Per subfile representative (in creation order), the file that holds it, as an index into
    // record.subfiles; may be null, then snapped vertices name no file.
    const std::vector<std::uint32_t>* target_origins = nullptr;
};

class geometry_input;

// Needs begin <= end <= elements.size(); of options, the thresholds, the search, lone_from and
// snap_halves_from (from which unit length a unification that records nothing unifies its
// second half on a thread of its own). With input, each element is shown to it before and after
// it is unified (the geometry check keeps the lines that changed as they were read).
void unify_vertices(std::vector<std::unique_ptr<ldraw_line>>& elements, std::size_t begin, std::size_t end,
                    vertex_set* subfile_targets, const clean_options& options,
                    const unify_recording* recording = nullptr, geometry_input* input = nullptr);

}  // namespace weldrix
