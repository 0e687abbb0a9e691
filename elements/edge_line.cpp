#include "elements/edge_line.hpp"

#include "elements/removed_line.hpp"

namespace weldrix {

bool edge_line::simplify(std::unique_ptr<ldraw_line>& replacement) const {
    if (!close(0, 1)) return false;
    replacement = std::make_unique<removed_line>();
    return true;
}

}  // namespace weldrix
