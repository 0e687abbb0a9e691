// A file_system that hands every call to another one: the base of the tests' wrappers, which
// override only the calls they change.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "io/file_system.hpp"

namespace weldrix::test {

class forwarding_file_system : public file_system {
public:
    explicit forwarding_file_system(file_system& inner) : inner_(inner) {}

    bool names_ignore_case() const override { return inner_.names_ignore_case(); }
    int status(const std::string& p, file_status& st) override { return inner_.status(p, st); }
    bool may_write(const std::string& p) override { return inner_.may_write(p); }
    int read_link(const std::string& p, std::string& t) override { return inner_.read_link(p, t); }
    int real_path(const std::string& p, std::string& c) override { return inner_.real_path(p, c); }
    int list_folder(const std::string& f, std::vector<folder_entry>& e) override { return inner_.list_folder(f, e); }
    int make_folder(const std::string& p) override { return inner_.make_folder(p); }
    int rename(const std::string& f, const std::string& t) override { return inner_.rename(f, t); }
    int remove(const std::string& p) override { return inner_.remove(p); }
    int open_read(const std::string& p, bool r, handle& h) override { return inner_.open_read(p, r, h); }
    int open_write(const std::string& p, handle& h) override { return inner_.open_write(p, h); }
    int create_temporary(const std::string& f, std::string& p, handle& h) override {
        return inner_.create_temporary(f, p, h);
    }
    int copy_permissions(handle h, const std::string& l) override { return inner_.copy_permissions(h, l); }
    int handle_status(handle h, file_status& st) override { return inner_.handle_status(h, st); }
    int read(handle h, char* b, std::size_t s, std::size_t& g) override { return inner_.read(h, b, s, g); }
    int write(handle h, const char* b, std::size_t s, std::size_t& w) override { return inner_.write(h, b, s, w); }
    int close(handle h) override { return inner_.close(h); }
    int sync(handle h) override { return inner_.sync(h); }
    int sync_folder(const std::string& f) override { return inner_.sync_folder(f); }
    int sync_file_system(const std::string& p) override { return inner_.sync_file_system(p); }
    int lock_folder(const std::string& f, std::unique_ptr<folder_lock>& l) override { return inner_.lock_folder(f, l); }

protected:
    file_system& inner_;
};

}  // namespace weldrix::test
