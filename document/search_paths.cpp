#include "document/search_paths.hpp"

#include <unistd.h>

#include "document/file_io.hpp"

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
        if (!host) continue;
        const int fd = open_regular_file(*host);
        if (fd < 0) continue;
        found.fd = fd;
        found.real_path = real_path(*host);
        if (found.real_path.empty()) found.real_path = *host;
        return true;
    }
    return false;
}

}  // namespace weldrix
