#include "io/console.hpp"

#include <charconv>
#include <cstdio>

namespace weldrix {

std::string printable(std::string_view text) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7F) {
            out += c;
            continue;
        }
        out += "\\x";
        out += digits[byte >> 4];
        out += digits[byte & 0xF];
    }
    return out;
}

void console::count_line(std::size_t number, std::string_view label) {
    char buf[24];
    const auto end = std::to_chars(buf, buf + sizeof buf, number).ptr;
    write(std::string_view(buf, static_cast<std::size_t>(end - buf)));
    line(label);
}

void stdout_console::write(std::string_view text) {
    // An empty view may hold a null pointer, which fwrite must not be given even for no bytes.
    if (!text.empty()) std::fwrite(text.data(), 1, text.size(), stream_);
}

void stdout_console::flush() { std::fflush(stream_); }

bool stdout_console::failed_since_asked() {
    const bool failed = std::ferror(stream_) != 0;
    std::clearerr(stream_);
    return failed;
}

}  // namespace weldrix
