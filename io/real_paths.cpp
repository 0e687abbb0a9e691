#include "io/real_paths.hpp"

#include <cerrno>
#include <string_view>

#include "io/files.hpp"

namespace weldrix {

std::string real_paths::of(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (fs_.names_ignore_case() || slash == std::string::npos || slash == 0) return real_path_of(fs_, path);
    const std::string_view name = std::string_view(path).substr(slash + 1);
    if (name.empty() || name == "." || name == "..") return real_path_of(fs_, path);
    // EINVAL: the file is there and is no link (ENOENT: not there; a link gives its target).
    std::string target;
    if (repeat_interrupted([&] { return fs_.read_link(path, target); }) != EINVAL) return real_path_of(fs_, path);
    const std::string folder_path = path.substr(0, slash);
    std::string folder;
    bool known = false;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        const auto found = folders_.find(folder_path);
        if (found != folders_.end()) folder = found->second, known = true;
    }
    if (!known) {
        folder = real_path_of(fs_, folder_path);
        const std::lock_guard<std::mutex> lock(mutex_);
        folders_.try_emplace(folder_path, folder);
    }
    if (folder.empty()) return real_path_of(fs_, path);
    if (folder.back() != '/') folder += '/';
    folder += name;
    return folder;
}

}  // namespace weldrix
