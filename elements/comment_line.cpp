#include "elements/comment_line.hpp"

namespace weldrix {

std::string comment_line::to_text() const {
    std::string out;
    out.reserve(text.size() + 2);
    append_text(out);
    return out;
}

void comment_line::append_text(std::string& out) const {
    out += "0 ";
    out += text;
}

int comment_line::bfc_kind() const {
    std::string upper = text;
    for (char& c : upper) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    const auto has = [&upper](std::string_view word) { return upper.find(word) != std::string::npos; };
    if (!has("BFC")) return bfc_none;
    if (has("INVERTNEXT")) return bfc_invertnext;
    if (!has("CERTIFY")) return bfc_none;
    if (has("CCW")) return bfc_certify_ccw;
    if (has("CW")) return bfc_certify_cw;
    return bfc_certify_ccw;
}

}  // namespace weldrix
