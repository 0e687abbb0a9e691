#include "faulty_file_system.hpp"

#include <cerrno>
#include <cstring>
#include <new>

namespace weldrix::test {

const char* name_of(fs_call call) {
    switch (call) {
        case fs_call::status: return "status";
        case fs_call::may_write: return "may_write";
        case fs_call::read_link: return "read_link";
        case fs_call::real_path: return "real_path";
        case fs_call::list_folder: return "list_folder";
        case fs_call::make_folder: return "make_folder";
        case fs_call::rename: return "rename";
        case fs_call::remove: return "remove";
        case fs_call::open_read: return "open_read";
        case fs_call::open_write: return "open_write";
        case fs_call::create_temporary: return "create_temporary";
        case fs_call::copy_permissions: return "copy_permissions";
        case fs_call::handle_status: return "handle_status";
        case fs_call::read: return "read";
        case fs_call::write: return "write";
        case fs_call::close: return "close";
        case fs_call::sync: return "sync";
        case fs_call::sync_folder: return "sync_folder";
        case fs_call::sync_file_system: return "sync_file_system";
        case fs_call::lock_folder: return "lock_folder";
    }
    return "?";
}

std::string error_name(int error) {
    switch (error) {
        case short_write: return "short write";
        case out_of_memory: return "std::bad_alloc";
        case ENOENT: return "ENOENT";
        case EACCES: return "EACCES";
        case EPERM: return "EPERM";
        case EMFILE: return "EMFILE";
        case EIO: return "EIO";
        case EINTR: return "EINTR";
        case ENOSPC: return "ENOSPC";
        case EWOULDBLOCK: return "EWOULDBLOCK";
        case ENOLCK: return "ENOLCK";
        default: return std::strerror(error);
    }
}

const std::vector<int>& injectable_errors(fs_call call) {
    // EINTR where Linux really gives it: calls that open something (a FIFO or a network file
    // system may block there), reads, writes and close, and the calls on paths that a network or
    // FUSE file system may interrupt (status, links, making a folder). Every caller repeats it.
    static const std::vector<int> none, status{EACCES, EIO, EINTR}, may_write{EACCES}, link{EACCES, EIO, EINTR},
        listing{EACCES, EIO, EMFILE, EINTR}, rename{EACCES, EIO, ENOSPC}, open{ENOENT, EACCES, EMFILE, EIO, EINTR},
        temporary{ENOSPC, EACCES, EMFILE, EINTR}, permissions{EPERM}, handle_status{EIO}, read{EIO, EINTR},
        write{ENOSPC, EIO, EINTR, short_write}, close{EIO, EINTR}, sync{EIO, ENOSPC}, sync_folder{EIO, EINTR},
        sync_file_system{EIO}, lock{EACCES, EMFILE, ENOLCK, EWOULDBLOCK}, interrupted{EINTR};
    switch (call) {
        case fs_call::status: return status;
        case fs_call::may_write: return may_write;
        case fs_call::read_link:
        case fs_call::real_path: return link;
        case fs_call::list_folder: return listing;
        case fs_call::rename: return rename;
        case fs_call::open_read:
        case fs_call::open_write: return open;
        case fs_call::create_temporary: return temporary;
        case fs_call::copy_permissions: return permissions;
        case fs_call::handle_status: return handle_status;
        case fs_call::read: return read;
        case fs_call::write: return write;
        case fs_call::close: return close;
        case fs_call::sync: return sync;
        case fs_call::sync_folder: return sync_folder;
        case fs_call::sync_file_system: return sync_file_system;
        case fs_call::lock_folder: return lock;
        case fs_call::make_folder: return interrupted;
        case fs_call::remove: return none;
    }
    return none;
}

std::string faulty_file_system::same_temporaries(const std::string& path) {
    const std::size_t name = path.rfind('/') + 1;  // 0 without a folder
    if (path.compare(name, 9, ".weldrix-") != 0) return path;
    return path.substr(0, name) + ".weldrix-*";
}

int faulty_file_system::enter(fs_call call, const std::string& path) {
    const std::lock_guard<std::mutex> lock(mutex_);
    trace_.push_back({call, path});
    int error = 0;
    bool nth = false;
    if (fail_nth_ != 0) {
        const std::tuple<fs_call, std::string> key{call, same_temporaries(path)};
        nth = key == fail_key_ && ++made_[key] == fail_nth_;
    }
    if (trace_.size() == fail_at_ || nth) {
        fired_ = true;
        fired_at_ = trace_.size();
        error = fail_error_;
    } else if (const auto always = always_.find({call, path}); always != always_.end()) {
        error = always->second;
    }
    if (error == out_of_memory) throw std::bad_alloc();
    return error;
}

std::string faulty_file_system::path_of(handle h) const {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto found = paths_.find(h);
    return found == paths_.end() ? "?" : found->second;
}

int faulty_file_system::opened(int error, handle h, const std::string& path) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (error == 0) paths_[h] = path;
    return error;
}

int faulty_file_system::status(const std::string& path, file_status& st) {
    if (const int error = enter(fs_call::status, path)) {
        st = {};
        return error;
    }
    return inner_.status(path, st);
}

bool faulty_file_system::may_write(const std::string& path) {
    return enter(fs_call::may_write, path) == 0 && inner_.may_write(path);
}

int faulty_file_system::read_link(const std::string& path, std::string& target) {
    if (const int error = enter(fs_call::read_link, path)) return error;
    return inner_.read_link(path, target);
}

int faulty_file_system::real_path(const std::string& path, std::string& canonical) {
    if (const int error = enter(fs_call::real_path, path)) return error;
    return inner_.real_path(path, canonical);
}

int faulty_file_system::list_folder(const std::string& folder, std::vector<folder_entry>& entries) {
    if (const int error = enter(fs_call::list_folder, folder)) {
        entries.clear();
        return error;
    }
    return inner_.list_folder(folder, entries);
}

int faulty_file_system::make_folder(const std::string& path) {
    if (const int error = enter(fs_call::make_folder, path)) return error;
    return inner_.make_folder(path);
}

int faulty_file_system::rename(const std::string& from, const std::string& to) {
    if (const int error = enter(fs_call::rename, to)) return error;
    return inner_.rename(from, to);
}

int faulty_file_system::remove(const std::string& path) {
    if (const int error = enter(fs_call::remove, path)) return error;
    return inner_.remove(path);
}

int faulty_file_system::open_read(const std::string& path, bool regular_only, handle& h) {
    if (const int error = enter(fs_call::open_read, path)) {
        h = no_handle;
        return error;
    }
    const int error = inner_.open_read(path, regular_only, h);
    return opened(error, h, path);
}

int faulty_file_system::open_write(const std::string& path, handle& h) {
    if (const int error = enter(fs_call::open_write, path)) {
        h = no_handle;
        return error;
    }
    const int error = inner_.open_write(path, h);
    return opened(error, h, path);
}

int faulty_file_system::create_temporary(const std::string& folder, std::string& path, handle& h) {
    if (const int error = enter(fs_call::create_temporary, folder)) {
        h = no_handle;
        return error;
    }
    const int error = inner_.create_temporary(folder, path, h);
    return opened(error, h, path);
}

int faulty_file_system::copy_permissions(handle h, const std::string& like) {
    if (const int error = enter(fs_call::copy_permissions, path_of(h))) return error;
    return inner_.copy_permissions(h, like);
}

int faulty_file_system::handle_status(handle h, file_status& st) {
    if (const int error = enter(fs_call::handle_status, path_of(h))) return error;
    return inner_.handle_status(h, st);
}

int faulty_file_system::read(handle h, char* buffer, std::size_t size, std::size_t& got) {
    if (const int error = enter(fs_call::read, path_of(h))) {
        got = 0;
        return error;
    }
    return inner_.read(h, buffer, size, got);
}

int faulty_file_system::write(handle h, const char* bytes, std::size_t size, std::size_t& written) {
    const int error = enter(fs_call::write, path_of(h));
    if (error == short_write) return inner_.write(h, bytes, size > 1 ? size / 2 : size, written);
    if (error != 0) {
        written = 0;
        return error;
    }
    return inner_.write(h, bytes, size, written);
}

int faulty_file_system::close(handle h) {
    // A failed close releases the handle all the same, as on Linux.
    const int error = enter(fs_call::close, path_of(h));
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        paths_.erase(h);
    }
    const int closed = inner_.close(h);
    return error != 0 ? error : closed;
}

int faulty_file_system::sync(handle h) {
    if (const int error = enter(fs_call::sync, path_of(h))) return error;
    return inner_.sync(h);
}

int faulty_file_system::sync_folder(const std::string& folder) {
    if (const int error = enter(fs_call::sync_folder, folder)) return error;
    return inner_.sync_folder(folder);
}

int faulty_file_system::sync_file_system(const std::string& path) {
    if (const int error = enter(fs_call::sync_file_system, path)) return error;
    return inner_.sync_file_system(path);
}

int faulty_file_system::lock_folder(const std::string& folder, std::unique_ptr<folder_lock>& lock) {
    if (const int error = enter(fs_call::lock_folder, folder)) {
        lock.reset();
        return error;
    }
    return inner_.lock_folder(folder, lock);
}

}  // namespace weldrix::test
