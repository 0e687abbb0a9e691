// The subfile vertices a file's snaps can depend on, so that only those are built into the
// snap target set.
//
// Pass 2 of unification snaps each vertex of the file onto the nearest subfile representative
// closer than the subfile threshold. A file usually lies along a small part of what it inlines, so
// most subfile representatives are never near enough to be chosen. Which vertices become
// representatives depends on order, though: a vertex merges into the first representative closer
// than 0.001, so a chain of vertices, each closer than 0.001 to an earlier one, carries a decision
// from far away. A snap_region keeps every vertex offered to it, in order, and gives back to the
// set those in a region closed under that dependence; the set then holds exactly the
// representatives the whole construction would make in the region, in the same order.
//
// The region is a union of cells of a vertex_grid (by their tags, in a bitmap: cells whose tags
// share a bit count as one, which only makes the region larger). It starts as the cells a query of
// radius reach = 2 max(vertex threshold, subfile threshold) around each vertex of the file looks
// up, and grows by the cell of every vertex outside it that lies within 0.001 of a cell inside it,
// until no such vertex is left. Why the set built from the region's vertices gives every snap the
// result of the whole set:
//  * Every query lies in range. A query is a file vertex after pass 1, which moved it at most onto
//    a representative closer than the vertex threshold, and any representative it snaps onto is
//    closer than the subfile threshold to that. As in vertex_grid.hpp, a distance computed below
//    t bounds every coordinate difference by t exactly; so the target differs from the vertex as
//    read by less than vt + st <= reach per axis, and its cell is among those of the start.
//  * The vertices kept decide alike. No vertex left out lies within 0.001 of a kept one: the
//    grid's query of radius 0.001 around it would look up the kept one's cell, and the growth
//    stops only when no vertex outside sees a cell inside. A kept vertex's decision reads only the
//    representatives closer than 0.001 to it, all of them kept; by induction on the order, each of
//    those became a representative (or merged into the same one) in both constructions, which list
//    the kept representatives in the same relative order. Subfile representatives never move.
//  * A snap picks the nearest representative closer than the subfile threshold, the earliest on
//    ties: all candidates lie in the region, so both sets offer the same ones in the same order.
//  * Non-finite vertices are left out: they are never within range of anything, so they merge
//    into nothing, take no merge and are never snapped onto; they only shift the numbers of later
//    representatives, which the set and its origins number alike.
// Thresholds above 1 (or infinite, or a subfile threshold that admits nothing) are not served:
// there a snap may reach the first representative from any distance (see vertex_set.hpp), and
// the whole set is built as before (applies()).
#pragma once

#include <cassert>
#include <cstdint>
#include <vector>

#include "geometry/point.hpp"
#include "geometry/vertex_grid.hpp"
#include "geometry/vertex_set.hpp"

namespace weldrix {

class snap_region {
public:
    // Whether a region can stand in for the whole set under thresholds.
    static bool applies(const unify_thresholds& thresholds);

    // thresholds must satisfy applies(); file_vertices is about how many cover() will be given.
    snap_region(const unify_thresholds& thresholds, std::size_t file_vertices);

    // A vertex of the file as read, before pass 1: the region covers every snap it may make.
    void cover(const point& v);

    // A subfile vertex, in the order the whole set would be given them; origin is kept for it.
    void offer(const point& p, std::uint32_t origin) {
        if (!finite(p)) return;
        note_origin(origin);
        points_.push_back(p);
    }
    // Vertices that are all finite, from one origin: place(put) calls put(p) for each, in order
    // (the bulk of an expansion: a copy of a file placed where no point can overflow).
    template <class Place>
    void offer_finite(std::uint32_t origin, Place&& place) {
        note_origin(origin);
        place([this](const point& p) {
            assert(finite(p));
            points_.push_back(p);
        });
    }
    std::size_t offered() const { return points_.size(); }

    // Adds to set, in order, the vertices offered that lie in the closed region (every one with
    // everything set), calling made(origin) for each that made a new representative, and forgets
    // them. set must hold no representative of its own yet, or only those of earlier fills with
    // everything set (a caller that stops keeping points fills everything from then on).
    template <class Made>
    void fill(vertex_set& set, bool everything, Made&& made) {
        if (!everything) close();
        std::size_t run = 0;
        for (std::size_t i = 0; i < points_.size(); ++i) {
            if (!everything && !inside(tags_[i])) continue;
            while (run + 1 < runs_.size() && runs_[run + 1].first <= i) ++run;
            const std::size_t before = set.size();
            set.add(points_[i], true);
            if (set.size() > before) made(runs_[run].origin);
        }
        points_.clear();
        runs_.clear();
        tags_.clear();
    }

private:
    // Grows the region until no vertex outside lies within 0.001 of it; tags_ gets each vertex's
    // cell tag.
    void close();
    bool inside(std::uint32_t tag) const { return (bits_[(tag & mask_) >> 6] >> (tag & 63)) & 1; }
    // The points from runs_.back().first on come from its origin.
    void note_origin(std::uint32_t origin) {
        if (runs_.empty() || runs_.back().origin != origin) runs_.push_back({points_.size(), origin});
    }
    void include(std::uint32_t tag) { bits_[(tag & mask_) >> 6] |= std::uint64_t{1} << (tag & 63); }

    vertex_grid grid_;  // for its cells only: nothing is filed
    double reach_;
    std::vector<std::uint64_t> bits_;  // a bit per tag & mask_: the region
    std::uint32_t mask_;
    // The points covered lately, by a hash of their bits; NaN at first (a NaN vertex covers nothing).
    point covered_[256];
    std::vector<point> points_;
    struct origin_run {
        std::size_t first;  // the first point from origin
        std::uint32_t origin;
    };
    std::vector<origin_run> runs_;  // in order of their first points
    std::vector<std::uint32_t> tags_;
};

}  // namespace weldrix
