// A subfile's lines parsed once, ready to be placed as often as the file is referenced. Immutable
// once built, so that one parse serves every reference, every document and every thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "elements/ldraw_line.hpp"
#include "geometry/matrix.hpp"
#include "geometry/point.hpp"

namespace weldrix {

struct parsed_file {
    // Per line: its type.
    std::vector<line_type> types;
    // Per line, with every_line: its element. A file parsed without every line keeps only the
    // elements of its subfile references (in reference_elements): inlining needs no more of the
    // other lines than their types and vertices, and an element takes several times the memory of
    // its vertices. Only an observer of the placed lines (a report page's drawing) needs them all.
    std::vector<std::unique_ptr<ldraw_line>> lines;
    std::vector<std::unique_ptr<ldraw_line>> reference_elements;
    bool every_line = true;
    std::vector<bool> invertnext;                // per line: it is a BFC INVERTNEXT comment
    std::vector<std::uint32_t> references;       // positions of the subfile reference lines
    std::vector<std::uint32_t> reference_lines;  // parallel to references: their lines (from 1; 0 unknown)
    // The vertices of the edge lines, triangles and quads (the snap targets), in line order; line
    // j owns vertex(first_vertex[j]) to vertex(first_vertex[j + 1] - 1). Each distinct point (bit
    // for bit) is kept once, in points, and a vertex is its index there: in a mesh most vertices
    // are shared by several lines, and an index takes a sixth of a point.
    std::vector<point> points;
    std::vector<std::uint32_t> vertex_points;
    std::vector<std::uint32_t> first_vertex{0};

    const point& vertex(std::uint32_t at) const { return points[vertex_points[at]]; }
    std::size_t vertex_count() const { return vertex_points.size(); }
    // The element of reference k (references[k]), a subfile_line.
    const ldraw_line& reference(std::size_t k) const {
        return every_line ? *lines[references[k]] : *reference_elements[k];
    }
    // The name reference k gives.
    const std::string& reference_name(std::size_t k) const;
    // Parallel to references, once set by whoever makes the file (subfile_library::load, or a
    // document for its sections): the subfile_library::name_id of each reference's name, so that
    // the documents that use the file name its references without reading their names again.
    std::vector<std::uint32_t> reference_name_ids;
    // Per vertex: equal, bit for bit, to a vertex of an earlier line of the file. Placing it gives
    // the same bits as that earlier vertex, which already made or joined a snap target.
    std::vector<bool> repeated;
    // The vertices that are not repeated, in order: all a copy offers when its placed points are
    // sure to be finite (see finite_when_placed).
    std::vector<std::uint32_t> fresh;
    // The largest magnitude of a coordinate of points; infinite when one is not finite.
    double magnitude = 0.0;
    // How many lines of each type: edge lines, triangles, quads, conditional lines.
    std::size_t edges = 0, triangles = 0, quads = 0, conditionals = 0;

    // The usable lines of LDraw text (a leading byte-order mark skipped), each kept as an element
    // with every_line, else only the references.
    static parsed_file parse(std::string_view bytes, bool every_line = true);
    // Copies of elements[begin, end) (a section of a multi-part document, or a whole document as
    // read), whose lines are line_numbers[begin, end) when it holds them; begin <= end <=
    // elements.size(). The elements make_line gave for a text's lines, with their line numbers,
    // give what parse gives for the text.
    static parsed_file copy(const std::vector<std::unique_ptr<ldraw_line>>& elements, std::size_t begin,
                            std::size_t end, const std::vector<std::size_t>& line_numbers = {}, bool every_line = true);

    // About how many bytes of memory the file takes: the bound of a shared cache is counted in it.
    std::size_t memory_estimate() const;
};

bool is_invertnext(const ldraw_line& line);

// Whether every point of file placed by orientation and offset (finite numbers each) is finite:
// true when no sum of the placement can come near the largest double. Then a repeated vertex
// gives the bits of an earlier finite one and need not be placed at all.
bool finite_when_placed(const parsed_file& file, const matrix& orientation, const point& offset);

// The lines whose vertices are snap targets: edge lines, triangles and quads. Conditional lines
// supply none; comments and references have no vertices.
inline bool offers_snap_targets(line_type type) {
    return type == line_type::edge || type == line_type::triangle || type == line_type::quad;
}

}  // namespace weldrix
