#include "document/parsed_file.hpp"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstring>

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

std::uint64_t hash_of(const point_bits& b) {
    std::uint64_t h = 0x9e3779b97f4a7c15ull;
    for (const std::uint64_t x : b.v) {
        h = (h ^ x) * 0xbf58476d1ce4e5b9ull;
        h ^= h >> 31;
    }
    return h;
}

// The number of each distinct point (by its bits) in the order first met: an open-addressed table
// of those numbers, which a file's few thousand points fill without an allocation each.
class point_numbers {
public:
    // The number of p among points, adding it (as points.size()) when it is new; added tells.
    std::uint32_t number(const point& p, std::vector<point>& points, bool& added) {
        if (2 * (points.size() + 1) > slots_.size()) grow(points);
        const point_bits bits(p);
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t at = hash_of(bits) & mask;; at = (at + 1) & mask) {
            const std::uint32_t n = slots_[at];
            if (n == empty) {
                added = true;
                slots_[at] = static_cast<std::uint32_t>(points.size());
                points.push_back(p);
                return slots_[at];
            }
            if (point_bits(points[n]) == bits) {
                added = false;
                return n;
            }
        }
    }

private:
    static constexpr std::uint32_t empty = 0xffffffffu;

    void grow(const std::vector<point>& points) {
        slots_.assign(std::max<std::size_t>(64, 2 * slots_.size()), empty);
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t n = 0; n < points.size(); ++n) {
            std::size_t at = hash_of(point_bits(points[n])) & mask;
            while (slots_[at] != empty) at = (at + 1) & mask;
            slots_[at] = static_cast<std::uint32_t>(n);
        }
    }

    std::vector<std::uint32_t> slots_;  // a power of two of them, at most half used
};

// Builds a parsed file line by line, each distinct point kept once.
class builder {
public:
    explicit builder(bool every_line) { file_.every_line = every_line; }

    // A line the builder may keep as it is.
    void add(std::unique_ptr<ldraw_line> line, std::size_t line_number) {
        if (note(*line, line_number)) keep(std::move(line));
    }
    // A line of someone else's: a copy is kept where the file keeps its element.
    void add_copy(const ldraw_line& line, std::size_t line_number) {
        if (note(line, line_number)) keep(line.clone());
    }

    parsed_file done() {
        file_.points.shrink_to_fit();
        file_.fresh.shrink_to_fit();
        return std::move(file_);
    }

private:
    // Records everything of line but its element; whether the file keeps the element.
    bool note(const ldraw_line& line, std::size_t line_number) {
        const line_type type = line.type_code();
        if (type == line_type::subfile) {
            file_.references.push_back(static_cast<std::uint32_t>(file_.types.size()));
            file_.reference_lines.push_back(static_cast<std::uint32_t>(line_number));
        }
        if (offers_snap_targets(type)) {
            // A point first met on this line is no repeat, however often the line names it.
            const std::size_t earlier = file_.points.size();
            for (const point& p : line.vertices()) {
                bool added = false;
                const std::uint32_t n = index_.number(p, file_.points, added);
                if (n >= earlier) file_.fresh.push_back(static_cast<std::uint32_t>(file_.vertex_points.size()));
                file_.vertex_points.push_back(n);
                file_.repeated.push_back(n < earlier);
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
        file_.invertnext.push_back(is_invertnext(line));
        file_.types.push_back(type);
        return file_.every_line || type == line_type::subfile;
    }
    void keep(std::unique_ptr<ldraw_line> line) {
        (file_.every_line ? file_.lines : file_.reference_elements).push_back(std::move(line));
    }

    parsed_file file_;
    point_numbers index_;
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
                              std::size_t end, const std::vector<std::size_t>& line_numbers, bool every_line) {
    assert(begin <= end && end <= elements.size());
    builder file(every_line);
    for (std::size_t i = begin; i < end; ++i)
        file.add_copy(*elements[i], i < line_numbers.size() ? line_numbers[i] : 0);
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
