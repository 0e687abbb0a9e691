// Putting many staged files (files.hpp) in place together, as a run that writes many outputs does
// at its end: their data is flushed first, with one flush of each file system they are on instead
// of one per file (tens of thousands of flushes would cost more than the work that made them), and
// the renames after it, so that a crash at any moment leaves every target old or new and complete.
#pragma once

#include <vector>

#include "io/file_system.hpp"
#include "io/files.hpp"

namespace weldrix {

struct staged_commit {
    std::vector<bool> in_place;   // per staged file, in the order given: renamed over its target
    bool renames_flushed = true;  // false: files are in place, but their renames could not be flushed
};

// Flushes the file systems of the staged files (each of them even when one fails), then renames
// each file over its target in the order given and flushes the renames. When the first flush
// fails, nothing is put in place and every temporary file is removed: every target stays as it
// was. A file written directly (to a device) has nothing to flush and counts as in place.
[[nodiscard]] staged_commit commit_all_staged(file_system& fs, const std::vector<staged_file>& files);

}  // namespace weldrix
