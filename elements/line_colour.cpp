#include "elements/line_colour.hpp"

#include <charconv>

namespace weldrix {

line_colour line_colour::direct(std::string_view token) {
    line_colour colour(0);
    colour.direct_ = std::make_unique<const std::string>(token);
    return colour;
}

line_colour::line_colour(const line_colour& other)
    : number_(other.number_), direct_(other.direct_ ? std::make_unique<const std::string>(*other.direct_) : nullptr) {}

line_colour& line_colour::operator=(const line_colour& other) {
    if (this != &other) *this = line_colour(other);
    return *this;
}

void line_colour::append_text(std::string& out) const {
    if (direct_) {
        out += *direct_;
        return;
    }
    char buf[12];
    out.append(buf, std::to_chars(buf, buf + sizeof buf, number_).ptr);
}

}  // namespace weldrix
