#include "io/files.hpp"

#include <cerrno>
#include <cstdint>

#include "io/staged_writer.hpp"

namespace weldrix {
namespace {

// Closes an open handle at the end of a scope unless closed before.
class open_file {
public:
    open_file(file_system& fs, file_system::handle h) : fs_(fs), h_(h) {}
    ~open_file() {
        if (h_ != file_system::no_handle) {
            // Reached after an error, or after a read whose bytes are taken: what the close says
            // changes no result, and the handle is released whatever it says.
            [[maybe_unused]] const int ignored = fs_.close(h_);
        }
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

bool same_version(const file_status& a, const file_status& b) {
    return a.kind == b.kind && a.device == b.device && a.file_id == b.file_id && a.size == b.size &&
           a.modified == b.modified;
}

read_status read_whole_file(file_system& fs, const std::string& name, std::string& bytes, const std::atomic<bool>* stop,
                            bool regular_only, file_status* as_read) {
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
    if (as_read) *as_read = st;
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

std::string real_path_of(file_system& fs, const std::string& name) {
    std::string canonical;
    if (repeat_interrupted([&] { return fs.real_path(name, canonical); }) != 0) canonical.clear();
    return canonical;
}

std::string real_path_or_name(file_system& fs, const std::string& name) {
    std::string canonical = real_path_of(fs, name);
    return canonical.empty() ? name : canonical;
}

bool stage_file(file_system& fs, const std::string& name, std::string_view bytes, staged_file& staged,
                durability flushing, const std::atomic<bool>* stop) {
    staged = {};
    staged_writer writer(fs, name, flushing, stop);
    return writer.write(bytes) && writer.finish(staged);
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
