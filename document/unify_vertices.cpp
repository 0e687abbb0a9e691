#include "document/unify_vertices.hpp"

#include <algorithm>
#include <array>
#include <cassert>
#include <cstring>
#include <unordered_map>

#include "elements/vertex_line.hpp"
#include "geometry/number_format.hpp"

namespace weldrix {
namespace {

// Replaces an element that collapses, and asks the replacement once more (a quad can become a
// triangle and then a removed line); on_collapse(element, replacement) sees each replacement.
template <class OnCollapse>
void simplify(std::unique_ptr<ldraw_line>& element, OnCollapse&& on_collapse) {
    std::unique_ptr<ldraw_line> replacement;
    if (!element->simplify(replacement)) return;
    on_collapse(*element, *replacement);
    element = std::move(replacement);
    std::unique_ptr<ldraw_line> second;
    if (element->simplify(second)) {
        on_collapse(*element, *second);
        element = std::move(second);
    }
}

void snap_and_simplify(std::unique_ptr<ldraw_line>& element, vertex_set& set) {
    element->snap_vertices(set);
    simplify(element, [](const ldraw_line&, const ldraw_line&) {});
}

bool same_bits(const point& a, const point& b) { return std::memcmp(&a, &b, sizeof(point)) == 0; }

// A vertex whose value changed below the seven digits a coordinate is written with (an average of
// equal values can differ in its last bit) is written as it was: it did not move.
bool same_text(const point& a, const point& b) {
    if (written_apart(a.x, b.x) || written_apart(a.y, b.y) || written_apart(a.z, b.z)) return false;
    char ta[point::text_max], tb[point::text_max];
    const char* ea = a.write_text(ta);
    const char* eb = b.write_text(tb);
    return ea - ta == eb - tb && std::memcmp(ta, tb, static_cast<std::size_t>(ea - ta)) == 0;
}

struct point_key {
    std::uint64_t bits[3];
    explicit point_key(const point& p) { std::memcpy(bits, &p, sizeof bits); }
    bool operator==(const point_key& o) const { return std::memcmp(bits, o.bits, sizeof bits) == 0; }
};
struct point_key_hash {
    std::size_t operator()(const point_key& k) const {
        return static_cast<std::size_t>((k.bits[0] * 0x9e3779b97f4a7c15ull) ^ (k.bits[1] * 0xc2b2ae3d27d4eb4full) ^
                                        (k.bits[2] * 0x165667b19e3779f9ull));
    }
};

bool close(std::span<const point> p, int a, int b) { return closer_than(p[a], p[b], collapse_distance); }

// Where an element's vertices came from as it collapsed: its vertex k is vertex map[k] of the line
// as read. A line that collapsed to nothing keeps the points it had then, and their map.
struct vertex_trace {
    std::array<int, 4> map{0, 1, 2, 3};
    std::array<point, 4> at_collapse{};
    std::array<int, 4> collapse_map{};
    std::size_t collapse_count = 0;

    // Follows element's collapse into replacement.
    void follow(const ldraw_line& element, const ldraw_line& replacement) {
        const std::span<const point> p = element.vertices();
        if (element.type_code() == line_type::quad) {
            // A quad whose side met is the triangle of its other three corners, in cyclic order.
            for (int side = 0; side < 4; ++side) {
                if (!close(p, side, (side + 1) % 4)) continue;
                std::array<int, 4> kept{};
                int n = 0;
                for (int k = 0; k < 4; ++k) {
                    if (k != side) kept[n++] = map[k];
                }
                map = kept;
                break;
            }
        }
        if (replacement.type_code() == line_type::removed) {
            collapse_count = p.size();
            for (std::size_t k = 0; k < p.size(); ++k) at_collapse[k] = p[k];
            collapse_map = map;
        }
    }
};

struct line_outcome {
    bool removed = false;
    bool triangle = false;  // a quad made a triangle
};

// Adds to totals what unification did to one element: element is what it became, originals its
// points as read. Every vertex that is written elsewhere than it was read (for a removed line,
// that was elsewhere when the line collapsed) counts, in line order, and is handed to
// moved(index, from, to, distance); a vertex whose value changed only below the digits it is
// written with did not move.
template <class Moved>
line_outcome count_changes(change_totals& totals, line_type as_read, const ldraw_line& element,
                           const vertex_trace& trace, const point* originals, Moved&& moved) {
    line_outcome outcome;
    outcome.removed = element.type_code() == line_type::removed;
    outcome.triangle = !outcome.removed && as_read == line_type::quad && element.type_code() == line_type::triangle;
    const std::span<const point> final_points =
        outcome.removed ? std::span<const point>(trace.at_collapse.data(), trace.collapse_count) : element.vertices();
    const std::array<int, 4>& map = outcome.removed ? trace.collapse_map : trace.map;
    for (std::size_t k = 0; k < final_points.size(); ++k) {
        const int index = map[k];
        const point& from = originals[index];
        const point& to = final_points[k];
        if (same_bits(from, to) || same_text(from, to)) continue;
        const double distance = from.manhattan_distance(to);
        if (!(distance <= totals.largest_distance)) totals.largest_distance = distance;
        if (!outcome.removed) ++totals.vertices_moved;
        moved(index, from, to, distance);
    }
    if (outcome.removed) ++totals.lines_removed;
    if (outcome.triangle) ++totals.quads_made_triangles;
    return outcome;
}

// Unification that counts what it changed and keeps nothing else (batch runs, checks). Each
// element goes through pass 1 and then pass 2 before the next one does: snapping changes no
// representative, and each set still sees the snaps of the same vertices in the same order, so
// every element ends as the two full passes leave it. Its points as read are kept only until its
// changes are counted.
void count_unification(std::vector<std::unique_ptr<ldraw_line>>& elements, std::size_t begin, std::size_t end,
                       vertex_set& main_set, vertex_set* second_set, change_totals& totals) {
    for (std::size_t i = begin; i < end; ++i) {
        std::unique_ptr<ldraw_line>& element = elements[i];
        const line_type as_read = element->type_code();
        std::array<point, 4> originals{};
        const std::span<const point> read = element->vertices();
        std::copy(read.begin(), read.end(), originals.begin());
        vertex_trace trace;
        const auto follow = [&trace](const ldraw_line& from, const ldraw_line& to) { trace.follow(from, to); };
        element->snap_vertices(main_set);
        simplify(element, follow);
        if (second_set) {
            element->snap_vertices(*second_set);
            simplify(element, follow);
        }
        count_changes(totals, as_read, *element, trace, originals.data(),
                      [](int, const point&, const point&, double) {});
    }
}

// Unification that records every line it changed (reports): the same steps in the same order,
// with each element's vertices compared before and after, the subfile vertex each snap went to
// noted, and the reason for every collapse worked out from the points that collapsed.
class recording_unification {
public:
    recording_unification(std::vector<std::unique_ptr<ldraw_line>>& elements, std::size_t begin, std::size_t end,
                          const unify_recording& recording)
        : elements_(elements), begin_(begin), end_(end), recording_(recording), states_(end - begin) {
        for (std::size_t i = begin; i < end; ++i) {
            state& s = states_[i - begin];
            s.type = elements[i]->type_code();
            s.first = originals_.size();
            for (const point& p : elements[i]->vertices()) originals_.push_back(p);
            s.count = static_cast<int>(originals_.size() - s.first);
        }
    }

    void pass(vertex_set& set, bool onto_subfiles) {
        for (std::size_t i = begin_; i < end_; ++i) {
            state& s = states_[i - begin_];
            std::unique_ptr<ldraw_line>& element = elements_[i];
            if (onto_subfiles) {
                log_.clear();
                set.log_snaps(&log_);
            }
            element->snap_vertices(set);
            if (onto_subfiles) {
                set.log_snaps(nullptr);
                for (std::size_t k = 0; k < log_.size(); ++k) {
                    if (log_[k] != vertex_set::no_representative) s.snapped[s.trace.map[k]] = log_[k];
                }
            }
            simplify(element, [&](const ldraw_line& from, const ldraw_line& to) { collapse(s, from, to); });
        }
    }

    void finish() {
        change_record& record = recording_.record;
        std::unordered_map<point_key, std::size_t, point_key_hash> group_of;  // merge target -> group
        for (std::size_t i = begin_; i < end_; ++i) {
            const state& s = states_[i - begin_];
            line_change change;
            change.position = i;
            change.type = s.type;
            change.reason = s.reason;
            const line_outcome outcome =
                count_changes(record.totals, s.type, *elements_[i], s.trace, originals_.data() + s.first,
                              [&](int index, const point& from, const point& to, double distance) {
                                  vertex_change v;
                                  v.index = index;
                                  v.from = from;
                                  v.to = to;
                                  v.distance = distance;
                                  v.snapped = s.snapped[index] != vertex_set::no_representative;
                                  if (v.snapped && recording_.target_origins &&
                                      s.snapped[index] < recording_.target_origins->size()) {
                                      v.subfile = (*recording_.target_origins)[s.snapped[index]];
                                  }
                                  if (elements_[i]->type_code() != line_type::removed && !v.snapped) {
                                      group_of.try_emplace(point_key(v.to), group_of.size());
                                  }
                                  change.vertices.push_back(std::move(v));
                              });
            change.what = outcome.removed    ? line_change::kind::removed
                          : outcome.triangle ? line_change::kind::triangle
                                             : line_change::kind::moved;
            if (outcome.removed || outcome.triangle || !change.vertices.empty()) {
                const auto first = originals_.begin() + static_cast<std::ptrdiff_t>(s.first);
                change.input.assign(first, first + s.count);
                record.lines.push_back(std::move(change));
            }
        }
        if (!group_of.empty()) collect_groups(group_of);
    }

private:
    struct state {
        line_type type = line_type::none;
        std::size_t first = 0;  // its vertices as read: originals_[first, first + count)
        int count = 0;
        vertex_trace trace;
        std::array<std::size_t, 4> snapped{vertex_set::no_representative, vertex_set::no_representative,
                                           vertex_set::no_representative, vertex_set::no_representative};
        std::string reason;
    };

    std::string pair_text(const char* what, const state& s, int a, int b) const {
        int x = s.trace.map[a] + 1, y = s.trace.map[b] + 1;
        if (x > y) std::swap(x, y);
        return std::string(what) + " " + std::to_string(x) + " and " + std::to_string(y) + " met";
    }

    // Why element (holding s's mapped vertices) collapsed, found in the order its collapse test
    // looks at the pairs.
    std::string collapse_reason(const state& s, const ldraw_line& element) const {
        const std::span<const point> p = element.vertices();
        switch (element.type_code()) {
            case line_type::edge: return "the two ends of the edge met";
            case line_type::triangle:
                for (const auto& [a, b] : {std::pair{0, 1}, {1, 2}, {0, 2}}) {
                    if (close(p, a, b)) return pair_text("corners", s, a, b);
                }
                return {};
            case line_type::conditional:
                for (int a = 0; a < 4; ++a) {
                    for (int b = a + 1; b < 4; ++b) {
                        if (close(p, a, b)) return pair_text("points", s, a, b);
                    }
                }
                return {};
            case line_type::quad:
                for (int side = 0; side < 4; ++side) {
                    if (close(p, side, (side + 1) % 4)) return pair_text("corners", s, side, (side + 1) % 4);
                }
                return close(p, 0, 2) ? pair_text("opposite corners", s, 0, 2) : pair_text("opposite corners", s, 1, 3);
            default: return {};
        }
    }

    void collapse(state& s, const ldraw_line& element, const ldraw_line& replacement) {
        const std::string reason = collapse_reason(s, element);
        s.trace.follow(element, replacement);
        s.reason = s.reason.empty() ? reason : s.reason + ", then " + reason;
    }

    // Every vertex of a written line that ends on a merge target belongs to that target's group.
    void collect_groups(const std::unordered_map<point_key, std::size_t, point_key_hash>& group_of) {
        std::vector<merge_group>& groups = recording_.record.groups;
        const std::size_t first = groups.size();
        groups.resize(first + group_of.size());
        std::vector<std::vector<point_key>> seen(group_of.size());
        for (std::size_t i = begin_; i < end_; ++i) {
            const state& s = states_[i - begin_];
            const std::span<const point> final_points = elements_[i]->vertices();
            for (std::size_t k = 0; k < final_points.size(); ++k) {
                const auto found = group_of.find(point_key(final_points[k]));
                if (found == group_of.end()) continue;
                merge_group& group = groups[first + found->second];
                group.to = final_points[k];
                const point& from = originals_[s.first + static_cast<std::size_t>(s.trace.map[k])];
                auto& known = seen[found->second];
                if (std::find(known.begin(), known.end(), point_key(from)) != known.end()) continue;
                known.push_back(point_key(from));
                group.from.push_back(from);
            }
        }
    }

    std::vector<std::unique_ptr<ldraw_line>>& elements_;
    std::size_t begin_, end_;
    const unify_recording& recording_;
    std::vector<state> states_;
    std::vector<point> originals_;
    std::vector<std::size_t> log_;
};

}  // namespace

void unify_vertices(std::vector<std::unique_ptr<ldraw_line>>& elements, std::size_t begin, std::size_t end,
                    vertex_set* subfile_targets, const unify_thresholds& thresholds, vertex_search search,
                    const unify_recording* recording) {
    assert(begin <= end && end <= elements.size());
    // Pass 2 without snap targets would move nothing, and the collapse test it repeats gives false
    // for every element pass 1 left: pass 1 asked it already and, when that gave a replacement,
    // asked the replacement too (a quad's triangle that collapses becomes a removed line, which
    // never collapses). So it is skipped.
    const bool second_pass = subfile_targets && subfile_targets->size() != 0;
    vertex_set main_set(thresholds, search);
    for (std::size_t i = begin; i < end; ++i) elements[i]->collect_vertices(main_set, false);
    if (!recording) {
        for (std::size_t i = begin; i < end; ++i) snap_and_simplify(elements[i], main_set);
        if (!second_pass) return;
        for (std::size_t i = begin; i < end; ++i) snap_and_simplify(elements[i], *subfile_targets);
        return;
    }
    if (!recording->record.detailed()) {
        count_unification(elements, begin, end, main_set, second_pass ? subfile_targets : nullptr,
                          recording->record.totals);
        return;
    }
    recording_unification unification(elements, begin, end, *recording);
    unification.pass(main_set, false);
    if (second_pass) unification.pass(*subfile_targets, true);
    unification.finish();
}

change_totals& change_totals::operator+=(const change_totals& other) {
    lines_removed += other.lines_removed;
    quads_made_triangles += other.quads_made_triangles;
    vertices_moved += other.vertices_moved;
    if (!(other.largest_distance <= largest_distance)) largest_distance = other.largest_distance;
    return *this;
}

}  // namespace weldrix
