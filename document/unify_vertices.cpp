#include "document/unify_vertices.hpp"

#include <algorithm>
#include <array>
#include <cassert>
#include <optional>
#include <type_traits>

#include "document/change_recorder.hpp"
#include "document/geometry_check.hpp"
#include "document/side_by_side.hpp"
#include "document/vertex_trace.hpp"
#include "geometry/lone_points.hpp"

namespace weldrix {
namespace {

// The two passes are written once, here; what is recorded of them is a policy, told every step:
//   start(i, element)              element i, as read, before its passes
//   snap_log(onto_subfiles)        a log for the snaps of a pass (the representative each vertex
//                                  went to, vertex_set::log_snaps), or null for none
//   snapped(i, log)                the log filled by element i's snaps
//   collapsed(i, element, c)       element i collapsed as c says (element is what it was then)
//   done(i, element)               element i after its passes, as it is written
// A policy only watches: what becomes of an element is decided by the passes alone, so a record
// cannot tell of other changes than those made.

// Nothing recorded: the cleaning alone.
struct no_record {
    void start(std::size_t, const ldraw_line&) {}
    std::vector<std::size_t>* snap_log(bool) { return nullptr; }
    void snapped(std::size_t, const std::vector<std::size_t>&) {}
    void collapsed(std::size_t, const ldraw_line&, const collapse&) {}
    void done(std::size_t, const ldraw_line&) {}
};

// The totals alone (batch runs, checks): an element's points as read are kept only until its
// changes are counted, after its two passes.
class change_counter {
public:
    explicit change_counter(change_totals& totals) : totals_(totals) {}

    void start(std::size_t, const ldraw_line& element) {
        as_read_ = element.type_code();
        const std::span<const point> read = element.vertices();
        std::copy(read.begin(), read.end(), originals_.begin());
        trace_ = {};
    }
    std::vector<std::size_t>* snap_log(bool) { return nullptr; }
    void snapped(std::size_t, const std::vector<std::size_t>&) {}
    void collapsed(std::size_t, const ldraw_line& element, const collapse& c) { trace_.follow(element, c); }
    void done(std::size_t, const ldraw_line& element) {
        count_changes(totals_, as_read_, element, trace_, originals_.data(), [](int, const point&) {});
    }

private:
    change_totals& totals_;
    line_type as_read_ = line_type::none;
    std::array<point, 4> originals_{};
    vertex_trace trace_;
};

// How many vertices elements[begin, end) add to a set.
std::size_t vertex_count(const std::vector<std::unique_ptr<ldraw_line>>& elements, std::size_t begin, std::size_t end) {
    std::size_t n = 0;
    for (std::size_t i = begin; i < end; ++i) n += elements[i]->vertices().size();
    return n;
}

// Tests element for collapse and replaces it when it collapsed, then asks the replacement once
// more (a quad can become a triangle and then a removed line, which never collapses).
template <class Policy>
void collapse_element(std::unique_ptr<ldraw_line>& element, std::size_t i, Policy& policy) {
    for (int asked = 0; asked < 2; ++asked) {
        collapse c = element->simplify();
        if (!c) return;
        policy.collapsed(i, *element, c);
        element = std::move(c.replacement);
    }
}

// One pass over one element: its vertices snapped onto set with cache (unless none of them can
// move), then the collapse test.
template <class Policy>
void pass(std::unique_ptr<ldraw_line>& element, std::size_t i, const vertex_set& set, snap_cache& cache,
          bool onto_subfiles, Policy& policy, bool can_move = true) {
    if (!can_move) {
        collapse_element(element, i, policy);
        return;
    }
    std::vector<std::size_t>* log = policy.snap_log(onto_subfiles);
    if (log) {
        log->clear();
        cache.log = log;
    }
    element->snap_vertices(set, cache);
    if (log) {
        cache.log = nullptr;
        policy.snapped(i, *log);
    }
    collapse_element(element, i, policy);
}

// Pass 1 onto the file's own representatives, pass 2 onto the subfile targets (when there are
// any). Each element goes through pass 1 and then pass 2 before the next one does: snapping
// changes no representative, and each set still sees the snaps of the same vertices in the same
// order, so every element ends as two full passes one after the other would leave it.
// How many elements ahead of the one being unified the vertex sets are told of the queries to come
// (vertex_set::prefetch_buckets), and half of it for their chains: far enough for the loads to
// arrive in time, near enough for them to stay in the cache until they are used.
constexpr std::size_t prefetch_distance = 8;

// A set of fewer representatives stays in the processor's caches, where the hints are only work:
// most parts of a library are far smaller.
constexpr std::size_t prefetch_from = std::size_t{1} << 15;

// The hints pay where one thread works through a large set alone (a run with a report); where two
// build the sets of a cut's sides or unify a unit's halves side by side, they cost more than they
// spare, and are left out (doc/performance.md has the figures).

// The hints for elements[i + prefetch_distance] and elements[i + prefetch_distance / 2], when
// there are such elements before end and the set is large: for their vertices for which in_set
// holds (those of the set's side of a cut).
template <class InSet>
void prefetch(const std::vector<std::unique_ptr<ldraw_line>>& elements, std::size_t i, std::size_t end,
              const vertex_set& set, InSet&& in_set) {
    if (set.size() < prefetch_from) return;
    if (i + prefetch_distance < end) {
        for (const point& p : elements[i + prefetch_distance]->vertices()) {
            if (in_set(p)) set.prefetch_buckets(p);
        }
    }
    if (i + prefetch_distance / 2 < end) {
        for (const point& p : elements[i + prefetch_distance / 2]->vertices()) {
            if (in_set(p)) set.prefetch_chains(p);
        }
    }
}

void prefetch(const std::vector<std::unique_ptr<ldraw_line>>& elements, std::size_t i, std::size_t end,
              const vertex_set& set) {
    prefetch(elements, i, end, set, [](const point&) { return true; });
}

constexpr std::size_t lone_sample = 4096;  // lines

// Whether the lone vertices of a unit of count vertices are worth telling: not when the set is
// smaller than lone_from, the search is the plain reference, the thresholds are not served, or the
// policy reads the set's representatives (a report's merge groups and the representative of every
// snap).
template <class Policy>
bool tells_lone(std::size_t count, const clean_options& options) {
    return !std::is_same_v<Policy, change_recorder> && options.search == vertex_search::indexed &&
           count >= options.lone_from && lone_points_apply(options.thresholds.vertex_threshold);
}

// Whether a unit of count vertices is parted by a plane (separating_x), so that the set of each
// side is built on a thread of its own: not for a policy that reads the set's representatives (or
// logs its snaps), the plain reference, or fewer vertices than split_from.
template <class Policy>
bool seeks_cut(std::size_t count, const clean_options& options) {
    return !std::is_same_v<Policy, change_recorder> && options.search == vertex_search::indexed &&
           count >= options.split_from;
}

// Which of the vertices of the runs (one per element, in order), as they are added, are lone (at
// 4 i + k for vertex k of run i); empty when the set is to hold them all.
std::vector<std::uint8_t> lone_vertices(std::span<const std::span<const point>> runs, double vertex_threshold) {
    // A vertex not lone among the first lines is not lone among all of them: where the first lines
    // show fewer than half of their vertices lone, telling costs more than it spares (a mesh whose
    // shared corners are written with their own noise).
    const std::span<const std::span<const point>> first = runs.first(std::min(runs.size(), lone_sample));
    const std::vector<std::uint8_t> sample = lone_points(first, vertex_threshold);
    const auto sampled = static_cast<std::size_t>(std::count(sample.begin(), sample.end(), std::uint8_t{1}));
    std::size_t sample_vertices = 0;
    for (const std::span<const point>& run : first) sample_vertices += run.size();
    if (2 * sampled < sample_vertices) return {};
    return lone_points(runs, vertex_threshold);
}

template <class Policy>
void unify_with(std::vector<std::unique_ptr<ldraw_line>>& elements, std::size_t begin, std::size_t end,
                vertex_set* subfile_targets, const clean_options& options, Policy& policy, geometry_input* input) {
    vertex_set own(options.thresholds, options.search);  // of every vertex, or of those left of the cut
    vertex_set right(options.thresholds, options.search);
    const std::size_t count = vertex_count(elements, begin, end);
    // The lone vertices and the cut both read every vertex once and touch nothing: side by side.
    std::vector<std::uint8_t> lone;
    std::optional<double> cut;
    {
        const bool tell_lone = tells_lone<Policy>(count, options), seek_cut = seeks_cut<Policy>(count, options);
        std::vector<std::span<const point>> runs(tell_lone || seek_cut ? end - begin : 0);
        for (std::size_t i = 0; i < runs.size(); ++i) runs[i] = elements[begin + i]->vertices();
        const double threshold = options.thresholds.vertex_threshold;
        const auto find_lone = [&] {
            if (tell_lone) lone = lone_vertices(runs, threshold);
        };
        const auto find_cut = [&] {
            if (seek_cut) cut = separating_x(runs, threshold);
        };
        side_by_side(tell_lone && seek_cut, find_lone, find_cut);
    }
    const auto on_right = [&](const point& p) { return cut && p.x > *cut; };  // a NaN x is left
    const auto kept = [&](std::size_t i, std::size_t k) { return lone.empty() || !lone[4 * (i - begin) + k]; };
    // The vertices of one side (or all of them, without a cut) that are not lone, in order.
    const auto build = [&](vertex_set& set, bool right_side, bool hinted) {
        const auto in_set = [&](const point& p) { return on_right(p) == right_side; };
        std::size_t added = 0;
        for (std::size_t i = begin; i < end; ++i) {
            const std::span<const point> v = elements[i]->vertices();
            for (std::size_t k = 0; k < v.size(); ++k) added += kept(i, k) && in_set(v[k]) ? 1 : 0;
        }
        set.reserve(added);
        for (std::size_t i = begin; i < end; ++i) {
            if (hinted) prefetch(elements, i, end, set, in_set);
            const std::span<const point> v = elements[i]->vertices();
            for (std::size_t k = 0; k < v.size(); ++k) {
                if (kept(i, k) && in_set(v[k])) set.add(v[k], false);
            }
        }
        set.done_adding();  // pass 1 only snaps
    };
    if (cut) {
        side_by_side([&] { build(own, false, false); }, [&] { build(right, true, false); });
    } else {
        build(own, false, true);
    }
    // The passes of elements [first, last), with caches of their own for every set.
    const auto passes = [&](std::size_t first, std::size_t last, Policy& told, geometry_input* kept_input,
                            bool hinted) {
        snap_cache own_cache, right_cache, target_cache;
        const auto on_left = [&](const point& p) { return !on_right(p); };
        for (std::size_t i = first; i < last; ++i) {
            if (hinted) {
                prefetch(elements, i, last, own, on_left);
                if (cut) prefetch(elements, i, last, right, on_right);
                if (subfile_targets) prefetch(elements, i, last, *subfile_targets);
            }
            if (kept_input) kept_input->before(*elements[i]);
            told.start(i, *elements[i]);
            // A lone vertex snaps onto nothing in a set without it; an element of lone vertices
            // alone need not ask.
            const std::span<const point> v = elements[i]->vertices();
            bool can_move = false, left_side = !cut, right_side = false;
            for (std::size_t k = 0; k < v.size(); ++k) {
                can_move = can_move || kept(i, k);
                if (cut) (on_right(v[k]) ? right_side : left_side) = true;
            }
            if (!right_side) {
                pass(elements[i], i, own, own_cache, false, told, can_move);
            } else if (!left_side) {
                pass(elements[i], i, right, right_cache, false, told, can_move);
            } else {
                // Across the cut: each vertex snaps onto its own side's set, and onto nothing in
                // the other (separating_x); then the collapse test.
                if (can_move) {
                    elements[i]->snap_vertices(own, own_cache);
                    elements[i]->snap_vertices(right, right_cache);
                }
                collapse_element(elements[i], i, told);
            }
            if (subfile_targets) pass(elements[i], i, *subfile_targets, target_cache, true, told);
            told.done(i, *elements[i]);
            if (kept_input) kept_input->after(i, *elements[i]);
        }
    };
    // Snaps only read the sets, and an element's passes touch nothing but the element: where
    // nothing is recorded, a long unit's second half is unified on a thread of its own, beside
    // the first (a record is made in element order).
    if constexpr (std::is_same_v<Policy, no_record>) {
        if (end - begin >= options.snap_halves_from && end - begin >= 2) {
            const std::size_t split = begin + (end - begin) / 2;
            geometry_input later_input;
            no_record later_policy;
            side_by_side([&] { passes(begin, split, policy, input, false); },
                         [&] { passes(split, end, later_policy, input ? &later_input : nullptr, false); });
            if (input) input->append(std::move(later_input));
            return;
        }
    }
    passes(begin, end, policy, input, true);
}

}  // namespace

void unify_vertices(std::vector<std::unique_ptr<ldraw_line>>& elements, std::size_t begin, std::size_t end,
                    vertex_set* subfile_targets, const clean_options& options, const unify_recording* recording,
                    geometry_input* input) {
    assert(begin <= end && end <= elements.size());
    // Pass 2 without snap targets would move nothing, and the collapse test it repeats gives false
    // for every element pass 1 left: pass 1 asked it already and, when that gave a replacement,
    // asked the replacement too. So it is skipped.
    vertex_set* second = subfile_targets && subfile_targets->size() != 0 ? subfile_targets : nullptr;
    if (!recording) {
        no_record none;
        unify_with(elements, begin, end, second, options, none, input);
    } else if (!recording->record.detailed()) {
        change_counter counter(recording->record.totals);
        unify_with(elements, begin, end, second, options, counter, input);
    } else {
        change_recorder recorder(elements, begin, end, recording->record, recording->target_origins);
        unify_with(elements, begin, end, second, options, recorder, input);
        recorder.finish();  // the file's own representatives are given back before the record is made
    }
}

}  // namespace weldrix
