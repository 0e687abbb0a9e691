// The ordered list of directory prefixes in which subfiles are sought.
#pragma once

#include <cstdint>
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
    const std::vector<std::string>& directories() const { return directories_; }

    void add_path(std::string_view directory);

    // Every directory in list order, separated by ", ".
    std::string as_text() const;

    // Tries directory + name for each directory in order (the name is never tried alone) and
    // gives the first candidate that names a readable regular file of LDraw text on the host. A
    // name that climbs out (see climbs_out) is not tried at all. What a name finds is looked up
    // once per library and list: the documents of a batch in one folder share it. name_id is the
    // library's name_id of name.
    [[nodiscard]] bool open_subfile(std::string_view name, std::uint32_t name_id, subfile_library::loaded& found) const;

    subfile_library& library() const { return library_; }

private:
    std::unique_ptr<subfile_library> own_;
    subfile_library& library_;
    std::vector<std::string> directories_;
    std::uint32_t list_ = subfile_library::no_directories;  // the library's id of directories_
};

// Whether a subfile name has a ".." component ("\\" and "/" both separate components), which
// would take the lookup out of the search folder it is tried in ("..\\..\\secret.dat"). Such a
// name is never looked up, as an absolute name is never found. A component of dots and spaces
// only with two dots or more counts too: Windows drops trailing dots and spaces from a name.
bool climbs_out(std::string_view name);

}  // namespace weldrix
