// A file_system that wraps another one, records every call and makes chosen calls fail with the
// errors the host could give, for the fault-injection tests (tests/test_faults.cpp) and for
// checking the order of calls (tests/test_io.cpp).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include "io/file_system.hpp"

namespace weldrix::test {

// The calls of a file_system that reach the host.
enum class fs_call : std::uint8_t {
    status,
    may_write,
    read_link,
    real_path,
    list_folder,
    make_folder,
    rename,
    remove,
    open_read,
    open_write,
    create_temporary,
    copy_permissions,
    handle_status,
    read,
    write,
    close,
    sync,
    sync_folder,
    sync_file_system,
    lock_folder,
};

const char* name_of(fs_call call);

// Injected in place of an error number: a write that takes fewer bytes than asked (half of them,
// at least one), which is no error.
inline constexpr int short_write = -1;

// Injected in place of an error number: the call throws std::bad_alloc, as one of a file system
// that keeps files in memory does when memory runs out.
inline constexpr int out_of_memory = -2;

// What an error number is called ("EIO"), or "short write".
std::string error_name(int error);

// The failures a call can really give on a POSIX host, to inject. A call whose failure the tool
// cannot survive by design has none: when remove fails, a temporary file stays.
const std::vector<int>& injectable_errors(fs_call call);

struct call_record {
    fs_call call;
    std::string path;  // the path the call names, or the one its handle was opened on
};

class faulty_file_system final : public file_system {
public:
    explicit faulty_file_system(file_system& inner) : inner_(inner) {}

    // Makes call number n (counted from 1 since the construction) fail with error, once.
    void fail_call(std::uint64_t n, int error) {
        fail_at_ = n;
        fail_error_ = error;
    }
    // Makes the nth call (counted from 1) of that kind on that path fail with error, once; a
    // ".weldrix-" temporary file stands for any in its folder (their names change from run to
    // run). Unlike fail_call it finds the same call when two threads make calls at once (a batch's
    // main thread writes the report while a worker cleans), as each thread's calls keep their order.
    void fail_nth(fs_call call, const std::string& path, std::uint64_t n, int error) {
        fail_key_ = {call, same_temporaries(path)};
        fail_nth_ = n;
        fail_error_ = error;
    }
    // path, with the name of a ".weldrix-" temporary file made the same for every one.
    static std::string same_temporaries(const std::string& path);
    // Makes every call of that kind on that path fail with error, from now on.
    void fail_always(fs_call call, const std::string& path, int error) { always_[{call, path}] = error; }

    std::uint64_t calls() const { return trace_.size(); }
    const std::vector<call_record>& trace() const { return trace_; }
    // Whether the call chosen by fail_call or fail_nth was made (and failed).
    bool fired() const { return fired_; }
    // Its number in trace(), counted from 1.
    std::uint64_t fired_at() const { return fired_at_; }

    bool names_ignore_case() const override { return inner_.names_ignore_case(); }
    int status(const std::string& path, file_status& st) override;
    bool may_write(const std::string& path) override;
    int read_link(const std::string& path, std::string& target) override;
    int real_path(const std::string& path, std::string& canonical) override;
    int list_folder(const std::string& folder, std::vector<folder_entry>& entries) override;
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
    // Records the call and gives the failure to inject into it (0: none).
    int enter(fs_call call, const std::string& path);
    std::string path_of(handle h) const;
    int opened(int error, handle h, const std::string& path);

    file_system& inner_;
    std::vector<call_record> trace_;
    std::map<handle, std::string> paths_;  // of the open handles
    std::map<std::tuple<fs_call, std::string>, int> always_;
    std::uint64_t fail_at_ = 0;
    std::tuple<fs_call, std::string> fail_key_;
    std::uint64_t fail_nth_ = 0;
    std::map<std::tuple<fs_call, std::string>, std::uint64_t> made_;  // with fail_nth: calls per key
    int fail_error_ = 0;
    bool fired_ = false;
    std::uint64_t fired_at_ = 0;
    mutable std::mutex mutex_;  // a batch calls from its main thread and a worker at once
};

}  // namespace weldrix::test
