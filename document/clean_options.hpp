// What a run of the cleaning is configured by: one value, built by the front end (or any other
// caller) and handed down. Nothing of it lives in global state, so runs with different options
// may go on side by side.
#pragma once

#include <cstddef>

#include "geometry/vertex_set.hpp"

namespace weldrix {

// Most lines the expansion inlines before it stops (every inlined line counts, comments and
// references included): many times what the largest parts of the LDraw library inline, and low
// enough that a library built to explode ends within seconds. Every distinct vertex of an inlined
// edge line, triangle or quad becomes a snap target, so the limit also bounds memory.
inline constexpr std::size_t default_max_inlined_lines = 5'000'000;

// The size from which the set of a file's own vertices is built without its lone points
// (lone_points.hpp): a smaller set stays in the processor's caches, where telling them costs more
// than it spares. Either way gives the same result.
inline constexpr std::size_t default_lone_from = std::size_t{1} << 15;

// The size from which the set of a file's own vertices is built in two, where a plane parts them
// (separating_x in lone_points.hpp), side by side. Either way gives the same result.
inline constexpr std::size_t default_split_from = std::size_t{1} << 17;

// The unit length (in lines) from which a unification that records nothing unifies the unit's
// two halves side by side.
inline constexpr std::size_t default_snap_halves_from = std::size_t{1} << 16;

// The size (in bytes) from which an input is read, and its text written, in two halves side by
// side.
inline constexpr std::size_t default_read_halves_from = std::size_t{8} << 20;

// How the geometry check finds the lines a run made identical (geometry_check.hpp): chosen by the
// share of lines changed, or forced either way (tests compare the two).
enum class identical_search { chosen, filtered, sorted };

struct clean_options {
    unify_thresholds thresholds;    // "-ut" and "-us"
    bool snap_on_subfiles = false;  // "-s": inline the subfiles and snap onto them
    std::size_t max_inlined_lines = default_max_inlined_lines;
    // The index and the plain scan give the same results; the scan is the reference for tests.
    vertex_search search = vertex_search::indexed;
    // Vertices from which the index leaves lone points out (fuzzing lowers it to 0).
    std::size_t lone_from = default_lone_from;
    // Vertices from which the set is built in two where a plane parts them (fuzzing lowers it to 0).
    std::size_t split_from = default_split_from;
    // Lines from which a unit's halves are unified side by side (a test unifies it whole to compare).
    std::size_t snap_halves_from = default_snap_halves_from;
    // Bytes from which an input is read, and its text written, in two halves (a test reads it whole
    // to compare).
    std::size_t read_halves_from = default_read_halves_from;
    // What the document keeps of what unification changed (change_record.hpp): nothing, the
    // totals (a batch, a check), or every line (a report).
    enum class changes { none, totals, lines };
    changes record_changes = changes::none;
    // "--minimal": the document keeps the bytes it reads, so that it can give its output as those
    // bytes with only the lines the cleaning changed rewritten (ldraw_file::minimal_text).
    bool minimal = false;
    // Whether a document that records changes keeps its input's bytes (ldraw_file::source): a
    // caller that compares the output with them (a batch, a check) needs them, a report alone
    // does not, and a large part's bytes are a large share of what a run holds.
    bool keep_source = true;
    // Every run compares what it writes with what it read by the library's geometry rules
    // (geometry_check.hpp); off only to measure what the comparison costs.
    bool check_geometry = true;
    identical_search identical = identical_search::chosen;
    // "--fix": the geometry faults the cleaning made are repaired.
    bool fix = false;
};

}  // namespace weldrix
