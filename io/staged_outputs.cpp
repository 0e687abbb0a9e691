#include "io/staged_outputs.hpp"

#include <cstdint>
#include <string>
#include <unordered_set>

namespace weldrix {
namespace {

// A folder of the staged files on each file system they are on. A file is staged next to the file
// a link leads to, which may be on another file system than the others. A folder whose file system
// the host cannot tell counts as one of its own.
std::vector<std::string> staged_file_systems(file_system& fs, const std::vector<staged_file>& files) {
    std::vector<std::string> folders;
    std::unordered_set<std::string> seen_folders;
    std::unordered_set<std::uint64_t> seen_devices;
    for (const staged_file& staged : files) {
        // A file written directly (a device) has nothing to flush.
        if (staged.temporary.empty()) continue;
        const std::string& folder = staged.folder;
        if (!seen_folders.insert(folder).second) continue;
        file_status st;
        const bool known = repeat_interrupted([&] { return fs.status(folder, st); }) == 0 &&
                           st.kind == file_kind::folder && st.device != 0;
        if (known && !seen_devices.insert(st.device).second) continue;
        folders.push_back(folder);
    }
    return folders;
}

// Flushes the file systems that hold folders, each of them even when one fails.
bool flush(file_system& fs, const std::vector<std::string>& folders) {
    bool all = true;
    for (const std::string& folder : folders) {
        all = repeat_interrupted([&] { return fs.sync_file_system(folder); }) == 0 && all;
    }
    return all;
}

}  // namespace

staged_commit commit_all_staged(file_system& fs, const std::vector<staged_file>& files) {
    staged_commit result;
    result.in_place.assign(files.size(), false);
    const std::vector<std::string> file_systems = staged_file_systems(fs, files);
    const bool flushed = flush(fs, file_systems);
    bool any_committed = false;
    for (std::size_t i = 0; i < files.size(); ++i) {
        const bool committed = flushed && commit_staged(fs, files[i], durability::none_here);
        if (!flushed) discard_staged(fs, files[i]);
        result.in_place[i] = committed;
        any_committed = any_committed || committed;
    }
    // The renames are flushed when there are any: after a failed first flush nothing was put in
    // place, and the caller must not say that files are in place unflushed.
    if (any_committed && !flush(fs, file_systems)) result.renames_flushed = false;
    return result;
}

}  // namespace weldrix
