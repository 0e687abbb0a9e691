#include "document/parsed_file.hpp"

#include <cassert>
#include <cstring>
#include <unordered_set>

#include "document/line_reader.hpp"
#include "elements/comment_line.hpp"

namespace weldrix {
namespace {

// The bits of a point, for exact comparison (-0 and 0 differ, as they may in the output).
struct point_bits {
    std::uint64_t v[3];
    explicit point_bits(const point& p) {
        std::memcpy(&v[0], &p.x, 8);
        std::memcpy(&v[1], &p.y, 8);
        std::memcpy(&v[2], &p.z, 8);
    }
    bool operator==(const point_bits& o) const { return v[0] == o.v[0] && v[1] == o.v[1] && v[2] == o.v[2]; }
};

struct point_bits_hash {
    std::size_t operator()(const point_bits& b) const {
        std::uint64_t h = 0x9e3779b97f4a7c15ull;
        for (const std::uint64_t x : b.v) {
            h = (h ^ x) * 0xbf58476d1ce4e5b9ull;
            h ^= h >> 31;
        }
        return static_cast<std::size_t>(h);
    }
};

// Marks the vertices that repeat one of an earlier line.
void mark_repeats(parsed_file& file) {
    std::unordered_set<point_bits, point_bits_hash> earlier;
    file.repeated.assign(file.vertices.size(), false);
    for (std::size_t j = 0; j + 1 < file.first_vertex.size(); ++j) {
        for (std::uint32_t k = file.first_vertex[j]; k < file.first_vertex[j + 1]; ++k) {
            file.repeated[k] = earlier.count(point_bits(file.vertices[k])) != 0;
        }
        for (std::uint32_t k = file.first_vertex[j]; k < file.first_vertex[j + 1]; ++k) {
            earlier.insert(point_bits(file.vertices[k]));
        }
    }
}

}  // namespace

bool is_invertnext(const ldraw_line& line) {
    return line.type_code() == line_type::comment &&
           static_cast<const comment_line&>(line).bfc_kind() == bfc_invertnext;
}

void parsed_file::add(std::unique_ptr<ldraw_line> line, std::size_t line_number) {
    const line_type type = line->type_code();
    if (type == line_type::subfile) {
        references.push_back(static_cast<std::uint32_t>(lines.size()));
        reference_lines.push_back(static_cast<std::uint32_t>(line_number));
    }
    if (offers_snap_targets(type)) {
        for (const point& p : line->vertices()) vertices.push_back(p);
    }
    first_vertex.push_back(static_cast<std::uint32_t>(vertices.size()));
    invertnext.push_back(is_invertnext(*line));
    types.push_back(type);
    if (every_line || type == line_type::subfile) {
        lines.push_back(std::move(line));
    } else {
        lines.emplace_back();
    }
}

parsed_file parsed_file::parse(std::string_view bytes, bool every_line) {
    parsed_file file;
    file.every_line = every_line;
    std::size_t line_number = 0;
    for_each_line(without_byte_order_mark(bytes), [&](std::string_view text) {
        ++line_number;
        if (auto line = make_line(text)) file.add(std::move(line), line_number);
    });
    mark_repeats(file);
    return file;
}

parsed_file parsed_file::copy(const std::vector<std::unique_ptr<ldraw_line>>& elements, std::size_t begin,
                              std::size_t end, const std::vector<std::size_t>& line_numbers) {
    assert(begin <= end && end <= elements.size());
    parsed_file file;
    for (std::size_t i = begin; i < end; ++i)
        file.add(elements[i]->clone(), i < line_numbers.size() ? line_numbers[i] : 0);
    mark_repeats(file);
    return file;
}

std::size_t parsed_file::memory_estimate() const {
    // An element kept with its allocation header; an owning pointer, a type and bookkeeping per
    // line; a point and a bit per vertex.
    const std::size_t elements = every_line ? lines.size() : references.size();
    return elements * 144 + lines.size() * 16 + vertices.size() * sizeof(point) + references.size() * 8 + 256;
}

}  // namespace weldrix
