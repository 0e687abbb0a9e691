// The one place where outputs are put in place: a single file's at once and flushed
// (place_output_now), and a batch's in groups as the run goes on (place_in_groups) or at the end of
// the run (place_held_outputs).
//
// A batch stages its outputs next to their places and puts them in place in groups
// (staged_group, staged_outputs.hpp): one flush of the file system for up to 64 outputs of a
// thread, then their renames, instead of a flush of each. A killed run leaves at most that many
// temporary files per thread; every output is old or new and complete at any moment.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "app/batch_file.hpp"
#include "app/file_job.hpp"
#include "io/file_system.hpp"
#include "io/staged_outputs.hpp"

namespace weldrix {

enum class placement {
    placed,
    failed,       // also when stop was set before it was in place
    changed,      // the input changed while it was cleaned: not replaced (in place)
    not_regular,  // a batch's output place holds a FIFO, a device or a folder: not written
    out_of_memory,
};

// Puts a single file's output in place at once: replaced safely and flushed, as replace_file does
// with durability::flush_each; in place, only while the input is still the version that was read.
// Throws std::bad_alloc when memory runs out.
placement place_output_now(file_system& fs, const file_job& job, const job_outcome& outcome,
                           const std::atomic<bool>* stop);

// A batch thread's outputs, put in place in groups as they come. Each output's result goes to
// placed (on the thread that adds or commits).
class output_group {
public:
    using placed_call = std::function<void(std::size_t index, placement what, std::string folder)>;
    output_group(file_system& fs, const std::atomic<bool>* stop, placed_call placed);

    // Stages the output of entry index (its text is taken); commits the group when it is full.
    void put(std::size_t index, const batch_entry& entry, std::string text);
    // Puts every output staged in place.
    void commit() { group_.commit(); }
    std::size_t size() const { return group_.size(); }

private:
    placed_call placed_;
    staged_group group_;
};

// Puts the outputs a batch held to the end of the run (output_state::at_the_end) in place, on up
// to threads threads, in groups, and returns their indices. Each is written to its end even when
// the run is interrupted (its file was cleaned, and its line printed): a batch writes regular
// files only, and never waits for another process. An output that cannot be put in place makes
// its file cannot_create (with why, when it is the input that changed or a place that is not a
// regular file), or host_failure when memory runs out; one put in place is placed, with the
// folder to flush.
std::vector<std::size_t> place_held_outputs(file_system& fs, std::vector<batch_entry>& entries, unsigned threads);

// What placing a batch's output came to, noted in its entry: placed (with the folder whose rename
// is flushed at the end), or why its file failed.
void note_placement(batch_entry& entry, placement what, std::string folder = {}) noexcept;

}  // namespace weldrix
