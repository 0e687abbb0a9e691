// Whole-file reading and safe replacement of the output file, on any file_system.
#pragma once

#include <atomic>
#include <string>
#include <string_view>

#include "io/file_system.hpp"

namespace weldrix {

// Reads every byte of the named file (any kind but a folder: a pipe given as the input is read to
// its end). False when it cannot be opened or read; bytes is then unspecified.
bool read_file(file_system& fs, const std::string& name, std::string& bytes);

// Reads a subfile candidate: only a regular file counts (a folder, a device or a FIFO is passed
// over like a missing file, without blocking), and it is read only up to the size it has when
// opened. Files of the kernel's pseudo file systems report size 0 whatever they yield, and some
// block until they have something (/proc/kmsg): bounded by the size, a library that names one
// reads an empty file instead of hanging. False when it cannot be opened or read.
bool read_regular_file(file_system& fs, const std::string& name, std::string& bytes);

// The canonical absolute path of an existing file, or the name itself when there is none.
std::string real_path_or_name(file_system& fs, const std::string& name);

// Replaces the named file by bytes without ever leaving a damaged file behind:
//  * a symbolic link is followed to the file it finally names (a dangling link creates its
//    target);
//  * a regular (or missing) target is replaced atomically: the bytes go to a temporary file in
//    the target's folder, which is written, closed and checked, then renamed over the target. An
//    existing target keeps its permission bits; a new one gets the host's default;
//  * an existing target that this process may not write (a read-only file) is refused, as opening
//    it for writing would be;
//  * any other existing target that is not a folder (a device, a FIFO) is written directly.
// On any error the temporary file is removed, the target is left as it was, and false is
// returned. When stop is set (an interruption) before the rename, the same happens.
bool replace_file(file_system& fs, const std::string& name, std::string_view bytes,
                  const std::atomic<bool>* stop = nullptr);

// replace_file in two steps, for a caller that renames many files at the end: stage_file writes the
// bytes to the temporary file (or directly, to a device), commit_staged renames it over the target,
// discard_staged removes it.
struct staged_file {
    std::string target;     // the file that will be replaced (links followed)
    std::string temporary;  // empty when the bytes were written directly
};
bool stage_file(file_system& fs, const std::string& name, std::string_view bytes, staged_file& staged,
                const std::atomic<bool>* stop = nullptr);
bool commit_staged(file_system& fs, const staged_file& staged);
void discard_staged(file_system& fs, const staged_file& staged);

}  // namespace weldrix
