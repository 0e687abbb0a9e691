#include "elements/removed_line.hpp"

namespace weldrix {

line_type removed_line::type_code() const { return line_type::removed; }
std::unique_ptr<ldraw_line> removed_line::clone() const { return std::make_unique<removed_line>(*this); }

}  // namespace weldrix
