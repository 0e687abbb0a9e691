#include "document/search_paths.hpp"

namespace weldrix {

search_paths::search_paths(file_system& fs) : own_(std::make_unique<subfile_library>(fs)), library_(*own_) {}

search_paths::search_paths(subfile_library& shared) : library_(shared) {}

void search_paths::add_path(std::string_view directory) {
    directories_.emplace_back(directory);
    list_ = library_.search_list(list_, directory);
}

std::string search_paths::as_text() const {
    std::string out;
    for (std::size_t i = 0; i < directories_.size(); ++i) {
        if (i) out += ", ";
        out += directories_[i];
    }
    return out;
}

bool search_paths::open_subfile(std::string_view name, std::uint32_t name_id, subfile_library::loaded& found) const {
    if (climbs_out(name)) return false;
    subfile_library::lookup before = library_.found_before(list_, name_id);
    using state = subfile_library::lookup::state;
    if (before.is == state::not_found) return false;
    if (before.file) {
        found = std::move(*before.file);
        return true;
    }
    if (before.is == state::found) {
        if (auto loaded = library_.load(before.host)) {
            found = std::move(*loaded);
            library_.remember(list_, name_id, std::move(before.host));
            return true;
        }
        // Dropped from the cache and unreadable since: every candidate is tried again.
    }
    for (const std::string& directory : directories_) {
        std::string candidate = directory;
        candidate += name;
        // A candidate that cannot be read, or is not LDraw text, is passed over like a missing one.
        auto host = library_.resolve(candidate);
        if (!host) continue;
        auto loaded = library_.load(*host);
        if (!loaded) continue;
        found = std::move(*loaded);
        library_.remember(list_, name_id, std::move(host));
        return true;
    }
    library_.remember(list_, name_id, std::nullopt);
    return false;
}

bool climbs_out(std::string_view name) {
    std::size_t dots = 0;
    bool only_dots_and_spaces = true;
    for (std::size_t i = 0; i <= name.size(); ++i) {
        if (i == name.size() || name[i] == '/' || name[i] == '\\') {
            if (only_dots_and_spaces && dots >= 2) return true;
            dots = 0;
            only_dots_and_spaces = true;
        } else if (name[i] == '.') {
            ++dots;
        } else if (name[i] != ' ') {
            only_dots_and_spaces = false;
        }
    }
    return false;
}

}  // namespace weldrix
