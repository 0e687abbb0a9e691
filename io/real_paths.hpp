// Canonical paths of many files that lie in a few folders (a batch's inputs, a library's files).
#pragma once

#include <mutex>
#include <string>
#include <unordered_map>

#include "io/file_system.hpp"

namespace weldrix {

// A canonical path costs the host a call per component of the path. A file that is no link has
// its folder's canonical path and its own name, though, and telling that it is no link takes one
// call: so each folder's is worked out once, and a file's from it. Anything else (a link, a name
// of dots, a host that ignores case, a folder without a canonical path) is asked of the host
// whole. Safe to use from several threads.
class real_paths {
public:
    explicit real_paths(file_system& fs) : fs_(fs) {}
    real_paths(const real_paths&) = delete;
    real_paths& operator=(const real_paths&) = delete;

    // What file_system::real_path gives for path: its canonical path, or empty when the host
    // cannot give one.
    [[nodiscard]] std::string of(const std::string& path);

private:
    file_system& fs_;
    std::mutex mutex_;                                      // guards folders_
    std::unordered_map<std::string, std::string> folders_;  // each folder's canonical path, empty: none
};

}  // namespace weldrix
