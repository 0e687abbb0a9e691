#include "app/progress_line.hpp"

#include <cassert>
#include <cstdio>
#include <string>

namespace weldrix {

void progress_line::show(std::size_t done, std::size_t total, double seconds) {
    assert(done <= total);
    const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0;
    std::string text = "\r";
    text += std::to_string(done);
    text += '/';
    text += std::to_string(total);
    text += " files";
    if (rate > 0) {
        char buf[64];
        std::snprintf(buf, sizeof buf, ", %.0f files/s, %.0f s left", rate, static_cast<double>(total - done) / rate);
        text += buf;
    }
    text += "\x1b[K";
    out_.write(text);
    out_.flush();
    shown_ = true;
}

void progress_line::clear() {
    if (!shown_) return;
    out_.write("\r\x1b[K");
    shown_ = false;
}

}  // namespace weldrix
