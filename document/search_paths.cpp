#include "document/search_paths.hpp"

namespace weldrix {

search_paths::search_paths(file_system& fs) : own_(std::make_unique<subfile_library>(fs)), library_(*own_) {}

search_paths::search_paths(subfile_library& shared) : library_(shared) {}

std::string search_paths::as_text() const {
    std::string out;
    for (std::size_t i = 0; i < directories.size(); ++i) {
        if (i) out += ", ";
        out += directories[i];
    }
    return out;
}

bool search_paths::open_subfile(std::string_view name, subfile_library::loaded& found) const {
    if (climbs_out(name)) return false;
    for (const std::string& directory : directories) {
        std::string candidate = directory;
        candidate += name;
        // A candidate that cannot be read, or is not LDraw text, is passed over like a missing one.
        const auto host = library_.resolve(candidate);
        if (!host) continue;
        auto loaded = library_.load(*host);
        if (!loaded) continue;
        found = std::move(*loaded);
        return true;
    }
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
