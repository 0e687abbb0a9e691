// A file system held in memory: files and folders in a map, for tests, fuzzing and callers that
// clean LDraw text without touching the disk. Paths use "/" and are taken from the root "/" (a
// relative path is relative to it); "." and ".." are resolved by name. There are no links. It may be
// used from several threads at once; entries() is for when none is using it.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>

#include "io/file_system.hpp"

namespace weldrix {

class memory_file_system final : public file_system {
public:
    // Adds (or replaces) a file, with the folders above it.
    void add_file(const std::string& path, std::string_view bytes, bool writable = true);
    void add_folder(const std::string& path);
    // The content of a file, or null when there is no file of that name.
    const std::string* find(const std::string& path) const;
    // Every file and folder, by canonical path ("/a/b.dat"); folders have no content.
    struct entry {
        bool folder = false;
        bool writable = true;
        std::string bytes;
        // Its number, given when it is made (a rename keeps it), and how often its content was
        // written: what a host's inode and modification time tell (file_status).
        std::uint64_t id = 0;
        std::int64_t version = 0;
    };
    const std::map<std::string, entry>& entries() const { return entries_; }

    // The canonical form of a path: absolute, "/"-separated, without "." and "..".
    static std::string canonical(std::string_view path);

    [[nodiscard]] bool names_ignore_case() const override { return false; }
    [[nodiscard]] int status(const std::string& path, file_status& st) override;
    [[nodiscard]] bool may_write(const std::string& path) override;
    [[nodiscard]] int read_link(const std::string& path, std::string& target) override;
    [[nodiscard]] int real_path(const std::string& path, std::string& canonical_path) override;
    [[nodiscard]] int list_folder(const std::string& folder, std::vector<folder_entry>& list) override;
    [[nodiscard]] int make_folder(const std::string& path) override;
    [[nodiscard]] int rename(const std::string& from, const std::string& to) override;
    [[nodiscard]] int remove(const std::string& path) override;
    [[nodiscard]] int open_read(const std::string& path, bool regular_only, handle& h) override;
    [[nodiscard]] int open_write(const std::string& path, handle& h) override;
    [[nodiscard]] int create_temporary(const std::string& folder, std::string& path, handle& h) override;
    [[nodiscard]] int copy_permissions(handle h, const std::string& like) override;
    [[nodiscard]] int handle_status(handle h, file_status& st) override;
    [[nodiscard]] int read(handle h, char* buffer, std::size_t size, std::size_t& got) override;
    [[nodiscard]] int write(handle h, const char* bytes, std::size_t size, std::size_t& written) override;
    [[nodiscard]] int close(handle h) override;
    // The memory holds everything at once: there is nothing to flush.
    [[nodiscard]] int sync(handle h) override;
    [[nodiscard]] int sync_folder(const std::string& folder) override;
    [[nodiscard]] int sync_file_system(const std::string& path) override;
    // Locks by canonical folder path; a lock must not outlive the file system.
    [[nodiscard]] int lock_folder(const std::string& folder, std::unique_ptr<folder_lock>& lock) override;

private:
    class memory_folder_lock;
    struct open_file {
        std::string path;
        std::size_t position = 0;
        bool writing = false;
    };
    // The folder above a canonical path ("/" for a top-level name).
    static std::string parent_of(const std::string& path);
    bool is_folder(const std::string& canonical_path) const;

    mutable std::recursive_mutex mutex_;  // a batch uses it from several threads
    std::map<std::string, entry> entries_{{"/", {true, true, {}}}};
    std::map<handle, open_file> open_;
    std::set<std::string> locked_;  // the folders a lock is held on
    handle next_handle_ = 3;
    unsigned next_temporary_ = 0;
    std::uint64_t next_id_ = 1;
};

}  // namespace weldrix
