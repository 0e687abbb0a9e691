// Putting many outputs in place in one run, as a batch does. Each output is written next to its
// place, flushed and renamed over it at once (place_file), so that a run holds at most one
// temporary file per thread whatever the number of its files, and a crash at any moment leaves
// every target old or new and complete. The renames are flushed together after the last one, with
// one flush of each file system the outputs are on (flush_file_systems) instead of one per file.
#pragma once

#include <atomic>
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

// Flushes the file systems that hold the folders, each once and each even when one fails (a folder
// whose file system the host cannot tell counts as one of its own). False when a flush failed.
[[nodiscard]] bool flush_file_systems(file_system& fs, const std::vector<std::string>& folders);

}  // namespace weldrix
