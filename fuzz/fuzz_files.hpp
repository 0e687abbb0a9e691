// In-memory file systems for the fuzz targets that run the tool: they never touch the disk.
#pragma once

#include <atomic>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "io/memory_file_system.hpp"

namespace weldrix::fuzz {

// The files (and folders, with a null content) a memory_file_system is filled with, so that each
// run can start from the same state: a memory_file_system cannot be copied.
struct file_tree {
    struct file {
        std::string path;
        std::string bytes;
        bool folder = false;
        bool writable = true;
    };
    std::vector<file> files;

    void add(std::string path, std::string bytes, bool writable = true) {
        files.push_back({std::move(path), std::move(bytes), false, writable});
    }
    void add_folder(std::string path) { files.push_back({std::move(path), {}, true, true}); }
    void fill(memory_file_system& fs) const {
        for (const file& f : files) {
            if (f.folder)
                fs.add_folder(f.path);
            else
                fs.add_file(f.path, f.bytes, f.writable);
        }
    }
};

// Whether two memory file systems hold the same files and folders, with the same bytes and
// permission.
inline bool same_files(const memory_file_system& a, const memory_file_system& b) {
    const auto& x = a.entries();
    const auto& y = b.entries();
    if (x.size() != y.size()) return false;
    for (auto i = x.begin(), j = y.begin(); i != x.end(); ++i, ++j) {
        if (i->first != j->first || i->second.folder != j->second.folder || i->second.writable != j->second.writable ||
            i->second.bytes != j->second.bytes)
            return false;
    }
    return true;
}

// Whether a path names a temporary file of replace_file (".weldrix-N" in any folder).
inline bool is_temporary(std::string_view path) {
    const auto slash = path.rfind('/');
    return path.substr(slash == std::string_view::npos ? 0 : slash + 1).starts_with(".weldrix-");
}

// A file system that passes every call to another one and counts them, by kind: whether a run
// read, wrote or even looked at anything. Safe to use from several threads, as a batch does.
class counting_file_system final : public file_system {
public:
    explicit counting_file_system(file_system& inner) : inner_(inner) {}

    std::size_t calls() const { return calls_.load(); }
    std::size_t reads() const { return reads_.load(); }    // open_read
    std::size_t writes() const { return writes_.load(); }  // anything that changes the file system

    bool names_ignore_case() const override { return inner_.names_ignore_case(); }
    int status(const std::string& p, file_status& st) override { return count(), inner_.status(p, st); }
    bool may_write(const std::string& p) override { return count(), inner_.may_write(p); }
    int read_link(const std::string& p, std::string& t) override { return count(), inner_.read_link(p, t); }
    int real_path(const std::string& p, std::string& c) override { return count(), inner_.real_path(p, c); }
    int list_folder(const std::string& f, std::vector<folder_entry>& e) override {
        return count(), inner_.list_folder(f, e);
    }
    int make_folder(const std::string& p) override { return change(), inner_.make_folder(p); }
    int rename(const std::string& f, const std::string& t) override { return change(), inner_.rename(f, t); }
    int remove(const std::string& p) override { return change(), inner_.remove(p); }
    int open_read(const std::string& p, bool r, handle& h) override {
        count();
        ++reads_;
        return inner_.open_read(p, r, h);
    }
    int open_write(const std::string& p, handle& h) override { return change(), inner_.open_write(p, h); }
    int create_temporary(const std::string& f, std::string& p, handle& h) override {
        return change(), inner_.create_temporary(f, p, h);
    }
    int copy_permissions(handle h, const std::string& l) override { return change(), inner_.copy_permissions(h, l); }
    int handle_status(handle h, file_status& st) override { return count(), inner_.handle_status(h, st); }
    int read(handle h, char* b, std::size_t s, std::size_t& g) override { return count(), inner_.read(h, b, s, g); }
    int write(handle h, const char* b, std::size_t s, std::size_t& w) override {
        return change(), inner_.write(h, b, s, w);
    }
    int close(handle h) override { return count(), inner_.close(h); }
    int sync(handle h) override { return count(), inner_.sync(h); }
    int sync_folder(const std::string& f) override { return count(), inner_.sync_folder(f); }
    int sync_file_system(const std::string& p) override { return count(), inner_.sync_file_system(p); }
    int lock_folder(const std::string& f, std::unique_ptr<folder_lock>& l) override {
        return count(), inner_.lock_folder(f, l);
    }

private:
    void count() { ++calls_; }
    void change() {
        ++calls_;
        ++writes_;
    }

    file_system& inner_;
    std::atomic<std::size_t> calls_{0}, reads_{0}, writes_{0};
};

// The console text with the figure of the batch's "Elapsed time: 0.0 s" line taken out: the one
// line that may differ between two runs of the same batch.
inline std::string without_elapsed_time(std::string text) {
    static constexpr std::string_view label = "Elapsed time: ";
    for (auto at = text.find(label); at != std::string::npos; at = text.find(label, at + label.size())) {
        const auto end = text.find('\n', at);
        text.erase(at + label.size(), end == std::string::npos ? std::string::npos : end - at - label.size());
    }
    return text;
}

}  // namespace weldrix::fuzz
