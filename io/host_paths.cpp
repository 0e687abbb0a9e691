#include "io/host_paths.hpp"

#include <algorithm>
#include <mutex>

#include "io/ascii.hpp"
#include "io/files.hpp"

namespace weldrix {
namespace {}  // namespace

const std::vector<std::string>& host_path_resolver::listing(const std::string& folder) {
    {
        const std::shared_lock<std::shared_mutex> lock(mutex_);
        const auto found = listings_.find(folder);
        if (found != listings_.end()) return found->second;
    }
    std::vector<std::string> names;
    std::vector<folder_entry> entries;
    // A folder that is missing or may not be read has no names. An interrupted listing is repeated,
    // and one the host fails to give is an error: taken for an empty folder, either would hide the
    // subfiles in it by chance.
    const int error = repeat_interrupted([&] { return fs_.list_folder(folder, entries); });
    if (error != 0 && !means_absent(error)) throw read_failure(folder, error);
    names.reserve(entries.size());
    for (folder_entry& entry : entries) names.push_back(std::move(entry.name));
    std::sort(names.begin(), names.end());
    // Another thread may have listed it meanwhile; the first listing stays.
    const std::unique_lock<std::shared_mutex> lock(mutex_);
    return listings_.emplace(folder, std::move(names)).first->second;
}

std::optional<std::string> host_path_resolver::resolve(std::string_view candidate) {
    if (fs_.names_ignore_case()) {
        if (candidate.empty()) return std::nullopt;
        return std::string(candidate);
    }
    std::string path(candidate);
    std::replace(path.begin(), path.end(), '\\', '/');
    if (path.empty()) return std::nullopt;
    file_status st;
    if (repeat_interrupted([&] { return fs_.status(path, st); }) == 0 && st.kind != file_kind::missing) return path;

    std::string walked = path[0] == '/' ? "/" : "";
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t stop = path.find('/', start);
        if (stop == std::string::npos) stop = path.size();
        const std::string_view component(path.data() + start, stop - start);
        start = stop + 1;
        if (component.empty()) continue;

        std::string_view match = component;
        if (component != "." && component != "..") {
            const auto& names = listing(walked.empty() ? "." : walked);
            const auto exact = std::lower_bound(names.begin(), names.end(), component);
            if (exact == names.end() || *exact != component) {
                const auto folded = std::find_if(names.begin(), names.end(), [&](const std::string& name) {
                    return equal_ignoring_ascii_case(name, component);
                });
                if (folded == names.end()) return std::nullopt;
                match = *folded;
            }
        }
        if (!walked.empty() && walked.back() != '/') walked += '/';
        walked += match;
    }
    if (walked.empty()) return std::nullopt;
    return walked;
}

}  // namespace weldrix
