// The progress line a batch keeps at the bottom of a terminal: "120/4000 files, 350 files/s, 11 s
// left", rewritten in place, and cleared before any other line is printed.
#pragma once

#include <cstddef>

#include "io/console.hpp"

namespace weldrix {

class progress_line {
public:
    explicit progress_line(console& out) : out_(out) {}

    // Shows done of total files after seconds (done <= total).
    void show(std::size_t done, std::size_t total, double seconds);
    // Removes the line, when one is shown.
    void clear();

private:
    console& out_;
    bool shown_ = false;
};

}  // namespace weldrix
