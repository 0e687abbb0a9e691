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

// Replaces name by bytes as replace_file does with durability::flush_each (the bytes are flushed
// before the rename), except that the rename itself is not flushed: the caller flushes the renames
// of many files together (flush_file_systems) before it says that they are written. folder
// receives the target's folder (links followed), or nothing when the bytes were written directly
// (a device) and there is nothing to flush.
bool place_file(file_system& fs, const std::string& name, std::string_view bytes, std::string& folder,
                const std::atomic<bool>* stop = nullptr);

// Flushes the file systems that hold the folders, each once and each even when one fails (a folder
// whose file system the host cannot tell counts as one of its own). False when a flush failed.
[[nodiscard]] bool flush_file_systems(file_system& fs, const std::vector<std::string>& folders);

}  // namespace weldrix
