#include "app/json_writer.hpp"

#include "geometry/number_format.hpp"

namespace weldrix {

void json_writer::number(double v) {
    char text[number_text_max];
    char* const end = write_number(text, v);
    const bool word = text[0] == 'i' || text[0] == 'n' || (text[0] == '-' && text[1] == 'i');
    if (word) out_ += '"';
    out_.append(text, end);
    if (word) out_ += '"';
}

void json_writer::escape(unsigned code) {
    static const char digits[] = "0123456789abcdef";
    out_ += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4) out_ += digits[(code >> shift) & 0xf];
}

std::size_t json_writer::utf8_length(std::string_view text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned lead = byte(i);
    std::size_t length;
    unsigned low = 0x80, high = 0xbf;  // the range of the second byte
    if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3;
        if (lead == 0xe0) low = 0xa0;   // no overlong forms
        if (lead == 0xed) high = 0x9f;  // no surrogates
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4;
        if (lead == 0xf0) low = 0x90;
        if (lead == 0xf4) high = 0x8f;  // nothing above U+10FFFF
    } else {
        return 0;
    }
    if (i + length > text.size()) return 0;
    if (byte(i + 1) < low || byte(i + 1) > high) return 0;
    for (std::size_t k = 2; k < length; ++k) {
        if (byte(i + k) < 0x80 || byte(i + k) > 0xbf) return 0;
    }
    return length;
}

void json_writer::string(std::string_view text) {
    out_ += '"';
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            if (c == '"' || c == '\\') {
                out_ += '\\';
                out_ += static_cast<char>(c);
            } else if (c < 0x20) {
                escape(c);
            } else if (c == '<' && in_page_) {
                // No "<" at all in a page's script: "</script" would end it early, and
                // "<!--<script" would make the HTML parser take the page's own "</script>" as
                // part of the script.
                escape(c);
            } else {
                out_ += static_cast<char>(c);
            }
            ++i;
            continue;
        }
        const std::size_t length = utf8_length(text, i);
        if (length == 0) {
            escape(0xfffd);
            ++i;
        } else if (length == 3 && c == 0xe2 && text[i + 1] == '\x80' &&
                   (text[i + 2] == '\xa8' || text[i + 2] == '\xa9')) {
            // U+2028 and U+2029 are valid in JSON but ended a line in older JavaScript.
            escape(text[i + 2] == '\xa8' ? 0x2028 : 0x2029);
            i += length;
        } else {
            out_.append(text.substr(i, length));
            i += length;
        }
    }
    out_ += '"';
}

}  // namespace weldrix
