#include "app/output_placer.hpp"

#include <mutex>
#include <new>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

#include "io/files.hpp"

namespace weldrix {
namespace {

placement placement_of(placed what) {
    switch (what) {
        case placed::yes: return placement::placed;
        case placed::changed: return placement::changed;
        case placed::not_regular: return placement::not_regular;
        case placed::out_of_memory: return placement::out_of_memory;
        case placed::failed: break;
    }
    return placement::failed;
}

// A batch writes regular files only: a FIFO put at an output's place would hang the run, a device
// would take the bytes of every file. In place, a file saved while it was cleaned is kept.
place_checks checks_of(const batch_entry& entry) { return {entry.in_place ? &entry.outcome.as_read : nullptr, true}; }

// A held output made whole again from its input, read again; nothing when the input is not the
// bytes the output was made from (it changed, or cannot be read).
std::optional<std::string> restored(file_system& fs, const batch_entry& entry) {
    if (!entry.held.needs_input()) return entry.held.restore({});
    std::string input;
    if (read_whole_file(fs, entry.paths.input(), input, nullptr, true) != read_status::ok) return std::nullopt;
    return entry.held.restore(input);
}

}  // namespace

void note_placement(batch_entry& entry, placement what, std::string folder) noexcept {
    job_outcome& outcome = entry.outcome;
    entry.state = what == placement::placed ? output_state::placed : output_state::none;
    switch (what) {
        case placement::placed: entry.flush_folder = std::move(folder); return;
        case placement::failed: outcome.result = file_result::cannot_create; return;
        case placement::changed:
        case placement::not_regular:
            try {
                outcome.failure = what == placement::changed
                                      ? entry.paths.input() + " changed while it was cleaned; not replaced"
                                      : entry.paths.output() + " is not a regular file";
                outcome.result = file_result::cannot_create;
                return;
            } catch (const std::bad_alloc&) {
                break;
            }
        case placement::out_of_memory: break;
    }
    outcome.result = file_result::host_failure;
    outcome.failure = "out of memory";  // held in the string itself: no allocation
}

placement place_output_now(file_system& fs, const file_job& job, const job_outcome& outcome,
                           const std::atomic<bool>* stop) {
    std::string folder;
    return placement_of(place_file(fs, job.paths.output(), outcome.text, folder, stop,
                                   {job.in_place ? &outcome.as_read : nullptr, false}, durability::flush_each));
}

// The group's call holds only this, which std::function keeps without allocating: a group is made
// on a batch's thread, where running out of memory could not be reported.
output_group::output_group(file_system& fs, const std::atomic<bool>* stop, placed_call placed)
    : placed_(std::move(placed)), group_(fs, stop, [this](std::size_t index, weldrix::placed what, std::string folder) {
          placed_(index, placement_of(what), std::move(folder));
      }) {}

void output_group::put(std::size_t index, const batch_entry& entry, std::string text) {
    group_.add(index, entry.paths.output(), text, checks_of(entry));
}  // the text is freed once staged

std::vector<std::size_t> place_held_outputs(file_system& fs, std::vector<batch_entry>& entries, unsigned threads) {
    std::vector<std::size_t> held;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].state == output_state::at_the_end) held.push_back(i);
    }
    std::atomic<std::size_t> next{0};
    std::mutex noting;  // entries are noted one at a time: the groups of several threads end at once
    const auto place = [&] {
        staged_group group(fs, nullptr, [&](std::size_t i, placed what, std::string folder) {
            const std::lock_guard<std::mutex> lock(noting);
            note_placement(entries[i], placement_of(what), std::move(folder));
        });
        for (std::size_t k; (k = next++) < held.size();) {
            batch_entry& entry = entries[held[k]];
            entry.state = output_state::none;
            std::optional<std::string> text;
            try {
                text = restored(fs, entry);
            } catch (const std::bad_alloc&) {
                const std::lock_guard<std::mutex> lock(noting);
                note_placement(entry, placement::out_of_memory);
                continue;
            }
            entry.held = held_output();
            if (!text) {
                const std::lock_guard<std::mutex> lock(noting);
                note_placement(entry, placement::changed);
                continue;
            }
            group.add(held[k], entry.paths.output(), *text, checks_of(entry));
        }
        group.commit();
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

}  // namespace weldrix
