// Whole-file reading and safe replacement of the output file, on any file_system.
#pragma once

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "io/file_system.hpp"

namespace weldrix {

// Makes a call of a file_system until it is not interrupted (EINTR): a signal that arrives during
// a call says nothing about the file. Returns the call's result.
//
// With stop, a call is no longer made once stop is set, and EINTR is returned: a call that blocks
// (opening a FIFO that no other process opens, reading a pipe that stays silent) is interrupted
// by the signal that asks the run to stop, and making it again would block again.
template <class Call>
[[nodiscard]] int repeat_interrupted(Call&& call, const std::atomic<bool>* stop = nullptr) {
    int error;
    do {
        if (stop && stop->load()) return EINTR;
        error = call();
    } while (error == EINTR);
    return error;
}

// Whether an error of opening, reading the status of or listing a path says that nothing this
// process may read is there: a missing path, one that is not a regular file or folder, or one it
// has no permission for. Any other error (EIO, EMFILE, ENOMEM, ...) is a failure of the host that
// says nothing about the path.
[[nodiscard]] bool means_absent(int error);

// A file that is there could not be read because the host failed (see means_absent). Going on as if
// the file were missing would give another result by chance, so the reader stops instead.
class read_failure : public std::runtime_error {
public:
    read_failure(const std::string& path, int error);
    const std::string& path() const { return path_; }
    int error() const { return error_; }

private:
    std::string path_;
    int error_;
};

// Whether two statuses are of one version of one file: the same device, file number, size and
// modification time. A file saved anew (written to a temporary file and renamed over it) or
// written in place since is another version.
[[nodiscard]] bool same_version(const file_status& a, const file_status& b);

// Reads every byte of the named file (any kind but a folder: a pipe given as the input is read to
// its end). False when it cannot be opened or read, or when stop is set while it waits for one
// (see repeat_interrupted); bytes is then unspecified.
[[nodiscard]] bool read_file(file_system& fs, const std::string& name, std::string& bytes,
                             const std::atomic<bool>* stop = nullptr);

enum class read_status : std::uint8_t {
    ok,
    failed,       // it cannot be opened or read, or stop was set while it waited
    not_regular,  // regular files only were asked for: a folder, a FIFO, a device, a socket
};
// read_file, telling why it failed; with regular_only, anything but a regular file is passed over
// unread (never waited for) as not_regular: what a folder's listing called a file may have been
// replaced by a FIFO or a device since.
// With as_read, the file's status when it was opened.
[[nodiscard]] read_status read_whole_file(file_system& fs, const std::string& name, std::string& bytes,
                                          const std::atomic<bool>* stop = nullptr, bool regular_only = false,
                                          file_status* as_read = nullptr);

// Reads a subfile candidate: only a regular file counts (a folder, a device or a FIFO is passed
// over like a missing file, without blocking), and it is read only up to the size it has when
// opened. Files of the kernel's pseudo file systems report size 0 whatever they yield, and some
// block until they have something (/proc/kmsg): bounded by the size, a library that names one
// reads an empty file instead of hanging. False when nothing readable is there (means_absent);
// throws read_failure when the host fails to open or read it.
[[nodiscard]] bool read_regular_file(file_system& fs, const std::string& name, std::string& bytes);

// The canonical absolute path of an existing file, or empty when the host cannot give one.
[[nodiscard]] std::string real_path_of(file_system& fs, const std::string& name);
// The canonical absolute path of an existing file, or the name itself when there is none.
[[nodiscard]] std::string real_path_or_name(file_system& fs, const std::string& name);

// How replace_file makes the new content durable, so that it survives a crash of the host or a
// power cut (until then it may live only in the host's memory).
enum class durability : std::uint8_t {
    // The temporary file is flushed (file_system::sync) before it is closed and renamed, and the
    // target's folder (file_system::sync_folder) after the rename. When replace_file returns true,
    // the target holds the new bytes and keeps them through any crash; a crash at any moment before
    // leaves the old file or the new one, complete (and at worst a stray temporary file).
    flush_each,
    // Nothing is flushed: replace_file returns once the rename is done, with the same result and
    // the same errors otherwise. For a caller that flushes many files in one go, which it must do
    // before it reports any of them as written: one file_system::sync_file_system on the target's
    // folder after the last replacement flushes them all (an error there cannot say which file it
    // concerns, so every file replaced since the last successful flush counts as not written).
    // Until that flush has returned, a crash may leave a target with its new name and without its
    // bytes (empty or partly written): replaced in place, a file may lose both its old and its new
    // content. A caller that needs the guarantee of flush_each for every file uses flush_each, for
    // instance from worker threads, so that the flushes of several files overlap.
    none_here,
};

// Replaces the named file by bytes without ever leaving a damaged file behind:
//  * a symbolic link is followed to the file it finally names (a dangling link creates its
//    target);
//  * a regular (or missing) target is replaced atomically: the bytes go to a temporary file in
//    the target's folder, which is written, flushed as durability says, closed and checked, then
//    renamed over the target. An existing target keeps its permission bits; a new one gets the
//    host's default;
//  * a target whose status cannot be read, or an existing one that this process may not write
//    (a read-only file), is refused, as opening it for writing would be;
//  * any other existing target that is not a folder (a device, a FIFO) is written directly and
//    never flushed; when stop is set while it waits for one (a FIFO that nothing reads), false.
// Interrupted calls are repeated and short writes continued; neither is an error. On any error
// before the rename the temporary file is removed, the target is left as it was, and false is
// returned. When the folder cannot be flushed after the rename, false is returned too: the target
// then holds the complete new bytes, which a power cut may still take back.
// When stop is set (an interruption) before the rename, the temporary file is removed and false
// returned, the target left as it was.
[[nodiscard]] bool replace_file(file_system& fs, const std::string& name, std::string_view bytes,
                                durability flushing = durability::flush_each, const std::atomic<bool>* stop = nullptr);

// replace_file in two steps, for a caller that puts many files in place at the end: stage_file
// writes the bytes to the temporary file (or directly, to a device), flushed as durability says;
// commit_staged renames it over the target and flushes the folder; discard_staged removes it.
struct staged_file {
    std::string target;     // the file that will be replaced (links followed)
    std::string temporary;  // empty when the bytes were written directly
    std::string folder;     // the target's folder
};
[[nodiscard]] bool stage_file(file_system& fs, const std::string& name, std::string_view bytes, staged_file& staged,
                              durability flushing = durability::flush_each, const std::atomic<bool>* stop = nullptr);
[[nodiscard]] bool commit_staged(file_system& fs, const staged_file& staged,
                                 durability flushing = durability::flush_each);
void discard_staged(file_system& fs, const staged_file& staged);

}  // namespace weldrix
