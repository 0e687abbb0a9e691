#include "document/unify_vertices.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <unordered_map>

#include "elements/vertex_line.hpp"

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

bool same_bits(const point& a, const point& b) { return std::memcmp(&a, &b, sizeof(point)) == 0; }

// A vertex whose value changed below the seven digits a coordinate is written with (an average of
// equal values can differ in its last bit) is written as it was: it did not move.
bool same_text(const point& a, const point& b) {
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

// Unification that also records what it changed: the same steps in the same order, with each
// element's vertices compared before and after, the subfile vertex each snap went to noted, and
// the reason for every collapse worked out from the points that collapsed.
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
            for (int k = 0; k < 4; ++k) s.map[k] = k;
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
                    if (log_[k] != vertex_set::no_representative) s.snapped[s.map[k]] = log_[k];
                }
            }
            std::unique_ptr<ldraw_line> replacement;
            if (!element->simplify(replacement)) continue;
            collapse(s, *element, *replacement);
            element = std::move(replacement);
            std::unique_ptr<ldraw_line> second;
            if (element->simplify(second)) {
                collapse(s, *element, *second);
                element = std::move(second);
            }
        }
    }

    void finish() {
        change_record& record = recording_.record;
        std::unordered_map<point_key, std::size_t, point_key_hash> group_of;  // merge target -> group
        for (std::size_t i = begin_; i < end_; ++i) {
            const state& s = states_[i - begin_];
            const bool removed = elements_[i]->type_code() == line_type::removed;
            const bool triangle =
                !removed && s.type == line_type::quad && elements_[i]->type_code() == line_type::triangle;
            line_change change;
            change.position = i;
            change.type = s.type;
            change.what = removed    ? line_change::kind::removed
                          : triangle ? line_change::kind::triangle
                                     : line_change::kind::moved;
            change.reason = s.reason;
            const std::span<const point> final_points =
                removed ? std::span<const point>(s.at_collapse.data(), s.collapse_count) : elements_[i]->vertices();
            const std::array<int, 4>& map = removed ? s.collapse_map : s.map;
            for (std::size_t k = 0; k < final_points.size(); ++k) {
                const int index = map[k];
                const point& from = originals_[s.first + static_cast<std::size_t>(index)];
                if (same_bits(from, final_points[k]) || same_text(from, final_points[k])) continue;
                vertex_change v;
                v.index = index;
                v.from = from;
                v.to = final_points[k];
                v.distance = from.manhattan_distance(v.to);
                v.snapped = s.snapped[index] != vertex_set::no_representative;
                if (v.snapped && recording_.target_origins && s.snapped[index] < recording_.target_origins->size()) {
                    v.subfile = (*recording_.target_origins)[s.snapped[index]];
                }
                if (!(v.distance <= record.totals.largest_distance)) record.totals.largest_distance = v.distance;
                if (!removed) ++record.totals.vertices_moved;
                if (record.detailed() && !removed && !v.snapped) {
                    group_of.try_emplace(point_key(v.to), group_of.size());
                }
                change.vertices.push_back(std::move(v));
            }
            if (removed) ++record.totals.lines_removed;
            if (triangle) ++record.totals.quads_made_triangles;
            if (record.detailed() && (removed || triangle || !change.vertices.empty())) {
                const auto first = originals_.begin() + static_cast<std::ptrdiff_t>(s.first);
                change.input.assign(first, first + s.count);
                record.lines.push_back(std::move(change));
            }
        }
        if (record.detailed() && !group_of.empty()) collect_groups(group_of);
    }

private:
    struct state {
        line_type type = line_type::none;
        std::size_t first = 0;  // its vertices as read: originals_[first, first + count)
        int count = 0;
        std::array<int, 4> map{};  // the element's vertex k is vertex map[k] of the line as read
        std::array<std::size_t, 4> snapped{vertex_set::no_representative, vertex_set::no_representative,
                                           vertex_set::no_representative, vertex_set::no_representative};
        std::string reason;
        std::array<point, 4> at_collapse{};  // the points of a removed line when it collapsed
        std::array<int, 4> collapse_map{};
        std::size_t collapse_count = 0;
    };

    static bool close(std::span<const point> p, int a, int b) { return closer_than(p[a], p[b], collapse_distance); }

    std::string pair_text(const char* what, const state& s, int a, int b) const {
        int x = s.map[a] + 1, y = s.map[b] + 1;
        if (x > y) std::swap(x, y);
        return std::string(what) + " " + std::to_string(x) + " and " + std::to_string(y) + " met";
    }

    // Records why element (holding s's mapped vertices) collapsed into replacement, in the order
    // its collapse test looks at the pairs.
    void collapse(state& s, const ldraw_line& element, const ldraw_line& replacement) {
        const std::span<const point> p = element.vertices();
        std::string reason;
        switch (element.type_code()) {
            case line_type::edge: reason = "the two ends of the edge met"; break;
            case line_type::triangle:
                for (const auto& [a, b] : {std::pair{0, 1}, {1, 2}, {0, 2}}) {
                    if (close(p, a, b)) {
                        reason = pair_text("corners", s, a, b);
                        break;
                    }
                }
                break;
            case line_type::conditional:
                for (int a = 0; a < 4 && reason.empty(); ++a) {
                    for (int b = a + 1; b < 4 && reason.empty(); ++b) {
                        if (close(p, a, b)) reason = pair_text("points", s, a, b);
                    }
                }
                break;
            case line_type::quad:
                for (int side = 0; side < 4 && reason.empty(); ++side) {
                    if (close(p, side, (side + 1) % 4)) {
                        reason = pair_text("corners", s, side, (side + 1) % 4);
                        // The triangle keeps the other three corners in cyclic order.
                        std::array<int, 4> map{};
                        int n = 0;
                        for (int k = 0; k < 4; ++k) {
                            if (k != side) map[n++] = s.map[k];
                        }
                        s.map = map;
                    }
                }
                if (reason.empty()) {
                    reason = close(p, 0, 2) ? pair_text("opposite corners", s, 0, 2)
                                            : pair_text("opposite corners", s, 1, 3);
                }
                break;
            default: break;
        }
        if (replacement.type_code() == line_type::removed) {
            s.collapse_count = p.size();
            for (std::size_t k = 0; k < p.size(); ++k) s.at_collapse[k] = p[k];
            s.collapse_map = s.map;
        }
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
                const point& from = originals_[s.first + static_cast<std::size_t>(s.map[k])];
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
