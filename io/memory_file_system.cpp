#include "io/memory_file_system.hpp"

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <vector>

namespace weldrix {

std::string memory_file_system::canonical(std::string_view path) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t stop = path.find('/', start);
        if (stop == std::string_view::npos) stop = path.size();
        const std::string_view part = path.substr(start, stop - start);
        start = stop + 1;
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
            continue;
        }
        parts.push_back(part);
    }
    std::string result;
    for (const std::string_view part : parts) {
        result += '/';
        result += part;
    }
    return result.empty() ? "/" : result;
}

std::string memory_file_system::parent_of(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
}

bool memory_file_system::is_folder(const std::string& canonical_path) const {
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    const auto found = entries_.find(canonical_path);
    return found != entries_.end() && found->second.folder;
}

void memory_file_system::add_folder(const std::string& path) {
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    const std::string name = canonical(path);
    if (name != "/") add_folder(parent_of(name));
    entries_[name] = {true, true, {}};
}

void memory_file_system::add_file(const std::string& path, std::string_view bytes, bool writable) {
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    const std::string name = canonical(path);
    add_folder(parent_of(name));
    const std::int64_t version = entries_.count(name) ? entries_[name].version + 1 : 0;
    entries_[name] = {false, writable, std::string(bytes), next_id_++, version};
}

const std::string* memory_file_system::find(const std::string& path) const {
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    const auto found = entries_.find(canonical(path));
    return found == entries_.end() || found->second.folder ? nullptr : &found->second.bytes;
}

int memory_file_system::status(const std::string& path, file_status& st) {
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    st = {};
    if (path.empty()) return 0;
    const auto found = entries_.find(canonical(path));
    if (found == entries_.end()) return 0;
    st.kind = found->second.folder ? file_kind::folder : file_kind::regular;
    st.size = found->second.bytes.size();
    st.permissions = found->second.writable ? 0644 : 0444;
    st.device = 1;  // one file system holds every entry
    st.file_id = found->second.id;
    st.modified = found->second.version;
    return 0;
}

bool memory_file_system::may_write(const std::string& path) {
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    const auto found = entries_.find(canonical(path));
    return found != entries_.end() && found->second.writable;
}

int memory_file_system::read_link(const std::string& path, std::string&) {
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    return entries_.count(canonical(path)) ? EINVAL : ENOENT;
}

int memory_file_system::real_path(const std::string& path, std::string& canonical_path) {
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    const std::string name = canonical(path);
    if (path.empty() || !entries_.count(name)) return ENOENT;
    canonical_path = name;
    return 0;
}

int memory_file_system::list_folder(const std::string& folder, std::vector<folder_entry>& list) {
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    list.clear();
    const std::string name = canonical(folder);
    if (!entries_.count(name)) return ENOENT;
    if (!is_folder(name)) return ENOTDIR;
    const std::string prefix = name == "/" ? "/" : name + "/";
    list.push_back({".", file_kind::folder});
    list.push_back({"..", file_kind::folder});
    for (auto it = entries_.lower_bound(prefix);
         it != entries_.end() && it->first.compare(0, prefix.size(), prefix) == 0; ++it) {
        const std::string rest = it->first.substr(prefix.size());
        if (rest.empty() || rest.find('/') != std::string::npos) continue;
        list.push_back({rest, it->second.folder ? file_kind::folder : file_kind::regular});
    }
    return 0;
}

int memory_file_system::make_folder(const std::string& path) {
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    const std::string name = canonical(path);
    if (entries_.count(name)) return EEXIST;
    if (!is_folder(parent_of(name))) return ENOENT;
    entries_[name] = {true, true, {}};
    return 0;
}

int memory_file_system::rename(const std::string& from, const std::string& to) {
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    const std::string source = canonical(from);
    const std::string target = canonical(to);
    const auto found = entries_.find(source);
    if (found == entries_.end()) return ENOENT;
    if (found->second.folder || is_folder(target)) return EISDIR;
    if (!is_folder(parent_of(target))) return ENOENT;
    entry moved = std::move(found->second);
    entries_.erase(found);
    entries_[target] = std::move(moved);
    return 0;
}

int memory_file_system::remove(const std::string& path) {
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    const auto found = entries_.find(canonical(path));
    if (found == entries_.end()) return ENOENT;
    if (found->second.folder) return EISDIR;
    entries_.erase(found);
    return 0;
}

int memory_file_system::open_read(const std::string& path, bool, handle& h) {
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    h = no_handle;
    if (path.empty()) return ENOENT;
    const std::string name = canonical(path);
    const auto found = entries_.find(name);
    if (found == entries_.end()) return ENOENT;
    if (found->second.folder) return EISDIR;
    h = next_handle_++;
    open_[h] = {name, 0, false};
    return 0;
}

int memory_file_system::open_write(const std::string& path, handle& h) {
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    h = no_handle;
    const std::string name = canonical(path);
    const auto found = entries_.find(name);
    if (found == entries_.end()) return ENOENT;
    if (found->second.folder) return EISDIR;
    if (!found->second.writable) return EACCES;
    found->second.bytes.clear();
    ++found->second.version;
    h = next_handle_++;
    open_[h] = {name, 0, true};
    return 0;
}

int memory_file_system::create_temporary(const std::string& folder, std::string& path, handle& h) {
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    h = no_handle;
    const std::string name = canonical(folder);
    if (!is_folder(name)) return ENOENT;
    do {
        path = (name == "/" ? "" : name) + "/.weldrix-" + std::to_string(next_temporary_++);
    } while (entries_.count(path));
    entries_[path] = {false, true, {}, next_id_++, 0};
    h = next_handle_++;
    open_[h] = {path, 0, true};
    return 0;
}

int memory_file_system::copy_permissions(handle h, const std::string& like) {
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    const auto file = open_.find(h);
    if (file == open_.end()) return EBADF;
    const auto model = entries_.find(canonical(like));
    entries_[file->second.path].writable = like.empty() || model == entries_.end() || model->second.writable;
    return 0;
}

int memory_file_system::handle_status(handle h, file_status& st) {
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    const auto file = open_.find(h);
    if (file == open_.end()) return EBADF;
    return status(file->second.path, st);
}

int memory_file_system::read(handle h, char* buffer, std::size_t size, std::size_t& got) {
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    got = 0;
    const auto file = open_.find(h);
    if (file == open_.end() || file->second.writing) return EBADF;
    const auto found = entries_.find(file->second.path);
    if (found == entries_.end()) return EIO;
    const std::string& bytes = found->second.bytes;
    const std::size_t at = file->second.position;
    got = at >= bytes.size() ? 0 : std::min(size, bytes.size() - at);
    bytes.copy(buffer, got, at);
    file->second.position += got;
    return 0;
}

int memory_file_system::write(handle h, const char* bytes, std::size_t size, std::size_t& written) {
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    written = 0;
    const auto file = open_.find(h);
    if (file == open_.end() || !file->second.writing) return EBADF;
    const auto found = entries_.find(file->second.path);
    if (found == entries_.end()) return EIO;
    found->second.bytes.append(bytes, size);
    ++found->second.version;
    written = size;
    return 0;
}

int memory_file_system::close(handle h) {
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    return open_.erase(h) ? 0 : EBADF;
}

int memory_file_system::sync(handle h) {
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    return open_.count(h) ? 0 : EBADF;
}

int memory_file_system::sync_folder(const std::string& folder) {
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    const std::string name = canonical(folder);
    return is_folder(name) ? 0 : entries_.count(name) ? ENOTDIR : ENOENT;
}

int memory_file_system::sync_file_system(const std::string&) {
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    return 0;
}

class memory_file_system::memory_folder_lock final : public folder_lock {
public:
    memory_folder_lock(memory_file_system& fs, std::string folder) : fs_(fs), folder_(std::move(folder)) {}
    ~memory_folder_lock() override {
        const std::lock_guard<std::recursive_mutex> lock(fs_.mutex_);
        fs_.locked_.erase(folder_);
    }

private:
    memory_file_system& fs_;
    std::string folder_;
};

int memory_file_system::lock_folder(const std::string& folder, std::unique_ptr<folder_lock>& lock) {
    lock.reset();
    const std::lock_guard<std::recursive_mutex> guard(mutex_);
    const std::string name = canonical(folder);
    if (!is_folder(name)) return entries_.count(name) ? ENOTDIR : ENOENT;
    if (locked_.count(name)) return EWOULDBLOCK;
    auto held = std::make_unique<memory_folder_lock>(*this, name);  // from here on, releases the entry
    locked_.insert(name);
    lock = std::move(held);
    return 0;
}

}  // namespace weldrix
