#include "io/staged_outputs.hpp"

#include <cstdint>
#include <unordered_set>

namespace weldrix {

placed place_file(file_system& fs, const std::string& name, std::string_view bytes, std::string& folder,
                  const std::atomic<bool>* stop, const place_checks& checks, durability renames) {
    folder.clear();
    if (checks.regular_only) {
        file_status st;
        if (repeat_interrupted([&] { return fs.status(name, st); }) != 0) return placed::failed;
        if (st.kind != file_kind::regular && st.kind != file_kind::missing) return placed::not_regular;
    }
    staged_file staged;
    if (!stage_file(fs, name, bytes, staged, durability::flush_each, stop)) return placed::failed;
    if (stop && stop->load()) {
        discard_staged(fs, staged);
        return placed::failed;
    }
    if (checks.as_read) {
        file_status now;
        const int error = repeat_interrupted([&] { return fs.status(staged.target, now); });
        if (error != 0 || !same_version(now, *checks.as_read)) {
            discard_staged(fs, staged);
            return error != 0 ? placed::failed : placed::changed;
        }
    }
    // Copied before the rename: memory that runs out after it must not fail a file in place.
    try {
        if (!staged.temporary.empty() && renames == durability::none_here) folder = staged.folder;
    } catch (...) {
        discard_staged(fs, staged);
        throw;
    }
    if (commit_staged(fs, staged, renames)) return placed::yes;
    folder.clear();
    return placed::failed;
}

bool flush_file_systems(file_system& fs, const std::vector<std::string>& folders) {
    std::unordered_set<std::string> seen_folders;
    std::unordered_set<std::uint64_t> seen_devices;
    bool all = true;
    for (const std::string& folder : folders) {
        if (!seen_folders.insert(folder).second) continue;
        // An output is put next to the file a link leads to, which may be on another file system
        // than the others.
        file_status st;
        const bool known = repeat_interrupted([&] { return fs.status(folder, st); }) == 0 &&
                           st.kind == file_kind::folder && st.device != 0;
        if (known && !seen_devices.insert(st.device).second) continue;
        all = repeat_interrupted([&] { return fs.sync_file_system(folder); }) == 0 && all;
    }
    return all;
}

}  // namespace weldrix
