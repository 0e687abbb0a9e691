#include "document/unify_vertices.hpp"

#include <algorithm>
#include <array>
#include <cassert>
#include <cstdint>
#include <cstring>
#include <new>
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
// noted, and the reason for every collapse worked out from the points that collapsed. Between the
// passes it keeps little per element (its place among the points as read, and a trace only when
// it collapses): a part of a million lines must not cost several times its own size to report.
// The points as read become the record's own table, which the changed lines and merge groups refer
// to; when most of them are of lines that did not change, only those referred to are kept.
class recording_unification {
public:
    recording_unification(std::vector<std::unique_ptr<ldraw_line>>& elements, std::size_t begin, std::size_t end,
                          const unify_recording& recording)
        : elements_(elements), begin_(begin), end_(end), recording_(recording), states_(end - begin) {
        std::size_t points = 0;
        for (std::size_t i = begin; i < end; ++i) points += elements[i]->vertices().size();
        originals_.reserve(points);
        for (std::size_t i = begin; i < end; ++i) {
            state& s = states_[i - begin];
            s.type = elements[i]->type_code();
            // Points are referred to by 32-bit indices (4 billion points would take 96 GB).
            if (originals_.size() > UINT32_MAX - 4) throw std::bad_alloc();
            s.first = static_cast<std::uint32_t>(originals_.size());
            for (const point& p : elements[i]->vertices()) originals_.push_back(p);
            s.count = static_cast<std::uint8_t>(originals_.size() - s.first);
        }
    }

    void pass(vertex_set& set, bool onto_subfiles) {
        if (onto_subfiles && snapped_.empty()) snapped_.assign(states_.size(), {none, none, none, none});
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
                const std::array<int, 4>& map = trace_of(s).map;
                for (std::size_t k = 0; k < log_.size(); ++k) {
                    if (log_[k] != vertex_set::no_representative)
                        snapped_[i - begin_][map[k]] = static_cast<std::uint32_t>(log_[k]);
                }
            }
            simplify(element, [&](const ldraw_line& from, const ldraw_line& to) { collapse(s, from, to); });
        }
    }

    void finish() {
        change_record& record = recording_.record;
        const std::size_t base = adopt_originals(record);
        const std::size_t first_line = record.lines.size(), first_group = record.groups.size();
        reserve_for_changes(record, base);
        std::unordered_map<point_key, std::uint32_t, point_key_hash> group_of;  // merge target -> group
        for (std::size_t i = begin_; i < end_; ++i) {
            const state& s = states_[i - begin_];
            std::array<vertex_change, 4> moved;
            std::size_t count = 0;
            const line_outcome outcome =
                count_changes(record.totals, s.type, *elements_[i], trace_of(s), record.points.data() + base + s.first,
                              [&](int index, const point&, const point& to, double) {
                                  vertex_change v = moved_vertex(i, index);
                                  if (elements_[i]->type_code() != line_type::removed && !v.snapped) {
                                      const auto [at, added] = group_of.try_emplace(
                                          point_key(to), static_cast<std::uint32_t>(record.groups.size()));
                                      if (added) record.groups.push_back({record.add_target(to), 0, 0});
                                      v.to = record.groups[at->second].to;
                                  } else {
                                      v.to = record.add_target(to);
                                  }
                                  moved[count++] = v;
                              });
            if (!outcome.removed && !outcome.triangle && count == 0) continue;
            line_change change;
            change.position = i;
            change.type = s.type;
            change.what = outcome.removed    ? line_change::kind::removed
                          : outcome.triangle ? line_change::kind::triangle
                                             : line_change::kind::moved;
            change.first_point = static_cast<std::uint32_t>(base + s.first);
            change.point_count = s.count;
            change.first_vertex = static_cast<std::uint32_t>(record.moved.size());
            change.vertex_count = static_cast<std::uint8_t>(count);
            if (s.extra != none && !extras_[s.extra].reason.empty())
                change.reason = record.reason_index(extras_[s.extra].reason);
            record.moved.insert(record.moved.end(), moved.begin(), moved.begin() + static_cast<std::ptrdiff_t>(count));
            record.lines.push_back(change);
        }
        if (!group_of.empty()) collect_groups(group_of, base, first_group);
        group_of = {};
        states_ = {};
        extras_ = {};
        snapped_ = {};
        record.targets.shrink_to_fit();  // it grew as targets were met
        compact_points(record, base, first_line, first_group);
    }

private:
    static constexpr std::uint32_t none = UINT32_MAX;

    struct state {
        std::uint32_t first = 0;     // its vertices as read: originals_[first, first + count)
        std::uint32_t extra = none;  // extras_[extra] once it collapsed
        line_type type = line_type::none;
        std::uint8_t count = 0;
    };
    // What only an element that collapsed needs.
    struct collapsed {
        vertex_trace trace;
        std::string reason;
    };

    const vertex_trace& trace_of(const state& s) const {
        static const vertex_trace unchanged;
        return s.extra == none ? unchanged : extras_[s.extra].trace;
    }

    // A moved vertex but for where it went.
    vertex_change moved_vertex(std::size_t i, int index) const {
        vertex_change v;
        v.index = static_cast<std::uint8_t>(index);
        const std::uint32_t target = snapped_.empty() ? none : snapped_[i - begin_][index];
        v.snapped = target != none;
        const std::vector<std::uint32_t>* origins = recording_.target_origins;
        if (v.snapped && origins && target < origins->size()) v.subfile = (*origins)[target];
        return v;
    }

    // The vertices of element i as finish compares them: as written, or for a removed line where
    // they were when it collapsed; map[k] is the place of vertex k among the points as read.
    std::pair<std::span<const point>, const std::array<int, 4>*> final_vertices(std::size_t i) const {
        const vertex_trace& trace = trace_of(states_[i - begin_]);
        if (elements_[i]->type_code() != line_type::removed) return {elements_[i]->vertices(), &trace.map};
        return {std::span<const point>(trace.at_collapse.data(), trace.collapse_count), &trace.collapse_map};
    }

    // Room for the lines and vertices finish records, counted from above (a vertex whose bits
    // changed may still be written as it was), so that the tables need not grow: a growing table
    // holds its old and its new copy at once.
    void reserve_for_changes(change_record& record, std::size_t base) const {
        std::size_t lines = 0, vertices = 0;
        for (std::size_t i = begin_; i < end_; ++i) {
            const state& s = states_[i - begin_];
            const auto [final_points, map] = final_vertices(i);
            std::size_t moved = 0;
            for (std::size_t k = 0; k < final_points.size(); ++k) {
                moved +=
                    !same_bits(record.points[base + s.first + static_cast<std::size_t>((*map)[k])], final_points[k]);
            }
            vertices += moved;
            lines += moved > 0 || elements_[i]->type_code() != s.type;
        }
        record.lines.reserve(record.lines.size() + lines);
        record.moved.reserve(record.moved.size() + vertices);
    }

    std::string pair_text(const char* what, const state& s, int a, int b) const {
        const std::array<int, 4>& map = trace_of(s).map;
        int x = map[a] + 1, y = map[b] + 1;
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
        if (s.extra == none) {
            extras_.emplace_back();
            s.extra = static_cast<std::uint32_t>(extras_.size() - 1);
        }
        collapsed& c = extras_[s.extra];
        c.trace.follow(element, replacement);
        c.reason = c.reason.empty() ? reason : c.reason + ", then " + reason;
    }

    // The points as read become the record's (after those of earlier units); returns where they
    // start. Groups refer to points by a 32-bit index.
    std::size_t adopt_originals(change_record& record) {
        const std::size_t base = record.points.size();
        if (originals_.size() > UINT32_MAX - base) throw std::bad_alloc();  // see the constructor
        if (base == 0) {
            record.points = std::move(originals_);
        } else {
            record.points.insert(record.points.end(), originals_.begin(), originals_.end());
        }
        originals_ = std::vector<point>();
        return base;
    }

    // Every vertex of a written line that ends on a merge target belongs to that target's group,
    // with the point it was read at, once per distinct point. The groups' points are counted
    // first, so that they are laid out one group after another.
    void collect_groups(const std::unordered_map<point_key, std::uint32_t, point_key_hash>& group_of, std::size_t base,
                        std::size_t first) {
        change_record& record = recording_.record;
        const auto each_vertex_on_a_target = [&](const auto& visit) {
            for (std::size_t i = begin_; i < end_; ++i) {
                const state& s = states_[i - begin_];
                const std::span<const point> final_points = elements_[i]->vertices();
                for (std::size_t k = 0; k < final_points.size(); ++k) {
                    const auto found = group_of.find(point_key(final_points[k]));
                    if (found == group_of.end()) continue;
                    visit(record.groups[found->second], base + s.first + static_cast<std::size_t>(trace_of(s).map[k]));
                }
            }
        };
        each_vertex_on_a_target([](merge_group& group, std::size_t) { ++group.count; });
        std::size_t at = record.group_points.size();
        for (std::size_t g = first; g < record.groups.size(); ++g) {
            record.groups[g].first = static_cast<std::uint32_t>(at);
            at += record.groups[g].count;
            record.groups[g].count = 0;
        }
        if (at > UINT32_MAX) throw std::bad_alloc();  // see change_record
        record.group_points.resize(at);
        each_vertex_on_a_target([&](merge_group& group, std::size_t from) {
            const auto known = record.group_points.begin() + group.first;
            const auto same = [&](std::uint32_t k) { return same_bits(record.points[k], record.points[from]); };
            if (std::any_of(known, known + group.count, same)) return;
            record.group_points[group.first + group.count++] = static_cast<std::uint32_t>(from);
        });
        // A point met twice left room at the end of its group.
        at = record.groups[first].first;
        for (std::size_t g = first; g < record.groups.size(); ++g) {
            merge_group& group = record.groups[g];
            std::copy_n(record.group_points.begin() + group.first, group.count,
                        record.group_points.begin() + static_cast<std::ptrdiff_t>(at));
            group.first = static_cast<std::uint32_t>(at);
            at += group.count;
        }
        record.group_points.resize(at);
    }

    // Keeps of the points added from base only those the unit's lines and groups refer to, unless
    // they are most of them.
    static void compact_points(change_record& record, std::size_t base, std::size_t first_line,
                               std::size_t first_group) {
        const std::size_t added = record.points.size() - base;
        std::size_t used = 0;
        for (std::size_t l = first_line; l < record.lines.size(); ++l) used += record.lines[l].point_count;
        for (std::size_t g = first_group; g < record.groups.size(); ++g) used += record.groups[g].count;
        if (added == 0 || used * 2 > added) return;
        std::vector<point> kept;
        kept.reserve(used);
        std::vector<std::uint32_t> moved_to(added, none);
        const auto keep = [&](std::size_t at) {
            if (moved_to[at - base] == none) {
                moved_to[at - base] = static_cast<std::uint32_t>(base + kept.size());
                kept.push_back(record.points[at]);
            }
            return moved_to[at - base];
        };
        for (std::size_t l = first_line; l < record.lines.size(); ++l) {
            line_change& change = record.lines[l];
            const std::size_t at = change.first_point;
            change.first_point = static_cast<std::uint32_t>(base + kept.size());  // no other line has its points
            for (std::size_t k = 0; k < change.point_count; ++k) keep(at + k);
        }
        for (std::size_t g = first_group; g < record.groups.size(); ++g) {
            const merge_group& group = record.groups[g];
            for (std::size_t k = group.first; k < group.first + group.count; ++k)
                record.group_points[k] = keep(record.group_points[k]);
        }
        record.points.resize(base);
        record.points.insert(record.points.end(), kept.begin(), kept.end());
        record.points.shrink_to_fit();
    }

    std::vector<std::unique_ptr<ldraw_line>>& elements_;
    std::size_t begin_, end_;
    const unify_recording& recording_;
    std::vector<state> states_;
    std::vector<collapsed> extras_;
    std::vector<std::array<std::uint32_t, 4>> snapped_;  // per element, when snapping onto subfiles
    std::vector<point> originals_;
    std::vector<std::size_t> log_;
};

// How many vertices elements[begin, end) add to a set.
std::size_t vertex_count(const std::vector<std::unique_ptr<ldraw_line>>& elements, std::size_t begin, std::size_t end) {
    std::size_t n = 0;
    for (std::size_t i = begin; i < end; ++i) n += elements[i]->vertices().size();
    return n;
}

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
    if (recording && recording->record.detailed()) {
        recording_unification unification(elements, begin, end, *recording);
        {
            vertex_set main_set(thresholds, search);
            main_set.reserve(vertex_count(elements, begin, end));
            for (std::size_t i = begin; i < end; ++i) elements[i]->collect_vertices(main_set, false);
            unification.pass(main_set, false);
        }  // its representatives are given back before the record is made
        if (second_pass) unification.pass(*subfile_targets, true);
        unification.finish();
        return;
    }
    vertex_set main_set(thresholds, search);
    main_set.reserve(vertex_count(elements, begin, end));
    for (std::size_t i = begin; i < end; ++i) elements[i]->collect_vertices(main_set, false);
    if (!recording) {
        for (std::size_t i = begin; i < end; ++i) snap_and_simplify(elements[i], main_set);
        if (!second_pass) return;
        for (std::size_t i = begin; i < end; ++i) snap_and_simplify(elements[i], *subfile_targets);
        return;
    }
    count_unification(elements, begin, end, main_set, second_pass ? subfile_targets : nullptr,
                      recording->record.totals);
}

}  // namespace weldrix
