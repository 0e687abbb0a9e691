// The one place where outputs are put in place: a single file's at once and flushed
// (place_output_now), and a batch's on threads of their own (output_placer), or at the end of
// the run (place_held_outputs).
//
// A batch's outputs are put in place on threads of their own, so that the threads that clean files
// do not wait for the storage: each output is written next to its place, flushed and renamed over
// it (place_file, staged_outputs.hpp), with one temporary file per placing thread at a time. The
// storage takes several flushes at once about as fast as one, so the flushes of a few threads keep
// up with the cleaning.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/batch_file.hpp"
#include "app/file_job.hpp"
#include "io/file_system.hpp"

namespace weldrix {

class output_placer {
public:
    enum class result {
        placed,
        failed,
        changed,      // the input changed while it was cleaned: not replaced (in place)
        not_regular,  // a batch's output place holds a FIFO, a device or a folder: not written
        out_of_memory,
    };
    // Called on a placing thread when an output is placed (folder: its target's folder, to be
    // flushed with the others at the end of the run) or not (failed: also when stop was set).
    using placed_call = std::function<void(std::size_t index, result what, std::string folder)>;

    // threads placing threads (none that can be started: each output is placed in put); at most
    // waiting outputs queued. stop: set when the run is interrupted, which abandons a placement
    // that waits for another process and those not started.
    output_placer(file_system& fs, unsigned threads, std::size_t waiting, const std::atomic<bool>* stop,
                  placed_call placed);
    // Places what is queued unless abandon was called, then ends the threads.
    ~output_placer();
    output_placer(const output_placer&) = delete;
    output_placer& operator=(const output_placer&) = delete;

    // Queues an output, waiting while the queue is full. With as_read (the output is the input), it
    // replaces its target only while that is still the version of the input that was read.
    void put(std::size_t index, std::string path, std::string text, const file_status* as_read);
    // Waits until every output queued has been placed.
    void finish();
    // Drops what is queued (memory ran out): nothing more is placed.
    void abandon();

private:
    struct job {
        std::size_t index = 0;
        std::string path;
        std::string text;
        bool in_place = false;
        file_status as_read;  // with in_place
    };
    void place(job& output);
    void work();

    file_system& fs_;
    const std::size_t waiting_;
    const std::atomic<bool>* const stop_;
    const placed_call placed_;
    std::mutex mutex_;  // guards queue_, busy_ and ending_
    std::condition_variable changed_;
    std::deque<job> queue_;
    std::size_t busy_ = 0;  // outputs being placed
    bool ending_ = false;
    std::vector<std::thread> threads_;
};

// Puts a single file's output in place at once: replaced safely and flushed, as replace_file does
// with durability::flush_each; in place, only while the input is still the version that was read.
// failed also when stop was set before it was in place. Throws std::bad_alloc when memory runs out.
output_placer::result place_output_now(file_system& fs, const file_job& job, const job_outcome& outcome,
                                       const std::atomic<bool>* stop);

// Puts the outputs a batch held to the end of the run (output_state::at_the_end) in place, on up
// to threads threads, each with one temporary file at a time, and returns their indices. Each is
// written to its end even when the run is interrupted (its file was cleaned, and its line
// printed): a batch writes regular files only, and never waits for another process. An output that cannot be put in
// place makes its file cannot_create (with why, when it is the input that changed or a place that is not a regular
// file), or host_failure when memory runs out; one put in place is placed, with the folder to flush.
std::vector<std::size_t> place_held_outputs(file_system& fs, std::vector<batch_entry>& entries, unsigned threads);

// What placing a batch's output came to, noted in its entry (a placing thread's result included):
// placed, or why its file failed.
void note_placement(batch_entry& entry, output_placer::result what) noexcept;

}  // namespace weldrix
