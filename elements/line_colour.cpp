#include "elements/line_colour.hpp"

#include <charconv>

namespace weldrix {

line_colour line_colour::direct(std::string_view token) { return line_colour(0, colour_token(token)); }

void line_colour::append_text(std::string& out) const {
    if (direct_) {
        out += direct_.text();
        return;
    }
    char buf[12];
    out.append(buf, std::to_chars(buf, buf + sizeof buf, number_).ptr);
}

}  // namespace weldrix
