#include "elements/line_scan.hpp"

namespace weldrix {

line_start scan_line_start(std::string_view line) {
    const char* const end = line.data() + line.size();
    const char* p = skip_token(line.data(), end);
    const int_scan colour = scan_int(p, end);
    return {colour.status == scan_status::number ? colour.value : unreadable_colour, skip_token(p, end)};
}

}  // namespace weldrix
