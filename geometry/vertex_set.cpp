#include "geometry/vertex_set.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>

namespace weldrix {
namespace {

// A threshold that admits some distance, or 0 for one that admits none (<= 0 or NaN).
double usable(double t) { return t > 0 ? t : 0.0; }

}  // namespace

// Why the index gives the linear results:
//  * A vertex or representative with a non-finite coordinate is never in range of anything: its
//    distance to anything is inf or NaN, and neither is below any threshold (an infinite
//    threshold included, as the test is strict). So non-finite representatives are left out of
//    the grid, and a non-finite vertex merges into nothing and snaps onto nothing.
//  * add: every representative in range of v lies within the largest merge distance present, so
//    the grid query returns it (vertex_grid.hpp); the smallest index among those in range is the
//    first one the linear scan stops at.
//  * snap: with S the largest snap distance present and R = min(S, 100000), the linear scan picks
//    the earliest of the nearest representatives closer than 100000 (or the first one when none
//    is). If its distance is below R the grid query returns it together with every nearer one. If
//    no representative is closer than R, the scan's choice is at least R away: no snap when
//    S <= 100000; when S > 100000 the choice is the first representative, tested directly.

vertex_set::vertex_set(const unify_thresholds& thresholds, vertex_search search)
    : thresholds_(thresholds), search_(search) {}

bool vertex_set::indexed(const rep_vertex& r) const { return grid_ && finite(r); }

// The largest distance any query of this set may need: merge and snap distances (the latter
// capped at the snap start distance) of the kinds of representative present.
static double needed_radius(bool has_main, bool has_subfile, const unify_thresholds& t) {
    double r = 0.0;
    if (has_main)
        r = std::max({r, usable(t.vertex_threshold), usable(std::min(t.vertex_threshold, snap_start_distance))});
    if (has_subfile) {
        r = std::max({r, subfile_merge_distance, usable(std::min(t.subfile_threshold, snap_start_distance))});
    }
    return r;
}

// Once true, true for good: representatives are only added, and a full grid stays full (it is
// not replaced once the scan has taken over).
bool vertex_set::use_linear() const {
    return search_ == vertex_search::linear || reps_.size() >= vertex_grid::none || (grid_ && grid_->full());
}

bool vertex_set::cover_needed_radius() {
    const double radius = needed_radius(has_main_, has_subfile_, thresholds_);
    if (radius <= 0 || (grid_ && grid_->radius() >= radius)) return false;
    grid_ = std::make_unique<vertex_grid>(radius, std::max(expected_, reps_.size()));
    for (std::size_t i = 0; i < reps_.size() && !grid_->full(); ++i) {
        if (finite(reps_[i])) grid_->insert(static_cast<std::uint32_t>(i), reps_[i]);
    }
    return true;
}

std::size_t vertex_set::linear_add_target(const point& v) const {
    for (std::size_t i = 0; i < reps_.size(); ++i) {
        if (closer_than(reps_[i], v, merge_distance(reps_[i]))) return i;
    }
    return no_representative;
}

std::size_t vertex_set::linear_snap_target(const point& v) const {
    std::size_t best = 0;
    double best_distance = snap_start_distance;
    for (std::size_t i = 0; i < reps_.size(); ++i) {
        const double d = reps_[i].manhattan_distance(v);
        if (d < best_distance) {
            best = i;
            best_distance = d;
        }
    }
    return best;
}

void vertex_set::done_adding() {
    done_adding_ = true;
    std::vector<rep_sums>().swap(sums_);
}

void vertex_set::add(const point& v, bool from_subfile) {
    if (done_adding_) throw std::logic_error("vertex_set: add after done_adding");
    if (++generation_ == 0) {
        // After 2^32 adds: every slot is made empty again, so that no old one can pass for new.
        std::fill(cache_.slots_.begin(), cache_.slots_.end(), snap_cache::slot{});
        generation_ = 1;
    }
    if (use_linear()) {
        const std::size_t target = linear_add_target(v);
        if (target != no_representative) {
            merge(target, v, from_subfile);
        } else {
            reps_.emplace_back(v, from_subfile);
        }
        return;
    }

    std::size_t target = no_representative;
    if (grid_ && finite(v)) {
        double radius = 0.0;
        if (has_main_) radius = usable(thresholds_.vertex_threshold);
        if (has_subfile_) radius = std::max(radius, subfile_merge_distance);
        if (radius > 0) {
            grid_->for_each_near(v, radius, [&](std::uint32_t id) {
                if (id < target && closer_than(reps_[id], v, merge_distance(reps_[id]))) target = id;
            });
        }
    }

    if (target != no_representative) {
        merge(target, v, from_subfile);
    } else {
        reps_.emplace_back(v, from_subfile);
        (from_subfile ? has_subfile_ : has_main_) = true;
        // A new grid files every representative, the new one included.
        if (!use_linear() && !cover_needed_radius() && indexed(reps_.back())) {
            grid_->insert(static_cast<std::uint32_t>(reps_.size() - 1), reps_.back());
        }
    }
}

void vertex_set::reserve(std::size_t vertices) {
    expected_ = std::max(expected_, vertices);
    reps_.reserve(vertices);
}

void vertex_set::merge(std::size_t index, const point& v, bool from_subfile) {
    rep_vertex& r = reps_[index];
    if (r.from_subfile) return;  // a subfile representative keeps its first vertex's position

    const bool was_indexed = indexed(r);
    if (from_subfile) {
        // A subfile vertex takes over a main representative: it becomes that vertex alone.
        // Unification keeps the two kinds in separate sets, so only other callers get here.
        r.assign(v);
        r.members = rep_vertex::alone;  // its old sums, if any, stay unused
        r.from_subfile = true;
    } else {
        if (r.members == rep_vertex::alone) {
            // The sums of a lone vertex are its position.
            if (sums_.size() >= rep_vertex::alone) throw std::bad_alloc();
            r.members = static_cast<std::uint32_t>(sums_.size());
            sums_.push_back({r.x, r.y, r.z, 1});
        }
        rep_sums& s = sums_[r.members];
        s.add(v);
        r.assign(s.position());
    }

    if (use_linear()) return;
    const bool now_indexed = indexed(r);
    const auto id = static_cast<std::uint32_t>(index);
    if (was_indexed && now_indexed) {
        grid_->move(id, r);
    } else if (was_indexed) {
        grid_->erase(id);
    } else if (now_indexed) {
        grid_->insert(id, r);
    }
    if (from_subfile && !has_subfile_) {
        has_subfile_ = true;
        cover_needed_radius();
    }
}

double vertex_set::query_radius() const {
    if (!grid_ || use_linear()) return 0.0;
    double r = 0.0;
    if (has_main_) r = usable(thresholds_.vertex_threshold);
    if (has_subfile_) r = std::max({r, subfile_merge_distance, usable(thresholds_.subfile_threshold)});
    return std::min({r, snap_start_distance, grid_->radius()});
}

void vertex_set::prefetch_buckets(const point& v) const {
    const double r = query_radius();
    if (r > 0 && finite(v)) grid_->prefetch_buckets(v, r);
}

void vertex_set::prefetch_chains(const point& v) const {
    const double r = query_radius();
    if (r > 0 && finite(v)) grid_->prefetch_chains(v, r, [&](std::uint32_t id) { __builtin_prefetch(&reps_[id]); });
}

// A snap gives the same representative for the same bits while the set is unchanged: the memo
// answers a repeated point without a query. The linear search, the plain reference, keeps none.
void vertex_set::snap(point& v, snap_cache& cache) const {
    std::size_t target;
    if (search_ == vertex_search::indexed && reps_.size() >= memo_from && reps_.size() < snap_cache::none) {
        if (cache.slots_.empty()) cache.slots_.resize(std::size_t{1} << snap_cache::bits);
        snap_cache::slot& slot = cache.slots_[bits_hash(v) >> (64 - snap_cache::bits)];
        if (slot.generation == generation_ && same_bits(slot.from, v)) {
            target = slot.target == snap_cache::none ? no_representative : slot.target;
            if (target != no_representative) v.assign(reps_[target]);
        } else {
            slot.from = v;
            target = snap_target(v);
            slot.target = target == no_representative ? snap_cache::none : static_cast<std::uint32_t>(target);
            slot.generation = generation_;
        }
    } else {
        target = snap_target(v);
    }
    if (cache.log) cache.log->push_back(target);
}

std::size_t vertex_set::snap_target(point& v) const {
    if (reps_.empty()) return no_representative;
    std::size_t best = no_representative;
    if (use_linear()) {
        best = linear_snap_target(v);
    } else {
        if (!finite(v)) return no_representative;
        double largest = 0.0;
        if (has_main_) largest = usable(thresholds_.vertex_threshold);
        if (has_subfile_) largest = std::max(largest, usable(thresholds_.subfile_threshold));
        const double radius = std::min(largest, snap_start_distance);
        double best_distance = std::numeric_limits<double>::infinity();
        if (radius > 0 && grid_) {
            grid_->for_each_near(v, radius, [&](std::uint32_t id) {
                const double d = reps_[id].manhattan_distance(v);
                if (d < radius && (d < best_distance || (d == best_distance && id < best))) {
                    best = id;
                    best_distance = d;
                }
            });
        }
        if (best == no_representative) {
            if (!(largest > snap_start_distance)) return no_representative;
            best = 0;
        }
    }
    const rep_vertex& r = reps_[best];
    if (!closer_than(r, v, snap_distance(r))) return no_representative;
    v.assign(r);
    return best;
}

}  // namespace weldrix
