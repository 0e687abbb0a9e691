// Representatives of vertex unification.
//
// A vertex_set is a list of representatives in creation order. `add` merges a vertex into the
// FIRST representative (in creation order) closer than that representative's merge distance, or
// appends a new one; main-file representatives move to the running average of their members as
// they grow. `snap` moves a vertex onto its NEAREST representative (earliest created on ties,
// found by a strict-less scan starting from the first representative with best distance 100000)
// when that one is closer than its snap distance.
//
//                        merge distance     snap distance
//   main representative  vertex_threshold   vertex_threshold
//   subfile representative 0.001            subfile_threshold
//
// Distances are Manhattan distances; every comparison is strict.
//
// Two search strategies give bit-for-bit the same results:
//   * linear: the plain scan over all representatives, kept as the reference;
//   * indexed (default): a hash grid, exact by construction (see vertex_set.cpp for the proof),
//     with the linear scan as fallback where a grid cannot help.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <vector>

#include "geometry/point.hpp"
#include "geometry/vertex_grid.hpp"

namespace weldrix {

// Merge distance of a subfile representative; not settable.
inline constexpr double subfile_merge_distance = 0.001;
// The snap scan starts with this best distance: a representative this far or farther is only
// chosen when no representative is nearer, as the first one.
inline constexpr double snap_start_distance = 100000.0;

// A representative: its position and kind. The sums of its members live apart (see
// vertex_set::sums), only for a representative that has more than one: most representatives of a
// large part stand for a single vertex, whose position is its sum, and a representative at 32
// bytes instead of 64 keeps a million-vertex set small.
struct rep_vertex : point {
    static constexpr std::uint32_t alone = 0xffffffffu;
    std::uint32_t members = alone;  // index of its sums, or alone while it stands for one vertex
    bool from_subfile;              // stands for a vertex of an inlined subfile: never moves

    rep_vertex(const point& v, bool subfile) : point(v), from_subfile(subfile) {}
};

static_assert(sizeof(rep_vertex) <= 32);

// The accumulators of a representative: the sums of its members' coordinates and their number.
// Its position is always the sums divided by the number.
struct rep_sums {
    double x_sum, y_sum, z_sum;
    std::int64_t member_count;  // at least 1

    void add(const point& v) {
        x_sum += v.x, y_sum += v.y, z_sum += v.z;
        ++member_count;
    }
    point position() const {
        const auto count = static_cast<double>(member_count);
        return {x_sum / count, y_sum / count, z_sum / count};
    }
};

enum class vertex_search { indexed, linear };

// What one caller's snaps onto a set keep beside it: the last snaps, by the bits of the point
// snapped (a file's vertex is shared by several of its lines, which snap the same point one after
// another), and, for reports, a log of the representative each snap moved a vertex onto. Snaps
// only read the set, so threads may snap onto one set side by side, each with a cache of its own.
class snap_cache {
public:
    // With a log, every snap appends the index of the representative it moved the vertex onto, or
    // vertex_set::no_representative when it left the vertex alone.
    std::vector<std::size_t>* log = nullptr;

private:
    friend class vertex_set;
    // An entry holds while the set is unchanged since it was made (its generation is the set's).
    struct slot {
        point from;
        std::uint32_t target;  // the representative, or none
        std::uint32_t generation = 0;
    };
    static constexpr std::uint32_t none = 0xffffffffu;
    static constexpr int bits = 8;
    std::vector<slot> slots_;
};

// The default of both thresholds (options "-ut" and "-us").
inline constexpr double default_threshold = 0.005;

struct unify_thresholds {
    double vertex_threshold = default_threshold;   // merging and snapping among the file's own vertices
    double subfile_threshold = default_threshold;  // snapping onto the vertices of inlined subfiles
};

class vertex_set {
public:
    explicit vertex_set(const unify_thresholds& thresholds, vertex_search search = vertex_search::indexed);
    vertex_set(const vertex_set&) = delete;
    vertex_set& operator=(const vertex_set&) = delete;

    void add(const point& v, bool from_subfile);
    // Snaps v with the set's own cache; the second form with the caller's, and may be called from
    // several threads at once, each with its own cache, while nothing is added.
    void snap(point& v) { snap(v, cache_); }
    void snap(point& v, snap_cache& cache) const;
    // Hints for adding or snapping v some vertices later, which change nothing (see
    // vertex_grid::prefetch_buckets): the first loads the buckets its query reads, the second,
    // issued once those are loaded, the first representative of each.
    void prefetch_buckets(const point& v) const;
    void prefetch_chains(const point& v) const;
    // No more vertices are to be added: the sums of the representatives, which only adding reads,
    // are given back (a third of a large set). add and sums throw std::logic_error from then on.
    void done_adding();
    // Makes room for as many representatives as vertices will be added (at most that many are
    // made), so that neither the list nor its index grows and copies itself on the way.
    void reserve(std::size_t vertices);

    // With a log, every snap with the set's own cache appends the index of the representative it
    // moved the vertex onto, or no_representative when it left the vertex alone (for reports of
    // what a run changed).
    static constexpr std::size_t no_representative = static_cast<std::size_t>(-1);
    void log_snaps(std::vector<std::size_t>* log) { cache_.log = log; }

    const std::vector<rep_vertex>& representatives() const { return reps_; }
    // The accumulators of representative i.
    rep_sums sums(std::size_t i) const {
        if (done_adding_) throw std::logic_error("vertex_set: sums after done_adding");
        const rep_vertex& r = reps_[i];
        return r.members == rep_vertex::alone ? rep_sums{r.x, r.y, r.z, 1} : sums_[r.members];
    }
    std::size_t size() const { return reps_.size(); }
    const unify_thresholds& thresholds() const { return thresholds_; }
    vertex_search search() const { return search_; }

private:
    double merge_distance(const rep_vertex& r) const {
        return r.from_subfile ? subfile_merge_distance : thresholds_.vertex_threshold;
    }
    double snap_distance(const rep_vertex& r) const {
        return r.from_subfile ? thresholds_.subfile_threshold : thresholds_.vertex_threshold;
    }
    void merge(std::size_t index, const point& v, bool from_subfile);

    std::size_t snap_target(point& v) const;              // snaps v; the representative, or none
    std::size_t linear_add_target(const point& v) const;  // no_representative when none in range
    std::size_t linear_snap_target(const point& v) const;

    unify_thresholds thresholds_;
    vertex_search search_;
    bool use_linear() const;
    // Replaces the grid by a wider one, filing every representative, when the kinds of
    // representative present need it; true when it did.
    bool cover_needed_radius();
    bool indexed(const rep_vertex& r) const;
    // The radius of the grid query of an add or a snap, whichever is larger; 0 for none.
    double query_radius() const;

    std::vector<rep_vertex> reps_;
    std::vector<rep_sums> sums_;         // of the representatives with more than one member
    std::unique_ptr<vertex_grid> grid_;  // null for the linear search
    bool done_adding_ = false;
    bool has_main_ = false;
    bool has_subfile_ = false;
    std::size_t expected_ = 0;  // as reserve gave it

    snap_cache cache_;
    static constexpr std::size_t memo_from = 32;  // a smaller set answers as fast without a memo
    // Changed by every add (0 marks an empty slot); after 2^32 adds it starts again at 1, and the
    // caches that may hold entries of the old ones are the set's own and those made since.
    std::uint32_t generation_ = 1;
};

}  // namespace weldrix
