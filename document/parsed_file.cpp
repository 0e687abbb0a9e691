#include "document/parsed_file.hpp"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstring>
#include <unordered_map>

#include "document/line_reader.hpp"
#include "elements/comment_line.hpp"
#include "elements/subfile_line.hpp"

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

// Builds a parsed file line by line, each distinct point kept once.
class builder {
public:
    explicit builder(bool every_line) { file_.every_line = every_line; }

    void add(std::unique_ptr<ldraw_line> line, std::size_t line_number) {
        const line_type type = line->type_code();
        if (type == line_type::subfile) {
            file_.references.push_back(static_cast<std::uint32_t>(file_.types.size()));
            file_.reference_lines.push_back(static_cast<std::uint32_t>(line_number));
        }
        if (offers_snap_targets(type)) {
            // A point first met on this line is no repeat, however often the line names it.
            const std::size_t earlier = file_.points.size();
            for (const point& p : line->vertices()) {
                const auto [found, added] =
                    index_.try_emplace(point_bits(p), static_cast<std::uint32_t>(file_.points.size()));
                if (added) file_.points.push_back(p);
                if (found->second >= earlier)
                    file_.fresh.push_back(static_cast<std::uint32_t>(file_.vertex_points.size()));
                file_.vertex_points.push_back(found->second);
                file_.repeated.push_back(found->second < earlier);
                if (added) {
                    file_.magnitude = std::max({file_.magnitude, std::abs(p.x), std::abs(p.y), std::abs(p.z)});
                    if (!finite(p)) file_.magnitude = HUGE_VAL;
                }
            }
        }
        switch (type) {
            case line_type::edge: ++file_.edges; break;
            case line_type::triangle: ++file_.triangles; break;
            case line_type::quad: ++file_.quads; break;
            case line_type::conditional: ++file_.conditionals; break;
            default: break;
        }
        file_.first_vertex.push_back(static_cast<std::uint32_t>(file_.vertex_points.size()));
        file_.invertnext.push_back(is_invertnext(*line));
        file_.types.push_back(type);
        if (file_.every_line) {
            file_.lines.push_back(std::move(line));
        } else if (type == line_type::subfile) {
            file_.reference_elements.push_back(std::move(line));
        }
    }

    parsed_file done() {
        file_.points.shrink_to_fit();
        file_.fresh.shrink_to_fit();
        return std::move(file_);
    }

private:
    parsed_file file_;
    std::unordered_map<point_bits, std::uint32_t, point_bits_hash> index_;
};

}  // namespace

const std::string& parsed_file::reference_name(std::size_t k) const {
    return static_cast<const subfile_line&>(reference(k)).file_name;
}

bool is_invertnext(const ldraw_line& line) {
    return line.type_code() == line_type::comment &&
           static_cast<const comment_line&>(line).bfc_kind() == bfc_invertnext;
}

parsed_file parsed_file::parse(std::string_view bytes, bool every_line) {
    builder file(every_line);
    std::size_t line_number = 0;
    for_each_line(without_byte_order_mark(bytes), [&](std::string_view text) {
        ++line_number;
        if (auto line = make_line(text)) file.add(std::move(line), line_number);
    });
    return file.done();
}

parsed_file parsed_file::copy(const std::vector<std::unique_ptr<ldraw_line>>& elements, std::size_t begin,
                              std::size_t end, const std::vector<std::size_t>& line_numbers) {
    assert(begin <= end && end <= elements.size());
    builder file(true);
    for (std::size_t i = begin; i < end; ++i)
        file.add(elements[i]->clone(), i < line_numbers.size() ? line_numbers[i] : 0);
    return file.done();
}

bool finite_when_placed(const parsed_file& file, const matrix& m, const point& offset) {
    const double entries[] = {m.a, m.b, m.c, m.d, m.e, m.f, m.g, m.h, m.i};
    double largest = 0.0;
    for (const double entry : entries) {
        if (!std::isfinite(entry)) return false;
        largest = std::max(largest, std::abs(entry));
    }
    if (!finite(offset) || !std::isfinite(file.magnitude)) return false;
    // |row . p + offset| <= 3 * largest * magnitude + |offset|, and rounding adds far less than
    // the margin to the largest double (about 1.8e308).
    const double bound = 3.0 * largest * file.magnitude + std::abs(offset.x) + std::abs(offset.y) + std::abs(offset.z);
    return bound <= 1e300;
}

std::size_t parsed_file::memory_estimate() const {
    // An element kept, with its allocation header and owning pointer; a type and bookkeeping per
    // line; an index and a bit per vertex, and each distinct point.
    const std::size_t elements = every_line ? types.size() : references.size();
    return elements * 160 + types.size() * 6 + vertex_points.size() * 5 + fresh.size() * 4 +
           points.size() * sizeof(point) + references.size() * 12 + 256;
}

}  // namespace weldrix
