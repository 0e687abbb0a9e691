#include "elements/removed_line.hpp"

namespace weldrix {

int removed_line::type_code() const { return 6; }
std::unique_ptr<ldraw_line> removed_line::clone() const { return std::make_unique<removed_line>(*this); }

}  // namespace weldrix
