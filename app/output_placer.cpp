#include "app/output_placer.hpp"

#include <new>
#include <system_error>
#include <utility>

#include "app/folder_walk.hpp"
#include "io/files.hpp"
#include "io/staged_outputs.hpp"

namespace weldrix {
namespace {

output_placer::result result_of(placed what) {
    switch (what) {
        case placed::yes: return output_placer::result::placed;
        case placed::changed: return output_placer::result::changed;
        case placed::not_regular: return output_placer::result::not_regular;
        case placed::failed: break;
    }
    return output_placer::result::failed;
}

// A batch writes regular files only: a FIFO put at an output's place would hang the run, a device
// would take the bytes of every file.
place_checks checks_of(bool in_place, const file_status& as_read) { return {in_place ? &as_read : nullptr, true}; }

void place_held(file_system& fs, batch_entry& entry) noexcept {
    entry.state = output_state::none;
    try {
        // Regular files only: each is written to its end even when the run is interrupted.
        const output_placer::result what =
            result_of(place_file(fs, entry.paths.output(), entry.outcome.text, entry.flush_folder, nullptr,
                                 checks_of(entry.in_place, entry.outcome.as_read)));
        note_placement(entry, what);
    } catch (const std::bad_alloc&) {
        note_placement(entry, output_placer::result::out_of_memory);
    }
    std::string().swap(entry.outcome.text);
}

}  // namespace

void note_placement(batch_entry& entry, output_placer::result what) noexcept {
    using result = output_placer::result;
    job_outcome& outcome = entry.outcome;
    entry.state = what == result::placed ? output_state::placed : output_state::none;
    switch (what) {
        case result::placed: return;
        case result::failed: outcome.result = file_result::cannot_create; return;
        case result::changed:
        case result::not_regular:
            try {
                outcome.failure = what == result::changed
                                      ? entry.paths.input() + " changed while it was cleaned; not replaced"
                                      : entry.paths.output() + " is not a regular file";
                outcome.result = file_result::cannot_create;
                return;
            } catch (const std::bad_alloc&) {
                break;
            }
        case result::out_of_memory: break;
    }
    outcome.result = file_result::host_failure;
    outcome.failure = "out of memory";  // held in the string itself: no allocation
}

output_placer::result place_output_now(file_system& fs, const file_job& job, const job_outcome& outcome,
                                       const std::atomic<bool>* stop) {
    std::string folder;
    return result_of(place_file(fs, job.paths.output(), outcome.text, folder, stop,
                                {job.in_place ? &outcome.as_read : nullptr, false}, durability::flush_each));
}

std::vector<std::size_t> place_held_outputs(file_system& fs, std::vector<batch_entry>& entries, unsigned threads) {
    std::vector<std::size_t> held;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].state == output_state::at_the_end) held.push_back(i);
    }
    std::atomic<std::size_t> next{0};
    const auto place = [&] {
        for (std::size_t k; (k = next++) < held.size();) place_held(fs, entries[held[k]]);
    };
    std::vector<std::thread> placers;
    for (unsigned t = 1; t < threads && held.size() > 1; ++t) {
        try {
            placers.emplace_back(place);
        } catch (const std::system_error&) {
            break;  // fewer threads
        }
    }
    place();
    for (std::thread& placer : placers) placer.join();
    return held;
}

output_placer::output_placer(file_system& fs, unsigned threads, std::size_t waiting, const std::atomic<bool>* stop,
                             placed_call placed)
    : fs_(fs), waiting_(waiting), stop_(stop), placed_(std::move(placed)) {
    for (unsigned t = 0; t < threads; ++t) {
        try {
            threads_.emplace_back([this] { work(); });
        } catch (const std::system_error&) {
            break;  // fewer threads; with none, put places each output itself
        }
    }
}

output_placer::~output_placer() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        ending_ = true;
    }
    changed_.notify_all();
    for (std::thread& thread : threads_) thread.join();
}

void output_placer::put(std::size_t index, std::string path, std::string text, const file_status* as_read) {
    job output{index, std::move(path), std::move(text), as_read != nullptr, as_read ? *as_read : file_status{}};
    if (!threads_.empty()) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return queue_.size() < waiting_ || ending_; });
        if (!ending_) {
            try {
                queue_.push_back(std::move(output));
                lock.unlock();
                changed_.notify_all();
                return;
            } catch (const std::bad_alloc&) {
                // Placed on this thread instead.
            }
        }
    }
    place(output);
}

void output_placer::finish() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return queue_.empty() && busy_ == 0; });
}

void output_placer::abandon() {
    const std::lock_guard<std::mutex> lock(mutex_);
    queue_.clear();
}

void output_placer::work() {
    for (;;) {
        job output;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait(lock, [&] { return !queue_.empty() || ending_; });
            if (queue_.empty()) return;
            output = std::move(queue_.front());
            queue_.pop_front();
            ++busy_;
        }
        changed_.notify_all();  // room in the queue
        place(output);
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            --busy_;
        }
        changed_.notify_all();
    }
}

void output_placer::place(job& output) {
    std::string folder;
    result what = result::failed;
    try {
        what = result_of(
            place_file(fs_, output.path, output.text, folder, stop_, checks_of(output.in_place, output.as_read)));
    } catch (const std::bad_alloc&) {
        what = result::out_of_memory;
    }
    std::string().swap(output.text);
    placed_(output.index, what, std::move(folder));
}

}  // namespace weldrix
