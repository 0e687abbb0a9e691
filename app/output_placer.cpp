#include "app/output_placer.hpp"

#include <new>
#include <system_error>
#include <utility>

#include "io/staged_outputs.hpp"

namespace weldrix {

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
    output.text = std::string();
    placed_(output.index, what, std::move(folder));
}

}  // namespace weldrix
