#include "elements/ldraw_line.hpp"

namespace weldrix {

std::string ldraw_line::to_text() const { return {}; }
void ldraw_line::append_text(std::string& out) const { out += to_text(); }
line_type ldraw_line::type_code() const { return line_type::none; }
collapse ldraw_line::simplify() const { return {}; }
void ldraw_line::collect_vertices(vertex_set&, bool) const {}
void ldraw_line::snap_vertices(const vertex_set&, snap_cache&) {}
void ldraw_line::translate(const point&) {}
void ldraw_line::transform(const matrix&) {}
void ldraw_line::invert() {}
void ldraw_line::set_colour(const line_colour&) {}
line_colour ldraw_line::colour() const { return line_colour(0); }
std::span<const point> ldraw_line::vertices() const { return {}; }
std::unique_ptr<ldraw_line> ldraw_line::clone() const { return std::make_unique<ldraw_line>(*this); }

}  // namespace weldrix
