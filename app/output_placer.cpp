#include "app/output_placer.hpp"

#include <new>
#include <system_error>
#include <utility>

#include "app/folder_walk.hpp"
#include "io/files.hpp"
#include "io/staged_outputs.hpp"

namespace weldrix {
namespace {

void place_held(file_system& fs, batch_entry& entry, const std::atomic<bool>* stop) noexcept {
    job_outcome& outcome = entry.outcome;
    entry.state = output_state::none;
    try {
        file_status st;
        const bool regular = repeat_interrupted([&] { return fs.status(entry.output, st); }) == 0 &&
                             (st.kind == file_kind::regular || st.kind == file_kind::missing);
        if (place_file(fs, entry.output, outcome.text, entry.flush_folder, regular ? nullptr : stop)) {
            entry.state = output_state::placed;
        } else {
            outcome.result = file_result::cannot_create;
        }
    } catch (const std::bad_alloc&) {
        outcome.result = file_result::host_failure;
        outcome.failure = "out of memory";  // held in the string itself: no allocation
    }
    std::string().swap(outcome.text);
}

}  // namespace

output_placer::result place_output_now(file_system& fs, const file_paths& paths, std::string_view text,
                                       const std::atomic<bool>* stop) {
    return replace_file(fs, paths.output(), text, durability::flush_each, stop) ? output_placer::result::placed
                                                                                : output_placer::result::failed;
}

std::vector<std::size_t> place_held_outputs(file_system& fs, std::vector<batch_entry>& entries, unsigned threads,
                                            const std::atomic<bool>* stop) {
    std::vector<std::size_t> held;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].state == output_state::at_the_end) held.push_back(i);
    }
    std::atomic<std::size_t> next{0};
    const auto place = [&] {
        for (std::size_t k; (k = next++) < held.size();) place_held(fs, entries[held[k]], stop);
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

void output_placer::put(std::size_t index, std::string path, std::string text) {
    job output{index, std::move(path), std::move(text)};
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
        if (place_file(fs_, output.path, output.text, folder, stop_)) what = result::placed;
    } catch (const std::bad_alloc&) {
        what = result::out_of_memory;
    }
    std::string().swap(output.text);
    placed_(output.index, what, std::move(folder));
}

}  // namespace weldrix
