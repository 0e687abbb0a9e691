#include "elements/subfile_line.hpp"

#include <charconv>

#include "elements/line_scan.hpp"

namespace weldrix {

subfile_line::subfile_line(std::string_view line, number_notes* notes) {
    const line_start start = scan_line_start(line, notes);
    colour_value = start.colour;
    const char* const end = line.data() + line.size();
    const char* pos = start.rest;

    point rows[3];
    pos = position.parse(pos, end, notes);
    for (int r = 0; r < 3 && pos; ++r) pos = rows[r].parse(pos, end, notes);
    orientation = matrix(rows[0], rows[1], rows[2]);
    if (pos) file_name.assign(skip_space(pos, end), end);
}

std::string subfile_line::to_text() const {
    std::string out;
    out.reserve(40 + 12 * 12 + file_name.size());
    append_text(out);
    return out;
}

void subfile_line::append_text(std::string& out) const {
    out += "1 ";
    colour_value.append_text(out);
    out += ' ';
    position.append_text(out);
    out += ' ';
    orientation.append_text(out);
    out += ' ';
    out += file_name;
}

void subfile_line::transform(const matrix& m) {
    position = m.transform(position);
    orientation = m.multiply(orientation);
}

}  // namespace weldrix
