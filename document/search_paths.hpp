// The ordered list of directory prefixes in which subfiles are sought.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "io/file_system.hpp"
#include "io/host_paths.hpp"

namespace weldrix {

// A subfile found along the list.
struct found_subfile {
    std::string bytes;      // its content
    std::string real_path;  // canonical path, the file's identity
};

class search_paths {
public:
    explicit search_paths(file_system& fs) : resolver_(fs) {}

    // Prefixes exactly as added: nothing is inserted, changed, merged or checked.
    std::vector<std::string> directories;

    void add_path(std::string_view directory) { directories.emplace_back(directory); }

    // Every directory in list order, separated by ", ".
    std::string as_text() const;

    // Tries directory + name for each directory in order (the name is never tried alone) and reads
    // the first candidate that names a readable regular file of LDraw text on the host.
    bool open_subfile(std::string_view name, found_subfile& found) const;

private:
    mutable host_path_resolver resolver_;  // its folder listings are a cache
};

}  // namespace weldrix
