#include "document/change_recorder.hpp"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "geometry/vertex_set.hpp"

namespace weldrix {

change_recorder::point_key::point_key(const point& p) { std::memcpy(bits, &p, sizeof bits); }

bool change_recorder::point_key::operator==(const point_key& o) const {
    return std::memcmp(bits, o.bits, sizeof bits) == 0;
}

std::size_t change_recorder::point_key_hash::operator()(const point_key& k) const {
    return static_cast<std::size_t>((k.bits[0] * 0x9e3779b97f4a7c15ull) ^ (k.bits[1] * 0xc2b2ae3d27d4eb4full) ^
                                    (k.bits[2] * 0x165667b19e3779f9ull));
}

change_recorder::change_recorder(const std::vector<std::unique_ptr<ldraw_line>>& elements, std::size_t begin,
                                 std::size_t end, change_record& record,
                                 const std::vector<std::uint32_t>* target_origins)
    : elements_(elements),
      begin_(begin),
      end_(end),
      record_(record),
      target_origins_(target_origins),
      states_(end - begin) {
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

std::vector<std::size_t>* change_recorder::snap_log(bool onto_subfiles) {
    if (!onto_subfiles) return nullptr;
    if (snapped_.empty()) snapped_.assign(states_.size(), {none, none, none, none});
    return &log_;
}

void change_recorder::snapped(std::size_t i, const std::vector<std::size_t>& log) {
    const std::array<int, 4>& map = trace_of(states_[i - begin_]).map;
    for (std::size_t k = 0; k < log.size(); ++k) {
        if (log[k] != vertex_set::no_representative) snapped_[i - begin_][map[k]] = static_cast<std::uint32_t>(log[k]);
    }
}

void change_recorder::collapsed(std::size_t i, const ldraw_line& element, const collapse& c) {
    state& s = states_[i - begin_];
    const std::string why = reason(s, c);
    if (s.extra == none) {
        extras_.emplace_back();
        s.extra = static_cast<std::uint32_t>(extras_.size() - 1);
    }
    collapsed_line& line = extras_[s.extra];
    line.trace.follow(element, c);
    line.reason = line.reason.empty() ? why : line.reason + ", then " + why;
}

// Why the element collapsed, in the words of the report, its vertices numbered as read.
std::string change_recorder::reason(const state& s, const collapse& c) const {
    if (c.pair == collapse::pair_kind::ends) return "the two ends of the edge met";
    const char* named = c.pair == collapse::pair_kind::points             ? "points"
                        : c.pair == collapse::pair_kind::opposite_corners ? "opposite corners"
                                                                          : "corners";
    const std::array<int, 4>& map = trace_of(s).map;
    int x = map[c.met[0]] + 1, y = map[c.met[1]] + 1;
    if (x > y) std::swap(x, y);
    return std::string(named) + " " + std::to_string(x) + " and " + std::to_string(y) + " met";
}

void change_recorder::finish() {
    const std::size_t base = adopt_originals();
    const std::size_t first_line = record_.lines.size(), first_group = record_.groups.size();
    reserve_for_changes(base);
    group_index group_of;  // merge target -> group
    for (std::size_t i = begin_; i < end_; ++i) {
        const state& s = states_[i - begin_];
        const ldraw_line& element = *elements_[i];
        std::array<vertex_change, 4> moved;
        std::size_t count = 0;
        const line_outcome outcome =
            count_changes(record_.totals, s.type, element, trace_of(s), record_.points.data() + base + s.first,
                          [&](int index, const point& to) {
                              vertex_change v = moved_vertex(i, index);
                              if (element.type_code() != line_type::removed && !v.snapped) {
                                  const auto [at, added] = group_of.try_emplace(
                                      point_key(to), static_cast<std::uint32_t>(record_.groups.size()));
                                  if (added) record_.groups.push_back({record_.add_target(to), 0, 0});
                                  v.to = record_.groups[at->second].to;
                              } else {
                                  v.to = record_.add_target(to);
                              }
                              moved[count++] = v;
                          });
        if (!outcome.removed && !outcome.triangle && count == 0) continue;
        line_change change;
        change.position = i;
        change.type = s.type;
        change.effect = outcome.removed    ? line_change::kind::removed
                        : outcome.triangle ? line_change::kind::triangle
                                           : line_change::kind::moved;
        change.first_point = static_cast<std::uint32_t>(base + s.first);
        change.point_count = s.count;
        change.first_vertex = static_cast<std::uint32_t>(record_.moved.size());
        change.vertex_count = static_cast<std::uint8_t>(count);
        if (s.extra != none && !extras_[s.extra].reason.empty())
            change.reason = record_.reason_index(extras_[s.extra].reason);
        record_.moved.insert(record_.moved.end(), moved.begin(), moved.begin() + static_cast<std::ptrdiff_t>(count));
        record_.lines.push_back(change);
    }
    if (!group_of.empty()) collect_groups(group_of, base, first_group);
    group_of = {};
    states_ = {};
    extras_ = {};
    snapped_ = {};
    record_.targets.shrink_to_fit();  // it grew as targets were met
    compact_points(base, first_line, first_group);
}

const vertex_trace& change_recorder::trace_of(const state& s) const {
    static const vertex_trace unchanged;
    return s.extra == none ? unchanged : extras_[s.extra].trace;
}

// A moved vertex but for where it went.
vertex_change change_recorder::moved_vertex(std::size_t i, int index) const {
    vertex_change v;
    v.index = static_cast<std::uint8_t>(index);
    const std::uint32_t target = snapped_.empty() ? none : snapped_[i - begin_][index];
    v.snapped = target != none;
    if (v.snapped && target_origins_ && target < target_origins_->size()) v.subfile = (*target_origins_)[target];
    return v;
}

// Room for the lines and vertices finish records, counted from above (a vertex whose bits changed
// may still be written as it was), so that the tables need not grow: a growing table holds its old
// and its new copy at once.
void change_recorder::reserve_for_changes(std::size_t base) const {
    std::size_t lines = 0, vertices = 0;
    for (std::size_t i = begin_; i < end_; ++i) {
        const state& s = states_[i - begin_];
        const vertex_trace& trace = trace_of(s);
        const std::span<const point> final_points = trace.final_points(*elements_[i]);
        const std::array<int, 4>& map = trace.map_of(*elements_[i]);
        std::size_t moved = 0;
        for (std::size_t k = 0; k < final_points.size(); ++k) {
            moved += !same_bits(record_.points[base + s.first + static_cast<std::size_t>(map[k])], final_points[k]);
        }
        vertices += moved;
        lines += moved > 0 || elements_[i]->type_code() != s.type;
    }
    record_.lines.reserve(record_.lines.size() + lines);
    record_.moved.reserve(record_.moved.size() + vertices);
}

// The points as read become the record's (after those of earlier units); returns where they start.
// Groups refer to points by a 32-bit index.
std::size_t change_recorder::adopt_originals() {
    const std::size_t base = record_.points.size();
    if (originals_.size() > UINT32_MAX - base) throw std::bad_alloc();  // see the constructor
    if (base == 0) {
        record_.points = std::move(originals_);
    } else {
        record_.points.insert(record_.points.end(), originals_.begin(), originals_.end());
    }
    originals_ = std::vector<point>();
    return base;
}

// Every vertex of a written line that ends on a merge target belongs to that target's group, with
// the point it was read at, once per distinct point. The groups' points are counted first, so that
// they are laid out one group after another.
void change_recorder::collect_groups(const group_index& group_of, std::size_t base, std::size_t first) {
    change_record& record = record_;
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

// Keeps of the points added from base only those the unit's lines and groups refer to, unless they
// are most of them.
void change_recorder::compact_points(std::size_t base, std::size_t first_line, std::size_t first_group) {
    change_record& record = record_;
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

}  // namespace weldrix
