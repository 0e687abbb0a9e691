// The file system of a run in a browser or in Node: the caller's files held in memory, the files of
// a library that are read only when the run opens one of them, and a record of the files the run
// wrote, which are what the caller gets back.
//
// A library folder picked in a browser can hold tens of thousands of files, of which a part uses a
// handful: their names are known at once (the folder listing), their bytes are read on demand.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "io/file_system.hpp"
#include "io/memory_file_system.hpp"

namespace weldrix {

class web_file_system final : public file_system {
public:
    // Reads the bytes of the lazy file registered with id; false when the host cannot read it.
    using reader = std::function<bool(int id, std::string& bytes)>;
    // Told the path of every file opened for reading (what a progress display counts).
    using observer = std::function<void(const std::string& path)>;

    web_file_system(reader read, observer opened);

    void add_file(const std::string& path, std::string_view bytes);
    void add_folder(const std::string& path);
    // A file whose bytes are read through the reader when the run first needs them.
    void add_lazy_file(const std::string& path, std::uint64_t size, int id);

    // The files the run wrote (created, replaced or written in place) that are there at its end,
    // by canonical path ("/cleaned/a.dat"), in path order.
    std::vector<std::pair<std::string, const std::string*>> written() const;

    bool names_ignore_case() const override { return false; }
    int status(const std::string& path, file_status& st) override;
    bool may_write(const std::string& path) override;
    int read_link(const std::string& path, std::string& target) override;
    int real_path(const std::string& path, std::string& canonical_path) override;
    int list_folder(const std::string& folder, std::vector<folder_entry>& list) override;
    int make_folder(const std::string& path) override;
    int rename(const std::string& from, const std::string& to) override;
    int remove(const std::string& path) override;
    int open_read(const std::string& path, bool regular_only, handle& h) override;
    int open_write(const std::string& path, handle& h) override;
    int create_temporary(const std::string& folder, std::string& path, handle& h) override;
    int copy_permissions(handle h, const std::string& like) override;
    int handle_status(handle h, file_status& st) override;
    int read(handle h, char* buffer, std::size_t size, std::size_t& got) override;
    int write(handle h, const char* bytes, std::size_t size, std::size_t& written) override;
    int close(handle h) override;
    int sync(handle h) override;
    int sync_folder(const std::string& folder) override;
    int sync_file_system(const std::string& path) override;
    int lock_folder(const std::string& folder, std::unique_ptr<folder_lock>& lock) override;

private:
    struct lazy_file {
        std::uint64_t size = 0;
        int id = 0;
    };
    // Reads a lazy file named by path into memory, once; EIO when the reader fails. 0 for any
    // other path.
    int load(const std::string& path);

    memory_file_system memory_;
    std::map<std::string, lazy_file> lazy_;  // by canonical path, until loaded
    std::set<std::string> written_;          // canonical paths
    reader read_;
    observer opened_;
};

}  // namespace weldrix
