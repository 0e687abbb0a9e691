#include "io/files.hpp"

#include <cerrno>
#include <cstdint>

namespace weldrix {
namespace {

// Closes an open handle at the end of a scope unless closed before.
class open_file {
public:
    open_file(file_system& fs, file_system::handle h) : fs_(fs), h_(h) {}
    ~open_file() {
        // Reached only on a path that already failed: the caller that needs the close's result
        // calls close() first, and the handle is released whatever the result.
        if (h_ != file_system::no_handle) static_cast<void>(fs_.close(h_));
    }
    open_file(const open_file&) = delete;
    open_file& operator=(const open_file&) = delete;
    file_system::handle get() const { return h_; }
    // Closes now and reports whether the close succeeded (a delayed write error shows here). EINTR
    // is no failure: the handle is released all the same (a close is never repeated), and a signal
    // during the close loses no byte.
    bool close() {
        const file_system::handle h = h_;
        h_ = file_system::no_handle;
        const int error = fs_.close(h);
        return error == 0 || error == EINTR;
    }

private:
    file_system& fs_;
    file_system::handle h_;
};

// Appends to bytes what the file holds, up to limit bytes in all, repeating interrupted calls
// (until stop is set); returns 0 or the error of the read that failed.
int read_up_to(file_system& fs, file_system::handle h, std::string& bytes, std::uint64_t limit,
               const std::atomic<bool>* stop = nullptr) {
    char chunk[1 << 16];
    while (bytes.size() < limit) {
        const std::size_t size =
            limit - bytes.size() < sizeof chunk ? static_cast<std::size_t>(limit - bytes.size()) : sizeof chunk;
        std::size_t got = 0;
        const int error = repeat_interrupted([&] { return fs.read(h, chunk, size, got); }, stop);
        if (error != 0) return error;
        if (got == 0) break;
        bytes.append(chunk, got);
    }
    return 0;
}

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

// Writes to a device or FIFO in place. Nothing is flushed: there is no file whose bytes could be
// lost (a pipe, a terminal, /dev/null), and fsync refuses most of them (EINVAL).
bool write_directly(file_system& fs, const std::string& name, std::string_view bytes, const std::atomic<bool>* stop) {
    file_system::handle h;
    if (repeat_interrupted([&] { return fs.open_write(name, h); }, stop) != 0) return false;
    open_file file(fs, h);
    const bool written = write_all(fs, h, bytes, stop);
    return file.close() && written;
}

// Removes a temporary file at the end of a scope, after an error or an exception (memory running
// out in a file system that keeps files in memory), unless it was renamed into place.
class temporary_file {
public:
    temporary_file(file_system& fs, const std::string& path) : fs_(fs), path_(path) {}
    ~temporary_file() {
        // Best effort on a path that already failed: a stray temporary file harms no target, and
        // the failure that brought us here is the one to report.
        if (!kept_) static_cast<void>(repeat_interrupted([&] { return fs_.remove(path_); }));
    }
    temporary_file(const temporary_file&) = delete;
    temporary_file& operator=(const temporary_file&) = delete;
    void keep() { kept_ = true; }

private:
    file_system& fs_;
    const std::string& path_;
    bool kept_ = false;
};

}  // namespace

bool means_absent(int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:
        case EISDIR:
        case ENODEV:
        case ENXIO:
        case EACCES:
        case EPERM:
        case ELOOP:
        case ENAMETOOLONG: return true;
        default: return false;
    }
}

read_failure::read_failure(const std::string& path, int error)
    : std::runtime_error(path + " can't be read"), path_(path), error_(error) {}

read_status read_whole_file(file_system& fs, const std::string& name, std::string& bytes, const std::atomic<bool>* stop,
                            bool regular_only) {
    bytes.clear();
    file_system::handle h;
    const int error = repeat_interrupted([&] { return fs.open_read(name, regular_only, h); }, stop);
    if (error != 0)
        return regular_only && (error == EISDIR || error == ENODEV) ? read_status::not_regular : read_status::failed;
    open_file file(fs, h);
    file_status st;
    if (repeat_interrupted([&] { return fs.handle_status(h, st); }, stop) != 0) return read_status::failed;
    if (regular_only && st.kind != file_kind::regular) return read_status::not_regular;
    if (st.kind == file_kind::folder) return read_status::failed;
    if (st.kind == file_kind::regular && st.size > 0) bytes.reserve(st.size);
    return read_up_to(fs, h, bytes, UINT64_MAX, stop) == 0 ? read_status::ok : read_status::failed;
}

bool read_file(file_system& fs, const std::string& name, std::string& bytes, const std::atomic<bool>* stop) {
    return read_whole_file(fs, name, bytes, stop, false) == read_status::ok;
}

bool read_regular_file(file_system& fs, const std::string& name, std::string& bytes) {
    bytes.clear();
    file_system::handle h;
    int error = repeat_interrupted([&] { return fs.open_read(name, true, h); });
    if (error != 0) {
        if (means_absent(error)) return false;
        throw read_failure(name, error);
    }
    open_file file(fs, h);
    file_status st;
    error = repeat_interrupted([&] { return fs.handle_status(h, st); });
    if (error != 0) throw read_failure(name, error);
    if (st.kind != file_kind::regular) return false;
    bytes.reserve(st.size);
    error = read_up_to(fs, h, bytes, st.size);  // a file that shrank gives what is left
    if (error != 0) throw read_failure(name, error);
    return true;
}

std::string real_path_or_name(file_system& fs, const std::string& name) {
    std::string canonical;
    if (repeat_interrupted([&] { return fs.real_path(name, canonical); }) != 0 || canonical.empty()) return name;
    return canonical;
}

bool stage_file(file_system& fs, const std::string& name, std::string_view bytes, staged_file& staged,
                durability flushing, const std::atomic<bool>* stop) {
    staged = {};
    if (name.empty()) return false;
    file_status st;
    // A device, FIFO or socket cannot be replaced; write to it directly. This is asked of the name
    // itself, so that the host follows links that only it can resolve: /dev/stdout leads to
    // /proc/self/fd/1, whose link text for a pipe ("pipe:[...]") names no path.
    if (repeat_interrupted([&] { return fs.status(name, st); }) != 0) return false;
    if (st.kind == file_kind::other) return write_directly(fs, name, bytes, stop);
    std::string target = name;
    if (!resolve_links(fs, target)) return false;

    // Without the status of the target, a read-only file could be replaced and an existing one
    // lose its permission bits: refused.
    if (repeat_interrupted([&] { return fs.status(target, st); }) != 0) return false;
    const bool exists = st.kind != file_kind::missing;
    if (st.kind == file_kind::folder) return false;
    if (st.kind == file_kind::other) return write_directly(fs, target, bytes, stop);
    // A file its owner made read-only is not replaced, just as opening it for writing would fail.
    if (exists && !fs.may_write(target)) return false;

    const std::string folder = folder_of(fs, target);
    const std::string like = exists ? target : std::string();
    std::string temporary;
    file_system::handle h;
    if (repeat_interrupted([&] { return fs.create_temporary(folder, temporary, h); }) != 0) return false;
    temporary_file remover(fs, temporary);  // declared first: removes the file after it is closed
    open_file file(fs, h);
    const auto stopped = [&] { return stop && stop->load(); };
    bool ok = repeat_interrupted([&] { return fs.copy_permissions(h, like); }) == 0;
    // In pieces, so that an interruption is noticed while a large file is written.
    constexpr std::size_t piece = std::size_t{4} << 20;
    for (std::size_t at = 0; ok && at < bytes.size(); at += piece)
        ok = !stopped() && write_all(fs, h, bytes.substr(at, piece), stop);
    // Flushed before the rename: a host that crashes after the rename must find the bytes behind
    // the new name, not an empty file.
    if (ok && flushing == durability::flush_each) ok = repeat_interrupted([&] { return fs.sync(h); }) == 0;
    ok = file.close() && ok && !stopped();
    if (!ok) return false;
    staged = {target, temporary, folder};  // may run out of memory: the remover still guards
    remover.keep();
    return true;
}

bool commit_staged(file_system& fs, const staged_file& staged, durability flushing) {
    if (staged.temporary.empty()) return true;     // written directly
    temporary_file remover(fs, staged.temporary);  // until the rename is done, whatever happens
    if (repeat_interrupted([&] { return fs.rename(staged.temporary, staged.target); }) != 0) return false;
    remover.keep();
    // The rename itself lives in the folder, which is flushed after it.
    return flushing != durability::flush_each || repeat_interrupted([&] { return fs.sync_folder(staged.folder); }) == 0;
}

void discard_staged(file_system& fs, const staged_file& staged) {
    // Best effort: a temporary file left behind harms no target, and the caller gives up on it.
    if (!staged.temporary.empty()) static_cast<void>(repeat_interrupted([&] { return fs.remove(staged.temporary); }));
}

bool replace_file(file_system& fs, const std::string& name, std::string_view bytes, durability flushing,
                  const std::atomic<bool>* stop) {
    staged_file staged;
    if (!stage_file(fs, name, bytes, staged, flushing, stop)) return false;
    if (stop && stop->load()) {
        discard_staged(fs, staged);
        return false;
    }
    return commit_staged(fs, staged, flushing);
}

}  // namespace weldrix
