#include "document/search_paths.hpp"

#include "document/line_reader.hpp"
#include "io/files.hpp"

namespace weldrix {

std::string search_paths::as_text() const {
    std::string out;
    for (std::size_t i = 0; i < directories.size(); ++i) {
        if (i) out += ", ";
        out += directories[i];
    }
    return out;
}

bool search_paths::open_subfile(std::string_view name, found_subfile& found) const {
    for (const std::string& directory : directories) {
        std::string candidate = directory;
        candidate += name;
        const auto host = resolver_.resolve(candidate);
        // A candidate that cannot be read, or is not LDraw text, is passed over like a missing one.
        if (!host || !read_regular_file(resolver_.files(), *host, found.bytes) || !is_text(found.bytes)) continue;
        found.real_path = real_path_or_name(resolver_.files(), *host);
        return true;
    }
    return false;
}

}  // namespace weldrix
