#include "web/web_file_system.hpp"

#include <cerrno>
#include <utility>

namespace weldrix {

web_file_system::web_file_system(reader read, observer opened) : read_(std::move(read)), opened_(std::move(opened)) {}

void web_file_system::add_file(const std::string& path, std::string_view bytes) {
    lazy_.erase(memory_file_system::canonical(path));
    memory_.add_file(path, bytes);
}

void web_file_system::add_folder(const std::string& path) { memory_.add_folder(path); }

void web_file_system::add_lazy_file(const std::string& path, std::uint64_t size, int id) {
    const std::string name = memory_file_system::canonical(path);
    if (memory_.find(name)) return;  // the caller's own file of that name wins
    const auto slash = name.rfind('/');
    memory_.add_folder(slash == 0 ? "/" : name.substr(0, slash));
    lazy_[name] = {size, id};
}

std::vector<std::pair<std::string, const std::string*>> web_file_system::written() const {
    std::vector<std::pair<std::string, const std::string*>> files;
    for (const std::string& path : written_) {
        if (const std::string* bytes = memory_.find(path)) files.emplace_back(path, bytes);
    }
    return files;
}

int web_file_system::load(const std::string& path) {
    const auto found = lazy_.find(memory_file_system::canonical(path));
    if (found == lazy_.end()) return 0;
    std::string bytes;
    if (!read_(found->second.id, bytes)) return EIO;
    const std::string name = found->first;
    lazy_.erase(found);
    memory_.add_file(name, bytes);
    return 0;
}

int web_file_system::status(const std::string& path, file_status& st) {
    const auto found = path.empty() ? lazy_.end() : lazy_.find(memory_file_system::canonical(path));
    if (found == lazy_.end()) return memory_.status(path, st);
    st = {};
    st.kind = file_kind::regular;
    st.size = found->second.size;
    st.permissions = 0644;
    st.device = 1;
    return 0;
}

bool web_file_system::may_write(const std::string& path) { return load(path) == 0 && memory_.may_write(path); }

int web_file_system::read_link(const std::string& path, std::string& target) {
    if (!path.empty() && lazy_.count(memory_file_system::canonical(path))) return EINVAL;
    return memory_.read_link(path, target);
}

int web_file_system::real_path(const std::string& path, std::string& canonical_path) {
    const std::string name = memory_file_system::canonical(path);
    if (path.empty() || !lazy_.count(name)) return memory_.real_path(path, canonical_path);
    canonical_path = name;
    return 0;
}

int web_file_system::list_folder(const std::string& folder, std::vector<folder_entry>& list) {
    const int error = memory_.list_folder(folder, list);
    if (error != 0) return error;
    const std::string name = memory_file_system::canonical(folder);
    const std::string prefix = name == "/" ? "/" : name + "/";
    for (auto it = lazy_.lower_bound(prefix); it != lazy_.end() && it->first.compare(0, prefix.size(), prefix) == 0;
         ++it) {
        const std::string rest = it->first.substr(prefix.size());
        if (rest.find('/') == std::string::npos) list.push_back({rest, file_kind::regular});
    }
    return 0;
}

int web_file_system::make_folder(const std::string& path) {
    if (lazy_.count(memory_file_system::canonical(path))) return EEXIST;
    return memory_.make_folder(path);
}

int web_file_system::rename(const std::string& from, const std::string& to) {
    if (const int error = load(from)) return error;
    if (const int error = load(to)) return error;
    const int error = memory_.rename(from, to);
    if (error == 0) {
        written_.erase(memory_file_system::canonical(from));
        written_.insert(memory_file_system::canonical(to));
    }
    return error;
}

int web_file_system::remove(const std::string& path) {
    if (const int error = load(path)) return error;
    const int error = memory_.remove(path);
    if (error == 0) written_.erase(memory_file_system::canonical(path));
    return error;
}

int web_file_system::open_read(const std::string& path, bool regular_only, handle& h) {
    h = no_handle;
    if (const int error = load(path)) return error;
    const int error = memory_.open_read(path, regular_only, h);
    if (error == 0 && opened_) opened_(memory_file_system::canonical(path));
    return error;
}

int web_file_system::open_write(const std::string& path, handle& h) {
    h = no_handle;
    if (const int error = load(path)) return error;
    const int error = memory_.open_write(path, h);
    if (error == 0) written_.insert(memory_file_system::canonical(path));
    return error;
}

int web_file_system::create_temporary(const std::string& folder, std::string& path, handle& h) {
    return memory_.create_temporary(folder, path, h);
}

int web_file_system::copy_permissions(handle h, const std::string& like) {
    if (const int error = load(like)) return error;
    return memory_.copy_permissions(h, like);
}

int web_file_system::handle_status(handle h, file_status& st) { return memory_.handle_status(h, st); }

int web_file_system::read(handle h, char* buffer, std::size_t size, std::size_t& got) {
    return memory_.read(h, buffer, size, got);
}

int web_file_system::write(handle h, const char* bytes, std::size_t size, std::size_t& written) {
    return memory_.write(h, bytes, size, written);
}

int web_file_system::close(handle h) { return memory_.close(h); }
int web_file_system::sync(handle h) { return memory_.sync(h); }
int web_file_system::sync_folder(const std::string& folder) { return memory_.sync_folder(folder); }
int web_file_system::sync_file_system(const std::string& path) { return memory_.sync_file_system(path); }

// One run at a time owns the module's folders; the lock still behaves as on every host.
int web_file_system::lock_folder(const std::string& folder, std::unique_ptr<folder_lock>& lock) {
    return memory_.lock_folder(folder, lock);
}

}  // namespace weldrix
