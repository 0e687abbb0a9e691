#include "geometry/point.hpp"

#include <cmath>

#include "geometry/number_format.hpp"
#include "geometry/number_parse.hpp"

namespace weldrix {

void point::translate(const point& offset) {
    x += offset.x;
    y += offset.y;
    z += offset.z;
}

const char* point::parse(const char* pos, const char* end, number_notes* notes) {
    double* const coordinates[3] = {&x, &y, &z};
    for (double* c : coordinates) {
        const double_scan s = scan_double(pos, end);
        const char* const token = notes ? skip_space(pos, end) : nullptr;
        // Step over the rest of the token that held the number ("1.5mm" counts as one token).
        // The number starts the token, so the scan goes on from its end.
        pos = s.next;
        while (pos != end && !is_space(*pos)) ++pos;
        if (notes) note_number(*notes, s.status, s.value, token, s.next, pos);
        if (s.status == scan_status::not_a_number) return nullptr;
        if (s.status == scan_status::number) *c = s.value;
    }
    return pos;
}

char* point::write_text(char* p) const {
    p = write_number(p, x);
    *p++ = ' ';
    p = write_number(p, y);
    *p++ = ' ';
    return write_number(p, z);
}

void point::append_text(std::string& out) const {
    char buf[text_max];
    out.append(buf, write_text(buf));
}

std::string point::to_text() const {
    std::string out;
    append_text(out);
    return out;
}

}  // namespace weldrix
