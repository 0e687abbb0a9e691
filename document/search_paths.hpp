// The ordered list of directory prefixes in which subfiles are sought.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "document/subfile_library.hpp"
#include "io/file_system.hpp"

namespace weldrix {

class search_paths {
public:
    // A list with a library of its own, for one document.
    explicit search_paths(file_system& fs);
    // A list that finds and reads its files through a library shared with other lists (a batch).
    explicit search_paths(subfile_library& shared);

    // Prefixes exactly as added: nothing is inserted, changed, merged or checked.
    std::vector<std::string> directories;

    void add_path(std::string_view directory) { directories.emplace_back(directory); }

    // Every directory in list order, separated by ", ".
    std::string as_text() const;

    // Tries directory + name for each directory in order (the name is never tried alone) and
    // gives the first candidate that names a readable regular file of LDraw text on the host.
    bool open_subfile(std::string_view name, subfile_library::loaded& found) const;

    subfile_library& library() const { return library_; }

private:
    std::unique_ptr<subfile_library> own_;
    subfile_library& library_;
};

}  // namespace weldrix
