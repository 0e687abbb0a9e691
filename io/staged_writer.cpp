#include "io/staged_writer.hpp"

#include <cerrno>

namespace weldrix {
namespace {

// Writes every byte, continuing after short writes and repeating interrupted calls (until stop is
// set); false on an error. A write that takes no byte without an error is one too: repeating it
// could go on forever.
bool write_all(file_system& fs, file_system::handle h, std::string_view bytes, const std::atomic<bool>* stop) {
    while (!bytes.empty()) {
        std::size_t written = 0;
        const int error = repeat_interrupted([&] { return fs.write(h, bytes.data(), bytes.size(), written); }, stop);
        if (error != 0 || written == 0 || written > bytes.size()) return false;
        bytes.remove_prefix(written);
    }
    return true;
}

// On hosts that take "\" as a separator (names_ignore_case), a path may also start with a drive:
// "C:\x", or "C:x" in the drive's current folder. ("\\server\share\x" needs nothing more.)
bool has_drive(const file_system& fs, const std::string& path) {
    const char letter = path.empty() ? '\0' : static_cast<char>(path[0] | 0x20);
    return fs.names_ignore_case() && path.size() >= 2 && letter >= 'a' && letter <= 'z' && path[1] == ':';
}

// The folder a path names its file in: "." for a bare name, the root for a file in it ("/",
// "C:\"), the drive for "C:x" (its current folder there).
std::string folder_of(const file_system& fs, const std::string& path) {
    const auto slash = path.find_last_of(fs.names_ignore_case() ? "/\\" : "/");
    const std::size_t drive = has_drive(fs, path) ? 2 : 0;
    if (slash == std::string::npos) return drive != 0 ? path.substr(0, drive) : ".";
    if (slash == drive) return path.substr(0, slash + 1);
    return path.substr(0, slash);
}

bool is_absolute(const file_system& fs, const std::string& path) {
    return path[0] == '/' || (fs.names_ignore_case() && path[0] == '\\') || has_drive(fs, path);
}

// Follows symbolic links to the path that finally names a file (or nothing yet).
bool resolve_links(file_system& fs, std::string& path) {
    for (int hops = 0; hops < 64; ++hops) {
        std::string target;
        const int error = repeat_interrupted([&] { return fs.read_link(path, target); });
        if (error == EINVAL || error == ENOENT) return true;  // not a link, or nothing there yet
        if (error != 0 || target.empty()) return false;
        if (is_absolute(fs, target)) {
            path = target;
        } else {
            const std::string folder = folder_of(fs, path);
            const char last = folder.back();
            const bool windows = fs.names_ignore_case();
            const bool joined = last == '/' || (windows && (last == '\\' || last == ':'));
            path = folder + (joined ? "" : windows ? "\\" : "/") + target;
        }
    }
    return false;  // a loop of links
}

}  // namespace

staged_writer::staged_writer(file_system& fs, const std::string& name, durability flushing,
                             const std::atomic<bool>* stop, bool regular_only)
    : fs_(fs), flushing_(flushing), stop_(stop), regular_only_(regular_only) {
    // A constructor that throws (memory running out in a file system that keeps files in memory)
    // is not followed by the destructor.
    try {
        good_ = open(name);
    } catch (...) {
        close_and_remove();
        throw;
    }
}

staged_writer::~staged_writer() { close_and_remove(); }

// What stage_file did before its first byte.
bool staged_writer::open(const std::string& name) {
    if (name.empty()) return false;
    file_status st;
    // A device, FIFO or socket cannot be replaced; it is written directly, and never flushed: there
    // is no file whose bytes could be lost (a pipe, a terminal, /dev/null), and fsync refuses most of
    // them (EINVAL). This is asked of the name itself, so that the host follows links that only it
    // can resolve: /dev/stdout leads to /proc/self/fd/1, whose link text for a pipe ("pipe:[...]")
    // names no path.
    const auto open_directly = [&](const std::string& path) {
        return repeat_interrupted([&] { return fs_.open_write(path, handle_); }, stop_) == 0;
    };
    // Nothing of that name, not even a link: the common case of a new output needs no status.
    std::string link;
    const bool nothing_there = repeat_interrupted([&] { return fs_.read_link(name, link); }) == ENOENT;
    if (nothing_there) st.kind = file_kind::missing;
    if (!nothing_there && repeat_interrupted([&] { return fs_.status(name, st); }) != 0) return false;
    if (regular_only_ && st.kind != file_kind::regular && st.kind != file_kind::missing) {
        not_regular_ = true;
        return false;
    }
    if (st.kind == file_kind::other) return open_directly(name);
    std::string target = name;
    if (!nothing_there && !resolve_links(fs_, target)) return false;

    // Without the status of the target, a read-only file could be replaced and an existing one
    // lose its permission bits: refused. (The status of the name, links followed, is the
    // target's when no link was met.)
    if (target != name && repeat_interrupted([&] { return fs_.status(target, st); }) != 0) return false;
    const bool exists = st.kind != file_kind::missing;
    if (st.kind == file_kind::folder) return false;
    if (st.kind == file_kind::other) return open_directly(target);
    // A file its owner made read-only is not replaced, just as opening it for writing would fail.
    if (exists && !fs_.may_write(target)) return false;

    std::string folder = folder_of(fs_, target);
    const std::string like = exists ? target : std::string();
    std::string temporary;
    file_system::handle h;
    if (repeat_interrupted([&] { return fs_.create_temporary(folder, temporary, h); }) != 0) return false;
    handle_ = h;
    staged_.temporary = std::move(temporary);  // from here on removed unless finished
    staged_.target = std::move(target);
    staged_.folder = std::move(folder);
    return repeat_interrupted([&] { return fs_.copy_permissions(handle_, like); }) == 0;
}

bool staged_writer::write(std::string_view bytes) {
    if (!good_) return false;
    if (staged_.temporary.empty()) {
        good_ = write_all(fs_, handle_, bytes, stop_);
        return good_;
    }
    // In pieces, so that an interruption is noticed while a large file is written.
    constexpr std::size_t piece = std::size_t{4} << 20;
    for (std::size_t at = 0; good_ && at < bytes.size(); at += piece)
        good_ = !stopped() && write_all(fs_, handle_, bytes.substr(at, piece), stop_);
    return good_;
}

bool staged_writer::finish(staged_file& staged) {
    bool ok = good_;
    good_ = false;
    if (handle_ == file_system::no_handle) return false;
    const bool direct = staged_.temporary.empty();
    // Flushed before the rename: a host that crashes after the rename must find the bytes behind
    // the new name, not an empty file.
    if (ok && !direct && flushing_ == durability::flush_each)
        ok = repeat_interrupted([&] { return fs_.sync(handle_); }) == 0;
    // EINTR is no failure of a close: the handle is released all the same (a close is never
    // repeated), and a signal during the close loses no byte.
    const file_system::handle h = handle_;
    handle_ = file_system::no_handle;
    const int error = fs_.close(h);
    ok = (error == 0 || error == EINTR) && ok && (direct || !stopped());
    if (!ok) {
        close_and_remove();
        return false;
    }
    staged = staged_;  // may run out of memory: the destructor still removes the temporary file
    staged_.temporary.clear();
    return true;
}

void staged_writer::close_and_remove() {
    if (handle_ != file_system::no_handle) {
        // Reached on a path that already failed: the handle is released whatever the close says.
        static_cast<void>(fs_.close(handle_));
        handle_ = file_system::no_handle;
    }
    if (!staged_.temporary.empty()) {
        // A temporary file that cannot be removed is left behind; the failure is already reported.
        static_cast<void>(repeat_interrupted([&] { return fs_.remove(staged_.temporary); }));
        staged_.temporary.clear();
    }
}

}  // namespace weldrix
