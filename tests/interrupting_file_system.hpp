// A file system that sets the interruption flag when a chosen output's temporary file is created:
// the interruption comes while that file is being written, deterministically.
#pragma once

#include <atomic>
#include <string>

#include "forwarding_file_system.hpp"

namespace weldrix::test {

class interrupting_file_system final : public forwarding_file_system {
public:
    // at_temporary: the temporary file, counted from 1, whose creation sets flag.
    interrupting_file_system(file_system& inner, std::atomic<bool>& flag, int at_temporary)
        : forwarding_file_system(inner), flag_(flag), at_(at_temporary) {}
    int create_temporary(const std::string& f, std::string& p, handle& h) override {
        if (++temporaries_ == at_) flag_.store(true);
        return inner_.create_temporary(f, p, h);
    }

private:
    std::atomic<bool>& flag_;
    int at_;
    int temporaries_ = 0;
};

}  // namespace weldrix::test
