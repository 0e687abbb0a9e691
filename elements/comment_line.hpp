// LDraw line type 0: comments and meta statements, kept so they are written back in place and so
// the expansion can see a BFC INVERTNEXT in front of a subfile reference.
#pragma once

#include <string>
#include <string_view>

#include "elements/ldraw_line.hpp"

namespace weldrix {

enum bfc_statement : int {
    bfc_none = 0,
    bfc_invertnext = 1,
    bfc_certify_ccw = 2,
    bfc_certify_cw = 3,
};

class comment_line final : public ldraw_line {
public:
    // The comment as read: what follows the line's "0" and the one separator after it.
    std::string text;

    explicit comment_line(std::string_view comment) : text(comment) {}

    std::string to_text() const override;  // "0 " + text
    void append_text(std::string& out) const override;
    line_type type_code() const override { return line_type::comment; }
    std::unique_ptr<ldraw_line> clone() const override { return std::make_unique<comment_line>(*this); }

    // Classifies the comment by substrings of its upper-cased text, not by words: "BFC" must occur;
    // then "INVERTNEXT" gives 1; else without "CERTIFY" 0; else "CCW" gives 2, "CW" 3, neither 2.
    int bfc_kind() const;
};

}  // namespace weldrix
