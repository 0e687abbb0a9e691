// The recording of unification for reports: what the passes did to every line, kept in a
// change_record (document/change_record.hpp). The passes themselves are written once, in
// document/unify_vertices.cpp; this is what they tell as they go, and what is made of it after.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "document/change_record.hpp"
#include "document/vertex_trace.hpp"
#include "elements/ldraw_line.hpp"

namespace weldrix {

// Between the passes it keeps little per element (its place among the points as read, and a trace
// only when it collapses): a part of a million lines must not cost several times its own size to
// report. The points as read become the record's own table, which the changed lines and merge
// groups refer to; when most of them are of lines that did not change, only those referred to are
// kept.
class change_recorder {
public:
    // target_origins: per subfile representative (in creation order), the file that holds it, as
    // an index into record.subfiles; may be null, then snapped vertices name no file.
    change_recorder(const std::vector<std::unique_ptr<ldraw_line>>& elements, std::size_t begin, std::size_t end,
                    change_record& record, const std::vector<std::uint32_t>* target_origins);

    // What the passes tell (see unify_vertices.cpp): element i before its passes, the snap log
    // wanted for a pass (onto the subfiles: the representative each vertex went to), the log
    // filled, each collapse (element, before it is replaced), element i after its passes.
    void start(std::size_t, const ldraw_line&) {}
    std::vector<std::size_t>* snap_log(bool onto_subfiles);
    void snapped(std::size_t i, const std::vector<std::size_t>& log);
    void collapsed(std::size_t i, const ldraw_line& element, const collapse& c);
    void done(std::size_t, const ldraw_line&) {}

    // After the passes: every changed line, with the subfile vertex each snap went to and the
    // reason for every collapse, the merge groups and the totals go into the record.
    void finish();

private:
    static constexpr std::uint32_t none = UINT32_MAX;
    // Merge targets by their bits, to their groups.
    struct point_key {
        std::uint64_t bits[3];
        explicit point_key(const point& p);
        bool operator==(const point_key& o) const;
    };
    struct point_key_hash {
        std::size_t operator()(const point_key& k) const;
    };
    using group_index = std::unordered_map<point_key, std::uint32_t, point_key_hash>;

    struct state {
        std::uint32_t first = 0;     // its vertices as read: originals_[first, first + count)
        std::uint32_t extra = none;  // extras_[extra] once it collapsed
        line_type type = line_type::none;
        std::uint8_t count = 0;
    };
    // What only an element that collapsed needs.
    struct collapsed_line {
        vertex_trace trace;
        std::string reason;
    };

    const vertex_trace& trace_of(const state& s) const;
    vertex_change moved_vertex(std::size_t i, int index) const;
    void reserve_for_changes(std::size_t base) const;
    std::string reason(const state& s, const collapse& c) const;
    std::size_t adopt_originals();
    void collect_groups(const group_index& group_of, std::size_t base, std::size_t first);
    void compact_points(std::size_t base, std::size_t first_line, std::size_t first_group);

    const std::vector<std::unique_ptr<ldraw_line>>& elements_;
    std::size_t begin_, end_;
    change_record& record_;
    const std::vector<std::uint32_t>* target_origins_;
    std::vector<state> states_;
    std::vector<collapsed_line> extras_;
    std::vector<std::array<std::uint32_t, 4>> snapped_;  // per element, when snapping onto subfiles
    std::vector<point> originals_;
    std::vector<std::size_t> log_;
};

}  // namespace weldrix
