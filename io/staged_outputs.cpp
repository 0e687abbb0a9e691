#include "io/staged_outputs.hpp"

#include <cstdint>
#include <unordered_set>

#include "io/staged_writer.hpp"

namespace weldrix {

placed place_file(file_system& fs, const std::string& name, std::string_view bytes, std::string& folder,
                  const std::atomic<bool>* stop, const place_checks& checks, durability renames) {
    folder.clear();
    staged_file staged;
    {
        staged_writer writer(fs, name, durability::flush_each, stop, checks.regular_only);
        if (writer.not_regular()) return placed::not_regular;
        if (!writer.write(bytes) || !writer.finish(staged)) return placed::failed;
    }
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

staged_group::staged_group(file_system& fs, const std::atomic<bool>* stop, done_call done)
    : fs_(fs), stop_(stop), done_(std::move(done)) {
    try {
        staged_.reserve(most);
    } catch (const std::bad_alloc&) {
        // add then fails the outputs it cannot keep
    }
}

staged_group::~staged_group() {
    for (const output& out : staged_) discard_staged(fs_, out.staged);
}

void staged_group::add(std::size_t tag, const std::string& name, std::string_view bytes, const place_checks& checks) {
    placed what = placed::failed;
    output out;
    out.tag = tag;
    out.check_version = checks.as_read != nullptr;
    if (checks.as_read) out.as_read = *checks.as_read;
    try {
        {
            staged_writer writer(fs_, name, durability::none_here, stop_, checks.regular_only);
            if (writer.not_regular()) what = placed::not_regular;
            if (writer.good() && writer.write(bytes) && writer.finish(out.staged)) what = placed::yes;
        }
        if (what == placed::yes && !out.staged.temporary.empty()) {
            staged_.push_back(std::move(out));  // leaves out as it was should it throw
            if (staged_.size() == most) commit();
            return;
        }
    } catch (const std::bad_alloc&) {
        discard_staged(fs_, out.staged);
        what = placed::out_of_memory;
    }
    done_(tag, what, {});  // failed, or written directly (nothing to flush)
}

placed staged_group::rename(output& out, std::string& folder) {
    if (out.check_version) {
        file_status now;
        const int error = repeat_interrupted([&] { return fs_.status(out.staged.target, now); });
        if (error != 0) return placed::failed;
        if (!same_version(now, out.as_read)) return placed::changed;
    }
    // Copied before the rename: memory that runs out after it must not fail a file in place.
    try {
        folder = out.staged.folder;
    } catch (const std::bad_alloc&) {
        return placed::out_of_memory;
    }
    if (commit_staged(fs_, out.staged, durability::none_here)) return placed::yes;
    folder.clear();
    return placed::failed;
}

void staged_group::commit() {
    if (staged_.empty()) return;
    std::vector<output> group;
    group.swap(staged_);
    bool flushed = false;
    placed failure = placed::failed;
    try {
        std::vector<std::string> folders;
        folders.reserve(group.size());
        for (const output& out : group) folders.push_back(out.staged.folder);
        flushed = flush_file_systems(fs_, folders);
    } catch (const std::bad_alloc&) {
        failure = placed::out_of_memory;
    }
    for (output& out : group) {
        std::string folder;
        const placed what = flushed ? rename(out, folder) : failure;
        if (what != placed::yes) discard_staged(fs_, out.staged);
        out.staged.temporary.clear();
        done_(out.tag, what, std::move(folder));
    }
    try {
        staged_.reserve(most);
    } catch (const std::bad_alloc&) {
        // add then commits each output on its own as it cannot keep it
    }
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
