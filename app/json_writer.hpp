// Appends JSON to a string, for the JSON report and the data of the report page.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "geometry/point.hpp"

namespace weldrix {

// Texts may hold any bytes: what is not valid UTF-8 is written as U+FFFD, so the result is always
// valid UTF-8. For a page (in_page) every "<" is written "\u003c", so the text cannot end the
// script element that holds it.
class json_writer {
public:
    json_writer(std::string& out, bool in_page) : out_(out), in_page_(in_page) {}

    void raw(std::string_view text) { out_ += text; }
    void key(std::string_view name) {
        string(name);
        out_ += ':';
    }
    // An object's fields: open writes {"name": for the first, field ,"name": for each after it
    // (with its value, when given), close the "}".
    void open(std::string_view name) {
        out_ += '{';
        key(name);
    }
    void field(std::string_view name) {
        out_ += ',';
        key(name);
    }
    void field(std::string_view name, std::size_t n) {
        field(name);
        integer(n);
    }
    void field(std::string_view name, double v) {
        field(name);
        number(v);
    }
    void field(std::string_view name, bool b) {
        field(name);
        boolean(b);
    }
    void field(std::string_view name, const char* text) = delete;  // it would be taken for a bool
    void text_field(std::string_view name, std::string_view text) {
        field(name);
        string(text);
    }
    void close() { out_ += '}'; }
    void integer(std::size_t n) { out_ += std::to_string(n); }
    void boolean(bool b) { out_ += b ? "true" : "false"; }

    // As the tool writes numbers ("%.7lg"); infinities and NaN as the strings "inf", "-inf", "nan".
    void number(double v);
    void point_array(const point& p) {
        out_ += '[';
        number(p.x);
        out_ += ',';
        number(p.y);
        out_ += ',';
        number(p.z);
        out_ += ']';
    }
    void string(std::string_view text);
    // An array of count values, the i-th written by item(i).
    template <class Item>
    void array(std::size_t count, Item item) {
        out_ += '[';
        for (std::size_t i = 0; i < count; ++i) {
            if (i) out_ += ',';
            item(i);
        }
        out_ += ']';
    }

private:
    void escape(unsigned code);
    // The length of the valid UTF-8 sequence that starts text[i], or 0 when it is not one.
    static std::size_t utf8_length(std::string_view text, std::size_t i);

    std::string& out_;
    bool in_page_;
};

}  // namespace weldrix
