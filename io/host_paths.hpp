// Mapping subfile candidates, composed Windows-style ("lib\parts\s\3001s01.dat"), onto the files
// of the host.
//
// A host whose names ignore letter case and take "\" as a separator is handed the candidate
// unchanged. Elsewhere every "\" becomes "/"; when that path exists it is used as is, otherwise it
// is walked from its start one component at a time, each matched to an entry of its folder: the
// exact name when present, else the first name (in byte order) equal to it without regard to
// ASCII letter case. Empty components are skipped, "." and ".." are taken literally. Folder
// listings are read once and kept for the resolver's lifetime. A folder that is missing or may not
// be read holds no names; one that the host fails to list (EIO, EMFILE, ...) throws read_failure
// (io/files.hpp).
// A resolver may be used from several threads at once.
#pragma once

#include <optional>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "io/file_system.hpp"

namespace weldrix {

class host_path_resolver {
public:
    explicit host_path_resolver(file_system& fs) : fs_(fs) {}

    file_system& files() const { return fs_; }

    // The host path the candidate names, or nothing when no file matches it.
    [[nodiscard]] std::optional<std::string> resolve(std::string_view candidate);

private:
    // The sorted names in a folder (empty when it cannot be listed).
    const std::vector<std::string>& listing(const std::string& folder);

    file_system& fs_;
    std::shared_mutex mutex_;  // guards listings_; an entry, once in, never changes or moves
    std::unordered_map<std::string, std::vector<std::string>> listings_;
};

}  // namespace weldrix
