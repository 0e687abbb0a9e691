// Putting many outputs in place in one run, as a batch does. Each output is written next to its
// place, flushed and renamed over it at once (place_file), so that a run holds at most one
// temporary file per thread whatever the number of its files, and a crash at any moment leaves
// every target old or new and complete. The renames are flushed together after the last one, with
// one flush of each file system the outputs are on (flush_file_systems) instead of one per file.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "io/file_system.hpp"
#include "io/files.hpp"

namespace weldrix {

// What placing an output came to.
enum class placed : std::uint8_t {
    yes,
    failed,       // it could not be written (or stop was set before it was in place)
    changed,      // the target is no longer the version of the file that was read: left as it is
    not_regular,  // regular files only were asked for, and the target is a device, FIFO or folder
    out_of_memory,
};

// What place_file checks before it replaces a target.
struct place_checks {
    // The target must still be this version of the file (its status when it was read, see
    // same_version): a file saved by another program while it was cleaned is not replaced.
    const file_status* as_read = nullptr;
    // A target that exists and is not a regular file (a FIFO, a device) is not written.
    bool regular_only = false;
};

// Replaces name by bytes as replace_file does with durability::flush_each (the bytes are flushed
// before the rename), except that with renames durability::none_here the rename itself is not
// flushed: the caller flushes the renames of many files together (flush_file_systems) before it
// says that they are written. folder receives the target's folder (links followed) when its rename
// is to be flushed so, or nothing when the bytes were written directly (a device) and there is
// nothing to flush. The version of the target is checked just before the rename.
placed place_file(file_system& fs, const std::string& name, std::string_view bytes, std::string& folder,
                  const std::atomic<bool>* stop = nullptr, const place_checks& checks = {},
                  durability renames = durability::none_here);

// Outputs put in place together, as a batch does: each is written to a temporary file next to its
// place and closed unflushed (add); once `most` are staged, or when the caller commits, the file
// systems that hold them are flushed once (flush_file_systems), and only then is each renamed over
// its place, its version checked first as place_file does. The bytes are on the disk before any
// rename, so a crash at any moment leaves every place old or new and complete; a kill leaves at most
// `most` temporary files of a group behind. The renames are not flushed: the caller flushes them
// with the others (flush_file_systems) before it says that they are written.
class staged_group {
public:
    static constexpr std::size_t most = 64;
    // Called for each output once it is placed (folder: its target's folder, for the flush of the
    // renames; empty for one written directly) or not.
    using done_call = std::function<void(std::size_t tag, placed what, std::string folder)>;

    // stop ends the writing of an output (it fails); what is staged complete is still put in place
    // when the group is committed, as an interrupted run finishes what it wrote.
    staged_group(file_system& fs, const std::atomic<bool>* stop, done_call done);
    // Removes the temporary files of what was not committed (their outputs are never done).
    ~staged_group();
    staged_group(const staged_group&) = delete;
    staged_group& operator=(const staged_group&) = delete;

    // Stages bytes for name, with the checks of place_file (as_read is copied); an output that
    // cannot be staged is done at once. Commits the group when it is full.
    void add(std::size_t tag, const std::string& name, std::string_view bytes, const place_checks& checks);
    // Flushes and renames every file staged, and calls done for each, in the order they were added.
    void commit();
    std::size_t size() const { return staged_.size(); }

private:
    struct output {
        std::size_t tag = 0;
        staged_file staged;
        bool check_version = false;
        file_status as_read;  // with check_version
    };
    placed rename(output& out, std::string& folder);

    file_system& fs_;
    const std::atomic<bool>* const stop_;
    const done_call done_;
    std::vector<output> staged_;
};

// Flushes the file systems that hold the folders, each once and each even when one fails (a folder
// whose file system the host cannot tell counts as one of its own). False when a flush failed.
[[nodiscard]] bool flush_file_systems(file_system& fs, const std::vector<std::string>& folders);

}  // namespace weldrix
