// Whole-file reading and safe replacement of the output file.
#pragma once

#include <string>
#include <string_view>

namespace weldrix {

// Reads every byte of the named file. False when it cannot be opened or read (a directory, a read
// error); bytes is then unspecified.
bool read_file(const std::string& name, std::string& bytes);

// Opens a subfile candidate: only a regular file counts (a directory, a device or a FIFO is passed
// over like a missing file, so a hostile library cannot make the tool hang or read forever).
// Returns the open descriptor or -1.
int open_regular_file(const std::string& host_path);

// The canonical absolute path of an existing file, or an empty string.
std::string real_path(const std::string& host_path);

// Replaces the named file by bytes without ever leaving a damaged file behind:
//  * a symbolic link is followed to the file it finally names (a dangling link creates its
//    target);
//  * a regular (or missing) target is replaced atomically: the bytes go to a temporary file in
//    the target's folder, which is written, closed and checked, then renamed over the target. An
//    existing target keeps its permission bits; a new one gets 0666 less the umask;
//  * any other existing target that is not a directory (a device, a FIFO) is written directly.
// On any error the temporary file is removed, the target is left as it was, and false is
// returned.
bool replace_file(const std::string& name, std::string_view bytes);

}  // namespace weldrix
